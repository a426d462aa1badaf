// The simulated exchange: lines from the registry, calls between them.
#include "simexchange.h"

#include "commpair.h"
#include "devconfig.h"
#include "handles.h"
#include "modemclass.h"
#include "settings_p.h"
#include "simline_p.h"
#include "tapi.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD kDefaultRingMs = 2000;
constexpr DWORD kDefaultAnswerRings = 2;
constexpr DWORD kDigitGapMs = 40;
constexpr DWORD kVoiceModes = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
constexpr DWORD kCarrier = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;

bool IsDataCall(const tsp::CallDetails& d)
{
    return (d.mediaMode & LINEMEDIAMODE_DATAMODEM) || d.bearerMode == LINEBEARERMODE_DATA;
}

ModemDevConfig Block(const std::vector<uint8_t>& bytes)
{
    ModemDevConfig c = DefaultModemDevConfig();
    if (IsModemDevConfig(bytes.data(), bytes.size()))
        std::memcpy(&c, bytes.data(), sizeof c);
    return c;
}

// The modem class subkey that already publishes this name, or a free one.
std::string ModemSubkeyFor(const std::string& friendlyName)
{
    RegistryKey cls(HKEY_LOCAL_MACHINE, kModemClassKey, true);
    const std::vector<std::string> names = cls.SubKeys();
    for (const std::string& n : names) {
        RegistryKey k(HKEY_LOCAL_MACHINE, std::string(kModemClassKey) + "\\" + n);
        if (k.String("FriendlyName", "") == friendlyName)
            return n;
    }
    for (int i = 0;; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d", i);
        if (std::find(names.begin(), names.end(), buf) == names.end())
            return buf;
    }
}

// Between a request's completion and the call's next state: a caller has
// its reply, and has finished reacting to it, before the call moves on, as
// with a real exchange, where switching takes a moment.
constexpr DWORD kSwitchingDelayMs = 100;

} // namespace

// ---- SimLeg ---------------------------------------------------------------

LONG SimLeg::Answer(DWORD requestId)
{
    if (!ex_)
        return LONG(LINEERR_OPERATIONFAILED);
    ex_->Later(0, [self = shared_from_this(), requestId] {
        auto conn = self->conn_.lock();
        if (self->state_ != LINECALLSTATE_OFFERING || !conn || conn->ended) {
            self->ex_->Sink()->RequestCompleted(requestId, LONG(LINEERR_INVALCALLSTATE));
            return;
        }
        self->ex_->Sink()->RequestCompleted(requestId, 0);
        self->ex_->Later(kSwitchingDelayMs, [self, conn] { self->ex_->Connect(conn); });
    });
    return 0;
}

LONG SimLeg::Drop(DWORD requestId)
{
    if (!ex_)
        return LONG(LINEERR_OPERATIONFAILED);
    if (requestId == 0) {
        ex_->DropLeg(shared_from_this());
        return 0;
    }
    ex_->Later(0, [self = shared_from_this(), requestId] {
        self->ex_->Sink()->RequestCompleted(requestId, 0);
        self->ex_->DropLeg(self);
    });
    return 0;
}

LONG SimLeg::SetBearerMode(DWORD requestId, DWORD bearerMode)
{
    if (!ex_)
        return LONG(LINEERR_OPERATIONFAILED);
    ex_->Later(0, [self = shared_from_this(), requestId, bearerMode] {
        self->details_.bearerMode = bearerMode;
        self->ex_->Sink()->RequestCompleted(requestId, 0);
    });
    return 0;
}

void SimLeg::MonitorDigits(DWORD modes)
{
    monitorModes_ = modes;
    if (ex_)
        if (auto conn = conn_.lock())
            ex_->SendDigits(conn);
}

HANDLE SimLeg::OpenCommPort()
{
    if (!ex_ || state_ != LINECALLSTATE_CONNECTED)
        return INVALID_HANDLE_VALUE;
    if (port_ != INVALID_HANDLE_VALUE && LookupKernelObject(port_)) {
        portGiven_ = true;
        return port_;
    }
    // The handle given out before was closed: join a fresh pair of ports,
    // the far side going to the peer (or kept by the exchange).
    HANDLE mine = INVALID_HANDLE_VALUE, theirs = INVALID_HANDLE_VALUE;
    if (!CreateCommPortPair(&mine, &theirs))
        return INVALID_HANDLE_VALUE;
    SetCommPairModemStatus(mine, kCarrier, kCarrier);
    SetCommPairModemStatus(theirs, kCarrier, kCarrier);
    port_ = mine;
    portGiven_ = true;
    auto conn = conn_.lock();
    std::shared_ptr<SimLeg> peer;
    if (conn)
        peer = conn->a.get() == this ? conn->b : conn->a;
    if (peer) {
        peer->ReleasePort();
        peer->port_ = theirs;
    } else {
        if (far_ != INVALID_HANDLE_VALUE)
            CloseHandle(far_);
        far_ = theirs;
    }
    return port_;
}

void SimLeg::ReleasePort()
{
    if (port_ != INVALID_HANDLE_VALUE) {
        if (portGiven_) {
            // The application closes its handle; it sees the carrier drop.
            SetCommPairModemStatus(port_, kCarrier, 0);
        } else {
            CloseHandle(port_);
        }
    }
    port_ = INVALID_HANDLE_VALUE;
    portGiven_ = false;
    if (far_ != INVALID_HANDLE_VALUE)
        CloseHandle(far_);
    far_ = INVALID_HANDLE_VALUE;
}

void SimLeg::Released()
{
    released_ = true;
    if (!ex_)
        return;
    if (state_ == LINECALLSTATE_DISCONNECTED)
        ex_->SetState(shared_from_this(), LINECALLSTATE_IDLE, 0);
    else if (state_ == LINECALLSTATE_CONNECTED || state_ == LINECALLSTATE_PROCEEDING
        || state_ == LINECALLSTATE_DIALING)
        ex_->DropLeg(shared_from_this());
}

// ---- SimLine --------------------------------------------------------------

tsp::LineCaps SimLine::Caps() const
{
    tsp::LineCaps c;
    c.name = s_.name;
    c.portName = s_.port;
    c.number = s_.number;
    c.bearerModes = LINEBEARERMODE_VOICE | LINEBEARERMODE_DATA | LINEBEARERMODE_PASSTHROUGH;
    c.mediaModes = kVoiceModes | LINEMEDIAMODE_DATAMODEM;
    c.maxRate = Block(devConfig_).commconfig.dcb.BaudRate;
    c.waveInId = audio_->inId;
    c.waveOutId = audio_->outId;
    c.permanentId = index_ + 1;
    return c;
}

LONG SimLine::Open()
{
    if (s_.failOpen)
        return LONG(LINEERR_RESOURCEUNAVAIL);
    open_ = true;
    return 0;
}

void SimLine::Close()
{
    open_ = false;
    detection_ = 0;
    listener_.reset();
}

void SimLine::SetDetection(DWORD ownerMediaModes)
{
    detection_ = ownerMediaModes;
    // While it waits for voice calls, programs elsewhere can reach it.
    if (!(ownerMediaModes & kVoiceModes)) {
        listener_.reset();
        return;
    }
    if (listener_)
        return;
    SimExchange* ex = ex_;
    std::weak_ptr<bool> alive = ex->alive_;
    listener_ = std::make_unique<simremote::Listener>(
        s_.number, [ex, alive](std::shared_ptr<simremote::Link> link) {
            if (alive.lock())
                ex->AcceptRemote(std::move(link));
        });
    if (!listener_->Active())
        listener_.reset();
}

LONG SimLine::MakeCall(
    DWORD requestId, const tsp::MakeCallRequest& request, std::shared_ptr<tsp::ProviderCall>* call)
{
    if (leg_)
        return LONG(LINEERR_CALLUNAVAIL);
    *call = ex_->PlaceCall(this, requestId, request);
    return *call ? 0 : LONG(LINEERR_OPERATIONFAILED);
}

HANDLE SimLine::OpenCommPort()
{
    return leg_ ? leg_->OpenCommPort() : INVALID_HANDLE_VALUE;
}

LONG SimLine::SetDevConfig(const void* data, size_t size)
{
    if (size > 2048 || !IsModemDevConfig(data, size))
        return LONG(LINEERR_INVALPARAM);
    devConfig_.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    SaveDevConfig();
    return 0;
}

void SimLine::SaveDevConfig()
{
    RegistryKey key(HKEY_LOCAL_MACHINE, std::string(kSimulatedLinesKey) + "\\" + s_.key, true);
    key.SetBinary("DevConfig", devConfig_.data(), devConfig_.size());
}

// ---- SimExchange ----------------------------------------------------------

std::vector<tsp::ProviderLine*> SimExchange::Start(tsp::ServiceSink* sink)
{
    alive_ = std::make_shared<bool>(true);
    sink_ = sink;
    ringMs_ = RegistryKey(HKEY_LOCAL_MACHINE, kSimulatedKey).Dword("RingIntervalMs", kDefaultRingMs);
    RegistryKey linesKey(HKEY_LOCAL_MACHINE, kSimulatedLinesKey, true);
    std::vector<std::string> keys = linesKey.SubKeys();
    if (keys.empty()) {
        for (int i = 1; i <= 2; ++i) {
            const std::string k = "000" + std::to_string(i - 1);
            RegistryKey line(HKEY_LOCAL_MACHINE, std::string(kSimulatedLinesKey) + "\\" + k, true);
            line.SetString("Name", "Simulated line " + std::to_string(i));
            line.SetString("Number", "100" + std::to_string(i));
            line.SetString("Port", "SIM" + std::to_string(i));
            keys.push_back(k);
        }
    }
    std::vector<tsp::ProviderLine*> out;
    for (const std::string& k : keys) {
        RegistryKey key(HKEY_LOCAL_MACHINE, std::string(kSimulatedLinesKey) + "\\" + k);
        SimLineSettings s;
        s.key = k;
        s.name = key.String("Name", "Simulated line " + k);
        s.number = key.String("Number", "");
        s.port = key.String("Port", "SIM" + k);
        s.callerId = key.String("CallerID", s.number);
        s.callerName = key.String("CallerName", s.name);
        s.failOpen = key.Dword("FailOpen", 0) != 0;
        s.script.busy = key.Dword("Busy", 0) != 0;
        s.script.noAnswer = key.Dword("NoAnswer", 0) != 0;
        const DWORD rings = key.Dword("AnswerAfterRings", kDefaultAnswerRings);
        if (rings == 0)
            s.script.noAnswer = true;
        s.script.answerRings = int(rings);
        s.script.hangUpMs = key.Dword("HangUpAfterMs", 0);
        s.script.digits = key.String("Digits", "");
        auto line = std::make_unique<SimLine>(this, std::move(s), DWORD(lines_.size()));
        std::vector<uint8_t> block;
        if (!key.Binary("DevConfig", &block) || !IsModemDevConfig(block.data(), block.size())) {
            const ModemDevConfig c = DefaultModemDevConfig();
            block.assign(
                reinterpret_cast<const uint8_t*>(&c), reinterpret_cast<const uint8_t*>(&c) + sizeof c);
        }
        line->devConfig_ = std::move(block);
        line->audio_ = &LineAudioFor(line->s_.key, line->s_.name);
        RegisterModem(ModemSubkeyFor(line->s_.name), line->s_.name, line->s_.port, "");
        out.push_back(line.get());
        lines_.push_back(std::move(line));
    }
    return out;
}

void SimExchange::Stop()
{
    *alive_ = false;
    for (auto& conn : conns_)
        if (conn->remote)
            conn->remote->Close();
    for (auto& line : lines_)
        line->listener_.reset();
    for (tsp::TimerId id : timers_)
        sink_->CancelTimer(id);
    timers_.clear();
    for (auto& conn : conns_) {
        for (auto* leg : { conn->a.get(), conn->b.get() })
            if (leg) {
                leg->ReleasePort();
                leg->ex_ = nullptr;
                leg->line_ = nullptr;
            }
        Unlink(*conn);
    }
    conns_.clear();
    lines_.clear();
}

void SimExchange::Later(DWORD ms, std::function<void()> fn)
{
    auto id = std::make_shared<tsp::TimerId>(0);
    *id = sink_->StartTimer(ms, [this, id, fn = std::move(fn)] {
        timers_.erase(*id);
        fn();
    });
    timers_.insert(*id);
}

tsp::TimerId SimExchange::Timer(DWORD ms, std::function<void()> fn)
{
    auto id = std::make_shared<tsp::TimerId>(0);
    *id = sink_->StartTimer(ms, [this, id, fn = std::move(fn)] {
        timers_.erase(*id);
        fn();
    });
    timers_.insert(*id);
    return *id;
}

void SimExchange::Cancel(tsp::TimerId& id)
{
    if (id) {
        sink_->CancelTimer(id);
        timers_.erase(id);
    }
    id = 0;
}

SimLine* SimExchange::LineByNumber(const std::string& number) const
{
    for (auto& l : lines_)
        if (!number.empty() && l->s_.number == number)
            return l.get();
    return nullptr;
}

std::shared_ptr<SimLeg> SimExchange::PlaceCall(SimLine* from, DWORD requestId, const tsp::MakeCallRequest& r)
{
    auto conn = std::make_shared<Connection>();
    const DialString dialled = ParseDialString(r.dialable);
    conn->dialledEmpty = r.dialable.empty();
    conn->dialled = r.dialable;
    conn->callee = LineByNumber(dialled.number);
    conn->script = Overlay(conn->callee ? conn->callee->s_.script : CallScript {}, dialled);
    if (!conn->callee && conn->script.answerRings < 0 && !conn->script.noAnswer)
        conn->script.answerRings = int(kDefaultAnswerRings);

    tsp::CallDetails d;
    d.bearerMode = r.bearerMode;
    d.mediaMode = r.mediaMode;
    d.origin = LINECALLORIGIN_OUTBOUND;
    d.callerId = from->s_.callerId;
    d.callerName = from->s_.callerName;
    d.calledId = dialled.number;
    if (conn->callee)
        d.calledName = conn->callee->s_.name;
    auto a = std::make_shared<SimLeg>(this, from, d);
    // Dialling until the exchange answers with PROCEEDING.
    a->state_ = LINECALLSTATE_DIALING;
    a->conn_ = conn;
    conn->a = a;
    from->leg_ = a;
    conns_.insert(conn);
    Later(0, [this, conn, requestId] { Begin(conn, requestId); });
    return a;
}

void SimExchange::Begin(const std::shared_ptr<Connection>& conn, DWORD requestId)
{
    sink_->RequestCompleted(requestId, 0);
    // The call progresses a moment after the request has completed, as a
    // real exchange's does: the caller has its reply (and its call handle)
    // before the first call state arrives.
    Later(kSwitchingDelayMs, [this, conn] { Proceed(conn); });
}

void SimExchange::Proceed(const std::shared_ptr<Connection>& conn)
{
    auto a = conn->a;
    if (conn->ended || a->state_ != LINECALLSTATE_DIALING)
        return;
    SetState(a, LINECALLSTATE_PROCEEDING, 0);
    // The dialled line waits in another program: the call goes there.
    if (!conn->remote && conn->callee && !conn->callee->open_ && !IsDataCall(a->details_)) {
        if (auto link = simremote::Link::Dial(conn->callee->s_.number)) {
            DialRemote(conn, std::move(link), conn->dialled);
            return;
        }
    }
    if (conn->dialledEmpty) {
        Connect(conn);
        return;
    }
    SimLine* callee = conn->callee;
    if (conn->script.busy || (callee && (callee == a->line_ || callee->leg_))) {
        // The busy signal comes once the exchange has tried the far end.
        Later(kSwitchingDelayMs, [this, conn] {
            if (conn->ended)
                return;
            SetState(conn->a, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
            End(conn, LINEDISCONNECTMODE_BUSY, LINEDISCONNECTMODE_NORMAL);
        });
        return;
    }
    bool taken = false;
    if (callee) {
        tsp::CallDetails d;
        d.bearerMode = a->details_.bearerMode;
        d.mediaMode = a->details_.mediaMode;
        d.origin = LINECALLORIGIN_INBOUND;
        d.callerId = conn->script.callerId.value_or(a->line_->s_.callerId);
        d.callerName = conn->script.callerName.value_or(a->line_->s_.callerName);
        d.calledId = callee->s_.number;
        d.calledName = callee->s_.name;
        auto b = std::make_shared<SimLeg>(this, callee, d);
        b->state_ = LINECALLSTATE_OFFERING;
        b->mode_ = LINEOFFERINGMODE_ACTIVE;
        b->conn_ = conn;
        conn->b = b;
        callee->leg_ = b;
        const DWORD wanted = IsDataCall(d) ? LINEMEDIAMODE_DATAMODEM : kVoiceModes;
        taken = (callee->detection_ & wanted) && sink_->CallOffered(callee, b);
        b->released_ = !taken;
    }
    // An application that took the call decides when to answer; otherwise
    // the called party's script does.
    conn->answerRings = taken || conn->script.noAnswer ? -1 : conn->script.answerRings;
    if (conn->answerRings == 0) {
        Connect(conn);
        return;
    }
    const DWORD ringMs = conn->script.ringMs ? conn->script.ringMs : ringMs_;
    conn->ringTimer = Timer(ringMs, [this, conn] { Ring(conn); });
    DWORD failMs = Block(a->line_->devConfig_).modemsettings.dwCallSetupFailTimer * 1000;
    if (conn->script.noAnswer && conn->script.noAnswerMs)
        failMs = conn->script.noAnswerMs;
    if (failMs)
        conn->failTimer = Timer(failMs, [this, conn] {
            conn->failTimer = 0;
            End(conn, LINEDISCONNECTMODE_NOANSWER, LINEDISCONNECTMODE_NORMAL);
        });
}

void SimExchange::Ring(const std::shared_ptr<Connection>& conn)
{
    conn->ringTimer = 0;
    if (conn->ended || conn->connected)
        return;
    ++conn->rings;
    if (conn->callee)
        sink_->LineRinging(conn->callee, conn->rings);
    if (conn->answerRings > 0 && conn->rings >= DWORD(conn->answerRings)) {
        Connect(conn);
        return;
    }
    const DWORD ringMs = conn->script.ringMs ? conn->script.ringMs : ringMs_;
    conn->ringTimer = Timer(ringMs, [this, conn] { Ring(conn); });
}

void SimExchange::Connect(const std::shared_ptr<Connection>& conn)
{
    if (conn->ended || conn->connected)
        return;
    Cancel(conn->ringTimer);
    Cancel(conn->failTimer);
    conn->connected = true;
    if (IsDataCall(conn->a->details_))
        Negotiate(*conn);
    if (conn->b)
        SetState(conn->b, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    SetState(conn->a, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    if (conn->b) {
        conn->a->line_->audio_->out->SetTarget(conn->b->line_->audio_->in);
        conn->b->line_->audio_->out->SetTarget(conn->a->line_->audio_->in);
        // The caller is in another program: what the line plays goes there.
        if (auto link = conn->remote)
            conn->b->line_->audio_->out->SetForward(
                [link](const void* d, size_t n) { link->Send(simremote::kAudio, d, uint32_t(n)); });
    }
    if (conn->script.hangUpMs)
        conn->hangTimer = Timer(conn->script.hangUpMs, [this, conn] {
            conn->hangTimer = 0;
            End(conn, LINEDISCONNECTMODE_NORMAL, LINEDISCONNECTMODE_NORMAL);
        });
    SendDigits(conn);
}

void SimExchange::SendDigits(const std::shared_ptr<Connection>& conn)
{
    auto a = conn->a;
    if (conn->ended || !conn->connected || conn->digitTimer || !a->monitorModes_
        || conn->digitPos >= conn->script.digits.size())
        return;
    conn->digitTimer = Timer(kDigitGapMs, [this, conn] {
        conn->digitTimer = 0;
        auto a = conn->a;
        if (conn->ended || !a->monitorModes_ || conn->digitPos >= conn->script.digits.size())
            return;
        const char digit = conn->script.digits[conn->digitPos++];
        const DWORD mode = (a->monitorModes_ & LINEDIGITMODE_DTMF) ? LINEDIGITMODE_DTMF
            : (a->monitorModes_ & LINEDIGITMODE_PULSE)             ? LINEDIGITMODE_PULSE
                                                                   : LINEDIGITMODE_DTMFEND;
        sink_->DigitReceived(a.get(), digit, mode);
        SendDigits(conn);
    });
}

void SimExchange::Negotiate(Connection& conn)
{
    constexpr DWORD shared = MDM_ERROR_CONTROL | MDM_COMPRESSION | MDM_FORCED_EC;
    constexpr DWORD flow = MDM_FLOWCONTROL_HARD | MDM_FLOWCONTROL_SOFT;
    SimLine* la = conn.a->line_;
    SimLine* lb = conn.b ? conn.b->line_ : nullptr;
    ModemDevConfig ca = Block(la->devConfig_);
    DWORD rate = ca.commconfig.dcb.BaudRate;
    DWORD common = ca.modemsettings.dwPreferredModemOptions & shared;
    if (lb) {
        const ModemDevConfig cb = Block(lb->devConfig_);
        rate = std::min(rate, cb.commconfig.dcb.BaudRate);
        common &= cb.modemsettings.dwPreferredModemOptions;
    }
    for (SimLine* l : { la, lb }) {
        if (!l || !IsModemDevConfig(l->devConfig_.data(), l->devConfig_.size()))
            continue;
        ModemDevConfig c = Block(l->devConfig_);
        c.modemsettings.dwNegotiatedDCERate = rate;
        c.modemsettings.dwNegotiatedModemOptions = common | (c.modemsettings.dwPreferredModemOptions & flow);
        std::memcpy(l->devConfig_.data(), &c, sizeof c);
        l->SaveDevConfig();
    }
    conn.a->details_.rate = rate;
    if (conn.b)
        conn.b->details_.rate = rate;
}

void SimExchange::Unlink(Connection& conn)
{
    for (auto* leg : { conn.a.get(), conn.b.get() })
        if (leg && leg->line_)
            leg->line_->audio_->out->SetTarget(nullptr);
}

void SimExchange::End(const std::shared_ptr<Connection>& conn, DWORD modeA, DWORD modeB)
{
    if (conn->ended)
        return;
    conn->ended = true;
    Cancel(conn->ringTimer);
    Cancel(conn->failTimer);
    Cancel(conn->hangTimer);
    Cancel(conn->digitTimer);
    Unlink(*conn);
    // Mode 0 leaves that side alone (it is dropping the call itself).
    if (modeB)
        Disconnect(conn->b, modeB);
    if (modeA)
        Disconnect(conn->a, modeA);
    // The other program learns of the end (the called side through the
    // caller's state) and the link goes.
    if (auto link = conn->remote) {
        if (!conn->remoteCaller) {
            const uint32_t mode = modeB ? modeB : LINEDISCONNECTMODE_NORMAL;
            link->Send(simremote::kEnd, &mode, sizeof mode);
        }
        link->Close();
    }
}

void SimExchange::Disconnect(const std::shared_ptr<SimLeg>& leg, DWORD mode)
{
    if (!leg || leg->state_ == LINECALLSTATE_IDLE || leg->state_ == LINECALLSTATE_DISCONNECTED)
        return;
    leg->ReleasePort();
    SetState(leg, LINECALLSTATE_DISCONNECTED, mode);
    // Nobody holds this call to drop it: it goes idle by itself.
    if (leg->released_)
        SetState(leg, LINECALLSTATE_IDLE, 0);
}

void SimExchange::DropLeg(const std::shared_ptr<SimLeg>& leg)
{
    if (leg->state_ == LINECALLSTATE_IDLE)
        return;
    // The dropping side goes idle; the other side sees the disconnection.
    if (auto conn = leg->conn_.lock()) {
        const bool rejected = leg.get() == conn->b.get() && leg->state_ == LINECALLSTATE_OFFERING;
        const DWORD peerMode = rejected ? LINEDISCONNECTMODE_REJECT : LINEDISCONNECTMODE_NORMAL;
        if (leg.get() == conn->a.get())
            End(conn, 0, peerMode);
        else
            End(conn, peerMode, 0);
    }
    leg->ReleasePort();
    if (leg->state_ != LINECALLSTATE_IDLE)
        SetState(leg, LINECALLSTATE_IDLE, 0);
}

void SimExchange::SetState(const std::shared_ptr<SimLeg>& leg, DWORD state, DWORD mode)
{
    leg->state_ = state;
    leg->mode_ = mode;
    sink_->CallStateChanged(leg.get(), state, mode);
    // The stand-in for a caller in another program: the caller sees it.
    if (auto conn = leg->conn_.lock(); conn && conn->remoteCaller && leg == conn->a && conn->remote) {
        const uint32_t values[2] = { state, mode };
        conn->remote->Send(simremote::kState, values, sizeof values);
    }
    if (state != LINECALLSTATE_IDLE)
        return;
    leg->ReleasePort();
    if (leg->line_ && leg->line_->leg_ == leg)
        leg->line_->leg_.reset();
    if (auto conn = leg->conn_.lock()) {
        const bool aIdle = conn->a->state_ == LINECALLSTATE_IDLE;
        const bool bIdle = !conn->b || conn->b->state_ == LINECALLSTATE_IDLE;
        if (aIdle && bIdle) {
            End(conn, 0, 0);
            conns_.erase(conn);
        }
    }
}

// Calls between programs -----------------------------------------------------

void SimExchange::DialRemote(const std::shared_ptr<Connection>& conn, std::shared_ptr<simremote::Link> link,
    const std::string& dialled)
{
    conn->remote = link;
    std::weak_ptr<Connection> weak = conn;
    std::weak_ptr<bool> alive = alive_;
    link->Start(
        [this, weak, alive](char type, const std::string& payload) {
            auto conn = weak.lock();
            if (!conn)
                return;
            if (type == simremote::kAudio) {
                if (conn->a->line_)
                    conn->a->line_->audio_->in->Write(payload.data(), payload.size());
                return;
            }
            std::lock_guard lock(tsp::ServiceLock());
            if (!alive.lock() || !*alive.lock() || conn->ended || type != simremote::kState
                || payload.size() != 8)
                return;
            uint32_t values[2];
            std::memcpy(values, payload.data(), sizeof values);
            const DWORD state = values[0], mode = values[1];
            if (state == LINECALLSTATE_DISCONNECTED || state == LINECALLSTATE_IDLE) {
                End(conn, state == LINECALLSTATE_IDLE ? LINEDISCONNECTMODE_NORMAL : mode, 0);
            } else if (state == LINECALLSTATE_CONNECTED && !conn->connected) {
                conn->connected = true;
                SetState(conn->a, state, mode);
                auto link = conn->remote;
                conn->a->line_->audio_->out->SetForward(
                    [link](const void* d, size_t n) { link->Send(simremote::kAudio, d, uint32_t(n)); });
            } else if (state != conn->a->state_) {
                SetState(conn->a, state, mode);
            }
        },
        [this, weak, alive] {
            auto conn = weak.lock();
            std::lock_guard lock(tsp::ServiceLock());
            if (conn && alive.lock() && *alive.lock() && !conn->ended)
                End(conn, LINEDISCONNECTMODE_NORMAL, 0);
        });
    const tsp::CallDetails& d = conn->a->details_;
    const std::string dial = dialled + '\0' + d.callerId + '\0' + d.callerName;
    link->Send(simremote::kDial, dial);
}

void SimExchange::AcceptRemote(std::shared_ptr<simremote::Link> link)
{
    // Runs on the listener's thread: only the link's own thread takes the
    // service lock, when the caller's dial arrives.
    auto conn = std::make_shared<std::weak_ptr<Connection>>();
    std::weak_ptr<bool> alive = alive_;
    std::weak_ptr<simremote::Link> weakLink = link;
    link->Start(
        [this, conn, alive, weakLink](char type, const std::string& payload) {
            if (type == simremote::kAudio) {
                if (auto c = conn->lock(); c && c->remoteCallerAudio)
                    c->remoteCallerAudio->out->Write(payload.data(), payload.size());
                return;
            }
            std::lock_guard lock(tsp::ServiceLock());
            if (!alive.lock() || !*alive.lock())
                return;
            if (type == simremote::kDial && conn->expired()) {
                if (auto l = weakLink.lock())
                    RemoteDialled(l, payload);
                for (auto& c : conns_)
                    if (c->remote == weakLink.lock())
                        *conn = c;
            } else if (type == simremote::kEnd && payload.size() == 4) {
                uint32_t mode;
                std::memcpy(&mode, payload.data(), 4);
                if (auto c = conn->lock(); c && !c->ended)
                    End(c, LINEDISCONNECTMODE_NORMAL, mode);
            }
        },
        [this, conn, alive] {
            std::lock_guard lock(tsp::ServiceLock());
            if (auto c = conn->lock(); c && alive.lock() && *alive.lock() && !c->ended)
                End(c, LINEDISCONNECTMODE_NORMAL, LINEDISCONNECTMODE_NORMAL);
        });
}

void SimExchange::RemoteDialled(std::shared_ptr<simremote::Link> link, const std::string& payload)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= payload.size(); ++i)
        if (i == payload.size() || payload[i] == '\0') {
            parts.push_back(payload.substr(start, i - start));
            start = i + 1;
        }
    parts.resize(3);
    const DialString dialled = ParseDialString(parts[0]);
    SimLine* callee = LineByNumber(dialled.number);
    if (!callee) {
        link->Close();
        return;
    }
    auto conn = std::make_shared<Connection>();
    conn->remote = link;
    conn->dialled = parts[0];
    conn->callee = callee;
    conn->script = Overlay(callee->s_.script, dialled);

    // The caller's line is a stand-in with wave endpoints of its own that
    // only the link feeds and reads.
    SimLineSettings s;
    s.key = "remote";
    s.name = parts[2].empty() ? parts[1] : parts[2];
    s.number = parts[1];
    s.callerId = parts[1];
    s.callerName = parts[2];
    conn->remoteCaller = std::make_unique<SimLine>(this, s, DWORD(-1));
    conn->remoteCaller->devConfig_ = callee->devConfig_;
    conn->remoteCallerAudio = std::make_unique<LineAudio>();
    conn->remoteCallerAudio->out = std::make_shared<LineWaveOut>();
    conn->remoteCallerAudio->in = std::make_shared<PcmPipe>();
    conn->remoteCaller->audio_ = conn->remoteCallerAudio.get();

    tsp::CallDetails d;
    d.bearerMode = LINEBEARERMODE_VOICE;
    d.mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    d.origin = LINECALLORIGIN_OUTBOUND;
    d.callerId = s.callerId;
    d.callerName = s.callerName;
    d.calledId = dialled.number;
    d.calledName = callee->s_.name;
    auto a = std::make_shared<SimLeg>(this, conn->remoteCaller.get(), d);
    a->state_ = LINECALLSTATE_DIALING;
    a->released_ = true;
    a->conn_ = conn;
    conn->a = a;
    conns_.insert(conn);
    Proceed(conn);
}

std::unique_ptr<tsp::Provider> CreateSimulatedExchange()
{
    return std::make_unique<SimExchange>();
}
