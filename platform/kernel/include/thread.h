#pragma once
// The host's thread class: a termination flag, free-on-terminate, a wait for
// the end, and run-on-main-thread-and-wait (Synchronize).
//
// The main thread is the thread of the Qt application object. Synchronize
// queues the call for it and blocks; the main thread serves such calls from
// its event loop, from ProcessMessages, and while it waits for a thread in
// WaitFor, so a thread may synchronise while the main thread waits for it.
#include "win32types.h"
#include "zqkernel_export.h"

#include <atomic>
#include <functional>
#include <memory>

// What outlives a thread object: its termination flag and its end. A
// self-freeing thread can be asked to stop and waited for through this.
class TThread;

namespace zq::kernel {

class ZQKERNEL_EXPORT ThreadControl {
public:
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    bool Ended() const { return ended_; }
    // Returns when the thread has ended (at once when it already has).
    void WaitFor() const;
    DWORD ThreadId() const { return threadId_; }

private:
    friend class ::TThread;
    std::atomic<bool> terminated_ { false };
    std::atomic<bool> ended_ { false };
    std::atomic<DWORD> threadId_ { 0 };
};

} // namespace zq::kernel

class ZQKERNEL_EXPORT TThread {
public:
    // The thread runs once Start is called. A class whose threads run at once
    // calls Start at the end of its own constructor, when the object is
    // complete (a C++ base cannot start a body its derived part still builds).
    explicit TThread(bool createSuspended = true);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts a thread created suspended; does nothing once started.
    void Start();
    void Terminate() { control_->Terminate(); }
    bool Terminated() const { return control_->Terminated(); }
    bool Finished() const { return finished_; }
    DWORD WaitFor();
    DWORD ThreadID() const { return control_->ThreadId(); }

    // Set before the thread ends: it then deletes itself after Execute and
    // OnTerminate have run. The object must not be touched afterwards; use
    // Control() to stop or wait for such a thread.
    std::atomic<bool> FreeOnTerminate { false };
    // Runs on the main thread (through Synchronize) after Execute returns.
    std::function<void()> OnTerminate;
    DWORD ReturnValue = 0;

    std::shared_ptr<zq::kernel::ThreadControl> Control() const { return control_; }

    // Runs fn on the main thread and waits for it. On the main thread, and in
    // a program without an application object, fn runs at once on the
    // calling thread. An exception thrown by fn is raised again here.
    static void Synchronize(const std::function<void()>& fn);

protected:
    virtual void Execute() = 0;

private:
    static void Run(TThread* self, std::shared_ptr<zq::kernel::ThreadControl> control);
    std::shared_ptr<zq::kernel::ThreadControl> control_;
    std::atomic<bool> finished_ { false };
    std::atomic<bool> started_ { false };
    struct StartGate;
    std::shared_ptr<StartGate> gate_;
};

// Runs the Synchronize calls queued for the main thread; main thread only.
ZQKERNEL_EXPORT void CheckSynchronize();

namespace zq::kernel {

// True on the thread of the application object (or, without one, the
// process's initial thread).
ZQKERNEL_EXPORT bool IsMainThread();
// True when a Qt application object exists.
ZQKERNEL_EXPORT bool HasApplicationObject();
// "Process pending messages": serves queued main-thread work and events.
ZQKERNEL_EXPORT void ProcessMessages();

} // namespace zq::kernel
