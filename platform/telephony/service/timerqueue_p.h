#pragma once
// The service's timer thread: runs functions at their deadlines under the
// service lock. Started with the service, stopped (and joined) without the
// lock held, since a due function may be waiting for it.
#include "provider.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>

namespace zq::telephony {

class TimerQueue {
public:
    ~TimerQueue();
    void Start();
    // Drops what is pending and ends the thread; Start runs it again. Call
    // without holding the service lock.
    void Stop();
    TimerId Add(DWORD delayMs, std::function<void()> fn);
    void Cancel(TimerId id);

private:
    using Clock = std::chrono::steady_clock;
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    // Keyed by (deadline, id): equal deadlines keep their order.
    std::map<std::pair<Clock::time_point, TimerId>, std::function<void()>> due_;
    std::map<TimerId, Clock::time_point> index_;
    TimerId next_ = 1;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace zq::telephony
