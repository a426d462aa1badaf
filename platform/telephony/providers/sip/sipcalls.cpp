// Calls: INVITEs out and in, their states, and their media.
#include "sipprovider_p.h"

#include "devconfig.h"
#include "sdp_p.h"
#include "sipuri_p.h"
#include "tapi.h"

#include <sofia-sip/sip_extra.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/soa_tag.h>

namespace zq::sip {

using telephony::ServiceLock;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {
constexpr DWORD kVoiceModes = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;

std::string Unquote(const char* s)
{
    std::string t = s ? s : "";
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
        t = t.substr(1, t.size() - 2);
    return t;
}

std::string UserOf(const url_t* url)
{
    if (!url)
        return {};
    if (url->url_user)
        return url->url_user;
    return url->url_type == url_tel && url->url_host ? url->url_host : "";
}
} // namespace

// ---- SipCall --------------------------------------------------------------

SipCall::~SipCall()
{
    if (rtp_)
        rtp_->Stop();
}

void SipCall::SetState(DWORD state, DWORD mode)
{
    state_ = state;
    mode_ = mode;
    if (line_->provider_->Running())
        line_->provider_->Sink()->CallStateChanged(this, state, mode);
}

void SipCall::CancelTimers()
{
    auto* sink = line_->provider_->Sink();
    for (auto* id : { &ringTimer_, &failTimer_ })
        if (*id) {
            sink->CancelTimer(*id);
            *id = 0;
        }
}

void SipCall::StopMedia()
{
    if (!rtp_)
        return;
    line_->audio_->Attach(nullptr);
    rtp_->Stop();
}

void SipCall::Disconnect(DWORD mode)
{
    if (ended_)
        return;
    ended_ = true;
    CancelTimers();
    StopMedia();
    SetState(LINECALLSTATE_DISCONNECTED, mode);
    if (released_) {
        SetState(LINECALLSTATE_IDLE, 0);
        line_->Forget(this);
    }
}

LONG SipCall::Answer(DWORD requestId)
{
    if (state_ != LINECALLSTATE_OFFERING || ended_)
        return LONG(LINEERR_INVALCALLSTATE);
    CancelTimers();
    auto self = shared_from_this();
    line_->provider_->Stack().Post([self, requestId] {
        if (self->nh_)
            nua_respond(self->nh_, SIP_200_OK, SOATAG_USER_SDP_STR(self->localSdp_.c_str()),
                SOATAG_RTP_SELECT(SOA_RTP_SELECT_COMMON), TAG_END());
        Guard lock(ServiceLock());
        if (!self->line_->provider_->Running())
            return;
        self->line_->provider_->Sink()->RequestCompleted(requestId, 0);
        if (!self->ended_ && self->state_ == LINECALLSTATE_OFFERING)
            self->SetState(LINECALLSTATE_ACCEPTED, 0);
    });
    return 0;
}

LONG SipCall::Drop(DWORD requestId)
{
    CancelTimers();
    StopMedia();
    const bool farEnded = ended_;
    ended_ = true;
    const bool connected = state_ == LINECALLSTATE_CONNECTED;
    auto self = shared_from_this();
    line_->provider_->Stack().Post([self, requestId, farEnded, connected] {
        if (self->nh_ && !farEnded) {
            if (connected)
                nua_bye(self->nh_, TAG_END());
            else if (self->outgoing_)
                nua_cancel(self->nh_, TAG_END());
            else
                nua_respond(self->nh_, SIP_486_BUSY_HERE, TAG_END());
        }
        Guard lock(ServiceLock());
        if (!self->line_->provider_->Running())
            return;
        if (requestId)
            self->line_->provider_->Sink()->RequestCompleted(requestId, 0);
        if (self->state_ != LINECALLSTATE_IDLE) {
            if (self->state_ != LINECALLSTATE_DISCONNECTED)
                self->SetState(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
            self->SetState(LINECALLSTATE_IDLE, 0);
        }
        self->line_->Forget(self.get());
    });
    return 0;
}

LONG SipCall::SetBearerMode(DWORD, DWORD)
{
    return LONG(LINEERR_OPERATIONUNAVAIL);
}

void SipCall::Released()
{
    released_ = true;
    if (state_ == LINECALLSTATE_DISCONNECTED) {
        SetState(LINECALLSTATE_IDLE, 0);
        line_->Forget(this);
    } else if (state_ != LINECALLSTATE_IDLE && !ended_) {
        Drop(0);
    }
}

// ---- SipLine: calls -------------------------------------------------------

void SipLine::Forget(SipCall* call)
{
    if (call_.get() == call)
        call_.reset();
}

LONG SipLine::MakeCall(
    DWORD requestId, const telephony::MakeCallRequest& request, std::shared_ptr<telephony::ProviderCall>* out)
{
    if (!open_)
        return LONG(LINEERR_OPERATIONFAILED);
    if (!inService_)
        return LONG(LINEERR_RESOURCEUNAVAIL);
    if (call_)
        return LONG(LINEERR_CALLUNAVAIL);
    std::string error;
    const auto uri = RequestUriFor(request.dialable, account_.address, &error);
    if (!uri) {
        Log("cannot call: " + error);
        return LONG(LINEERR_INVALADDRESS);
    }
    auto rtp = BindMedia(&error);
    if (!rtp) {
        Log("cannot call " + *uri + ": " + error);
        return LONG(LINEERR_RESOURCEUNAVAIL);
    }
    auto call = std::make_shared<SipCall>(this, true);
    call->rtp_ = std::move(rtp);
    call->localSdp_ = BuildSdp(localAddress_, call->rtp_->LocalPort(), codecs_);
    call->state_ = LINECALLSTATE_DIALING;
    call->details_.bearerMode = LINEBEARERMODE_VOICE;
    call->details_.mediaMode = request.mediaMode ? request.mediaMode : LINEMEDIAMODE_INTERACTIVEVOICE;
    call->details_.origin = LINECALLORIGIN_OUTBOUND;
    call->details_.calledId = request.dialable;
    SipUri aor;
    if (ParseSipUri(account_.address, &aor))
        call->details_.callerId = aor.user;
    call->details_.callerName = account_.displayName;

    const DWORD failSeconds = telephony::ModemDevConfigOf(devConfig_).modemsettings.dwCallSetupFailTimer;
    std::weak_ptr<SipCall> weak = call;
    if (failSeconds)
        call->failTimer_ = provider_->Sink()->StartTimer(failSeconds * 1000, [this, weak] {
            auto c = weak.lock();
            if (!c)
                return;
            c->failTimer_ = 0;
            if (c->ended_ || c->state_ == LINECALLSTATE_CONNECTED)
                return;
            Log("no answer from " + c->details_.calledId + " in time, call cancelled");
            provider_->Stack().Post([c] {
                if (c->nh_)
                    nua_cancel(c->nh_, TAG_END());
            });
            c->Disconnect(LINEDISCONNECTMODE_NOANSWER);
        });
    provider_->Stack().Post([this, call, target = *uri, requestId] {
        Guard lock(ServiceLock());
        if (!provider_->Running())
            return;
        if (!call->ended_ && nua_) {
            call->nh_ = nua_handle(nua_, nullptr, SIPTAG_TO_STR(target.c_str()), TAG_END());
            byHandle_[call->nh_] = call;
            nua_invite(call->nh_, SOATAG_USER_SDP_STR(call->localSdp_.c_str()), TAG_END());
        }
        provider_->Sink()->RequestCompleted(requestId, 0);
    });
    call_ = call;
    *out = call;
    return 0;
}

void SipLine::OnIncoming(nua_handle_t* nh, const sip_t* sip)
{
    std::string error;
    std::shared_ptr<RtpSession> rtp;
    if (!open_ || call_) {
        nua_respond(nh, SIP_486_BUSY_HERE, TAG_END());
        return;
    }
    rtp = BindMedia(&error);
    if (!rtp) {
        Log("cannot take a call: " + error);
        nua_respond(nh, SIP_503_SERVICE_UNAVAILABLE, TAG_END());
        return;
    }
    auto call = std::make_shared<SipCall>(this, false);
    call->rtp_ = std::move(rtp);
    call->localSdp_ = BuildSdp(localAddress_, call->rtp_->LocalPort(), codecs_);
    call->state_ = LINECALLSTATE_OFFERING;
    call->mode_ = LINEOFFERINGMODE_ACTIVE;
    auto& d = call->details_;
    d.bearerMode = LINEBEARERMODE_VOICE;
    d.mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    d.origin = LINECALLORIGIN_INBOUND;
    // The network's assertion of who calls beats what the caller says.
    if (const sip_p_asserted_identity_t* pai = sip ? sip_p_asserted_identity(sip) : nullptr) {
        d.callerId = UserOf(pai->paid_url);
        d.callerName = Unquote(pai->paid_display);
    }
    if (d.callerId.empty() && sip && sip->sip_from) {
        d.callerId = UserOf(sip->sip_from->a_url);
        if (d.callerName.empty())
            d.callerName = Unquote(sip->sip_from->a_display);
    }
    if (sip && sip->sip_request)
        d.calledId = UserOf(sip->sip_request->rq_url);
    call->nh_ = nh;
    byHandle_[nh] = call;
    call_ = call;
    const bool taken = (detection_ & kVoiceModes) && provider_->Sink()->CallOffered(this, call);
    if (!taken) {
        call->released_ = true;
        call->ended_ = true;
        call->state_ = LINECALLSTATE_IDLE;
        call->StopMedia();
        call_.reset();
        nua_respond(nh, SIP_486_BUSY_HERE, TAG_END());
        return;
    }
    nua_respond(nh, SIP_180_RINGING, TAG_END());
    // The line rings at once and then at the account's interval, so the
    // component can count rings before it answers.
    // The call keeps its ring function; the function only refers back to
    // the call weakly, so neither keeps the other alive.
    std::weak_ptr<SipCall> weak = call;
    call->ring_ = [this, weak] {
        auto c = weak.lock();
        if (!c)
            return;
        c->ringTimer_ = 0;
        if (c->ended_ || c->state_ != LINECALLSTATE_OFFERING)
            return;
        provider_->Sink()->LineRinging(this, ++c->rings_);
        c->ringTimer_ = provider_->Sink()->StartTimer(DWORD(account_.ringIntervalMs), c->ring_);
    };
    call->ringTimer_ = provider_->Sink()->StartTimer(0, call->ring_);
}

void SipLine::OnInviteResponse(
    const std::shared_ptr<SipCall>& call, int status, const char* phrase, const sip_t* sip)
{
    if (call->ended_)
        return;
    if (status < 200) {
        if (status == 180) {
            if (call->state_ != LINECALLSTATE_RINGBACK)
                call->SetState(LINECALLSTATE_RINGBACK, 0);
        } else if (call->state_ == LINECALLSTATE_DIALING) {
            call->SetState(LINECALLSTATE_PROCEEDING, 0);
        }
        return;
    }
    if (status < 300)
        return; // connected once the stack reports the call ready
    if ((status == 401 || status == 407) && call->authTries_ == 0 && Authenticate(call->nh_, sip)) {
        ++call->authTries_;
        return;
    }
    switch (status) {
    case 486:
    case 600:
    case 603:
        call->SetState(LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
        call->Disconnect(LINEDISCONNECTMODE_BUSY);
        break;
    case 408:
    case 480:
    case 487:
        call->Disconnect(LINEDISCONNECTMODE_NOANSWER);
        break;
    case 404:
    case 484:
    case 604:
        Log("call to " + call->details_.calledId + " failed: " + std::to_string(status) + " " + phrase);
        call->Disconnect(LINEDISCONNECTMODE_BADADDRESS);
        break;
    default:
        Log("call to " + call->details_.calledId + " failed: " + std::to_string(status) + " " + phrase);
        call->Disconnect(LINEDISCONNECTMODE_UNAVAIL);
        break;
    }
}

void SipLine::OnState(const std::shared_ptr<SipCall>& call, tagi_t* tags)
{
    int state = nua_callstate_init;
    const char* remote = nullptr;
    const char* local = nullptr;
    tl_gets(tags, NUTAG_CALLSTATE_REF(state), SOATAG_REMOTE_SDP_STR_REF(remote),
        SOATAG_LOCAL_SDP_STR_REF(local), TAG_END());
    if (remote)
        call->remoteSdp_ = remote;
    if (local)
        call->sentSdp_ = local;
    if (state == nua_callstate_ready && !call->ended_ && !call->mediaStarted_) {
        StartMedia(call);
    } else if (state == nua_callstate_terminated) {
        if (!call->ended_)
            call->Disconnect(LINEDISCONNECTMODE_NORMAL);
        byHandle_.erase(call->nh_);
        nua_handle_destroy(call->nh_);
        call->nh_ = nullptr;
    }
}

void SipLine::StartMedia(const std::shared_ptr<SipCall>& call)
{
    call->mediaStarted_ = true;
    // What the stack actually sent (an answer keeps only what both have).
    const auto config
        = NegotiateAudio(call->sentSdp_.empty() ? call->localSdp_ : call->sentSdp_, call->remoteSdp_);
    if (!config) {
        Log("no audio in common with " + call->details_.calledId + call->details_.callerId + ", call ended");
        nua_bye(call->nh_, TAG_END());
        call->Disconnect(LINEDISCONNECTMODE_UNAVAIL);
        return;
    }
    call->CancelTimers();
    std::weak_ptr<SipCall> weak = call;
    const RtpSession* session = call->rtp_.get();
    std::weak_ptr<SipLineAudio> audio = audio_;
    SipProvider* provider = provider_;
    RtpCallbacks callbacks;
    callbacks.audio = [audio, session](const int16_t* pcm, size_t n) {
        if (auto a = audio.lock())
            a->Heard(session, pcm, n);
    };
    callbacks.digit = [provider, weak](char digit) {
        provider->Stack().Post([provider, weak, digit] {
            Guard lock(ServiceLock());
            auto c = weak.lock();
            if (!c || c->ended_ || !provider->Running() || !c->monitor_)
                return;
            const DWORD mode
                = (c->monitor_ & LINEDIGITMODE_DTMF) ? LINEDIGITMODE_DTMF : LINEDIGITMODE_DTMFEND;
            provider->Sink()->DigitReceived(c.get(), digit, mode);
        });
    };
    call->rtp_->Start(*config, callbacks);
    audio_->Attach(call->rtp_);
    call->SetState(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
}

} // namespace zq::sip
