#include "zqcommthreads.h"

#include "commapi.h"
#include "debugout.h"
#include "events.h"
#include "lasterror.h"
#include "messages.h"
#include "zqcomm.h"

const UINT ComEventMsg = RegisterWindowMessage("zqCommMsgComEvent");
const UINT QuitComEventMsg = RegisterWindowMessage("zqCommMsgQuitComEvent");

namespace {
constexpr UINT kFirstRegistered = 0xC000;
constexpr UINT kLastRegistered = 0xFFFF;
} // namespace

// ---- event thread -----------------------------------------------------------

TCommThread::TCommThread(TzqCustomComm* AComm, std::shared_ptr<zq::serial::TCommLink> ALink)
    : Comm(AComm)
    , PortHandle(AComm->Handle)
    , link_(std::move(ALink))
{
    FreeOnTerminate = true;
    {
        std::lock_guard lock(link_->Lock);
        link_->CommThread = this;
    }
    Start();
}

void TCommThread::StopThread()
{
    Terminate();
    // Set, not pulsed: a pulse also clears a completion the port has just
    // signalled before the thread reached its wait, which then never ends.
    // A set event is taken by the next wait, or reset by the next request.
    if (HANDLE event = WaitEvent)
        SetEvent(event);
}

bool TCommThread::CommActive()
{
    std::lock_guard lock(link_->Lock);
    return link_->Comm != nullptr;
}

void TCommThread::Forward(DWORD Mask)
{
    for (;;) {
        {
            std::lock_guard lock(link_->Lock);
            // The message thread is alive while its entry is set: a post
            // never goes to a thread that has ended.
            if (Terminated() || !link_->Comm || !link_->MsgThread)
                return;
            if (link_->MsgThreadId && PostThreadMessage(link_->MsgThreadId, ComEventMsg, Mask, 0))
                return;
        }
        Sleep(1); // the message thread has no queue yet
    }
}

void TCommThread::Execute()
{
    WaitEvent = CreateEvent(FALSE, FALSE);
    WaitBlock.hEvent = WaitEvent;
    if (PortHandle != INVALID_HANDLE_VALUE) {
        do {
            WaitBlock.Internal = WaitBlock.InternalHigh = WaitBlock.Offset = WaitBlock.OffsetHigh = 0;
            Mask = 0;
            if (!WaitCommEvent(PortHandle, &Mask, &WaitBlock)) {
                const DWORD Error = GetLastError();
                if (Error == ERROR_IO_PENDING) {
                    const DWORD Woken = WaitForSingleObject(WaitEvent, INFINITE);
                    if (Terminated()) {
                        OutputDebugString("BREAK ...");
                        break;
                    }
                    if (Woken != WAIT_OBJECT_0)
                        Mask = 0;
                } else if (Error == ERROR_INVALID_PARAMETER && Mask == 0) {
                    // The mask was being reprogrammed: wait again.
                } else if (Terminated()) {
                    // Stopped after its last check and before this wait, the
                    // port already closed by the owner: that is the close,
                    // not a failed wait.
                    break;
                } else {
                    OutputDebugString("111 ...");
                    if (Error != ERROR_INVALID_HANDLE) {
                        std::lock_guard lock(link_->Lock);
                        try {
                            if (link_->Comm)
                                link_->Comm->ClosePort(false);
                        } catch (...) {
                            // A failing close handler must not keep this
                            // thread's entry in the link past its end.
                        }
                    }
                    break;
                }
            }
            if (Mask != 0)
                Forward(Mask);
        } while (!Terminated() && CommActive());
    }
    End();
}

void TCommThread::End()
{
    // The wait block lives in this object: a wait still pending on the port
    // is cancelled before the object goes.
    if (PortHandle != INVALID_HANDLE_VALUE)
        CancelIo(PortHandle);
    {
        std::lock_guard lock(link_->Lock);
        link_->CommThread = nullptr;
    }
    HANDLE event = WaitEvent.exchange(0);
    CloseHandle(event);
}

// ---- message thread ---------------------------------------------------------

TMsgThread::TMsgThread(TzqCustomComm* AComm, std::shared_ptr<zq::serial::TCommLink> ALink)
    : Comm(AComm)
    , link_(std::move(ALink))
{
    FreeOnTerminate = true;
    {
        std::lock_guard lock(link_->Lock);
        link_->MsgThread = this;
    }
    Start();
}

void TMsgThread::StopThread()
{
    Terminate();
    // Fails while the thread has no queue yet; it then sees Terminated
    // before its first wait, since it makes its queue before looking.
    PostThreadMessage(ThreadID(), QuitComEventMsg, 0, 0);
}

void TMsgThread::Execute()
{
    if (Comm) {
        MSG probe;
        PeekMessage(&probe, nullptr, 0, 0, PM_NOREMOVE); // makes the queue
        {
            std::lock_guard lock(link_->Lock);
            link_->MsgThreadId = GetCurrentThreadId();
        }
        while (!Terminated()) {
            if (!GetMessage(&Msg, nullptr, kFirstRegistered, kLastRegistered) || Terminated())
                break;
            {
                std::lock_guard lock(link_->Lock);
                if (!link_->Comm)
                    break;
            }
            if (Msg.message == QuitComEventMsg)
                break;
            if (Msg.hwnd || Msg.message != ComEventMsg) {
                DispatchMessage(&Msg);
                continue;
            }
            // The component is looked up again where the event is handled:
            // after its StopThread it is no longer called.
            auto link = link_;
            const MSG event = Msg;
            auto handle = [link, event] {
                std::lock_guard lock(link->Lock);
                if (link->Comm)
                    link->Comm->HandleComEvent(event);
            };
            // The component reports what fails in its handlers; what
            // escapes that report (a fatal-error handler that throws) ends
            // the event, not the thread.
            try {
                if (zq::kernel::HasApplicationObject())
                    TThread::Synchronize(handle);
                else
                    handle();
            } catch (...) {
            }
        }
    }
    std::lock_guard lock(link_->Lock);
    link_->MsgThread = nullptr;
}
