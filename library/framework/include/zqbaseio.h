#pragma once
// The base of every communication component: the medium handle and its
// open/close lifecycle, the device list, the notification list, the link to
// a data processor, the terminal edit, logging and the fatal-error
// convention. Sending, purging and device enumeration are left to the
// descendants.
#include "events.h"
#include "thread.h"
#include "win32types.h"
#include "zqclasses_export.h"
#include "zqdevice.h"
#include "zqformat.h"
#include "zqnotifylist.h"
#include "zqtypes.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <utility>
#include <vector>

class TzqCustomDataProcessor;
class TzqCustomLogFile;
class TzqThreadIO;
namespace zq::framework {
class TerminalHook;
} // namespace zq::framework

// A window message as the device-change handler receives it.
struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

struct DEV_BROADCAST_HDR {
    DWORD dbch_size = 0;
    DWORD dbch_devicetype = 0;
    DWORD dbch_reserved = 0;
};

constexpr WPARAM DBT_DEVNODES_CHANGED = 0x0007;
constexpr WPARAM DBT_DEVICEARRIVAL = 0x8000;
constexpr WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr DWORD DBT_DEVTYP_PORT = 3;

class ZQCLASSES_EXPORT TzqBaseIO : public TComponent {
    Q_OBJECT
    Q_MOC_INCLUDE("zqdataprocessor.h")
    Q_MOC_INCLUDE("zqlogfile.h")
    Q_PROPERTY(QWidget* Terminal READ Terminal WRITE SetTerminal)
    Q_PROPERTY(TTerminalUsageProp TerminalUsage READ TerminalUsageProp WRITE SetTerminalUsageProp)
    Q_PROPERTY(bool TerminalEcho READ TerminalEchoProp WRITE SetTerminalEchoProp)
    Q_PROPERTY(TzqCustomDataProcessor* DataProcessor READ DataProcessor WRITE SetDataProcessor)
    Q_PROPERTY(TzqCustomLogFile* Log READ Log WRITE SetLog)
    Q_PROPERTY(int DeviceIndex READ GetDeviceIndex WRITE SetDeviceIndex)
public:
    // The terminal usage as the meta-object knows it, for setting by name.
    enum TTerminalUsageProp {
        tuNone = ::tuNone,
        tuSend = ::tuSend,
        tuReceive = ::tuReceive,
        tuBoth = ::tuBoth
    };
    Q_ENUM(TTerminalUsageProp)

    explicit TzqBaseIO(QObject* AOwner = nullptr);
    ~TzqBaseIO() override;

    // Fields, in the order the component keeps them.
    TzqNotifyList* NotifyList;
    TOnFatalErrorEvent OnFatalError;
    HWND TerminalWindow = nullptr;
    bool WritingTerminal = false;
    TzqThreadIO* Thread = nullptr;
    TOnReceived OnAfterReceive;
    bool StreamedActive = false;
    HANDLE Handle = INVALID_HANDLE_VALUE;
    std::string LogPrefix;
    OVERLAPPED ReadOverlapped;
    OVERLAPPED WriteOverlapped;
    OVERLAPPED BlockWriteOverlapped;
    bool ThreadStopped = false;
    bool TerminalEcho = false;

    // Medium lifecycle.
    virtual bool IsOpened();
    virtual HANDLE CreateHandle();
    virtual void DestroyHandle(HANDLE H);
    virtual bool HasReceivers();
    virtual void Open();
    virtual void Close();
    virtual void StartThread();
    virtual void StopThread();
    virtual void ThreadExecute(TzqThreadIO* Thread);
    virtual void FatalError(Cardinal ErrorCode, Cardinal Detail, const std::string& ErrorMsg, bool ShowOnly);
    virtual void BroadcastNotify(int Code);
    virtual void DoReceive(const void* Buffer, Cardinal Count);
    virtual bool DoTxEmpty();
    virtual void SetDeviceIndex(int Value);
    virtual int GetDeviceIndex();
    virtual void AddDevice(TzqDevice* Device);
    virtual void EnumDevices();
    virtual void ClearDevices();
    virtual void WriteToTerminal(const void* Buffer, Cardinal Count);
    virtual void DevicesChanged();
    virtual int RegisterNotify(const TNotifyHandler& Handler);
    virtual void UnregisterNotify(const TNotifyHandler& Handler);
    virtual void SendChar(char Ch);
    virtual void SendString(const std::string& S);
    virtual void SendData(const void* Buffer, int Count);
    virtual void PurgeInput();
    virtual void PurgeOutput();
    virtual void PurgeAll();
    virtual void FillDeviceList(TStrings* Strings);
    virtual bool HandleDeviceChange(TMessage& Message);

    bool Active();
    void SetActive(bool Value);
    void WriteLog(int Level, const std::string& Msg);
    void WriteLogFmt(int Level, const std::string& Fmt, const TVarRecs& Args);
    TzqDevice* GetDevice(int Index) const;
    int DeviceCount() const { return static_cast<int>(Devices.size()); }
    // The I/O thread's stop flag and end, valid while it runs and after it
    // freed itself; empty when no thread was started.
    std::shared_ptr<zq::kernel::ThreadControl> ThreadControlBlock() const { return ThreadControl_; }

    QWidget* Terminal() const { return terminal_; }
    void SetTerminal(QWidget* Value);
    TTerminalUsage TerminalUsage() const { return terminalUsage_; }
    void SetTerminalUsage(TTerminalUsage Value);
    TzqCustomDataProcessor* DataProcessor() const { return dataProcessor_; }
    void SetDataProcessor(TzqCustomDataProcessor* Value);
    TzqCustomLogFile* Log() const { return log_; }
    void SetLog(TzqCustomLogFile* Value);

    void Loaded() override;

    // The device list: names with their descriptors, which it owns.
    std::vector<std::pair<std::string, std::unique_ptr<TzqDevice>>> Devices;

protected:
    void Notification(QObject* AComponent, TOperation Operation) override;
    // What the I/O thread's end is observed through, after it freed itself.
    std::shared_ptr<zq::kernel::ThreadControl> ThreadControl_;

private:
    friend class zq::framework::TerminalHook;
    friend class TzqThreadIO;
    bool TerminalKey(char Ch);
    TTerminalUsageProp TerminalUsageProp() const { return static_cast<TTerminalUsageProp>(terminalUsage_); }
    void SetTerminalUsageProp(TTerminalUsageProp v) { SetTerminalUsage(static_cast<TTerminalUsage>(v)); }
    bool TerminalEchoProp() const { return TerminalEcho; }
    void SetTerminalEchoProp(bool v) { TerminalEcho = v; }

    // The class name is only known once construction is over: a prefix
    // still at its constructed value is replaced by it at first use.
    const std::string& Prefix();
    std::string constructedPrefix_;
    bool prefixResolved_ = false;
    HANDLE readEvent_ = 0;
    HANDLE writeEvent_ = 0;
    QPointer<QWidget> terminal_;
    TTerminalUsage terminalUsage_ = ::tuNone;
    TzqCustomDataProcessor* dataProcessor_ = nullptr;
    TzqCustomLogFile* log_ = nullptr;
    // Stands in for the terminal's saved message handler while it is hooked.
    zq::framework::TerminalHook* SavedWindowProc = nullptr;
};
