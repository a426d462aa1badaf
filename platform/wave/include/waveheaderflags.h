#pragma once
// A queued header's flags change on the device's worker thread. A program
// that polls for WHDR_DONE instead of waiting for the completion message
// reads them through HeaderFlags: the read pairs with the worker's marking,
// so what the device wrote into the header before it (the recorded bytes
// and their count) is seen complete.
#include "mmsystem.h"

#include <atomic>

namespace zq::wave {

inline DWORD HeaderFlags(const WAVEHDR& Header)
{
    // Only read: atomic_ref takes no const object.
    return std::atomic_ref<DWORD>(const_cast<DWORD&>(Header.dwFlags)).load(std::memory_order_acquire);
}

// The worker's side: the header is the program's again once this is seen.
inline void MarkHeaderDone(WAVEHDR& Header)
{
    std::atomic_ref<DWORD> flags(Header.dwFlags);
    flags.store(
        (flags.load(std::memory_order_relaxed) & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
}

} // namespace zq::wave
