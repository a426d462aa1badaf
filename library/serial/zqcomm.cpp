#include "zqcomm.h"

#include "lasterror.h"
#include "sysinfo.h"
#include "zqwin32.h"

#include <QMetaProperty>

#include <algorithm>
#include <cstdlib>
#include <exception>

namespace {

constexpr DWORD kKeptFlowBits = 0x4CEA;
constexpr DWORD kRtsToggleBits = 0x3011;
constexpr DWORD kNoneBits = 0x1011;
constexpr DWORD kXonXoffBits = 0x1311;
constexpr DWORD kHardwareBits = 0x2015;
constexpr size_t kMinReceiveBuffer = 8192;

// Event-mask bit of each trace state, and the trace state a port event
// produces (tsRxChar and tsTxEmpty are never produced).
struct TraceBit {
    TTraceState state;
    DWORD bit;
};
constexpr TraceBit kTraceBits[] = {
    { tsRxFlag, EV_RXFLAG },
    { tsCTS, EV_CTS },
    { tsDSR, EV_DSR },
    { tsRLSD, EV_RLSD },
    { tsBreak, EV_BREAK },
    { tsErr, EV_ERR },
    { tsRing, EV_RING },
    { tsRx80Full, EV_RX80FULL },
    { tsEvent1, EV_EVENT1 },
    { tsEvent2, EV_EVENT2 },
};

bool PortTogglesRts()
{
    OSVERSIONINFO info;
    return GetVersionEx(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 5;
}

} // namespace

TzqCustomComm::TzqCustomComm(QObject* AOwner)
    : TzqBaseIO(AOwner)
{
    ReceiveBuffer = nullptr;
    ComStat = new COMSTAT;
    Timeouts = new COMMTIMEOUTS;
    Timeouts->WriteTotalTimeoutMultiplier = 100;
    ManualRtsToggle = !PortTogglesRts();
    traceStates_ = {};
    PortState.DCBlength = sizeof(DCB);
    SetBufferInSize(8192);
    SetBufferOutSize(8192);
    PublishEvent("OnAfterSend", &OnAfterSend);
    PublishEvent("OnTraceState", &OnTraceState);
    PublishEvent("OnCommError", &OnCommError);
}

TzqCustomComm::~TzqCustomComm()
{
    // The threads are let go before anything they could reach changes.
    StopThread();
    Destroying();
    SetTerminal(nullptr);
    SetDataProcessor(nullptr);
    OnTraceState = nullptr;
    Close();
    delete ComStat;
    ComStat = nullptr;
    delete Timeouts;
    Timeouts = nullptr;
}

void TzqCustomComm::Notification(QObject* AComponent, TOperation Operation)
{
    TzqBaseIO::Notification(AComponent, Operation);
    if (Operation != opRemove)
        return;
    for (QObject** monitor : { &monitorCTS_, &monitorDSR_, &monitorRLSD_, &monitorRing_ })
        if (*monitor == AComponent)
            *monitor = nullptr;
}

// ---- open and close ---------------------------------------------------------

void TzqCustomComm::Open()
{
    Close();
    TzqBaseIO::Open();
    if (Handle == INVALID_HANDLE_VALUE) {
        std::string Name;
        GetPortName(Name);
        OpenErrorText = Format("Device \"%s\" Open Error !!!\r%s", { Name, LastErrorText() });
        FatalError(1, 0, OpenErrorText, false);
        return;
    }
    AllocReceiveBuffer();
    std::string Name;
    GetPortName(Name);
    WriteLogFmt(0, "The port %s is opened succesfully", { Name });
    SetupPort();
    SetTraceStates(traceStates_);
    StartThread();
    BroadcastNotify(NOTIFY_OPENED);
}

void TzqCustomComm::Close()
{
    {
        // The event thread may be closing the port after a failed wait.
        std::lock_guard lock(*portLock_);
        if (Handle != INVALID_HANDLE_VALUE) {
            try {
                ClosePort(true);
                WriteLog(0, "The port is closed succesfully");
            } catch (...) {
                TzqBaseIO::Close();
            }
        }
    }
    DoTraceState(this, { tsTxEmpty });
}

void TzqCustomComm::ClosePort(bool Purge)
{
    // The event thread closes the port after a failed wait, possibly while
    // the main thread closes it too: whoever comes second finds it closed.
    std::lock_guard lock(*portLock_);
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    StopThread();
    if (Purge) {
        if (OutQueueCount() > 0)
            PurgeAll();
        SetCommMask(Handle, 0);
    }
    FreeReceiveBuffer();
    TzqBaseIO::Close();
    BroadcastNotify(NOTIFY_CLOSED);
}

void TzqCustomComm::GetPortName(std::string& Name)
{
    Name = "Unknown";
}

void TzqCustomComm::AllocReceiveBuffer()
{
    FreeReceiveBuffer();
    receiveBufferSize_ = std::max<size_t>(bufferInSize_, kMinReceiveBuffer);
    ReceiveBuffer = std::calloc(receiveBufferSize_, 1);
    if (!ReceiveBuffer)
        receiveBufferSize_ = 0;
}

void TzqCustomComm::FreeReceiveBuffer()
{
    void* buffer = ReceiveBuffer;
    ReceiveBuffer = nullptr;
    receiveBufferSize_ = 0;
    std::free(buffer);
}

// ---- threads ----------------------------------------------------------------

void TzqCustomComm::StartThread()
{
    // The event thread clears the fields below when it closes the port.
    std::lock_guard lock(*portLock_);
    if (!link_) {
        link_ = std::make_shared<zq::serial::TCommLink>(portLock_);
        link_->Comm = this;
    }
    if (!MsgThread)
        MsgThread = new TMsgThread(this, link_);
    if (!CommThread)
        CommThread = new TCommThread(this, link_);
}

void TzqCustomComm::StopThread()
{
    std::lock_guard portLock(*portLock_);
    if (auto link = std::move(link_)) {
        // Waits while a thread is inside the component (handling an event,
        // or closing the port after a failed wait); afterwards neither calls
        // into it again.
        std::lock_guard lock(link->Lock);
        if (link->CommThread)
            link->CommThread->StopThread();
        if (link->MsgThread)
            link->MsgThread->StopThread();
        link->Comm = nullptr;
    }
    MsgThread = nullptr;
    CommThread = nullptr;
}

// ---- port configuration -----------------------------------------------------

void TzqCustomComm::SetupPort()
{
    ClearCommError(Handle, nullptr, nullptr);
    SetupComm(Handle, bufferInSize_, bufferOutSize_);
    SetTimeouts(*Timeouts);
    UpdateCommState();
}

void TzqCustomComm::UpdateCommState()
{
    PortState.DCBlength = sizeof(DCB);
    PortState.Flags &= kKeptFlowBits;
    if (RtsToggle)
        PortState.Flags |= kRtsToggleBits;
    else if (StreamProtocol == spNone)
        PortState.Flags |= kNoneBits;
    else if (StreamProtocol == spXonXoff)
        PortState.Flags |= kXonXoffBits;
    else if (StreamProtocol == spHardware)
        PortState.Flags |= kHardwareBits;
    PortState.XonLim = 2048;
    PortState.XoffLim = 2048;
    PortState.XonChar = 17;
    PortState.XoffChar = 19;
    if (Active())
        SetCommState(Handle, &PortState);
}

void TzqCustomComm::SetTraceStates(TTraceStates Value)
{
    traceStates_ = Value;
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    DWORD Mask = EV_RXCHAR;
    for (const TraceBit& t : kTraceBits)
        if (Value.Contains(t.state))
            Mask |= t.bit;
    if (Value.Contains(tsTxEmpty) || (RtsToggle && ManualRtsToggle))
        Mask |= EV_TXEMPTY;
    // Clearing first completes the wait the event thread has pending; it
    // waits again with the new mask.
    SetCommMask(Handle, 0);
    SetCommMask(Handle, Mask);
}

void TzqCustomComm::SetEventChar(char Value)
{
    PortState.EvtChar = Value;
    UpdateCommState();
}

char TzqCustomComm::GetEventChar()
{
    return PortState.EvtChar;
}

void TzqCustomComm::SetBufferInSize(WORD Value)
{
    if (Handle != INVALID_HANDLE_VALUE)
        SetupComm(Handle, Value, bufferOutSize_);
    bufferInSize_ = Value;
}

void TzqCustomComm::SetBufferOutSize(WORD Value)
{
    if (Handle != INVALID_HANDLE_VALUE)
        SetupComm(Handle, bufferInSize_, Value);
    bufferOutSize_ = Value;
}

void TzqCustomComm::SetTimeouts(const COMMTIMEOUTS& T)
{
    *Timeouts = T;
    if (Handle != INVALID_HANDLE_VALUE)
        SetCommTimeouts(Handle, Timeouts);
}

const COMMTIMEOUTS& TzqCustomComm::GetTimeouts()
{
    if (Handle != INVALID_HANDLE_VALUE)
        GetCommTimeouts(Handle, Timeouts);
    return *Timeouts;
}

Cardinal TzqCustomComm::TimeoutRead()
{
    return GetTimeouts().ReadTotalTimeoutMultiplier;
}

void TzqCustomComm::SetTimeoutRead(Cardinal Value)
{
    Timeouts->ReadTotalTimeoutMultiplier = Value;
    SetTimeouts(*Timeouts);
}

Cardinal TzqCustomComm::TimeoutWrite()
{
    return GetTimeouts().WriteTotalTimeoutMultiplier;
}

void TzqCustomComm::SetTimeoutWrite(Cardinal Value)
{
    Timeouts->WriteTotalTimeoutMultiplier = Value;
    SetTimeouts(*Timeouts);
}

DWORD TzqCustomComm::OutQueueCount()
{
    COMSTAT Stat;
    DWORD Errors = 0;
    return ClearCommError(Handle, &Errors, &Stat) ? Stat.cbOutQue : 0;
}

// ---- modem lines and monitors -------------------------------------------------

TModemSignals TzqCustomComm::ModemSignals()
{
    DWORD Status = 0;
    if (Handle == INVALID_HANDLE_VALUE || !GetCommModemStatus(Handle, &Status))
        return {};
    TModemSignals Signals;
    if (Status & MS_CTS_ON)
        Signals.Include(msCTS);
    if (Status & MS_DSR_ON)
        Signals.Include(msDSR);
    if (Status & MS_RING_ON)
        Signals.Include(msRing);
    if (Status & MS_RLSD_ON)
        Signals.Include(msRLSD);
    return Signals;
}

void TzqCustomComm::SetRTS(bool On)
{
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    EscapeCommFunction(Handle, On ? SETRTS : CLRRTS);
    DoTraceState(this, { tsCTS });
}

void TzqCustomComm::SetMonitor(QObject*& Field, QObject* Value)
{
    Field = Value;
    if (Value)
        FreeNotification(Value);
}

void TzqCustomComm::SetMonitorState(QObject* Control, bool Value)
{
    if (!Control)
        return;
    const QMetaObject* meta = Control->metaObject();
    const int index = meta->indexOfProperty("checked");
    if (index < 0 || meta->property(index).metaType().id() != QMetaType::Bool)
        return;
    meta->property(index).write(Control, Value);
}

void TzqCustomComm::DoTraceState(TObject* Sender, TTraceStates Event)
{
    const TModemSignals Signals = ModemSignals();
    if (monitorCTS_)
        SetMonitorState(monitorCTS_, Signals.Contains(msCTS));
    if (monitorDSR_)
        SetMonitorState(monitorDSR_, Signals.Contains(msDSR));
    if (monitorRLSD_)
        SetMonitorState(monitorRLSD_, Signals.Contains(msRLSD));
    if (Event.Contains(tsRing) && monitorRing_)
        SetMonitorState(monitorRing_, true);
    if (OnTraceState)
        OnTraceState(Sender, Event);
}

// ---- events -------------------------------------------------------------------

void TzqCustomComm::HandleComEvent(const MSG& Msg)
{
    if (Msg.message != ComEventMsg)
        return;
    try {
        const DWORD Mask = static_cast<DWORD>(Msg.wParam);
        DWORD Errors = 0;
        *ComStat = COMSTAT {};
        ClearCommError(Handle, &Errors, ComStat);
        if (Errors != 0) {
            CommError(Errors, 0, TComStateFlags::FromBits(static_cast<uint8_t>(ComStat->Flags & 0xFF)));
            return;
        }
        if ((Mask & EV_RXCHAR) && ComStat->cbInQue > 0 && ReceiveBuffer) {
            const bool Wanted = traceStates_.Contains(tsRxChar) || HasReceivers();
            if (Wanted) {
                // What does not fit stays queued for the next event.
                const DWORD Count
                    = static_cast<DWORD>(std::min<size_t>(ComStat->cbInQue, receiveBufferSize_));
                if (ReadWait(Handle, ReceiveBuffer, Count, ReadOverlapped))
                    DoReceive(ReceiveBuffer, ReadOverlapped.InternalHigh);
            }
        }
        if (Mask & EV_TXEMPTY) {
            if (RtsToggle && ManualRtsToggle)
                SetRTS(false);
            const bool Handled = DoTxEmpty();
            if (traceStates_.Contains(tsTxEmpty) && !Handled && OnAfterSend)
                OnAfterSend(this);
        }
        TTraceStates Trace;
        for (const TraceBit& t : kTraceBits)
            if (Mask & t.bit)
                Trace.Include(t.state);
        if (!Trace.Empty())
            DoTraceState(this, Trace);
    } catch (const std::exception& e) {
        FatalError(1, GetLastError(), e.what(), true);
    } catch (...) {
        FatalError(1, GetLastError(), "Unknown exception", true);
    }
}

void TzqCustomComm::CommError(Cardinal CommCode, Cardinal SysError, TComStateFlags State)
{
    if (RtsToggle && ManualRtsToggle)
        SetRTS(false);
    bool flFlashBuffers = false;
    WriteLogFmt(1, "Communication Error %d:%d", { CommCode, SysError });
    if (OnCommError)
        OnCommError(this, CommCode, SysError, State, flFlashBuffers);
    if (flFlashBuffers)
        PurgeAll();
}

// ---- sending and purging ------------------------------------------------------

void TzqCustomComm::SendChar(char Ch)
{
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    WriteLogFmt(2, "Try to send char %2Xh ...", { static_cast<unsigned>(static_cast<unsigned char>(Ch)) });
    if (RtsToggle && ManualRtsToggle)
        SetRTS(true);
    if (!WriteWait(Handle, &Ch, 1, WriteOverlapped))
        CommError(0, GetLastError(), {});
}

void TzqCustomComm::SendString(const std::string& S)
{
    if (Handle == INVALID_HANDLE_VALUE || S.empty())
        return;
    WriteLogFmt(2, "Try to send string %s ...", { S });
    if (RtsToggle && ManualRtsToggle)
        SetRTS(true);
    if (!WriteWait(Handle, S.data(), static_cast<DWORD>(S.size()), WriteOverlapped))
        CommError(0, GetLastError(), {});
}

void TzqCustomComm::SendData(const void* Buffer, int Count)
{
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    WriteLogFmt(2, "Try to send the data with %d length ...", { Count });
    if (Count < 0) {
        // A negative length would read far beyond the caller's buffer.
        CommError(0, ERROR_INVALID_PARAMETER, {});
        return;
    }
    if (RtsToggle && ManualRtsToggle)
        SetRTS(true);
    // The port takes the bytes at the call, so the caller's buffer is free
    // again as soon as this returns, while the write is still under way.
    if (WriteQueued(Handle, Buffer, static_cast<DWORD>(Count), BlockWriteOverlapped))
        WriteLog(2, "... the data transmittion is OK!");
    else
        CommError(0, GetLastError(), {});
}

void TzqCustomComm::PurgeInput()
{
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(Handle, PURGE_RXABORT | PURGE_RXCLEAR);
}

void TzqCustomComm::PurgeOutput()
{
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(Handle, PURGE_TXABORT | PURGE_TXCLEAR);
    if (RtsToggle && ManualRtsToggle)
        SetRTS(false);
}

void TzqCustomComm::PurgeAll()
{
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(Handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    CancelPendingIo(Handle);
    if (RtsToggle && ManualRtsToggle)
        SetRTS(false);
}
