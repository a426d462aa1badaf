#pragma once
// The base of components that work on an I/O component's data rather than
// on a medium of their own: linked to one component (Comm), optionally
// chained to a next processor, sending through the component with a hook
// that may take a send over, and owning a one-shot timer for the
// transmit-empty hook.
#include "zqclasses_export.h"
#include "zqformat.h"
#include "zqtimer.h"
#include "zqtypes.h"

class TzqCustomLogFile;

// (Sender, Buffer, Count, IsText, var Handled)
using TDataSendEvent = TEvent<TObject*, const void*, int, bool, bool&>;

class ZQCLASSES_EXPORT TzqCustomDataProcessor : public TComponent {
    Q_OBJECT
    Q_MOC_INCLUDE("zqlogfile.h")
    Q_PROPERTY(TzqCustomLogFile* Log READ Log WRITE SetLog)
public:
    explicit TzqCustomDataProcessor(QObject* AOwner = nullptr);
    ~TzqCustomDataProcessor() override;

    TzqBaseIO* Comm() const { return comm_; }
    TzqCustomDataProcessor* NextProcessor() const { return nextProcessor_; }
    bool Enabled = false;
    TOnFatalErrorEvent OnFatalError;
    TDataSendEvent OnDataSend;
    TzqTimer* Timer;

    virtual void CommNotify(TzqBaseIO* Sender, int Code);
    virtual void MediumClosed();
    virtual void MediumOpened();
    virtual void SetNextProcessor(TzqCustomDataProcessor* P);
    virtual void SetComm(TzqBaseIO* C);
    virtual void SetEnabled(bool B);
    virtual void DoDataSend(const void* Buffer, int Count);
    virtual void DoStringSend(const std::string& S);
    virtual void DoTimer(TObject* Sender);
    virtual void StartTimer(int Interval);
    virtual void FatalError(Cardinal ErrorCode, Cardinal Detail, const std::string& ErrorMsg);
    virtual void ProcessData(const void* Buffer, int Count, bool& Handled);
    virtual void ReceiveData(const void* Buffer, int Count);
    virtual void DoTxEmpty(bool& Handled);

    void WriteLog(int Level, const std::string& Msg);
    void WriteLogFmt(int Level, const std::string& Fmt, const TVarRecs& Args);

    TzqCustomLogFile* Log() const { return log_; }
    void SetLog(TzqCustomLogFile* Value);

protected:
    void Notification(QObject* AComponent, TOperation Operation) override;

private:
    TNotifyHandler Handler() { return TNotifyHandler(this, &TzqCustomDataProcessor::CommNotify); }
    TzqBaseIO* comm_ = nullptr;
    TzqCustomDataProcessor* nextProcessor_ = nullptr;
    TzqCustomLogFile* log_ = nullptr;
};
