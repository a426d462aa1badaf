// The modem provider through the telephony binding, as programs use it, with
// the simulator on a pseudo-terminal as the modem.
#include "commapi.h"
#include "handles.h"
#include "modemclass.h"
#include "modemsim_process.h"
#include "providerswitch.h"
#include "registry.h"
#include "tapitest.h"

using zq::modem::test::ModemSimProcess;

namespace {

std::string CallInfoText(const std::vector<char>& block, DWORD size, DWORD offset)
{
    if (size == 0)
        return {};
    return std::string(block.data() + offset, strnlen(block.data() + offset, size));
}

class ModemLineTest : public TapiTest {
protected:
    static constexpr const char* kName = "ZQ Sim Voice Modem";

    // The simulator registered in the modem class, and the service started.
    void Start(ModemSimProcess& sim, const std::string& userInit = {})
    {
        ASSERT_FALSE(sim.device().empty());
        ASSERT_EQ(zq::registry::RegisterModem("0000", kName, sim.device(), userInit), 0);
        ASSERT_TRUE(zqtest::EnableProvider("Modem"));
        Register();
        device_ = FindDevice();
        ASSERT_NE(device_, ~0u);
    }
    DWORD FindDevice()
    {
        for (DWORD d = 0; d < numDevs_; ++d) {
            std::vector<char> block(4096);
            auto* caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
            caps->dwTotalSize = DWORD(block.size());
            if (lineGetDevCaps(app_, d, version_, 0, caps) != 0)
                continue;
            if (CallInfoText(block, caps->dwLineNameSize, caps->dwLineNameOffset) == kName)
                return d;
        }
        return ~0u;
    }
    HLINE OpenModem(DWORD privileges = LINECALLPRIVILEGE_NONE)
    {
        HLINE line = 0;
        EXPECT_EQ(lineOpen(app_, device_, &line, version_, 0, kInst1, privileges,
                      LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
            0);
        return line;
    }
    std::vector<DWORD> StatesSeen()
    {
        std::vector<DWORD> s;
        for (const LineMsg& m : MessageLog::Get().For(kInst1))
            if (m.msg == LINE_CALLSTATE)
                s.push_back(DWORD(m.p1));
        return s;
    }
    DWORD device_ = ~0u;
};

} // namespace

TEST_F(ModemLineTest, AVoiceCallOutAndTheFarEndHangingUp)
{
    ModemSimProcess sim("on ATD: wait 100; connect; wait 300; hangup\n");
    Start(sim);
    HLINE line = OpenModem();
    ASSERT_NE(line, 0u);
    const HCALL call = Dial(line, "555-1234");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    EXPECT_TRUE(sim.waitLog("dial 5551234"));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(MessageLog::Get().FindState(kInst1, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_NORMAL);
    EXPECT_EQ(StatesSeen(),
        (std::vector<DWORD> {
            LINECALLSTATE_PROCEEDING, LINECALLSTATE_CONNECTED, LINECALLSTATE_DISCONNECTED }));
    const LONG drop = lineDrop(call, nullptr, 0);
    EXPECT_TRUE(MessageLog::Get().WaitReply(drop));
    EXPECT_EQ(lineDeallocateCall(call), 0);
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_TRUE(sim.waitLog("on hook"));
}

TEST_F(ModemLineTest, BusyAndNoAnswer)
{
    ModemSimProcess sim("on ATDT1: ok; busy\non ATDT2: noanswer\n");
    Start(sim);
    HLINE line = OpenModem();
    HCALL call = Dial(line, "T1");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    EXPECT_NE(MessageLog::Get().FindState(kInst1, LINECALLSTATE_BUSY), nullptr);
    EXPECT_EQ(MessageLog::Get().FindState(kInst1, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_BUSY);
    EXPECT_TRUE(MessageLog::Get().WaitReply(lineDrop(call, nullptr, 0)));
    lineDeallocateCall(call);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return sim.log().find("> ATH") != std::string::npos; }));

    MessageLog::Get().Clear();
    call = Dial(line, "T2");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(
        MessageLog::Get().FindState(kInst1, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_NOANSWER);
}

TEST_F(ModemLineTest, HostileDialStringsNeverReachTheModem)
{
    ModemSimProcess sim("");
    Start(sim);
    HLINE line = OpenModem();
    for (const char* bad : { "555;ATH", "555\rATZ", "1234&F0", "S0=1", "12;+++" }) {
        LINECALLPARAMS params {};
        params.dwTotalSize = sizeof params;
        params.dwBearerMode = LINEBEARERMODE_VOICE;
        params.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
        HCALL call = 0;
        EXPECT_LT(lineMakeCall(line, &call, bad, 0, &params), 0) << bad;
    }
    EXPECT_EQ(sim.log().find("dial"), std::string::npos);
}

TEST_F(ModemLineTest, IncomingCallWithCallerIdDigitsAndHangUp)
{
    ModemSimProcess sim("after AT+VCID=1: ring 10 every 400 cid +15551234 \"Alice Smith\"\n"
                        "after AT+VRX: wait 300; dtmf 42#; wait 300; hangup\n");
    Start(sim);
    HLINE line = OpenModem(LINECALLPRIVILEGE_OWNER);
    ASSERT_NE(line, 0u);
    const HCALL in = WaitOffer(kInst1);
    ASSERT_NE(in, 0u);
    // Caller id follows the first ring.
    std::vector<char> block(4096);
    auto* info = reinterpret_cast<LINECALLINFO*>(block.data());
    ASSERT_TRUE(zqtest::WaitUntil([&] {
        info->dwTotalSize = DWORD(block.size());
        return lineGetCallInfo(in, info) == 0
            && CallInfoText(block, info->dwCallerIDNameSize, info->dwCallerIDNameOffset) == "Alice Smith";
    }));
    EXPECT_EQ(CallInfoText(block, info->dwCallerIDSize, info->dwCallerIDOffset), "+15551234")
        << CallInfoText(block, info->dwCallerIDNameSize, info->dwCallerIDNameOffset) << " " << sim.log();

    const LONG answer = lineAnswer(in, nullptr, 0);
    LONG result = -1;
    ASSERT_TRUE(MessageLog::Get().WaitReply(answer, &result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    ASSERT_EQ(lineMonitorDigits(in, LINEDIGITMODE_DTMF), 0);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    std::string digits;
    for (const LineMsg& m : MessageLog::Get().All())
        if (m.msg == LINE_MONITORDIGITS)
            digits += char(m.p1 & 0xFF);
    EXPECT_EQ(digits, "42#");
}

// The modem already rings when a program opens the line to take calls (it
// rang while another program had the line open, or as the line opened): the
// call is offered at the next ring, not lost for good.
TEST_F(ModemLineTest, AnOwnerWhoOpensWhileItRingsGetsTheCall)
{
    ModemSimProcess sim("after AT+VCID=1: ring 20 every 400\n");
    Start(sim);
    const HLINE watcher = OpenModem(LINECALLPRIVILEGE_NONE);
    ASSERT_NE(watcher, 0u);
    // The line has rung (and its call found no owner) before the owner comes.
    ASSERT_TRUE(WaitMessage(LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING)) << sim.log();
    HLINE owner = 0;
    ASSERT_EQ(lineOpen(app_, device_, &owner, version_, 0, kInst2, LINECALLPRIVILEGE_OWNER,
                  LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
        0);
    const HCALL in = WaitOffer(kInst2);
    ASSERT_NE(in, 0u) << sim.log();
    EXPECT_EQ(CallState(in), DWORD(LINECALLSTATE_OFFERING));
    const LONG answer = lineAnswer(in, nullptr, 0);
    LONG result = -1;
    ASSERT_TRUE(MessageLog::Get().WaitReply(answer, &result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst2, LINECALLSTATE_CONNECTED));
    EXPECT_TRUE(sim.waitLog("answered"));
}

TEST_F(ModemLineTest, ASettingRefusedStillOpensAndASilentModemDoesNot)
{
    ModemSimProcess sim("error &K\nerror S30\n");
    Start(sim, "ATS0=0");
    HLINE line = OpenModem();
    EXPECT_NE(line, 0u);
    EXPECT_TRUE(sim.waitLog("> ATS0=0"));
    lineClose(line);
    lineShutdown(&app_);
    app_ = 0;

    ModemSimProcess silent("start: mute\n");
    ASSERT_EQ(zq::registry::RegisterModem("0000", kName, silent.device(), ""), 0);
    ASSERT_TRUE(zqtest::EnableProvider("Modem"));
    Register();
    device_ = FindDevice();
    HLINE dead = 0;
    EXPECT_LT(lineOpen(app_, device_, &dead, version_, 0, kInst1, LINECALLPRIVILEGE_NONE,
                  LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
        0);
}

TEST_F(ModemLineTest, UnpluggedMidCall)
{
    ModemSimProcess sim("after AT+VRX: wait 300; unplug\n");
    Start(sim);
    HLINE line = OpenModem();
    Dial(line, "5551234");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(
        MessageLog::Get().FindState(kInst1, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_UNAVAIL);
}

TEST_F(ModemLineTest, ADataCallLendsThePortAndLeavesDataModeWhenItComesBack)
{
    ModemSimProcess sim("on ATD: connect 31200\n");
    Start(sim);
    HLINE line = 0;
    ASSERT_EQ(lineOpen(app_, device_, &line, version_, 0, kInst1, LINECALLPRIVILEGE_NONE,
                  LINEMEDIAMODE_DATAMODEM, nullptr),
        0);
    const HCALL call = Dial(line, "5551234", LINEMEDIAMODE_DATAMODEM);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    EXPECT_TRUE(sim.waitLog("> AT+FCLASS=0"));

    std::vector<char> block(4096);
    auto* info = reinterpret_cast<LINECALLINFO*>(block.data());
    info->dwTotalSize = DWORD(block.size());
    ASSERT_EQ(lineGetCallInfo(call, info), 0);
    EXPECT_EQ(info->dwRate, 31200u);

    VarBlock id;
    ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, id.Var(), "comm/datamodem"), 0);
    const HANDLE port = HANDLE(id.Dword(0));
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    // The far end of the simulator's data mode echoes what it is sent.
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "hello", 5, &n, nullptr));
    COMMTIMEOUTS t {};
    t.ReadTotalTimeoutConstant = 20000;
    SetCommTimeouts(port, &t);
    char buf[5] = {};
    ASSERT_TRUE(ReadFile(port, buf, 5, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "hello");

    // Giving the port back ends the data call: escape, then on hook.
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_TRUE(sim.waitLog("escape"));
    EXPECT_TRUE(sim.waitLog("on hook"));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
}

TEST_F(ModemLineTest, ADataCallInIsAnsweredInDataModeAndItsPortLent)
{
    ModemSimProcess sim("after AT+VCID=1: ring 10 every 400 cid 5551234\n");
    Start(sim);
    HLINE line = 0;
    ASSERT_EQ(lineOpen(app_, device_, &line, version_, 0, kInst1, LINECALLPRIVILEGE_OWNER,
                  LINEMEDIAMODE_DATAMODEM, nullptr),
        0);
    const HCALL in = WaitOffer(kInst1);
    ASSERT_NE(in, 0u);
    LONG result = -1;
    ASSERT_TRUE(MessageLog::Get().WaitReply(lineAnswer(in, nullptr, 0), &result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    // Answered as a data call: out of voice mode first.
    EXPECT_TRUE(sim.waitLog("> AT+FCLASS=0"));
    EXPECT_TRUE(sim.waitLog("answered"));
    std::vector<char> block(4096);
    auto* info = reinterpret_cast<LINECALLINFO*>(block.data());
    info->dwTotalSize = DWORD(block.size());
    ASSERT_EQ(lineGetCallInfo(in, info), 0);
    EXPECT_EQ(info->dwRate, 33600u);
    EXPECT_EQ(info->dwMediaMode, DWORD(LINEMEDIAMODE_DATAMODEM));

    VarBlock id;
    ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, id.Var(), "comm/datamodem"), 0);
    const HANDLE port = HANDLE(id.Dword(0));
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "ping", 4, &n, nullptr));
    COMMTIMEOUTS t {};
    t.ReadTotalTimeoutConstant = 20000;
    SetCommTimeouts(port, &t);
    char buf[4] = {};
    ASSERT_TRUE(ReadFile(port, buf, 4, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "ping");
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_TRUE(sim.waitLog("on hook"));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
}

// Modems plugged in and out while a program runs. The port is a link in the
// test's folder, so a "plug" points it at a fresh simulator.
TEST_F(ModemLineTest, ModemsComeAndGoWhileTheProgramRuns)
{
    ModemSimProcess first("");
    Start(first);
    const std::string port = dir_.filePath("ttyModem").toStdString();
    auto plug = [&](const ModemSimProcess& sim) {
        std::remove(port.c_str());
        ASSERT_EQ(symlink(sim.device().c_str(), port.c_str()), 0);
    };

    // A second modem added to the class is a new line.
    auto second = std::make_unique<ModemSimProcess>("");
    plug(*second);
    ASSERT_EQ(zq::registry::RegisterModem("0001", "ZQ Second Modem", port, ""), 0);
    ASSERT_TRUE(WaitMessage(LINE_CREATE, numDevs_));
    const DWORD added = numDevs_;
    HLINE line = 0;
    ASSERT_EQ(lineOpen(app_, added, &line, version_, 0, kInst2, LINECALLPRIVILEGE_NONE,
                  LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
        0);
    EXPECT_TRUE(second->waitLog("> AT+FCLASS=8"));

    // Unplugged: out of service; plugged in again: initialised and back.
    second.reset();
    ASSERT_TRUE(WaitMessage(LINE_LINEDEVSTATE, LINEDEVSTATE_OUTOFSERVICE));
    HCALL refused = 0;
    EXPECT_EQ(DWORD(lineMakeCall(line, &refused, "555", 0, nullptr)), LINEERR_RESOURCEUNAVAIL);
    ModemSimProcess third("on ATD: wait 100; connect\n");
    plug(third);
    ASSERT_TRUE(WaitMessage(LINE_LINEDEVSTATE, LINEDEVSTATE_INSERVICE));
    EXPECT_TRUE(third.waitLog("> AT+FCLASS=8"));
    const HCALL call = Dial(line, "5551234");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst2, LINECALLSTATE_CONNECTED));

    // Taken out of the class: the call ends, the line is closed and removed.
    HKEY cls = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, zq::registry::kModemClassKey, 0, KEY_ALL_ACCESS, &cls), 0);
    ASSERT_EQ(RegDeleteKey(cls, "0001"), 0);
    RegCloseKey(cls);
    ASSERT_TRUE(WaitMessage(LINE_REMOVE, added));
    ASSERT_TRUE(zqtest::WaitUntil([&] { return !Messages(LINE_CLOSE).empty(); }));
    EXPECT_EQ(DWORD(lineClose(line)), LINEERR_INVALLINEHANDLE);
    EXPECT_TRUE(third.waitLog("on hook"));
    lineDeallocateCall(call);
    // The first modem's line stayed where it was.
    EXPECT_EQ(FindDevice(), device_);
}
