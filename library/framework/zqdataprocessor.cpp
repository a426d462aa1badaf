#include "zqdataprocessor.h"

#include "zqbaseio.h"
#include "zqlogfile.h"

TzqCustomDataProcessor::TzqCustomDataProcessor(QObject* AOwner)
    : TComponent(AOwner)
{
    Timer = new TzqTimer;
    Timer->SetEnabled(false);
    Timer->SetOnTimer(TNotifyEvent(this, &TzqCustomDataProcessor::DoTimer));
    PublishEvent("OnFatalError", &OnFatalError);
}

TzqCustomDataProcessor::~TzqCustomDataProcessor()
{
    Destroying();
    SetComm(nullptr);
    delete Timer;
    Timer = nullptr;
}

void TzqCustomDataProcessor::CommNotify(TzqBaseIO*, int Code)
{
    if (Code == NOTIFY_CLOSED)
        MediumClosed();
    else if (Code == NOTIFY_OPENED)
        MediumOpened();
}

void TzqCustomDataProcessor::MediumClosed()
{
    WriteLog(2, "Medium Closed");
}

void TzqCustomDataProcessor::MediumOpened()
{
    WriteLog(2, "Medium Opened");
}

void TzqCustomDataProcessor::SetNextProcessor(TzqCustomDataProcessor* P)
{
    if (P == this)
        return;
    nextProcessor_ = P;
    if (P) {
        FreeNotification(P);
        P->SetComm(comm_);
    }
}

void TzqCustomDataProcessor::SetComm(TzqBaseIO* C)
{
    if (comm_ && comm_ != C)
        comm_->UnregisterNotify(Handler());
    comm_ = C;
    if (C) {
        FreeNotification(C);
        C->RegisterNotify(Handler());
    }
}

void TzqCustomDataProcessor::SetEnabled(bool B)
{
    Enabled = B;
}

void TzqCustomDataProcessor::DoDataSend(const void* Buffer, int Count)
{
    if (Count == 0 || !Buffer)
        return;
    try {
        bool Handled = false;
        if (OnDataSend)
            OnDataSend(this, Buffer, Count, false, Handled);
        if (Handled) {
            Timer->SetEnabled(false);
            Timer->SetEnabled(true);
        } else {
            if (!comm_)
                return;
            comm_->SendData(Buffer, Count);
        }
        WriteLogFmt(2, "DoDataSend: %u bytes", { Count });
    } catch (...) {
        // The component reports its own send failures.
    }
}

void TzqCustomDataProcessor::DoStringSend(const std::string& S)
{
    if (S.empty())
        return;
    try {
        bool Handled = false;
        if (OnDataSend) {
            const std::string copy = S;
            OnDataSend(this, copy.data(), static_cast<int>(copy.size()), true, Handled);
        }
        if (!Handled && comm_)
            comm_->SendString(S);
    } catch (...) {
    }
}

void TzqCustomDataProcessor::StartTimer(int Interval)
{
    Timer->SetEnabled(false);
    if (Interval != 0) {
        Timer->SetInterval(static_cast<unsigned>(Interval));
        Timer->SetEnabled(true);
    }
}

void TzqCustomDataProcessor::DoTimer(TObject*)
{
    Timer->SetEnabled(false);
    bool Flag = false;
    DoTxEmpty(Flag);
}

void TzqCustomDataProcessor::FatalError(Cardinal ErrorCode, Cardinal Detail, const std::string& ErrorMsg)
{
    bool RaiseException = true;
    if (OnFatalError)
        OnFatalError(this, ErrorCode, Detail, ErrorMsg, RaiseException);
    if (log_)
        log_->WriteLineFmt(0, "Fatal Error: %u, %u, %s", { ErrorCode, Detail, ErrorMsg });
    if (RaiseException)
        throw Exception(ErrorMsg);
}

void TzqCustomDataProcessor::ProcessData(const void* Buffer, int Count, bool& Handled)
{
    if (nextProcessor_)
        nextProcessor_->ProcessData(Buffer, Count, Handled);
}

void TzqCustomDataProcessor::ReceiveData(const void* Buffer, int Count)
{
    bool Handled = false;
    ProcessData(Buffer, Count, Handled);
}

void TzqCustomDataProcessor::DoTxEmpty(bool&) { }

void TzqCustomDataProcessor::WriteLog(int Level, const std::string& Msg)
{
    if (log_)
        log_->WriteLine(Level, Msg);
}

void TzqCustomDataProcessor::WriteLogFmt(int Level, const std::string& Fmt, const TVarRecs& Args)
{
    if (log_)
        log_->WriteLineFmt(Level, Fmt, Args);
}

void TzqCustomDataProcessor::SetLog(TzqCustomLogFile* Value)
{
    log_ = Value;
    if (Value)
        FreeNotification(Value);
}

void TzqCustomDataProcessor::Notification(QObject* AComponent, TOperation Operation)
{
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove)
        return;
    if (AComponent == nextProcessor_)
        SetNextProcessor(nullptr);
    if (AComponent == comm_)
        SetComm(nullptr);
    if (AComponent == log_)
        log_ = nullptr;
}
