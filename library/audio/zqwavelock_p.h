#pragma once
// Holds a wave direction's lock for a scope. The wave thread holds it while
// it refills a buffer, and may then be inside a user handler that waits on
// the main thread (a synchronised call); a main thread that waits for the
// lock keeps serving such calls, or the two would wait for each other for
// ever.
#include "thread.h"
#include "zqwavelock.h"

#include <chrono>

class TWaveDeviceLock {
public:
    explicit TWaveDeviceLock(zq::audio::WaveLock& Lock)
        : lock_(Lock)
    {
        if (!IsMainThread()) {
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
    zq::audio::WaveLock& lock_;
};
