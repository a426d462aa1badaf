// The component on a port: defaults, opening and closing, the port state it
// writes, sending, purging, errors and monitors.
#include "commtestutil.h"
#include "zqwin32.h"

#include <QCheckBox>
#include <QLabel>

#include <gtest/gtest.h>

#include <QMetaProperty>
#include <algorithm>
#include <any>

using namespace commtest;

namespace {

class ZqCommTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        comm = new TestComm(&owner);
        log = new RecordingLog(&owner);
        comm->SetLog(log);
        comm->LogPrefix = "TestComm: ";
        comm->opener = [this] { return line.OpenNear(); };
    }
    void TearDown() override { delete comm; }

    QObject owner;
    PairEnd line;
    TestComm* comm = nullptr;
    RecordingLog* log = nullptr;
};

TEST(ZqCommDefaults, Construction)
{
    TestComm comm;
    EXPECT_EQ(comm.BufferInSize(), 8192);
    EXPECT_EQ(comm.BufferOutSize(), 8192);
    EXPECT_EQ(comm.TimeoutRead(), 0u);
    EXPECT_EQ(comm.TimeoutWrite(), 100u);
    EXPECT_TRUE(comm.TraceStates().Empty());
    EXPECT_EQ(comm.EventChar(), '\0');
    EXPECT_EQ(comm.PortState.DCBlength, 28u);
    EXPECT_EQ(comm.PortState.Flags, 0u);
    EXPECT_FALSE(comm.ManualRtsToggle); // the platform toggles RTS itself
    EXPECT_FALSE(comm.IsOpened());
    EXPECT_EQ(comm.ReceiveBuffer, nullptr);
    EXPECT_EQ(comm.MonitorCTS(), nullptr);
    EXPECT_EQ(comm.property("TimeoutWrite").toUInt(), 100u);
}

TEST(ZqCommDefaults, CloseOfANeverOpenedPortTracesTxEmptyAndUnchecksMonitors)
{
    TestComm comm;
    QCheckBox cts, dsr, rlsd, ring;
    for (QCheckBox* box : { &cts, &dsr, &rlsd, &ring })
        box->setChecked(true);
    comm.SetMonitorCTS(&cts);
    comm.SetMonitorDSR(&dsr);
    comm.SetMonitorRLSD(&rlsd);
    comm.SetMonitorRing(&ring);
    std::vector<TTraceStates> traces;
    comm.OnTraceState
        = TOnTraceEvent::Bind(&comm, nullptr, [&](TObject*, TTraceStates s) { traces.push_back(s); });
    comm.Close();
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0], TTraceStates({ tsTxEmpty }));
    EXPECT_FALSE(cts.isChecked());
    EXPECT_FALSE(dsr.isChecked());
    EXPECT_FALSE(rlsd.isChecked());
    EXPECT_TRUE(ring.isChecked()); // the ring monitor is only ever switched on
}

TEST(ZqCommDefaults, OpenFailureReportsTheDeviceAndTheSystemText)
{
    TestComm comm;
    comm.opener = [] { return zq::serial::OpenCommPort("/dev/ttyNoSuchPort"); };
    std::string reported;
    comm.OnFatalError = TOnFatalErrorEvent::Bind(
        &comm, nullptr, [&](TObject*, Cardinal code, Cardinal, const std::string& msg, bool& raise) {
            EXPECT_EQ(code, 1u);
            reported = msg;
            raise = false;
        });
    comm.Open();
    EXPECT_FALSE(comm.IsOpened());
    EXPECT_EQ(
        comm.OpenErrorText, "Device \"TESTPORT\" Open Error !!!\rThe system cannot find the file specified.");
    EXPECT_EQ(reported, comm.OpenErrorText);

    comm.OnFatalError = nullptr;
    EXPECT_THROW(comm.Open(), Exception);
}

TEST_F(ZqCommTest, OpenConfiguresThePortAndKeepsItsLine)
{
    std::vector<int> codes;
    TzqCustomDataProcessor processor(&owner);
    comm->RegisterNotify(
        TNotifyHandler::Bind(&codes, nullptr, [&](TzqBaseIO*, int c) { codes.push_back(c); }));
    comm->SetEventChar('\r');
    comm->SetTraceStates({ tsCTS, tsRing, tsTxEmpty });
    comm->Open();
    ASSERT_TRUE(comm->IsOpened());
    EXPECT_TRUE(log->Has("TestComm: The port TESTPORT is opened succesfully"));
    EXPECT_EQ(codes, std::vector<int>({ NOTIFY_OPENED }));
    EXPECT_NE(comm->ReceiveBuffer, nullptr);
    EXPECT_EQ(comm->ReceiveBufferSize(), 8192u);

    DCB dcb;
    ASSERT_TRUE(GetCommState(comm->Handle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 1000000u); // zero line settings leave the line alone
    EXPECT_EQ(dcb.Flags, 0x1011u);
    EXPECT_EQ(dcb.EvtChar, '\r');
    EXPECT_EQ(dcb.XonLim, 2048);
    EXPECT_EQ(dcb.XoffChar, 19);
    DWORD mask = 0;
    ASSERT_TRUE(GetCommMask(comm->Handle, &mask));
    EXPECT_EQ(mask, EV_RXCHAR | EV_CTS | EV_RING | EV_TXEMPTY);
    COMMTIMEOUTS t;
    ASSERT_TRUE(GetCommTimeouts(comm->Handle, &t));
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
    comm->SetTimeoutRead(7);
    ASSERT_TRUE(GetCommTimeouts(comm->Handle, &t));
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 7u);

    comm->Close();
    EXPECT_FALSE(comm->IsOpened());
    EXPECT_EQ(comm->ReceiveBuffer, nullptr);
    EXPECT_TRUE(log->Has("TestComm: The port is closed succesfully"));
    EXPECT_EQ(codes, std::vector<int>({ NOTIFY_OPENED, NOTIFY_CLOSED }));
}

TEST(ZqCommState, FlowControlArithmetic)
{
    TestComm comm;
    comm.PortState.Flags = 0xFFFF;
    comm.UpdateCommState();
    EXPECT_EQ(comm.PortState.Flags, (0xFFFFu & 0x4CEA) | 0x1011);
    comm.StreamProtocol = spXonXoff;
    comm.UpdateCommState();
    EXPECT_EQ(comm.PortState.Flags, 0x4CEAu | 0x1311);
    comm.StreamProtocol = spHardware;
    comm.UpdateCommState();
    EXPECT_EQ(comm.PortState.Flags, 0x4CEAu | 0x2015);
    comm.RtsToggle = true;
    comm.UpdateCommState();
    EXPECT_EQ(comm.PortState.Flags, 0x4CEAu | 0x3011);
    EXPECT_EQ(comm.PortState.XonChar, 17);
    EXPECT_EQ(comm.PortState.XoffLim, 2048);
    EXPECT_EQ(comm.PortState.BaudRate, 0u);
    EXPECT_EQ(comm.PortState.ByteSize, 0);
}

TEST_F(ZqCommTest, SendLogLinesAndBytes)
{
    comm->Open();
    comm->SendChar('\n');
    comm->SendString("AT");
    comm->SendString("");
    std::string data = "xyz";
    comm->SendData(data.data(), 3);
    data = "---"; // the component took its own copy
    comm->SendData(nullptr, 0);
    EXPECT_EQ(line.Read(6), "\nATxyz");
    const std::vector<std::string> expected = {
        "TestComm: Try to send char  Ah ...",
        "TestComm: Try to send string AT ...",
        "TestComm: Try to send the data with 3 length ...",
        "TestComm: ... the data transmittion is OK!",
        "TestComm: Try to send the data with 0 length ...",
        "TestComm: ... the data transmittion is OK!",
    };
    std::vector<std::string> sends;
    for (const auto& l : log->lines)
        if (l.find("send") != std::string::npos || l.find("transmittion") != std::string::npos)
            sends.push_back(l);
    EXPECT_EQ(sends, expected);
}

TEST_F(ZqCommTest, SendsOnAClosedPortDoNothing)
{
    comm->SendChar('a');
    comm->SendString("abc");
    comm->SendData("abc", 3);
    comm->PurgeAll();
    EXPECT_TRUE(log->lines.empty());
}

TEST_F(ZqCommTest, NegativeSendLengthIsRefused)
{
    std::vector<Cardinal> errors;
    CollectErrors(*comm, errors);
    comm->Open();
    comm->SendData("abc", -1);
    EXPECT_EQ(errors, std::vector<Cardinal>({ 0, ERROR_INVALID_PARAMETER }));
}

TEST_F(ZqCommTest, CommErrorLogsAndPurgesWhenAsked)
{
    comm->OnCommError = TOnCommErrorEvent::Bind(
        comm, nullptr, [&](TObject*, Cardinal, Cardinal, TComStateFlags, bool& flush) { flush = true; });
    comm->Open();
    line.Write("queued");
    ASSERT_TRUE(zqtest::WaitUntil([&] { return QueuedIn(comm->Handle) == 6; }));
    comm->CommError(CE_FRAME, 0, {});
    EXPECT_TRUE(log->Has("TestComm: Communication Error 8:0"));
    EXPECT_EQ(QueuedIn(comm->Handle), 0u);
}

TEST_F(ZqCommTest, BufferSizesWhileOpenReachThePortButNotTheBuffer)
{
    comm->Open();
    comm->SetBufferInSize(16);
    OVERLAPPED ov;
    const std::string text(40, 'q');
    WriteFile(line.Far(), text.data(), 40, nullptr, &ov); // held once 16 are queued
    const bool capped = zqtest::WaitUntil([&] { return QueuedIn(comm->Handle) == 16; });
    PurgeComm(line.Far(), PURGE_TXABORT);
    EXPECT_TRUE(capped);
    EXPECT_EQ(comm->ReceiveBufferSize(), 8192u);
}

TEST_F(ZqCommTest, MonitorsFollowTheLinesAndAreForgottenWhenFreed)
{
    auto* cts = new QCheckBox;
    auto* ring = new QCheckBox;
    QLabel label; // no "checked" property: ignored
    comm->SetMonitorCTS(cts);
    comm->SetMonitorDSR(cts);
    comm->SetMonitorRLSD(&label);
    comm->SetMonitorRing(ring);
    comm->SetTraceStates({ tsCTS, tsRing });
    std::vector<TTraceStates> traces;
    comm->OnTraceState
        = TOnTraceEvent::Bind(comm, nullptr, [&](TObject*, TTraceStates s) { traces.push_back(s); });
    comm->Open();
    traces.clear();
    zq::serial::SetCommPairModemStatus(line.Near(), MS_CTS_ON | MS_DSR_ON, MS_CTS_ON | MS_DSR_ON);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return !traces.empty(); }));
    EXPECT_EQ(traces[0], TTraceStates({ tsCTS }));
    EXPECT_TRUE(cts->isChecked());
    zq::serial::SetCommPairModemStatus(line.Near(), MS_RING_ON, MS_RING_ON);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return traces.size() == 2; }));
    EXPECT_EQ(traces[1], TTraceStates({ tsRing }));
    EXPECT_TRUE(ring->isChecked());

    delete cts;
    EXPECT_EQ(comm->MonitorCTS(), nullptr);
    EXPECT_EQ(comm->MonitorDSR(), nullptr);
    EXPECT_EQ(comm->MonitorRing(), ring);
    delete ring;
    EXPECT_EQ(comm->MonitorRing(), nullptr);
}

TEST_F(ZqCommTest, TxEmptyRaisesAfterSendUnlessTheProcessorTakesIt)
{
    int afterSend = 0;
    comm->OnAfterSend = TOnSent::Bind(comm, nullptr, [&](TObject*) { ++afterSend; });
    comm->SetTraceStates({ tsTxEmpty });
    comm->Open();
    comm->SendData("abc", 3);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return afterSend == 1; }));

    Trail trail;
    auto* processor = new RecordingProcessor(&owner, trail);
    comm->SetDataProcessor(processor);
    comm->SendData("def", 3);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return processor->txEmpty == 1; }));
    EXPECT_EQ(afterSend, 2); // the processor did not claim it
}

TEST_F(ZqCommTest, DestroyingAnOpenComponentClosesWithoutTracing)
{
    int traces = 0;
    comm->OnTraceState = TOnTraceEvent::Bind(comm, nullptr, [&](TObject*, TTraceStates) { ++traces; });
    comm->Open();
    const int before = traces;
    delete comm;
    comm = nullptr;
    EXPECT_EQ(traces, before);
    EXPECT_TRUE(log->Has("TestComm: The port is closed succesfully"));
}

TEST(ZqCommPublished, EventsBindByNameAndModemSignalsIsAReadOnlyProperty)
{
    TestComm comm;
    const auto names = comm.EventNames();
    for (const char* e : { "OnAfterSend", "OnTraceState", "OnCommError" })
        EXPECT_NE(std::find(names.begin(), names.end(), e), names.end()) << e;
    struct Handlers {
        void Sent(TObject*) { }
        void Trace(TObject*, TTraceStates) { }
        void Error(TObject*, Cardinal, Cardinal, TComStateFlags, bool&) { }
    } h;
    EXPECT_TRUE(comm.SetEventByName("OnAfterSend", std::any(TOnSent(&h, &Handlers::Sent))));
    EXPECT_TRUE(comm.SetEventByName("OnTraceState", std::any(TOnTraceEvent(&h, &Handlers::Trace))));
    EXPECT_TRUE(comm.SetEventByName("OnCommError", std::any(TOnCommErrorEvent(&h, &Handlers::Error))));
    EXPECT_TRUE(comm.OnAfterSend.Assigned());
    EXPECT_TRUE(comm.OnTraceState.Assigned());
    EXPECT_TRUE(comm.OnCommError.Assigned());
    EXPECT_TRUE(comm.EventIs("OnCommError", std::any(TOnCommErrorEvent(&h, &Handlers::Error))));
    // A handler of another type does not bind.
    EXPECT_FALSE(comm.SetEventByName("OnCommError", std::any(TOnSent(&h, &Handlers::Sent))));

    const int index = comm.metaObject()->indexOfProperty("ModemSignals");
    ASSERT_GE(index, 0);
    const QMetaProperty p = comm.metaObject()->property(index);
    EXPECT_FALSE(p.isWritable());
    EXPECT_FALSE(p.isStored());
    EXPECT_EQ(comm.property("ModemSignals").toInt(), 0); // closed: no lines
}

TEST(ZqWin32, RoutinesReportThroughTheLastError)
{
    OVERLAPPED ov;
    char c = 'x';
    EXPECT_FALSE(WriteWait(INVALID_HANDLE_VALUE, &c, 1, ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LastErrorText(), "The handle is invalid.");
    EXPECT_FALSE(WriteQueued(INVALID_HANDLE_VALUE, &c, 1, ov));
    EXPECT_FALSE(ReadWait(INVALID_HANDLE_VALUE, &c, 1, ov));
    EXPECT_FALSE(CancelPendingIo(INVALID_HANDLE_VALUE));

    HANDLE a, b;
    ASSERT_TRUE(zq::serial::CreateCommPortPair(&a, &b));
    ov.hEvent = CreateEvent(FALSE, FALSE);
    ov.Offset = 5;
    EXPECT_TRUE(WriteWait(a, "k", 1, ov));
    EXPECT_EQ(ov.Offset, 0u);
    EXPECT_TRUE(ReadWait(b, &c, 1, ov));
    EXPECT_EQ(c, 'k');
    CloseHandle(ov.hEvent);
    CloseHandle(a);
    CloseHandle(b);
}

} // namespace
