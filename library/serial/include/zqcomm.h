#pragma once
// The serial-port component: configures an open comm handle (queues,
// time-outs, flow control, event character, event mask), runs the event and
// message threads that deliver port events to the main thread, sends,
// purges, reads the modem lines into monitor controls and reports
// communication errors. It never opens a port itself: a descendant supplies
// the handle through CreateHandle.
#include "commapi.h"
#include "zqbaseio.h"
#include "zqcomm_export.h"
#include "zqcommthreads.h"
#include "zqcommtypes.h"

#include <QPointer>

#include <memory>
#include <mutex>
#include <string>

class ZQCOMM_EXPORT TzqCustomComm : public TzqBaseIO {
    Q_OBJECT
    Q_PROPERTY(int TraceStates READ TraceStatesBits WRITE SetTraceStatesBits)
    Q_PROPERTY(int BufferInSize READ BufferInSize WRITE SetBufferInSizeProp)
    Q_PROPERTY(int BufferOutSize READ BufferOutSize WRITE SetBufferOutSizeProp)
    Q_PROPERTY(uint TimeoutRead READ TimeoutRead WRITE SetTimeoutRead)
    Q_PROPERTY(uint TimeoutWrite READ TimeoutWrite WRITE SetTimeoutWrite)
    Q_PROPERTY(int EventChar READ EventCharProp WRITE SetEventCharProp)
    Q_PROPERTY(QObject* MonitorCTS READ MonitorCTS WRITE SetMonitorCTS)
    Q_PROPERTY(QObject* MonitorDSR READ MonitorDSR WRITE SetMonitorDSR)
    Q_PROPERTY(QObject* MonitorRLSD READ MonitorRLSD WRITE SetMonitorRLSD)
    Q_PROPERTY(QObject* MonitorRing READ MonitorRing WRITE SetMonitorRing)
    Q_PROPERTY(int ModemSignals READ ModemSignalsBits STORED false)
public:
    explicit TzqCustomComm(QObject* AOwner = nullptr);
    ~TzqCustomComm() override;

    // Fields, in the order the component keeps them.
    // Informational (the threads free themselves); changed under the port
    // lock, also by the event thread when it closes the port.
    TMsgThread* MsgThread = nullptr;
    TCommThread* CommThread = nullptr;
    COMSTAT* ComStat;
    COMMTIMEOUTS* Timeouts;
    std::string OpenErrorText;
    TOnSent OnAfterSend;
    void* ReceiveBuffer = nullptr;
    bool RtsToggle = false;
    bool ManualRtsToggle;
    TStreamProtocol StreamProtocol = spNone;
    TOnTraceEvent OnTraceState;
    TOnCommErrorEvent OnCommError;
    DCB PortState;

    void Open() override;
    void Close() override;
    void StartThread() override;
    void StopThread() override;

    void SendChar(char Ch) override;
    void SendString(const std::string& S) override;
    // Returns once the write is queued; the bytes are taken at the call.
    void SendData(const void* Buffer, int Count) override;
    void PurgeInput() override;
    void PurgeOutput() override;
    void PurgeAll() override;

    virtual void GetPortName(std::string& Name);
    virtual void SetupPort();
    virtual void SetEventChar(char Value);
    virtual char GetEventChar();
    virtual void CommError(Cardinal CommCode, Cardinal SysError, TComStateFlags State);

    void SetMonitorState(QObject* Control, bool Value);
    void DoTraceState(TObject* Sender, TTraceStates Event);
    // One port event, as the message thread delivers it.
    void HandleComEvent(const MSG& Msg);
    void ClosePort(bool Purge);
    DWORD OutQueueCount();
    void SetTimeouts(const COMMTIMEOUTS& T);
    const COMMTIMEOUTS& GetTimeouts();
    void SetRTS(bool On);

    TTraceStates TraceStates() const { return traceStates_; }
    void SetTraceStates(TTraceStates Value);
    TModemSignals ModemSignals();
    char EventChar() { return GetEventChar(); }
    WORD BufferInSize() const { return bufferInSize_; }
    void SetBufferInSize(WORD Value);
    WORD BufferOutSize() const { return bufferOutSize_; }
    void SetBufferOutSize(WORD Value);
    Cardinal TimeoutRead();
    void SetTimeoutRead(Cardinal Value);
    Cardinal TimeoutWrite();
    void SetTimeoutWrite(Cardinal Value);
    QObject* MonitorCTS() const { return monitorCTS_; }
    void SetMonitorCTS(QObject* Value) { SetMonitor(monitorCTS_, Value); }
    QObject* MonitorDSR() const { return monitorDSR_; }
    void SetMonitorDSR(QObject* Value) { SetMonitor(monitorDSR_, Value); }
    QObject* MonitorRLSD() const { return monitorRLSD_; }
    void SetMonitorRLSD(QObject* Value) { SetMonitor(monitorRLSD_, Value); }
    QObject* MonitorRing() const { return monitorRing_; }
    void SetMonitorRing(QObject* Value) { SetMonitor(monitorRing_, Value); }

    // Capacity of ReceiveBuffer; a read never asks for more.
    size_t ReceiveBufferSize() const { return receiveBufferSize_; }

protected:
    void Notification(QObject* AComponent, TOperation Operation) override;
    void UpdateCommState();

private:
    void AllocReceiveBuffer();
    void FreeReceiveBuffer();
    void SetMonitor(QObject*& Field, QObject* Value);
    int TraceStatesBits() const { return traceStates_.ToBits(); }
    int ModemSignalsBits() { return ModemSignals().ToBits(); }
    void SetTraceStatesBits(int v) { SetTraceStates(TTraceStates::FromBits(static_cast<uint16_t>(v))); }
    void SetBufferInSizeProp(int v) { SetBufferInSize(static_cast<WORD>(v)); }
    void SetBufferOutSizeProp(int v) { SetBufferOutSize(static_cast<WORD>(v)); }
    int EventCharProp() { return static_cast<unsigned char>(GetEventChar()); }
    void SetEventCharProp(int v) { SetEventChar(static_cast<char>(v)); }

    TTraceStates traceStates_;
    WORD bufferOutSize_ = 0;
    WORD bufferInSize_ = 0;
    size_t receiveBufferSize_ = 0;
    QObject* monitorRLSD_ = nullptr;
    QObject* monitorRing_ = nullptr;
    QObject* monitorCTS_ = nullptr;
    QObject* monitorDSR_ = nullptr;
    // Shared with the threads of the current open.
    std::shared_ptr<zq::serial::TCommLink> link_;
    // Held while the port is torn down and by the threads while they call in.
    std::shared_ptr<std::recursive_mutex> portLock_ = std::make_shared<std::recursive_mutex>();
};
