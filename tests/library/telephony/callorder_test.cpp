// Call control against a service whose call states come with, or even
// before, the reply to the request that made the call: the order in which
// the two arrive must not change what the line does.
#include "eventwait.h"
#include "scriptedlinetest.h"

#include "errorreport.h"

#include <gtest/gtest.h>

namespace {

class CallOrder : public ScriptedLineTest {
protected:
    int connected = 0, busy = 0, remoteDisconnects = 0, rings = 0;

    void SetUp() override
    {
        ScriptedLineTest::SetUp();
        AddDevice("Fake modem");
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

TEST_F(CallOrder, AFailedAddressTranslationIsAFailedCallAndDialsNothing)
{
    fake->translateFails = true;
    line.SetCountryCode(49);
    line.SetPhone("");
    line.MakeCall();
    ASSERT_EQ(fatals.seen.size(), 1u);
    EXPECT_EQ(fatals.seen[0].detail, 6u);
    EXPECT_NE(fatals.seen[0].message.find("zqTAPI Error: Call was fault"), std::string::npos);
    EXPECT_NE(fatals.seen[0].message.find("[80000010h]"), std::string::npos);
    fatals.seen.clear();
    EXPECT_TRUE(fake->dialled.empty());
    EXPECT_EQ(line.LineState, lsIdle);
    EXPECT_EQ(line.CallHandle, 0u);
    EXPECT_EQ(fake->openLines, 0);
    EXPECT_EQ(line.LineAppHandle, 0u);
}

TEST_F(CallOrder, ADeviceRefreshWaitsUntilTheCallHasClosedTheLine)
{
    int refreshed = 0;
    line.RegisterNotify(
        TNotifyHandler::Bind(this, "n", [&](TzqBaseIO*, int code) { refreshed += code == 3; }));
    // A modem arrives; the call's registration already sees it.
    fake->devices.push_back(fake->devices.front());
    fake->devices.back().name = "Second modem";
    fake->afterMakeCall = { State(LINECALLSTATE_CONNECTED) };
    line.SetPhone("1002");
    line.MakeCall();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return connected == 1; }));
    line.DevicesChanged();
    EXPECT_EQ(refreshed, 0);
    EXPECT_EQ(line.DeviceCount(), 1);
    EXPECT_EQ(line.LineState, lsConnected);
    EXPECT_EQ(fake->openLines, 1);
    line.HangUp();
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(line.DeviceCount(), 2);
}

TEST_F(CallOrder, ACallThatNeverGoesIdleIsReleasedAfterTheWait)
{
    fake->afterMakeCall = { State(LINECALLSTATE_CONNECTED) };
    fake->dropGoesIdle = false;
    line.SetPhone("1002");
    line.MakeCall();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return connected == 1; }));
    line.HangUp(); // returns once the bounded wait for idle has run out
    EXPECT_EQ(fake->drops, 1);
    EXPECT_EQ(fake->deallocated, 1);
    EXPECT_EQ(line.CallHandle, 0u);
    EXPECT_EQ(line.LineState, lsIdle);
    EXPECT_TRUE(log.Has("zqCommTAPI: Call closed"));
}

// Failures inside the line callback: each is reported once, with one box,
// and the line goes on.
class CallbackFailures : public CallOrder {
protected:
    int handlerCalls = 0;
    std::vector<Cardinal> details;
    std::vector<std::string> boxes;
    zq::ui::ErrorReportHook savedHook;

    void SetUp() override
    {
        CallOrder::SetUp();
        // The handler lets the report raise, as a program without its own
        // handling does.
        line.OnFatalError = TOnFatalErrorEvent::Bind(
            this, "f", [this](TObject*, Cardinal, Cardinal detail, const std::string&, bool&) {
                ++handlerCalls;
                details.push_back(detail);
            });
        savedHook
            = zq::ui::SetErrorReportHook([this](const zq::ui::ErrorReport& r) { boxes.push_back(r.text); });
    }
    void TearDown() override
    {
        line.OnFatalError = fatals.Event();
        CallOrder::TearDown();
        zq::ui::SetErrorReportHook(savedHook);
    }
    int FatalLines() const
    {
        int n = 0;
        for (const auto& l : log.lines)
            n += l.rfind("Fatal Error: ", 0) == 0;
        return n;
    }
};

TEST_F(CallbackFailures, AFailedAnswerIsReportedOnceAndTheOfferedCallReleased)
{
    fake->answerResult = static_cast<LONG>(LINEERR_OPERATIONFAILED);
    line.WaitForCall();
    FakePost(fake, { LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, 0, 0x600 });
    ASSERT_TRUE(zqtest::WaitUntil([&] { return rings == 1 && !boxes.empty(); }));
    zq::kernel::ProcessMessages();
    EXPECT_EQ(handlerCalls, 1);
    EXPECT_EQ(details, std::vector<Cardinal> { 9 });
    EXPECT_EQ(FatalLines(), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Aswer on the incoming call was fault"), std::string::npos);
    EXPECT_EQ(fake->deallocated, 1);
    EXPECT_EQ(line.CallHandle, 0u);
    // The line still waits and answers the next offer.
    fake->answerResult = 0;
    fake->afterAnswer = { State(LINECALLSTATE_CONNECTED) };
    FakePost(fake, { LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, 0, 0x601 });
    ASSERT_TRUE(zqtest::WaitUntil([&] { return connected == 1; }));
    EXPECT_EQ(line.CallHandle, 0x601u);
}

TEST_F(CallbackFailures, AThrowingEventHandlerIsReportedOnceAtTheCallbackBoundary)
{
    line.OnLineConnected = TNotifyEvent::Bind(this, "c", [this](TObject*) {
        ++connected;
        throw Exception("the program's handler failed");
    });
    fake->afterMakeCall = { State(LINECALLSTATE_CONNECTED) };
    line.SetPhone("1002");
    line.MakeCall();
    ASSERT_TRUE(zqtest::WaitUntil([&] { return connected == 1 && !boxes.empty(); }));
    zq::kernel::ProcessMessages();
    EXPECT_EQ(handlerCalls, 1);
    EXPECT_EQ(details, std::vector<Cardinal> { 0 });
    EXPECT_EQ(FatalLines(), 1);
    EXPECT_EQ(boxes, std::vector<std::string> { "the program's handler failed" });
    EXPECT_EQ(line.LineState, lsConnected);
}

} // namespace
