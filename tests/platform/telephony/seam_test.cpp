// The service against a provider written for the test: the order of replies
// and call states, lines lost, added and removed, late call information,
// lent ports, and what runs with the service lock held.
#include "fakeprovider.h"
#include "handles.h"
#include "messages.h"
#include "servicetesting.h"
#include "tapitest.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using fake::Counts;

class Seam : public TapiTest {
protected:
    void SetUp() override
    {
        TapiTest::SetUp();
        zq::telephony::UseProvidersForTesting({ { "Fake", &fake::Create } });
    }
    void TearDown() override
    {
        TapiTest::TearDown();
        zq::telephony::UseProvidersForTesting({});
    }
    // Runs f as a provider's own thread would: elsewhere, under the lock.
    template <class F> void AsProvider(F f)
    {
        std::thread t([&] {
            std::lock_guard lock(zq::telephony::ServiceLock());
            f(*fake::Current());
        });
        t.join();
    }
    HCALL DialConnected(HLINE line, DWORD media = LINEMEDIAMODE_INTERACTIVEVOICE)
    {
        fake::Current()->statesAfterDial = { { LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE } };
        HCALL call = Dial(line, "555", media);
        EXPECT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
        return call;
    }
};

TEST_F(Seam, StatesRightAfterTheReplyFindTheCallHandle)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_OWNER);
    // The far end answers in the same breath as the dial is accepted, and a
    // busy far end is a state after a successful reply, not a failed one.
    fake::Current()->statesAfterDial
        = { { LINECALLSTATE_PROCEEDING, 0 }, { LINECALLSTATE_BUSY, LINEBUSYMODE_STATION } };
    HCALL call = 0;
    const LONG id = lineMakeCall(line, &call, "555", 0, nullptr);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_BUSY));
    const std::vector<LineMsg> seen = MessageLog::Get().For(kInst1);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].msg, LINE_REPLY);
    EXPECT_EQ(LONG(seen[0].p1), id);
    EXPECT_EQ(seen[0].p2, 0u);
    ASSERT_NE(call, 0u);
    EXPECT_EQ(seen[1].p1, LINECALLSTATE_PROCEEDING);
    EXPECT_EQ(seen[1].device, call);
    EXPECT_EQ(seen[2].p1, LINECALLSTATE_BUSY);
    EXPECT_EQ(seen[2].device, call);
    EXPECT_EQ(fake::Current()->lines[0]->lastDialled, "555");
}

TEST_F(Seam, ALineLostMidCallEndsTheCallAndItsRemovalClosesTheLine)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_OWNER);
    HLINE other = Open(1, kInst2, LINECALLPRIVILEGE_NONE);
    HCALL call = DialConnected(line);
    fake::Line* lost = fake::Current()->lines[0].get();

    AsProvider([&](fake::Provider& p) {
        p.sink->LineInService(lost, false);
        lost->call->Report(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL);
    });
    ASSERT_TRUE(WaitMessage(LINE_LINEDEVSTATE, LINEDEVSTATE_OUTOFSERVICE));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(
        MessageLog::Get().FindState(kInst1, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_UNAVAIL);
    HCALL second = 0;
    EXPECT_EQ(DWORD(lineMakeCall(line, &second, "555", 0, nullptr)), LINEERR_RESOURCEUNAVAIL);

    AsProvider([&](fake::Provider& p) { p.sink->LineInService(lost, true); });
    ASSERT_TRUE(WaitMessage(LINE_LINEDEVSTATE, LINEDEVSTATE_INSERVICE));

    AsProvider([&](fake::Provider& p) { p.sink->LineRemoved(lost); });
    ASSERT_TRUE(WaitMessage(LINE_REMOVE, 0));
    ASSERT_TRUE(zqtest::WaitUntil([&] { return !Messages(LINE_CLOSE).empty(); }));
    const std::vector<LineMsg> closes = Messages(LINE_CLOSE);
    ASSERT_EQ(closes.size(), 1u); // only to the application that had it open
    EXPECT_EQ(closes[0].device, line);
    EXPECT_EQ(closes[0].instance, kInst1);
    EXPECT_EQ(DWORD(lineClose(line)), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(DWORD(lineGetCallStatus(call, nullptr)), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(lost->closes, 0); // the line counts as closed
    HLINE again = 0;
    EXPECT_EQ(DWORD(lineOpen(app_, 0, &again, version_, 0, kInst1, LINECALLPRIVILEGE_NONE, 0, nullptr)),
        LINEERR_NODEVICE);
    // The other line keeps its identifier and works on.
    EXPECT_EQ(lineClose(other), 0);
    EXPECT_NE(Open(1, kInst2, LINECALLPRIVILEGE_OWNER), 0u);
}

TEST_F(Seam, CallerIdArrivingAfterTheOfferReachesTheApplication)
{
    Register();
    Open(0, kInst1, LINECALLPRIVILEGE_OWNER);
    std::shared_ptr<fake::Call> offered;
    AsProvider([&](fake::Provider& p) { offered = p.lines[0]->Offer(); });
    const HCALL call = WaitOffer(kInst1);
    ASSERT_NE(call, 0u);
    std::vector<char> block(1024);
    auto* info = reinterpret_cast<LINECALLINFO*>(block.data());
    info->dwTotalSize = DWORD(block.size());
    ASSERT_EQ(lineGetCallInfo(call, info), 0);
    EXPECT_EQ(info->dwCallerIDFlags, LINECALLPARTYID_UNKNOWN);

    AsProvider([&](fake::Provider& p) {
        offered->details.callerId = "5551234";
        p.sink->CallInfoChanged(offered.get(), LINECALLINFOSTATE_CALLERID);
    });
    ASSERT_TRUE(WaitMessage(LINE_CALLINFO, LINECALLINFOSTATE_CALLERID));
    EXPECT_EQ(Messages(LINE_CALLINFO)[0].device, call);
    ASSERT_EQ(lineGetCallInfo(call, info), 0);
    EXPECT_EQ(info->dwCallerIDFlags, LINECALLPARTYID_ADDRESS);
    EXPECT_STREQ(block.data() + info->dwCallerIDOffset, "5551234");
}

TEST_F(Seam, ALentPortComesBackWhenTheApplicationClosesIt)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
    HCALL call = DialConnected(line, LINEMEDIAMODE_DATAMODEM);
    VarBlock id;
    ASSERT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, id.Var(), "comm/datamodem"), 0);
    const HANDLE port = HANDLE(id.Dword(0));
    std::shared_ptr<fake::Call> lent = fake::Current()->lines[0]->call;
    ASSERT_EQ(lent->lent, port);
    EXPECT_TRUE(lent->returned.empty());

    ASSERT_TRUE(CloseHandle(port));
    ASSERT_EQ(lent->returned.size(), 1u);
    EXPECT_EQ(lent->returned[0], port);
    // Asked again (of the line this time), the provider lends a new one.
    VarBlock again;
    ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, again.Var(), "comm/datamodem"), 0);
    const HANDLE second = HANDLE(again.Dword(0));
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(second, port);
    CloseHandle(second);
    EXPECT_EQ(lent->returned.size(), 2u);
}

TEST_F(Seam, StoppingWithACallActiveWaitsForNothingUnderTheLock)
{
    Register();
    const int stopsBefore = Counts().stops;
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_OWNER);
    DialConnected(line);
    fake::Provider* first = fake::Current();
    std::shared_ptr<fake::Call> call = first->lines[0]->call;
    EXPECT_FALSE(first->startedUnderLock);
    EXPECT_FALSE(first->lines[0]->openedUnderLock);

    // The last application goes with its call up: the call is ended for it
    // and the line closed, the providers keep running.
    ASSERT_EQ(lineShutdown(&app_), 0);
    EXPECT_EQ(call->lastRequest, 0u);
    EXPECT_TRUE(call->released);
    EXPECT_EQ(first->lines[0]->closes, 1);
    EXPECT_FALSE(first->lines[0]->closedUnderLock);
    EXPECT_EQ(Counts().stops, stopsBefore);

    // Changed providers: the next first use stops the old ones, outside the
    // lock, and starts the new ones.
    const int made = Counts().made;
    zq::telephony::UseProvidersForTesting({ { "Fake", &fake::Create } });
    Register();
    EXPECT_EQ(Counts().stops, stopsBefore + 1);
    EXPECT_FALSE(Counts().stoppedUnderLock);
    EXPECT_EQ(Counts().made, made + 1);
}

TEST_F(Seam, LinesAddedAndRemovedReachApplicationsAndTheDeviceBroadcast)
{
    std::vector<WPARAM> deviceChanges;
    HWND window = zq::kernel::AllocateMessageWindow([&](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
        if (msg == WM_DEVICECHANGE)
            deviceChanges.push_back(wParam);
        return 0;
    });
    auto pump = [&](size_t count) {
        return zqtest::WaitUntil([&] {
            MSG m;
            while (PeekMessage(&m, window, 0, 0, PM_REMOVE))
                DispatchMessage(&m);
            return deviceChanges.size() >= count;
        });
    };
    Register();
    ASSERT_EQ(numDevs_, 2u);
    fake::Line* added = nullptr;
    AsProvider([&](fake::Provider& p) { added = p.AddLine("3"); });
    ASSERT_TRUE(WaitMessage(LINE_CREATE, 2));
    ASSERT_TRUE(pump(1));
    EXPECT_EQ(deviceChanges[0], WPARAM(0x0007)); // DBT_DEVNODES_CHANGED
    HLINE line = Open(2, kInst1, LINECALLPRIVILEGE_OWNER);
    ASSERT_NE(line, 0u);
    EXPECT_EQ(added->opens, 1);

    AsProvider([&](fake::Provider& p) { p.sink->LineRemoved(added); });
    ASSERT_TRUE(WaitMessage(LINE_REMOVE, 2));
    ASSERT_TRUE(pump(2));
    EXPECT_EQ(DWORD(lineClose(line)), LINEERR_INVALLINEHANDLE);
    // The identifier is not given to another line while the providers run.
    HLINEAPP second = 0;
    DWORD count = 0;
    ASSERT_EQ(lineInitialize(&second, nullptr, &MessageLog::Callback, nullptr, &count), 0);
    EXPECT_EQ(count, 3u);
    HLINE gone = 0;
    EXPECT_EQ(DWORD(lineOpen(second, 2, &gone, version_, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr)),
        LINEERR_NODEVICE);
    lineShutdown(&second);
    zq::kernel::DeallocateMessageWindow(window);
}

// Configuration before any application: the providers start as for any
// first use and stay, so what was set is what the application then finds,
// under the same identifiers.
TEST_F(Seam, DeviceConfigurationBeforeAnyApplicationUsesTheProvidersThatStay)
{
    const int made = Counts().made;
    VarBlock block;
    ASSERT_EQ(lineGetDevConfig(0, block.Var(), "comm/datamodem"), 0);
    EXPECT_EQ(Counts().made, made + 1);
    const uint8_t mine[] = { 9, 8, 7, 6 };
    ASSERT_EQ(lineSetDevConfig(1, mine, sizeof mine, "comm/datamodem"), 0);

    Register();
    HLINEAPP second = 0;
    DWORD count = 0;
    ASSERT_EQ(lineInitialize(&second, nullptr, &MessageLog::Callback, nullptr, &count), 0);
    ASSERT_EQ(lineShutdown(&second), 0);
    EXPECT_EQ(Counts().made, made + 1);
    EXPECT_EQ(fake::Current()->starts, 1);
    VarBlock back;
    ASSERT_EQ(lineGetDevConfig(1, back.Var(), "comm/datamodem"), 0);
    ASSERT_EQ(back.Var()->dwStringSize, sizeof mine);
    EXPECT_EQ(std::memcmp(back.Data(), mine, sizeof mine), 0);
    ASSERT_EQ(lineShutdown(&app_), 0);
    EXPECT_EQ(Counts().made, made + 1);
}

// Reports made on several provider threads at once: every message reaches
// the application, on the thread that registered it, each thread's in the
// order it made them.
TEST_F(Seam, ReportsFromSeveralThreadsArriveInOrderOnTheRegisteringThread)
{
    Register();
    Open(0, kInst1, LINECALLPRIVILEGE_OWNER);
    std::shared_ptr<fake::Call> offered;
    AsProvider([&](fake::Provider& p) { offered = p.lines[0]->Offer(); });
    ASSERT_NE(WaitOffer(kInst1), 0u);

    constexpr DWORD kEach = 300;
    auto report = [&](DWORD tag) {
        for (DWORD i = 0; i < kEach; ++i) {
            std::lock_guard lock(zq::telephony::ServiceLock());
            fake::Current()->sink->CallInfoChanged(offered.get(), tag << 16 | i);
        }
    };
    std::thread first(report, 1), second(report, 2);
    first.join();
    second.join();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return Messages(LINE_CALLINFO).size() >= 2 * kEach; }));
    DWORD next[3] = {};
    for (const LineMsg& m : Messages(LINE_CALLINFO)) {
        EXPECT_EQ(m.thread, std::this_thread::get_id());
        const DWORD tag = DWORD(m.p1) >> 16;
        ASSERT_TRUE(tag == 1 || tag == 2) << m.p1;
        EXPECT_EQ(DWORD(m.p1) & 0xFFFF, next[tag]++);
    }
    EXPECT_EQ(next[1], kEach);
    EXPECT_EQ(next[2], kEach);
}

// An application whose registering thread has ended hears nothing more:
// what is meant for it is dropped, the others are served as before.
TEST_F(Seam, AnApplicationWhoseThreadEndedIsPassedOver)
{
    Register();
    Open(0, kInst1, LINECALLPRIVILEGE_OWNER);
    HLINEAPP orphan = 0;
    std::thread([&] {
        DWORD count = 0, version = 0;
        LINEEXTENSIONID ext {};
        ASSERT_EQ(lineInitialize(&orphan, nullptr, &MessageLog::Callback, nullptr, &count), 0);
        ASSERT_EQ(lineNegotiateAPIVersion(orphan, 0, 0x00010000, 0x00090000, &version, &ext), 0);
        HLINE line = 0;
        ASSERT_EQ(lineOpen(orphan, 0, &line, version, 0, kInst2, LINECALLPRIVILEGE_MONITOR,
                      LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
            0);
    }).join();
    ASSERT_NE(orphan, 0u);

    AsProvider([&](fake::Provider& p) { p.lines[0]->Offer(); });
    ASSERT_NE(WaitOffer(kInst1), 0u);
    for (const LineMsg& m : MessageLog::Get().All())
        EXPECT_NE(m.instance, kInst2);
    EXPECT_EQ(lineShutdown(&orphan), 0);
}

// A timer its provider left pending never runs once the providers have been
// replaced: what it refers to went with the old provider.
TEST_F(Seam, TimersOfAStoppedProviderNeverRun)
{
    using Clock = std::chrono::steady_clock;
    constexpr DWORD kDelayMs = 1500;
    Register();
    std::atomic<bool> staleRan { false }, freshRan { false };
    const auto scheduled = Clock::now();
    AsProvider([&](fake::Provider& p) { p.sink->StartTimer(kDelayMs, [&] { staleRan = true; }); });
    ASSERT_EQ(lineShutdown(&app_), 0);
    zq::telephony::UseProvidersForTesting({ { "Fake", &fake::Create } });
    Register();
    if (Clock::now() - scheduled >= std::chrono::milliseconds(kDelayMs))
        GTEST_SKIP() << "the restart took longer than the timer's delay";
    // Timers run in the order of their deadlines: once this later one has
    // run, the stale one would have too.
    AsProvider([&](fake::Provider& p) { p.sink->StartTimer(kDelayMs, [&] { freshRan = true; }); });
    ASSERT_TRUE(zqtest::WaitUntil([&] { return freshRan.load(); }));
    EXPECT_FALSE(staleRan.load());
}

} // namespace
