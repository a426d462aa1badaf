#include "sipstack_p.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <sofia-sip/su.h>
#include <sofia-sip/su_wait.h>

#include <cstring>

namespace zq::sip {

SipStack::~SipStack()
{
    Stop();
}

bool SipStack::Start(std::string* error)
{
    if (thread_.joinable())
        return true;
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        *error = std::string("cannot start the SIP stack: ") + std::strerror(errno);
        return false;
    }
    bool ready = false;
    std::string startError;
    {
        std::unique_lock lock(mutex_);
        stopping_ = false;
        stopped_ = false;
        thread_ = std::thread([this, &startError, &ready] { Run(&startError, &ready); });
        cv_.wait(lock, [&] { return ready; });
    }
    if (!startError.empty()) {
        thread_.join();
        *error = startError;
        return false;
    }
    return true;
}

void SipStack::Run(std::string* error, bool* ready)
{
    su_init();
    su_root_t* root = su_root_create(nullptr);
    su_wait_t wait;
    int index = -1;
    bool ok = root && su_wait_create(&wait, wake_, SU_WAIT_IN) == 0
        && (index = su_root_register(
                root, &wait,
                [](su_root_magic_t*, su_wait_t*, su_wakeup_arg_t* self) -> int {
                    static_cast<SipStack*>(self)->Drain();
                    return 0;
                },
                this, 0))
            >= 0;
    {
        std::lock_guard lock(mutex_);
        if (!ok) {
            *error = "cannot start the SIP stack's event loop";
            stopped_ = true;
        }
        root_ = root;
        *ready = true;
    }
    cv_.notify_all();
    if (ok)
        su_root_run(root);
    if (root) {
        if (index >= 0)
            su_root_deregister(root, index);
        su_root_destroy(root);
    }
    su_deinit();
}

void SipStack::Drain()
{
    uint64_t n;
    (void)!read(wake_, &n, sizeof n);
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mutex_);
            if (work_.empty()) {
                if (stopping_)
                    su_root_break(root_);
                return;
            }
            fn = std::move(work_.front());
            work_.pop_front();
        }
        fn();
    }
}

void SipStack::Post(std::function<void()> fn)
{
    {
        std::lock_guard lock(mutex_);
        if (stopped_ || stopping_)
            return;
        work_.push_back(std::move(fn));
    }
    const uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
}

void SipStack::Call(const std::function<void()>& fn)
{
    if (OnStackThread()) {
        fn();
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool posted = false;
    {
        std::lock_guard lock(mutex_);
        if (!stopped_ && !stopping_) {
            posted = true;
            work_.push_back([&] {
                fn();
                std::lock_guard l(m);
                done = true;
                cv.notify_all();
            });
        }
    }
    if (!posted)
        return;
    const uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
}

void SipStack::Stop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
    thread_.join();
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        work_.clear();
    }
    close(wake_);
    wake_ = -1;
}

} // namespace zq::sip
