#pragma once
// Inner classes of the simulated exchange: its lines, the two legs of each
// call, and the connection between them. Everything here is touched with
// ServiceLock held, except SimLineAudio (wave threads, its own mutex).
#include "provider.h"
#include "simexchange.h"
#include "simremote_p.h"
#include "simscript_p.h"
#include "tapi.h"
#include "waveendpoints.h"

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace zq::sim {

class SimExchange;
class SimLine;
struct Connection;

// A line's sound: what it plays goes to the connected peer's pipe or, for a
// peer in another program, to a function that sends it there; what it hears
// arrives in its own pipe.
class SimLineAudio : public telephony::LineAudio {
public:
    using Forward = std::function<void(const void*, size_t)>;
    void Play(const void* data, size_t bytes) override;
    size_t Record(void* data, size_t bytes) override { return in_->Read(data, bytes); }
    void RecordStarted() override { in_->Clear(); }
    void SetTarget(std::shared_ptr<zq::wave::PcmPipe> target);
    void SetForward(Forward forward);
    const std::shared_ptr<zq::wave::PcmPipe>& In() const { return in_; }

private:
    std::mutex mutex_;
    std::shared_ptr<zq::wave::PcmPipe> target_;
    Forward forward_;
    const std::shared_ptr<zq::wave::PcmPipe> in_ = std::make_shared<zq::wave::PcmPipe>();
};

struct SimLineSettings {
    std::string key, name, number, port, callerId, callerName;
    bool failOpen = false;
    CallScript script; // when the line is called
    bool operator==(const SimLineSettings&) const = default;
};

// The exchange's own settings and its lines', as read from the store.
struct SimSettings {
    DWORD ringMs = 2000;
    DWORD progressMs = 100;
    std::vector<SimLineSettings> lines;
    bool operator==(const SimSettings&) const = default;
};
SimSettings ReadSimSettings();
// Stores the two default lines when there are none. ERROR_SUCCESS, or the
// store's error code (the store has said why); a line it could not store
// whole is taken out again, so the next start makes both afresh.
LONG CreateDefaultLines();
// The line's stored configuration block, or a default one.
std::vector<uint8_t> ReadDevConfig(const std::string& lineKey);
// ERROR_SUCCESS, or the store's error code.
LONG SaveDevConfig(const std::string& lineKey, const std::vector<uint8_t>& block);

class SimLeg : public telephony::ProviderCall, public std::enable_shared_from_this<SimLeg> {
public:
    SimLeg(SimExchange* ex, SimLine* line, telephony::CallDetails d)
        : ex_(ex)
        , line_(line)
        , details_(std::move(d))
    {
    }
    ~SimLeg() override { ReleasePort(); }
    DWORD State() const override { return state_; }
    DWORD StateMode() const override { return mode_; }
    telephony::CallDetails Details() const override { return details_; }
    LONG Answer(DWORD requestId) override;
    LONG Drop(DWORD requestId) override;
    LONG SetBearerMode(DWORD requestId, DWORD bearerMode) override;
    void MonitorDigits(DWORD modes) override;
    HANDLE LendPort() override;
    void PortReturned(HANDLE port) override;
    void Released() override;
    // Ends this side's data path: a lent handle loses its carrier, one still
    // kept is closed.
    void ReleasePort();

private:
    // The exchange runs the call; the leg and its line reach each other.
    friend class SimExchange;
    friend class SimLine;

    SimExchange* ex_;
    SimLine* line_;
    telephony::CallDetails details_;
    DWORD state_ = 0;
    DWORD mode_ = 0;
    DWORD monitorModes_ = 0;
    bool released_ = false; // no application holds the call
    std::weak_ptr<Connection> conn_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    bool portLent_ = false;
    HANDLE heldPeerPort_ = INVALID_HANDLE_VALUE; // the other port when no line answers
};

// One call through the exchange, from the caller's leg to the called one.
// Only the exchange and the call's legs touch it (ServiceLock held).
struct Connection {
    std::shared_ptr<SimLeg> caller;
    std::shared_ptr<SimLeg> called; // null when no line of ours answers
    SimLine* calledLine = nullptr; // the line dialled, when it is ours
    bool dialledEmpty = false;
    std::string dialled;
    CallScript script;
    int answerRings = -1;
    DWORD rings = 0;
    telephony::TimerId ringTimer = 0, failTimer = 0, hangTimer = 0, digitTimer = 0;
    bool connected = false;
    bool ended = false;
    size_t digitPos = 0;
    // A call to or from a line of another program: the link to it, and on
    // the called side the stand-in for the caller's line.
    std::shared_ptr<remote::Link> remote;
    std::unique_ptr<SimLine> remoteCaller;
};

class SimLine : public telephony::ProviderLine {
public:
    SimLine(SimExchange* ex, SimLineSettings s, DWORD index)
        : ex_(ex)
        , settings_(std::move(s))
        , index_(index)
    {
    }
    telephony::LineCaps Caps() const override;
    LONG Open() override;
    void Close() override;
    LONG SetDetection(DWORD ownerMediaModes) override;
    LONG MakeCall(DWORD requestId, const telephony::MakeCallRequest& request,
        std::shared_ptr<telephony::ProviderCall>* call) override;
    std::shared_ptr<telephony::ProviderCall> CurrentCall() override { return leg_; }
    std::shared_ptr<telephony::LineAudio> Audio() override { return audio_; }
    std::vector<uint8_t> DevConfig() const override { return devConfig_; }
    LONG SetDevConfig(const void* data, size_t size) override;

private:
    // The exchange connects the line's calls; its legs reach its audio.
    friend class SimExchange;
    friend class SimLeg;

    SimExchange* ex_;
    SimLineSettings settings_;
    DWORD index_;
    bool open_ = false;
    DWORD detection_ = 0;
    std::shared_ptr<SimLeg> leg_; // the line's call while it is not idle
    std::vector<uint8_t> devConfig_;
    const std::shared_ptr<SimLineAudio> audio_ = std::make_shared<SimLineAudio>();
    std::unique_ptr<remote::Listener> listener_; // while it waits for voice calls
};

class SimExchange : public telephony::Provider {
public:
    std::string Name() const override { return "Simulated exchange"; }
    std::vector<telephony::ProviderLine*> Start(telephony::ServiceSink* sink) override;
    void Stop() override;
    bool SettingsChanged() const override;
    LONG StartError() const override { return startError_; }

    telephony::ServiceSink* Sink() const { return sink_; }
    DWORD ProgressMs() const { return settings_.progressMs; }
    // Runs fn after ms on the timer thread, unless cancelled first (Stop
    // cancels every one); the id is for CancelTimer, which zeroes it.
    telephony::TimerId StartTimer(DWORD ms, std::function<void()> fn);
    void CancelTimer(telephony::TimerId& id);

    std::shared_ptr<SimLeg> PlaceCall(SimLine* from, DWORD requestId, const telephony::MakeCallRequest& r);
    void Connect(const std::shared_ptr<Connection>& conn);
    void SendDigits(const std::shared_ptr<Connection>& conn);
    void DropLeg(const std::shared_ptr<SimLeg>& leg);
    void SetState(const std::shared_ptr<SimLeg>& leg, DWORD state, DWORD mode);
    // A program dialling one of this program's waiting lines.
    void AcceptRemote(std::shared_ptr<remote::Link> link);

    // Cleared by Stop: what another program's link still brings is dropped.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

private:
    LONG startError_ = 0;
    void DialRemote(const std::shared_ptr<Connection>& conn, std::shared_ptr<remote::Link> link,
        const std::string& dialled);
    void RemoteDialled(std::shared_ptr<remote::Link> link, const std::string& payload);
    SimLine* LineByNumber(const std::string& number) const;
    void Begin(const std::shared_ptr<Connection>& conn, DWORD requestId);
    void Proceed(const std::shared_ptr<Connection>& conn);
    void Ring(const std::shared_ptr<Connection>& conn);
    void Negotiate(Connection& conn);
    void Unlink(Connection& conn);
    void End(const std::shared_ptr<Connection>& conn, DWORD modeA, DWORD modeB);
    void Disconnect(const std::shared_ptr<SimLeg>& leg, DWORD mode);

    telephony::ServiceSink* sink_ = nullptr;
    SimSettings settings_;
    std::vector<std::unique_ptr<SimLine>> lines_;
    std::set<std::shared_ptr<Connection>> conns_;
    std::set<telephony::TimerId> timers_;
};

// Shared by the parts of the exchange.
constexpr DWORD kDefaultAnswerRings = 2;
constexpr DWORD kVoiceModes = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
bool IsDataCall(const telephony::CallDetails& d);

} // namespace zq::sim
