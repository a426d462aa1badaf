#pragma once
// The thread that runs sofia-sip's event loop. Every call into the SIP stack
// (nua_*, su_*) is made on it: other threads hand it work with Post, or with
// Call when they may wait (never while holding ServiceLock, as the stack
// thread takes it to report what the stack says).
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct su_root_s;

namespace zq::sip {

class SipStack {
public:
    SipStack() = default;
    ~SipStack();
    SipStack(const SipStack&) = delete;
    SipStack& operator=(const SipStack&) = delete;

    // Starts the thread and its event loop; false with *error set if not.
    bool Start(std::string* error);
    // Runs fn on the stack thread soon. Dropped once the stack has stopped.
    void Post(std::function<void()> fn);
    // Runs fn on the stack thread and waits for it (from any other thread).
    void Call(const std::function<void()>& fn);
    // Ends the loop after the work already posted and joins the thread.
    void Stop();
    bool OnStackThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    su_root_s* Root() const { return root_; }

private:
    void Run(std::string* error, bool* ready);
    void Drain();

    std::thread thread_;
    su_root_s* root_ = nullptr; // stack thread only, once started
    int wake_ = -1; // eventfd the loop watches for posted work
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> work_;
    bool stopping_ = false;
    bool stopped_ = true;
};

} // namespace zq::sip
