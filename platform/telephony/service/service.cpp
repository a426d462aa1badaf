// Applications, lines and the message path of the service.
#include "service_p.h"

#include "handles.h"
#include "messages.h"

namespace zq::telephony {

std::recursive_mutex& ServiceLock()
{
    static std::recursive_mutex m;
    return m;
}

using Guard = std::lock_guard<std::recursive_mutex>;

Service& Service::Instance()
{
    // Kept for the life of the process: queued deliveries may still refer
    // to it while the program ends.
    static auto* service = new Service;
    return *service;
}

LONG Service::Initialize(HLINEAPP* app, LINECALLBACK callback, DWORD* numDevs)
{
    if (!app || !numDevs)
        return LONG(LINEERR_INVALPOINTER);
    if (!callback)
        return LONG(LINEERR_INVALPOINTER);
    std::lock_guard life(lifecycle_);
    if (const LONG failed = EnsureStarted())
        return failed;
    Guard lock(ServiceLock());
    const HLINEAPP h = nextApp_++;
    App& a = apps_[h];
    a.callback = callback;
    a.sink = MessageSink::ForCurrentThread();
    *app = h;
    *numDevs = DWORD(devices_.size());
    return 0;
}

LONG Service::Shutdown(HLINEAPP app)
{
    std::lock_guard life(lifecycle_);
    std::vector<ProviderLine*> toClose;
    {
        Guard lock(ServiceLock());
        if (!apps_.count(app))
            return LONG(LINEERR_INVALAPPHANDLE);
        std::vector<HLINE> mine;
        for (auto& [h, l] : lines_)
            if (l.app == app)
                mine.push_back(h);
        for (HLINE h : mine)
            if (ProviderLine* l = CloseLocked(h))
                toClose.push_back(l);
        for (auto it = requests_.begin(); it != requests_.end();)
            it = it->second.app == app ? requests_.erase(it) : std::next(it);
        apps_.erase(app);
    }
    // The providers keep running: the next application finds the same
    // lines under the same identifiers.
    for (ProviderLine* l : toClose)
        l->Close();
    return 0;
}

LONG Service::NegotiateAPIVersion(
    HLINEAPP app, DWORD device, DWORD low, DWORD high, DWORD* version, LINEEXTENSIONID* ext)
{
    Guard lock(ServiceLock());
    if (!apps_.count(app))
        return LONG(LINEERR_INVALAPPHANDLE);
    if (LONG r = CheckDevice(device))
        return r;
    if (!version || !ext)
        return LONG(LINEERR_INVALPOINTER);
    if (high < TAPI_VERSION_1_4 || low > TAPI_VERSION_3_0 || low > high)
        return LONG(LINEERR_INCOMPATIBLEAPIVERSION);
    *version = std::min(high, TAPI_VERSION_3_0);
    *ext = LINEEXTENSIONID {};
    return 0;
}

LONG Service::Open(HLINEAPP app, DWORD device, HLINE* line, DWORD version, DWORD extVersion,
    DWORD_PTR instance, DWORD privileges, DWORD mediaModes)
{
    std::lock_guard life(lifecycle_);
    ProviderLine* first = nullptr;
    {
        Guard lock(ServiceLock());
        if (!apps_.count(app))
            return LONG(LINEERR_INVALAPPHANDLE);
        if (LONG r = CheckDevice(device))
            return r;
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
        const LineCaps caps = devices_[device].line->Caps();
        if ((privileges & LINECALLPRIVILEGE_OWNER) && (mediaModes == 0 || (mediaModes & ~caps.mediaModes)))
            return LONG(LINEERR_INVALMEDIAMODE);
        if (devices_[device].opens == 0)
            first = devices_[device].line;
    }
    // A first open may wait for the provider (a modem initialised, an
    // account registered): without the lock.
    if (first) {
        if (LONG r = first->Open())
            return r;
    }
    ProviderLine* last = nullptr;
    LONG refused = 0;
    {
        Guard lock(ServiceLock());
        if (!ValidDevice(device) || (first && devices_[device].line != first))
            return LONG(LINEERR_NODEVICE); // removed meanwhile: it counts as closed
        ++devices_[device].opens;
        const HLINE h = nextLine_++;
        lines_[h] = Line { app, device, instance, privileges, mediaModes };
        // An owner whose calls the line cannot wait for is not opened.
        refused = UpdateDetection(device);
        if (refused)
            last = CloseLocked(h);
        else
            *line = h;
    }
    if (last)
        last->Close();
    return refused;
}

LONG Service::Close(HLINE line)
{
    std::lock_guard life(lifecycle_);
    ProviderLine* last = nullptr;
    {
        Guard lock(ServiceLock());
        if (!lines_.count(line))
            return LONG(LINEERR_INVALLINEHANDLE);
        last = CloseLocked(line);
    }
    if (last)
        last->Close();
    return 0;
}

ProviderLine* Service::CloseLocked(HLINE line)
{
    auto it = lines_.find(line);
    if (it == lines_.end())
        return nullptr;
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
    if (!ValidDevice(device))
        return nullptr;
    UpdateDetection(device);
    if (--devices_[device].opens == 0)
        return devices_[device].line;
    return nullptr;
}

LONG Service::UpdateDetection(DWORD device)
{
    DWORD modes = 0;
    for (auto& [h, l] : lines_)
        if (l.device == device && (l.privileges & LINECALLPRIVILEGE_OWNER))
            modes |= l.mediaModes;
    return devices_[device].line->SetDetection(modes);
}

LONG Service::CheckDevice(DWORD device) const
{
    if (device >= devices_.size())
        return LONG(LINEERR_BADDEVICEID);
    if (!devices_[device].line)
        return LONG(LINEERR_NODEVICE);
    return 0;
}

int Service::DeviceOf(const ProviderLine* line) const
{
    for (size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i].line == line)
            return int(i);
    return -1;
}

Service::Call* Service::FindCall(HCALL h)
{
    auto it = calls_.find(h);
    return it == calls_.end() ? nullptr : &it->second;
}

void Service::RemoveCallHandle(HCALL h)
{
    auto it = calls_.find(h);
    if (it == calls_.end())
        return;
    std::shared_ptr<ProviderCall> call = it->second.call;
    calls_.erase(it);
    for (auto& [h2, c] : calls_)
        if (c.call == call) {
            UpdateMonitoring(call.get());
            return;
        }
    call->MonitorDigits(0);
    call->Released();
}

void Service::UpdateMonitoring(ProviderCall* call)
{
    DWORD modes = 0;
    for (auto& [h, c] : calls_)
        if (c.call.get() == call)
            modes |= c.monitorModes;
    call->MonitorDigits(modes);
}

DWORD Service::NewRequest(HLINE line)
{
    DWORD id = nextRequest_++;
    if (nextRequest_ > 0x7FFFFFFF)
        nextRequest_ = 1;
    const Line& l = lines_[line];
    requests_[id] = Request { l.app, l.instance, 0, nullptr };
    return id;
}

HANDLE Service::LendPort(const std::shared_ptr<ProviderCall>& call)
{
    const HANDLE h = call->LendPort();
    if (h == INVALID_HANDLE_VALUE)
        return h;
    // The provider hears when the application has closed it, if the call
    // is still there then.
    std::weak_ptr<ProviderCall> weak = call;
    zq::kernel::NotifyHandleClosed(h, [weak, h] {
        Guard lock(ServiceLock());
        if (auto c = weak.lock())
            c->PortReturned(h);
    });
    return h;
}

void Service::Post(
    HLINEAPP app, HLINE line, HCALL call, DWORD hDevice, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3)
{
    auto it = apps_.find(app);
    if (it == apps_.end() || !it->second.sink)
        return;
    it->second.sink->Post([this, app, line, call, hDevice, msg, p1, p2, p3] {
        Deliver(app, line, call, 0, hDevice, msg, p1, p2, p3);
    });
}

void Service::PostToApp(
    HLINEAPP app, DWORD_PTR instance, DWORD hDevice, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3)
{
    auto it = apps_.find(app);
    if (it == apps_.end() || !it->second.sink)
        return;
    it->second.sink->Post([this, app, instance, hDevice, msg, p1, p2, p3] {
        LINECALLBACK callback = nullptr;
        {
            Guard lock(ServiceLock());
            auto a = apps_.find(app);
            if (a == apps_.end())
                return;
            callback = a->second.callback;
        }
        callback(hDevice, msg, instance, p1, p2, p3);
    });
}

void Service::Deliver(HLINEAPP app, HLINE line, HCALL call, DWORD requestId, DWORD hDevice, DWORD msg,
    DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3)
{
    LINECALLBACK callback = nullptr;
    DWORD_PTR instance = 0;
    {
        Guard lock(ServiceLock());
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

// ---- What providers report ----------------------------------------------------

void Service::RequestCompleted(DWORD requestId, LONG result)
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

void Service::CallStateChanged(ProviderCall* call, DWORD state, DWORD mode)
{
    for (auto& [h, c] : calls_)
        if (c.call.get() == call)
            Post(lines_[c.line].app, c.line, h, h, LINE_CALLSTATE, state, mode, 0);
}

bool Service::CallOffered(ProviderLine* line, std::shared_ptr<ProviderCall> call)
{
    const int device = DeviceOf(line);
    if (device < 0)
        return false;
    bool taken = false;
    for (auto& [hl, l] : lines_) {
        if (l.device != DWORD(device))
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

void Service::LineRinging(ProviderLine* line, DWORD ringCount)
{
    const int device = DeviceOf(line);
    for (auto& [hl, l] : lines_)
        if (device >= 0 && l.device == DWORD(device))
            Post(l.app, hl, 0, hl, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, LINERINGMODE_DEFAULT, ringCount);
}

void Service::DigitReceived(ProviderCall* call, char digit, DWORD digitMode)
{
    const DWORD tick = GetTickCount();
    for (auto& [h, c] : calls_)
        if (c.call.get() == call && (c.monitorModes & digitMode))
            Post(lines_[c.line].app, c.line, h, h, LINE_MONITORDIGITS,
                DWORD_PTR(static_cast<unsigned char>(digit)), digitMode, tick);
}

void Service::CallInfoChanged(ProviderCall* call, DWORD infoStates)
{
    for (auto& [h, c] : calls_)
        if (c.call.get() == call)
            Post(lines_[c.line].app, c.line, h, h, LINE_CALLINFO, infoStates, 0, 0);
}

TimerId Service::StartTimer(DWORD delayMs, std::function<void()> fn)
{
    return timers_.Add(delayMs, std::move(fn));
}

void Service::CancelTimer(TimerId id)
{
    timers_.Cancel(id);
}

} // namespace zq::telephony
