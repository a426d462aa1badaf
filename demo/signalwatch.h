#pragma once
// Turns SIGINT and SIGTERM into a call on the main thread, so a run can end
// its call and keep its recording instead of dying with them. The handler
// only writes the signal's number into a pipe (all it may safely do); a
// socket notifier reads it in the event loop.
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace zq::demo {

class SignalWatch : public QObject {
public:
    // Installs the handlers; one watch at a time. Main thread only.
    explicit SignalWatch(std::function<void(int signalNumber)> onSignal);
    // Puts the default handlers back.
    ~SignalWatch() override;

    // A signal that arrived and has not been delivered yet (0: none).
    int Pending() const { return pending_; }

private:
    void Read();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    int pending_ = 0;
};

} // namespace zq::demo
