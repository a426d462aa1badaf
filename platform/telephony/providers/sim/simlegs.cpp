// The legs of calls and the lines of the simulated exchange, as the service
// sees them.
#include "simexchange_p.h"

#include "commpair.h"
#include "devconfig.h"
#include "handles.h"

#include <cstdio>

namespace zq::sim {

namespace {

constexpr DWORD kCarrier = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;

} // namespace

// ---- SimLeg ---------------------------------------------------------------

LONG SimLeg::Answer(DWORD requestId)
{
    if (!ex_)
        return LONG(LINEERR_OPERATIONFAILED);
    ex_->StartTimer(0, [self = shared_from_this(), requestId] {
        auto conn = self->conn_.lock();
        if (self->state_ != LINECALLSTATE_OFFERING || !conn || conn->ended) {
            self->ex_->Sink()->RequestCompleted(requestId, LONG(LINEERR_INVALCALLSTATE));
            return;
        }
        self->ex_->Sink()->RequestCompleted(requestId, 0);
        self->ex_->StartTimer(self->ex_->ProgressMs(), [self, conn] { self->ex_->Connect(conn); });
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
    ex_->StartTimer(0, [self = shared_from_this(), requestId] {
        self->ex_->Sink()->RequestCompleted(requestId, 0);
        self->ex_->DropLeg(self);
    });
    return 0;
}

LONG SimLeg::SetBearerMode(DWORD requestId, DWORD bearerMode)
{
    if (!ex_)
        return LONG(LINEERR_OPERATIONFAILED);
    ex_->StartTimer(0, [self = shared_from_this(), requestId, bearerMode] {
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

HANDLE SimLeg::LendPort()
{
    if (!ex_ || state_ != LINECALLSTATE_CONNECTED)
        return INVALID_HANDLE_VALUE;
    // The side the peer's lending joined to this call, or the handle the
    // application holds already (asked again): that one.
    if (port_ != INVALID_HANDLE_VALUE) {
        portLent_ = true;
        return port_;
    }
    // Join a fresh pair of ports, the far side going to the peer (or kept
    // by the exchange).
    HANDLE mine = INVALID_HANDLE_VALUE, theirs = INVALID_HANDLE_VALUE;
    if (!serial::CreateCommPortPair(&mine, &theirs))
        return INVALID_HANDLE_VALUE;
    serial::SetCommPairModemStatus(mine, kCarrier, kCarrier);
    serial::SetCommPairModemStatus(theirs, kCarrier, kCarrier);
    port_ = mine;
    portLent_ = true;
    auto conn = conn_.lock();
    std::shared_ptr<SimLeg> peer;
    if (conn)
        peer = conn->caller.get() == this ? conn->called : conn->caller;
    if (peer) {
        peer->ReleasePort();
        peer->port_ = theirs;
    } else {
        if (heldPeerPort_ != INVALID_HANDLE_VALUE)
            CloseHandle(heldPeerPort_);
        heldPeerPort_ = theirs;
    }
    return port_;
}

void SimLeg::PortReturned(HANDLE port)
{
    // The application closed it: the handle is gone, the next lending makes
    // a fresh pair.
    if (port == port_ && portLent_) {
        port_ = INVALID_HANDLE_VALUE;
        portLent_ = false;
    }
}

void SimLeg::ReleasePort()
{
    if (port_ != INVALID_HANDLE_VALUE) {
        if (portLent_) {
            // The application closes its handle; it sees the carrier drop.
            serial::SetCommPairModemStatus(port_, kCarrier, 0);
        } else {
            CloseHandle(port_);
        }
    }
    port_ = INVALID_HANDLE_VALUE;
    portLent_ = false;
    if (heldPeerPort_ != INVALID_HANDLE_VALUE)
        CloseHandle(heldPeerPort_);
    heldPeerPort_ = INVALID_HANDLE_VALUE;
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

telephony::LineCaps SimLine::Caps() const
{
    telephony::LineCaps c;
    c.key = settings_.key;
    c.name = settings_.name;
    c.portName = settings_.port;
    c.number = settings_.number;
    c.bearerModes = LINEBEARERMODE_VOICE | LINEBEARERMODE_DATA | LINEBEARERMODE_PASSTHROUGH;
    c.mediaModes = kVoiceModes | LINEMEDIAMODE_DATAMODEM;
    c.maxRate = telephony::ModemDevConfigOf(devConfig_).commconfig.dcb.BaudRate;
    c.permanentId = index_ + 1;
    return c;
}

LONG SimLine::Open()
{
    std::lock_guard lock(telephony::ServiceLock());
    if (settings_.failOpen)
        return LONG(LINEERR_RESOURCEUNAVAIL);
    open_ = true;
    return 0;
}

void SimLine::Close()
{
    std::unique_ptr<remote::Listener> listener;
    {
        std::lock_guard lock(telephony::ServiceLock());
        open_ = false;
        detection_ = 0;
        listener = std::move(listener_);
    }
    // Its thread may be handing over a call: joined without the lock.
    listener.reset();
}

LONG SimLine::SetDetection(DWORD ownerMediaModes)
{
    detection_ = ownerMediaModes;
    // While it waits for voice calls, programs elsewhere can reach it.
    if (!(ownerMediaModes & kVoiceModes)) {
        listener_.reset();
        return 0;
    }
    if (listener_)
        return 0;
    SimExchange* ex = ex_;
    std::weak_ptr<bool> alive = ex->alive_;
    listener_ = std::make_unique<remote::Listener>(
        settings_.number, [ex, alive](std::shared_ptr<remote::Link> link) {
            if (alive.lock())
                ex->AcceptRemote(std::move(link));
        });
    if (!listener_->Active()) {
        // A waiter that callers elsewhere cannot reach would wait in vain.
        std::fprintf(stderr, "Simulated exchange: %s (%s) cannot wait for calls: %s\n",
            settings_.name.c_str(), settings_.number.c_str(), listener_->Error().c_str());
        listener_.reset();
        detection_ = 0;
        return LONG(LINEERR_RESOURCEUNAVAIL);
    }
    return 0;
}

LONG SimLine::MakeCall(DWORD requestId, const telephony::MakeCallRequest& request,
    std::shared_ptr<telephony::ProviderCall>* call)
{
    if (leg_)
        return LONG(LINEERR_CALLUNAVAIL);
    *call = ex_->PlaceCall(this, requestId, request);
    return *call ? 0 : LONG(LINEERR_OPERATIONFAILED);
}

LONG SimLine::SetDevConfig(const void* data, size_t size)
{
    if (size > 2048 || !telephony::IsModemDevConfig(data, size))
        return LONG(LINEERR_INVALPARAM);
    std::vector<uint8_t> block(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    // The line keeps what its store keeps: a block that could not be saved
    // (the store has said why) is refused, not taken for this run only.
    if (SaveDevConfig(settings_.key, block) != LONG(ERROR_SUCCESS))
        return LONG(LINEERR_OPERATIONFAILED);
    devConfig_ = std::move(block);
    return 0;
}

} // namespace zq::sim
