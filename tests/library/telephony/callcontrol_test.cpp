// Call control between the two simulated lines of the real service: one
// component dials, the other waits, both in this process.
#include "eventwait.h"
#include "linetest_support.h"
#include "messages.h"
#include "registry.h"

#include <gtest/gtest.h>

#include <QCheckBox>

namespace {

// Everything one component reports, in order.
class Recorder {
public:
    std::vector<std::string> events;
    int busy = 0, connected = 0, proceeding = 0, remoteDisconnects = 0, localDisconnects = 0, rings = 0;
    bool answer = true;
    std::string digits;

    void Attach(TzqCommTAPI& c)
    {
        c.OnLineBusy = TNotifyEvent::Bind(this, "busy", [this](TObject*) {
            ++busy;
            events.push_back("busy");
        });
        c.OnLineConnected = TNotifyEvent::Bind(this, "connected", [this](TObject*) {
            ++connected;
            events.push_back("connected");
        });
        c.OnLineDoingConnection = TNotifyEvent::Bind(this, "proceeding", [this](TObject*) {
            ++proceeding;
            events.push_back("proceeding");
        });
        c.OnLineDisconnected = TNotifyCallDisconnect::Bind(this, "disc", [this](TObject*, bool remote) {
            remote ? ++remoteDisconnects : ++localDisconnects;
            events.push_back(remote ? "disconnected by remote" : "disconnected");
        });
        c.OnRing = TNotifyRing::Bind(this, "ring", [this](TObject*, bool& ignore) {
            ++rings;
            events.push_back("ring");
            if (!answer)
                ignore = false;
        });
        c.OnDTMF = TOnDTMFEvent::Bind(this, "dtmf", [this](TObject*, char d) { digits += d; });
        c.OnCallState = TOnLineCallState::Bind(this, "state",
            [this](TObject*, Cardinal s, Cardinal) { events.push_back("state " + std::to_string(s)); });
    }
};

class CallControl : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        zqtest::UseScratchStore();
        zqtest::UseFastRings();
    }

    RecordingLog logA, logB;
    Fatals fatals;
    TzqCommTAPI a, b;
    Recorder ra, rb;

    void SetUp() override
    {
        for (TzqCommTAPI* c : { &a, &b }) {
            c->OnFatalError = fatals.Event();
            c->EnumDevices();
            c->SetPauseOnRepeat(20);
        }
        a.SetLog(&logA);
        b.SetLog(&logB);
        ra.Attach(a);
        rb.Attach(b);
        ASSERT_EQ(a.DeviceCount(), 2);
        a.SetDeviceIndex(0);
        b.SetDeviceIndex(1);
    }
    void TearDown() override
    {
        a.SetRetries(0);
        b.SetRetries(0);
        a.HangUp();
        b.HangUp();
        EXPECT_TRUE(fatals.seen.empty()) << fatals.seen.front().message;
        if (getenv("ZQ_TEST_SHOW_LOG")) {
            for (auto& l : logA.lines)
                printf("A| %s\n", l.c_str());
            for (auto& l : logB.lines)
                printf("B| %s\n", l.c_str());
            for (auto& e : ra.events)
                printf("A> %s\n", e.c_str());
        }
    }
    void Dial(const std::string& number, bool voice = true)
    {
        a.SetVoice(voice);
        a.SetPhone(number);
        a.MakeCall();
    }
    void Wait(bool voice = true)
    {
        b.SetVoice(voice);
        b.WaitForCall();
    }
    static int Count(const RecordingLog& log, const std::string& prefix)
    {
        int n = 0;
        for (const auto& l : log.lines)
            n += l.rfind(prefix, 0) == 0;
        return n;
    }
};

TEST_F(CallControl, AVoiceCallConnectsBothSidesAndHangsUpInOrder)
{
    Wait();
    EXPECT_EQ(b.LineState, lsWaiting);
    EXPECT_TRUE(logB.Has("zqCommTAPI: Device [Simulated line 2] wait for incoming call ..."));
    Dial("1002");
    EXPECT_TRUE(logA.Has("zqCommTAPI: Dial: 1002 Canonical:t1002 Dialable:t1002"));
    EXPECT_TRUE(logA.Has("Make Call Out : 1002 Device: Simulated line 1"));
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.connected == 1 && rb.connected == 1; }));
    EXPECT_EQ(a.LineState, lsConnected);
    EXPECT_EQ(b.LineState, lsConnected);
    EXPECT_EQ(ra.proceeding, 1);
    EXPECT_EQ(rb.rings, 1);
    EXPECT_TRUE(logB.Has("zqCommTAPI: Ring!"));
    EXPECT_TRUE(logB.Has("zqCommTAPI: Answer"));
    EXPECT_EQ(b.CallerID(), "1001");
    // A voice call with no trace states leaves the data port closed.
    EXPECT_FALSE(a.CommActive());
    EXPECT_TRUE(logB.Has("zqCommTAPI: Connected [0] hCom [4294967295] CallerID [1001]"));
    // The dialling side's events come in the order the call progressed.
    auto pos = [&](const std::string& e) {
        return std::find(ra.events.begin(), ra.events.end(), e) - ra.events.begin();
    };
    EXPECT_LT(pos("proceeding"), pos("connected"));

    // The far end's disconnection may be handled inside the hang-up's own
    // waits: it must find the far end set not to wait again.
    b.SetRetries(0);
    a.HangUp();
    EXPECT_EQ(ra.localDisconnects, 1);
    EXPECT_EQ(a.LineAppHandle, 0u);
    const std::vector<std::string> tail(logA.lines.end() - 4, logA.lines.end());
    EXPECT_EQ(tail,
        (std::vector<std::string> { "zqCommTAPI: Begin HangUp", "zqCommTAPI: Call closed",
            "zqCommTAPI: Line closed [Simulated line 1]", "zqCommTAPI: HangUp" }));
    ASSERT_TRUE(zqtest::WaitUntil([&] { return rb.remoteDisconnects == 1; }));
    EXPECT_TRUE(logB.Has("zqCommTAPI: Begin Handle Disconnection"));
    EXPECT_TRUE(logB.Has("zqCommTAPI: Done Disconnection"));
    EXPECT_EQ(b.LineState, lsIdle);
}

TEST_F(CallControl, DigitsSentByTheFarEndReachOnDTMF)
{
    Dial("5555/dtmf=12#");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.digits == "12#"; }));
}

TEST_F(CallControl, BusyIsRetriedUntilTheAttemptsAreUsedUp)
{
    a.SetRetries(3);
    Dial("1002/busy");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.remoteDisconnects == 3; }));
    // The disconnection event comes before the decision to repeat, which is
    // made by the time the handling has returned.
    EXPECT_FALSE(a.RetryTimer->IsArmed());
    EXPECT_EQ(Count(logA, "zqCommTAPI: Dial: "), 3);
    EXPECT_EQ(ra.busy, 6); // the busy state and the busy disconnection, per attempt
    EXPECT_EQ(a.RetryCount, 3);
    EXPECT_EQ(a.LineState, lsIdle);
}

TEST_F(CallControl, NoRepeatWithRetriesZeroAndAtOnceWithPauseZero)
{
    a.SetRetries(0);
    Dial("1002/busy");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.remoteDisconnects == 1; }));
    EXPECT_FALSE(a.RetryTimer->IsArmed());
    EXPECT_EQ(a.RetryMode, rmNone);

    a.SetRetries(2);
    a.SetPauseOnRepeat(0);
    Dial("1002/busy");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.remoteDisconnects == 3; }));
    EXPECT_EQ(Count(logA, "zqCommTAPI: Dial: "), 3);
}

TEST_F(CallControl, EndlessRepeatsAndHangUpWhileARepeatIsPending)
{
    a.SetRetries(-1);
    a.SetPauseOnRepeat(200);
    Dial("1002/busy");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.remoteDisconnects == 1 && a.RetryTimer->IsArmed(); }));
    a.HangUp(); // does not cancel the pending repeat
    EXPECT_EQ(ra.localDisconnects, 1);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return Count(logA, "zqCommTAPI: Dial: ") == 2; }));
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.remoteDisconnects >= 3; }));
    a.SetRetries(0);
}

TEST_F(CallControl, HangUpWhenIdleStillReportsAndEndsTheRegistration)
{
    // The far end's disconnection may be handled inside the hang-up's own
    // waits: it must find the far end set not to wait again.
    b.SetRetries(0);
    a.HangUp();
    EXPECT_EQ(ra.localDisconnects, 1);
    EXPECT_EQ(a.TAPIRefCount, 0);
    EXPECT_EQ(a.LineAppHandle, 0u);
}

TEST_F(CallControl, RingsBeforeAnswerCountsOffersAcrossCalls)
{
    b.SetRingsBeforeAnswer(3);
    Wait();
    a.SetRetries(3);
    // Each call rings unanswered until the far end gives up on it.
    Dial("1002/noanswer=0.15");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return rb.connected == 1; }));
    EXPECT_EQ(rb.rings, 3);
    EXPECT_EQ(b.RingCount, 3);
}

TEST_F(CallControl, AnOnRingHandlerThatDeclinesLeavesCallsAlone)
{
    rb.answer = false;
    Wait();
    Dial("1002/noanswer=0.1");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.remoteDisconnects == 1; }));
    EXPECT_GE(rb.rings, 1);
    EXPECT_EQ(rb.connected, 0);
    EXPECT_EQ(b.LineState, lsWaiting);
}

TEST_F(CallControl, RemoteHangUpEndsTheCallAndTheWaitResumes)
{
    b.SetRetries(3);
    Wait();
    Dial("1002/hangup=0.1");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.connected == 1; }));
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.remoteDisconnects == 1; }));
    // The waiting side saw its caller go and waits again after the pause.
    ASSERT_TRUE(zqtest::WaitUntil([&] { return rb.remoteDisconnects == 1 && b.LineState == lsWaiting; }));
    EXPECT_EQ(Count(logB, "zqCommTAPI: Device [Simulated line 2] wait for incoming call ..."), 2);
}

TEST_F(CallControl, NoDeviceSelectedReportsTheDeviceIndex)
{
    a.SetDeviceIndex(-1);
    Dial("1002", false);
    b.SetDeviceIndex(-1);
    b.WaitForCall();
    ASSERT_EQ(fatals.seen.size(), 2u);
    EXPECT_EQ(fatals.seen[0].detail, 6u);
    EXPECT_NE(
        fatals.seen[0].message.find("zqTAPI Error: Call was fault\rDevice index (-1 of 2) is not valid"),
        std::string::npos);
    EXPECT_EQ(fatals.seen[1].detail, 7u);
    EXPECT_NE(fatals.seen[1].message.find(
                  "zqTAPI Error: Waiting for a incoming call was fault\rDevice index (-1 of 2) is not valid"),
        std::string::npos);
    fatals.seen.clear();
}

TEST_F(CallControl, AReplyThatNeverComesTimesOutAndAnyReplyEndsAWait)
{
    a.ResetReply();
    const DWORD start = GetTickCount();
    EXPECT_EQ(a.WaitReply(12345, 30), -1);
    EXPECT_GE(GetTickCount() - start, 30u);
    a.ResetReply();
    a.StoreReply(777, 5); // a reply for another request
    EXPECT_EQ(a.WaitReply(12345, zq::telephony::kReplyTimeout), 5);
}

TEST_F(CallControl, ADataCallCarriesBytesBetweenTheTwoPorts)
{
    std::string received;
    b.OnAfterReceive = TOnReceived::Bind(&received, nullptr,
        [&](TObject*, const void* buf, Cardinal n) { received.append(static_cast<const char*>(buf), n); });
    Wait(false);
    Dial("1002", false);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return ra.connected == 1 && rb.connected == 1; }));
    EXPECT_TRUE(a.CommActive());
    EXPECT_TRUE(b.CommActive());
    a.SendString("hello over the line");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return received == "hello over the line"; }));
    a.HangUp();
    EXPECT_FALSE(a.CommActive());
    EXPECT_TRUE(logA.Has("zqCommTAPI: The port is closed succesfully"));
    ASSERT_TRUE(zqtest::WaitUntil([&] { return !b.CommActive() && rb.remoteDisconnects == 1; }));
}

TEST_F(CallControl, TheRingMonitorIsSwitchedOnByAnOffer)
{
    QCheckBox ring;
    b.SetMonitorRing(&ring);
    Wait();
    Dial("1002");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return rb.rings == 1; }));
    EXPECT_TRUE(ring.isChecked());
    b.SetMonitorRing(nullptr);
}

} // namespace
