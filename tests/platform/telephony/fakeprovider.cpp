#include "fakeprovider.h"

#include "commpair.h"
#include "handles.h"
#include "tapi.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace fake {

namespace {
Provider* current = nullptr;
} // namespace

bool LockIsFree()
{
    bool got = false;
    std::thread probe([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!got && std::chrono::steady_clock::now() < until) {
            if (ServiceLock().try_lock()) {
                got = true;
                ServiceLock().unlock();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    probe.join();
    return got;
}

// ---- Audio ------------------------------------------------------------------

void Audio::Play(const void* data, size_t bytes)
{
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return !held_ || ended_; });
    if (ended_)
        return;
    const auto* p = static_cast<const uint8_t*>(data);
    played_.insert(played_.end(), p, p + bytes);
}

size_t Audio::Record(void* data, size_t bytes)
{
    std::lock_guard lock(mutex_);
    const size_t n = std::min(bytes, heard_.size());
    std::copy(heard_.begin(), heard_.begin() + ptrdiff_t(n), static_cast<uint8_t*>(data));
    heard_.erase(heard_.begin(), heard_.begin() + ptrdiff_t(n));
    return n;
}

void Audio::Hold()
{
    std::lock_guard lock(mutex_);
    held_ = true;
}

void Audio::Release()
{
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    cv_.notify_all();
}

void Audio::EndCall()
{
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    cv_.notify_all();
}

std::vector<int16_t> Audio::Played() const
{
    std::lock_guard lock(mutex_);
    std::vector<int16_t> s(played_.size() / 2);
    if (!s.empty())
        std::memcpy(s.data(), played_.data(), s.size() * 2);
    return s;
}

size_t Audio::PlayedBytes() const
{
    std::lock_guard lock(mutex_);
    return played_.size();
}

void Audio::Hear(const std::vector<int16_t>& samples)
{
    std::lock_guard lock(mutex_);
    const auto* p = reinterpret_cast<const uint8_t*>(samples.data());
    heard_.insert(heard_.end(), p, p + samples.size() * 2);
}

// ---- Call -------------------------------------------------------------------

void Call::Report(DWORD newState, DWORD newMode)
{
    state = newState;
    mode = newMode;
    line_->provider_->sink->CallStateChanged(this, newState, newMode);
    if (newState == LINECALLSTATE_IDLE && line_->call.get() == this)
        line_->call.reset();
}

LONG Call::Answer(DWORD requestId)
{
    lastRequest = requestId;
    auto self = shared_from_this();
    line_->provider_->sink->StartTimer(0, [self, requestId] {
        self->line_->provider_->sink->RequestCompleted(requestId, 0);
        self->Report(LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE);
    });
    return 0;
}

LONG Call::Drop(DWORD requestId)
{
    lastRequest = requestId;
    auto self = shared_from_this();
    line_->provider_->sink->StartTimer(0, [self, requestId] {
        if (requestId)
            self->line_->provider_->sink->RequestCompleted(requestId, 0);
        if (self->state != LINECALLSTATE_IDLE)
            self->Report(LINECALLSTATE_IDLE);
    });
    return 0;
}

LONG Call::SetBearerMode(DWORD requestId, DWORD)
{
    auto self = shared_from_this();
    line_->provider_->sink->StartTimer(
        0, [self, requestId] { self->line_->provider_->sink->RequestCompleted(requestId, 0); });
    return 0;
}

HANDLE Call::LendPort()
{
    if (state != LINECALLSTATE_CONNECTED)
        return INVALID_HANDLE_VALUE;
    if (lent != INVALID_HANDLE_VALUE)
        return lent;
    if (!zq::serial::CreateCommPortPair(&lent, &far))
        return INVALID_HANDLE_VALUE;
    return lent;
}

void Call::PortReturned(HANDLE port)
{
    returned.push_back(port);
    if (port == lent)
        lent = INVALID_HANDLE_VALUE;
}

// ---- Line -------------------------------------------------------------------

LineCaps Line::Caps() const
{
    LineCaps c;
    c.key = key_;
    c.name = "Fake line " + key_;
    c.portName = "FAKE" + key_;
    c.number = "10" + key_;
    c.bearerModes = LINEBEARERMODE_VOICE | LINEBEARERMODE_DATA;
    c.mediaModes = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM;
    c.maxRate = 9600;
    return c;
}

LONG Line::Open()
{
    openedUnderLock = openedUnderLock || !LockIsFree();
    ++opens;
    return 0;
}

void Line::Close()
{
    closedUnderLock = closedUnderLock || !LockIsFree();
    ++closes;
}

LONG Line::MakeCall(DWORD requestId, const MakeCallRequest& request, std::shared_ptr<ProviderCall>* out)
{
    if (call)
        return LONG(LINEERR_CALLUNAVAIL);
    lastDialled = request.dialable;
    call = std::make_shared<Call>(this);
    call->state = LINECALLSTATE_DIALING;
    call->details.origin = LINECALLORIGIN_OUTBOUND;
    call->details.mediaMode = request.mediaMode;
    call->details.bearerMode = request.bearerMode;
    call->details.calledId = request.dialable;
    call->lastRequest = requestId;
    *out = call;
    // The dial is accepted at once; what the far end does follows in the
    // same breath, as a fast SIP peer or modem would report it.
    std::shared_ptr<Call> c = call;
    auto states = provider_->statesAfterDial;
    provider_->sink->StartTimer(0, [c, requestId, states] {
        c->line_->provider_->sink->RequestCompleted(requestId, 0);
        for (auto [s, m] : states)
            c->Report(s, m);
    });
    return 0;
}

LONG Line::SetDevConfig(const void* data, size_t size)
{
    devConfig.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    return 0;
}

std::shared_ptr<Call> Line::Offer(const std::string& callerId)
{
    call = std::make_shared<Call>(this);
    call->state = LINECALLSTATE_OFFERING;
    call->details.origin = LINECALLORIGIN_INBOUND;
    call->details.mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    call->details.bearerMode = LINEBEARERMODE_VOICE;
    call->details.callerId = callerId;
    provider_->sink->CallOffered(this, call);
    return call;
}

// ---- Provider ---------------------------------------------------------------

Provider::Provider()
{
    current = this;
    ++Counts().made;
}

Provider::~Provider()
{
    if (current == this)
        current = nullptr;
}

std::vector<ProviderLine*> Provider::Start(ServiceSink* s)
{
    startedUnderLock = !LockIsFree();
    ++starts;
    sink = s;
    std::vector<ProviderLine*> out;
    for (const char* key : { "1", "2" }) {
        lines.push_back(std::make_unique<Line>(this, key));
        out.push_back(lines.back().get());
    }
    return out;
}

void Provider::Stop()
{
    Counts().stoppedUnderLock = Counts().stoppedUnderLock || !LockIsFree();
    ++Counts().stops;
    std::lock_guard lock(ServiceLock());
    for (auto& l : lines)
        if (l->call)
            l->audio->EndCall();
}

Line* Provider::AddLine(const std::string& key)
{
    lines.push_back(std::make_unique<Line>(this, key));
    sink->LineAdded(lines.back().get());
    return lines.back().get();
}

Provider* Current()
{
    return current;
}

Totals& Counts()
{
    static Totals totals;
    return totals;
}

std::unique_ptr<zq::telephony::Provider> Create()
{
    return std::make_unique<Provider>();
}

} // namespace fake
