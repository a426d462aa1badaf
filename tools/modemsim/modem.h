#pragma once
// The simulated modem behind the master side of a pseudo-terminal: a command
// interpreter with S-registers, a voice mode with shielded sample streams in
// both directions at the real sample rate, a data mode that echoes what it is
// sent, and the cue script's sequences. Single-threaded: run() polls the
// terminal and the script's clocks.
#include "script.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zq::tools {

using SimClock = std::chrono::steady_clock;

struct SimOptions {
    std::string logPath; // every command line received, and what happened
    std::string recordPath; // samples sent in voice mode, bytes in data mode
    std::vector<uint8_t> play; // sent to the terminal by "play"
};

class SimModem {
public:
    SimModem(int masterFd, SimScript script, SimOptions options);
    ~SimModem();
    // Returns when the script unplugs the modem or the terminal fails.
    int run();

private:
    enum class Mode { Command, Data, VoiceTx, VoiceRx, VoiceDuplex };
    struct Sequence {
        std::vector<SimAction> actions;
        size_t pc = 0;
        SimClock::time_point until {};
        std::string waitFor;
        bool waitHit = false;
        int ringsLeft = 0;
        int ringEveryMs = 1000;
        bool ringFirst = true;
        std::string cidNumber, cidName;
        bool playing = false;
        bool done = false;
    };

    void log(const std::string& line);
    void send(const std::string& bytes);
    void sendRaw(const uint8_t* data, size_t size);
    void result(int code, const std::string& text);
    void info(const std::string& text);
    void resetState();

    void input(const uint8_t* data, size_t size);
    void commandByte(uint8_t c);
    void commandLine(const std::string& line);
    // 0: answered, go on; 1: answered with ERROR, stop the line; 2: the
    // command ended the line itself (CONNECT, a rule).
    int execute(const std::string& cmd);
    void startSequence(const std::vector<SimAction>& actions);
    void runSequences();
    // False while the action waits.
    bool step(Sequence& s, const SimAction& a);
    void voiceInput(const uint8_t* data, size_t size);
    void dataInput(const uint8_t* data, size_t size);
    void streamVoice();
    void enterCommandFromVoice();
    int bytesPerSecond() const;
    uint8_t silenceByte() const;
    bool inVoiceStream() const
    {
        return mode_ == Mode::VoiceTx || mode_ == Mode::VoiceRx || mode_ == Mode::VoiceDuplex;
    }
    bool receivingVoice() const { return mode_ == Mode::VoiceRx || mode_ == Mode::VoiceDuplex; }
    bool takingVoice() const { return mode_ == Mode::VoiceTx || mode_ == Mode::VoiceDuplex; }

    int fd_;
    SimScript script_;
    SimOptions options_;
    FILE* log_ = nullptr;
    FILE* record_ = nullptr;
    bool unplugged_ = false;
    bool muted_ = false;

    // Command state.
    std::string line_;
    bool echo_ = true;
    bool verbose_ = true;
    bool quiet_ = false;
    int fclass_ = 0;
    int vcid_ = 0;
    int vsm_ = 0; // chosen compression id, 0 until set
    int sreg_[256] {};
    bool offHook_ = false;
    bool ringing_ = false;
    bool answered_ = false;
    Mode mode_ = Mode::Command;
    bool online_ = false; // a data call exists, in command or data mode

    // Voice streams.
    bool dlePending_ = false;
    SimClock::time_point streamStart_ {};
    uint64_t rxSent_ = 0; // sample bytes sent since streamStart_
    uint64_t txTaken_ = 0; // wire bytes taken since streamStart_
    size_t playPos_ = 0;
    bool playActive_ = false;
    std::vector<uint8_t> pendingCodes_; // DLE codes to put into the stream
    uint64_t samplesRecorded_ = 0;

    // Data mode escape: three '+' between two guard times.
    SimClock::time_point lastData_ {};
    int pluses_ = 0;

    std::vector<Sequence> sequences_;
};

} // namespace zq::tools
