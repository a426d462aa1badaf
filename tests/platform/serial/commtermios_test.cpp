#include "ptymaster.h"
#include "serialtestutil.h"
#include "stressbytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace serialtest;

namespace {

using zqtest::PtyMaster;

class CommTermiosTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(pty.slave.empty());
        handlesBefore = zq::kernel::OpenHandleCount();
        port = zq::serial::OpenCommPort(pty.slave);
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << SysErrorMessage(GetLastError());
    }
    void TearDown() override
    {
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
        EXPECT_EQ(zq::kernel::OpenHandleCount(), handlesBefore);
    }
    PtyMaster pty;
    int handlesBefore = 0;
    HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(CommTermiosTest, BytesBothWaysWithRxCharAndTxEmpty)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_TXEMPTY));
    EventWait wait(port);
    ASSERT_FALSE(wait.Start());
    ASSERT_TRUE(pty.Write("from far"));
    ASSERT_EQ(wait.Finish(), ERROR_SUCCESS);
    EXPECT_EQ(wait.mask & EV_RXCHAR, EV_RXCHAR);
    ASSERT_TRUE(WaitFor([&] { return QueuedIn(port) == 8; }));
    char buffer[8];
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(port, buffer, 8, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "from far");

    ASSERT_TRUE(WriteFile(port, "to far\n\r", 8, &n, nullptr));
    EXPECT_EQ(wait.Next(), EV_TXEMPTY);
    EXPECT_EQ(pty.Read(8), "to far\n\r"); // raw: no translation
}

TEST_F(CommTermiosTest, UnreadBytesStayQueued)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    EventWait wait(port);
    ASSERT_TRUE(pty.Write("abc"));
    EXPECT_EQ(wait.Next(), EV_RXCHAR);
    ASSERT_TRUE(WaitFor([&] { return QueuedIn(port) == 3; }));
    ASSERT_TRUE(pty.Write("de"));
    EXPECT_EQ(wait.Next(), EV_RXCHAR);
    ASSERT_TRUE(WaitFor([&] { return QueuedIn(port) == 5; }));
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_RXABORT));
    EXPECT_EQ(QueuedIn(port), 0u);
}

TEST_F(CommTermiosTest, TakingQueuedBytesLetsTheRestIn)
{
    ASSERT_TRUE(SetupComm(port, 16, 16));
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(pty.Write(text));
    std::string got;
    while (got.size() < text.size()) {
        ASSERT_TRUE(WaitFor([&] { return QueuedIn(port) > 0; }));
        const DWORD queued = QueuedIn(port);
        EXPECT_LE(queued, 16u);
        std::string chunk(queued, '\0');
        DWORD n = 0;
        ASSERT_TRUE(ReadFile(port, chunk.data(), queued, &n, nullptr)); // completes at once
        got += chunk.substr(0, n);
    }
    EXPECT_EQ(got, text);
}

TEST_F(CommTermiosTest, PseudoTerminalHasNoModemLines)
{
    DWORD status = 0xFF;
    ASSERT_TRUE(GetCommModemStatus(port, &status));
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(EscapeCommFunction(port, SETRTS));
    EXPECT_TRUE(EscapeCommFunction(port, CLRRTS));
    DCB dcb;
    ASSERT_TRUE(GetCommState(port, &dcb));
    const DWORD baud = dcb.BaudRate;
    DCB zero; // flow part only, as the comm component sends it
    zero.Flags = DCB_fBinary | (DTR_CONTROL_ENABLE << DCB_fDtrControlShift)
        | (RTS_CONTROL_ENABLE << DCB_fRtsControlShift);
    EXPECT_TRUE(SetCommState(port, &zero));
    ASSERT_TRUE(GetCommState(port, &dcb));
    EXPECT_EQ(dcb.BaudRate, baud);
    dcb.BaudRate = 19200;
    EXPECT_TRUE(SetCommState(port, &dcb));
    ASSERT_TRUE(GetCommState(port, &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    dcb.BaudRate = 12345;
    EXPECT_FALSE(SetCommState(port, &dcb));
}

TEST_F(CommTermiosTest, ClosingCompletesAPendingWait)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    EventWait wait(port);
    ASSERT_FALSE(wait.Start());
    ASSERT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    EXPECT_EQ(wait.Finish(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(wait.mask, 0u);
}

TEST_F(CommTermiosTest, FarEndHangingUpFailsTheWait)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    EventWait wait(port);
    ASSERT_FALSE(wait.Start());
    close(pty.fd);
    pty.fd = -1;
    EXPECT_EQ(wait.Finish(), ERROR_GEN_FAILURE);
    DWORD mask;
    OVERLAPPED ov;
    EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
}

TEST_F(CommTermiosTest, APortHasOneUserAtATime)
{
    EXPECT_EQ(zq::serial::OpenCommPort(pty.slave), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(CloseHandle(port));
    port = zq::serial::OpenCommPort(pty.slave);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
}

TEST(CommTermiosOpen, FailuresLeaveAReadableError)
{
    EXPECT_EQ(zq::serial::OpenCommPort("/dev/ttyNoSuchPort"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SysErrorMessage(GetLastError()), "The system cannot find the file specified.");
    EXPECT_EQ(zq::serial::OpenCommPort("/dev/null"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

// Opens the port, moves 1 MiB each way and closes it, over and over; nothing
// may be left behind. Under the sanitizers fewer rounds keep it quick.
TEST(CommTermiosStress, MegabyteEachWayManyTimes)
{
    PtyMaster pty;
    ASSERT_FALSE(pty.slave.empty());
    const int rounds = zqtest::StressRounds();
    constexpr size_t kSize = zqtest::StressBytes::kSize;
    const zqtest::StressBytes bytes;
    const std::string& out = bytes.out;
    const std::string& in = bytes.in;
    const int threadsBefore = ThreadCount();
    const int handlesBefore = zq::kernel::OpenHandleCount();
    for (int round = 0; round < rounds; ++round) {
        HANDLE port = zq::serial::OpenCommPort(pty.slave);
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << SysErrorMessage(GetLastError());
        std::string farGot;
        std::thread farReader([&] { farGot = pty.Read(kSize); });
        std::thread farWriter([&] { EXPECT_TRUE(pty.Write(in)); });

        OVERLAPPED wov;
        wov.hEvent = CreateEvent(TRUE, FALSE);
        if (!WriteFile(port, out.data(), kSize, nullptr, &wov)) {
            ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        }
        std::string got;
        std::vector<char> buffer(65536);
        while (got.size() < kSize) {
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min(buffer.size(), kSize - got.size()));
            ASSERT_TRUE(ReadFile(port, buffer.data(), want, &n, nullptr));
            got.append(buffer.data(), n);
        }
        DWORD written = 0;
        ASSERT_TRUE(GetOverlappedResult(port, &wov, &written, TRUE));
        farReader.join();
        farWriter.join();
        CloseHandle(wov.hEvent);
        ASSERT_TRUE(CloseHandle(port));
        ASSERT_EQ(written, kSize);
        ASSERT_TRUE(got == in) << "round " << round;
        ASSERT_TRUE(farGot == out) << "round " << round;
    }
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == threadsBefore; }));
    EXPECT_EQ(zq::kernel::OpenHandleCount(), handlesBefore);
}

} // namespace

// A pseudo-terminal has no RS-485 mode (TIOCSRS485 answers ENOTTY), so the
// toggle falls back to switching RTS around each write; bytes and TX empty
// go on as without it.
TEST_F(CommTermiosTest, RtsToggleFallsBackToSwitchingAroundWrites)
{
    DWORD how = 99;
    ASSERT_TRUE(zq::serial::GetCommRtsToggle(port, &how));
    EXPECT_EQ(how, zq::serial::RTS_TOGGLE_OFF);
    DCB dcb;
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.Flags = (dcb.Flags & ~DCB_fRtsControlMask) | (RTS_CONTROL_TOGGLE << DCB_fRtsControlShift);
    ASSERT_TRUE(SetCommState(port, &dcb)) << SysErrorMessage(GetLastError());
    ASSERT_TRUE(zq::serial::GetCommRtsToggle(port, &how));
    EXPECT_EQ(how, zq::serial::RTS_TOGGLE_BY_WRITE);

    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
    EventWait wait(port);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "toggled", 7, &n, nullptr));
    EXPECT_EQ(wait.Next(), EV_TXEMPTY);
    EXPECT_EQ(pty.Read(7), "toggled");

    dcb.Flags = (dcb.Flags & ~DCB_fRtsControlMask) | (RTS_CONTROL_ENABLE << DCB_fRtsControlShift);
    ASSERT_TRUE(SetCommState(port, &dcb));
    ASSERT_TRUE(zq::serial::GetCommRtsToggle(port, &how));
    EXPECT_EQ(how, zq::serial::RTS_TOGGLE_OFF);
}
