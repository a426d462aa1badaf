#pragma once
// A modem as a line device of the telephony service: its calls, its wave
// devices and its data path, on top of a ModemSession.
//
// Threads: Open and Close run without ServiceLock() and may wait for the
// session; the other ProviderLine and ProviderCall methods run with it held.
// The session reports on its own thread; those reports are handed to the
// provider's dispatcher, which runs them with ServiceLock() held, so the
// session's thread never waits for the lock.
#include "modemaudio_p.h"
#include "modemdiscovery.h"
#include "modemsession_p.h"
#include "provider.h"
#include "singlecallline.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zq::modem {

class ModemLine;

// Runs functions one after another on a thread of its own with the service
// lock held.
class Dispatcher {
public:
    Dispatcher();
    ~Dispatcher();
    void Post(std::function<void()> fn);

private:
    void Run();
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::function<void()>> queue_;
    bool quit_ = false;
    std::thread thread_;
};

class ModemCall : public telephony::ProviderCall, public std::enable_shared_from_this<ModemCall> {
public:
    ModemCall(ModemLine* line, telephony::CallDetails details, DWORD state, DWORD mode)
        : line_(line)
        , details_(std::move(details))
        , state_(state)
        , mode_(mode)
    {
    }
    DWORD State() const override { return state_; }
    DWORD StateMode() const override { return mode_; }
    telephony::CallDetails Details() const override { return details_; }
    LONG Answer(DWORD requestId) override;
    LONG Drop(DWORD requestId) override;
    LONG SetBearerMode(DWORD requestId, DWORD bearerMode) override;
    void MonitorDigits(DWORD digitModes) override { monitor_ = digitModes; }
    HANDLE LendPort() override;
    void PortReturned(HANDLE port) override;
    void Released() override;

    bool IsData() const;

    ModemLine* line_;
    telephony::CallDetails details_;
    DWORD state_;
    DWORD mode_;
    DWORD monitor_ = 0;
    bool released_ = false;
    bool dropping_ = false;
};

class ModemLine : public telephony::SingleCallLine<ModemCall, ModemAudio> {
public:
    ModemLine(ModemInfo info, DWORD index, telephony::ServiceSink* sink, Dispatcher* dispatcher);
    ~ModemLine() override;

    telephony::LineCaps Caps() const override;
    LONG Open() override;
    void Close() override;
    LONG MakeCall(DWORD requestId, const telephony::MakeCallRequest& request,
        std::shared_ptr<telephony::ProviderCall>* call) override;
    LONG SetDevConfig(const void* data, size_t size) override;

    // Under the service lock.
    HANDLE LendPort();
    void PortReturned();
    void SetState(const std::shared_ptr<ModemCall>& call, DWORD state, DWORD mode);
    void EndCall(const std::shared_ptr<ModemCall>& call, DWORD disconnectMode);
    void HangUp(const std::shared_ptr<ModemCall>& call, DWORD requestId);
    void Answer(const std::shared_ptr<ModemCall>& call, DWORD requestId);
    void StartVoice();
    const ModemInfo& Info() const { return info_; }
    // Under the service lock, from the provider's watch of the ports: the
    // port vanished (unplugged) or is back (plugged in again).
    void PortPresent(bool present);
    // Under the service lock: the modem left the class. Its call ends and
    // the port is released; the provider reports the line removed.
    void Retire();

private:
    void OnEvent(const ModemEvent& e); // session thread
    void HandleEvent(const ModemEvent& e); // dispatcher, lock held
    void PostToDispatcher(std::function<void()> fn) { dispatcher_->Post(std::move(fn)); }
    ModemSettings Settings() const;
    std::string UserInit() const;
    void VoiceLoop();
    void LoadDevConfig();
    void SaveDevConfig();

    ModemInfo info_;
    DWORD index_;
    telephony::ServiceSink* sink_;
    Dispatcher* dispatcher_;
    bool portLent_ = false;
    bool open_ = false;
    bool outOfService_ = false;
    bool portGone_ = false;
    bool voiceRunning_ = false; // a play or record job is queued or running
    telephony::TimerId ringTimer_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<ModemSession> session_; // last: its thread stops first
};

// The modems of the registry's modem class, and those found on serial ports
// when asked to scan.
std::vector<ModemInfo> FindModems();
// The modems of the class as they are now whose ports are there, without
// asking the ports anything.
std::vector<ModemInfo> ListModems();

} // namespace zq::modem
