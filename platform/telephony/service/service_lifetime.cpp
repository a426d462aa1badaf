// Which providers run, starting and stopping them, and lines that come and
// go while they run.
#include "service_p.h"

#include "messages.h"
#include "providertable_p.h"
#include "registrykey.h"
#include "telephonysettings.h"

#include <cstdlib>

namespace zq::telephony {

using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

// Forwards one provider's reports, so the service knows whose line a new
// one is.
class ProviderSink : public ServiceSink {
public:
    ProviderSink(Service* service, Provider* provider)
        : service_(service)
        , provider_(provider)
    {
    }
    void RequestCompleted(DWORD requestId, LONG result) override
    {
        service_->RequestCompleted(requestId, result);
    }
    void CallStateChanged(ProviderCall* call, DWORD state, DWORD mode) override
    {
        service_->CallStateChanged(call, state, mode);
    }
    bool CallOffered(ProviderLine* line, std::shared_ptr<ProviderCall> call) override
    {
        return service_->CallOffered(line, std::move(call));
    }
    void LineRinging(ProviderLine* line, DWORD ringCount) override { service_->LineRinging(line, ringCount); }
    void DigitReceived(ProviderCall* call, char digit, DWORD digitMode) override
    {
        service_->DigitReceived(call, digit, digitMode);
    }
    void CallInfoChanged(ProviderCall* call, DWORD infoStates) override
    {
        service_->CallInfoChanged(call, infoStates);
    }
    void LineInService(ProviderLine* line, bool inService) override
    {
        service_->LineInService(line, inService);
    }
    void LineAdded(ProviderLine* line) override { service_->LineAdded(provider_, line); }
    void LineRemoved(ProviderLine* line) override { service_->LineRemoved(line); }
    TimerId StartTimer(DWORD delayMs, std::function<void()> fn) override
    {
        return service_->StartTimer(delayMs, std::move(fn));
    }
    void CancelTimer(TimerId id) override { service_->CancelTimer(id); }

private:
    Service* service_;
    Provider* provider_;
};

// The registered providers the store switches on: those with Enabled 1,
// or else the fallback unless its Enabled is 0.
std::vector<std::pair<std::string, ProviderFactory>> EnabledProviders()
{
    std::vector<std::pair<std::string, ProviderFactory>> on;
    const ProviderRegistration* fallback = nullptr;
    for (const ProviderRegistration& r : RegisteredProviders()) {
        registry::RegistryKey key(HKEY_LOCAL_MACHINE, ProviderSettingsKey(r.name));
        const DWORD enabled = key.Dword(kProviderEnabledValue, r.fallback ? 2 : 0);
        if (enabled == 1)
            on.emplace_back(r.name, r.create);
        else if (enabled == 2 && !fallback)
            fallback = &r;
    }
    if (on.empty() && fallback)
        on.emplace_back(fallback->name, fallback->create);
    return on;
}

std::vector<std::string> NamesOf(const std::vector<std::pair<std::string, ProviderFactory>>& list)
{
    std::vector<std::string> names;
    for (auto& [name, f] : list)
        names.push_back(name);
    return names;
}

} // namespace

void Service::UseProviders(std::vector<std::pair<std::string, ProviderFactory>> providers)
{
    Guard lock(ServiceLock());
    testProviders_ = std::move(providers);
    testProvidersChanged_ = true;
}

bool Service::SettingsChangedLocked() const
{
    if (testProvidersChanged_ || registry::RegistryStoreFile() != storeFile_)
        return true;
    if (testProviders_.empty() && NamesOf(EnabledProviders()) != enabled_)
        return true;
    for (const Running& r : providers_)
        if (r.provider->SettingsChanged())
            return true;
    return false;
}

LONG Service::EnsureStarted()
{
    {
        Guard lock(ServiceLock());
        // Settings are looked at only while nobody uses a line: identifiers
        // never change under an application.
        if (started_ && !(apps_.empty() && SettingsChangedLocked()))
            return 0;
    }
    StopProviders();
    std::vector<std::pair<std::string, ProviderFactory>> chosen;
    {
        Guard lock(ServiceLock());
        chosen = testProviders_.empty() ? EnabledProviders() : testProviders_;
        testProvidersChanged_ = false;
        storeFile_ = registry::RegistryStoreFile();
        enabled_ = testProviders_.empty() ? NamesOf(chosen) : std::vector<std::string>();
    }
    timers_.Start();
    static const bool stopTimersAtExit = [] {
        // Providers' timers read the registry; at exit they stop before its
        // store and open-key table are destroyed. The open below makes both
        // first, so their destructors are queued before this handler and
        // run after it.
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_QUERY_VALUE, &key) == LONG(ERROR_SUCCESS))
            RegCloseKey(key);
        std::atexit([] { Instance().timers_.Stop(); });
        return true;
    }();
    (void)stopTimersAtExit;
    for (auto& [name, create] : chosen) {
        Running r;
        r.name = name;
        r.provider = create();
        if (!r.provider)
            continue;
        r.sink = std::make_unique<ProviderSink>(this, r.provider.get());
        Provider* p = r.provider.get();
        ServiceSink* sink = r.sink.get();
        {
            Guard lock(ServiceLock());
            providers_.push_back(std::move(r));
        }
        // Without the lock: a provider may wait for its threads to come up.
        const std::vector<ProviderLine*> lines = p->Start(sink);
        if (const LONG failed = p->StartError()) {
            // Not started: the next first use tries again.
            StopProviders();
            return failed;
        }
        Guard lock(ServiceLock());
        for (ProviderLine* l : lines)
            if (DeviceOf(l) < 0)
                AddDevice(p, l);
    }
    Guard lock(ServiceLock());
    started_ = true;
    return 0;
}

void Service::StopProviders()
{
    std::vector<Running> old;
    {
        Guard lock(ServiceLock());
        if (!started_ && providers_.empty())
            return;
        for (Device& d : devices_)
            if (!d.audioKey.empty())
                AttachLineAudio(d.audioKey, nullptr);
        devices_.clear();
        calls_.clear();
        requests_.clear();
        old.swap(providers_);
        started_ = false;
    }
    // Without the lock: stopping joins the providers' threads, which may be
    // waiting for it.
    for (Running& r : old)
        r.provider->Stop();
    // Their pending timers go with them: a function left queued would run
    // against a provider that is gone. (The next start starts the thread.)
    timers_.Stop();
}

DWORD Service::AddDevice(Provider* provider, ProviderLine* line)
{
    Device d;
    d.line = line;
    d.provider = provider;
    if (std::shared_ptr<LineAudio> audio = line->Audio()) {
        const LineCaps caps = line->Caps();
        std::string name;
        for (const Running& r : providers_)
            if (r.provider.get() == provider)
                name = r.name;
        d.audioKey = name + "/" + caps.key;
        d.wave = LineWaveDevices(d.audioKey, caps.name);
        AttachLineAudio(d.audioKey, std::move(audio));
    }
    devices_.push_back(std::move(d));
    return DWORD(devices_.size() - 1);
}

void Service::BroadcastDevicesChanged()
{
    // The stand-in for the system's device-change broadcast: components
    // refresh their device lists.
    constexpr WPARAM kDevNodesChanged = 0x0007; // DBT_DEVNODES_CHANGED
    PostMessage(HWND_BROADCAST, WM_DEVICECHANGE, kDevNodesChanged, 0);
}

void Service::LineAdded(Provider* provider, ProviderLine* line)
{
    // A line reported while its provider starts counts as one of its first.
    if (DeviceOf(line) >= 0)
        return;
    const DWORD device = AddDevice(provider, line);
    for (auto& [app, a] : apps_)
        PostToApp(app, 0, 0, LINE_CREATE, device, 0, 0);
    BroadcastDevicesChanged();
}

void Service::LineRemoved(ProviderLine* line)
{
    const int device = DeviceOf(line);
    if (device < 0)
        return;
    std::vector<HLINE> handles;
    for (auto& [h, l] : lines_)
        if (l.device == DWORD(device))
            handles.push_back(h);
    for (HLINE h : handles) {
        const Line l = lines_[h];
        PostToApp(l.app, l.instance, h, LINE_CLOSE, 0, 0, 0);
        std::vector<HCALL> calls;
        for (auto& [hc, c] : calls_)
            if (c.line == h)
                calls.push_back(hc);
        for (HCALL hc : calls)
            RemoveCallHandle(hc);
        lines_.erase(h);
    }
    Device& d = devices_[device];
    if (!d.audioKey.empty())
        AttachLineAudio(d.audioKey, nullptr);
    // The identifier stays taken: it never names another line.
    d.line = nullptr;
    d.opens = 0;
    for (auto& [app, a] : apps_)
        PostToApp(app, 0, 0, LINE_REMOVE, DWORD(device), 0, 0);
    BroadcastDevicesChanged();
}

void Service::LineInService(ProviderLine* line, bool inService)
{
    const int device = DeviceOf(line);
    if (device < 0 || devices_[device].inService == inService)
        return;
    devices_[device].inService = inService;
    const DWORD state = inService ? LINEDEVSTATE_INSERVICE : LINEDEVSTATE_OUTOFSERVICE;
    for (auto& [h, l] : lines_)
        if (l.device == DWORD(device))
            Post(l.app, h, 0, h, LINE_LINEDEVSTATE, state, 0, 0);
}

} // namespace zq::telephony
