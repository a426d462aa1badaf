#include "messagesink_p.h"

#include <vector>

namespace zq::telephony {

namespace {

std::mutex sinksMutex;
// Kept reachable: sinks are never deleted, a late wake-up must find its
// object alive.
std::vector<MessageSink*>& Sinks()
{
    static auto* sinks = new std::vector<MessageSink*>;
    return *sinks;
}

// The calling thread's sink; retires it when the thread ends (before Qt
// drops the thread's own event queue).
struct ThreadSink {
    MessageSink* sink = nullptr;
    ~ThreadSink();
};
thread_local ThreadSink threadSink;

} // namespace

ThreadSink::~ThreadSink()
{
    if (sink)
        sink->Retire();
}

MessageSink* MessageSink::ForCurrentThread()
{
    if (!threadSink.sink) {
        threadSink.sink = new MessageSink;
        std::lock_guard lock(sinksMutex);
        Sinks().push_back(threadSink.sink);
    }
    return threadSink.sink;
}

void MessageSink::Post(std::function<void()> delivery)
{
    std::lock_guard lock(mutex_);
    if (retired_)
        return;
    pending_.push_back(std::move(delivery));
    // One wake-up per message, posted with the lock held: what Qt allocates
    // for it on this thread is then ordered, for the race checker, before
    // the sink's thread takes the lock to deliver (and before Qt frees it
    // there). The wake-up carries nothing: it finds the sink through its
    // thread (an empty lambda: Qt reads nothing of ours before the lock), so
    // one that arrives late is harmless.
    QMetaObject::invokeMethod(
        this, [] { DeliverNextOfThisThread(); }, Qt::QueuedConnection);
}

void MessageSink::DeliverNextOfThisThread()
{
    if (threadSink.sink)
        threadSink.sink->DeliverNext();
}

void MessageSink::DeliverNext()
{
    std::function<void()> next;
    {
        std::lock_guard lock(mutex_);
        if (pending_.empty())
            return;
        next = std::move(pending_.front());
        pending_.pop_front();
    }
    next();
}

void MessageSink::Retire()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        retired_ = true;
        dropped.swap(pending_);
    }
}

} // namespace zq::telephony
