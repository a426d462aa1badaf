#include "zqwavthread.h"

#include "messages.h"

void zq::audio::TWavLink::SetCallback(const TWaveHeaderEvent& Callback)
{
    std::lock_guard lock(mutex_);
    callback_ = Callback;
}

void zq::audio::TWavLink::Call(WAVEHDR* Header)
{
    zq::audio::TWaveHeaderEvent callback;
    {
        std::lock_guard lock(mutex_);
        callback = callback_;
    }
    // Called outside the lock: the component clears the callback from other
    // threads while a buffer is being refilled.
    if (callback)
        callback(Header);
}

void zq::audio::TWavLink::WakeAndTerminate()
{
    control_->Terminate();
    PostThreadMessage(control_->ThreadId(), MM_WOM_CLOSE, 0, 0);
}

void zq::audio::TWavLink::WaitFor()
{
    if (control_->Ended() || notifying_ || GetCurrentThreadId() == control_->ThreadId())
        return;
    control_->WaitFor();
}

void zq::audio::TWavLink::SignalQueueReady()
{
    {
        std::lock_guard lock(mutex_);
        queueReady_ = true;
    }
    queueCond_.notify_all();
}

void zq::audio::TWavLink::WaitQueueReady()
{
    std::unique_lock lock(mutex_);
    queueCond_.wait(lock, [this] { return queueReady_; });
}

TWavThread::TWavThread(const zq::audio::TWaveHeaderEvent& Callback, std::function<void()> OnDone)
    : TThread(true)
    , link_(new zq::audio::TWavLink(Control()))
{
    link_->SetCallback(Callback);
    FreeOnTerminate = true;
    if (OnDone) {
        // Only the link is used once the notification has run: the component
        // may be gone by then (destroyed from its own after-event).
        OnTerminate = [link = link_, done = std::move(OnDone)] {
            link->notifying_ = true;
            try {
                done();
            } catch (...) {
                link->notifying_ = false;
                throw;
            }
            link->notifying_ = false;
        };
    }
}

std::shared_ptr<zq::audio::TWavLink> TWavThread::StartWithQueue()
{
    auto link = link_;
    Start();
    link->WaitQueueReady();
    return link;
}

void TWavThread::Execute()
{
    MSG msg;
    PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
    link_->SignalQueueReady();
    while (!Terminated()) {
        if (!GetMessage(&msg, nullptr, 0, 0))
            break;
        Param = msg.lParam;
        switch (msg.message) {
        case MM_WOM_CLOSE:
        case MM_WIM_CLOSE:
            return;
        case MM_WOM_DONE:
        case MM_WIM_DATA:
            link_->Call(reinterpret_cast<WAVEHDR*>(Param));
            break;
        default:
            break;
        }
    }
}
