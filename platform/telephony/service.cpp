// Applications, lines and the message path of the service.
#include "service_p.h"

#include "modemprovider.h"
#include "simexchange.h"

#include "messages.h"

namespace tsp {
std::recursive_mutex& ServiceLock()
{
    static std::recursive_mutex m;
    return m;
}
} // namespace tsp

using Guard = std::lock_guard<std::recursive_mutex>;

TapiService& TapiService::Instance()
{
    // Kept for the life of the process: queued deliveries may still refer
    // to it while the program ends.
    static auto* service = new TapiService;
    return *service;
}

void TapiService::EnsureStarted()
{
    if (started_)
        return;
    timers_.Start();
    if (providers_.empty()) {
        providers_.push_back(CreateSimulatedExchange());
        providers_.push_back(zq::modem::CreateModemProvider());
    }
    for (auto& p : providers_)
        for (tsp::ProviderLine* l : p->Start(this))
            devices_.push_back(l);
    deviceOpens_.assign(devices_.size(), 0);
    started_ = true;
}

void TapiService::StopProviders()
{
    if (!started_)
        return;
    for (auto& p : providers_)
        p->Stop();
    devices_.clear();
    deviceOpens_.clear();
    calls_.clear();
    requests_.clear();
    started_ = false;
}

LONG TapiService::Initialize(HLINEAPP* app, LINECALLBACK callback, DWORD* numDevs)
{
    if (!app || !numDevs)
        return LONG(LINEERR_INVALPOINTER);
    if (!callback)
        return LONG(LINEERR_INVALPOINTER);
    std::lock_guard life(lifecycle_);
    Guard lock(tsp::ServiceLock());
    // Each first registration reads the devices afresh, so changes to the
    // line settings take effect at the next start.
    if (apps_.empty())
        StopProviders();
    EnsureStarted();
    const HLINEAPP h = nextApp_++;
    App& a = apps_[h];
    a.callback = callback;
    a.sink = MessageSink::ForCurrentThread();
    *app = h;
    *numDevs = DWORD(devices_.size());
    return 0;
}

LONG TapiService::Shutdown(HLINEAPP app)
{
    std::lock_guard life(lifecycle_);
    {
        Guard lock(tsp::ServiceLock());
        if (!apps_.count(app))
            return LONG(LINEERR_INVALAPPHANDLE);
        std::vector<HLINE> mine;
        for (auto& [h, l] : lines_)
            if (l.app == app)
                mine.push_back(h);
        for (HLINE h : mine)
            CloseLocked(h);
        for (auto it = requests_.begin(); it != requests_.end();)
            it = it->second.app == app ? requests_.erase(it) : std::next(it);
        apps_.erase(app);
        if (!apps_.empty())
            return 0;
        StopProviders();
    }
    // The timer thread may be waiting for the lock: stop it without.
    timers_.Stop();
    return 0;
}

LONG TapiService::NegotiateAPIVersion(
    HLINEAPP app, DWORD device, DWORD low, DWORD high, DWORD* version, LINEEXTENSIONID* ext)
{
    Guard lock(tsp::ServiceLock());
    if (!apps_.count(app))
        return LONG(LINEERR_INVALAPPHANDLE);
    if (!ValidDevice(device))
        return LONG(LINEERR_BADDEVICEID);
    if (!version || !ext)
        return LONG(LINEERR_INVALPOINTER);
    if (high < TAPI_VERSION_1_4 || low > TAPI_VERSION_3_0 || low > high)
        return LONG(LINEERR_INCOMPATIBLEAPIVERSION);
    *version = std::min(high, TAPI_VERSION_3_0);
    *ext = LINEEXTENSIONID {};
    return 0;
}

LONG TapiService::Open(HLINEAPP app, DWORD device, HLINE* line, DWORD version, DWORD extVersion,
    DWORD_PTR instance, DWORD privileges, DWORD mediaModes)
{
    Guard lock(tsp::ServiceLock());
    if (!apps_.count(app))
        return LONG(LINEERR_INVALAPPHANDLE);
    if (!ValidDevice(device))
        return LONG(LINEERR_BADDEVICEID);
    if (!line)
        return LONG(LINEERR_INVALPOINTER);
    if (version < TAPI_VERSION_1_4 || version > TAPI_VERSION_3_0)
        return LONG(LINEERR_INCOMPATIBLEAPIVERSION);
    if (extVersion != 0)
        return LONG(LINEERR_INCOMPATIBLEEXTVERSION);
    const DWORD known = LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
    if (privileges == 0 || (privileges & ~known)
        || ((privileges & LINECALLPRIVILEGE_NONE) && privileges != LINECALLPRIVILEGE_NONE))
        return LONG(LINEERR_INVALCALLPRIVILEGE);
    const tsp::LineCaps caps = devices_[device]->Caps();
    if ((privileges & LINECALLPRIVILEGE_OWNER) && (mediaModes == 0 || (mediaModes & ~caps.mediaModes)))
        return LONG(LINEERR_INVALMEDIAMODE);
    if (deviceOpens_[device] == 0) {
        const LONG r = devices_[device]->Open();
        if (r != 0)
            return r;
    }
    ++deviceOpens_[device];
    const HLINE h = nextLine_++;
    lines_[h] = Line { app, device, instance, privileges, mediaModes };
    *line = h;
    UpdateDetection(device);
    return 0;
}

LONG TapiService::Close(HLINE line)
{
    Guard lock(tsp::ServiceLock());
    return CloseLocked(line);
}

LONG TapiService::CloseLocked(HLINE line)
{
    auto it = lines_.find(line);
    if (it == lines_.end())
        return LONG(LINEERR_INVALLINEHANDLE);
    const DWORD device = it->second.device;
    std::vector<HCALL> handles;
    for (auto& [h, c] : calls_)
        if (c.line == line)
            handles.push_back(h);
    for (HCALL h : handles) {
        Call& c = calls_[h];
        bool otherOwner = false;
        for (auto& [h2, c2] : calls_)
            if (h2 != h && c2.call == c.call && (c2.privilege & LINECALLPRIVILEGE_OWNER))
                otherOwner = true;
        // The last owner closing its line ends the call.
        if ((c.privilege & LINECALLPRIVILEGE_OWNER) && !otherOwner && c.call->State() != LINECALLSTATE_IDLE)
            c.call->Drop(0);
        RemoveCallHandle(h);
    }
    lines_.erase(it);
    if (ValidDevice(device) && --deviceOpens_[device] == 0)
        devices_[device]->Close();
    if (ValidDevice(device))
        UpdateDetection(device);
    return 0;
}

void TapiService::UpdateDetection(DWORD device)
{
    DWORD modes = 0;
    for (auto& [h, l] : lines_)
        if (l.device == device && (l.privileges & LINECALLPRIVILEGE_OWNER))
            modes |= l.mediaModes;
    devices_[device]->SetDetection(modes);
}

TapiService::Call* TapiService::FindCall(HCALL h)
{
    auto it = calls_.find(h);
    return it == calls_.end() ? nullptr : &it->second;
}

void TapiService::RemoveCallHandle(HCALL h)
{
    auto it = calls_.find(h);
    if (it == calls_.end())
        return;
    std::shared_ptr<tsp::ProviderCall> call = it->second.call;
    calls_.erase(it);
    for (auto& [h2, c] : calls_)
        if (c.call == call) {
            UpdateMonitoring(call.get());
            return;
        }
    call->MonitorDigits(0);
    call->Released();
}

void TapiService::UpdateMonitoring(tsp::ProviderCall* call)
{
    DWORD modes = 0;
    for (auto& [h, c] : calls_)
        if (c.call.get() == call)
            modes |= c.monitorModes;
    call->MonitorDigits(modes);
}

DWORD TapiService::NewRequest(HLINE line)
{
    DWORD id = nextRequest_++;
    if (nextRequest_ > 0x7FFFFFFF)
        nextRequest_ = 1;
    const Line& l = lines_[line];
    requests_[id] = Request { l.app, l.instance, 0, nullptr };
    return id;
}

void TapiService::Post(
    HLINEAPP app, HLINE line, HCALL call, DWORD hDevice, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3)
{
    auto it = apps_.find(app);
    if (it == apps_.end() || !it->second.sink)
        return;
    it->second.sink->Post([this, app, line, call, hDevice, msg, p1, p2, p3] {
        Deliver(app, line, call, 0, hDevice, msg, p1, p2, p3);
    });
}

void TapiService::Deliver(HLINEAPP app, HLINE line, HCALL call, DWORD requestId, DWORD hDevice, DWORD msg,
    DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3)
{
    LINECALLBACK callback = nullptr;
    DWORD_PTR instance = 0;
    {
        Guard lock(tsp::ServiceLock());
        auto a = apps_.find(app);
        if (a == apps_.end())
            return;
        callback = a->second.callback;
        if (requestId != 0) {
            auto r = requests_.find(requestId);
            if (r == requests_.end())
                return;
            instance = r->second.instance;
            // The call handle becomes the application's only with the
            // successful completion of its request.
            if (r->second.newCall) {
                if (LONG(p2) == 0 && calls_.count(r->second.newCall))
                    *r->second.lphCall = r->second.newCall;
                else if (LONG(p2) == 0)
                    p2 = DWORD(LINEERR_INVALLINEHANDLE); // its line was closed meanwhile
                else
                    RemoveCallHandle(r->second.newCall);
            }
            requests_.erase(r);
        } else {
            auto l = lines_.find(line);
            if (l == lines_.end())
                return;
            if (call && !calls_.count(call))
                return;
            instance = l->second.instance;
        }
    }
    callback(hDevice, msg, instance, p1, p2, p3);
}

void TapiService::RequestCompleted(DWORD requestId, LONG result)
{
    auto r = requests_.find(requestId);
    if (r == requests_.end())
        return;
    auto a = apps_.find(r->second.app);
    if (a == apps_.end() || !a->second.sink)
        return;
    const HLINEAPP app = r->second.app;
    a->second.sink->Post([this, app, requestId, result] {
        Deliver(app, 0, 0, requestId, 0, LINE_REPLY, requestId, DWORD_PTR(DWORD(result)), 0);
    });
}

void TapiService::CallStateChanged(tsp::ProviderCall* call, DWORD state, DWORD mode)
{
    for (auto& [h, c] : calls_)
        if (c.call.get() == call)
            Post(lines_[c.line].app, c.line, h, h, LINE_CALLSTATE, state, mode, 0);
}

bool TapiService::CallOffered(tsp::ProviderLine* line, std::shared_ptr<tsp::ProviderCall> call)
{
    bool taken = false;
    for (auto& [hl, l] : lines_) {
        if (devices_[l.device] != line)
            continue;
        DWORD privilege = 0;
        if (l.privileges & LINECALLPRIVILEGE_OWNER)
            privilege = LINECALLPRIVILEGE_OWNER;
        else if (l.privileges & LINECALLPRIVILEGE_MONITOR)
            privilege = LINECALLPRIVILEGE_MONITOR;
        if (!privilege)
            continue;
        const HCALL h = nextCall_++;
        calls_[h] = Call { hl, call, privilege, 0 };
        Post(l.app, hl, h, h, LINE_CALLSTATE, call->State(), call->StateMode(), privilege);
        taken = true;
    }
    return taken;
}

void TapiService::LineRinging(tsp::ProviderLine* line, DWORD ringCount)
{
    for (auto& [hl, l] : lines_)
        if (devices_[l.device] == line)
            Post(l.app, hl, 0, hl, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, LINERINGMODE_DEFAULT, ringCount);
}

void TapiService::DigitReceived(tsp::ProviderCall* call, char digit, DWORD digitMode)
{
    const DWORD tick = GetTickCount();
    for (auto& [h, c] : calls_)
        if (c.call.get() == call && (c.monitorModes & digitMode))
            Post(lines_[c.line].app, c.line, h, h, LINE_MONITORDIGITS,
                DWORD_PTR(static_cast<unsigned char>(digit)), digitMode, tick);
}

tsp::TimerId TapiService::StartTimer(DWORD delayMs, std::function<void()> fn)
{
    return timers_.Add(delayMs, std::move(fn));
}

void TapiService::CancelTimer(tsp::TimerId id)
{
    timers_.Cancel(id);
}
