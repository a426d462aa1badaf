#pragma once
// The worker of one wave direction: it owns the message queue the device
// posts its completion messages to, hands every completed header to the
// component's callback, and ends when the device reports it closed.
//
// A wave thread always frees itself when it ends. The component keeps only
// the thread's link (TWavLink), which outlives the thread object, so a thread
// that ended on its own is never touched afterwards: stopping, waiting and
// clearing the callback all go through the link.
#include "mmsystem.h"
#include "thread.h"
#include "zqevent.h"
#include "zqwavebase_export.h"

#include <condition_variable>
#include <memory>
#include <mutex>

class TWavThread;

namespace zq::audio {

// (Header) — a completed header, as the device returned it.
using TWaveHeaderEvent = TEvent<WAVEHDR*>;

class ZQWAVEBASE_EXPORT TWavLink {
public:
    void SetCallback(const TWaveHeaderEvent& Callback);
    void ClearCallback() { SetCallback(nullptr); }
    // Runs the callback as it stands now; nothing when it is cleared.
    void Call(WAVEHDR* Header);

    // Marks the thread terminated and wakes it with MM_WOM_CLOSE, so a thread
    // waiting for a message ends.
    void WakeAndTerminate();
    // Waits for the end of the thread. The main thread keeps serving the
    // synchronised calls meanwhile (the after-events). Returns at once when
    // the wait could never end: on the thread itself, or from inside the
    // thread's own termination notification, which the thread is waiting on.
    void WaitFor();
    bool Ended() const { return control_->Ended(); }
    DWORD ThreadId() const { return control_->ThreadId(); }
    bool Notifying() const { return notifying_; }

private:
    friend class ::TWavThread;
    explicit TWavLink(std::shared_ptr<zq::kernel::ThreadControl> Control)
        : control_(std::move(Control))
    {
    }
    void SignalQueueReady();
    void WaitQueueReady();

    std::shared_ptr<zq::kernel::ThreadControl> control_;
    std::mutex mutex_;
    std::condition_variable queueCond_;
    bool queueReady_ = false;
    TWaveHeaderEvent callback_;
    std::atomic<bool> notifying_ { false };
};

} // namespace zq::audio

class ZQWAVEBASE_EXPORT TWavThread : public TThread {
public:
    // Created suspended and self-freeing; OnDone runs on the main thread
    // when the thread has ended (the component's after-event).
    TWavThread(const zq::audio::TWaveHeaderEvent& Callback, std::function<void()> OnDone);

    // Starts the thread and returns once it owns its message queue, so the
    // device may be opened with the thread as its callback. The returned
    // link is all that may be used of the thread from then on.
    std::shared_ptr<zq::audio::TWavLink> StartWithQueue();

    // The parameter of the last device message (a header address).
    LPARAM Param = 0;

protected:
    void Execute() override;

private:
    std::shared_ptr<zq::audio::TWavLink> link_;
};
