#pragma once
// The telephony service behind the exported entry points: registered
// applications, open lines, call handles and pending requests, over the
// line devices of the providers.
//
// Locks: lifecycle_ serialises what may wait for a provider's threads
// (starting and stopping providers, a line's first open and last close) and
// is always taken before ServiceLock(), never while holding it. Everything
// else is guarded by ServiceLock().
#include "linewave.h"
#include "messagesink_p.h"
#include "provider.h"
#include "tapi.h"
#include "timerqueue_p.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zq::telephony {

class Service {
public:
    static Service& Instance();

    LONG Initialize(HLINEAPP* app, LINECALLBACK callback, DWORD* numDevs);
    LONG Shutdown(HLINEAPP app);
    LONG NegotiateAPIVersion(
        HLINEAPP app, DWORD device, DWORD low, DWORD high, DWORD* version, LINEEXTENSIONID* ext);
    LONG Open(HLINEAPP app, DWORD device, HLINE* line, DWORD version, DWORD extVersion, DWORD_PTR instance,
        DWORD privileges, DWORD mediaModes);
    LONG Close(HLINE line);
    LONG GetID(HLINE line, DWORD addressId, HCALL call, DWORD select, VARSTRING* out, LPCSTR deviceClass);
    LONG GetDevCaps(HLINEAPP app, DWORD device, DWORD version, LINEDEVCAPS* caps);
    LONG TranslateAddress(HLINEAPP app, DWORD device, LPCSTR address, DWORD card, LINETRANSLATEOUTPUT* out);
    LONG MakeCall(HLINE line, HCALL* call, LPCSTR dest, DWORD country, const LINECALLPARAMS* params);
    LONG Answer(HCALL call);
    LONG Drop(HCALL call);
    LONG UncompleteCall(HLINE line, DWORD completionId);
    LONG DeallocateCall(HCALL call);
    LONG GetCallStatus(HCALL call, LINECALLSTATUS* status);
    LONG GetCallInfo(HCALL call, LINECALLINFO* info);
    LONG MonitorDigits(HCALL call, DWORD modes);
    LONG SetCallParams(HCALL call, DWORD bearerMode);
    LONG ConfigDialog(DWORD device, HWND owner, LPCSTR deviceClass);
    LONG GetDevConfig(DWORD device, VARSTRING* out, LPCSTR deviceClass);
    LONG SetDevConfig(DWORD device, const void* data, DWORD size, LPCSTR deviceClass);
    LONG GetAddressID(HLINE line, DWORD* addressId, DWORD mode, LPCSTR address, DWORD size);

    // Test hook (see servicetesting.h).
    void UseProviders(std::vector<std::pair<std::string, ProviderFactory>> providers);

    // What providers report, through their sinks; ServiceLock() held.
    void RequestCompleted(DWORD requestId, LONG result);
    void CallStateChanged(ProviderCall* call, DWORD state, DWORD mode);
    bool CallOffered(ProviderLine* line, std::shared_ptr<ProviderCall> call);
    void LineRinging(ProviderLine* line, DWORD ringCount);
    void DigitReceived(ProviderCall* call, char digit, DWORD digitMode);
    void CallInfoChanged(ProviderCall* call, DWORD infoStates);
    void LineInService(ProviderLine* line, bool inService);
    void LineAdded(Provider* provider, ProviderLine* line);
    void LineRemoved(ProviderLine* line);
    TimerId StartTimer(DWORD delayMs, std::function<void()> fn);
    void CancelTimer(TimerId id);

private:
    struct App {
        LINECALLBACK callback = nullptr;
        MessageSink* sink = nullptr; // lives as long as the process
    };
    struct Line {
        HLINEAPP app = 0;
        DWORD device = 0;
        DWORD_PTR instance = 0;
        DWORD privileges = 0;
        DWORD mediaModes = 0;
    };
    struct Call {
        HLINE line = 0;
        std::shared_ptr<ProviderCall> call;
        DWORD privilege = 0;
        DWORD monitorModes = 0;
    };
    struct Request {
        HLINEAPP app = 0;
        DWORD_PTR instance = 0;
        HCALL newCall = 0; // lineMakeCall: the handle written on success
        HCALL* lphCall = nullptr;
    };
    struct Device {
        ProviderLine* line = nullptr; // null once removed
        Provider* provider = nullptr;
        int opens = 0;
        bool inService = true;
        std::string audioKey; // its wave devices, when it has sound
        LineWaveIds wave;
    };
    struct Running {
        std::string name; // as registered
        std::unique_ptr<Provider> provider;
        std::unique_ptr<ServiceSink> sink;
    };

    Service() = default;
    // lifecycle_ held, ServiceLock() not. 0, or why a provider could not
    // start (then none runs).
    LONG EnsureStarted();
    void StopProviders();
    // Neither lock held: starts the providers for a call that names a
    // device without an application (if they cannot start, no device is).
    void StartForDevice();
    bool SettingsChangedLocked() const;
    // ServiceLock() held.
    DWORD AddDevice(Provider* provider, ProviderLine* line);
    bool ValidDevice(DWORD device) const { return device < devices_.size() && devices_[device].line; }
    LONG CheckDevice(DWORD device) const;
    // CheckDevice, and that deviceClass names the modem configuration.
    LONG CheckDevConfig(DWORD device, LPCSTR deviceClass) const;
    int DeviceOf(const ProviderLine* line) const;
    Call* FindCall(HCALL h);
    // The call when its handle is valid and owns it; else null and *error.
    Call* FindOwnedCall(HCALL h, LONG* error);
    // Posts a message to the application that owns line (and call).
    void Post(HLINEAPP app, HLINE line, HCALL call, DWORD hDevice, DWORD msg, DWORD_PTR p1, DWORD_PTR p2,
        DWORD_PTR p3);
    // Posts a message that reaches the application whatever its handles by
    // then (LINE_CLOSE, LINE_CREATE, LINE_REMOVE).
    void PostToApp(
        HLINEAPP app, DWORD_PTR instance, DWORD hDevice, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3);
    void Deliver(HLINEAPP app, HLINE line, HCALL call, DWORD requestId, DWORD hDevice, DWORD msg,
        DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3);
    DWORD NewRequest(HLINE line);
    // A request of line that start (given its id) hands to a provider: the
    // id, or start's error once the request is forgotten again.
    template <class Start> LONG StartRequest(HLINE line, Start&& start)
    {
        const DWORD id = NewRequest(line);
        if (const LONG r = start(id)) {
            requests_.erase(id);
            return r;
        }
        return LONG(id);
    }
    void RemoveCallHandle(HCALL h);
    LONG UpdateDetection(DWORD device);
    void UpdateMonitoring(ProviderCall* call);
    // Drops the handle; the line whose last handle it was (to Close without
    // the lock), or null.
    ProviderLine* CloseLocked(HLINE line);
    HANDLE LendPort(const std::shared_ptr<ProviderCall>& call);
    void BroadcastDevicesChanged();

    std::vector<Running> providers_;
    std::vector<Device> devices_;
    bool started_ = false;
    std::string storeFile_; // the registry store the providers started on
    std::vector<std::string> enabled_;
    std::vector<std::pair<std::string, ProviderFactory>> testProviders_;
    bool testProvidersChanged_ = false;
    TimerQueue timers_;
    std::map<HLINEAPP, App> apps_;
    std::map<HLINE, Line> lines_;
    std::map<HCALL, Call> calls_;
    std::map<DWORD, Request> requests_;
    DWORD nextApp_ = 0x10001;
    DWORD nextLine_ = 0x20001;
    DWORD nextCall_ = 0x30001;
    DWORD nextRequest_ = 1;
    std::mutex lifecycle_;
};

} // namespace zq::telephony
