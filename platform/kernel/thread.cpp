#include "thread.h"

#include "messages.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

// One wake-up channel for everything a waiting main thread must react to:
// queued Synchronize calls and the end of a thread.
struct MainWake {
    std::mutex mutex;
    std::condition_variable cond;
    struct Request {
        std::function<void()> fn;
        std::exception_ptr error;
        bool done = false;
    };
    std::deque<std::shared_ptr<Request>> queue;
};

MainWake& Wake()
{
    static MainWake* w = new MainWake; // outlives static destructors
    return *w;
}

} // namespace

struct TThread::StartGate {
    std::mutex mutex;
    std::condition_variable cond;
    bool open = false;
    bool cancelled = false;
};

bool zq::kernel::HasApplicationObject()
{
    return QCoreApplication::instance() != nullptr;
}

bool zq::kernel::IsMainThread()
{
    if (auto* app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return syscall(SYS_gettid) == getpid();
}

void CheckSynchronize()
{
    if (!zq::kernel::IsMainThread())
        return;
    MainWake& w = Wake();
    for (;;) {
        std::shared_ptr<MainWake::Request> r;
        {
            std::lock_guard lock(w.mutex);
            if (w.queue.empty())
                return;
            r = w.queue.front();
            w.queue.pop_front();
        }
        try {
            r->fn();
        } catch (...) {
            r->error = std::current_exception();
        }
        {
            std::lock_guard lock(w.mutex);
            r->done = true;
        }
        w.cond.notify_all();
    }
}

void zq::kernel::ProcessMessages()
{
    CheckSynchronize();
    if (zq::kernel::HasApplicationObject())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    CheckSynchronize();
}

void TThread::Synchronize(const std::function<void()>& fn)
{
    if (zq::kernel::IsMainThread() || !zq::kernel::HasApplicationObject()) {
        fn();
        return;
    }
    MainWake& w = Wake();
    auto r = std::make_shared<MainWake::Request>();
    r->fn = fn;
    {
        std::lock_guard lock(w.mutex);
        w.queue.push_back(r);
        // The event loop serves the queue too, for a main thread that is
        // idle. Posted with the lock held: what Qt allocates for the wake-up
        // here is then ordered, for the race checker, before the main thread
        // takes the lock in CheckSynchronize (and before Qt frees it there);
        // the lambda is empty, so nothing of ours is read before that.
        if (auto* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
    }
    w.cond.notify_all();
    std::unique_lock lock(w.mutex);
    w.cond.wait(lock, [&] { return r->done; });
    if (r->error)
        std::rethrow_exception(r->error);
}

void zq::kernel::ThreadControl::WaitFor() const
{
    MainWake& w = Wake();
    const bool serve = zq::kernel::IsMainThread();
    std::unique_lock lock(w.mutex);
    for (;;) {
        if (ended_)
            return;
        if (serve && !w.queue.empty()) {
            lock.unlock();
            CheckSynchronize();
            lock.lock();
            continue;
        }
        w.cond.wait(lock);
    }
}

TThread::TThread(bool createSuspended)
    : control_(std::make_shared<zq::kernel::ThreadControl>())
    , gate_(std::make_shared<StartGate>())
{
    std::thread(&TThread::Run, this, control_).detach();
    // The thread waits at the gate until Start, so the derived part of the
    // object is complete before Execute runs.
    (void)createSuspended;
}

TThread::~TThread()
{
    // Deleted by its own thread (free-on-terminate): nothing left to do.
    if (control_->ThreadId() == GetCurrentThreadId())
        return;
    if (!started_) {
        std::lock_guard lock(gate_->mutex);
        gate_->cancelled = true;
        gate_->open = true;
        gate_->cond.notify_all();
    } else {
        Terminate();
    }
    control_->WaitFor();
}

void TThread::Start()
{
    if (started_.exchange(true))
        return;
    std::lock_guard lock(gate_->mutex);
    gate_->open = true;
    gate_->cond.notify_all();
}

DWORD TThread::WaitFor()
{
    control_->WaitFor();
    return ReturnValue;
}

void TThread::Run(TThread* self, std::shared_ptr<zq::kernel::ThreadControl> control)
{
    control->threadId_ = GetCurrentThreadId();
    auto gate = self->gate_;
    {
        std::unique_lock lock(gate->mutex);
        gate->cond.wait(lock, [&] { return gate->open; });
    }
    bool cancelled;
    {
        std::lock_guard lock(gate->mutex);
        cancelled = gate->cancelled;
    }
    if (!cancelled) {
        try {
            self->Execute();
        } catch (...) {
            // A thread body's exception ends the thread and is not reported.
        }
        self->finished_ = true;
        if (self->OnTerminate) {
            try {
                Synchronize(self->OnTerminate);
            } catch (...) {
            }
        }
        if (self->FreeOnTerminate)
            delete self;
    }
    MainWake& w = Wake();
    {
        std::lock_guard lock(w.mutex);
        control->ended_ = true;
    }
    w.cond.notify_all();
}
