// The call state machine of the simulated exchange: dialling, ringing,
// answering, connecting and ending calls between its lines.
#include "simexchange_p.h"

#include "devconfig.h"

#include <algorithm>
#include <cstring>

namespace zq::sim {

namespace {

constexpr DWORD kDigitGapMs = 40;

} // namespace

bool IsDataCall(const telephony::CallDetails& d)
{
    return (d.mediaMode & LINEMEDIAMODE_DATAMODEM) || d.bearerMode == LINEBEARERMODE_DATA;
}

std::shared_ptr<SimLeg> SimExchange::PlaceCall(
    SimLine* from, DWORD requestId, const telephony::MakeCallRequest& r)
{
    auto conn = std::make_shared<Connection>();
    const DialString dialled = ParseDialString(r.dialable);
    conn->dialledEmpty = r.dialable.empty();
    conn->dialled = r.dialable;
    conn->calledLine = LineByNumber(dialled.number);
    conn->script = Overlay(conn->calledLine ? conn->calledLine->settings_.script : CallScript {}, dialled);
    if (!conn->calledLine && conn->script.answerRings < 0 && !conn->script.noAnswer)
        conn->script.answerRings = int(kDefaultAnswerRings);

    telephony::CallDetails d;
    d.bearerMode = r.bearerMode;
    d.mediaMode = r.mediaMode;
    d.origin = LINECALLORIGIN_OUTBOUND;
    d.callerId = from->settings_.callerId;
    d.callerName = from->settings_.callerName;
    d.calledId = dialled.number;
    if (conn->calledLine)
        d.calledName = conn->calledLine->settings_.name;
    auto a = std::make_shared<SimLeg>(this, from, d);
    // Dialling until the exchange answers with PROCEEDING.
    a->state_ = LINECALLSTATE_DIALING;
    a->conn_ = conn;
    conn->caller = a;
    from->leg_ = a;
    conns_.insert(conn);
    StartTimer(0, [this, conn, requestId] { Begin(conn, requestId); });
    return a;
}

void SimExchange::Begin(const std::shared_ptr<Connection>& conn, DWORD requestId)
{
    sink_->RequestCompleted(requestId, 0);
    // The call progresses a moment after the request has completed, as a
    // real exchange's does: the caller has its reply (and its call handle)
    // before the first call state arrives.
    StartTimer(ProgressMs(), [this, conn] { Proceed(conn); });
}

void SimExchange::Proceed(const std::shared_ptr<Connection>& conn)
{
    auto a = conn->caller;
    if (conn->ended || a->state_ != LINECALLSTATE_DIALING)
        return;
    SetState(a, LINECALLSTATE_PROCEEDING, 0);
    // The dialled line waits in another program: the call goes there.
    if (!conn->remote && conn->calledLine && !conn->calledLine->open_ && !IsDataCall(a->details_)) {
        if (auto link = remote::Link::Dial(conn->calledLine->settings_.number)) {
            DialRemote(conn, std::move(link), conn->dialled);
            return;
        }
    }
    if (conn->dialledEmpty) {
        Connect(conn);
        return;
    }
    SimLine* callee = conn->calledLine;
    if (conn->script.busy || (callee && (callee == a->line_ || callee->leg_))) {
        // The busy signal comes once the exchange has tried the far end.
        StartTimer(ProgressMs(), [this, conn] {
            if (conn->ended)
                return;
            SetState(conn->caller, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
            End(conn, LINEDISCONNECTMODE_BUSY, LINEDISCONNECTMODE_NORMAL);
        });
        return;
    }
    bool taken = false;
    if (callee) {
        telephony::CallDetails d;
        d.bearerMode = a->details_.bearerMode;
        d.mediaMode = a->details_.mediaMode;
        d.origin = LINECALLORIGIN_INBOUND;
        d.callerId = conn->script.callerId.value_or(a->line_->settings_.callerId);
        d.callerName = conn->script.callerName.value_or(a->line_->settings_.callerName);
        d.calledId = callee->settings_.number;
        d.calledName = callee->settings_.name;
        auto b = std::make_shared<SimLeg>(this, callee, d);
        b->state_ = LINECALLSTATE_OFFERING;
        b->mode_ = LINEOFFERINGMODE_ACTIVE;
        b->conn_ = conn;
        conn->called = b;
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
    const DWORD ringMs = conn->script.ringMs ? conn->script.ringMs : settings_.ringMs;
    conn->ringTimer = StartTimer(ringMs, [this, conn] { Ring(conn); });
    DWORD failMs
        = telephony::ModemDevConfigOf(a->line_->devConfig_).modemsettings.dwCallSetupFailTimer * 1000;
    if (conn->script.noAnswer && conn->script.noAnswerMs)
        failMs = conn->script.noAnswerMs;
    if (failMs)
        conn->failTimer = StartTimer(failMs, [this, conn] {
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
    if (conn->calledLine)
        sink_->LineRinging(conn->calledLine, conn->rings);
    if (conn->answerRings > 0 && conn->rings >= DWORD(conn->answerRings)) {
        Connect(conn);
        return;
    }
    const DWORD ringMs = conn->script.ringMs ? conn->script.ringMs : settings_.ringMs;
    conn->ringTimer = StartTimer(ringMs, [this, conn] { Ring(conn); });
}

void SimExchange::Connect(const std::shared_ptr<Connection>& conn)
{
    if (conn->ended || conn->connected)
        return;
    CancelTimer(conn->ringTimer);
    CancelTimer(conn->failTimer);
    conn->connected = true;
    if (IsDataCall(conn->caller->details_))
        Negotiate(*conn);
    if (conn->called)
        SetState(conn->called, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    SetState(conn->caller, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    if (conn->called) {
        conn->caller->line_->audio_->SetTarget(conn->called->line_->audio_->In());
        conn->called->line_->audio_->SetTarget(conn->caller->line_->audio_->In());
        // The caller is in another program: what the line plays goes there.
        if (auto link = conn->remote)
            conn->called->line_->audio_->SetForward(
                [link](const void* d, size_t n) { link->Send(remote::kAudio, d, uint32_t(n)); });
    }
    if (conn->script.hangUpMs)
        conn->hangTimer = StartTimer(conn->script.hangUpMs, [this, conn] {
            conn->hangTimer = 0;
            End(conn, LINEDISCONNECTMODE_NORMAL, LINEDISCONNECTMODE_NORMAL);
        });
    SendDigits(conn);
}

void SimExchange::SendDigits(const std::shared_ptr<Connection>& conn)
{
    auto a = conn->caller;
    if (conn->ended || !conn->connected || conn->digitTimer || !a->monitorModes_
        || conn->digitPos >= conn->script.digits.size())
        return;
    conn->digitTimer = StartTimer(kDigitGapMs, [this, conn] {
        conn->digitTimer = 0;
        auto a = conn->caller;
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
    SimLine* la = conn.caller->line_;
    SimLine* lb = conn.called ? conn.called->line_ : nullptr;
    telephony::ModemDevConfig ca = telephony::ModemDevConfigOf(la->devConfig_);
    DWORD rate = ca.commconfig.dcb.BaudRate;
    DWORD common = ca.modemsettings.dwPreferredModemOptions & shared;
    if (lb) {
        const telephony::ModemDevConfig cb = telephony::ModemDevConfigOf(lb->devConfig_);
        rate = std::min(rate, cb.commconfig.dcb.BaudRate);
        common &= cb.modemsettings.dwPreferredModemOptions;
    }
    for (SimLine* l : { la, lb }) {
        if (!l || !telephony::IsModemDevConfig(l->devConfig_.data(), l->devConfig_.size()))
            continue;
        telephony::ModemDevConfig c = telephony::ModemDevConfigOf(l->devConfig_);
        c.modemsettings.dwNegotiatedDCERate = rate;
        c.modemsettings.dwNegotiatedModemOptions = common | (c.modemsettings.dwPreferredModemOptions & flow);
        std::memcpy(l->devConfig_.data(), &c, sizeof c);
        // What was negotiated serves this call from memory; a store that
        // cannot take it has said so, and the call goes on.
        SaveDevConfig(l->settings_.key, l->devConfig_);
    }
    conn.caller->details_.rate = rate;
    if (conn.called)
        conn.called->details_.rate = rate;
}

void SimExchange::Unlink(Connection& conn)
{
    for (auto* leg : { conn.caller.get(), conn.called.get() })
        if (leg && leg->line_)
            leg->line_->audio_->SetTarget(nullptr);
}

void SimExchange::End(const std::shared_ptr<Connection>& conn, DWORD modeA, DWORD modeB)
{
    if (conn->ended)
        return;
    conn->ended = true;
    CancelTimer(conn->ringTimer);
    CancelTimer(conn->failTimer);
    CancelTimer(conn->hangTimer);
    CancelTimer(conn->digitTimer);
    Unlink(*conn);
    // Mode 0 leaves that side alone (it is dropping the call itself).
    if (modeB)
        Disconnect(conn->called, modeB);
    if (modeA)
        Disconnect(conn->caller, modeA);
    // The other program learns of the end (the called side through the
    // caller's state) and the link goes.
    if (auto link = conn->remote) {
        if (!conn->remoteCaller) {
            const uint32_t mode = modeB ? modeB : LINEDISCONNECTMODE_NORMAL;
            link->Send(remote::kEnd, &mode, sizeof mode);
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
        const bool rejected = leg.get() == conn->called.get() && leg->state_ == LINECALLSTATE_OFFERING;
        const DWORD peerMode = rejected ? LINEDISCONNECTMODE_REJECT : LINEDISCONNECTMODE_NORMAL;
        if (leg.get() == conn->caller.get())
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
    if (auto conn = leg->conn_.lock(); conn && conn->remoteCaller && leg == conn->caller && conn->remote) {
        const uint32_t values[2] = { state, mode };
        conn->remote->Send(remote::kState, values, sizeof values);
    }
    if (state != LINECALLSTATE_IDLE)
        return;
    leg->ReleasePort();
    if (leg->line_ && leg->line_->leg_ == leg)
        leg->line_->leg_.reset();
    if (auto conn = leg->conn_.lock()) {
        const bool aIdle = conn->caller->state_ == LINECALLSTATE_IDLE;
        const bool bIdle = !conn->called || conn->called->state_ == LINECALLSTATE_IDLE;
        if (aIdle && bIdle) {
            End(conn, 0, 0);
            conns_.erase(conn);
        }
    }
}

} // namespace zq::sim
