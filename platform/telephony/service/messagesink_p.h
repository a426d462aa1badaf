#pragma once
// Line messages reach an application on the thread that registered it, when
// that thread processes its events: each message is a queued call on a
// MessageSink living in that thread.
#include <QObject>

#include <functional>

class MessageSink : public QObject {
    Q_OBJECT
public:
    // The sink of the calling thread, created on first use and kept for the
    // life of the process (a thread that ends takes its pending messages
    // with it).
    static MessageSink* ForCurrentThread();
    void Post(std::function<void()> delivery);
};
