// Line messages reach an application on the thread that registered it, and
// only while that thread processes its events.
#include "tapitest.h"

#include <QThread>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace {

std::mutex workerMutex;
std::condition_variable workerWake;
bool workerConnected = false;
std::thread::id workerThread;

// The answering application, on its own thread: answers what is offered.
void WorkerCallback(DWORD dev, DWORD msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3)
{
    MessageLog::Callback(dev, msg, inst, p1, p2, p3);
    if (msg == LINE_CALLSTATE && p1 == LINECALLSTATE_OFFERING)
        lineAnswer(dev, nullptr, 0);
    if (msg == LINE_CALLSTATE && p1 == LINECALLSTATE_CONNECTED) {
        std::lock_guard lock(workerMutex);
        workerConnected = true;
        workerWake.notify_all();
    }
}

std::mutex jobMutex;
std::condition_variable jobWake;
std::function<void()> pendingJob;
bool jobDone = false;

// Runs job on context's thread and waits for it. The job crosses over under
// our own lock; the queued call only wakes that thread (Qt's own hand-over
// is invisible to the race checker).
void RunOn(QObject* context, std::function<void()> job)
{
    std::unique_lock lock(jobMutex);
    pendingJob = std::move(job);
    jobDone = false;
    QMetaObject::invokeMethod(
        context,
        [] {
            std::function<void()> run;
            {
                std::lock_guard taken(jobMutex);
                run = std::move(pendingJob);
            }
            run();
            std::lock_guard done(jobMutex);
            jobDone = true;
            jobWake.notify_all();
        },
        Qt::QueuedConnection);
    jobWake.wait(lock, [] { return jobDone; });
}

} // namespace

TEST_F(TapiTest, MessagesWaitUntilTheRegisteringThreadProcessesEvents)
{
    Register();
    HLINE caller = Open(0, kInst1, LINECALLPRIVILEGE_NONE);

    QThread worker;
    worker.start();
    QObject context;
    context.moveToThread(&worker);
    HLINEAPP workerApp = 0;
    RunOn(&context, [&] {
        workerThread = std::this_thread::get_id();
        DWORD n = 0, version = 0;
        LINEEXTENSIONID ext {};
        ASSERT_EQ(lineInitialize(&workerApp, nullptr, &WorkerCallback, nullptr, &n), 0);
        ASSERT_EQ(lineNegotiateAPIVersion(workerApp, 0, 0x00010000, 0x00090000, &version, &ext), 0);
        HLINE line = 0;
        ASSERT_EQ(lineOpen(workerApp, 1, &line, version, 0, kInst2, LINECALLPRIVILEGE_OWNER,
                      LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
            0);
    });

    HCALL call = 0;
    const LONG request = lineMakeCall(caller, &call, "1002/ring=20ms", 0, nullptr);
    ASSERT_GT(request, 0);
    {
        // Not serving the main thread's events while waiting here.
        std::unique_lock lock(workerMutex);
        ASSERT_TRUE(workerWake.wait_for(lock, std::chrono::seconds(30), [] { return workerConnected; }));
    }
    // Everything for the caller has been posted by now (the exchange reports
    // both sides of the connection at once), yet none of it has arrived.
    EXPECT_TRUE(MessageLog::Get().For(kInst1).empty());
    EXPECT_EQ(call, 0u);

    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    EXPECT_NE(call, 0u);
    for (const LineMsg& m : MessageLog::Get().All()) {
        if (m.instance == kInst1) {
            EXPECT_EQ(m.thread, std::this_thread::get_id());
        }
        if (m.instance == kInst2) {
            EXPECT_EQ(m.thread, workerThread);
        }
    }

    RunOn(&context, [&] { lineShutdown(&workerApp); });
    worker.quit();
    worker.wait();
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
}
