#pragma once
// The modem settings of the selected line device, kept in the device's
// "comm/datamodem" configuration block: every read fetches the block, every
// write stores the whole set back into it. The init string lives in the
// modem's registry key.
#include "zqcommtapi_export.h"
#include "zqcommtypes.h"
#include "zqcomponent.h"
#include "zqtypes.h"

#include <QObject>

#include <array>
#include <cstdint>
#include <string>

class TzqCommTAPI;

enum TSpeakVol : uint8_t { svLow = 0, svMedium = 1, svHigh = 2 };
enum TSpeakMode : uint8_t { smOff = 0, smCallSetup = 1, smOn = 2, smDial = 3 };
enum TModemOption : uint8_t {
    moPreTerminal = 0,
    moPostTerminal = 1,
    moShowIcon = 2,
    moErrorControl = 3,
    moCompression = 4,
    moForcedConnection = 5,
    moWaitTone = 6,
};
// A set of TModemOption: bit n is member n.
using TModemOptions = uint8_t;
constexpr TModemOptions ModemOption(TModemOption o)
{
    return static_cast<TModemOptions>(1u << o);
}
constexpr bool HasOption(TModemOptions set, TModemOption o)
{
    return set & ModemOption(o);
}

// Layout of the configuration block behind the 24-byte VARSTRING header.
namespace zq::telephony::modemconfig {
constexpr size_t kBufferSize = 2048;
constexpr size_t kHeader = 24; // the block starts here in the buffer
constexpr size_t kOptionsWord = 8;
constexpr size_t kBaudRate = 24;
constexpr size_t kDcbFlags = 28;
constexpr size_t kProviderSubType = 48;
constexpr size_t kCallSetupFailTimer = 76;
constexpr size_t kInactivityTimeout = 80;
constexpr size_t kSpeakerVolume = 84;
constexpr size_t kSpeakerMode = 88;
constexpr size_t kPreferredOptions = 92;
constexpr size_t kNegotiatedOptions = 96;
constexpr size_t kNegotiatedDCERate = 100;
constexpr size_t kEnd = 104; // the block must reach this far to be mapped
constexpr uint32_t PST_MODEM = 6;

constexpr uint32_t MDM_COMPRESSION = 0x1;
constexpr uint32_t MDM_ERROR_CONTROL = 0x2;
constexpr uint32_t MDM_FORCED_EC = 0x4;
constexpr uint32_t MDM_FLOWCONTROL_HARD = 0x10;
constexpr uint32_t MDM_FLOWCONTROL_SOFT = 0x20;
constexpr uint32_t MDM_SPEED_ADJUST = 0x80;
constexpr uint32_t MDM_BLIND_DIAL = 0x200;
} // namespace zq::telephony::modemconfig

class ZQCOMMTAPI_EXPORT TzqModemDevice : public QObject, public TPersistent {
    Q_OBJECT
    Q_PROPERTY(QString InitString READ InitStringProp WRITE SetInitStringProp)
    Q_PROPERTY(int SpeakerVol READ SpeakerVolProp WRITE SetSpeakerVolProp)
    Q_PROPERTY(int SpeakerMode READ SpeakerModeProp WRITE SetSpeakerModeProp)
    Q_PROPERTY(uint InactivityTimeout READ InactivityTimeoutProp WRITE SetInactivityTimeoutProp)
    Q_PROPERTY(uint CallFailTimer READ CallFailTimerProp WRITE SetCallFailTimerProp)
    Q_PROPERTY(uint BaudRateOfConnect READ BaudRateOfConnectProp)
    Q_PROPERTY(uint BaudRateMax READ BaudRateMaxProp WRITE SetBaudRateMaxProp)
    Q_PROPERTY(int Options READ OptionsProp WRITE SetOptionsProp)
    Q_PROPERTY(int OptionsOfConnect READ OptionsOfConnectProp)
    Q_PROPERTY(int FlowControl READ FlowControlProp WRITE SetFlowControlProp)
    Q_PROPERTY(int FlowControlOfConnect READ FlowControlOfConnectProp)
public:
    explicit TzqModemDevice(TzqCommTAPI* AOwner);
    ~TzqModemDevice() override;

    void SelectDevice(int ID);
    void Refresh();
    void Apply();
    void Assign(const TPersistent* Source) override;
    bool HasWaveDevice(int Direction);
    int WaveDeviceID(int Direction);

    // Accessors: reads refresh from the device, writes apply to it.
    Cardinal GetIndexed(int Index);
    void SetIndexed(int Index, Cardinal Value);
    TModemOptions GetOptions(int Index);
    void SetOptions(TModemOptions Value);
    TStreamProtocol GetFlow(int Index);
    void SetFlow(TStreamProtocol Value);
    TSpeakMode GetSpeakerMode();
    void SetSpeakerMode(TSpeakMode Value);
    TSpeakVol GetSpeakerVol();
    void SetSpeakerVol(TSpeakVol Value);
    std::string GetInitString();
    void SetInitString(const std::string& Value);

    Cardinal InactivityTimeout() { return GetIndexed(0); }
    Cardinal CallFailTimer() { return GetIndexed(1); }
    Cardinal BaudRateOfConnect() { return GetIndexed(2); }
    Cardinal BaudRateMax() { return GetIndexed(3); }
    TModemOptions Options() { return GetOptions(0); }
    TModemOptions OptionsOfConnect() { return GetOptions(1); }
    TStreamProtocol FlowControl() { return GetFlow(0); }
    TStreamProtocol FlowControlOfConnect() { return GetFlow(1); }

    int DeviceID() const { return deviceID_; }
    const std::string& ModemKey() const { return modemKey_; }
    TzqCommTAPI* Owner() const { return owner_; }

private:
    bool FetchDeviceConfig();
    uint32_t Get32(size_t offset) const;
    void Put32(size_t offset, uint32_t value);

    QString InitStringProp() { return QString::fromStdString(GetInitString()); }
    void SetInitStringProp(const QString& v) { SetInitString(v.toStdString()); }
    int SpeakerVolProp() { return GetSpeakerVol(); }
    void SetSpeakerVolProp(int v) { SetSpeakerVol(static_cast<TSpeakVol>(v)); }
    int SpeakerModeProp() { return GetSpeakerMode(); }
    void SetSpeakerModeProp(int v) { SetSpeakerMode(static_cast<TSpeakMode>(v)); }
    uint InactivityTimeoutProp() { return GetIndexed(0); }
    void SetInactivityTimeoutProp(uint v) { SetIndexed(0, v); }
    uint CallFailTimerProp() { return GetIndexed(1); }
    void SetCallFailTimerProp(uint v) { SetIndexed(1, v); }
    uint BaudRateOfConnectProp() { return GetIndexed(2); }
    uint BaudRateMaxProp() { return GetIndexed(3); }
    void SetBaudRateMaxProp(uint v) { SetIndexed(3, v); }
    int OptionsProp() { return GetOptions(0); }
    void SetOptionsProp(int v) { SetOptions(static_cast<TModemOptions>(v)); }
    int OptionsOfConnectProp() { return GetOptions(1); }
    int FlowControlProp() { return GetFlow(0); }
    void SetFlowControlProp(int v) { SetFlow(static_cast<TStreamProtocol>(v)); }
    int FlowControlOfConnectProp() { return GetFlow(1); }

    Cardinal inactivityTimeout_ = 10;
    Cardinal callFailTimer_ = 60;
    TSpeakMode speakerMode_ = smDial;
    TSpeakVol speakerVol_ = svLow;
    TModemOptions options_ = 0;
    TModemOptions optionsOfConnect_ = 0;
    std::array<unsigned char, zq::telephony::modemconfig::kBufferSize> configBuffer_ {};
    int deviceID_ = -1;
    Cardinal baudRateOfConnect_ = 0;
    Cardinal baudRateMax_ = 115200;
    TStreamProtocol flowControl_ = spXonXoff;
    TStreamProtocol flowControlOfConnect_ = spNone;
    TzqCommTAPI* owner_;
    std::string modemKey_;
};
