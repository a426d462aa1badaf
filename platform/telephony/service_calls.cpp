// Call control, identifiers and records of the service.
#include "configdialog.h"
#include "devconfig.h"
#include "records_p.h"
#include "service_p.h"
#include "translate_p.h"

#include <QApplication>
#include <QThread>

#include <cstring>
#include <ctime>
#include <strings.h>

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

LONG TapiService::GetID(
    HLINE line, DWORD addressId, HCALL call, DWORD select, VARSTRING* out, LPCSTR deviceClass)
{
    Guard lock(tsp::ServiceLock());
    tsp::ProviderCall* onCall = nullptr;
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
        onCall = c->call.get();
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
    tsp::ProviderLine* dev = devices_[device];
    const tsp::LineCaps caps = dev->Caps();
    if (SameClass(deviceClass, "comm/datamodem")) {
        // A handle value, then the device's name. The handle is a new one on
        // the connected call's data path, for the caller to close.
        if (LONG r = CheckRecord(out, sizeof(VARSTRING), DWORD(sizeof(VARSTRING) + 4 + caps.name.size() + 1)))
            return r;
        std::string data(4 + caps.name.size() + 1, '\0');
        std::memcpy(data.data() + 4, caps.name.c_str(), caps.name.size());
        if (out->dwTotalSize >= sizeof(VARSTRING) + data.size()) {
            const HANDLE h = onCall ? onCall->OpenCommPort() : dev->OpenCommPort();
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
        if (caps.waveInId == 0 && caps.waveOutId == 0)
            return LONG(LINEERR_NODEVICE);
        if (SameClass(deviceClass, "wave/in"))
            return FillVarString(out, STRINGFORMAT_BINARY, &caps.waveInId, 4);
        if (SameClass(deviceClass, "wave/out"))
            return FillVarString(out, STRINGFORMAT_BINARY, &caps.waveOutId, 4);
        const DWORD both[2] = { caps.waveInId, caps.waveOutId };
        return FillVarString(out, STRINGFORMAT_BINARY, both, sizeof both);
    }
    return LONG(LINEERR_INVALDEVICECLASS);
}

LONG TapiService::GetDevCaps(HLINEAPP app, DWORD device, DWORD version, LINEDEVCAPS* caps)
{
    Guard lock(tsp::ServiceLock());
    if (!apps_.count(app))
        return LONG(LINEERR_INVALAPPHANDLE);
    if (!ValidDevice(device))
        return LONG(LINEERR_BADDEVICEID);
    if (version < TAPI_VERSION_1_4 || version > TAPI_VERSION_3_0)
        return LONG(LINEERR_INCOMPATIBLEAPIVERSION);
    const tsp::LineCaps c = devices_[device]->Caps();
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
    const std::string provider = "zqComm telephony service";
    w.AppendString(provider, &caps->dwProviderInfoSize, &caps->dwProviderInfoOffset);
    w.AppendString(c.name, &caps->dwLineNameSize, &caps->dwLineNameOffset);
    static const char classes[]
        = "tapi/line\0comm\0comm/datamodem\0comm/datamodem/portname\0wave/in\0wave/out\0";
    w.Append(classes, sizeof classes, &caps->dwDeviceClassesSize, &caps->dwDeviceClassesOffset);
    w.Finish();
    return 0;
}

LONG TapiService::TranslateAddress(
    HLINEAPP app, DWORD device, LPCSTR address, DWORD card, LINETRANSLATEOUTPUT* out)
{
    Guard lock(tsp::ServiceLock());
    if (!apps_.count(app))
        return LONG(LINEERR_INVALAPPHANDLE);
    if (!ValidDevice(device))
        return LONG(LINEERR_BADDEVICEID);
    if (!address)
        return LONG(LINEERR_INVALPOINTER);
    if (card != 0)
        return LONG(LINEERR_INVALCARD);
    const DialingLocation where = CurrentLocation();
    Translation t;
    if (LONG r = ::TranslateAddress(address, where, &t))
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

LONG TapiService::MakeCall(HLINE line, HCALL* call, LPCSTR dest, DWORD country, const LINECALLPARAMS* params)
{
    Guard lock(tsp::ServiceLock());
    auto l = lines_.find(line);
    if (l == lines_.end())
        return LONG(LINEERR_INVALLINEHANDLE);
    if (!call)
        return LONG(LINEERR_INVALPOINTER);
    const tsp::LineCaps caps = devices_[l->second.device]->Caps();
    tsp::MakeCallRequest req;
    req.countryCode = country;
    req.bearerMode = LINEBEARERMODE_VOICE;
    req.mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    if (params) {
        if (params->dwTotalSize < 112) // the TAPI 1.4 part
            return LONG(LINEERR_STRUCTURETOOSMALL);
        if (params->dwBearerMode)
            req.bearerMode = params->dwBearerMode;
        if (params->dwMediaMode)
            req.mediaMode = params->dwMediaMode;
        if (params->dwAddressMode == LINEADDRESSMODE_ADDRESSID && params->dwAddressID != 0)
            return LONG(LINEERR_INVALADDRESSID);
    }
    if (req.bearerMode & ~caps.bearerModes)
        return LONG(LINEERR_INVALBEARERMODE);
    if ((req.mediaMode & ~caps.mediaModes) || (req.mediaMode & (req.mediaMode - 1)))
        return LONG(LINEERR_INVALMEDIAMODE);
    req.dialable = dest ? dest : "";
    const DWORD id = NewRequest(line);
    std::shared_ptr<tsp::ProviderCall> made;
    const LONG r = devices_[l->second.device]->MakeCall(id, req, &made);
    if (r != 0 || !made) {
        requests_.erase(id);
        return r != 0 ? r : LONG(LINEERR_OPERATIONFAILED);
    }
    const HCALL h = nextCall_++;
    calls_[h] = Call { line, made, LINECALLPRIVILEGE_OWNER, 0 };
    requests_[id].newCall = h;
    requests_[id].lphCall = call;
    return LONG(id);
}

LONG TapiService::Answer(HCALL call)
{
    Guard lock(tsp::ServiceLock());
    Call* c = FindCall(call);
    if (!c)
        return LONG(LINEERR_INVALCALLHANDLE);
    if (!(c->privilege & LINECALLPRIVILEGE_OWNER))
        return LONG(LINEERR_NOTOWNER);
    if (c->call->State() != LINECALLSTATE_OFFERING && c->call->State() != LINECALLSTATE_ACCEPTED)
        return LONG(LINEERR_INVALCALLSTATE);
    const DWORD id = NewRequest(c->line);
    const LONG r = c->call->Answer(id);
    if (r != 0) {
        requests_.erase(id);
        return r;
    }
    return LONG(id);
}

LONG TapiService::Drop(HCALL call)
{
    Guard lock(tsp::ServiceLock());
    Call* c = FindCall(call);
    if (!c)
        return LONG(LINEERR_INVALCALLHANDLE);
    if (!(c->privilege & LINECALLPRIVILEGE_OWNER))
        return LONG(LINEERR_NOTOWNER);
    if (c->call->State() == LINECALLSTATE_IDLE)
        return LONG(LINEERR_INVALCALLSTATE);
    const DWORD id = NewRequest(c->line);
    const LONG r = c->call->Drop(id);
    if (r != 0) {
        requests_.erase(id);
        return r;
    }
    return LONG(id);
}

LONG TapiService::UncompleteCall(HLINE line, DWORD)
{
    Guard lock(tsp::ServiceLock());
    if (!lines_.count(line))
        return LONG(LINEERR_INVALLINEHANDLE);
    // No provider offers call completion, so no identifier is ever valid.
    return LONG(LINEERR_INVALCOMPLETIONID);
}

LONG TapiService::DeallocateCall(HCALL call)
{
    Guard lock(tsp::ServiceLock());
    if (!FindCall(call))
        return LONG(LINEERR_INVALCALLHANDLE);
    RemoveCallHandle(call);
    return 0;
}

LONG TapiService::GetCallStatus(HCALL call, LINECALLSTATUS* status)
{
    Guard lock(tsp::ServiceLock());
    Call* c = FindCall(call);
    if (!c)
        return LONG(LINEERR_INVALCALLHANDLE);
    if (LONG r = CheckRecord(status, sizeof(LINECALLSTATUS)))
        return r;
    RecordWriter w(status, sizeof(LINECALLSTATUS));
    const DWORD state = c->call->State();
    status->dwCallState = state;
    status->dwCallStateMode = c->call->StateMode();
    status->dwCallPrivilege = c->privilege;
    if (c->privilege & LINECALLPRIVILEGE_OWNER) {
        if (state == LINECALLSTATE_OFFERING)
            status->dwCallFeatures |= LINECALLFEATURE_ANSWER;
        if (state != LINECALLSTATE_IDLE)
            status->dwCallFeatures |= LINECALLFEATURE_DROP | LINECALLFEATURE_SETCALLPARAMS;
    }
    if (state != LINECALLSTATE_IDLE)
        status->dwCallFeatures |= LINECALLFEATURE_MONITORDIGITS;
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    status->tStateEntryTime = SYSTEMTIME { WORD(tm.tm_year + 1900), WORD(tm.tm_mon + 1), WORD(tm.tm_wday),
        WORD(tm.tm_mday), WORD(tm.tm_hour), WORD(tm.tm_min), WORD(tm.tm_sec), 0 };
    w.Finish();
    return 0;
}

LONG TapiService::GetCallInfo(HCALL call, LINECALLINFO* info)
{
    Guard lock(tsp::ServiceLock());
    Call* c = FindCall(call);
    if (!c)
        return LONG(LINEERR_INVALCALLHANDLE);
    const tsp::CallDetails d = c->call->Details();
    const Line& l = lines_[c->line];
    auto sz = [](const std::string& s) { return s.empty() ? 0 : DWORD(s.size() + 1); };
    const DWORD need
        = DWORD(sizeof(LINECALLINFO)) + sz(d.callerId) + sz(d.callerName) + sz(d.calledId) + sz(d.calledName);
    if (LONG r = CheckRecord(info, sizeof(LINECALLINFO), need))
        return r;
    RecordWriter w(info, sizeof(LINECALLINFO));
    info->hLine = c->line;
    info->dwLineDeviceID = l.device;
    info->dwBearerMode = d.bearerMode;
    info->dwRate = d.rate;
    info->dwMediaMode = d.mediaMode;
    info->dwCallID = DWORD(reinterpret_cast<uintptr_t>(c->call.get()) >> 4);
    info->dwCallStates = LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_PROCEEDING
        | LINECALLSTATE_CONNECTED | LINECALLSTATE_BUSY | LINECALLSTATE_DISCONNECTED;
    info->dwMonitorDigitModes = c->monitorModes;
    info->dwOrigin = d.origin;
    info->dwReason = LINECALLREASON_DIRECT;
    for (auto& [h, o] : calls_)
        if (o.call == c->call)
            ++((o.privilege & LINECALLPRIVILEGE_OWNER) ? info->dwNumOwners : info->dwNumMonitors);
    auto flags = [](const std::string& id, const std::string& name) {
        DWORD f = 0;
        if (!id.empty())
            f |= LINECALLPARTYID_ADDRESS;
        if (!name.empty())
            f |= LINECALLPARTYID_NAME;
        return f ? f : LINECALLPARTYID_UNKNOWN;
    };
    info->dwCallerIDFlags = flags(d.callerId, d.callerName);
    info->dwCalledIDFlags = flags(d.calledId, d.calledName);
    w.AppendString(d.callerId, &info->dwCallerIDSize, &info->dwCallerIDOffset);
    w.AppendString(d.callerName, &info->dwCallerIDNameSize, &info->dwCallerIDNameOffset);
    w.AppendString(d.calledId, &info->dwCalledIDSize, &info->dwCalledIDOffset);
    w.AppendString(d.calledName, &info->dwCalledIDNameSize, &info->dwCalledIDNameOffset);
    w.Finish();
    // Callers grow the block once to dwNeededSize, so a partial answer is
    // reported as such rather than passed off as complete.
    return w.Complete() ? 0 : LONG(LINEERR_STRUCTURETOOSMALL);
}

LONG TapiService::MonitorDigits(HCALL call, DWORD modes)
{
    Guard lock(tsp::ServiceLock());
    Call* c = FindCall(call);
    if (!c)
        return LONG(LINEERR_INVALCALLHANDLE);
    if (modes & ~(LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND))
        return LONG(LINEERR_INVALDIGITMODE);
    if (c->call->State() == LINECALLSTATE_IDLE)
        return LONG(LINEERR_INVALCALLSTATE);
    c->monitorModes = modes;
    UpdateMonitoring(c->call.get());
    return 0;
}

LONG TapiService::SetCallParams(HCALL call, DWORD bearerMode)
{
    Guard lock(tsp::ServiceLock());
    Call* c = FindCall(call);
    if (!c)
        return LONG(LINEERR_INVALCALLHANDLE);
    if (!(c->privilege & LINECALLPRIVILEGE_OWNER))
        return LONG(LINEERR_NOTOWNER);
    if (bearerMode == 0 || (bearerMode & (bearerMode - 1)))
        return LONG(LINEERR_INVALBEARERMODE);
    if (bearerMode & ~devices_[lines_[c->line].device]->Caps().bearerModes)
        return LONG(LINEERR_INVALBEARERMODE);
    if (c->call->State() == LINECALLSTATE_IDLE)
        return LONG(LINEERR_INVALCALLSTATE);
    const DWORD id = NewRequest(c->line);
    const LONG r = c->call->SetBearerMode(id, bearerMode);
    if (r != 0) {
        requests_.erase(id);
        return r;
    }
    return LONG(id);
}

LONG TapiService::GetAddressID(HLINE line, DWORD* addressId, DWORD mode, LPCSTR address, DWORD size)
{
    Guard lock(tsp::ServiceLock());
    auto l = lines_.find(line);
    if (l == lines_.end())
        return LONG(LINEERR_INVALLINEHANDLE);
    if (!addressId || !address)
        return LONG(LINEERR_INVALPOINTER);
    if (mode != LINEADDRESSMODE_DIALABLEADDR)
        return LONG(LINEERR_INVALADDRESSMODE);
    std::string given(address, strnlen(address, size));
    if (given != devices_[l->second.device]->Caps().number)
        return LONG(LINEERR_INVALADDRESS);
    *addressId = 0; // one address per line
    return 0;
}

LONG TapiService::GetDevConfig(DWORD device, VARSTRING* out, LPCSTR deviceClass)
{
    Guard lock(tsp::ServiceLock());
    EnsureStarted();
    if (!ValidDevice(device))
        return LONG(LINEERR_BADDEVICEID);
    if (!SameClass(deviceClass, "comm/datamodem") && !SameClass(deviceClass, "comm"))
        return LONG(LINEERR_INVALDEVICECLASS);
    const std::vector<uint8_t> block = devices_[device]->DevConfig();
    if (block.empty())
        return LONG(LINEERR_INVALDEVICECLASS);
    return FillVarString(out, STRINGFORMAT_BINARY, block.data(), DWORD(block.size()));
}

LONG TapiService::SetDevConfig(DWORD device, const void* data, DWORD size, LPCSTR deviceClass)
{
    Guard lock(tsp::ServiceLock());
    EnsureStarted();
    if (!ValidDevice(device))
        return LONG(LINEERR_BADDEVICEID);
    if (!SameClass(deviceClass, "comm/datamodem") && !SameClass(deviceClass, "comm"))
        return LONG(LINEERR_INVALDEVICECLASS);
    if (!data)
        return LONG(LINEERR_INVALPOINTER);
    return devices_[device]->SetDevConfig(data, size);
}

LONG TapiService::ConfigDialog(DWORD device, HWND owner, LPCSTR deviceClass)
{
    std::vector<uint8_t> block;
    std::string name;
    {
        Guard lock(tsp::ServiceLock());
        EnsureStarted();
        if (!ValidDevice(device))
            return LONG(LINEERR_BADDEVICEID);
        if (deviceClass && !SameClass(deviceClass, "comm/datamodem") && !SameClass(deviceClass, "comm")
            && !SameClass(deviceClass, "tapi/line"))
            return LONG(LINEERR_INVALDEVICECLASS);
        block = devices_[device]->DevConfig();
        name = devices_[device]->Caps().name;
    }
    if (!IsModemDevConfig(block.data(), block.size()))
        return LONG(LINEERR_OPERATIONUNAVAIL);
    // A modal dialog needs the widgets application and its thread.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())
        || QThread::currentThread() != QCoreApplication::instance()->thread())
        return LONG(LINEERR_OPERATIONFAILED);
    // The lock is not held while the dialog runs: messages and timers go on.
    if (!RunModemConfigDialog(name, owner, &block))
        return 0;
    Guard lock(tsp::ServiceLock());
    if (!ValidDevice(device))
        return LONG(LINEERR_BADDEVICEID);
    return devices_[device]->SetDevConfig(block.data(), block.size());
}
