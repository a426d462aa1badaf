#pragma once
// One modem on one serial port, driven with AT commands by a thread of its
// own. The owner posts jobs (open, dial, answer, play, record, hang up) that
// run one after another on that thread; between jobs the thread reads the
// port for what the modem says unasked (RING, caller id, shielded events).
// Everything the modem reports reaches the owner through the event function,
// called on the session's thread with no lock of the session held.
//
// Threads: every public method may be called from any thread and returns at
// once, except the destructor, which waits for the session's thread.
#include "atresponse.h"
#include "dlestream.h"
#include "modeminit_p.h"
#include "uucplock_p.h"
#include "voiceformat_p.h"
#include "win32types.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zq::modem {

enum class ModemResult {
    Ok,
    Connect,
    Error,
    Busy,
    NoAnswer,
    NoCarrier,
    NoDialtone,
    Timeout, // the modem stopped answering
    PortBusy, // another program holds the port
    PortFailed, // the port could not be opened, or went away
    Refused, // not sent: the request was not acceptable
    Stopped, // the session was closed first
};
const char* describe(ModemResult r);

struct ModemEvent {
    enum Kind {
        Ring, // count; number and name as known so far
        CallerId, // number, name (as known so far)
        Digit, // digit
        Busy, // busy tone during a call
        Disconnected, // the far end went: dial tone, silence, loop current loss, NO CARRIER
        OutOfService, // the modem stopped answering or the port went away; text says why
        Log, // text: a line for the log
    };
    explicit ModemEvent(Kind k = Log)
        : kind(k)
    {
    }
    Kind kind;
    int count = 0;
    char digit = 0;
    std::string number, name, text;
    bool portLost = false; // OutOfService: the port itself failed (unplugged)
};

class ModemSession {
public:
    using EventFn = std::function<void(const ModemEvent&)>;
    using DoneFn = std::function<void(ModemResult)>;
    // Fills samples with what is to be played next (16-bit, 8000/s); false
    // when there is nothing more. True with no samples: none yet.
    using PullFn = std::function<bool(std::vector<int16_t>& samples)>;
    using PushFn = std::function<void(const int16_t* samples, size_t count)>;

    ModemSession(std::string devicePath, EventFn onEvent);
    ~ModemSession();
    ModemSession(const ModemSession&) = delete;
    ModemSession& operator=(const ModemSession&) = delete;

    const std::string& devicePath() const { return path_; }

    void open(const ModemSettings& settings, const std::string& userInit, DoneFn done);
    void close(DoneFn done = {});
    void dialVoice(const std::string& number, DoneFn done);
    // On CONNECT the port is lent: the session stops reading it until
    // endDataCall. rate() then holds the rate the modem reported.
    void dialData(const std::string& number, DoneFn done);
    void answerVoice(DoneFn done);
    void answerData(DoneFn done);
    void hangUp(DoneFn done);
    void endDataCall(DoneFn done);
    // The port lent for a data call was closed by its borrower: open it
    // again, leave the data call and hang up.
    void portReturned();
    void play(PullFn pull, DoneFn done);
    void record(PushFn push, DoneFn done);
    // Plays and records at once (AT+VTR) until stopVoice or the far end
    // goes; silence is sent while pull has nothing.
    void duplex(PullFn pull, PushFn push, DoneFn done);
    // End a play or a recording in progress early (safe from any thread).
    void stopVoice() { stopVoice_ = true; }

    bool voiceCapable() const { return voice_; }
    bool duplexCapable() const { return duplex_; }
    uint32_t rate() const { return rate_; }
    HANDLE port() const { return port_; }
    VoiceFormat voiceFormat() const { return format_; }

private:
    void post(std::function<void()> job);
    void run();
    void emit(ModemEvent e);
    void log(const std::string& text);
    void outOfService(const std::string& why, bool portLost = false);

    // Port access, on the session's thread only.
    bool writeAll(const void* data, size_t size);
    bool readSome(std::vector<uint8_t>& out, bool wait);
    // readSome for a voice stream: drops the CONNECT line's late LF.
    bool readStream(std::vector<uint8_t>& out, bool wait);
    void pumpLines(bool wait);
    void handleUnsolicited(const AtLine& line);
    ModemResult exchange(const std::string& body, int timeoutMs, std::vector<std::string>* info = nullptr);
    bool openPort();
    ModemResult doOpen(const ModemSettings& settings, const std::string& userInit);
    void doClose();
    ModemResult doDial(const std::string& number, bool voice);
    // Runs a voice stream's job on the session's thread, then done.
    void postVoice(std::function<ModemResult()> job, DoneFn done);
    // Starts a voice stream (+VTX, +VRX, +VTR): Connect, or why not.
    ModemResult startStream(const char* command);
    // Encodes and sends samples of the call's format, shielded.
    bool writeSamples(const std::vector<int16_t>& pcm);
    ModemResult doPlay(const PullFn& pull);
    ModemResult doRecord(const PushFn& push);
    ModemResult doDuplex(const PullFn& pull, const PushFn& push);
    struct Incoming;
    // Decodes what came in: its events, and its whole samples for push.
    void takeIncoming(Incoming& in, const PushFn& push);
    // Asks the modem, once, to end the stream with DLE code.
    bool askToEnd(Incoming& in, uint8_t code);
    // After the stream's DLE ETX: the modem's final result.
    ModemResult awaitStreamEnd(std::vector<uint8_t> rest, bool farEnd);
    ModemResult doEndData();
    void voiceEvents(const std::vector<DleCode>& codes, bool& ended, bool& farEnd);

    const std::string path_;
    EventFn onEvent_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::function<void()>> jobs_;
    bool quit_ = false;
    std::thread thread_;

    // Owned by the session's thread.
    HANDLE port_ = INVALID_HANDLE_VALUE;
    UucpLock lock_;
    AtResponseParser parser_;
    std::vector<uint8_t> carry_; // bytes after CONNECT, for the stream
    bool lfOwed_ = false; // the CONNECT line's LF has not come yet
    std::atomic<bool> lent_ { false };
    std::atomic<bool> stopVoice_ { false };
    std::atomic<bool> voice_ { false };
    std::atomic<bool> duplex_ { false };
    std::atomic<uint32_t> rate_ { 0 };
    VoiceFormat format_;
    ModemSettings settings_;
    int rings_ = 0;
    std::string cidNumber_, cidName_;
    bool failed_ = false;
};

} // namespace zq::modem
