// The provider, its lines' user agents, and what the stack tells them.
#include "sipprovider_p.h"

#include "debugout.h"
#include "devconfig.h"
#include "registry.h"
#include "sdp_p.h"
#include "sipconfigdialog_p.h"
#include "sipuri_p.h"
#include "tapi.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sofia-sip/msg_header.h>
#include <sofia-sip/sip_extra.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/soa_tag.h>

#include <chrono>
#include <thread>

namespace zq::sip {

using telephony::ServiceLock;
using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

constexpr DWORD kVoiceModes = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
// A refused registration is tried again this often, so the line comes back
// once the account works again.
constexpr DWORD kRegisterRetryMs = 30000;

void Callback(nua_event_t event, int status, const char* phrase, nua_t*, nua_magic_t* magic, nua_handle_t* nh,
    nua_hmagic_t*, const sip_t* sip, tagi_t tags[])
{
    static_cast<SipLine*>(magic)->OnEvent(event, status, phrase ? phrase : "", nh, sip, tags);
}

// The address of ours that packets to host leave from: what the peer can
// reach us at (no packet is sent).
std::string LocalAddressToward(const std::string& host)
{
    std::string h = host;
    if (h.size() > 2 && h.front() == '[')
        h = h.substr(1, h.size() - 2);
    addrinfo hints {};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* ai = nullptr;
    std::string result = "127.0.0.1";
    if (getaddrinfo(h.c_str(), "5060", &hints, &ai) != 0 || !ai)
        return result;
    const int fd = socket(ai->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
        sockaddr_storage local {};
        socklen_t len = sizeof local;
        char text[INET6_ADDRSTRLEN] = {};
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0
            && getnameinfo(
                   reinterpret_cast<sockaddr*>(&local), len, text, sizeof text, nullptr, 0, NI_NUMERICHOST)
                == 0)
            result = text;
    }
    if (fd >= 0)
        close(fd);
    freeaddrinfo(ai);
    return result;
}

} // namespace

// ---- SipLine: set-up, registration ----------------------------------------

SipLine::SipLine(SipProvider* provider, SipAccountSettings settings, std::string password, DWORD index)
    : provider_(provider)
    , account_(std::move(settings))
    , password_(std::move(password))
    , index_(index)
{
    codecs_ = CodecList(account_.codecs);
    if (codecs_.empty())
        codecs_ = { kPayloadPcmu, kPayloadPcma };
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, (std::string(kSipAccountsKey) + "\\" + account_.name).c_str(), 0,
            KEY_READ, &key)
        == 0) {
        DWORD type = 0, size = 0;
        if (RegQueryValueEx(key, "DevConfig", nullptr, &type, nullptr, &size) == 0 && type == REG_BINARY) {
            std::vector<uint8_t> bytes(size);
            if (RegQueryValueEx(key, "DevConfig", nullptr, &type, bytes.data(), &size) == 0
                && telephony::IsModemDevConfig(bytes.data(), bytes.size()))
                devConfig_ = bytes;
        }
        RegCloseKey(key);
    }
    if (devConfig_.empty()) {
        const telephony::ModemDevConfig c = telephony::DefaultModemDevConfig(64000);
        devConfig_.assign(
            reinterpret_cast<const uint8_t*>(&c), reinterpret_cast<const uint8_t*>(&c) + sizeof c);
    }
}

telephony::LineCaps SipLine::Caps() const
{
    telephony::LineCaps c;
    c.key = account_.name;
    c.name = account_.name;
    SipUri aor;
    if (ParseSipUri(account_.address, &aor))
        c.number = aor.user;
    c.bearerModes = LINEBEARERMODE_VOICE;
    c.mediaModes = kVoiceModes;
    c.maxRate = 64000;
    c.permanentId = 0x5100 + index_;
    return c;
}

LONG SipLine::SetDevConfig(const void* data, size_t size)
{
    if (size > 2048 || !telephony::IsModemDevConfig(data, size))
        return LONG(LINEERR_INVALPARAM);
    devConfig_.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, (std::string(kSipAccountsKey) + "\\" + account_.name).c_str(), 0,
            KEY_READ | KEY_WRITE, &key)
        == 0) {
        RegSetValueEx(key, "DevConfig", 0, REG_BINARY, devConfig_.data(), DWORD(devConfig_.size()));
        RegCloseKey(key);
    }
    return 0;
}

std::function<LONG(HWND owner)> SipLine::ConfigDialog() const
{
    // The account's name, not the line: the dialog may outlive it.
    return [name = account_.name](HWND owner) { return RunSipAccountDialog(name, owner); };
}

void SipLine::Log(const std::string& text) const
{
    OutputDebugString("SIP line \"" + account_.name + "\": " + text);
}

std::shared_ptr<RtpSession> SipLine::BindMedia(std::string* error) const
{
    return RtpSession::Bind(localAddress_, account_.rtpPortMin, account_.rtpPortMax, error);
}

LONG SipLine::Open()
{
    SipUri aor;
    ParseSipUri(account_.address, &aor);
    SipUri toward = aor;
    if (!account_.outboundProxy.empty())
        ParseSipUri(account_.outboundProxy, &toward);
    else if (!account_.registrar.empty())
        ParseSipUri(account_.registrar, &toward);
    const std::string local
        = account_.localAddress.empty() ? LocalAddressToward(toward.host) : account_.localAddress;
    const bool v6 = local.find(':') != std::string::npos;
    const std::string host = v6 ? "[" + local + "]" : local;
    const std::string port = account_.localPort ? std::to_string(account_.localPort) : "*";
    const std::string url = (account_.transport == "tls" ? "sips:" : "sip:") + host + ":" + port
        + (account_.transport == "tcp"        ? ";transport=tcp"
                : account_.transport == "udp" ? ";transport=udp"
                                              : "");
    const std::string from
        = (account_.displayName.empty() ? std::string() : "\"" + account_.displayName + "\" ") + "<"
        + account_.address + ">";
    {
        Guard lock(ServiceLock());
        localAddress_ = local;
    }
    bool created = false;
    provider_->Stack().Call([&] {
        nua_ = nua_create(provider_->Stack().Root(), Callback, this, NUTAG_URL(url.c_str()),
            SIPTAG_FROM_STR(from.c_str()), NUTAG_M_USERNAME(aor.user.c_str()),
            TAG_IF(!account_.displayName.empty(), NUTAG_M_DISPLAY(account_.displayName.c_str())),
            TAG_IF(!account_.outboundProxy.empty(),
                NUTAG_PROXY(URL_STRING_MAKE(account_.outboundProxy.c_str()))),
            NUTAG_AUTOALERT(0), NUTAG_AUTOANSWER(0), NUTAG_AUTOACK(1), NUTAG_MEDIA_ENABLE(1),
            NUTAG_ENABLEINVITE(1), SOATAG_RTP_SELECT(SOA_RTP_SELECT_COMMON), TAG_END());
        created = nua_ != nullptr;
        if (created && !account_.registrar.empty()) {
            registration_ = nua_handle(nua_, nullptr, SIPTAG_TO_STR(from.c_str()), TAG_END());
            regAuthTries_ = 0;
            nua_register(
                registration_, NUTAG_REGISTRAR(URL_STRING_MAKE(account_.registrar.c_str())), TAG_END());
        }
    });
    if (!created) {
        Log("cannot listen for SIP on " + url);
        return LONG(LINEERR_RESOURCEUNAVAIL);
    }
    Guard lock(ServiceLock());
    open_ = true;
    inService_ = true;
    return 0;
}

void SipLine::Close()
{
    {
        Guard lock(ServiceLock());
        open_ = false;
        detection_ = 0;
        if (retryTimer_) {
            provider_->Sink()->CancelTimer(retryTimer_);
            retryTimer_ = 0;
        }
        // A call the service left (an offered one nobody answered) is
        // refused now.
        if (call_ && call_->State() != LINECALLSTATE_IDLE)
            call_->Drop(0);
    }
    // Shutting down unregisters and ends what is left; only then may the
    // user agent go.
    provider_->Stack().Call([&] {
        shutDown_ = false;
        if (nua_)
            nua_shutdown(nua_);
        else
            shutDown_ = true;
    });
    for (int i = 0; i < 3000; ++i) {
        bool done = false;
        provider_->Stack().Call([&] { done = shutDown_; });
        if (done)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    provider_->Stack().Call([&] {
        if (nua_)
            nua_destroy(nua_);
        nua_ = nullptr;
        registration_ = nullptr;
        byHandle_.clear();
    });
}

void SipLine::SetInService(bool inService, const std::string& reason)
{
    if (inService_ == inService)
        return;
    inService_ = inService;
    if (inService) {
        Log("registered again, line in service");
    } else {
        Log("registration " + reason + ", line out of service");
        if (call_ && !call_->ended_) {
            if (call_->nh_)
                nua_bye(call_->nh_, TAG_END());
            call_->Disconnect(LINEDISCONNECTMODE_UNAVAIL);
        }
    }
    provider_->Sink()->LineInService(this, inService);
}

bool SipLine::Authenticate(nua_handle_t* nh, const sip_t* sip)
{
    const msg_auth_t* challenge = sip
        ? (sip->sip_www_authenticate ? sip->sip_www_authenticate : sip->sip_proxy_authenticate)
        : nullptr;
    if (!challenge || password_.empty())
        return false;
    const char* realm = msg_params_find(challenge->au_params, "realm=");
    if (!realm)
        return false;
    SipUri aor;
    ParseSipUri(account_.address, &aor);
    const std::string user = account_.authUser.empty() ? aor.user : account_.authUser;
    const std::string credentials
        = std::string(challenge->au_scheme) + ":" + realm + ":" + user + ":" + password_;
    nua_authenticate(nh, NUTAG_AUTH(credentials.c_str()), TAG_END());
    return true;
}

void SipLine::OnRegister(int status, const char* phrase, const sip_t* sip)
{
    if (status < 200)
        return;
    if (status == 401 || status == 407) {
        // One answer to each challenge: a second one means the password is
        // wrong, and asking again would not change that.
        if (regAuthTries_ == 0 && Authenticate(registration_, sip)) {
            ++regAuthTries_;
            return;
        }
    }
    regAuthTries_ = 0;
    if (status < 300) {
        SetInService(true, {});
        return;
    }
    SetInService(false,
        (status == 401 || status == 403 || status == 407 ? "refused (" : "failed (") + std::to_string(status)
            + " " + phrase + ")");
    if (!retryTimer_ && open_)
        retryTimer_ = provider_->Sink()->StartTimer(kRegisterRetryMs, [this] {
            retryTimer_ = 0;
            provider_->Stack().Post([this] {
                if (registration_)
                    nua_register(registration_, NUTAG_REGISTRAR(URL_STRING_MAKE(account_.registrar.c_str())),
                        TAG_END());
            });
        });
}

void SipLine::OnEvent(
    int event, int status, const char* phrase, nua_handle_t* nh, const sip_t* sip, tagi_t* tags)
{
    if (event == nua_r_shutdown) {
        if (status >= 200)
            shutDown_ = true;
        return;
    }
    Guard lock(ServiceLock());
    if (!provider_->Running())
        return;
    switch (event) {
    case nua_r_register:
        OnRegister(status, phrase, sip);
        return;
    case nua_i_invite:
        if (!byHandle_.count(nh)) {
            OnIncoming(nh, sip);
            return;
        }
        break;
    default:
        break;
    }
    const auto it = byHandle_.find(nh);
    if (it == byHandle_.end()) {
        // A handle of a call refused at once: let it go when it is done.
        if (event == nua_i_state && nh != registration_) {
            int state = nua_callstate_init;
            tl_gets(tags, NUTAG_CALLSTATE_REF(state), TAG_END());
            if (state == nua_callstate_terminated)
                nua_handle_destroy(nh);
        }
        return;
    }
    const std::shared_ptr<SipCall> call = it->second;
    switch (event) {
    case nua_r_invite:
        OnInviteResponse(call, status, phrase, sip);
        break;
    case nua_i_state:
        OnState(call, tags);
        break;
    case nua_i_bye:
    case nua_i_cancel:
        if (!call->ended_)
            call->Disconnect(LINEDISCONNECTMODE_NORMAL);
        break;
    default:
        break;
    }
}

// ---- SipProvider ----------------------------------------------------------

std::vector<telephony::ProviderLine*> SipProvider::Start(telephony::ServiceSink* sink)
{
    sink_ = sink;
    std::string error;
    if (!stack_.Start(&error)) {
        OutputDebugString("SIP: " + error);
        return {};
    }
    started_.clear();
    std::vector<telephony::ProviderLine*> lines;
    for (const std::string& name : SipAccountNames()) {
        SipAccountSettings s;
        if (!LoadSipAccount(name, &s))
            continue;
        const std::string problem = CheckSipAccount(s);
        if (!problem.empty()) {
            OutputDebugString("SIP account \"" + name + "\" left out: " + problem);
            continue;
        }
        started_.push_back(s);
        lines_.push_back(std::make_unique<SipLine>(this, s, SipPassword(name), DWORD(lines_.size())));
        lines.push_back(lines_.back().get());
    }
    {
        Guard lock(ServiceLock());
        running_ = true;
    }
    return lines;
}

void SipProvider::Stop()
{
    for (auto& line : lines_) {
        bool open;
        {
            Guard lock(ServiceLock());
            open = line->open_;
        }
        if (open)
            line->Close();
    }
    {
        Guard lock(ServiceLock());
        running_ = false;
        for (auto& line : lines_)
            if (line->call_)
                line->call_->CancelTimers();
    }
    stack_.Stop();
    Guard lock(ServiceLock());
    for (auto& line : lines_)
        if (line->call_)
            line->call_->StopMedia();
    lines_.clear();
}

bool SipProvider::SettingsChanged() const
{
    std::vector<SipAccountSettings> now;
    for (const std::string& name : SipAccountNames()) {
        SipAccountSettings s;
        if (LoadSipAccount(name, &s) && CheckSipAccount(s).empty())
            now.push_back(s);
    }
    if (now != started_)
        return true;
    for (const auto& line : lines_)
        if (SipPassword(line->account_.name) != line->password_)
            return true;
    return false;
}

std::unique_ptr<telephony::Provider> CreateSipProvider()
{
    return std::make_unique<SipProvider>();
}

} // namespace zq::sip
