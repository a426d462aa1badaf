#pragma once
// The lock of one wave direction. The wave thread holds it while it refills
// a buffer, and may then be inside a user handler that waits on the main
// thread (a synchronised call); a main thread that waits for the lock keeps
// serving such calls, or the two would wait for each other for ever.
#include "thread.h"

#include <chrono>
#include <mutex>

class TWaveDeviceLock {
public:
    explicit TWaveDeviceLock(std::recursive_timed_mutex& Mutex)
        : mutex_(Mutex)
    {
        if (!IsMainThread()) {
            mutex_.lock();
            return;
        }
        while (!mutex_.try_lock_for(std::chrono::milliseconds(2)))
            CheckSynchronize();
    }
    ~TWaveDeviceLock() { mutex_.unlock(); }
    TWaveDeviceLock(const TWaveDeviceLock&) = delete;
    TWaveDeviceLock& operator=(const TWaveDeviceLock&) = delete;

private:
    std::recursive_timed_mutex& mutex_;
};
