#include "modemline_p.h"

#include "debugout.h"
#include "devconfig.h"
#include "dialstring.h"
#include "modemclass.h"
#include "registry.h"
#include "tapi.h"

#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <tuple>

namespace zq::modem {

namespace {

constexpr DWORD kVoiceModes = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
// Without a further RING for this long the caller has given up (modems ring
// every six seconds or so).
constexpr DWORD kRingGoneMs = 9000;
// Opening resets and sets up the modem; a modem that stops answering is
// given up on well within this.
constexpr auto kOpenWait = std::chrono::seconds(40);
constexpr DWORD kPermanentIdBase = 0x4D000000;

void Log(const std::string& text)
{
    OutputDebugString("Modem: " + text);
}

} // namespace

// ---- Dispatcher -----------------------------------------------------------

Dispatcher::Dispatcher()
{
    thread_ = std::thread(&Dispatcher::Run, this);
}

Dispatcher::~Dispatcher()
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        quit_ = true;
    }
    cond_.notify_all();
    thread_.join();
}

void Dispatcher::Post(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (quit_)
            return;
        queue_.push_back(std::move(fn));
    }
    cond_.notify_all();
}

void Dispatcher::Run()
{
    for (;;) {
        std::function<void()> fn;
        {
            std::unique_lock<std::mutex> g(mutex_);
            cond_.wait(g, [&] { return quit_ || !queue_.empty(); });
            if (quit_)
                return;
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        // The service may be stopping us while holding its lock: never block
        // on the lock, so that the stop can wait for this thread.
        std::unique_lock<std::recursive_mutex> lock(telephony::ServiceLock(), std::defer_lock);
        while (!lock.try_lock()) {
            {
                std::lock_guard<std::mutex> g(mutex_);
                if (quit_)
                    return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        fn();
    }
}

// ---- ModemCall ------------------------------------------------------------

bool ModemCall::IsData() const
{
    return details_.bearerMode == LINEBEARERMODE_DATA || (details_.mediaMode & LINEMEDIAMODE_DATAMODEM);
}

LONG ModemCall::Answer(DWORD requestId)
{
    if (!line_ || state_ != LINECALLSTATE_OFFERING)
        return LONG(LINEERR_INVALCALLSTATE);
    line_->Answer(shared_from_this(), requestId);
    return 0;
}

LONG ModemCall::Drop(DWORD requestId)
{
    if (!line_)
        return LONG(LINEERR_OPERATIONFAILED);
    line_->HangUp(shared_from_this(), requestId);
    return 0;
}

LONG ModemCall::SetBearerMode(DWORD, DWORD)
{
    // A modem cannot change a call between voice and data once it exists.
    return LONG(LINEERR_OPERATIONUNAVAIL);
}

HANDLE ModemCall::LendPort()
{
    if (!line_ || state_ != LINECALLSTATE_CONNECTED || !IsData())
        return INVALID_HANDLE_VALUE;
    return line_->LendPort();
}

void ModemCall::PortReturned(HANDLE)
{
    if (line_)
        line_->PortReturned();
}

void ModemCall::Released()
{
    released_ = true;
    if (!line_)
        return;
    if (state_ == LINECALLSTATE_DISCONNECTED)
        line_->SetState(shared_from_this(), LINECALLSTATE_IDLE, 0);
    else if (state_ != LINECALLSTATE_IDLE)
        line_->HangUp(shared_from_this(), 0);
}

// ---- ModemLine ------------------------------------------------------------

ModemLine::ModemLine(ModemInfo info, DWORD index, telephony::ServiceSink* sink, Dispatcher* dispatcher)
    : info_(std::move(info))
    , index_(index)
    , sink_(sink)
    , dispatcher_(dispatcher)
{
    LoadDevConfig();
    std::weak_ptr<bool> alive = alive_;
    session_ = std::make_unique<ModemSession>(info_.device, [this, alive](const ModemEvent& e) {
        if (e.kind == ModemEvent::Log) {
            Log(info_.name + ": " + e.text);
            return;
        }
        PostToDispatcher([this, alive, e] {
            if (alive.lock())
                HandleEvent(e);
        });
    });
}

ModemLine::~ModemLine()
{
    {
        std::lock_guard<std::recursive_mutex> lock(telephony::ServiceLock());
        alive_.reset();
        if (ringTimer_)
            sink_->CancelTimer(ringTimer_);
        audio_->SetConnected(false);
        if (call_)
            call_->line_ = nullptr;
    }
    // Without the lock: the session's thread may need it to finish.
    session_.reset();
}

telephony::LineCaps ModemLine::Caps() const
{
    telephony::LineCaps c;
    c.name = info_.name;
    c.portName = info_.device;
    c.bearerModes = LINEBEARERMODE_VOICE | LINEBEARERMODE_DATA;
    c.mediaModes = kVoiceModes | LINEMEDIAMODE_DATAMODEM;
    telephony::ModemDevConfig block {};
    std::memcpy(&block, devConfig_.data(), std::min(devConfig_.size(), sizeof block));
    c.maxRate = block.commconfig.dcb.BaudRate;
    c.key = info_.subkey;
    c.permanentId = kPermanentIdBase + index_;
    return c;
}

void ModemLine::LoadDevConfig()
{
    const telephony::ModemDevConfig fresh = telephony::DefaultModemDevConfig(115200);
    devConfig_.assign(
        reinterpret_cast<const uint8_t*>(&fresh), reinterpret_cast<const uint8_t*>(&fresh) + sizeof fresh);
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, info_.registryKey.c_str(), 0, KEY_QUERY_VALUE, &key)
        != LONG(ERROR_SUCCESS))
        return;
    std::vector<uint8_t> buf(2048);
    DWORD size = static_cast<DWORD>(buf.size());
    DWORD type = 0;
    if (RegQueryValueEx(key, "DevConfig", nullptr, &type, buf.data(), &size) == LONG(ERROR_SUCCESS)
        && telephony::IsModemDevConfig(buf.data(), size)) {
        buf.resize(size);
        devConfig_ = buf;
    }
    RegCloseKey(key);
}

void ModemLine::SaveDevConfig()
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, info_.registryKey.c_str(), 0, KEY_SET_VALUE, &key)
        != LONG(ERROR_SUCCESS))
        return;
    RegSetValueEx(key, "DevConfig", 0, REG_BINARY, devConfig_.data(), static_cast<DWORD>(devConfig_.size()));
    RegCloseKey(key);
}

LONG ModemLine::SetDevConfig(const void* data, size_t size)
{
    if (size > 2048 || !telephony::IsModemDevConfig(data, size))
        return LONG(LINEERR_INVALPARAM);
    devConfig_.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    SaveDevConfig();
    return 0;
}

ModemSettings ModemLine::Settings() const
{
    telephony::ModemDevConfig b {};
    std::memcpy(&b, devConfig_.data(), std::min(devConfig_.size(), sizeof b));
    ModemSettings s;
    s.callSetupFailTimer = b.modemsettings.dwCallSetupFailTimer;
    s.inactivityTimeout = b.modemsettings.dwInactivityTimeout;
    s.speakerVolume = b.modemsettings.dwSpeakerVolume;
    s.speakerMode = b.modemsettings.dwSpeakerMode;
    s.preferredOptions = b.modemsettings.dwPreferredModemOptions;
    s.maxRate = b.commconfig.dcb.BaudRate ? b.commconfig.dcb.BaudRate : 115200;
    return s;
}

std::string ModemLine::UserInit() const
{
    return CurrentUserInit(info_);
}

LONG ModemLine::Open()
{
    if (open_)
        return 0;
    auto result = std::make_shared<std::promise<ModemResult>>();
    auto future = result->get_future();
    session_->open(Settings(), UserInit(), [result](ModemResult r) { result->set_value(r); });
    // The session never waits for the service lock, so waiting here with it
    // held cannot deadlock; the wait is bounded all the same.
    if (future.wait_for(kOpenWait) != std::future_status::ready) {
        Log(info_.name + ": opening took too long.");
        session_->close();
        return LONG(LINEERR_RESOURCEUNAVAIL);
    }
    const ModemResult r = future.get();
    if (r != ModemResult::Ok) {
        Log(info_.name + ": the line cannot be opened (" + describe(r) + ").");
        return LONG(r == ModemResult::PortBusy ? LINEERR_INUSE : LINEERR_RESOURCEUNAVAIL);
    }
    std::lock_guard<std::recursive_mutex> lock(telephony::ServiceLock());
    open_ = true;
    if (outOfService_) {
        outOfService_ = false;
        sink_->LineInService(this, true);
    }
    return 0;
}

void ModemLine::Close()
{
    std::lock_guard<std::recursive_mutex> lock(telephony::ServiceLock());
    if (call_)
        HangUp(call_, 0);
    if (ringTimer_) {
        sink_->CancelTimer(ringTimer_);
        ringTimer_ = 0;
    }
    audio_->SetConnected(false);
    session_->close();
    open_ = false;
    detection_ = 0;
}

void ModemLine::PortPresent(bool present)
{
    if (present == !portGone_)
        return;
    // An open line's session finds a vanished port itself (and marks it
    // gone); the watch only brings such a line back, never takes it down.
    if (open_ && !present)
        return;
    if (open_ && !outOfService_) {
        portGone_ = false;
        return;
    }
    portGone_ = !present;
    if (!present) {
        if (call_)
            EndCall(call_, LINEDISCONNECTMODE_UNAVAIL);
        if (!outOfService_) {
            Log(info_.name + ": " + info_.device + " is gone. The line is out of service.");
            outOfService_ = true;
            sink_->LineInService(this, false);
        }
        return;
    }
    if (!open_) {
        // The next open initialises the modem.
        if (outOfService_) {
            outOfService_ = false;
            sink_->LineInService(this, true);
        }
        return;
    }
    // Open while it was away: the port is opened and the modem initialised
    // again, and the line is back once that succeeded.
    session_->close();
    std::weak_ptr<bool> alive = alive_;
    session_->open(Settings(), UserInit(), [this, alive](ModemResult r) {
        PostToDispatcher([this, alive, r] {
            if (!alive.lock() || !open_ || portGone_)
                return;
            if (r == ModemResult::PortFailed) {
                // The old port still dying, or the new one not ready yet:
                // the watch tries again next time round.
                portGone_ = true;
                return;
            }
            if (r != ModemResult::Ok) {
                Log(info_.name + ": the line cannot be opened (" + describe(r) + ").");
                return;
            }
            Log(info_.name + ": " + info_.device + " is back. The line is in service.");
            if (outOfService_) {
                outOfService_ = false;
                sink_->LineInService(this, true);
            }
        });
    });
}

void ModemLine::Retire()
{
    if (call_)
        EndCall(call_, LINEDISCONNECTMODE_UNAVAIL);
    if (ringTimer_) {
        sink_->CancelTimer(ringTimer_);
        ringTimer_ = 0;
    }
    audio_->SetConnected(false);
    if (open_)
        session_->close();
    open_ = false;
    detection_ = 0;
}

LONG ModemLine::MakeCall(DWORD requestId, const telephony::MakeCallRequest& request,
    std::shared_ptr<telephony::ProviderCall>* call)
{
    if (!open_ || outOfService_)
        return LONG(LINEERR_RESOURCEUNAVAIL);
    if (call_)
        return LONG(LINEERR_CALLUNAVAIL);
    const std::string error = dialStringError(request.dialable);
    if (!error.empty()) {
        // Refused before anything reaches the modem.
        Log(info_.name + ": " + error);
        return LONG(LINEERR_INVALADDRESS);
    }
    telephony::CallDetails d;
    d.bearerMode = request.bearerMode ? request.bearerMode : LINEBEARERMODE_VOICE;
    d.mediaMode = request.mediaMode ? request.mediaMode : LINEMEDIAMODE_INTERACTIVEVOICE;
    d.origin = LINECALLORIGIN_OUTBOUND;
    d.calledId = request.dialable;
    auto c = std::make_shared<ModemCall>(this, d, LINECALLSTATE_DIALING, 0);
    if (!c->IsData() && !session_->voiceCapable())
        return LONG(LINEERR_INVALMEDIAMODE);
    call_ = c;
    *call = c;
    const bool data = c->IsData();
    const std::string number = request.dialable;
    std::weak_ptr<bool> alive = alive_;
    PostToDispatcher([this, alive, c, requestId, data, number] {
        if (!alive.lock())
            return;
        sink_->RequestCompleted(requestId, 0);
        if (call_ != c || c->state_ != LINECALLSTATE_DIALING)
            return;
        SetState(c, LINECALLSTATE_PROCEEDING, 0);
        auto done = [this, alive, c, data](ModemResult r) {
            PostToDispatcher([this, alive, c, data, r] {
                if (!alive.lock())
                    return;
                if (call_ != c || c->dropping_ || c->state_ != LINECALLSTATE_PROCEEDING) {
                    if (r == ModemResult::Connect)
                        session_->hangUp({});
                    return;
                }
                switch (r) {
                case ModemResult::Ok:
                case ModemResult::Connect:
                    if (data)
                        c->details_.rate = session_->rate();
                    SetState(c, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
                    if (data)
                        sink_->CallInfoChanged(c.get(), LINECALLINFOSTATE_RATE);
                    else
                        StartVoice();
                    break;
                case ModemResult::Busy:
                    SetState(c, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
                    EndCall(c, LINEDISCONNECTMODE_BUSY);
                    break;
                case ModemResult::NoAnswer:
                case ModemResult::NoCarrier:
                    EndCall(c, LINEDISCONNECTMODE_NOANSWER);
                    break;
                case ModemResult::Refused:
                    EndCall(c, LINEDISCONNECTMODE_BADADDRESS);
                    break;
                default:
                    EndCall(c, LINEDISCONNECTMODE_UNAVAIL);
                    break;
                }
            });
        };
        if (data)
            session_->dialData(number, done);
        else
            session_->dialVoice(number, done);
    });
    return 0;
}

HANDLE ModemLine::LendPort()
{
    if (!call_ || call_->state_ != LINECALLSTATE_CONNECTED || !call_->IsData())
        return INVALID_HANDLE_VALUE;
    // The port itself: the application reads and writes the modem's data
    // mode directly, and closing it gives it back.
    portLent_ = true;
    return session_->port();
}

void ModemLine::PortReturned()
{
    if (!portLent_)
        return;
    portLent_ = false;
    // The application's close closed the port; the session opens it again,
    // escapes to command mode and hangs up.
    session_->portReturned();
    if (call_ && call_->IsData() && call_->state_ == LINECALLSTATE_CONNECTED)
        EndCall(call_, LINEDISCONNECTMODE_NORMAL);
}

void ModemLine::SetState(const std::shared_ptr<ModemCall>& call, DWORD state, DWORD mode)
{
    if (call->state_ == state && call->mode_ == mode)
        return;
    call->state_ = state;
    call->mode_ = mode;
    sink_->CallStateChanged(call.get(), state, mode);
    if (state != LINECALLSTATE_CONNECTED && call_ == call)
        audio_->SetConnected(false);
    if (state == LINECALLSTATE_IDLE && call_ == call)
        call_.reset();
}

void ModemLine::EndCall(const std::shared_ptr<ModemCall>& call, DWORD disconnectMode)
{
    if (call->state_ == LINECALLSTATE_IDLE || call->state_ == LINECALLSTATE_DISCONNECTED)
        return;
    session_->stopVoice();
    if (!outOfService_)
        session_->hangUp({});
    SetState(call, LINECALLSTATE_DISCONNECTED, disconnectMode);
    if (call->released_)
        SetState(call, LINECALLSTATE_IDLE, 0);
}

void ModemLine::HangUp(const std::shared_ptr<ModemCall>& call, DWORD requestId)
{
    if (call->state_ == LINECALLSTATE_IDLE) {
        if (requestId)
            PostToDispatcher([this, requestId] { sink_->RequestCompleted(requestId, 0); });
        return;
    }
    call->dropping_ = true;
    session_->stopVoice();
    std::weak_ptr<bool> alive = alive_;
    if (requestId == 0) {
        session_->hangUp({});
        SetState(call, LINECALLSTATE_IDLE, 0);
        return;
    }
    session_->hangUp([this, alive, call, requestId](ModemResult) {
        PostToDispatcher([this, alive, call, requestId] {
            if (!alive.lock())
                return;
            sink_->RequestCompleted(requestId, 0);
            SetState(call, LINECALLSTATE_IDLE, 0);
        });
    });
}

void ModemLine::Answer(const std::shared_ptr<ModemCall>& call, DWORD requestId)
{
    if (ringTimer_) {
        sink_->CancelTimer(ringTimer_);
        ringTimer_ = 0;
    }
    std::weak_ptr<bool> alive = alive_;
    const bool data = call->IsData();
    auto done = [this, alive, call, requestId, data](ModemResult r) {
        PostToDispatcher([this, alive, call, requestId, data, r] {
            if (!alive.lock())
                return;
            const bool ok = r == ModemResult::Ok || r == ModemResult::Connect;
            sink_->RequestCompleted(requestId, ok ? 0 : LONG(LINEERR_OPERATIONFAILED));
            if (call_ != call || call->state_ != LINECALLSTATE_OFFERING)
                return;
            if (!ok) {
                EndCall(call, LINEDISCONNECTMODE_UNAVAIL);
                return;
            }
            if (data)
                call->details_.rate = session_->rate();
            SetState(call, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
            if (data)
                sink_->CallInfoChanged(call.get(), LINECALLINFOSTATE_RATE);
            else
                StartVoice();
        });
    };
    if (data)
        session_->answerData(done);
    else
        session_->answerVoice(done);
}

void ModemLine::HandleEvent(const ModemEvent& e)
{
    switch (e.kind) {
    case ModemEvent::Ring: {
        if (!open_)
            return;
        if (call_ && call_->state_ != LINECALLSTATE_OFFERING)
            return;
        if (!call_) {
            telephony::CallDetails d;
            d.origin = LINECALLORIGIN_INBOUND;
            d.calledName = info_.name;
            d.callerId = e.number;
            d.callerName = e.name;
            auto c = std::make_shared<ModemCall>(this, d, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
            c->released_ = true; // no application holds it yet
            call_ = c;
        }
        // Offered at the first ring that finds an application waiting for
        // such calls: one that opened the line while the modem was already
        // ringing (the first ring can arrive as the line opens) gets the
        // call at the next ring instead of never.
        if (call_->released_) {
            const bool voice = session_->voiceCapable()
                && (detection_ & kVoiceModes || !(detection_ & LINEMEDIAMODE_DATAMODEM));
            call_->details_.bearerMode = voice ? LINEBEARERMODE_VOICE : LINEBEARERMODE_DATA;
            call_->details_.mediaMode = voice ? LINEMEDIAMODE_INTERACTIVEVOICE : LINEMEDIAMODE_DATAMODEM;
            const DWORD wanted = voice ? kVoiceModes : LINEMEDIAMODE_DATAMODEM;
            if ((detection_ & wanted) && sink_->CallOffered(this, call_))
                call_->released_ = false;
        }
        sink_->LineRinging(this, static_cast<DWORD>(e.count));
        if (ringTimer_)
            sink_->CancelTimer(ringTimer_);
        std::weak_ptr<bool> alive = alive_;
        ringTimer_ = sink_->StartTimer(kRingGoneMs, [this, alive] {
            if (!alive.lock())
                return;
            ringTimer_ = 0;
            if (call_ && call_->state_ == LINECALLSTATE_OFFERING) {
                auto c = call_;
                SetState(c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
                if (c->released_)
                    SetState(c, LINECALLSTATE_IDLE, 0);
            }
        });
        break;
    }
    case ModemEvent::CallerId:
        // Caller id arrives between the first and second ring, after the
        // call was offered; applications read it from the call's details.
        if (call_ && call_->details_.origin == LINECALLORIGIN_INBOUND) {
            call_->details_.callerId = e.number;
            call_->details_.callerName = e.name;
            sink_->CallInfoChanged(call_.get(), LINECALLINFOSTATE_CALLERID);
        }
        break;
    case ModemEvent::Digit:
        if (call_ && call_->state_ == LINECALLSTATE_CONNECTED && (call_->monitor_ & LINEDIGITMODE_DTMF))
            sink_->DigitReceived(call_.get(), e.digit, LINEDIGITMODE_DTMF);
        break;
    case ModemEvent::Busy:
        if (call_
            && (call_->state_ == LINECALLSTATE_CONNECTED || call_->state_ == LINECALLSTATE_PROCEEDING)) {
            auto c = call_;
            SetState(c, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
            EndCall(c, LINEDISCONNECTMODE_BUSY);
        }
        break;
    case ModemEvent::Disconnected:
        if (call_ && !call_->dropping_)
            EndCall(call_, LINEDISCONNECTMODE_NORMAL);
        break;
    case ModemEvent::OutOfService:
        Log(info_.name + ": " + e.text + " The line is out of service.");
        // The watch of the ports opens it again once the port is there.
        if (e.portLost)
            portGone_ = true;
        if (call_)
            EndCall(call_, LINEDISCONNECTMODE_UNAVAIL);
        if (!outOfService_) {
            outOfService_ = true;
            sink_->LineInService(this, false);
        }
        break;
    case ModemEvent::Log:
        break;
    }
}

void ModemLine::StartVoice()
{
    if (voiceRunning_)
        return;
    VoiceLoop();
}

void ModemLine::VoiceLoop()
{
    voiceRunning_ = false;
    audio_->SetWaiting(nullptr);
    if (!call_ || call_->state_ != LINECALLSTATE_CONNECTED || call_->IsData() || call_->dropping_
        || outOfService_)
        return;
    audio_->SetConnected(true);
    voiceRunning_ = true;
    std::weak_ptr<bool> alive = alive_;
    auto again = [this, alive](ModemResult) {
        PostToDispatcher([this, alive] {
            if (alive.lock())
                VoiceLoop();
        });
    };
    auto audio = audio_;
    if (session_->duplexCapable()) {
        session_->duplex([audio](std::vector<int16_t>& v) { return audio->Take(v, 160); },
            [audio](const int16_t* p, size_t n) { audio->Put(p, n); }, again);
        return;
    }
    // A half-duplex modem either plays or records: it records (and so hears
    // the far end's digits and hang-up) until something is to be played.
    if (audio_->HasSamples()) {
        session_->play([audio](std::vector<int16_t>& v) { return audio->Take(v, 160); }, again);
        return;
    }
    session_->record([audio](const int16_t* p, size_t n) { audio->Put(p, n); }, again);
    ModemSession* session = session_.get();
    audio_->SetWaiting([session] { session->stopVoice(); });
}

} // namespace zq::modem
