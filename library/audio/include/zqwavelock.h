#pragma once
// The lock of one wave direction, as a member of the wave component.
//
// One holder at a time; the holder may take it again (each take needs its
// own release), and others wait for it with or without a time limit. The
// holder's takes are counted under a plain mutex, so a release is defined on
// any thread, and every hand-over is one a race detector sees: the standard
// timed mutexes wait in a call (pthread_mutex_clocklock) that ThreadSanitizer
// does not follow, so it took every timed take for none and reported the
// release as an unlock of an unlocked mutex.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zq::audio {

class WaveLock {
public:
    WaveLock() = default;
    WaveLock(const WaveLock&) = delete;
    WaveLock& operator=(const WaveLock&) = delete;

    void lock()
    {
        std::unique_lock guard(mutex_);
        free_.wait(guard, [&] { return TakeLocked(); });
    }

    bool try_lock()
    {
        std::lock_guard guard(mutex_);
        return TakeLocked();
    }

    template <class Rep, class Period> bool try_lock_for(const std::chrono::duration<Rep, Period>& Timeout)
    {
        return try_lock_until(std::chrono::steady_clock::now() + Timeout);
    }

    bool try_lock_until(std::chrono::steady_clock::time_point Deadline)
    {
        std::unique_lock guard(mutex_);
        return free_.wait_until(guard, Deadline, [&] { return TakeLocked(); });
    }

    // Gives back one take of the holder. When the lock is not held at all
    // this does nothing, so a release can never make it free for two.
    void unlock()
    {
        {
            std::lock_guard guard(mutex_);
            if (depth_ == 0)
                return;
            if (--depth_ != 0)
                return;
            owner_ = {};
        }
        free_.notify_one();
    }

    bool HeldByCurrentThread() const
    {
        std::lock_guard guard(mutex_);
        return depth_ != 0 && owner_ == std::this_thread::get_id();
    }

private:
    bool TakeLocked()
    {
        const std::thread::id self = std::this_thread::get_id();
        if (depth_ != 0 && owner_ != self)
            return false;
        owner_ = self;
        ++depth_;
        return true;
    }

    mutable std::mutex mutex_;
    std::condition_variable free_;
    std::thread::id owner_;
    unsigned depth_ = 0;
};

} // namespace zq::audio
