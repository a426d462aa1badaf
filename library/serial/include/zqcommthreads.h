#pragma once
// The two threads of an open serial component: the event thread waits for
// port events and posts each mask to the message thread, which has the
// component handle it on the main thread, one at a time, in port order.
#include "thread.h"
#include "win32types.h"
#include "zqcomm_export.h"

#include <atomic>
#include <memory>
#include <mutex>

class TzqCustomComm;
class TCommThread;
class TMsgThread;

// The registered messages; identified when the unit is loaded.
extern ZQCOMM_EXPORT const UINT ComEventMsg;
extern ZQCOMM_EXPORT const UINT QuitComEventMsg;

namespace zq::serial {

// What a component and the two threads of one open share. The threads free
// themselves and the component does not wait for them, so each side reaches
// the other only through here: Comm is cleared by the component's
// StopThread, a thread clears its own entry as it ends. Whoever holds Lock
// may call into what it finds. Lock is the component's port lock, the same
// for every open, so that closing the port (on the main thread, or on the
// event thread after a failed wait) is one step however the two meet.
//
// Comm set means the component is open and active: it clears it before its
// handle goes and before its destructor changes anything. The threads ask
// the link, never the component's own state, which the main thread changes
// without the lock (and whose class changes under a destructor).
struct TCommLink {
    explicit TCommLink(std::shared_ptr<std::recursive_mutex> APortLock)
        : PortLock(std::move(APortLock))
        , Lock(*PortLock)
    {
    }
    std::shared_ptr<std::recursive_mutex> PortLock;
    std::recursive_mutex& Lock;
    TzqCustomComm* Comm = nullptr;
    TCommThread* CommThread = nullptr;
    TMsgThread* MsgThread = nullptr;
    DWORD MsgThreadId = 0; // 0 until the message thread has its queue
};

} // namespace zq::serial

class ZQCOMM_EXPORT TCommThread : public TThread {
public:
    TCommThread(TzqCustomComm* AComm, std::shared_ptr<zq::serial::TCommLink> ALink);
    void StopThread();

    TzqCustomComm* Comm;
    HANDLE PortHandle;
    OVERLAPPED WaitBlock; // request block of the pending event wait
    std::atomic<HANDLE> WaitEvent { 0 };
    // Filled in by the pending wait: lives as long as the wait block.
    DWORD Mask = 0;

protected:
    void Execute() override;

private:
    void Forward(DWORD Mask);
    bool CommActive();
    void End();
    std::shared_ptr<zq::serial::TCommLink> link_;
};

class ZQCOMM_EXPORT TMsgThread : public TThread {
public:
    TMsgThread(TzqCustomComm* AComm, std::shared_ptr<zq::serial::TCommLink> ALink);
    void StopThread();

    TzqCustomComm* Comm;
    MSG Msg;

protected:
    void Execute() override;

private:
    std::shared_ptr<zq::serial::TCommLink> link_;
};
