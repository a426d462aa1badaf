#pragma once
// The telephony service behind the exported entry points: registered
// applications, open lines, call handles and pending requests, over the
// line devices of the providers.
#include "messagesink_p.h"
#include "provider.h"
#include "tapi.h"
#include "timerqueue_p.h"

#include <QPointer>

#include <map>
#include <memory>
#include <string>
#include <vector>

class TapiService : public tsp::ServiceSink {
public:
    static TapiService& Instance();

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

    // tsp::ServiceSink
    void RequestCompleted(DWORD requestId, LONG result) override;
    void CallStateChanged(tsp::ProviderCall* call, DWORD state, DWORD mode) override;
    bool CallOffered(tsp::ProviderLine* line, std::shared_ptr<tsp::ProviderCall> call) override;
    void LineRinging(tsp::ProviderLine* line, DWORD ringCount) override;
    void DigitReceived(tsp::ProviderCall* call, char digit, DWORD digitMode) override;
    tsp::TimerId StartTimer(DWORD delayMs, std::function<void()> fn) override;
    void CancelTimer(tsp::TimerId id) override;

private:
    struct App {
        LINECALLBACK callback = nullptr;
        QPointer<MessageSink> sink;
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
        std::shared_ptr<tsp::ProviderCall> call;
        DWORD privilege = 0;
        DWORD monitorModes = 0;
    };
    struct Request {
        HLINEAPP app = 0;
        DWORD_PTR instance = 0;
        HCALL newCall = 0; // lineMakeCall: the handle written on success
        HCALL* lphCall = nullptr;
    };

    void EnsureStarted();
    void StopProviders();
    bool ValidDevice(DWORD device) const { return device < devices_.size(); }
    Call* FindCall(HCALL h);
    // Posts a message to the application that owns line (and call).
    void Post(HLINEAPP app, HLINE line, HCALL call, DWORD hDevice, DWORD msg, DWORD_PTR p1, DWORD_PTR p2,
        DWORD_PTR p3);
    void Deliver(HLINEAPP app, HLINE line, HCALL call, DWORD requestId, DWORD hDevice, DWORD msg,
        DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3);
    DWORD NewRequest(HLINE line);
    void RemoveCallHandle(HCALL h);
    void UpdateDetection(DWORD device);
    void UpdateMonitoring(tsp::ProviderCall* call);
    LONG CloseLocked(HLINE line);

    std::vector<std::unique_ptr<tsp::Provider>> providers_;
    std::vector<tsp::ProviderLine*> devices_;
    std::vector<int> deviceOpens_;
    bool started_ = false;
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
