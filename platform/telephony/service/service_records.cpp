// Identifiers, capabilities, addresses and device configuration.
#include "configdialog_p.h"
#include "devconfig.h"
#include "records_p.h"
#include "service_p.h"
#include "translate_p.h"

#include <QApplication>
#include <QThread>

#include <cstring>
#include <strings.h>

namespace zq::telephony {

using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

bool SameClass(LPCSTR a, const char* b)
{
    return a && strcasecmp(a, b) == 0;
}

// Fills a VARSTRING with data of the given format; LINEERR_STRUCTURETOOSMALL
// with dwNeededSize when the data does not fit.
LONG FillVarString(VARSTRING* out, DWORD format, const void* data, DWORD size)
{
    if (LONG r = CheckRecord(out, sizeof(VARSTRING), sizeof(VARSTRING) + size))
        return r;
    RecordWriter w(out, sizeof(VARSTRING));
    out->dwStringFormat = format;
    w.Append(data, size, &out->dwStringSize, &out->dwStringOffset);
    w.Finish();
    return w.Complete() ? 0 : LONG(LINEERR_STRUCTURETOOSMALL);
}

} // namespace

LONG Service::GetID(HLINE line, DWORD addressId, HCALL call, DWORD select, VARSTRING* out, LPCSTR deviceClass)
{
    Guard lock(ServiceLock());
    std::shared_ptr<ProviderCall> onCall;
    switch (select) {
    case LINECALLSELECT_LINE:
    case LINECALLSELECT_ADDRESS:
        if (!lines_.count(line))
            return LONG(LINEERR_INVALLINEHANDLE);
        if (select == LINECALLSELECT_ADDRESS && addressId != 0)
            return LONG(LINEERR_INVALADDRESSID);
        break;
    case LINECALLSELECT_CALL: {
        Call* c = FindCall(call);
        if (!c)
            return LONG(LINEERR_INVALCALLHANDLE);
        line = c->line;
        onCall = c->call;
        break;
    }
    default:
        return LONG(LINEERR_INVALCALLSELECT);
    }
    if (!out)
        return LONG(LINEERR_INVALPOINTER);
    if (!deviceClass)
        return LONG(LINEERR_INVALDEVICECLASS);
    const DWORD device = lines_[line].device;
    ProviderLine* dev = devices_[device].line;
    const LineCaps caps = dev->Caps();
    if (SameClass(deviceClass, "comm/datamodem")) {
        // A handle value, then the device's name. The handle is a new one on
        // the connected call's data path, for the caller to close.
        if (LONG r = CheckRecord(out, sizeof(VARSTRING), DWORD(sizeof(VARSTRING) + 4 + caps.name.size() + 1)))
            return r;
        std::string data(4 + caps.name.size() + 1, '\0');
        std::memcpy(data.data() + 4, caps.name.c_str(), caps.name.size());
        if (out->dwTotalSize >= sizeof(VARSTRING) + data.size()) {
            std::shared_ptr<ProviderCall> c = onCall ? onCall : dev->CurrentCall();
            const HANDLE h = c ? LendPort(c) : INVALID_HANDLE_VALUE;
            std::memcpy(data.data(), &h, 4);
        } else {
            const HANDLE none = INVALID_HANDLE_VALUE;
            std::memcpy(data.data(), &none, 4);
        }
        return FillVarString(out, STRINGFORMAT_BINARY, data.data(), DWORD(data.size()));
    }
    if (SameClass(deviceClass, "comm/datamodem/portname"))
        return FillVarString(out, STRINGFORMAT_ASCII, caps.portName.c_str(), DWORD(caps.portName.size() + 1));
    if (SameClass(deviceClass, "tapi/line"))
        return FillVarString(out, STRINGFORMAT_BINARY, &device, 4);
    if (SameClass(deviceClass, "wave/in") || SameClass(deviceClass, "wave/out")
        || SameClass(deviceClass, "wave/in/out")) {
        const LineWaveIds wave = devices_[device].wave;
        if (wave.in == 0 && wave.out == 0)
            return LONG(LINEERR_NODEVICE);
        const DWORD in = wave.in, out2 = wave.out;
        if (SameClass(deviceClass, "wave/in"))
            return FillVarString(out, STRINGFORMAT_BINARY, &in, 4);
        if (SameClass(deviceClass, "wave/out"))
            return FillVarString(out, STRINGFORMAT_BINARY, &out2, 4);
        const DWORD both[2] = { in, out2 };
        return FillVarString(out, STRINGFORMAT_BINARY, both, sizeof both);
    }
    return LONG(LINEERR_INVALDEVICECLASS);
}

LONG Service::GetDevCaps(HLINEAPP app, DWORD device, DWORD version, LINEDEVCAPS* caps)
{
    Guard lock(ServiceLock());
    if (!apps_.count(app))
        return LONG(LINEERR_INVALAPPHANDLE);
    if (LONG r = CheckDevice(device))
        return r;
    if (version < TAPI_VERSION_1_4 || version > TAPI_VERSION_3_0)
        return LONG(LINEERR_INCOMPATIBLEAPIVERSION);
    const LineCaps c = devices_[device].line->Caps();
    if (LONG r = CheckRecord(caps, sizeof(LINEDEVCAPS)))
        return r;
    // The capabilities are the fixed part; the names after it are extras,
    // given where they fit (with dwNeededSize telling what all would take).
    RecordWriter w(caps, sizeof(LINEDEVCAPS));
    caps->dwPermanentLineID = c.permanentId;
    caps->dwStringFormat = STRINGFORMAT_ASCII;
    caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    caps->dwNumAddresses = 1;
    caps->dwBearerModes = c.bearerModes;
    caps->dwMaxRate = c.maxRate;
    caps->dwMediaModes = c.mediaModes;
    caps->dwMonitorDigitModes = LINEDIGITMODE_DTMF | LINEDIGITMODE_PULSE;
    caps->dwDevCapFlags
        = LINEDEVCAPFLAGS_DIALBILLING | LINEDEVCAPFLAGS_DIALQUIET | LINEDEVCAPFLAGS_DIALDIALTONE;
    caps->dwMaxNumActiveCalls = 1;
    caps->dwAnswerMode = LINEANSWERMODE_NONE;
    caps->dwRingModes = 1;
    caps->dwLineStates = LINEDEVSTATE_RINGING;
    // Tools list each line with the provider it comes from.
    const std::string provider = devices_[device].provider->Name();
    w.AppendString(provider, &caps->dwProviderInfoSize, &caps->dwProviderInfoOffset);
    w.AppendString(c.name, &caps->dwLineNameSize, &caps->dwLineNameOffset);
    static const char classes[]
        = "tapi/line\0comm\0comm/datamodem\0comm/datamodem/portname\0wave/in\0wave/out\0";
    w.Append(classes, sizeof classes, &caps->dwDeviceClassesSize, &caps->dwDeviceClassesOffset);
    w.Finish();
    return 0;
}

LONG Service::TranslateAddress(
    HLINEAPP app, DWORD device, LPCSTR address, DWORD card, LINETRANSLATEOUTPUT* out)
{
    Guard lock(ServiceLock());
    if (!apps_.count(app))
        return LONG(LINEERR_INVALAPPHANDLE);
    if (LONG r = CheckDevice(device))
        return r;
    if (!address)
        return LONG(LINEERR_INVALPOINTER);
    if (card != 0)
        return LONG(LINEERR_INVALCARD);
    const DialingLocation where = CurrentLocation();
    Translation t;
    if (LONG r = telephony::TranslateAddress(address, where, &t))
        return r;
    const DWORD need = DWORD(sizeof(LINETRANSLATEOUTPUT) + 2 * (t.dialable.size() + 1));
    if (LONG r = CheckRecord(out, sizeof(LINETRANSLATEOUTPUT), need))
        return r;
    RecordWriter w(out, sizeof(LINETRANSLATEOUTPUT));
    out->dwCurrentCountry = where.countryCode;
    out->dwDestCountry = t.destCountry;
    out->dwTranslateResults = t.results;
    const std::string dialable = t.dialable;
    w.Append(dialable.c_str(), DWORD(dialable.size() + 1), &out->dwDialableStringSize,
        &out->dwDialableStringOffset);
    w.Append(dialable.c_str(), DWORD(dialable.size() + 1), &out->dwDisplayableStringSize,
        &out->dwDisplayableStringOffset);
    w.Finish();
    return w.Complete() ? 0 : LONG(LINEERR_STRUCTURETOOSMALL);
}

LONG Service::GetAddressID(HLINE line, DWORD* addressId, DWORD mode, LPCSTR address, DWORD size)
{
    Guard lock(ServiceLock());
    auto l = lines_.find(line);
    if (l == lines_.end())
        return LONG(LINEERR_INVALLINEHANDLE);
    if (!addressId || !address)
        return LONG(LINEERR_INVALPOINTER);
    if (mode != LINEADDRESSMODE_DIALABLEADDR)
        return LONG(LINEERR_INVALADDRESSMODE);
    std::string given(address, strnlen(address, size));
    if (given != devices_[l->second.device].line->Caps().number)
        return LONG(LINEERR_INVALADDRESS);
    *addressId = 0; // one address per line
    return 0;
}

void Service::StartForDevice()
{
    std::lock_guard life(lifecycle_);
    EnsureStarted();
}

LONG Service::CheckDevConfig(DWORD device, LPCSTR deviceClass) const
{
    if (LONG r = CheckDevice(device))
        return r;
    if (!SameClass(deviceClass, "comm/datamodem") && !SameClass(deviceClass, "comm"))
        return LONG(LINEERR_INVALDEVICECLASS);
    return 0;
}

LONG Service::GetDevConfig(DWORD device, VARSTRING* out, LPCSTR deviceClass)
{
    StartForDevice();
    Guard lock(ServiceLock());
    if (LONG r = CheckDevConfig(device, deviceClass))
        return r;
    const std::vector<uint8_t> block = devices_[device].line->DevConfig();
    if (block.empty())
        return LONG(LINEERR_INVALDEVICECLASS);
    return FillVarString(out, STRINGFORMAT_BINARY, block.data(), DWORD(block.size()));
}

LONG Service::SetDevConfig(DWORD device, const void* data, DWORD size, LPCSTR deviceClass)
{
    StartForDevice();
    Guard lock(ServiceLock());
    if (LONG r = CheckDevConfig(device, deviceClass))
        return r;
    if (!data)
        return LONG(LINEERR_INVALPOINTER);
    return devices_[device].line->SetDevConfig(data, size);
}

LONG Service::ConfigDialog(DWORD device, HWND owner, LPCSTR deviceClass)
{
    std::vector<uint8_t> block;
    std::string name;
    std::function<LONG(HWND)> ownDialog;
    StartForDevice();
    {
        Guard lock(ServiceLock());
        if (LONG r = CheckDevice(device))
            return r;
        if (deviceClass && !SameClass(deviceClass, "comm/datamodem") && !SameClass(deviceClass, "comm")
            && !SameClass(deviceClass, "tapi/line"))
            return LONG(LINEERR_INVALDEVICECLASS);
        ownDialog = devices_[device].line->ConfigDialog();
        if (!ownDialog)
            block = devices_[device].line->DevConfig();
        name = devices_[device].line->Caps().name;
    }
    if (!ownDialog && !IsModemDevConfig(block.data(), block.size()))
        return LONG(LINEERR_OPERATIONUNAVAIL);
    // A modal dialog needs the widgets application and its thread.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())
        || QThread::currentThread() != QCoreApplication::instance()->thread())
        return LONG(LINEERR_OPERATIONFAILED);
    // The lock is not held while a dialog runs: messages and timers go on.
    if (ownDialog)
        return ownDialog(owner);
    if (!RunModemConfigDialog(name, owner, &block))
        return 0;
    Guard lock(ServiceLock());
    if (LONG r = CheckDevice(device))
        return r;
    return devices_[device].line->SetDevConfig(block.data(), block.size());
}

} // namespace zq::telephony
