#include "commpair.h"
#include "serialtestutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace serialtest;

namespace {

class CommPairTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        handlesBefore = zq::kernel::OpenHandleCount();
        ASSERT_TRUE(zq::serial::CreateCommPortPair(&a, &b));
        SetBaud(a, 1000000);
        SetBaud(b, 1000000);
    }
    void TearDown() override
    {
        if (a != INVALID_HANDLE_VALUE)
            CloseHandle(a);
        if (b != INVALID_HANDLE_VALUE)
            CloseHandle(b);
        EXPECT_EQ(zq::kernel::OpenHandleCount(), handlesBefore);
    }
    static void SetBaud(HANDLE h, DWORD baud)
    {
        DCB dcb;
        ASSERT_TRUE(GetCommState(h, &dcb));
        dcb.BaudRate = baud;
        ASSERT_TRUE(SetCommState(h, &dcb));
    }
    static void WriteAll(HANDLE h, const std::string& s)
    {
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &n, nullptr));
        EXPECT_EQ(n, s.size());
    }
    static std::string ReadAll(HANDLE h, DWORD count)
    {
        std::string s(count, '\0');
        DWORD n = 0;
        EXPECT_TRUE(ReadFile(h, s.data(), count, &n, nullptr));
        s.resize(n);
        return s;
    }

    int handlesBefore = 0;
    HANDLE a = INVALID_HANDLE_VALUE;
    HANDLE b = INVALID_HANDLE_VALUE;
};

TEST_F(CommPairTest, BytesCrossInOrderAndRaiseRxChar)
{
    ASSERT_TRUE(SetCommMask(b, EV_RXCHAR));
    EventWait wait(b);
    ASSERT_FALSE(wait.Start());
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);

    WriteAll(a, "hello, line");
    ASSERT_EQ(wait.Finish(), ERROR_SUCCESS);
    EXPECT_EQ(wait.mask, EV_RXCHAR);
    ASSERT_TRUE(WaitFor([&] { return QueuedIn(b) == 11; }));
    EXPECT_EQ(ReadAll(b, 11), "hello, line");

    WriteAll(b, "back");
    EXPECT_EQ(ReadAll(a, 4), "back");
}

TEST_F(CommPairTest, EventsWhileNobodyWaitsAreKeptForTheNextWait)
{
    ASSERT_TRUE(SetCommMask(b, EV_RXCHAR | EV_DSR));
    WriteAll(a, "x");
    ASSERT_TRUE(WaitFor([&] { return QueuedIn(b) == 1; }));
    ASSERT_TRUE(zq::serial::SetCommPairModemStatus(b, MS_DSR_ON, MS_DSR_ON));
    EventWait wait(b);
    ASSERT_TRUE(wait.Start()); // completes at once
    EXPECT_EQ(wait.mask, EV_RXCHAR | EV_DSR);
    // Unread bytes stay queued; a new byte raises the event again.
    ASSERT_FALSE(wait.Start());
    WriteAll(a, "y");
    ASSERT_EQ(wait.Finish(), ERROR_SUCCESS);
    EXPECT_EQ(wait.mask, EV_RXCHAR);
    ASSERT_TRUE(WaitFor([&] { return QueuedIn(b) == 2; }));
}

TEST_F(CommPairTest, ClearingTheMaskOrClosingCompletesAPendingWait)
{
    ASSERT_TRUE(SetCommMask(b, EV_RXCHAR));
    EventWait wait(b);
    ASSERT_FALSE(wait.Start());
    ASSERT_TRUE(SetCommMask(b, 0));
    EXPECT_EQ(wait.Finish(), ERROR_SUCCESS);
    EXPECT_EQ(wait.mask, 0u);

    // An empty mask refuses a wait and leaves the caller's mask alone.
    DWORD mask = 0;
    OVERLAPPED ov;
    ov.hEvent = wait.ov.hEvent;
    EXPECT_FALSE(WaitCommEvent(b, &mask, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(mask, 0u);

    ASSERT_TRUE(SetCommMask(b, EV_RXCHAR));
    ASSERT_FALSE(wait.Start());
    EXPECT_FALSE(WaitCommEvent(b, &mask, &ov)); // one wait at a time
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(CloseHandle(b));
    b = INVALID_HANDLE_VALUE;
    EXPECT_EQ(wait.Finish(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(wait.mask, 0u);
    // The other side carries on into nothing.
    WriteAll(a, "nobody listens");
}

TEST_F(CommPairTest, ModemLinesAndTheirEvents)
{
    DWORD status = 1;
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(status, 0u);
    ASSERT_TRUE(SetCommMask(b, EV_CTS | EV_DSR | EV_RLSD | EV_RING));
    EventWait wait(b);
    ASSERT_TRUE(zq::serial::SetCommPairModemStatus(b, MS_CTS_ON | MS_RLSD_ON, MS_CTS_ON | MS_RLSD_ON));
    EXPECT_EQ(wait.Next(), EV_CTS | EV_RLSD);
    ASSERT_TRUE(zq::serial::SetCommPairModemStatus(b, MS_RING_ON, MS_RING_ON));
    EXPECT_EQ(wait.Next(), EV_RING);
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(status, MS_CTS_ON | MS_RLSD_ON | MS_RING_ON);
    // A ring going off is no ring.
    ASSERT_TRUE(zq::serial::SetCommPairModemStatus(b, MS_RING_ON | MS_DSR_ON, MS_DSR_ON));
    EXPECT_EQ(wait.Next(), EV_DSR);

    DWORD lines = 0;
    ASSERT_TRUE(EscapeCommFunction(a, SETRTS));
    ASSERT_TRUE(zq::serial::GetCommPairOutputLines(a, &lines));
    EXPECT_EQ(lines & zq::serial::PAIR_RTS_ON, zq::serial::PAIR_RTS_ON);
    ASSERT_TRUE(EscapeCommFunction(a, CLRRTS));
    ASSERT_TRUE(zq::serial::GetCommPairOutputLines(a, &lines));
    EXPECT_EQ(lines & zq::serial::PAIR_RTS_ON, 0u);
    EXPECT_FALSE(EscapeCommFunction(a, 77));
}

TEST_F(CommPairTest, InjectedErrorsAreReportedOnceAndBreakRaisesItsEvent)
{
    ASSERT_TRUE(SetCommMask(b, EV_ERR | EV_BREAK | EV_RXCHAR));
    EventWait wait(b);
    ASSERT_TRUE(zq::serial::InjectCommErrors(b, CE_FRAME));
    EXPECT_EQ(wait.Next(), EV_ERR);
    ASSERT_TRUE(EscapeCommFunction(a, SETBREAK)); // a break on the line
    EXPECT_EQ(wait.Next(), EV_BREAK);
    ASSERT_TRUE(EscapeCommFunction(a, CLRBREAK));
    DWORD errors = 0;
    COMSTAT st;
    ASSERT_TRUE(ClearCommError(b, &errors, &st));
    EXPECT_EQ(errors, CE_FRAME | CE_BREAK);
    ASSERT_TRUE(ClearCommError(b, &errors, &st));
    EXPECT_EQ(errors, 0u);
}

TEST_F(CommPairTest, OutputDrainsAtTheBaudRateThenReportsTxEmpty)
{
    SetBaud(a, 300); // 30 bytes a second
    ASSERT_TRUE(SetCommMask(a, EV_TXEMPTY));
    EventWait wait(a);
    ASSERT_FALSE(wait.Start());
    const std::string text(30, 'z');
    OVERLAPPED ov;
    ov.hEvent = CreateEvent(TRUE, FALSE);
    if (!WriteFile(a, text.data(), 30, nullptr, &ov)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    EXPECT_EQ(wait.Finish(), ERROR_SUCCESS);
    EXPECT_EQ(wait.mask, EV_TXEMPTY);
    EXPECT_EQ(QueuedOut(a), 0u);
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(a, &ov, &n, TRUE));
    EXPECT_EQ(n, 30u);
    EXPECT_EQ(ReadAll(b, 30), text);
    CloseHandle(ov.hEvent);
}

TEST_F(CommPairTest, CtsFlowControlHoldsTheOutput)
{
    DCB dcb;
    ASSERT_TRUE(GetCommState(a, &dcb));
    dcb.Flags |= DCB_fOutxCtsFlow;
    ASSERT_TRUE(SetCommState(a, &dcb));
    OVERLAPPED ov;
    ov.hEvent = CreateEvent(TRUE, FALSE);
    ASSERT_FALSE(WriteFile(a, "held", 4, nullptr, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    DWORD errors;
    COMSTAT st;
    ASSERT_TRUE(ClearCommError(a, &errors, &st));
    EXPECT_EQ(st.Flags & COMSTAT_fCtsHold, COMSTAT_fCtsHold);
    EXPECT_EQ(st.cbOutQue, 4u);
    ASSERT_TRUE(zq::serial::SetCommPairModemStatus(a, MS_CTS_ON, MS_CTS_ON));
    EXPECT_EQ(ReadAll(b, 4), "held");
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(a, &ov, &n, TRUE));
    CloseHandle(ov.hEvent);
}

TEST_F(CommPairTest, AFullInputQueueHoldsTheLineWithoutLoss)
{
    ASSERT_TRUE(SetupComm(b, 16, 16));
    std::string text;
    for (int i = 0; i < 64; ++i)
        text += static_cast<char>('A' + i % 26);
    OVERLAPPED ov;
    ov.hEvent = CreateEvent(TRUE, FALSE);
    WriteFile(a, text.data(), 64, nullptr, &ov);
    ASSERT_TRUE(WaitFor([&] { return QueuedIn(b) == 16 && QueuedOut(a) == 48; }));
    EXPECT_EQ(ReadAll(b, 64), text);
    DWORD errors = 0;
    COMSTAT st;
    ASSERT_TRUE(ClearCommError(b, &errors, &st));
    EXPECT_EQ(errors, 0u);
    CloseHandle(ov.hEvent);
}

TEST_F(CommPairTest, ZeroLineSettingsKeepThePortsLine)
{
    DCB dcb;
    dcb.Flags = DCB_fBinary | (DTR_CONTROL_ENABLE << DCB_fDtrControlShift)
        | (RTS_CONTROL_ENABLE << DCB_fRtsControlShift);
    dcb.EvtChar = '#';
    ASSERT_TRUE(SetCommState(a, &dcb));
    DCB now;
    ASSERT_TRUE(GetCommState(a, &now));
    EXPECT_EQ(now.BaudRate, 1000000u);
    EXPECT_EQ(now.ByteSize, 8);
    EXPECT_EQ(now.EvtChar, '#');
    DWORD lines = 0;
    ASSERT_TRUE(zq::serial::GetCommPairOutputLines(a, &lines));
    EXPECT_EQ(lines, zq::serial::PAIR_RTS_ON | zq::serial::PAIR_DTR_ON);
    dcb.ByteSize = 9;
    EXPECT_FALSE(SetCommState(a, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(CommPairTest, EventCharacterRaisesRxFlag)
{
    DCB dcb;
    ASSERT_TRUE(GetCommState(b, &dcb));
    dcb.EvtChar = '\r';
    ASSERT_TRUE(SetCommState(b, &dcb));
    ASSERT_TRUE(SetCommMask(b, EV_RXFLAG));
    EventWait wait(b);
    WriteAll(a, "no flag");
    WriteAll(a, "flag\r");
    EXPECT_EQ(wait.Next(), EV_RXFLAG);
}

TEST_F(CommPairTest, ReadAndWriteTimeoutsCompleteWithWhatWasMoved)
{
    COMMTIMEOUTS t;
    t.ReadTotalTimeoutConstant = 20;
    t.WriteTotalTimeoutConstant = 20;
    ASSERT_TRUE(SetCommTimeouts(b, &t));
    ASSERT_TRUE(SetCommTimeouts(a, &t));
    WriteAll(a, "ab");
    EXPECT_EQ(ReadAll(b, 10), "ab");

    // Held by CTS, a write ends at its time-out having sent nothing.
    DCB dcb;
    ASSERT_TRUE(GetCommState(a, &dcb));
    dcb.Flags |= DCB_fOutxCtsFlow;
    ASSERT_TRUE(SetCommState(a, &dcb));
    DWORD n = 99;
    EXPECT_TRUE(WriteFile(a, "xyz", 3, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(QueuedOut(a), 0u);

    // With "return at once" a read takes what is queued, even nothing.
    t = COMMTIMEOUTS {};
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    ASSERT_TRUE(SetCommTimeouts(b, &t));
    char c;
    OVERLAPPED ov;
    EXPECT_TRUE(ReadFile(b, &c, 1, &n, &ov));
    EXPECT_EQ(n, 0u);
}

TEST_F(CommPairTest, CancelIoTouchesOnlyTheCallersRequests)
{
    ASSERT_TRUE(SetCommMask(b, EV_RXCHAR));
    EventWait wait(b);
    ASSERT_FALSE(wait.Start());
    char buffer[4];
    OVERLAPPED readOv;
    readOv.hEvent = CreateEvent(TRUE, FALSE);
    std::thread([&] {
        ASSERT_FALSE(ReadFile(b, buffer, 4, nullptr, &readOv));
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    }).join();
    ASSERT_TRUE(CancelIo(b));
    EXPECT_EQ(wait.Finish(), ERROR_OPERATION_ABORTED);
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(b, &readOv, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    ASSERT_TRUE(PurgeComm(b, PURGE_RXABORT | PURGE_RXCLEAR));
    EXPECT_FALSE(GetOverlappedResult(b, &readOv, &n, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    CloseHandle(readOv.hEvent);
}

TEST_F(CommPairTest, RequestBlockWithoutEventSignalsThePort)
{
    OVERLAPPED ov; // hEvent 0
    char buffer[3];
    ASSERT_FALSE(ReadFile(b, buffer, 3, nullptr, &ov));
    WriteAll(a, "abc");
    DWORD n = 0;
    ASSERT_TRUE(GetOverlappedResult(b, &ov, &n, TRUE));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST(CommPairHandles, BadHandlesAreRefused)
{
    DWORD errors;
    EXPECT_FALSE(ClearCommError(INVALID_HANDLE_VALUE, &errors, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE event = CreateEvent(FALSE, FALSE);
    EXPECT_FALSE(SetCommMask(event, EV_RXCHAR)); // not a port
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(zq::serial::SetCommPairModemStatus(event, MS_CTS_ON, MS_CTS_ON));
    CloseHandle(event);
}

} // namespace

TEST_F(CommPairTest, RtsToggleRaisesRtsWhileSendingAndThePeerSeesItAsCts)
{
    DCB dcb;
    ASSERT_TRUE(GetCommState(a, &dcb));
    dcb.Flags = (dcb.Flags & ~DCB_fRtsControlMask) | (RTS_CONTROL_TOGGLE << DCB_fRtsControlShift);
    ASSERT_TRUE(SetCommState(a, &dcb));
    DWORD lines = 1;
    ASSERT_TRUE(zq::serial::GetCommPairOutputLines(a, &lines));
    EXPECT_EQ(lines & zq::serial::PAIR_RTS_ON, 0u); // idle: nothing to send
    DWORD how = 0;
    ASSERT_TRUE(zq::serial::GetCommRtsToggle(a, &how));
    EXPECT_EQ(how, zq::serial::RTS_TOGGLE_BY_WRITE);

    // A small input queue on the far side holds the line, and with it RTS,
    // until the far side reads.
    ASSERT_TRUE(SetupComm(b, 16, 16));
    ASSERT_TRUE(SetCommMask(b, EV_CTS));
    ASSERT_TRUE(SetCommMask(a, EV_TXEMPTY));
    EventWait peer(b);
    EventWait sender(a);
    const std::string data(40, 'r');
    OVERLAPPED ov;
    ov.hEvent = CreateEvent(TRUE, FALSE);
    WriteFile(a, data.data(), static_cast<DWORD>(data.size()), nullptr, &ov);
    EXPECT_EQ(peer.Next(), EV_CTS);
    ASSERT_TRUE(WaitFor([&] { return QueuedIn(b) == 16; }));
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(status & MS_CTS_ON, MS_CTS_ON);
    ASSERT_TRUE(zq::serial::GetCommPairOutputLines(a, &lines));
    EXPECT_EQ(lines & zq::serial::PAIR_RTS_ON, zq::serial::PAIR_RTS_ON);

    std::string got;
    while (got.size() < data.size()) {
        ASSERT_TRUE(WaitFor([&] { return QueuedIn(b) > 0; }));
        got += ReadAll(b, QueuedIn(b));
    }
    EXPECT_EQ(got, data);
    DWORD written = 0;
    EXPECT_TRUE(GetOverlappedResult(a, &ov, &written, TRUE));
    CloseHandle(ov.hEvent);
    // Once the last byte has left, RTS drops before the sender hears of it.
    EXPECT_EQ(sender.Next(), EV_TXEMPTY);
    ASSERT_TRUE(zq::serial::GetCommPairOutputLines(a, &lines));
    EXPECT_EQ(lines & zq::serial::PAIR_RTS_ON, 0u);
    EXPECT_EQ(peer.Next(), EV_CTS);
    ASSERT_TRUE(GetCommModemStatus(b, &status));
    EXPECT_EQ(status & MS_CTS_ON, 0u);

    // Leaving the toggle for a fixed level takes the level.
    dcb.Flags = (dcb.Flags & ~DCB_fRtsControlMask) | (RTS_CONTROL_ENABLE << DCB_fRtsControlShift);
    ASSERT_TRUE(SetCommState(a, &dcb));
    ASSERT_TRUE(zq::serial::GetCommPairOutputLines(a, &lines));
    EXPECT_EQ(lines & zq::serial::PAIR_RTS_ON, zq::serial::PAIR_RTS_ON);
}
