#pragma once
// A provider written for the tests: its lines and calls do only what the
// test makes them do, and they record how the service treats them (which
// calls came, with or without the service lock held).
#include "provider.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fake {

using namespace zq::telephony;

// True when no thread holds the service lock: another thread gets it
// within a bound. Providers may wait for such a thread in Start, Stop, Open
// and Close; under the lock it would wait for ever.
bool LockIsFree();

// A line's sound as the test sees it: what was played, what it will hear.
class Audio : public LineAudio {
public:
    void Play(const void* data, size_t bytes) override;
    size_t Record(void* data, size_t bytes) override;
    bool RealTime() const override { return false; }
    // Play blocks until Release (a line paced by flow control), or returns
    // at once once the call has ended.
    void Hold();
    void Release();
    void EndCall();
    std::vector<int16_t> Played() const;
    size_t PlayedBytes() const;
    void Hear(const std::vector<int16_t>& samples);

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool held_ = false, ended_ = false;
    std::vector<uint8_t> played_;
    std::deque<uint8_t> heard_;
};

class Line;

class Call : public ProviderCall, public std::enable_shared_from_this<Call> {
public:
    explicit Call(Line* line)
        : line_(line)
    {
    }
    DWORD State() const override { return state; }
    DWORD StateMode() const override { return mode; }
    CallDetails Details() const override { return details; }
    LONG Answer(DWORD requestId) override;
    LONG Drop(DWORD requestId) override;
    LONG SetBearerMode(DWORD requestId, DWORD bearerMode) override;
    void MonitorDigits(DWORD) override { }
    HANDLE LendPort() override;
    void PortReturned(HANDLE port) override;
    void Released() override { released = true; }

    // Reports a state (lock held by the caller).
    void Report(DWORD newState, DWORD newMode = 0);

    Line* line_;
    DWORD state = 0, mode = 0;
    CallDetails details;
    DWORD lastRequest = 0;
    bool released = false;
    HANDLE lent = INVALID_HANDLE_VALUE, far = INVALID_HANDLE_VALUE;
    std::vector<HANDLE> returned;
};

class Provider;

class Line : public ProviderLine {
public:
    Line(Provider* p, std::string key)
        : provider_(p)
        , key_(std::move(key))
    {
    }
    LineCaps Caps() const override;
    LONG Open() override;
    void Close() override;
    LONG SetDetection(DWORD modes) override
    {
        detection = modes;
        return 0;
    }
    LONG MakeCall(
        DWORD requestId, const MakeCallRequest& request, std::shared_ptr<ProviderCall>* call) override;
    std::shared_ptr<ProviderCall> CurrentCall() override { return call; }
    std::shared_ptr<LineAudio> Audio() override { return audio; }
    std::vector<uint8_t> DevConfig() const override { return devConfig; }
    LONG SetDevConfig(const void* data, size_t size) override;

    // An incoming call in the offering state (lock held by the caller).
    std::shared_ptr<Call> Offer(const std::string& callerId = "");

    Provider* provider_;
    std::string key_;
    DWORD detection = 0;
    std::shared_ptr<Call> call;
    std::shared_ptr<fake::Audio> audio = std::make_shared<fake::Audio>();
    std::vector<uint8_t> devConfig = { 1, 2, 3 };
    int opens = 0, closes = 0;
    bool openedUnderLock = false, closedUnderLock = false;
    std::string lastDialled;
};

class Provider : public zq::telephony::Provider {
public:
    Provider();
    ~Provider() override;
    std::string Name() const override { return "Fake lines"; }
    std::vector<ProviderLine*> Start(ServiceSink* sink) override;
    void Stop() override;

    // A new line reported to the service (lock held by the caller).
    Line* AddLine(const std::string& key);

    ServiceSink* sink = nullptr;
    std::vector<std::unique_ptr<Line>> lines;
    int starts = 0;
    bool startedUnderLock = false;
    // Completes MakeCall at once with these states right after the reply.
    std::vector<std::pair<DWORD, DWORD>> statesAfterDial;
};

// The provider the service runs now (null before the first start).
Provider* Current();
// What happened to every fake provider during the test program.
struct Totals {
    int made = 0, stops = 0;
    bool stoppedUnderLock = false;
};
Totals& Counts();
// Factory to install with UseProvidersForTesting.
std::unique_ptr<zq::telephony::Provider> Create();

} // namespace fake
