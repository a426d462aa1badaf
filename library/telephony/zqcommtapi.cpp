// The line component's registration, devices, voice check, comm-handle
// bridge and error reports. Call control is in zqcommtapi_calls.cpp, the
// configuration records in zqcommtapi_config.cpp.
#include "zqcommtapi.h"

#include "errorreport.h"
#include "zqformstream.h"
#include "zqlogfile.h"

#include <cstring>

namespace {

// A VARSTRING of the size the component uses for identifier queries.
struct IdQuery {
    std::vector<unsigned char> block = std::vector<unsigned char>(zq::telephony::kLineGetIDSize);
    IdQuery()
    {
        auto* v = Var();
        v->dwTotalSize = zq::telephony::kLineGetIDSize;
        v->dwStringFormat = STRINGFORMAT_BINARY;
    }
    VARSTRING* Var() { return reinterpret_cast<VARSTRING*>(block.data()); }
    // Bytes at dwStringOffset, bounded by the block.
    const unsigned char* Data(size_t need) const
    {
        auto* v = reinterpret_cast<const VARSTRING*>(block.data());
        if (v->dwStringOffset < sizeof(VARSTRING) || v->dwStringOffset + need > block.size())
            return nullptr;
        return block.data() + v->dwStringOffset;
    }
    std::string Text(size_t offset) const
    {
        if (offset >= block.size())
            return {};
        const char* p = reinterpret_cast<const char*>(block.data() + offset);
        return std::string(p, strnlen(p, block.size() - offset));
    }
    DWORD Value(int index) const
    {
        const unsigned char* p = Data(sizeof(DWORD) * (index + 1));
        DWORD v = 0;
        if (p)
            std::memcpy(&v, p + sizeof(DWORD) * index, sizeof v);
        return v;
    }
};

LONG GetID(HLINE line, IdQuery& q, const char* deviceClass)
{
    return lineGetID(line, 0, 0, LINECALLSELECT_LINE, q.Var(), deviceClass);
}

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

struct Registrar {
    Registrar() { zq::telephony::RegisterTelephonyComponents(); }
} registrar;

} // namespace

void zq::telephony::RegisterTelephonyComponents()
{
    zq::framework::RegisterComponentClass(
        "TzqCommTAPI", [](QObject* owner) { return new TzqCommTAPI(owner); });
    zq::framework::RegisterEnumMembers({ { "svLow", svLow }, { "svMedium", svMedium }, { "svHigh", svHigh },
        { "smOff", smOff }, { "smCallSetup", smCallSetup }, { "smOn", smOn }, { "smDial", smDial },
        { "moPreTerminal", moPreTerminal }, { "moPostTerminal", moPostTerminal },
        { "moShowIcon", moShowIcon }, { "moErrorControl", moErrorControl },
        { "moCompression", moCompression }, { "moForcedConnection", moForcedConnection },
        { "moWaitTone", moWaitTone }, { "spNone", spNone }, { "spXonXoff", spXonXoff },
        { "spHardware", spHardware }, { "tsRxChar", tsRxChar }, { "tsRxFlag", tsRxFlag },
        { "tsTxEmpty", tsTxEmpty }, { "tsCTS", tsCTS }, { "tsDSR", tsDSR }, { "tsRLSD", tsRLSD },
        { "tsBreak", tsBreak }, { "tsErr", tsErr }, { "tsRing", tsRing }, { "tsRx80Full", tsRx80Full },
        { "tsEvent1", tsEvent1 }, { "tsEvent2", tsEvent2 } });
}

TzqCommTAPI::TzqCommTAPI(QObject* AOwner)
    : TzqCustomComm(AOwner)
{
    LogPrefix = "zqCommTAPI: ";
    RetryTimer = new TzqTimer;
    RetryTimer->SetEnabled(false);
    RetryTimer->SetInterval(3000);
    RetryTimer->SetOnTimer(TNotifyEvent(this, &TzqCommTAPI::RetryTimerFired));
    RetryMode = rmNone;
    LineState = lsIdle;
    retries_ = 3;
    deviceModem_ = new TzqModemDevice(this);
    LineAppHandle = 0;
    deviceIndex_ = -1;
    PublishEvent("OnLineBusy", &OnLineBusy);
    PublishEvent("OnLineConnected", &OnLineConnected);
    PublishEvent("OnLineDoingConnection", &OnLineDoingConnection);
    PublishEvent("OnLineDisconnected", &OnLineDisconnected);
    PublishEvent("OnLineError", &OnLineError);
    PublishEvent("OnCallState", &OnCallState);
    PublishEvent("OnDTMF", &OnDTMF);
    PublishEvent("OnTone", &OnTone);
    PublishEvent("OnRing", &OnRing);
}

TzqCommTAPI::~TzqCommTAPI()
{
    Destroying();
    SetDataProcessor(nullptr);
    ShutdownTAPI();
    ClearDevices();
    delete deviceModem_;
    deviceModem_ = nullptr;
    delete RetryTimer;
    RetryTimer = nullptr;
}

// Registration -------------------------------------------------------------------

void TzqCommTAPI::InitTAPI()
{
    APIVersion = 0x00020000;
    int number = 0;
    std::string msg;
    LONG r = lineInitialize(&LineAppHandle, nullptr, &TzqCommTAPI::LineCallback, nullptr, &NumDevs);
    LastResult = r;
    if (r < 0) {
        LineAppHandle = 0;
        number = 3;
        msg = "zqTAPI Fatal Error: Initialize Fatal Error";
    } else if (NumDevs == 0) {
        lineShutdown(&LineAppHandle);
        number = 2;
        msg = "zqTAPI Fatal Error: no one TAPI devices was found";
    } else {
        // The service fills the whole identifier (16 bytes), so it gets one.
        LINEEXTENSIONID extension {};
        r = lineNegotiateAPIVersion(LineAppHandle, 0, 0x00010000, 0x00090000, &APIVersion, &extension);
        LastResult = r;
        if (r < 0) {
            lineShutdown(&LineAppHandle);
            number = 4;
            msg = "zqTAPI Fatal Error: lineNegotiateAPIVersion";
        }
    }
    if (LineAppHandle == 0)
        ReportTAPIError(number, msg);
}

void TzqCommTAPI::AcquireTAPI()
{
    if (TAPIRefCount == 0 && LineAppHandle == 0)
        InitTAPI();
    ++TAPIRefCount;
}

void TzqCommTAPI::ReleaseTAPI()
{
    const int was = TAPIRefCount--;
    if (was == 1 && LineAppHandle != 0)
        ShutdownTAPI();
}

void TzqCommTAPI::ShutdownTAPI()
{
    CloseLine();
    if (LineAppHandle != 0)
        lineShutdown(&LineAppHandle);
    TAPIRefCount = 0;
}

// Devices ---------------------------------------------------------------------------

void TzqCommTAPI::EnumDevices()
{
    ClearDevices();
    AcquireTAPI();
    if (LineAppHandle != 0) {
        for (DWORD id = 0; id < NumDevs; ++id) {
            LONG r = lineOpen(LineAppHandle, id, &LineHandle, APIVersion, 0,
                reinterpret_cast<DWORD_PTR>(this), LINECALLPRIVILEGE_NONE, LINEMEDIAMODE_DATAMODEM, nullptr);
            LastResult = r;
            if (r < 0)
                continue;
            IdQuery comm;
            if (GetID(LineHandle, comm, "comm/datamodem") < 0) {
                lineClose(LineHandle);
                LineHandle = 0;
                continue;
            }
            auto* d = new TzqDeviceTAPI;
            // The name follows the 4-byte handle value behind the header.
            d->LineName = comm.Text(sizeof(VARSTRING) + 4).substr(0, 255);
            d->DeviceID = id;

            IdQuery port;
            if (GetID(LineHandle, port, "comm/datamodem/portname") >= 0) {
                auto* v = port.Var();
                d->PortName = port.Text(v->dwStringOffset);
            } else {
                d->PortName = "???";
            }

            d->WaveInID = 0;
            d->WaveOutID = 0;
            IdQuery wave;
            if (GetID(LineHandle, wave, "wave/in/out") >= 0) {
                d->WaveInID = wave.Value(0);
                d->WaveOutID = wave.Value(1);
            } else {
                IdQuery out;
                if (GetID(LineHandle, out, "wave/out") >= 0)
                    d->WaveOutID = out.Value(0);
                IdQuery in;
                if (GetID(LineHandle, in, "wave/in") >= 0)
                    d->WaveInID = in.Value(0);
            }

            auto* caps = reinterpret_cast<LINEDEVCAPS*>(d->DevCaps.data());
            caps->dwTotalSize = zq::telephony::kDevCapsSize;
            lineGetDevCaps(LineAppHandle, id, APIVersion, 0, caps);
            d->BearerModes = caps->dwBearerModes;
            d->MediaModes = caps->dwMediaModes;

            d->Name = d->LineName;
            AddDevice(d);
            CloseLine();
        }
    }
    ReleaseTAPI();
}

void TzqCommTAPI::DevicesChanged()
{
    // The probes reuse the line handle: while a call or a wait holds the
    // line, the refresh waits until the line is closed.
    if (LineBusy()) {
        devicesChangePending_ = true;
        return;
    }
    EnumDevices();
    TzqCustomComm::DevicesChanged();
}

int TzqCommTAPI::CurrentDeviceID()
{
    if (deviceIndex_ < 0 || deviceIndex_ >= DeviceCount())
        return -1;
    return static_cast<int>(static_cast<TzqDeviceTAPI*>(GetDevice(deviceIndex_))->DeviceID);
}

std::string TzqCommTAPI::CurrentDeviceName()
{
    if (deviceIndex_ >= 0 && DeviceCount() > deviceIndex_)
        return static_cast<TzqDeviceTAPI*>(GetDevice(deviceIndex_))->LineName;
    return "Error TAPI Device Name";
}

void TzqCommTAPI::GetPortName(std::string& Name)
{
    if (deviceIndex_ < 0 || deviceIndex_ >= DeviceCount()) {
        Name.clear();
        return;
    }
    Name = static_cast<TzqDeviceTAPI*>(GetDevice(deviceIndex_))->PortName;
}

void TzqCommTAPI::SetDeviceIndex(int Value)
{
    if (DeviceCount() > 0) {
        deviceIndex_ = Value < DeviceCount() ? Value : DeviceCount() - 1;
        AcquireTAPI();
        deviceModem_->SelectDevice(CurrentDeviceID());
        deviceModem_->Refresh();
        ReleaseTAPI();
    } else {
        deviceIndex_ = -1;
    }
    TzqCustomComm::SetDeviceIndex(Value);
}

int TzqCommTAPI::GetDeviceIndex()
{
    return deviceIndex_;
}

void TzqCommTAPI::SetAreaCode(const std::string& v)
{
    areaCode_ = Trim(v);
}

void TzqCommTAPI::SetDeviceModem(TzqModemDevice* Value)
{
    deviceModem_->Assign(Value);
}

void TzqCommTAPI::SetVoice(bool Value)
{
    if (!Value) {
        voice_ = false;
        return;
    }
    if (deviceModem_->HasWaveDevice(0) && deviceModem_->HasWaveDevice(1)) {
        voice_ = true;
        return;
    }
    voice_ = false;
    ReportTAPIError(10, "zqTAPI Error: Device does not support Voice features");
}

// The comm handle ----------------------------------------------------------------------

HANDLE TzqCommTAPI::CreateHandle()
{
    if (LineHandle == 0)
        return INVALID_HANDLE_VALUE;
    if (VoiceCall)
        lineSetCallParams(CallHandle, LINEBEARERMODE_PASSTHROUGH, 0, 0, nullptr);
    IdQuery q;
    if (GetID(LineHandle, q, "comm/datamodem") != 0)
        return INVALID_HANDLE_VALUE;
    return static_cast<HANDLE>(q.Value(0));
}

void TzqCommTAPI::Close()
{
    if (Handle == INVALID_HANDLE_VALUE)
        return;
    if (VoiceCall)
        lineSetCallParams(CallHandle, LINEBEARERMODE_VOICE, 0, 0, nullptr);
    TzqCustomComm::Close();
}

bool TzqCommTAPI::CommActive()
{
    return LineAppHandle != 0 && LineHandle != 0 && CallHandle != 0 && Handle != INVALID_HANDLE_VALUE;
}

void TzqCommTAPI::SetCommActive(bool Value)
{
    if (Value == CommActive())
        return;
    if (Value)
        Open();
    else
        Close();
}

char TzqCommTAPI::GetEventChar()
{
    return eventChar_;
}

void TzqCommTAPI::SetEventChar(char Value)
{
    if (CommActive()) {
        TzqCustomComm::SetEventChar(Value);
        eventChar_ = TzqCustomComm::GetEventChar();
    } else {
        eventChar_ = Value;
    }
}

// Dialog and reports ---------------------------------------------------------------------

void TzqCommTAPI::ConfigDialog()
{
    AcquireTAPI();
    deviceModem_->SelectDevice(CurrentDeviceID());
    deviceModem_->Apply();
    lineConfigDialog(static_cast<DWORD>(CurrentDeviceID()), GetForegroundWindow(), "comm/datamodem");
    deviceModem_->Refresh();
    ReleaseTAPI();
}

void TzqCommTAPI::ReportTAPIError(int Number, const std::string& Msg)
{
    const std::string text = Format("zqCommLib TAPI error:\r%s\rTAPI Error Code [%Xh]\r%s",
        { Msg, LastResult, TAPIErrorText(static_cast<DWORD>(LastResult)) });
    FatalError(2, static_cast<Cardinal>(Number), text, false);
}

// The processor linked to a line ------------------------------------------------------

TzqCustomTAPIProcessor::TzqCustomTAPIProcessor(QObject* AOwner)
    : TzqCustomDataProcessor(AOwner)
{
}

TzqCustomTAPIProcessor::~TzqCustomTAPIProcessor()
{
    Destroying();
}
