#include "eventwait.h"
#include "testio.h"

#include <gtest/gtest.h>

namespace {

class Processor : public ::testing::Test {
protected:
    RecordingLog log;
    TestIO io;
    TestProcessor proc;
    void SetUp() override { proc.SetLog(&log); }
};

TEST_F(Processor, LinkingRegistersOnceAndUnlinkingStopsNotices)
{
    proc.SetComm(&io);
    proc.SetComm(&io);
    EXPECT_EQ(io.NotifyList->Count(), 1);
    io.Open();
    io.Close();
    EXPECT_EQ(proc.codes, (std::vector<int> { NOTIFY_OPENED, NOTIFY_CLOSED }));
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "Medium Opened");
    EXPECT_EQ(log.lines[1], "Medium Closed");
    EXPECT_EQ(log.levels[1], 2);

    proc.SetComm(nullptr);
    EXPECT_EQ(io.NotifyList->Count(), 0);
    io.Open();
    io.Close();
    EXPECT_EQ(proc.codes.size(), 2u);
}

TEST_F(Processor, ChainingLinksTheSuccessorToTheSameComponent)
{
    TestProcessor next;
    proc.SetComm(&io);
    proc.SetNextProcessor(&proc);
    EXPECT_EQ(proc.NextProcessor(), nullptr);
    proc.SetNextProcessor(&next);
    EXPECT_EQ(next.Comm(), &io);
    EXPECT_EQ(io.NotifyList->Count(), 2);
    proc.SetNextProcessor(nullptr); // only clears the reference
    EXPECT_EQ(next.Comm(), &io);
}

TEST_F(Processor, ASecondDataProcessorLeavesTheFirstLinked)
{
    TestProcessor second;
    io.SetDataProcessor(&proc);
    io.SetDataProcessor(&second);
    EXPECT_EQ(proc.Comm(), &io);
    EXPECT_EQ(io.NotifyList->Count(), 2);
    io.SetDataProcessor(nullptr);
    EXPECT_EQ(second.Comm(), nullptr);
    EXPECT_EQ(proc.Comm(), &io);
}

TEST_F(Processor, BufferSendsGoThroughTheComponentAndAreLogged)
{
    proc.SetComm(&io);
    proc.DoDataSend("hello", 0);
    proc.DoDataSend(nullptr, 5);
    EXPECT_TRUE(log.lines.empty());
    proc.DoDataSend("hello", 5);
    EXPECT_EQ(io.sent, "hello");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.levels[0], 2);
    EXPECT_EQ(log.lines[0], "DoDataSend: 5 bytes");
}

TEST_F(Processor, AHookThatTakesTheSendRestartsTheTimerAndStillLogs)
{
    proc.SetComm(&io);
    bool isText = true;
    proc.OnDataSend
        = TDataSendEvent::Bind(&isText, nullptr, [&](TObject*, const void*, int, bool text, bool& handled) {
              isText = text;
              handled = true;
          });
    proc.DoDataSend("abc", 3);
    EXPECT_EQ(io.sent, "");
    EXPECT_FALSE(isText);
    EXPECT_TRUE(proc.Timer->Enabled());
    EXPECT_TRUE(proc.Timer->IsArmed());
    EXPECT_EQ(log.lines.size(), 1u);

    // String sends taken by the hook send and log nothing.
    proc.DoStringSend("xyz");
    EXPECT_TRUE(isText);
    EXPECT_EQ(io.sent, "");
    EXPECT_EQ(log.lines.size(), 1u);

    // One period after the last taken send the processor gets its
    // transmit-empty call, once.
    proc.StartTimer(20);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return proc.txEmpty == 1; }));
    EXPECT_FALSE(proc.Timer->IsArmed());
}

TEST_F(Processor, SendFailuresAndMissingLinksAreSilent)
{
    class Failing : public TestIO {
    public:
        void SendData(const void*, int) override { throw Exception("port gone"); }
    } failing;
    proc.DoDataSend("ab", 2); // no component: nothing sent, nothing logged
    proc.DoStringSend("ab");
    EXPECT_TRUE(log.lines.empty());
    proc.SetComm(&failing);
    EXPECT_NO_THROW(proc.DoDataSend("ab", 2));
    EXPECT_TRUE(log.lines.empty());
    proc.SetComm(nullptr);
}

TEST_F(Processor, DestroyedComponentUnlinks)
{
    auto* comm = new TestIO;
    proc.SetComm(comm);
    delete comm;
    EXPECT_EQ(proc.Comm(), nullptr);
    proc.DoDataSend("x", 1);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(Processor, FatalErrorRaisesEvenWhileLoadingUnlessTheHandlerDeclines)
{
    proc.BeginLoading();
    EXPECT_THROW(proc.FatalError(4, 19, "zqWave Error: x"), Exception);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "Fatal Error: 4, 19, zqWave Error: x");
    proc.Loaded();
    proc.OnFatalError = TOnFatalErrorEvent::Bind(
        &proc, nullptr, [](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) { raise = false; });
    EXPECT_NO_THROW(proc.FatalError(5, 1, "quiet"));
}

TEST_F(Processor, ReceivedDataPassesDownTheChain)
{
    TestProcessor tail;
    tail.handles = true;
    TzqCustomDataProcessor head;
    bool handled = false;
    head.ProcessData("x", 1, handled);
    EXPECT_FALSE(handled);
    head.SetNextProcessor(&tail);
    head.ProcessData("x", 1, handled);
    EXPECT_TRUE(handled);
}

} // namespace
