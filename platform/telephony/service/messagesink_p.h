#pragma once
// Line messages reach an application on the thread that registered it, when
// that thread processes its events. Each message waits in the sink of that
// thread, in a queue of our own under our own lock; a queued Qt call per
// message only wakes the thread to deliver the oldest one. The values of a
// message therefore pass between threads through a lock the race checker
// sees (Qt's event queue locks are inside Qt and invisible to it).
//
// Threads: Post from any thread; delivery on the sink's thread only.
#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace zq::telephony {

class MessageSink : public QObject {
    Q_OBJECT
public:
    // The sink of the calling thread, created on first use. The object is
    // kept for the life of the process, so a late wake-up always finds it;
    // once its thread has ended it drops what is pending and takes no more.
    static MessageSink* ForCurrentThread();
    // Queues delivery to run on the sink's thread, after everything posted
    // before it.
    void Post(std::function<void()> delivery);
    // The sink's thread is ending: drops what is pending, takes no more.
    void Retire();

private:
    MessageSink() = default;
    // On the sink's thread: runs the oldest pending delivery, if any.
    static void DeliverNextOfThisThread();
    void DeliverNext();

    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
    bool retired_ = false;
};

} // namespace zq::telephony
