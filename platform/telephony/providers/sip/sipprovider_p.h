#pragma once
// Inner classes of the SIP provider.
//
// Threads. The service calls lines and calls with ServiceLock held (Open,
// Close, Start and Stop without it). The SIP stack's thread (SipStack) makes
// every nua_* call and handles the stack's events under ServiceLock; fields
// marked "stack" are touched only there. Each connected call has a media
// thread (RtpSession), which never takes ServiceLock: digits it hears go to
// the stack thread. The wave devices' threads reach a line only through its
// SipLineAudio, which has a lock of its own.
#include "provider.h"
#include "rtpsession.h"
#include "singlecallline.h"
#include "sipaccounts.h"
#include "sipstack_p.h"
#include "waveendpoints.h"

#include <sofia-sip/nua.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace zq::sip {

class SipProvider;
class SipLine;

// The sound of a line: what is played goes to the connected call's sender,
// what the call receives comes back out of Record.
class SipLineAudio : public telephony::LineAudio {
public:
    void Play(const void* data, size_t bytes) override;
    void PlayStopped() override;
    size_t Record(void* data, size_t bytes) override;
    void RecordStarted() override;

    // The call's media, or null when no call is connected.
    void Attach(std::shared_ptr<RtpSession> session);
    // From the media thread: 20 ms heard on the call.
    void Heard(const RtpSession* from, const int16_t* pcm, size_t samples);

private:
    std::mutex mutex_;
    std::shared_ptr<RtpSession> session_;
    zq::wave::PcmPipe heard_ { 8000 * 2 * 2 }; // 2 s
};

class SipCall : public telephony::ProviderCall, public std::enable_shared_from_this<SipCall> {
public:
    SipCall(SipLine* line, bool outgoing)
        : line_(line)
        , outgoing_(outgoing)
    {
    }
    ~SipCall() override;
    DWORD State() const override { return state_; }
    DWORD StateMode() const override { return mode_; }
    telephony::CallDetails Details() const override { return details_; }
    LONG Answer(DWORD requestId) override;
    LONG Drop(DWORD requestId) override;
    LONG SetBearerMode(DWORD requestId, DWORD bearerMode) override;
    void MonitorDigits(DWORD digitModes) override { monitor_ = digitModes; }
    void Released() override;

    void SetState(DWORD state, DWORD mode);
    // The call is over on the far side or failed: DISCONNECTED with mode,
    // media stopped, IDLE too when nobody holds the call.
    void Disconnect(DWORD mode);
    void StopMedia();
    void CancelTimers();

    SipLine* line_;
    const bool outgoing_;
    DWORD state_ = 0, mode_ = 0;
    telephony::CallDetails details_;
    DWORD monitor_ = 0;
    bool released_ = false;
    bool ended_ = false; // disconnected or dropped: the stack's later news is old
    std::shared_ptr<RtpSession> rtp_;
    std::string localSdp_; // what we offer or answer with
    telephony::TimerId ringTimer_ = 0, failTimer_ = 0;
    DWORD rings_ = 0;
    std::function<void()> ring_; // reports a ring and sets the next

    // stack
    nua_handle_s* nh_ = nullptr;
    std::string remoteSdp_;
    std::string sentSdp_; // our description as the stack sent it
    int authTries_ = 0;
    bool mediaStarted_ = false;
};

class SipLine : public telephony::SingleCallLine<SipCall, SipLineAudio> {
public:
    SipLine(SipProvider* provider, SipAccountSettings settings, std::string password, DWORD index);
    telephony::LineCaps Caps() const override;
    LONG Open() override;
    void Close() override;
    LONG MakeCall(DWORD requestId, const telephony::MakeCallRequest& request,
        std::shared_ptr<telephony::ProviderCall>* call) override;
    LONG SetDevConfig(const void* data, size_t size) override;
    std::function<LONG(HWND owner)> ConfigDialog() const override;

    // stack: every event of this line's user agent.
    void OnEvent(int event, int status, const char* phrase, nua_handle_s* nh, const sip_s* sip, tagi_t* tags);
    // The call no longer holds the line.
    void Forget(SipCall* call);
    // Starts a call's media once the descriptions are known (lock held).
    void StartMedia(const std::shared_ptr<SipCall>& call);
    void Log(const std::string& text) const;
    std::shared_ptr<RtpSession> BindMedia(std::string* error) const;

private:
    // The line's call and its provider reach the line's state.
    friend class SipCall;
    friend class SipProvider;

    void OnRegister(int status, const char* phrase, const sip_s* sip);
    void OnIncoming(nua_handle_s* nh, const sip_s* sip);
    void OnInviteResponse(
        const std::shared_ptr<SipCall>& call, int status, const char* phrase, const sip_s* sip);
    void OnState(const std::shared_ptr<SipCall>& call, tagi_t* tags);
    bool Authenticate(nua_handle_s* nh, const sip_s* sip);
    void SetInService(bool inService, const std::string& reason);

    SipProvider* provider_;
    const SipAccountSettings account_;
    const std::string password_; // never in a log line or an error text
    const DWORD index_;
    std::string localAddress_; // where our media and contact are
    std::vector<int> codecs_;
    bool open_ = false;
    bool inService_ = true;

    // stack
    nua_s* nua_ = nullptr;
    nua_handle_s* registration_ = nullptr;
    int regAuthTries_ = 0;
    telephony::TimerId retryTimer_ = 0; // lock held
    bool shutDown_ = false;
    std::map<nua_handle_s*, std::shared_ptr<SipCall>> byHandle_;
};

class SipProvider : public telephony::Provider {
public:
    std::string Name() const override { return "SIP"; }
    std::vector<telephony::ProviderLine*> Start(telephony::ServiceSink* sink) override;
    void Stop() override;
    bool SettingsChanged() const override;

    telephony::ServiceSink* Sink() const { return sink_; }
    SipStack& Stack() { return stack_; }
    bool Running() const { return running_; }

private:
    telephony::ServiceSink* sink_ = nullptr;
    SipStack stack_;
    bool running_ = false;
    std::vector<std::unique_ptr<SipLine>> lines_;
    std::vector<SipAccountSettings> started_;
};

} // namespace zq::sip
