#pragma once
// A modem as a line device of the telephony service: its calls, its wave
// devices and its data path, on top of a ModemSession.
//
// Threads: the ProviderLine and ProviderCall methods run with ServiceLock()
// held. The session reports on its own thread; those reports are handed to
// the provider's dispatcher, which runs them with ServiceLock() held, so the
// session's thread never waits for the lock (Open waits for the session).
#include "modemaudio_p.h"
#include "modemsession_p.h"
#include "provider.h"

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

struct ModemInfo {
    std::string name; // FriendlyName
    std::string device; // /dev/ttyUSB0
    std::string userInit;
    std::string registryKey; // where the settings live, below HKEY_LOCAL_MACHINE
};

class ModemCall : public tsp::ProviderCall, public std::enable_shared_from_this<ModemCall> {
public:
    ModemCall(ModemLine* line, tsp::CallDetails details, DWORD state, DWORD mode)
        : line_(line)
        , details_(std::move(details))
        , state_(state)
        , mode_(mode)
    {
    }
    DWORD State() const override { return state_; }
    DWORD StateMode() const override { return mode_; }
    tsp::CallDetails Details() const override { return details_; }
    LONG Answer(DWORD requestId) override;
    LONG Drop(DWORD requestId) override;
    LONG SetBearerMode(DWORD requestId, DWORD bearerMode) override;
    void MonitorDigits(DWORD digitModes) override { monitor_ = digitModes; }
    HANDLE OpenCommPort() override;
    void Released() override;

    bool IsData() const;

    ModemLine* line_;
    tsp::CallDetails details_;
    DWORD state_;
    DWORD mode_;
    DWORD monitor_ = 0;
    bool released_ = false;
    bool dropping_ = false;
};

class ModemLine : public tsp::ProviderLine {
public:
    ModemLine(ModemInfo info, DWORD index, tsp::ServiceSink* sink, Dispatcher* dispatcher);
    ~ModemLine() override;

    tsp::LineCaps Caps() const override;
    LONG Open() override;
    void Close() override;
    void SetDetection(DWORD ownerMediaModes) override { detection_ = ownerMediaModes; }
    LONG MakeCall(DWORD requestId, const tsp::MakeCallRequest& request,
        std::shared_ptr<tsp::ProviderCall>* call) override;
    HANDLE OpenCommPort() override;
    std::vector<uint8_t> DevConfig() const override { return devConfig_; }
    LONG SetDevConfig(const void* data, size_t size) override;

    // Under the service lock.
    void SetState(const std::shared_ptr<ModemCall>& call, DWORD state, DWORD mode);
    void EndCall(const std::shared_ptr<ModemCall>& call, DWORD disconnectMode);
    void HangUp(const std::shared_ptr<ModemCall>& call, DWORD requestId);
    void Answer(const std::shared_ptr<ModemCall>& call, DWORD requestId);
    void StartVoice();
    const ModemInfo& Info() const { return info_; }

private:
    void OnEvent(const ModemEvent& e); // session thread
    void HandleEvent(const ModemEvent& e); // dispatcher, lock held
    void Later(std::function<void()> fn) { dispatcher_->Post(std::move(fn)); }
    ModemSettings Settings() const;
    void VoiceLoop();
    void LoadDevConfig();
    void SaveDevConfig();

    ModemInfo info_;
    DWORD index_;
    tsp::ServiceSink* sink_;
    Dispatcher* dispatcher_;
    std::vector<uint8_t> devConfig_;
    std::shared_ptr<ModemWaveOut> waveOut_;
    std::shared_ptr<ModemWaveIn> waveIn_;
    UINT waveOutId_ = 0, waveInId_ = 0;
    bool open_ = false;
    bool outOfService_ = false;
    DWORD detection_ = 0;
    std::shared_ptr<ModemCall> call_;
    bool voiceRunning_ = false; // a play or record job is queued or running
    tsp::TimerId ringTimer_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<ModemSession> session_; // last: its thread stops first
};

// The modems of the registry's modem class, and those found on serial ports
// when asked to scan.
std::vector<ModemInfo> FindModems();

} // namespace zq::modem
