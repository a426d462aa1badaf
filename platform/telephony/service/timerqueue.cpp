#include "timerqueue_p.h"

namespace zq::telephony {

TimerQueue::~TimerQueue()
{
    Stop();
}

void TimerQueue::Start()
{
    std::lock_guard lock(mutex_);
    if (thread_.joinable())
        return;
    stop_ = false;
    thread_ = std::thread(&TimerQueue::Run, this);
}

void TimerQueue::Stop()
{
    decltype(due_) dropped;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        dropped.swap(due_);
        index_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    // The dropped functions go here, without our lock: what they hold may be
    // a provider's object whose end cancels a timer.
}

TimerId TimerQueue::Add(DWORD delayMs, std::function<void()> fn)
{
    std::lock_guard lock(mutex_);
    const TimerId id = next_++;
    const auto at = Clock::now() + std::chrono::milliseconds(delayMs);
    due_.emplace(std::make_pair(at, id), std::move(fn));
    index_.emplace(id, at);
    wake_.notify_all();
    return id;
}

void TimerQueue::Cancel(TimerId id)
{
    std::lock_guard lock(mutex_);
    auto it = index_.find(id);
    if (it == index_.end())
        return;
    due_.erase(std::make_pair(it->second, id));
    index_.erase(it);
}

void TimerQueue::Run()
{
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (due_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto first = due_.begin();
        // A copy: the entry may be cancelled while we wait.
        const Clock::time_point at = first->first.first;
        if (at > Clock::now()) {
            wake_.wait_until(lock, at);
            continue;
        }
        const TimerId id = first->first.second;
        lock.unlock();
        // The service lock first, then our own: a Cancel made under the
        // service lock while we waited for it has removed the entry.
        std::lock_guard service(ServiceLock());
        lock.lock();
        auto it = index_.find(id);
        if (it == index_.end())
            continue;
        auto node = due_.extract(std::make_pair(it->second, id));
        index_.erase(it);
        lock.unlock();
        node.mapped()();
        lock.lock();
    }
}

} // namespace zq::telephony
