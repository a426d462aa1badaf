// Port events through the two threads to the main thread, on the in-process
// pair and on a pseudo-terminal.
#include "commtestutil.h"
#include "debugout.h"
#include "stressbytes.h"

#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

using namespace commtest;

namespace {

class ZqCommEvents : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam())
            far = std::make_unique<PtyEnd>();
        else
            far = std::make_unique<PairEnd>();
        threadsBefore = ThreadCount();
        comm = new TestComm(&owner);
        comm->opener = [this] { return far->OpenNear(); };
        comm->OnAfterReceive = TOnReceived::Bind(comm, nullptr, [this](TObject*, const void* b, Cardinal n) {
            trail.Add("A:" + std::string(static_cast<const char*>(b), n));
        });
        zq::kernel::SetDebugOutputHook([this](const std::string& s) {
            std::lock_guard lock(debugMutex);
            debug.push_back(s);
        });
    }
    void TearDown() override
    {
        delete comm;
        far.reset();
        // Both threads of every open end by themselves (the line's own
        // workers have gone with it).
        EXPECT_TRUE(zqtest::WaitUntil([&] { return ThreadCount() <= threadsBefore; }));
        zq::kernel::SetDebugOutputHook(nullptr);
        // What the threads wrote through the hook is ours once its lock is.
        std::lock_guard lock(debugMutex);
    }
    std::string Received() const
    {
        std::string all;
        for (const auto& c : trail.calls)
            if (c.rfind("A:", 0) == 0)
                all += c.substr(2);
        return all;
    }
    // Whether a thread of this process is blocked (in the kernel's view).
    static bool IsSleeping(DWORD tid)
    {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%u/stat", tid);
        FILE* f = std::fopen(path, "r");
        if (!f)
            return false;
        char line[512] = {};
        const bool got = std::fgets(line, sizeof line, f) != nullptr;
        std::fclose(f);
        const char* end = got ? std::strrchr(line, ')') : nullptr;
        return end && end[1] == ' ' && end[2] == 'S';
    }
    // Waits without serving the main thread's queue.
    static bool WaitWithoutServing(const std::function<bool()>& pred)
    {
        for (int i = 0; i < 30000 && !pred(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return pred();
    }
    bool DebugHas(const std::string& s)
    {
        std::lock_guard lock(debugMutex);
        return std::find(debug.begin(), debug.end(), s) != debug.end();
    }

    QObject owner;
    std::unique_ptr<FarEnd> far;
    TestComm* comm = nullptr;
    Trail trail;
    int threadsBefore = 0;
    std::mutex debugMutex;
    std::vector<std::string> debug;
};

TEST_P(ZqCommEvents, ReceivedBytesReachProcessorTerminalAndHandlerInOrderOnTheMainThread)
{
    auto* processor = new RecordingProcessor(&owner, trail);
    QPlainTextEdit terminal;
    comm->SetDataProcessor(processor);
    comm->SetTerminal(&terminal);
    comm->SetTerminalUsage(tuReceive);
    comm->Open();
    ASSERT_TRUE(comm->IsOpened());
    std::string sent;
    for (int i = 0; i < 20; ++i) {
        const std::string piece = "line " + std::to_string(i) + ";";
        far->Write(piece);
        sent += piece;
    }
    ASSERT_TRUE(zqtest::WaitUntil([&] { return Received() == sent; })) << Received();
    EXPECT_FALSE(trail.offMainThread);
    // Each chunk reaches the processor first, then the after-receive handler.
    std::string fromProcessor;
    for (size_t i = 0; i < trail.calls.size(); i += 2) {
        ASSERT_EQ(trail.calls[i].substr(0, 2), "P:");
        ASSERT_EQ(trail.calls[i + 1], "A:" + trail.calls[i].substr(2));
        fromProcessor += trail.calls[i].substr(2);
    }
    EXPECT_EQ(fromProcessor, sent);
    EXPECT_EQ(terminal.toPlainText().toStdString(), sent);
}

TEST_P(ZqCommEvents, BytesStayQueuedWhileNothingReceivesThem)
{
    comm->OnAfterReceive = nullptr;
    comm->SetTraceStates({ tsRxFlag });
    comm->SetEventChar('!');
    std::vector<TTraceStates> traces;
    comm->OnTraceState
        = TOnTraceEvent::Bind(comm, nullptr, [&](TObject*, TTraceStates s) { traces.push_back(s); });
    comm->Open();
    traces.clear();
    far->Write("abc");
    far->Write("!"); // its event comes after the one of "abc"
    ASSERT_TRUE(zqtest::WaitUntil([&] { return !traces.empty(); }));
    EXPECT_EQ(traces.back(), TTraceStates({ tsRxFlag }));
    EXPECT_EQ(QueuedIn(comm->Handle), 4u);

    // Once someone listens, the next event delivers everything queued.
    comm->OnAfterReceive = TOnReceived::Bind(comm, nullptr, [this](TObject*, const void* b, Cardinal n) {
        trail.Add("A:" + std::string(static_cast<const char*>(b), n));
    });
    far->Write("d");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return Received() == "abc!d"; })) << Received();
}

TEST_P(ZqCommEvents, AnEventWithErrorBitsReachesOnlyCommError)
{
    if (!far->IsPair())
        GTEST_SKIP() << "a pseudo-terminal has no line errors";
    auto* pair = static_cast<PairEnd*>(far.get());
    std::vector<Cardinal> errors;
    CollectErrors(*comm, errors);
    comm->Open();
    zq::serial::InjectCommErrors(pair->Near(), CE_FRAME);
    far->Write("ab");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors, std::vector<Cardinal>({ CE_FRAME, 0 }));
    EXPECT_TRUE(trail.calls.empty());
    far->Write("c");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return Received() == "abc"; })) << Received();
    EXPECT_EQ(errors.size(), 2u);
}

TEST_P(ZqCommEvents, ChangingTraceStatesWhileOpen)
{
    std::vector<TTraceStates> traces;
    comm->OnTraceState
        = TOnTraceEvent::Bind(comm, nullptr, [&](TObject*, TTraceStates s) { traces.push_back(s); });
    comm->Open();
    for (int i = 0; i < 50; ++i)
        comm->SetTraceStates(i % 2 ? TTraceStates { tsRxFlag } : TTraceStates { tsCTS, tsDSR });
    DWORD mask = 0;
    ASSERT_TRUE(GetCommMask(comm->Handle, &mask));
    EXPECT_EQ(mask, EV_RXCHAR | EV_RXFLAG);
    far->Write("still flowing");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return Received() == "still flowing"; }));
    EXPECT_TRUE(comm->IsOpened());
    EXPECT_FALSE(DebugHas("111 ..."));
    traces.clear();
    comm->SetEventChar('\n');
    far->Write("x\n");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return !traces.empty(); }));
    EXPECT_EQ(traces[0], TTraceStates({ tsRxFlag }));
}

TEST_P(ZqCommEvents, ClosingWhileTheEventThreadWaitsEndsBothThreadsWithoutCallingIn)
{
    comm->Open();
    ASSERT_NE(comm->MsgThread, nullptr);
    ASSERT_NE(comm->CommThread, nullptr);
    const auto msgThread = comm->MsgThread->Control();
    const auto commThread = comm->CommThread->Control();
    // One event through, then the event thread is back in its wait.
    far->Write("w");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return Received() == "w"; }));
    ASSERT_TRUE(WaitWithoutServing([&] { return IsSleeping(commThread->ThreadId()); }));
    trail.calls.clear();
    comm->OnAfterReceive = TOnReceived::Bind(
        comm, nullptr, [this](TObject*, const void*, Cardinal) { trail.Add("after close"); });
    int closes = 0;
    comm->OnTraceState = TOnTraceEvent::Bind(comm, nullptr, [&](TObject*, TTraceStates) { ++closes; });
    comm->Close();
    EXPECT_EQ(closes, 1);
    comm->OnTraceState = nullptr;
    EXPECT_EQ(comm->MsgThread, nullptr);
    EXPECT_TRUE(zqtest::WaitUntil([&] { return msgThread->Ended() && commThread->Ended(); }));
    zq::kernel::ProcessMessages();
    EXPECT_TRUE(trail.calls.empty());
    // A thread caught in its wait says so; one caught between two waits
    // ends silently. Neither treats the close as a failed wait.
    EXPECT_FALSE(DebugHas("111 ..."));
}

TEST_P(ZqCommEvents, EventsQueuedWhenClosingAreNeverHandled)
{
    comm->Open();
    const auto msgThread = comm->MsgThread->Control();
    const auto commThread = comm->CommThread->Control();
    // The main thread is busy while events pile up; it closes before it
    // serves any of them.
    for (int i = 0; i < 5; ++i) {
        far->Write("z");
        ASSERT_TRUE(WaitWithoutServing([&] { return QueuedIn(comm->Handle) == DWORD(i + 1); }));
    }
    comm->Close();
    EXPECT_TRUE(zqtest::WaitUntil([&] { return msgThread->Ended() && commThread->Ended(); }));
    zq::kernel::ProcessMessages();
    EXPECT_TRUE(trail.calls.empty());
}

TEST_P(ZqCommEvents, ReadsNeverExceedTheReceiveBuffer)
{
    comm->OnAfterReceive = nullptr;
    comm->Open();
    comm->SetBufferInSize(20000); // the port's queue grows, the buffer does not
    std::string sent;
    for (int i = 0; i < 12000; ++i)
        sent += static_cast<char>('a' + i % 26);
    far->Write(sent);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return QueuedIn(comm->Handle) == sent.size(); }));
    size_t largest = 0;
    comm->OnAfterReceive = TOnReceived::Bind(comm, nullptr, [&](TObject*, const void* b, Cardinal n) {
        largest = std::max<size_t>(largest, n);
        trail.Add("A:" + std::string(static_cast<const char*>(b), n));
    });
    // Each new byte brings one event; what does not fit waits for the next.
    std::string more;
    while (Received().size() < sent.size() + more.size()) {
        const size_t before = Received().size();
        more += "+";
        far->Write("+");
        ASSERT_TRUE(zqtest::WaitUntil([&] { return Received().size() > before; }));
    }
    EXPECT_EQ(Received(), sent + more);
    EXPECT_LE(largest, comm->ReceiveBufferSize());
}

TEST_P(ZqCommEvents, FailedWaitClosesThePortFromTheEventThread)
{
    if (far->IsPair())
        GTEST_SKIP() << "the pair does not fail";
    std::atomic<int> closed { 0 };
    comm->RegisterNotify(TNotifyHandler::Bind(&closed, nullptr, [&](TzqBaseIO*, int code) {
        if (code == NOTIFY_CLOSED)
            ++closed;
    }));
    comm->Open();
    static_cast<PtyEnd*>(far.get())->CloseMaster();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return closed == 1; }));
    EXPECT_TRUE(DebugHas("111 ..."));
    EXPECT_TRUE(zqtest::WaitUntil([&] { return !comm->IsOpened(); }));
    comm->Close(); // nothing left to close
    EXPECT_EQ(closed, 1);
}

TEST_P(ZqCommEvents, ClosingWhileTheEventThreadClosesTearsThePortDownOnce)
{
    if (far->IsPair())
        GTEST_SKIP() << "the pair does not fail";
    std::atomic<int> closed { 0 };
    std::atomic<int> releases { 0 };
    std::atomic<bool> eventThreadReleasing { false };
    std::atomic<bool> mainClosing { false };
    comm->RegisterNotify(TNotifyHandler::Bind(&closed, nullptr, [&](TzqBaseIO*, int code) {
        if (code == NOTIFY_CLOSED)
            ++closed;
    }));
    // The event thread, closing after its failed wait, holds on while the
    // main thread closes too: until that close has either released the
    // handle a second time or is blocked waiting for the first close.
    comm->beforeDestroy = [&] {
        ++releases;
        if (zq::kernel::IsMainThread())
            return;
        eventThreadReleasing = true;
        WaitWithoutServing([&] { return mainClosing.load(); });
        WaitWithoutServing([&] { return releases >= 2 || IsSleeping(static_cast<DWORD>(getpid())); });
    };
    comm->Open();
    static_cast<PtyEnd*>(far.get())->CloseMaster();
    ASSERT_TRUE(WaitWithoutServing([&] { return eventThreadReleasing.load(); }));
    mainClosing = true;
    comm->Close();
    EXPECT_FALSE(comm->IsOpened());
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(comm->ReceiveBuffer, nullptr);
}

TEST_P(ZqCommEvents, AFatalErrorHandlerThatThrowsLeavesThePortWorking)
{
    // The receive handler fails, and so does the fatal-error handler that
    // hears of it: the event ends there, the next one is handled as usual
    // and the port closes cleanly.
    int fatals = 0;
    comm->OnFatalError = TOnFatalErrorEvent::Bind(
        comm, nullptr, [&](TObject*, Cardinal, Cardinal, const std::string&, bool&) {
            ++fatals;
            throw Exception("handler failed too");
        });
    comm->OnAfterReceive = TOnReceived::Bind(comm, nullptr, [this](TObject*, const void* b, Cardinal n) {
        trail.Add("A:" + std::string(static_cast<const char*>(b), n));
        throw Exception("receiver failed");
    });
    comm->Open();
    const auto msgThread = comm->MsgThread->Control();
    const auto commThread = comm->CommThread->Control();
    far->Write("1");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return fatals == 1; }));
    far->Write("2");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return fatals == 2; }));
    EXPECT_EQ(Received(), "12");
    EXPECT_FALSE(msgThread->Ended());
    comm->Close();
    EXPECT_TRUE(zqtest::WaitUntil([&] { return msgThread->Ended() && commThread->Ended(); }));
}

INSTANTIATE_TEST_SUITE_P(Lines, ZqCommEvents, ::testing::Values(false, true),
    [](const auto& info) { return info.param ? "Pty" : "Pair"; });

// Opens a pseudo-terminal port through the component, moves 1 MiB each way
// and closes it, over and over; no thread, handle or memory may be left.
TEST(ZqCommStress, MegabyteEachWayManyTimes)
{
    const int rounds = zqtest::StressRounds();
    constexpr size_t kSize = zqtest::StressBytes::kSize;
    PtyEnd far;
    ASSERT_FALSE(far.slave.empty());
    const zqtest::StressBytes bytes;
    const std::string& out = bytes.out;
    const std::string& in = bytes.in;
    const int threadsBefore = ThreadCount();
    const int handlesBefore = zq::kernel::OpenHandleCount();
    QObject owner;
    auto* comm = new TestComm(&owner);
    comm->opener = [&] { return far.OpenNear(); };
    std::string got;
    comm->OnAfterReceive = TOnReceived::Bind(comm, nullptr,
        [&](TObject*, const void* b, Cardinal n) { got.append(static_cast<const char*>(b), n); });
    for (int round = 0; round < rounds; ++round) {
        got.clear();
        comm->Open();
        ASSERT_TRUE(comm->IsOpened());
        std::string farGot;
        std::thread farReader([&] { farGot = far.Read(kSize); });
        std::thread farWriter([&] { far.Write(in); });
        comm->SendData(out.data(), kSize);
        const bool all = zqtest::WaitUntil([&] { return got.size() >= kSize; }, 120000);
        farReader.join();
        farWriter.join();
        comm->Close();
        ASSERT_TRUE(all) << "round " << round << ": " << got.size();
        ASSERT_TRUE(got == in) << "round " << round;
        ASSERT_TRUE(farGot == out) << "round " << round;
    }
    delete comm;
    EXPECT_TRUE(zqtest::WaitUntil([&] { return ThreadCount() == threadsBefore; }));
    EXPECT_EQ(zq::kernel::OpenHandleCount(), handlesBefore);
}

} // namespace
