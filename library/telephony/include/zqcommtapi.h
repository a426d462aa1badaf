#pragma once
// The telephone line component: lists the line devices of the telephony
// service, dials with repeats, waits for and answers calls, hangs up, reports
// call progress through events, and once a data call is connected drives
// the modem's comm handle with the serial machinery it inherits.
#include "registry.h"
#include "zqcomm.h"
#include "zqcommtapi_export.h"
#include "zqdataprocessor.h"
#include "zqmodemdevice.h"
#include "zqtapi.h"

#include <atomic>
#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <vector>

// (Com, ByRemote)
using TNotifyCallDisconnect = TEvent<TObject*, bool>;
// (Com, ErrorCode)
using TOnLineError = TEvent<TObject*, Cardinal>;
// (Com, StateCode, DetailCode)
using TOnLineCallState = TEvent<TObject*, Cardinal, Cardinal>;
// (Com, var Ignore) — Ignore enters holding whether the call will be
// answered; True on return answers it.
using TNotifyRing = TEvent<TObject*, bool&>;
// (Com, Digit)
using TOnDTMFEvent = TEvent<TObject*, char>;

enum TLineState : uint8_t {
    lsIdle = 0,
    lsClosing = 1,
    lsDialing = 2,
    lsWaiting = 3,
    lsAnswered = 4,
    lsProceeding = 5,
    lsConnected = 6,
};
enum TRetryMode : uint8_t { rmNone = 0, rmMakeCall = 1, rmWaitForCall = 2 };

namespace zq::telephony {

// Sizes of the records handed to the telephony service.
constexpr DWORD kLineGetIDSize = 283;
constexpr DWORD kDevCapsSize = 292;
constexpr DWORD kCallParamsSize = 180;
constexpr DWORD kTranslateOutputSize = 202;
constexpr DWORD kCallInfoSize = 2392;
constexpr DWORD kCallStatusSize = 56;
constexpr DWORD kDevConfigSize = 2048;
constexpr DWORD kReplyTimeout = 7000;

} // namespace zq::telephony

class ZQCOMMTAPI_EXPORT TzqDeviceTAPI : public TzqDevice {
public:
    DWORD DeviceID = 0;
    std::string LineName;
    std::string PortName;
    DWORD WaveInID = 0;
    DWORD WaveOutID = 0;
    DWORD BearerModes = 0;
    DWORD MediaModes = 0;
    std::vector<unsigned char> DevCaps = std::vector<unsigned char>(zq::telephony::kDevCapsSize);
};

class ZQCOMMTAPI_EXPORT TzqCommTAPI : public TzqCustomComm {
    Q_OBJECT
    Q_PROPERTY(int Retries READ Retries WRITE SetRetries)
    Q_PROPERTY(int PauseOnRepeat READ PauseOnRepeat WRITE SetPauseOnRepeat)
    Q_PROPERTY(QString Phone READ PhoneProp WRITE SetPhoneProp)
    Q_PROPERTY(int RingsBeforeAnswer READ RingsBeforeAnswer WRITE SetRingsBeforeAnswer)
    Q_PROPERTY(int CountryCode READ CountryCode WRITE SetCountryCode)
    Q_PROPERTY(QString AreaCode READ AreaCodeProp WRITE SetAreaCodeProp)
    Q_PROPERTY(bool Pulse READ Pulse WRITE SetPulse)
    Q_PROPERTY(TzqModemDevice* DeviceModem READ DeviceModem WRITE SetDeviceModem)
    Q_PROPERTY(bool Voice READ Voice WRITE SetVoice)
public:
    explicit TzqCommTAPI(QObject* AOwner = nullptr);
    ~TzqCommTAPI() override;

    // Overrides of the serial and base components.
    HANDLE CreateHandle() override;
    void Close() override;
    void SetDeviceIndex(int Value) override;
    int GetDeviceIndex() override;
    void EnumDevices() override;
    void DevicesChanged() override;
    void GetPortName(std::string& Name) override;
    void FatalError(Cardinal ErrorCode, Cardinal Detail, const std::string& ErrorMsg, bool ShowOnly) override;
    void SetEventChar(char Value) override;
    char GetEventChar() override;

    // Operations of the line.
    virtual void MakeCall();
    virtual void HangUp();
    virtual void WaitForCall();
    virtual void ConfigDialog();
    virtual void MakeCallNoAddress();
    virtual void LoadConfig(
        HKEY RootKey, const std::string& Key, const std::string& ValueName, bool KeepIndex);
    virtual void SaveConfig(HKEY RootKey, const std::string& Key, const std::string& ValueName);

    bool CommActive();
    void SetCommActive(bool Value);
    const std::string& CallerID() const { return callerID_; }
    const std::string& CallerIDName() const { return callerIDName_; }
    const std::string& CalledID() const { return calledID_; }
    const std::string& CalledIDName() const { return calledIDName_; }

    // Published settings.
    int Retries() const { return retries_; }
    void SetRetries(int v) { retries_ = v; }
    int PauseOnRepeat() const { return static_cast<int>(RetryTimer->Interval()); }
    void SetPauseOnRepeat(int v) { RetryTimer->SetInterval(static_cast<unsigned>(v)); }
    const std::string& Phone() const { return phone_; }
    void SetPhone(const std::string& v) { phone_ = v; }
    int RingsBeforeAnswer() const { return ringsBeforeAnswer_; }
    void SetRingsBeforeAnswer(int v) { ringsBeforeAnswer_ = v; }
    int CountryCode() const { return countryCode_; }
    void SetCountryCode(int v) { countryCode_ = v; }
    const std::string& AreaCode() const { return areaCode_; }
    void SetAreaCode(const std::string& v);
    bool Pulse() const { return pulse_; }
    void SetPulse(bool v) { pulse_ = v; }
    TzqModemDevice* DeviceModem() const { return deviceModem_; }
    void SetDeviceModem(TzqModemDevice* Value);
    bool Voice() const { return voice_; }
    void SetVoice(bool Value);

    // Published events.
    TNotifyEvent OnLineBusy;
    TNotifyEvent OnLineConnected;
    TNotifyEvent OnLineDoingConnection;
    TNotifyCallDisconnect OnLineDisconnected;
    TOnLineError OnLineError;
    TOnLineCallState OnCallState;
    TOnDTMFEvent OnDTMF;
    TNotifyEvent OnTone;
    TNotifyRing OnRing;

    // State, readable for programs and tests.
    HLINEAPP LineAppHandle = 0;
    HLINE LineHandle = 0;
    HCALL CallHandle = 0;
    DWORD NumDevs = 0;
    DWORD APIVersion = 0;
    int RingCount = 0;
    int RetryCount = 0;
    TzqTimer* RetryTimer;
    TRetryMode RetryMode = rmNone;
    TLineState LineState = lsIdle;
    LONG LastResult = 0;
    std::atomic<LONG> ReplyArrived { 0 };
    std::atomic<LONG> ReplyResult { 0 };
    std::atomic<LONG> ReplyRequestID { 0 };
    int TAPIRefCount = 0;
    bool VoiceCall = false;
    std::string DialableAddress;

    // Registration and devices.
    void InitTAPI();
    void AcquireTAPI();
    void ReleaseTAPI();
    void ShutdownTAPI();
    int CurrentDeviceID();
    std::string CurrentDeviceName();
    void ReportTAPIError(int Number, const std::string& Msg);

    // Call control.
    std::string CanonicalAddress();
    void CloseLine();
    void ResetReply();
    void StoreReply(LONG RequestID, LONG Result);
    LONG WaitReply(LONG RequestID, DWORD Timeout);
    bool IsCallIdle();
    void WaitCallIdle();
    void UpdateCallInfo(HCALL Call, DWORD Flags);
    void HandleConnected(HCALL Call);
    void HandleOffering(HCALL Call);
    void HandleProceeding();
    void HandleRemoteDisconnect(HCALL Call);
    void RetryTimerFired(TObject* Sender);
    void LineEvent(DWORD hDevice, DWORD Message, DWORD_PTR Param1, DWORD_PTR Param2, DWORD_PTR Param3);
    // While a request that makes or answers a call waits for its reply,
    // the call's state messages are held back: they are handled once the
    // reply has been (in arrival order), or dropped when the request failed.
    // Main thread only.
    void HoldCallStates();
    void ReleaseCallStates(bool Deliver);
    static void LineCallback(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
        DWORD_PTR dwParam2, DWORD_PTR dwParam3);

    // The last call information block.
    const std::vector<unsigned char>& CallInfo() const { return callInfo_; }

private:
    QString PhoneProp() const { return QString::fromStdString(phone_); }
    void SetPhoneProp(const QString& v) { phone_ = v.toStdString(); }
    QString AreaCodeProp() const { return QString::fromStdString(areaCode_); }
    void SetAreaCodeProp(const QString& v) { SetAreaCode(v.toStdString()); }
    void DoMakeCall(bool NoAddress);
    bool LineBusy() const { return LineHandle != 0 || LineState != lsIdle; }

    char eventChar_ = 0;
    int ringsBeforeAnswer_ = 0;
    std::string phone_;
    int countryCode_ = 0;
    std::string areaCode_;
    int deviceIndex_ = -1;
    int retries_ = 3;
    bool pulse_ = false;
    TzqModemDevice* deviceModem_;
    bool voice_ = false;
    std::vector<unsigned char> callInfo_;
    std::vector<unsigned char> callParams_ = std::vector<unsigned char>(zq::telephony::kCallParamsSize);
    std::string callerID_, callerIDName_, calledID_, calledIDName_;
    bool devicesChangePending_ = false;
    struct HeldLineEvent {
        DWORD hDevice;
        DWORD Message;
        DWORD_PTR Param1, Param2, Param3;
    };
    // Handles one line message; a failure stops at this boundary and is
    // reported once.
    void DispatchLineEvent(
        DWORD hDevice, DWORD Message, DWORD_PTR Param1, DWORD_PTR Param2, DWORD_PTR Param3);
    // The exception a report of this component raised, while it travels to
    // the line callback's boundary: it has been reported already.
    std::exception_ptr raisedReport_;
    bool holdingCallStates_ = false;
    std::deque<HeldLineEvent> heldCallStates_;
};

namespace zq::telephony {

// Makes the line component and its enumeration members known to form
// resources (done when the library loads; calling again is harmless).
ZQCOMMTAPI_EXPORT void RegisterTelephonyComponents();

} // namespace zq::telephony

// A data processor whose link is a line component, published as zqCommTAPI.
class ZQCOMMTAPI_EXPORT TzqCustomTAPIProcessor : public TzqCustomDataProcessor {
    Q_OBJECT
    Q_PROPERTY(TzqCommTAPI* zqCommTAPI READ zqCommTAPI WRITE SetzqCommTAPI)
public:
    explicit TzqCustomTAPIProcessor(QObject* AOwner = nullptr);
    ~TzqCustomTAPIProcessor() override;
    TzqCommTAPI* zqCommTAPI() const { return qobject_cast<TzqCommTAPI*>(Comm()); }
    void SetzqCommTAPI(TzqCommTAPI* Value) { SetComm(Value); }
};
