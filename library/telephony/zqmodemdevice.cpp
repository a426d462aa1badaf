#include "zqmodemdevice.h"

#include "registry.h"
#include "zqcommtapi.h"
#include "zqmodemkeys.h"
#include "zqtapi.h"

#include <cstring>

using namespace zq::telephony::modemconfig;

namespace {
constexpr size_t kTotalSize = 0;
constexpr size_t kStringFormat = 12;
constexpr size_t kStringSize = 16;
constexpr const char* kDeviceClass = "comm/datamodem";

TModemOptions OptionsFromModemBits(uint32_t bits)
{
    TModemOptions o = 0;
    if (bits & MDM_ERROR_CONTROL)
        o |= ModemOption(moErrorControl);
    if (bits & MDM_COMPRESSION)
        o |= ModemOption(moCompression);
    if (bits & MDM_FORCED_EC)
        o |= ModemOption(moForcedConnection);
    return o;
}

TStreamProtocol FlowFromModemBits(uint32_t bits)
{
    // The soft bit wins when both are set.
    if (bits & MDM_FLOWCONTROL_SOFT)
        return spXonXoff;
    if (bits & MDM_FLOWCONTROL_HARD)
        return spHardware;
    return spNone;
}
} // namespace

TzqModemDevice::TzqModemDevice(TzqCommTAPI* AOwner)
    : QObject(AOwner)
    , owner_(AOwner)
{
    SelectDevice(-1);
    inactivityTimeout_ = 10;
    callFailTimer_ = 60;
    speakerMode_ = smDial;
    speakerVol_ = svLow;
    options_ = ModemOption(moShowIcon) | ModemOption(moErrorControl) | ModemOption(moCompression)
        | ModemOption(moForcedConnection);
    optionsOfConnect_ = 0;
    baudRateOfConnect_ = 0;
    baudRateMax_ = 115200;
    flowControl_ = spXonXoff;
    flowControlOfConnect_ = spNone;
}

TzqModemDevice::~TzqModemDevice() = default;

uint32_t TzqModemDevice::Get32(size_t offset) const
{
    uint32_t v;
    std::memcpy(&v, configBuffer_.data() + offset, sizeof v);
    return v;
}

void TzqModemDevice::Put32(size_t offset, uint32_t value)
{
    std::memcpy(configBuffer_.data() + offset, &value, sizeof value);
}

// Fetches the device's block into the buffer. A block that does not fit the
// buffer counts as a failed read, so nothing past the buffer is ever used.
bool TzqModemDevice::FetchDeviceConfig()
{
    Put32(kTotalSize, kBufferSize);
    Put32(kStringFormat, STRINGFORMAT_BINARY);
    if (lineGetDevConfig(
            static_cast<DWORD>(deviceID_), reinterpret_cast<VARSTRING*>(configBuffer_.data()), kDeviceClass)
        != 0)
        return false;
    return Get32(kStringSize) <= kBufferSize - kHeader;
}

void TzqModemDevice::Refresh()
{
    if (deviceID_ < 0 || owner_->LineAppHandle == 0)
        return;
    if (!FetchDeviceConfig())
        return;
    const size_t b = kHeader;
    if (Get32(kStringSize) < kEnd || Get32(b + kProviderSubType) != PST_MODEM)
        return;
    inactivityTimeout_ = Get32(b + kInactivityTimeout);
    callFailTimer_ = Get32(b + kCallSetupFailTimer);
    speakerMode_ = static_cast<TSpeakMode>(Get32(b + kSpeakerMode) & 0xFF);
    speakerVol_ = static_cast<TSpeakVol>(Get32(b + kSpeakerVolume) & 0xFF);
    baudRateOfConnect_ = Get32(b + kNegotiatedDCERate);
    baudRateMax_ = Get32(b + kBaudRate);
    options_ = 0;
    optionsOfConnect_ = 0;

    const uint32_t preferred = Get32(b + kPreferredOptions);
    flowControl_ = FlowFromModemBits(preferred);
    options_ = OptionsFromModemBits(preferred);
    if (!(preferred & MDM_BLIND_DIAL))
        options_ |= ModemOption(moWaitTone);

    const uint32_t negotiated = Get32(b + kNegotiatedOptions);
    flowControlOfConnect_ = FlowFromModemBits(negotiated);
    optionsOfConnect_ = OptionsFromModemBits(negotiated);

    const uint8_t header = configBuffer_[b + kOptionsWord];
    if (header & 0x1)
        options_ |= ModemOption(moPreTerminal);
    if (header & 0x2)
        options_ |= ModemOption(moPostTerminal);
    if (header & 0x8)
        options_ |= ModemOption(moShowIcon);
}

void TzqModemDevice::Apply()
{
    if (deviceID_ < 0 || owner_->LineAppHandle == 0)
        return;
    if (!FetchDeviceConfig())
        return;
    const size_t b = kHeader;
    const uint32_t size = Get32(kStringSize);
    if (size >= kEnd && Get32(b + kProviderSubType) == PST_MODEM) {
        Put32(b + kInactivityTimeout, inactivityTimeout_);
        Put32(b + kCallSetupFailTimer, callFailTimer_);
        Put32(b + kSpeakerMode, speakerMode_);
        Put32(b + kSpeakerVolume, speakerVol_);
        Put32(b + kBaudRate, baudRateMax_);

        uint32_t dcb = Get32(b + kDcbFlags) & ~0x3304u;
        uint32_t preferred = Get32(b + kPreferredOptions) & ~0x2B7u;
        if (flowControl_ == spXonXoff) {
            dcb |= 0x300;
            preferred |= MDM_FLOWCONTROL_SOFT;
        } else if (flowControl_ == spHardware) {
            dcb |= 0x2004;
            preferred |= MDM_FLOWCONTROL_HARD;
        }
        if (HasOption(options_, moErrorControl))
            preferred |= MDM_ERROR_CONTROL | MDM_SPEED_ADJUST;
        if (HasOption(options_, moCompression))
            preferred |= MDM_COMPRESSION | MDM_SPEED_ADJUST;
        if (HasOption(options_, moForcedConnection))
            preferred |= MDM_FORCED_EC | MDM_SPEED_ADJUST;
        if (!HasOption(options_, moWaitTone))
            preferred |= MDM_BLIND_DIAL;
        Put32(b + kDcbFlags, dcb);
        Put32(b + kPreferredOptions, preferred);

        uint16_t header = 0;
        if (HasOption(options_, moPreTerminal))
            header += 0x1;
        if (HasOption(options_, moPostTerminal))
            header |= 0x2;
        if (HasOption(options_, moShowIcon))
            header |= 0x8;
        std::memcpy(configBuffer_.data() + b + kOptionsWord, &header, sizeof header);
    }
    lineSetDevConfig(static_cast<DWORD>(deviceID_), configBuffer_.data() + b, size, kDeviceClass);
}

void TzqModemDevice::SelectDevice(int ID)
{
    if (ID == deviceID_)
        return;
    deviceID_ = ID;
    modemKey_.clear();
    if (ID >= 0 && owner_) {
        if (TzqDevice* d = owner_->GetDevice(owner_->GetDeviceIndex()))
            modemKey_ = FindModemKey(d->Name);
    }
}

Cardinal TzqModemDevice::GetIndexed(int Index)
{
    Refresh();
    switch (Index) {
    case 0:
        return inactivityTimeout_;
    case 1:
        return callFailTimer_;
    case 2:
        return baudRateOfConnect_;
    default:
        return baudRateMax_;
    }
}

void TzqModemDevice::SetIndexed(int Index, Cardinal Value)
{
    switch (Index) {
    case 0:
        inactivityTimeout_ = Value;
        break;
    case 1:
        callFailTimer_ = Value;
        break;
    case 3:
        baudRateMax_ = Value;
        break;
    default:
        break;
    }
    Apply();
}

TModemOptions TzqModemDevice::GetOptions(int Index)
{
    Refresh();
    return Index == 0 ? options_ : optionsOfConnect_;
}

void TzqModemDevice::SetOptions(TModemOptions Value)
{
    options_ = Value;
    Apply();
}

TStreamProtocol TzqModemDevice::GetFlow(int Index)
{
    Refresh();
    return Index == 0 ? flowControl_ : flowControlOfConnect_;
}

void TzqModemDevice::SetFlow(TStreamProtocol Value)
{
    flowControl_ = Value;
    Apply();
}

TSpeakMode TzqModemDevice::GetSpeakerMode()
{
    Refresh();
    return speakerMode_;
}

void TzqModemDevice::SetSpeakerMode(TSpeakMode Value)
{
    speakerMode_ = Value;
    Apply();
}

TSpeakVol TzqModemDevice::GetSpeakerVol()
{
    Refresh();
    return speakerVol_;
}

void TzqModemDevice::SetSpeakerVol(TSpeakVol Value)
{
    speakerVol_ = Value;
    Apply();
}

std::string TzqModemDevice::GetInitString()
{
    if (modemKey_.empty())
        return {};
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, modemKey_.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {};
    std::array<char, 4096> buffer {};
    DWORD size = buffer.size();
    DWORD type = 0;
    std::string result;
    if (RegQueryValueEx(key, "UserInit", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size)
        == ERROR_SUCCESS)
        result.assign(buffer.data(), strnlen(buffer.data(), std::min<size_t>(size, buffer.size())));
    RegCloseKey(key);
    return result;
}

void TzqModemDevice::SetInitString(const std::string& Value)
{
    if (modemKey_.empty())
        return;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, modemKey_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegSetValueEx(key, "UserInit", 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
        static_cast<DWORD>(Value.size() + 1));
    RegCloseKey(key);
}

void TzqModemDevice::Assign(const TPersistent* Source)
{
    if (Source == this)
        return;
    auto* src = dynamic_cast<const TzqModemDevice*>(Source);
    if (!src) {
        TPersistent::Assign(Source);
        return;
    }
    // Reading through the accessors refreshes the source from its device.
    auto* s = const_cast<TzqModemDevice*>(src);
    const Cardinal inactivity = s->GetIndexed(0);
    const Cardinal callFail = s->GetIndexed(1);
    const TSpeakMode mode = s->GetSpeakerMode();
    const TSpeakVol vol = s->GetSpeakerVol();
    const TModemOptions options = s->GetOptions(0);
    const TStreamProtocol flow = s->GetFlow(0);
    inactivityTimeout_ = inactivity;
    callFailTimer_ = callFail;
    speakerMode_ = mode;
    speakerVol_ = vol;
    options_ = options;
    flowControl_ = flow;
    Apply();
}

int TzqModemDevice::WaveDeviceID(int Direction)
{
    const int index = owner_->GetDeviceIndex();
    if (index < 0)
        return -1;
    auto* d = dynamic_cast<TzqDeviceTAPI*>(owner_->GetDevice(index));
    if (!d)
        return 0;
    return static_cast<int>(Direction == 0 ? d->WaveOutID : d->WaveInID);
}

bool TzqModemDevice::HasWaveDevice(int Direction)
{
    const int id = WaveDeviceID(Direction);
    return id != 0 && id != -1;
}
