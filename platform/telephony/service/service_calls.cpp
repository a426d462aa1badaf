// Call control of the service.
#include "records_p.h"
#include "service_p.h"

#include <cstring>
#include <ctime>

namespace zq::telephony {

using Guard = std::lock_guard<std::recursive_mutex>;

LONG Service::MakeCall(HLINE line, HCALL* call, LPCSTR dest, DWORD country, const LINECALLPARAMS* params)
{
    Guard lock(ServiceLock());
    auto l = lines_.find(line);
    if (l == lines_.end())
        return LONG(LINEERR_INVALLINEHANDLE);
    if (!call)
        return LONG(LINEERR_INVALPOINTER);
    if (!devices_[l->second.device].inService)
        return LONG(LINEERR_RESOURCEUNAVAIL);
    const LineCaps caps = devices_[l->second.device].line->Caps();
    MakeCallRequest req;
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
    std::shared_ptr<ProviderCall> made;
    const LONG r = devices_[l->second.device].line->MakeCall(id, req, &made);
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

LONG Service::Answer(HCALL call)
{
    Guard lock(ServiceLock());
    LONG error = 0;
    Call* c = FindOwnedCall(call, &error);
    if (!c)
        return error;
    if (c->call->State() != LINECALLSTATE_OFFERING && c->call->State() != LINECALLSTATE_ACCEPTED)
        return LONG(LINEERR_INVALCALLSTATE);
    return StartRequest(c->line, [c](DWORD id) { return c->call->Answer(id); });
}

LONG Service::Drop(HCALL call)
{
    Guard lock(ServiceLock());
    LONG error = 0;
    Call* c = FindOwnedCall(call, &error);
    if (!c)
        return error;
    if (c->call->State() == LINECALLSTATE_IDLE)
        return LONG(LINEERR_INVALCALLSTATE);
    return StartRequest(c->line, [c](DWORD id) { return c->call->Drop(id); });
}

Service::Call* Service::FindOwnedCall(HCALL h, LONG* error)
{
    Call* c = FindCall(h);
    if (!c)
        *error = LONG(LINEERR_INVALCALLHANDLE);
    else if (!(c->privilege & LINECALLPRIVILEGE_OWNER))
        *error = LONG(LINEERR_NOTOWNER);
    else
        return c;
    return nullptr;
}

LONG Service::UncompleteCall(HLINE line, DWORD)
{
    Guard lock(ServiceLock());
    if (!lines_.count(line))
        return LONG(LINEERR_INVALLINEHANDLE);
    // No provider offers call completion, so no identifier is ever valid.
    return LONG(LINEERR_INVALCOMPLETIONID);
}

LONG Service::DeallocateCall(HCALL call)
{
    Guard lock(ServiceLock());
    if (!FindCall(call))
        return LONG(LINEERR_INVALCALLHANDLE);
    RemoveCallHandle(call);
    return 0;
}

LONG Service::GetCallStatus(HCALL call, LINECALLSTATUS* status)
{
    Guard lock(ServiceLock());
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

LONG Service::GetCallInfo(HCALL call, LINECALLINFO* info)
{
    Guard lock(ServiceLock());
    Call* c = FindCall(call);
    if (!c)
        return LONG(LINEERR_INVALCALLHANDLE);
    const CallDetails d = c->call->Details();
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

LONG Service::MonitorDigits(HCALL call, DWORD modes)
{
    Guard lock(ServiceLock());
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

LONG Service::SetCallParams(HCALL call, DWORD bearerMode)
{
    Guard lock(ServiceLock());
    LONG error = 0;
    Call* c = FindOwnedCall(call, &error);
    if (!c)
        return error;
    if (bearerMode == 0 || (bearerMode & (bearerMode - 1)))
        return LONG(LINEERR_INVALBEARERMODE);
    if (bearerMode & ~devices_[lines_[c->line].device].line->Caps().bearerModes)
        return LONG(LINEERR_INVALBEARERMODE);
    if (c->call->State() == LINECALLSTATE_IDLE)
        return LONG(LINEERR_INVALCALLSTATE);
    return StartRequest(
        c->line, [c, bearerMode](DWORD id) { return c->call->SetBearerMode(id, bearerMode); });
}

} // namespace zq::telephony
