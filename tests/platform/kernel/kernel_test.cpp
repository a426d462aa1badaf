#include "debugout.h"
#include "events.h"
#include "lasterror.h"
#include "messages.h"
#include "thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(Events, AutoResetReleasesOneWaitAndPulseIsLostWithoutWaiters)
{
    HANDLE e = CreateEvent(FALSE, FALSE);
    ASSERT_NE(e, 0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    SetEvent(e);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT); // reset by the wait
    PulseEvent(e);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_FALSE(CloseHandle(e));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Events, PulseReleasesAThreadBlockedOnTheEvent)
{
    HANDLE e = CreateEvent(FALSE, FALSE);
    auto object = zq::kernel::LookupKernelObjectAs<zq::kernel::EventObject>(e);
    std::atomic<bool> released { false };
    std::thread waiter([&] {
        object->Wait(INFINITE);
        released = true;
    });
    // Pulse until the waiter is in its wait: a pulse with nobody waiting is lost.
    while (!released) {
        PulseEvent(e);
        std::this_thread::yield();
    }
    waiter.join();
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

TEST(Messages, RegisteredIdentifiersAreStableAndInRange)
{
    UINT a = RegisterWindowMessage("zqTestMessageA");
    UINT b = RegisterWindowMessage("zqTestMessageB");
    EXPECT_GE(a, 0xC000u);
    EXPECT_LE(b, 0xFFFFu);
    EXPECT_NE(a, b);
    EXPECT_EQ(RegisterWindowMessage("zqTestMessageA"), a);
    EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

TEST(Messages, PostingNeedsTheQueueAndTheFilterSelects)
{
    std::atomic<DWORD> tid { 0 };
    std::atomic<bool> queueMade { false };
    std::atomic<bool> go { false };
    std::vector<UINT> got;
    std::thread t([&] {
        tid = GetCurrentThreadId();
        while (!go)
            std::this_thread::yield();
        MSG m;
        PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE); // creates the queue
        queueMade = true;
        while (GetMessage(&m, nullptr, 0xC000, 0xFFFF))
            got.push_back(m.message);
    });
    while (!tid)
        std::this_thread::yield();
    EXPECT_FALSE(PostThreadMessage(tid, 0xC100, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    go = true;
    while (!queueMade)
        std::this_thread::yield();
    EXPECT_TRUE(PostThreadMessage(tid, WM_USER, 0, 0)); // outside the filter: stays queued
    EXPECT_TRUE(PostThreadMessage(tid, 0xC101, 1, 2));
    EXPECT_TRUE(PostThreadMessage(tid, 0xC102, 0, 0));
    EXPECT_TRUE(PostThreadMessage(tid, WM_QUIT, 0, 0));
    t.join();
    EXPECT_EQ(got, (std::vector<UINT> { 0xC101, 0xC102 }));
    // The thread has ended: its queue went with it.
    EXPECT_FALSE(PostThreadMessage(tid, 0xC101, 0, 0));
}

TEST(Messages, WindowMessagesReachTheirProcedure)
{
    std::vector<UINT> seen;
    HWND w = zq::kernel::AllocateMessageWindow([&](HWND, UINT m, WPARAM, LPARAM) {
        seen.push_back(m);
        return 0;
    });
    EXPECT_TRUE(PostMessage(w, WM_USER + 1, 0, 0));
    MSG m;
    ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
    DispatchMessage(&m);
    EXPECT_EQ(seen, (std::vector<UINT> { WM_USER + 1 }));
    zq::kernel::DeallocateMessageWindow(w);
    EXPECT_FALSE(PostMessage(w, WM_USER, 0, 0));
}

TEST(Thread, SelfFreeingThreadCanBeWaitedForThroughItsControl)
{
    class Quick : public TThread {
    protected:
        void Execute() override { }
    };
    auto* t = new Quick;
    t->FreeOnTerminate = true;
    auto control = t->Control();
    t->Start();
    control->WaitFor();
    EXPECT_TRUE(control->Ended());
    control->WaitFor(); // again: returns at once
}

TEST(Thread, ANeverStartedThreadIsDestroyedCleanly)
{
    class Never : public TThread {
    public:
        bool ran = false;

    protected:
        void Execute() override { ran = true; }
    };
    auto* t = new Never;
    auto control = t->Control();
    delete t;
    EXPECT_TRUE(control->Ended());
}

TEST(DebugOutput, TheHookSeesEveryLine)
{
    std::vector<std::string> lines;
    auto old = zq::kernel::SetDebugOutputHook([&](const std::string& s) { lines.push_back(s); });
    OutputDebugString("BREAK ...");
    zq::kernel::SetDebugOutputHook(old);
    OutputDebugString("unseen");
    EXPECT_EQ(lines, (std::vector<std::string> { "BREAK ..." }));
}

TEST(LastError, TextsForKnownAndUnknownCodes)
{
    EXPECT_EQ(SysErrorMessage(ERROR_ACCESS_DENIED), "Access is denied.");
    EXPECT_EQ(SysErrorMessage(123456), "System error 123456.");
    EXPECT_EQ(zq::kernel::Win32ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
}
