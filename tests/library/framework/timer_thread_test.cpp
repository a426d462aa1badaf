#include "eventwait.h"
#include "testio.h"

#include <gtest/gtest.h>

#include "messages.h"

#include <atomic>

namespace {

struct Ticks {
    int count = 0;
    bool throwing = false;
    void OnTimer(TObject*)
    {
        ++count;
        if (throwing)
            throw Exception("handler failed");
    }
};

TEST(Timer, ArmedOnlyWithIntervalEnabledAndHandler)
{
    Ticks t;
    TzqTimer timer;
    EXPECT_FALSE(timer.IsArmed()); // no handler
    timer.SetInterval(0);
    timer.SetOnTimer(TNotifyEvent(&t, &Ticks::OnTimer));
    EXPECT_FALSE(timer.IsArmed()); // interval 0
    timer.SetInterval(10);
    EXPECT_TRUE(timer.IsArmed());
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.IsArmed());
}

TEST(Timer, SameIntervalKeepsThePeriodAndADifferentOneRestartsIt)
{
    Ticks t;
    TzqTimer timer;
    timer.SetInterval(100000);
    timer.SetOnTimer(TNotifyEvent(&t, &Ticks::OnTimer));
    // Setting the same value is a no-op; a new value re-arms with it.
    timer.SetInterval(100000);
    EXPECT_TRUE(timer.IsArmed());
    timer.SetInterval(5);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return t.count >= 1; }));
}

TEST(Timer, AFailingHandlerDoesNotStopIt)
{
    Ticks t;
    t.throwing = true;
    TzqTimer timer;
    timer.SetInterval(5);
    timer.SetOnTimer(TNotifyEvent(&t, &Ticks::OnTimer));
    ASSERT_TRUE(zqtest::WaitUntil([&] { return t.count >= 3; }));
    EXPECT_TRUE(timer.IsArmed());
}

TEST(ProcessorTimer, StartTimerFiresOnceAndZeroOnlyStops)
{
    TestProcessor proc;
    proc.StartTimer(0);
    EXPECT_FALSE(proc.Timer->IsArmed());
    proc.StartTimer(10);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return proc.txEmpty == 1; }));
    EXPECT_FALSE(proc.Timer->Enabled());
    EXPECT_EQ(proc.Timer->Interval(), 10u);
    proc.StartTimer(10);
    proc.StartTimer(0);
    EXPECT_FALSE(proc.Timer->IsArmed());
}

class ThreadedIO : public TestIO {
public:
    std::atomic<int> runs { 0 };
    std::atomic<bool> untilTerminated { false };
    void ThreadExecute(TzqThreadIO* thread) override
    {
        ++runs;
        while (untilTerminated && !thread->Terminated())
            Sleep(1);
        if (throws)
            throw Exception("body failed");
    }
    bool throws = false;
};

TEST(ThreadIO, StopThreadAfterTheThreadFreedItself)
{
    // A body that returns at once lets the thread end and free itself while
    // StartThread is still returning: neither it nor StopThread may touch the
    // thread object then. Many rounds give the race a chance to show.
    for (int round = 0; round < 200; ++round) {
        ThreadedIO io;
        io.StartThread();
        auto control = io.ThreadControlBlock();
        ASSERT_TRUE(control);
        control->WaitFor(); // ended and released itself
        EXPECT_TRUE(control->Ended());
        io.StopThread(); // returns at once, touches nothing freed
        io.StopThread();
        EXPECT_EQ(io.runs, 1);
    }
}

TEST(ThreadIO, StopThreadEndsARunningBodyAndSwallowsItsException)
{
    ThreadedIO io;
    io.untilTerminated = true;
    io.throws = true;
    io.StartThread();
    io.StopThread();
    EXPECT_TRUE(io.ThreadStopped);
    EXPECT_EQ(io.runs, 1);
}

class SyncThread : public TThread {
public:
    std::atomic<bool> ran { false };
    bool onMain = false;

protected:
    void Execute() override
    {
        Synchronize([this] { onMain = zq::kernel::IsMainThread(); });
        ran = true;
    }
};

TEST(Thread, SynchronizeIsServedWhileTheMainThreadWaits)
{
    SyncThread t;
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(t.ran);
    EXPECT_TRUE(t.onMain);
}

} // namespace
