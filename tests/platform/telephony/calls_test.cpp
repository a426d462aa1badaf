// Calls between the simulated lines and to scripted parties: the message
// and reply sequences programs rely on.
#include "tapitest.h"

#include "handles.h"
#include "registrykey.h"
#include "simexchange.h"

namespace {

std::vector<DWORD> States(const std::vector<LineMsg>& msgs)
{
    std::vector<DWORD> s;
    for (const LineMsg& m : msgs)
        if (m.msg == LINE_CALLSTATE)
            s.push_back(DWORD(m.p1));
    return s;
}

std::string CallInfoString(std::vector<char>& block, DWORD size, DWORD offset)
{
    return size && offset ? std::string(block.data() + offset) : std::string();
}

} // namespace

TEST_F(TapiTest, AWholeCallBetweenTheTwoLines)
{
    Register();
    HLINE caller = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    HLINE callee = Open(1, kInst2, LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER);

    LINECALLPARAMS params {};
    params.dwTotalSize = sizeof params;
    params.dwBearerMode = LINEBEARERMODE_VOICE;
    params.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    params.dwAddressMode = LINEADDRESSMODE_DIALABLEADDR;
    HCALL out = 0;
    const LONG request = lineMakeCall(caller, &out, "1002/ring=20ms", 0, &params);
    ASSERT_GT(request, 0);
    EXPECT_EQ(out, 0u) << "the handle is filled in with the reply";
    LONG result = -1;
    ASSERT_TRUE(MessageLog::Get().WaitReply(request, &result));
    EXPECT_EQ(result, 0);
    EXPECT_NE(out, 0u);

    const HCALL in = WaitOffer(kInst2);
    ASSERT_NE(in, 0u);
    const LineMsg offer = *MessageLog::Get().FindState(kInst2, LINECALLSTATE_OFFERING);
    EXPECT_EQ(offer.p3, LINECALLPRIVILEGE_OWNER);
    EXPECT_EQ(CallState(out), LINECALLSTATE_PROCEEDING);

    std::vector<char> info(2392);
    reinterpret_cast<LINECALLINFO*>(info.data())->dwTotalSize = 2392;
    auto* ci = reinterpret_cast<LINECALLINFO*>(info.data());
    ASSERT_EQ(lineGetCallInfo(in, ci), 0);
    EXPECT_EQ(CallInfoString(info, ci->dwCallerIDSize, ci->dwCallerIDOffset), "1001");
    EXPECT_EQ(CallInfoString(info, ci->dwCallerIDNameSize, ci->dwCallerIDNameOffset), "Simulated line 1");
    EXPECT_EQ(CallInfoString(info, ci->dwCalledIDSize, ci->dwCalledIDOffset), "1002");
    EXPECT_EQ(CallInfoString(info, ci->dwCalledIDNameSize, ci->dwCalledIDNameOffset), "Simulated line 2");
    EXPECT_EQ(ci->dwCallerIDSize, 5u) << "sizes count the terminating NUL";
    EXPECT_EQ(ci->hLine, callee);

    const LONG answer = lineAnswer(in, nullptr, 0);
    ASSERT_GT(answer, 0);
    ASSERT_TRUE(MessageLog::Get().WaitReply(answer, &result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst2, LINECALLSTATE_CONNECTED));

    const LONG drop = lineDrop(out, nullptr, 0);
    ASSERT_GT(drop, 0);
    ASSERT_TRUE(MessageLog::Get().WaitReply(drop, &result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_IDLE));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst2, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(MessageLog::Get().FindState(kInst2, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_NORMAL);
    const LONG drop2 = lineDrop(in, nullptr, 0);
    ASSERT_TRUE(MessageLog::Get().WaitReply(drop2, &result));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst2, LINECALLSTATE_IDLE));
    EXPECT_EQ(CallState(in), LINECALLSTATE_IDLE);

    // Replies come before the state changes they lead to.
    std::vector<DWORD> callerSeq;
    for (const LineMsg& m : MessageLog::Get().For(kInst1))
        callerSeq.push_back(m.msg == LINE_REPLY ? 0xFFFF : DWORD(m.p1));
    EXPECT_EQ(callerSeq,
        (std::vector<DWORD> {
            0xFFFF, LINECALLSTATE_PROCEEDING, LINECALLSTATE_CONNECTED, 0xFFFF, LINECALLSTATE_IDLE }));
    EXPECT_EQ(States(MessageLog::Get().For(kInst2)),
        (std::vector<DWORD> { LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED, LINECALLSTATE_DISCONNECTED,
            LINECALLSTATE_IDLE }));
    for (const LineMsg& m : MessageLog::Get().For(kInst1)) {
        if (m.msg == LINE_CALLSTATE) {
            EXPECT_EQ(m.device, out);
        }
    }

    EXPECT_EQ(lineDeallocateCall(out), 0);
    EXPECT_EQ(lineDeallocateCall(in), 0);
    EXPECT_EQ(DWORD(lineGetCallStatus(out, nullptr)), LINEERR_INVALCALLHANDLE);
    // Both lines are free again.
    MessageLog::Get().Clear();
    const HCALL again = Dial(callee, "1001/busy");
    EXPECT_NE(again, 0u);
}

TEST_F(TapiTest, ABusyPartyGivesBusyThenABusyDisconnection)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    const HCALL call = Dial(line, "1002/busy");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(States(MessageLog::Get().For(kInst1)),
        (std::vector<DWORD> { LINECALLSTATE_PROCEEDING, LINECALLSTATE_BUSY, LINECALLSTATE_DISCONNECTED }));
    EXPECT_EQ(MessageLog::Get().FindState(kInst1, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_BUSY);
    // A disconnected call is dropped to idle by its owner.
    LONG result = -1;
    ASSERT_TRUE(MessageLog::Get().WaitReply(lineDrop(call, nullptr, 0), &result));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(zqtest::WaitUntil([&] { return CallState(call) == LINECALLSTATE_IDLE; }));
    EXPECT_EQ(DWORD(lineDrop(call, nullptr, 0)), LINEERR_INVALCALLSTATE);
}

// Without the exchange's progress delay, states follow the reply at once,
// as a fast real line reports them; the order stays reply first.
TEST_F(TapiTest, WithoutProgressDelaysTheReplyStillComesFirst)
{
    zq::registry::RegistryKey(HKEY_LOCAL_MACHINE, zq::sim::kSimulatedKey, true)
        .SetDword("ProgressDelayMs", 0);
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    HCALL call = 0;
    const LONG request = lineMakeCall(line, &call, "1002/busy", 0, nullptr);
    ASSERT_GT(request, 0);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    const std::vector<LineMsg> seen = MessageLog::Get().For(kInst1);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].msg, LINE_REPLY);
    EXPECT_EQ(States(seen),
        (std::vector<DWORD> { LINECALLSTATE_PROCEEDING, LINECALLSTATE_BUSY, LINECALLSTATE_DISCONNECTED }));
    for (const LineMsg& m : seen) {
        if (m.msg == LINE_CALLSTATE) {
            EXPECT_EQ(m.device, call);
        }
    }
}

TEST_F(TapiTest, ALineInACallIsBusyForOthers)
{
    Register();
    HLINE one = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    HLINE two = Open(1, kInst2, LINECALLPRIVILEGE_NONE);
    Dial(one, "555/rings=0");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    Dial(two, "1001");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst2, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(MessageLog::Get().FindState(kInst2, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_BUSY);
    HCALL extra = 0;
    EXPECT_EQ(DWORD(lineMakeCall(one, &extra, "1002", 0, nullptr)), LINEERR_CALLUNAVAIL);
}

TEST_F(TapiTest, NobodyAnsweringEndsTheCallAsNoAnswer)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    HLINE callee = Open(1, kInst2, LINECALLPRIVILEGE_OWNER);
    (void)callee;
    Dial(line, "1002/noanswer=100ms/ring=20ms");
    ASSERT_NE(WaitOffer(kInst2), 0u);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(
        MessageLog::Get().FindState(kInst1, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_NOANSWER);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst2, LINECALLSTATE_DISCONNECTED));
    EXPECT_FALSE(MessageLog::Get().FindState(kInst1, LINECALLSTATE_CONNECTED));
    // The owner saw the line ring meanwhile.
    bool rang = false;
    for (const LineMsg& m : MessageLog::Get().All())
        rang |= m.msg == LINE_LINEDEVSTATE && m.p1 == LINEDEVSTATE_RINGING && m.instance == kInst2;
    EXPECT_TRUE(rang);
}

TEST_F(TapiTest, AnUnownedLineAnswersAfterItsRingsAndTheRemoteHangsUp)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    const HCALL call = Dial(line, "1002/rings=2/ring=20ms/hangup=50ms");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(States(MessageLog::Get().For(kInst1)),
        (std::vector<DWORD> {
            LINECALLSTATE_PROCEEDING, LINECALLSTATE_CONNECTED, LINECALLSTATE_DISCONNECTED }));
    EXPECT_EQ(MessageLog::Get().FindState(kInst1, LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_NORMAL);
    EXPECT_EQ(lineDeallocateCall(call), 0);
    // The far line went idle by itself: it can be called again.
    MessageLog::Get().Clear();
    Dial(line, "1002/rings=0");
    EXPECT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
}

TEST_F(TapiTest, ScriptedDigitsReachAMonitoringCaller)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    const HCALL call = Dial(line, "4711/rings=0/dtmf=12#");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
    EXPECT_EQ(DWORD(lineMonitorDigits(call, 0x80)), LINEERR_INVALDIGITMODE);
    ASSERT_EQ(lineMonitorDigits(call, LINEDIGITMODE_DTMF), 0);
    std::string digits;
    ASSERT_TRUE(zqtest::WaitUntil([&] {
        digits.clear();
        for (const LineMsg& m : MessageLog::Get().All())
            if (m.msg == LINE_MONITORDIGITS) {
                digits += char(m.p1 & 0xFF);
                EXPECT_EQ(m.p2, LINEDIGITMODE_DTMF);
                EXPECT_EQ(m.device, call);
            }
        return digits.size() >= 3;
    }));
    EXPECT_EQ(digits, "12#");
}

TEST_F(TapiTest, CallInfoTooSmallReportsTheNeededSize)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    Open(1, kInst2, LINECALLPRIVILEGE_OWNER);
    const std::string longName(3000, 'n');
    Dial(line, ("1002/callerid=0301234/callername=" + longName).c_str());
    const HCALL in = WaitOffer(kInst2);
    ASSERT_NE(in, 0u);

    std::vector<char> block(2392, '\x55');
    auto* info = reinterpret_cast<LINECALLINFO*>(block.data());
    info->dwTotalSize = 2392;
    ASSERT_EQ(DWORD(lineGetCallInfo(in, info)), LINEERR_STRUCTURETOOSMALL);
    const DWORD needed = info->dwNeededSize;
    EXPECT_GT(needed, 2392u);
    EXPECT_LE(info->dwUsedSize, 2392u);

    block.assign(needed, 0);
    info = reinterpret_cast<LINECALLINFO*>(block.data());
    info->dwTotalSize = needed;
    ASSERT_EQ(lineGetCallInfo(in, info), 0);
    EXPECT_EQ(CallInfoString(block, info->dwCallerIDSize, info->dwCallerIDOffset), "0301234");
    EXPECT_EQ(CallInfoString(block, info->dwCallerIDNameSize, info->dwCallerIDNameOffset), longName);

    std::vector<char> small(100);
    reinterpret_cast<LINECALLINFO*>(small.data())->dwTotalSize = 100;
    EXPECT_EQ(
        DWORD(lineGetCallInfo(in, reinterpret_cast<LINECALLINFO*>(small.data()))), LINEERR_STRUCTURETOOSMALL);
    EXPECT_EQ(reinterpret_cast<LINECALLINFO*>(small.data())->dwNeededSize, needed);
}

TEST_F(TapiTest, ADataCallHandsOutPortsAndSetCallParamsReplies)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE, LINEMEDIAMODE_DATAMODEM);
    HLINE callee = Open(1, kInst2, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
    const HCALL out = Dial(line, "1002", LINEMEDIAMODE_DATAMODEM);
    const HCALL in = WaitOffer(kInst2);
    ASSERT_NE(in, 0u);
    LONG result = -1;
    ASSERT_TRUE(MessageLog::Get().WaitReply(lineAnswer(in, nullptr, 0), &result));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));

    VarBlock a, b;
    ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, a.Var(), "comm/datamodem"), 0);
    ASSERT_EQ(lineGetID(callee, 0, 0, LINECALLSELECT_LINE, b.Var(), "comm/datamodem"), 0);
    const HANDLE ha = HANDLE(a.Dword(0)), hb = HANDLE(b.Dword(0));
    EXPECT_NE(ha, INVALID_HANDLE_VALUE);
    EXPECT_NE(hb, INVALID_HANDLE_VALUE);
    EXPECT_NE(ha, hb);
    EXPECT_TRUE(zq::kernel::LookupKernelObject(ha));
    EXPECT_STREQ(a.Data() + 4, "Simulated line 1");

    const LONG set = lineSetCallParams(out, LINEBEARERMODE_PASSTHROUGH, 0, 0, nullptr);
    ASSERT_GT(set, 0);
    ASSERT_TRUE(MessageLog::Get().WaitReply(set, &result));
    EXPECT_EQ(result, 0);

    ASSERT_TRUE(MessageLog::Get().WaitReply(lineDrop(out, nullptr, 0), &result));
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst2, LINECALLSTATE_DISCONNECTED));
    EXPECT_TRUE(CloseHandle(ha));
    EXPECT_TRUE(CloseHandle(hb));
}

TEST_F(TapiTest, ClosingTheLineEndsItsCall)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    Open(1, kInst2, LINECALLPRIVILEGE_OWNER);
    Dial(line, "1002/ring=20ms");
    ASSERT_NE(WaitOffer(kInst2), 0u);
    EXPECT_EQ(lineClose(line), 0);
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst2, LINECALLSTATE_DISCONNECTED));
    EXPECT_FALSE(MessageLog::Get().FindState(kInst1, LINECALLSTATE_IDLE)) << "a closed line gets no messages";
}
