// Call control against a service whose call states come with, or even
// before, the reply to the request that made the call: the order in which
// the two arrive must not change what the line does.
#include "eventwait.h"
#include "faketapi.h"
#include "linetest_support.h"

#include <gtest/gtest.h>

namespace {

class CallOrder : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        UseOwnRegistry();
        fake = UseFakeTapi();
        ASSERT_NE(fake, nullptr);
    }
    static inline FakeTapi* fake = nullptr;

    Fatals fatals;
    KeptLog log;
    TzqCommTAPI line;
    int connected = 0, busy = 0, remoteDisconnects = 0, rings = 0;

    void SetUp() override
    {
        *fake = FakeTapi {};
        fake->devices.emplace_back();
        fake->devices.back().waveIn = 11;
        fake->devices.back().waveOut = 21;
        fake->devices.back().config = FakeModemBlock(0);
        line.OnFatalError = fatals.Event();
        line.SetLog(&log);
        line.EnumDevices();
        line.SetDeviceIndex(0);
        line.SetVoice(true);
        line.SetRetries(0);
        line.OnLineConnected = TNotifyEvent::Bind(this, "c", [this](TObject*) { ++connected; });
        line.OnLineBusy = TNotifyEvent::Bind(this, "b", [this](TObject*) { ++busy; });
        line.OnLineDisconnected = TNotifyCallDisconnect::Bind(
            this, "d", [this](TObject*, bool remote) { remoteDisconnects += remote; });
        line.OnRing = TNotifyRing::Bind(this, "r", [this](TObject*, bool&) { ++rings; });
    }
    void TearDown() override
    {
        line.HangUp();
        EXPECT_TRUE(fatals.seen.empty()) << fatals.seen.front().message;
    }
    static FakeMessage State(DWORD state, DWORD mode = 0) { return { LINE_CALLSTATE, state, mode }; }
};

TEST_F(CallOrder, ADialledCallConnectsWhateverTheOrderOfReplyAndStates)
{
    for (const bool before : { false, true }) {
        SCOPED_TRACE(before ? "states before the reply" : "states right after the reply");
        fake->statesBeforeReply = before;
        fake->afterMakeCall = { State(LINECALLSTATE_PROCEEDING), State(LINECALLSTATE_CONNECTED) };
        connected = 0;
        line.SetPhone("1002");
        line.MakeCall();
        ASSERT_TRUE(zqtest::WaitUntil([&] { return connected == 1; }));
        EXPECT_EQ(line.LineState, lsConnected);
        EXPECT_EQ(line.RetryMode, rmMakeCall);
        EXPECT_NE(line.CallHandle, 0u);
        line.HangUp();
        EXPECT_EQ(line.LineState, lsIdle);
    }
}

TEST_F(CallOrder, AnEarlyBusyEndsTheCallItBelongsTo)
{
    fake->afterMakeCall
        = { State(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY), State(LINECALLSTATE_IDLE) };
    line.SetPhone("1002");
    line.MakeCall();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return remoteDisconnects == 1; }));
    EXPECT_EQ(busy, 1);
    EXPECT_EQ(line.LineState, lsIdle);
    EXPECT_EQ(line.CallHandle, 0u);
    EXPECT_EQ(line.LineHandle, 0u);
    EXPECT_EQ(fake->deallocated, 1);
    EXPECT_EQ(fake->openLines, 0);
}

TEST_F(CallOrder, AnAnsweredCallConnectsWhateverTheOrderOfReplyAndStates)
{
    for (const bool before : { false, true }) {
        SCOPED_TRACE(before ? "states before the reply" : "states right after the reply");
        fake->statesBeforeReply = before;
        fake->afterAnswer = { State(LINECALLSTATE_CONNECTED) };
        connected = 0;
        line.WaitForCall();
        ASSERT_EQ(line.LineState, lsWaiting);
        FakePost(fake, { LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, 0, 0x600 });
        ASSERT_TRUE(zqtest::WaitUntil([&] { return connected == 1; }));
        EXPECT_EQ(line.LineState, lsConnected);
        EXPECT_EQ(line.CallHandle, 0x600u);
        line.HangUp();
    }
}

} // namespace
