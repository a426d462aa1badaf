#include "messagesink_p.h"

#include <QThread>

#include <mutex>
#include <vector>

namespace {
std::mutex sinksMutex;
// Kept reachable: sinks are never deleted, a late queued call must find its
// object alive.
std::vector<MessageSink*>& Sinks()
{
    static auto* sinks = new std::vector<MessageSink*>;
    return *sinks;
}
} // namespace

MessageSink* MessageSink::ForCurrentThread()
{
    thread_local MessageSink* sink = nullptr;
    if (!sink) {
        sink = new MessageSink;
        std::lock_guard lock(sinksMutex);
        Sinks().push_back(sink);
    }
    return sink;
}

void MessageSink::Post(std::function<void()> delivery)
{
    QMetaObject::invokeMethod(this, std::move(delivery), Qt::QueuedConnection);
}
