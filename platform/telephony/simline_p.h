#pragma once
// Inner classes of the simulated exchange: its lines, the two legs of each
// call, and the connection between them.
#include "provider.h"
#include "simexchange.h"
#include "simremote_p.h"
#include "simscript_p.h"
#include "tapi.h"
#include "waveendpoints.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class SimExchange;
class SimLine;
struct Connection;

// A line's wave-out: what is played goes to the connected peer's wave-in,
// or, for a peer in another program, to a function that sends it there.
class LineWaveOut : public WaveOutEndpoint {
public:
    using Forward = std::function<void(const void*, size_t)>;
    void Write(const void* data, size_t bytes) override;
    void SetTarget(std::shared_ptr<PcmPipe> target);
    void SetForward(Forward forward);

private:
    std::mutex mutex_;
    std::shared_ptr<PcmPipe> target_;
    Forward forward_;
};

// A line's wave devices. They stay registered for the life of the process,
// so identifiers that applications listed stay valid when the service
// restarts.
struct LineAudio {
    UINT outId = 0;
    UINT inId = 0;
    std::shared_ptr<LineWaveOut> out;
    std::shared_ptr<PcmPipe> in;
};
LineAudio& LineAudioFor(const std::string& key, const std::string& name);

struct SimLineSettings {
    std::string key, name, number, port, callerId, callerName;
    bool failOpen = false;
    CallScript script; // when the line is called
};

class SimLeg : public tsp::ProviderCall, public std::enable_shared_from_this<SimLeg> {
public:
    SimLeg(SimExchange* ex, SimLine* line, tsp::CallDetails d)
        : ex_(ex)
        , line_(line)
        , details_(std::move(d))
    {
    }
    ~SimLeg() override { ReleasePort(); }
    DWORD State() const override { return state_; }
    DWORD StateMode() const override { return mode_; }
    tsp::CallDetails Details() const override { return details_; }
    LONG Answer(DWORD requestId) override;
    LONG Drop(DWORD requestId) override;
    LONG SetBearerMode(DWORD requestId, DWORD bearerMode) override;
    void MonitorDigits(DWORD modes) override;
    HANDLE OpenCommPort() override;
    void Released() override;
    // Ends this side's data path: a handle given out loses its carrier, one
    // still kept is closed.
    void ReleasePort();

    SimExchange* ex_;
    SimLine* line_;
    tsp::CallDetails details_;
    DWORD state_ = 0;
    DWORD mode_ = 0;
    DWORD monitorModes_ = 0;
    bool released_ = false; // no application holds the call
    std::weak_ptr<Connection> conn_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    bool portGiven_ = false;
    HANDLE far_ = INVALID_HANDLE_VALUE; // the other port when no line answers
};

struct Connection {
    std::shared_ptr<SimLeg> a; // caller
    std::shared_ptr<SimLeg> b; // called line, null for the answering party
    SimLine* callee = nullptr;
    bool dialledEmpty = false;
    std::string dialled;
    CallScript script;
    int answerRings = -1;
    DWORD rings = 0;
    tsp::TimerId ringTimer = 0, failTimer = 0, hangTimer = 0, digitTimer = 0;
    bool connected = false;
    bool ended = false;
    size_t digitPos = 0;
    // A call to or from a line of another program: the link to it, and on
    // the called side the stand-in for the caller's line.
    std::shared_ptr<simremote::Link> remote;
    std::unique_ptr<SimLine> remoteCaller;
    std::unique_ptr<LineAudio> remoteCallerAudio;
};

class SimLine : public tsp::ProviderLine {
public:
    SimLine(SimExchange* ex, SimLineSettings s, DWORD index)
        : ex_(ex)
        , s_(std::move(s))
        , index_(index)
    {
    }
    tsp::LineCaps Caps() const override;
    LONG Open() override;
    void Close() override;
    void SetDetection(DWORD ownerMediaModes) override;
    LONG MakeCall(DWORD requestId, const tsp::MakeCallRequest& request,
        std::shared_ptr<tsp::ProviderCall>* call) override;
    HANDLE OpenCommPort() override;
    std::vector<uint8_t> DevConfig() const override { return devConfig_; }
    LONG SetDevConfig(const void* data, size_t size) override;
    void SaveDevConfig();

    SimExchange* ex_;
    SimLineSettings s_;
    DWORD index_;
    bool open_ = false;
    DWORD detection_ = 0;
    std::shared_ptr<SimLeg> leg_; // the line's call while it is not idle
    std::vector<uint8_t> devConfig_;
    LineAudio* audio_ = nullptr;
    std::unique_ptr<simremote::Listener> listener_; // while it waits for voice calls
};

class SimExchange : public tsp::Provider {
public:
    std::string Name() const override { return "Simulated exchange"; }
    std::vector<tsp::ProviderLine*> Start(tsp::ServiceSink* sink) override;
    void Stop() override;

    tsp::ServiceSink* Sink() const { return sink_; }
    // Runs fn later on the timer thread; cancelled by Stop.
    void Later(DWORD ms, std::function<void()> fn);
    tsp::TimerId Timer(DWORD ms, std::function<void()> fn);
    void Cancel(tsp::TimerId& id);

    std::shared_ptr<SimLeg> PlaceCall(SimLine* from, DWORD requestId, const tsp::MakeCallRequest& r);
    void Connect(const std::shared_ptr<Connection>& conn);
    void SendDigits(const std::shared_ptr<Connection>& conn);
    void DropLeg(const std::shared_ptr<SimLeg>& leg);
    void SetState(const std::shared_ptr<SimLeg>& leg, DWORD state, DWORD mode);
    // A program dialling one of this program's waiting lines.
    void AcceptRemote(std::shared_ptr<simremote::Link> link);

private:
    void DialRemote(const std::shared_ptr<Connection>& conn, std::shared_ptr<simremote::Link> link,
        const std::string& dialled);
    void RemoteDialled(std::shared_ptr<simremote::Link> link, const std::string& payload);
    SimLine* LineByNumber(const std::string& number) const;
    void Begin(const std::shared_ptr<Connection>& conn, DWORD requestId);
    void Proceed(const std::shared_ptr<Connection>& conn);
    void Ring(const std::shared_ptr<Connection>& conn);
    void Negotiate(Connection& conn);
    void Unlink(Connection& conn);
    void End(const std::shared_ptr<Connection>& conn, DWORD modeA, DWORD modeB);
    void Disconnect(const std::shared_ptr<SimLeg>& leg, DWORD mode);

    tsp::ServiceSink* sink_ = nullptr;
    DWORD ringMs_ = 2000;
    std::vector<std::unique_ptr<SimLine>> lines_;
    std::set<std::shared_ptr<Connection>> conns_;
    std::set<tsp::TimerId> timers_;

public:
    // Cleared by Stop: what another program's link still brings is dropped.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
