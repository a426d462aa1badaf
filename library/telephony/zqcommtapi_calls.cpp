// Call control of the line component: dialling with repeats, waiting and
// answering, hanging up, and the line callback with its state machine.
#include "zqcommtapi.h"

#include "errorreport.h"
#include "messages.h"
#include "thread.h"
#include "zqlogfile.h"

#include <cstring>

namespace {

template <class T> T* As(std::vector<unsigned char>& block)
{
    return reinterpret_cast<T*>(block.data());
}

// The zero-terminated text at an offset of a block, never past its end.
std::string TextAt(const std::vector<unsigned char>& block, DWORD offset)
{
    if (offset >= block.size())
        return {};
    const char* p = reinterpret_cast<const char*>(block.data() + offset);
    return std::string(p, strnlen(p, block.size() - offset));
}

// Holds the call states of a request until its reply has been handled;
// leaving the scope otherwise (a failure, a report) drops them.
class CallStateHold {
public:
    explicit CallStateHold(TzqCommTAPI& line)
        : line_(line)
    {
        line_.HoldCallStates();
    }
    ~CallStateHold()
    {
        if (!released_)
            line_.ReleaseCallStates(false);
    }
    CallStateHold(const CallStateHold&) = delete;
    CallStateHold& operator=(const CallStateHold&) = delete;
    void Release(bool deliver)
    {
        released_ = true;
        line_.ReleaseCallStates(deliver);
    }

private:
    TzqCommTAPI& line_;
    bool released_ = false;
};

} // namespace

void TzqCommTAPI::HoldCallStates()
{
    holdingCallStates_ = true;
}

void TzqCommTAPI::ReleaseCallStates(bool Deliver)
{
    holdingCallStates_ = false;
    if (!Deliver) {
        heldCallStates_.clear();
        return;
    }
    // A held message may start another request, which holds what follows.
    while (!holdingCallStates_ && !heldCallStates_.empty()) {
        const HeldLineEvent e = heldCallStates_.front();
        heldCallStates_.pop_front();
        DispatchLineEvent(e.hDevice, e.Message, e.Param1, e.Param2, e.Param3);
    }
}

std::string TzqCommTAPI::CanonicalAddress()
{
    std::string s;
    if (countryCode_ != 0)
        s = Format("+%u ", { countryCode_ });
    if (countryCode_ != 0 && !areaCode_.empty())
        s = Format("%s(%s) ", { s, areaCode_ });
    if (s.empty())
        s += pulse_ ? "p" : "t";
    return s + phone_;
}

void TzqCommTAPI::MakeCall()
{
    DoMakeCall(false);
}

void TzqCommTAPI::MakeCallNoAddress()
{
    DoMakeCall(true);
}

void TzqCommTAPI::DoMakeCall(bool NoAddress)
{
    if (!NoAddress)
        WriteLog(1, "");
    ShutdownTAPI();
    deviceModem_->SelectDevice(CurrentDeviceID());
    if (deviceModem_->DeviceID() < 0) {
        ReportTAPIError(6,
            Format("%s\rDevice index (%d of %d) is not valid",
                { "zqTAPI Error: Call was fault", deviceModem_->DeviceID(), DeviceCount() }));
        return;
    }
    AcquireTAPI();
    deviceModem_->Apply();
    CallStateHold hold(*this);

    VoiceCall = voice_;
    const DWORD mediaMode = voice_ ? LINEMEDIAMODE_INTERACTIVEVOICE : LINEMEDIAMODE_DATAMODEM;
    LONG r = lineOpen(LineAppHandle, static_cast<DWORD>(CurrentDeviceID()), &LineHandle, APIVersion, 0,
        reinterpret_cast<DWORD_PTR>(this), LINECALLPRIVILEGE_NONE, mediaMode, nullptr);
    LastResult = r;
    if (r < 0) {
        CallHandle = 0;
    } else {
        std::fill(callParams_.begin(), callParams_.end(), 0);
        auto* params = As<LINECALLPARAMS>(callParams_);
        params->dwTotalSize = zq::telephony::kCallParamsSize;
        params->dwBearerMode = LINEBEARERMODE_VOICE;
        params->dwMediaMode = mediaMode;
        params->dwCallParamFlags = LINECALLPARAMFLAGS_IDLE;
        params->dwAddressMode = NoAddress ? LINEADDRESSMODE_ADDRESSID : LINEADDRESSMODE_DIALABLEADDR;

        if (NoAddress) {
            ResetReply();
            r = lineMakeCall(LineHandle, &CallHandle, "", 1, params);
        } else {
            RetryCount = 0;
            const std::string canonical = CanonicalAddress();
            std::vector<unsigned char> translated(zq::telephony::kTranslateOutputSize);
            auto* out = As<LINETRANSLATEOUTPUT>(translated);
            out->dwTotalSize = zq::telephony::kTranslateOutputSize;
            ResetReply();
            r = lineTranslateAddress(LineAppHandle, static_cast<DWORD>(CurrentDeviceID()), APIVersion,
                canonical.c_str(), 0, 0, out);
            // Without a translation there is nothing to dial: the block
            // holds only its header, which must not be taken for a number.
            if (r >= 0 && out->dwDialableStringOffset < sizeof(LINETRANSLATEOUTPUT))
                r = static_cast<LONG>(LINEERR_INVALADDRESS);
            if (r >= 0) {
                DialableAddress = TextAt(translated, out->dwDialableStringOffset);
                WriteLog(0, "Dial: " + phone_ + " Canonical:" + canonical + " Dialable:" + DialableAddress);
                r = lineMakeCall(
                    LineHandle, &CallHandle, DialableAddress.c_str(), out->dwDestCountry, params);
            }
        }
        LastResult = r;
        if (r < 0) {
            CloseLine();
        } else {
            const LONG w = WaitReply(r, zq::telephony::kReplyTimeout);
            LastResult = w;
            if (w != 0) {
                CloseLine();
            } else {
                RetryMode = rmMakeCall;
                LineState = lsDialing;
            }
        }
        if (CallHandle != 0 && Log())
            Log()->WriteLineFmt(0, "Make Call Out : %s Device: %s", { phone_, CurrentDeviceName() });
    }
    if (CallHandle == 0) {
        hold.Release(false);
        ShutdownTAPI();
        ReportTAPIError(6, "zqTAPI Error: Call was fault");
        return;
    }
    hold.Release(LastResult == 0);
}

void TzqCommTAPI::WaitForCall()
{
    WriteLog(1, "");
    ShutdownTAPI();
    deviceModem_->SelectDevice(CurrentDeviceID());
    if (deviceModem_->DeviceID() < 0) {
        ReportTAPIError(7,
            Format("%s\rDevice index (%d of %d) is not valid",
                { "zqTAPI Error: Waiting for a incoming call was fault", deviceModem_->DeviceID(),
                    DeviceCount() }));
        return;
    }
    AcquireTAPI();
    if (LineAppHandle == 0)
        return;
    deviceModem_->Apply();
    VoiceCall = voice_;
    const DWORD mediaMode = voice_ ? LINEMEDIAMODE_INTERACTIVEVOICE : LINEMEDIAMODE_DATAMODEM;
    const LONG r = lineOpen(LineAppHandle, static_cast<DWORD>(CurrentDeviceID()), &LineHandle, APIVersion, 0,
        reinterpret_cast<DWORD_PTR>(this), LINECALLPRIVILEGE_MONITOR + LINECALLPRIVILEGE_OWNER, mediaMode,
        nullptr);
    LastResult = r;
    if (r < 0) {
        LineHandle = 0;
        ShutdownTAPI();
        ReportTAPIError(7, "zqTAPI Error: Waiting for a incoming call was fault");
        return;
    }
    WriteLogFmt(0, "Device [%s] wait for incoming call ...", { CurrentDeviceName() });
    RetryCount = 0;
    RetryMode = rmWaitForCall;
    LineState = lsWaiting;
}

void TzqCommTAPI::HangUp()
{
    if (LineState == lsClosing)
        return;
    WriteLog(1, "Begin HangUp");
    ShutdownTAPI();
    WriteLog(0, "HangUp");
    if (OnLineDisconnected)
        OnLineDisconnected(this, false);
}

void TzqCommTAPI::CloseLine()
{
    if (LineState == lsClosing)
        return;
    if (LineState == lsIdle) {
        if (LineHandle != 0)
            lineClose(LineHandle);
        LineHandle = 0;
    } else {
        LineState = lsClosing;
        Close();
        if (CallHandle != 0) {
            if (!IsCallIdle()) {
                ResetReply();
                const LONG r = lineDrop(CallHandle, nullptr, 0);
                LastResult = r;
                if (r >= 0 && WaitReply(r, zq::telephony::kReplyTimeout) == 0)
                    WaitCallIdle();
            }
            lineDeallocateCall(CallHandle);
            CallHandle = 0;
            WriteLog(1, "Call closed");
        }
        if (LineHandle != 0) {
            lineClose(LineHandle);
            WriteLogFmt(1, "Line closed [%s]", { CurrentDeviceName() });
        }
        LineHandle = 0;
        RingCount = 0;
        RetryMode = rmNone;
        LineState = lsIdle;
    }
    // A device refresh that came while the line was in use runs now.
    if (devicesChangePending_ && !IsDestroying()) {
        devicesChangePending_ = false;
        DevicesChanged();
    }
}

bool TzqCommTAPI::IsCallIdle()
{
    if (CallHandle == 0)
        return false;
    std::vector<unsigned char> block(zq::telephony::kCallStatusSize);
    auto* status = As<LINECALLSTATUS>(block);
    status->dwTotalSize = zq::telephony::kCallStatusSize;
    if (lineGetCallStatus(CallHandle, status) != 0)
        return false;
    return (status->dwCallState & LINECALLSTATE_IDLE) != 0;
}

void TzqCommTAPI::WaitCallIdle()
{
    if (CallHandle == 0)
        return;
    // Bounded like a reply: a call that never reports idle is deallocated
    // anyway after the reply time-out.
    const DWORD deadline = GetTickCount() + zq::telephony::kReplyTimeout;
    do {
        zq::kernel::ProcessMessages();
        Sleep(10);
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0)
            return;
    } while (CallHandle != 0 && !IsCallIdle());
}

void TzqCommTAPI::ResetReply()
{
    ReplyArrived.exchange(0);
    ReplyRequestID.exchange(-1);
    ReplyResult.exchange(0);
}

void TzqCommTAPI::StoreReply(LONG RequestID, LONG Result)
{
    ReplyRequestID.exchange(RequestID);
    ReplyResult.exchange(Result);
    ReplyArrived.exchange(1);
}

LONG TzqCommTAPI::WaitReply(LONG RequestID, DWORD Timeout)
{
    const DWORD deadline = GetTickCount() + Timeout;
    while (ReplyArrived != 1 && ReplyRequestID != RequestID) {
        if (zq::kernel::HasApplicationObject())
            zq::kernel::ProcessMessages();
        Sleep(10);
        if (Timeout != 0xFFFFFFFF && static_cast<LONG>(GetTickCount() - deadline) >= 0) {
            ReplyResult = -1;
            break;
        }
    }
    return ReplyResult;
}

// The line callback ------------------------------------------------------------------------

void TzqCommTAPI::LineCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
    DWORD_PTR dwParam2, DWORD_PTR dwParam3)
{
    auto* self = reinterpret_cast<TzqCommTAPI*>(dwInstance);
    if (!self)
        return;
    self->DispatchLineEvent(hDevice, dwMessage, dwParam1, dwParam2, dwParam3);
}

void TzqCommTAPI::FatalError(Cardinal ErrorCode, Cardinal Detail, const std::string& ErrorMsg, bool ShowOnly)
{
    try {
        TzqCustomComm::FatalError(ErrorCode, Detail, ErrorMsg, ShowOnly);
    } catch (...) {
        raisedReport_ = std::current_exception();
        throw;
    }
}

void TzqCommTAPI::DispatchLineEvent(
    DWORD hDevice, DWORD Message, DWORD_PTR Param1, DWORD_PTR Param2, DWORD_PTR Param3)
{
    // The service's dispatch is no place for an exception. One this
    // component's report raised has reached its handler and the log: it
    // only still owes the box a program shows for what it did not handle.
    // Anything else (a program's event handler that failed) is reported
    // here.
    raisedReport_ = nullptr;
    try {
        LineEvent(hDevice, Message, Param1, Param2, Param3);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        const bool reported = failure == raisedReport_;
        raisedReport_ = nullptr;
        std::string text = "zqTAPI Error: unexpected failure in the line callback";
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            text = e.what();
        } catch (...) {
        }
        if (reported) {
            zq::ui::ShowApplicationError(text);
            return;
        }
        try {
            FatalError(2, 0, text, true);
        } catch (...) {
            // A fatal-error handler that fails as well has had its say.
            raisedReport_ = nullptr;
        }
    }
}

void TzqCommTAPI::LineEvent(
    DWORD hDevice, DWORD Message, DWORD_PTR Param1, DWORD_PTR Param2, DWORD_PTR Param3)
{
    const HCALL call = static_cast<HCALL>(hDevice);
    if (holdingCallStates_ && (Message == LINE_CALLSTATE || Message == LINE_CALLINFO)) {
        heldCallStates_.push_back({ hDevice, Message, Param1, Param2, Param3 });
        return;
    }
    switch (Message) {
    case LINE_CALLINFO:
        UpdateCallInfo(call, static_cast<DWORD>(Param1));
        break;
    case LINE_CALLSTATE:
        UpdateCallInfo(call, LINECALLINFOSTATE_CALLERID + LINECALLINFOSTATE_CALLEDID);
        if (OnCallState)
            OnCallState(this, static_cast<Cardinal>(Param1), static_cast<Cardinal>(Param2));
        switch (Param1) {
        case LINECALLSTATE_CONNECTED:
            HandleConnected(call);
            break;
        case LINECALLSTATE_OFFERING:
            HandleOffering(call);
            break;
        case LINECALLSTATE_BUSY:
            if (OnLineBusy)
                OnLineBusy(this);
            break;
        case LINECALLSTATE_PROCEEDING:
            HandleProceeding();
            break;
        case LINECALLSTATE_DISCONNECTED:
            if (Param2 == LINEDISCONNECTMODE_BUSY && OnLineBusy)
                OnLineBusy(this);
            HandleRemoteDisconnect(call);
            break;
        default:
            break;
        }
        break;
    case LINE_MONITORDIGITS:
        if (OnDTMF)
            OnDTMF(this, static_cast<char>(Param1 & 0xFF));
        break;
    case LINE_MONITORTONE:
        if (OnTone)
            OnTone(this);
        break;
    case LINE_REPLY:
        StoreReply(static_cast<LONG>(Param1), static_cast<LONG>(Param2));
        break;
    default:
        break;
    }
}

void TzqCommTAPI::UpdateCallInfo(HCALL Call, DWORD Flags)
{
    callInfo_.clear();
    std::vector<unsigned char> block(zq::telephony::kCallInfoSize);
    As<LINECALLINFO>(block)->dwTotalSize = zq::telephony::kCallInfoSize;
    LONG r = lineGetCallInfo(Call, As<LINECALLINFO>(block));
    if (r == static_cast<LONG>(LINEERR_STRUCTURETOOSMALL)) {
        const DWORD needed = As<LINECALLINFO>(block)->dwNeededSize;
        block.assign(std::max<DWORD>(needed, sizeof(LINECALLINFO)), 0);
        As<LINECALLINFO>(block)->dwTotalSize = static_cast<DWORD>(block.size());
        r = lineGetCallInfo(Call, As<LINECALLINFO>(block));
    }
    if (r != 0)
        return;
    callInfo_ = std::move(block);
    const auto* info = As<LINECALLINFO>(callInfo_);
    auto copy = [&](DWORD size, DWORD offset, std::string& field) {
        // Only strings that lie wholly inside the block are taken; the
        // terminating zero the size covers is not part of the text.
        if (size > 0 && offset > 0 && offset <= callInfo_.size() && size <= callInfo_.size() - offset) {
            const char* p = reinterpret_cast<const char*>(callInfo_.data() + offset);
            while (size > 0 && p[size - 1] == 0)
                --size;
            field.assign(p, size);
        }
    };
    if (Flags & LINECALLINFOSTATE_CALLERID) {
        copy(info->dwCallerIDSize, info->dwCallerIDOffset, callerID_);
        copy(info->dwCallerIDNameSize, info->dwCallerIDNameOffset, callerIDName_);
    }
    if (Flags & LINECALLINFOSTATE_CALLEDID) {
        copy(info->dwCalledIDSize, info->dwCalledIDOffset, calledID_);
        copy(info->dwCalledIDNameSize, info->dwCalledIDNameOffset, calledIDName_);
    }
}

void TzqCommTAPI::HandleProceeding()
{
    LineState = lsProceeding;
    if (OnLineDoingConnection)
        OnLineDoingConnection(this);
}

void TzqCommTAPI::HandleConnected(HCALL Call)
{
    CallHandle = Call;
    if (VoiceCall)
        lineMonitorDigits(Call, pulse_ ? LINEDIGITMODE_PULSE : LINEDIGITMODE_DTMF);
    if (!VoiceCall || !TraceStates().Empty())
        Open();
    LineState = lsConnected;
    deviceModem_->SelectDevice(CurrentDeviceID());
    deviceModem_->Refresh();
    WriteLogFmt(0, "Connected [%u] hCom [%u] CallerID [%s]",
        { deviceModem_->BaudRateOfConnect(), static_cast<DWORD>(Handle), callerID_ });
    if (OnLineConnected)
        OnLineConnected(this);
}

void TzqCommTAPI::HandleOffering(HCALL Call)
{
    WriteLog(2, "Ring!");
    ++RingCount;
    CallHandle = 0;
    if (MonitorRing())
        SetMonitorState(MonitorRing(), true);
    if (TraceStates().Contains(tsRing) && OnTraceState)
        OnTraceState(this, TTraceStates { tsRing });
    bool Answer = RingCount >= ringsBeforeAnswer_;
    if (OnRing)
        OnRing(this, Answer);
    if (!Answer) {
        lineDeallocateCall(Call);
        return;
    }
    CallStateHold hold(*this);
    ResetReply();
    LONG r = lineAnswer(Call, nullptr, 0);
    LastResult = r;
    if (r < 0) {
        // The offered call is released rather than left behind.
        lineDeallocateCall(Call);
        ReportTAPIError(9, "zqTAPI Error: Aswer on the incoming call was fault");
        return;
    }
    const LONG w = WaitReply(r, zq::telephony::kReplyTimeout);
    LastResult = w;
    if (w < 0) {
        lineDeallocateCall(Call);
        return;
    }
    LineState = lsAnswered;
    WriteLog(0, "Answer");
    CallHandle = Call;
    hold.Release(true);
}

void TzqCommTAPI::HandleRemoteDisconnect(HCALL Call)
{
    if (LineState == lsClosing)
        return;
    WriteLog(0, "Begin Handle Disconnection");
    CallHandle = Call;
    const TRetryMode saved = RetryMode;
    CloseLine();
    WriteLog(0, "Done Disconnection");
    if (OnLineDisconnected)
        OnLineDisconnected(this, true);
    if (retries_ == 0)
        return;
    RetryMode = saved;
    ++RetryCount;
    if (retries_ == -1 || RetryCount < retries_) {
        RetryTimer->SetEnabled(true);
        if (RetryTimer->Interval() == 0)
            RetryTimerFired(RetryTimer);
    }
}

void TzqCommTAPI::RetryTimerFired(TObject*)
{
    RetryTimer->SetEnabled(false);
    const int saved = RetryCount;
    switch (RetryMode) {
    case rmMakeCall:
        MakeCall();
        break;
    case rmWaitForCall:
        WaitForCall();
        break;
    case rmNone:
        break;
    }
    RetryCount = saved;
}
