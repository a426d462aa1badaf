#pragma once
// Holds a wave direction's lock for a scope. The wave thread holds it while
// it refills a buffer, and may then be inside a user handler that waits on
// the main thread (a synchronised call); a main thread that waits for the
// lock keeps serving such calls, or the two would wait for each other for
// ever.
#include "thread.h"
#include "zqwavelock.h"

#include <chrono>

namespace zq::audio {

class TWaveDeviceLock {
public:
    explicit TWaveDeviceLock(WaveLock& Lock)
        : lock_(Lock)
    {
        if (!kernel::IsMainThread()) {
            lock_.lock();
            return;
        }
        while (!lock_.try_lock_for(std::chrono::milliseconds(2)))
            CheckSynchronize();
    }
    ~TWaveDeviceLock() { lock_.unlock(); }
    TWaveDeviceLock(const TWaveDeviceLock&) = delete;
    TWaveDeviceLock& operator=(const TWaveDeviceLock&) = delete;

private:
    WaveLock& lock_;
};

} // namespace zq::audio
