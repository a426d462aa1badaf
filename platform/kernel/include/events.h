#pragma once
// Event objects with the Windows semantics: manual or auto reset, and
// PulseEvent, which releases waiters present at that moment and leaves the
// event non-signalled.
#include "handles.h"
#include "zqkernel_export.h"

#include <condition_variable>
#include <mutex>

namespace zq::kernel {

class ZQKERNEL_EXPORT EventObject : public KernelObject {
public:
    EventObject(bool manualReset, bool initialState);
    void Set();
    void Reset();
    void Pulse();
    DWORD Wait(DWORD timeoutMs) override;
    void OnClose() override;

private:
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    const bool manualReset_;
    bool signalled_;
    // Pulses are counted so that a waiter knows it was released by one even
    // when the state is back to non-signalled when it wakes.
    uint64_t pulses_ = 0;
    int waiters_ = 0;
    int pulsePending_ = 0;
};

} // namespace zq::kernel

// The security attributes and the name of the Windows call have no meaning
// here and are left out; only unnamed events exist.
ZQKERNEL_EXPORT HANDLE CreateEvent(BOOL manualReset, BOOL initialState);
ZQKERNEL_EXPORT BOOL SetEvent(HANDLE h);
ZQKERNEL_EXPORT BOOL ResetEvent(HANDLE h);
ZQKERNEL_EXPORT BOOL PulseEvent(HANDLE h);
