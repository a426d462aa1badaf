#include "zqbaseio.h"

#include "errorreport.h"
#include "handles.h"
#include "zqdataprocessor.h"
#include "zqlogfile.h"
#include "zqterminal.h"
#include "zqthreadio.h"

TzqBaseIO::TzqBaseIO(QObject* AOwner)
    : TComponent(AOwner)
{
    LogPrefix = ClassName();
    constructedPrefix_ = LogPrefix;
    NotifyList = new TzqNotifyList;
    Handle = INVALID_HANDLE_VALUE;
    readEvent_ = CreateEvent(FALSE, FALSE);
    writeEvent_ = CreateEvent(FALSE, FALSE);
    ReadOverlapped.hEvent = readEvent_;
    WriteOverlapped.hEvent = writeEvent_;
    PublishEvent("OnAfterReceive", &OnAfterReceive);
    PublishEvent("OnFatalError", &OnFatalError);
}

TzqBaseIO::~TzqBaseIO()
{
    Destroying();
    // The terminal gets its own key handling back before the component goes.
    if (SavedWindowProc) {
        delete SavedWindowProc;
        SavedWindowProc = nullptr;
    }
    CloseHandle(readEvent_);
    CloseHandle(writeEvent_);
    ClearDevices();
    delete NotifyList;
    NotifyList = nullptr;
}

// Medium lifecycle ---------------------------------------------------------

bool TzqBaseIO::IsOpened()
{
    return Handle != INVALID_HANDLE_VALUE;
}

HANDLE TzqBaseIO::CreateHandle()
{
    return INVALID_HANDLE_VALUE;
}

void TzqBaseIO::DestroyHandle(HANDLE H)
{
    ::CloseHandle(H);
}

bool TzqBaseIO::HasReceivers()
{
    return terminal_ || OnAfterReceive || dataProcessor_;
}

void TzqBaseIO::Open()
{
    Handle = CreateHandle();
    if (!IsOpened())
        return;
}

void TzqBaseIO::Close()
{
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    DestroyHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
}

bool TzqBaseIO::Active()
{
    if (ComponentState() & (csDesigning | csLoading))
        return StreamedActive;
    return IsOpened();
}

void TzqBaseIO::SetActive(bool Value)
{
    if (IsLoading()) {
        StreamedActive = Value;
        return;
    }
    if (Value == Active())
        return;
    if (Value)
        Open();
    else
        Close();
}

// I/O thread -----------------------------------------------------------------

void TzqBaseIO::StartThread()
{
    ThreadStopped = false;
    // Only the pointer is kept: the thread may already have freed itself.
    Thread = new TzqThreadIO(this);
}

void TzqBaseIO::StopThread()
{
    if (ThreadStopped)
        return;
    ThreadStopped = true;
    // The thread may have ended and freed itself already: its control block
    // outlives it and reports the end.
    if (auto control = std::move(ThreadControl_)) {
        control->Terminate();
        control->WaitFor();
    }
    Thread = nullptr;
}

void TzqBaseIO::ThreadExecute(TzqThreadIO*) { }

// Failures and logging -------------------------------------------------------

void TzqBaseIO::FatalError(Cardinal ErrorCode, Cardinal Detail, const std::string& ErrorMsg, bool ShowOnly)
{
    bool RaiseException = true;
    if (OnFatalError)
        OnFatalError(this, ErrorCode, Detail, ErrorMsg, RaiseException);
    if (log_)
        log_->WriteLineFmt(0, "Fatal Error: %u, %u, %s", { ErrorCode, Detail, ErrorMsg });
    if (RaiseException && !IsLoading()) {
        if (!ShowOnly)
            throw Exception(ErrorMsg);
        zq::ui::ShowApplicationError(ErrorMsg);
    }
}

void TzqBaseIO::WriteLog(int Level, const std::string& Msg)
{
    if (!log_)
        return;
    if (Msg.empty())
        log_->AddSeparator();
    else
        log_->WriteLine(Level, Prefix() + Msg);
}

const std::string& TzqBaseIO::Prefix()
{
    if (!prefixResolved_) {
        prefixResolved_ = true;
        if (LogPrefix == constructedPrefix_)
            LogPrefix = ClassName();
    }
    return LogPrefix;
}

void TzqBaseIO::WriteLogFmt(int Level, const std::string& Fmt, const TVarRecs& Args)
{
    if (log_)
        log_->WriteLineFmt(Level, Prefix() + Fmt, Args);
}

// Notifications ----------------------------------------------------------------

void TzqBaseIO::BroadcastNotify(int Code)
{
    NotifyList->Broadcast(this, Code);
}

int TzqBaseIO::RegisterNotify(const TNotifyHandler& Handler)
{
    int i = NotifyList->IndexOf(Handler);
    if (i >= 0)
        return i;
    return NotifyList->Add(Handler);
}

void TzqBaseIO::UnregisterNotify(const TNotifyHandler& Handler)
{
    int i = NotifyList->IndexOf(Handler);
    if (i >= 0)
        NotifyList->Delete(i);
}

// Data -----------------------------------------------------------------------

void TzqBaseIO::DoReceive(const void* Buffer, Cardinal Count)
{
    bool Handled = false;
    if (dataProcessor_)
        dataProcessor_->ProcessData(Buffer, static_cast<int>(Count), Handled);
    if (terminal_ && !Handled)
        WriteToTerminal(Buffer, Count);
    if (OnAfterReceive)
        OnAfterReceive(this, Buffer, Count);
}

bool TzqBaseIO::DoTxEmpty()
{
    if (!dataProcessor_)
        return false;
    bool Flag = false;
    dataProcessor_->DoTxEmpty(Flag);
    return Flag;
}

void TzqBaseIO::SendChar(char)
{
    throw EAbstractError();
}

void TzqBaseIO::SendString(const std::string&)
{
    throw EAbstractError();
}

void TzqBaseIO::SendData(const void*, int)
{
    throw EAbstractError();
}

void TzqBaseIO::PurgeInput()
{
    throw EAbstractError();
}

void TzqBaseIO::PurgeOutput()
{
    throw EAbstractError();
}

void TzqBaseIO::PurgeAll()
{
    throw EAbstractError();
}

// Devices ----------------------------------------------------------------------

void TzqBaseIO::SetDeviceIndex(int)
{
    BroadcastNotify(NOTIFY_DEVICES);
}

int TzqBaseIO::GetDeviceIndex()
{
    throw EAbstractError();
}

void TzqBaseIO::EnumDevices()
{
    throw EAbstractError();
}

void TzqBaseIO::AddDevice(TzqDevice* Device)
{
    Devices.emplace_back(Device->Name, std::unique_ptr<TzqDevice>(Device));
    Device->Index = DeviceCount() - 1;
    Device->Owner = this;
}

void TzqBaseIO::ClearDevices()
{
    Devices.clear();
}

TzqDevice* TzqBaseIO::GetDevice(int Index) const
{
    if (Index < 0 || Index >= DeviceCount())
        return nullptr;
    return Devices[Index].second.get();
}

void TzqBaseIO::DevicesChanged()
{
    BroadcastNotify(NOTIFY_DEVICES);
}

void TzqBaseIO::FillDeviceList(TStrings* Strings)
{
    if (DeviceCount() == 0)
        EnumDevices();
    if (!Strings)
        return;
    Strings->Clear();
    for (auto& [name, device] : Devices)
        Strings->AddObject(name, device.get());
}

bool TzqBaseIO::HandleDeviceChange(TMessage& Message)
{
    if (Message.Msg != WM_DEVICECHANGE)
        return false;
    bool changed = Message.WParam == DBT_DEVNODES_CHANGED;
    if (!changed && (Message.WParam == DBT_DEVICEARRIVAL || Message.WParam == DBT_DEVICEREMOVECOMPLETE)) {
        auto* hdr = reinterpret_cast<const DEV_BROADCAST_HDR*>(Message.LParam);
        changed = hdr && hdr->dbch_devicetype == DBT_DEVTYP_PORT;
    }
    if (!changed)
        return false;
    DevicesChanged();
    return true;
}

// Terminal -----------------------------------------------------------------------

bool TzqBaseIO::TerminalKey(char Ch)
{
    if (!WritingTerminal && (terminalUsage_ == ::tuSend || terminalUsage_ == ::tuBoth)) {
        SendChar(Ch);
        if (!TerminalEcho)
            return true; // consumed: the edit does not show it
    }
    return false;
}

void TzqBaseIO::WriteToTerminal(const void* Buffer, Cardinal Count)
{
    WritingTerminal = true;
    auto* edit = static_cast<QWidget*>(TerminalWindow);
    const auto* bytes = static_cast<const unsigned char*>(Buffer);
    try {
        if (Count == 1) {
            zq::framework::SendCharToEdit(edit, bytes[0]);
        } else if (edit && bytes) {
            Cardinal start = 0;
            for (Cardinal i = 0; i <= Count; ++i) {
                if (i == Count || bytes[i] == 0) {
                    if (i > start)
                        zq::framework::ReplaceSelection(
                            edit, std::string(reinterpret_cast<const char*>(bytes + start), i - start));
                    start = i + 1;
                }
            }
        }
    } catch (...) {
        WritingTerminal = false;
        throw;
    }
    WritingTerminal = false;
}

void TzqBaseIO::SetTerminal(QWidget* Value)
{
    if (SavedWindowProc) {
        delete SavedWindowProc;
        SavedWindowProc = nullptr;
    }
    if (Value)
        SavedWindowProc = new zq::framework::TerminalHook(this, Value);
    TerminalWindow = nullptr;
    terminal_ = Value;
    if (IsDesigning() && Value && terminalUsage_ == ::tuNone)
        terminalUsage_ = ::tuBoth;
    SetTerminalUsage(terminalUsage_);
    if (Value)
        FreeNotification(Value);
}

void TzqBaseIO::SetTerminalUsage(TTerminalUsage Value)
{
    terminalUsage_ = Value;
    if (!terminal_)
        return;
    if (Value == ::tuNone || Value == ::tuSend)
        TerminalWindow = nullptr;
    else
        TerminalWindow = terminal_.data();
}

// Links --------------------------------------------------------------------------

void TzqBaseIO::SetDataProcessor(TzqCustomDataProcessor* Value)
{
    if (!Value && dataProcessor_)
        dataProcessor_->SetComm(nullptr);
    dataProcessor_ = Value;
    if (Value) {
        Value->SetComm(this);
        FreeNotification(Value);
    }
}

void TzqBaseIO::SetLog(TzqCustomLogFile* Value)
{
    log_ = Value;
    if (Value)
        FreeNotification(Value);
}

void TzqBaseIO::Notification(QObject* AComponent, TOperation Operation)
{
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove)
        return;
    if (AComponent == dataProcessor_) {
        dataProcessor_->SetComm(nullptr);
        dataProcessor_ = nullptr;
    }
    if (AComponent == terminal_.data() || (terminal_.isNull() && SavedWindowProc)) {
        // The edit is going: its hook goes with it (it is the edit's child).
        SavedWindowProc = nullptr;
        terminal_ = nullptr;
        TerminalWindow = nullptr;
    }
    if (AComponent == log_)
        log_ = nullptr;
}

void TzqBaseIO::Loaded()
{
    TComponent::Loaded();
    try {
        SetTerminal(terminal_);
        SetTerminalUsage(terminalUsage_);
        SetActive(StreamedActive);
    } catch (...) {
        MessageBox(GetForegroundWindow(), "error", "Error", MB_ICONERROR);
    }
}
