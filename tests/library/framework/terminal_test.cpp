#include "testio.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

namespace {

class Terminal : public ::testing::Test {
protected:
    TestIO io;
    QLineEdit edit;
    void SetUp() override { io.SetTerminal(&edit); }
    void TearDown() override { io.SetTerminal(nullptr); }
    void Receive(const std::string& bytes)
    {
        io.DoReceive(bytes.data(), static_cast<Cardinal>(bytes.size()));
    }
};

TEST_F(Terminal, SendUsageSendsTypedKeysAndShowsNothingReceived)
{
    io.SetTerminalUsage(tuSend);
    QTest::keyClicks(&edit, "ab");
    EXPECT_EQ(io.sent, "ab");
    EXPECT_EQ(edit.text(), ""); // no echo: keys are consumed
    Receive("xyz");
    EXPECT_EQ(edit.text(), ""); // TerminalWindow is 0
}

TEST_F(Terminal, EchoLetsTypedKeysAppearToo)
{
    io.SetTerminalUsage(tuBoth);
    io.TerminalEcho = true;
    QTest::keyClicks(&edit, "ok");
    EXPECT_EQ(io.sent, "ok");
    EXPECT_EQ(edit.text(), "ok");
}

TEST_F(Terminal, ReceiveUsageShowsDataAndSendsNoKeys)
{
    io.SetTerminalUsage(tuReceive);
    QTest::keyClicks(&edit, "k");
    EXPECT_EQ(io.sent, "");
    EXPECT_EQ(edit.text(), "k");
    Receive("hello");
    EXPECT_EQ(edit.text(), "khello");
}

TEST_F(Terminal, WrittenBytesAreNotSentBack)
{
    io.SetTerminalUsage(tuBoth);
    Receive("Q");
    Receive("RS");
    EXPECT_EQ(edit.text(), "QRS");
    EXPECT_EQ(io.sent, "");
}

TEST_F(Terminal, OneByteBackspaceErasesWhileAChunkInsertsIt)
{
    io.SetTerminalUsage(tuReceive);
    Receive("abc");
    Receive("\b");
    EXPECT_EQ(edit.text(), "ab");
    Receive(std::string("x\by", 3));
    EXPECT_EQ(edit.text(), QString("abx\by"));
}

TEST_F(Terminal, NulSeparatedPiecesAreJoinedAndReplaceTheSelection)
{
    io.SetTerminalUsage(tuReceive);
    edit.setText("0123");
    edit.setSelection(1, 2);
    Receive(std::string("AB\0CD", 5));
    EXPECT_EQ(edit.text(), "0ABCD3");
    // Nothing beyond the count is read: the piece stops at Count.
    const char bytes[] = { 'E', 'F', 'G' };
    io.DoReceive(bytes, 2);
    EXPECT_EQ(edit.text(), "0ABCDEF3");
}

TEST_F(Terminal, HandledDataStaysOutOfTheTerminalButStillReachesOnAfterReceive)
{
    io.SetTerminalUsage(tuReceive);
    TestProcessor proc;
    proc.handles = true;
    io.SetDataProcessor(&proc);
    std::string after;
    io.OnAfterReceive = TOnReceived::Bind(&after, nullptr,
        [&](TObject*, const void* b, Cardinal n) { after.assign(static_cast<const char*>(b), n); });
    Receive("data");
    EXPECT_EQ(edit.text(), "");
    EXPECT_EQ(after, "data");
    io.SetDataProcessor(nullptr);
}

TEST(TerminalPlainText, ReceivedTextGoesToTheCaret)
{
    TestIO io;
    QPlainTextEdit edit;
    io.SetTerminal(&edit);
    io.SetTerminalUsage(tuReceive);
    const std::string s = "line1\nline2";
    io.DoReceive(s.data(), static_cast<Cardinal>(s.size()));
    EXPECT_EQ(edit.toPlainText(), "line1\nline2");
    io.SetTerminal(nullptr);
    QTest::keyClicks(&edit, "z"); // unhooked: the edit is on its own again
    EXPECT_EQ(io.sent, "");
}

} // namespace
