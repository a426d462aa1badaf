#include "modem.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace zq::tools {

namespace {

// A rule names the start of the commands it answers ("D" for every dial);
// a query ("+VTR=?") is only answered by a rule that asks it.
bool Matches(const SimRule& rule, const std::string& command)
{
    if (command.rfind(rule.command, 0) != 0)
        return false;
    return command.back() != '?' || rule.command.find('?') != std::string::npos;
}

constexpr uint8_t DLE = 0x10;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t CAN = 0x18;

struct Format {
    const char* key;
    int id;
    const char* name;
    int bits;
    uint8_t silence;
};
constexpr Format kFormats[] = {
    { "8", 1, "UNSIGNED PCM", 8, 0x80 },
    { "ulaw", 4, "ULAW", 8, 0xFF },
    { "alaw", 5, "ALAW", 8, 0xD5 },
    { "16", 129, "SIGNED PCM", 16, 0x00 },
};

const Format* formatById(int id)
{
    for (const Format& f : kFormats) {
        if (f.id == id)
            return &f;
    }
    return nullptr;
}

// The commands of one AT command line, upper case, the dial string whole.
std::vector<std::string> splitCommands(const std::string& body)
{
    std::vector<std::string> out;
    size_t i = 0;
    auto digits = [&](std::string& cmd) {
        while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i])))
            cmd += body[i++];
    };
    while (i < body.size()) {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(body[i])));
        if (c == ' ' || c == ';') {
            ++i;
            continue;
        }
        std::string cmd(1, c);
        ++i;
        if (c == '+' || c == '#') {
            while (i < body.size() && body[i] != ';')
                cmd += static_cast<char>(std::toupper(static_cast<unsigned char>(body[i++])));
        } else if (c == 'D') {
            cmd += body.substr(i);
            i = body.size();
        } else if (c == '&' || c == '%' || c == '\\') {
            if (i < body.size())
                cmd += static_cast<char>(std::toupper(static_cast<unsigned char>(body[i++])));
            digits(cmd);
        } else if (c == 'S') {
            digits(cmd);
            if (i < body.size() && body[i] == '?') {
                cmd += body[i++];
            } else if (i < body.size() && body[i] == '=') {
                cmd += body[i++];
                digits(cmd);
            }
        } else {
            digits(cmd);
        }
        out.push_back(cmd);
    }
    return out;
}

const std::vector<std::string> kPlainExtended
    = { "+VIT", "+VGT", "+VGR", "+VSD", "+VRA", "+VRN", "+VTD", "+VDR", "+VTS", "+VEM", "+VNH", "+VIP",
          "+VBT", "+IFC", "+GMI", "+GMM", "+GMR", "+ES", "+DS", "+MS", "+VDT" };

} // namespace

SimModem::SimModem(int masterFd, SimScript script, SimOptions options)
    : fd_(masterFd)
    , script_(std::move(script))
    , options_(std::move(options))
{
    if (!options_.logPath.empty())
        log_ = std::fopen(options_.logPath.c_str(), "w");
    if (!options_.recordPath.empty())
        record_ = std::fopen(options_.recordPath.c_str(), "wb");
    resetState();
    for (const SimRule& r : script_.rules) {
        if (r.kind == SimRule::Start)
            startSequence(r.actions);
    }
}

SimModem::~SimModem()
{
    if (log_)
        std::fclose(log_);
    if (record_)
        std::fclose(record_);
}

void SimModem::resetState()
{
    echo_ = true;
    verbose_ = true;
    quiet_ = false;
    fclass_ = 0;
    vcid_ = 0;
    vsm_ = 0;
    std::fill(std::begin(sreg_), std::end(sreg_), 0);
    sreg_[2] = 43;
    sreg_[3] = 13;
    sreg_[4] = 10;
    sreg_[5] = 8;
    sreg_[7] = 50;
    sreg_[12] = 50;
    offHook_ = false;
    ringing_ = false;
    online_ = false;
}

void SimModem::log(const std::string& line)
{
    if (!log_)
        return;
    std::fprintf(log_, "%s\n", line.c_str());
    std::fflush(log_);
}

void SimModem::sendRaw(const uint8_t* data, size_t size)
{
    while (size > 0 && !unplugged_) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd p { fd_, POLLOUT, 0 };
                ::poll(&p, 1, 100);
                continue;
            }
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void SimModem::send(const std::string& bytes)
{
    sendRaw(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void SimModem::result(int code, const std::string& text)
{
    log("< " + text);
    if (quiet_)
        return;
    if (verbose_)
        send("\r\n" + text + "\r\n");
    else
        send(std::to_string(code) + "\r");
}

void SimModem::info(const std::string& text)
{
    if (verbose_)
        send("\r\n" + text + "\r\n");
    else
        send(text + "\r\n");
}

int SimModem::bytesPerSecond() const
{
    const Format* f = formatById(vsm_);
    return f && f->bits == 16 ? 16000 : 8000;
}

uint8_t SimModem::silenceByte() const
{
    const Format* f = formatById(vsm_);
    return f ? f->silence : 0x80;
}

void SimModem::startSequence(const std::vector<SimAction>& actions)
{
    Sequence s;
    s.actions = actions;
    sequences_.push_back(s);
}

int SimModem::run()
{
    while (!unplugged_) {
        runSequences();
        if (unplugged_)
            break;
        const auto now = SimClock::now();
        int timeout = 200;
        for (const Sequence& s : sequences_) {
            if (!s.done && s.until > now)
                timeout = std::min<int>(timeout,
                    static_cast<int>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(s.until - now).count())
                        + 1);
        }
        if (inVoiceStream() || pluses_ > 0)
            timeout = std::min(timeout, 20);

        // Voice being played is taken at the rate the modem would play it:
        // a little ahead, then only as time passes, so the terminal's buffer
        // fills and the writer on the other side blocks, as CTS would stop it.
        size_t allowed = 4096;
        if (takingVoice()) {
            const double secs = std::chrono::duration<double>(now - streamStart_).count();
            const double budget
                = secs * bytesPerSecond() + bytesPerSecond() / 10.0 - static_cast<double>(txTaken_);
            allowed = budget > 0 ? std::min<size_t>(4096, static_cast<size_t>(budget)) : 0;
        }
        pollfd p { fd_, static_cast<short>(allowed > 0 ? POLLIN : 0), 0 };
        int r = ::poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR)
            return 1;
        if (r > 0 && (p.revents & POLLIN)) {
            uint8_t buf[4096];
            ssize_t n = ::read(fd_, buf, allowed);
            if (n > 0) {
                if (takingVoice())
                    txTaken_ += static_cast<uint64_t>(n);
                input(buf, static_cast<size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                return 1;
            }
        }
        // A data escape completes with the second guard time, not with a byte.
        if (pluses_ == 3 && mode_ == Mode::Data
            && SimClock::now() - lastData_ >= std::chrono::milliseconds(sreg_[12] * 20)) {
            pluses_ = 0;
            mode_ = Mode::Command;
            log("escape");
            result(0, "OK");
        }
        if (receivingVoice())
            streamVoice();
    }
    return 0;
}

void SimModem::input(const uint8_t* data, size_t size)
{
    if (muted_) {
        log("ignored " + std::to_string(size) + " bytes");
        return;
    }
    if (inVoiceStream()) {
        voiceInput(data, size);
        return;
    }
    if (mode_ == Mode::Data) {
        dataInput(data, size);
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        commandByte(data[i]);
        // A command that changed the mode hands the rest of the read on.
        if (inVoiceStream() || mode_ == Mode::Data) {
            if (i + 1 < size)
                input(data + i + 1, size - i - 1);
            return;
        }
    }
}

void SimModem::commandByte(uint8_t c)
{
    if (echo_ && !quiet_)
        sendRaw(&c, 1);
    if (c == '\r') {
        std::string line = line_;
        line_.clear();
        commandLine(line);
        return;
    }
    if (c == '\n')
        return;
    if (c == 8 || c == 127) {
        if (!line_.empty())
            line_.pop_back();
        return;
    }
    if (line_.size() < 256)
        line_ += static_cast<char>(c);
}

void SimModem::commandLine(const std::string& raw)
{
    size_t at = 0;
    while (at < raw.size() && raw[at] == ' ')
        ++at;
    const std::string line = raw.substr(at);
    if (line.empty())
        return;
    log("> " + line);
    if (line.size() < 2 || std::toupper(static_cast<unsigned char>(line[0])) != 'A'
        || std::toupper(static_cast<unsigned char>(line[1])) != 'T')
        return;
    const std::vector<std::string> cmds = splitCommands(line.substr(2));

    for (const std::string& c : cmds) {
        for (const std::string& e : script_.errors) {
            if (c.rfind(e, 0) == 0) {
                log("refused " + c);
                result(4, "ERROR");
                return;
            }
        }
    }
    for (Sequence& s : sequences_) {
        if (s.done || s.waitFor.empty())
            continue;
        for (const std::string& c : cmds) {
            if (c.rfind(s.waitFor, 0) == 0)
                s.waitHit = true;
        }
    }

    bool finished = false;
    for (const std::string& c : cmds) {
        const SimRule* rule = nullptr;
        for (const SimRule& r : script_.rules) {
            if (r.kind == SimRule::On && Matches(r, c)) {
                rule = &r;
                break;
            }
        }
        if (rule) {
            // The modem would have gone off hook for both; the script says
            // what comes of it.
            if (c[0] == 'D' || c[0] == 'A') {
                offHook_ = true;
                ringing_ = false;
                answered_ = true;
                if (c[0] == 'D')
                    log("dial " + c.substr(1));
            }
            startSequence(rule->actions);
            finished = true;
            break;
        }
        const int r = execute(c);
        if (r == 1) {
            result(4, "ERROR");
            return;
        }
        if (r == 2) {
            finished = true;
            break;
        }
    }
    if (!finished)
        result(0, "OK");
    for (const SimRule& r : script_.rules) {
        if (r.kind != SimRule::After)
            continue;
        for (const std::string& c : cmds) {
            if (Matches(r, c)) {
                startSequence(r.actions);
                break;
            }
        }
    }
}

int SimModem::execute(const std::string& cmd)
{
    const char c = cmd[0];
    const std::string arg = cmd.substr(1);
    const int n = arg.empty() ? 0 : std::atoi(arg.c_str());
    switch (c) {
    case 'Z':
        resetState();
        return 0;
    case 'E':
        echo_ = n != 0;
        return 0;
    case 'V':
        verbose_ = n != 0;
        return 0;
    case 'Q':
        quiet_ = n != 0;
        return 0;
    case 'I':
        info(script_.info);
        return 0;
    case 'H':
        offHook_ = false;
        online_ = false;
        ringing_ = false;
        log("on hook");
        return 0;
    case 'O':
        if (!online_)
            return 1;
        mode_ = Mode::Data;
        result(1, "CONNECT 33600");
        return 2;
    case 'A':
        if (!ringing_) {
            result(3, "NO CARRIER");
            return 2;
        }
        ringing_ = false;
        answered_ = true;
        offHook_ = true;
        log("answered");
        if (fclass_ == 8)
            return 0;
        online_ = true;
        mode_ = Mode::Data;
        result(1, "CONNECT 33600");
        return 2;
    case 'D': {
        log("dial " + arg);
        offHook_ = true;
        if (!arg.empty() && arg.back() == ';')
            return 0;
        if (fclass_ == 8)
            return 0;
        online_ = true;
        mode_ = Mode::Data;
        result(1, "CONNECT 33600");
        return 2;
    }
    case 'S': {
        size_t q = arg.find_first_of("=?");
        if (q == std::string::npos || q == 0)
            return 1;
        const int reg = std::atoi(arg.substr(0, q).c_str());
        if (reg < 0 || reg > 255)
            return 1;
        if (arg[q] == '?') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%03d", sreg_[reg]);
            info(buf);
        } else {
            const int v = std::atoi(arg.substr(q + 1).c_str());
            if (v < 0 || v > 255)
                return 1;
            sreg_[reg] = v;
        }
        return 0;
    }
    case '+':
        break;
    default:
        // The other basic and ampersand commands (M, L, X, &K, &C ...) are
        // taken as they come.
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '&' || c == '%' || c == '\\')
            return 0;
        return 1;
    }

    // Extended commands.
    const size_t eq = cmd.find_first_of("=?");
    const std::string name = cmd.substr(0, eq);
    const std::string rest = eq == std::string::npos ? std::string() : cmd.substr(eq);
    if (name == "+FCLASS") {
        if (rest == "=?")
            info("0,1,8");
        else if (rest == "?")
            info(std::to_string(fclass_));
        else if (rest == "=0" || rest == "=1" || rest == "=8")
            fclass_ = std::atoi(rest.c_str() + 1);
        else
            return 1;
        return 0;
    }
    if (name == "+VCID") {
        if (rest == "=?")
            info("(0-2)");
        else if (rest == "?")
            info(std::to_string(vcid_));
        else if (rest.size() > 1 && rest[0] == '=')
            vcid_ = std::atoi(rest.c_str() + 1);
        else
            return 1;
        return 0;
    }
    if (name == "+VSM") {
        if (rest == "=?") {
            for (const std::string& key : script_.formats) {
                for (const Format& f : kFormats) {
                    if (key == f.key)
                        info(std::to_string(f.id) + ",\"" + f.name + "\"," + std::to_string(f.bits)
                            + ",0,(8000),(0),(0)");
                }
            }
        } else if (rest == "?") {
            info(std::to_string(vsm_) + ",8000,0,0");
        } else if (rest.size() > 1 && rest[0] == '=') {
            const int id = std::atoi(rest.c_str() + 1);
            const Format* f = formatById(id);
            if (!f
                || std::find(script_.formats.begin(), script_.formats.end(), f->key) == script_.formats.end())
                return 1;
            vsm_ = id;
        } else {
            return 1;
        }
        return 0;
    }
    if (name == "+VLS") {
        if (rest == "=?") {
            info("0,1");
        } else if (rest == "?") {
            info(offHook_ ? "1" : "0");
        } else if (rest.size() > 1 && rest[0] == '=') {
            const int v = std::atoi(rest.c_str() + 1);
            if (v == 0) {
                offHook_ = false;
                log("on hook");
            } else {
                offHook_ = true;
                if (ringing_) {
                    ringing_ = false;
                    answered_ = true;
                    log("answered");
                }
            }
        } else {
            return 1;
        }
        return 0;
    }
    if (name == "+VTR" && !script_.duplex)
        return 1;
    if (name == "+VTX" || name == "+VRX" || name == "+VTR") {
        if (fclass_ != 8 || vsm_ == 0 || rest == "=?" || rest == "?")
            return rest.empty() ? 1 : 0;
        mode_ = name == "+VTX" ? Mode::VoiceTx : name == "+VRX" ? Mode::VoiceRx : Mode::VoiceDuplex;
        streamStart_ = SimClock::now();
        rxSent_ = 0;
        txTaken_ = 0;
        dlePending_ = false;
        samplesRecorded_ = 0;
        log(name.substr(1) + " start");
        result(1, "CONNECT");
        return 2;
    }
    if (std::find(kPlainExtended.begin(), kPlainExtended.end(), name) != kPlainExtended.end()) {
        if (rest == "?" || rest == "=?")
            info("0");
        return 0;
    }
    return 1;
}

void SimModem::voiceInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> samples;
    bool end = false;
    for (size_t i = 0; i < size && !end; ++i) {
        const uint8_t c = data[i];
        if (!dlePending_) {
            if (c == DLE)
                dlePending_ = true;
            else if (takingVoice())
                samples.push_back(c);
            continue;
        }
        dlePending_ = false;
        if (c == DLE) {
            if (takingVoice())
                samples.push_back(DLE);
        } else if (c == CAN) {
            samples.clear();
        } else if (c == ETX || c == '!' || c == '^') {
            end = true;
        }
    }
    if (record_ && !samples.empty()) {
        std::fwrite(samples.data(), 1, samples.size(), record_);
        std::fflush(record_);
    }
    samplesRecorded_ += samples.size();
    if (end)
        enterCommandFromVoice();
}

void SimModem::enterCommandFromVoice()
{
    const bool wasReceiving = receivingVoice();
    log(std::string(mode_ == Mode::VoiceTx ? "VTX"
                : mode_ == Mode::VoiceRx   ? "VRX"
                                           : "VTR")
        + " end " + std::to_string(samplesRecorded_) + " bytes");
    mode_ = Mode::Command;
    playActive_ = false;
    if (wasReceiving) {
        const uint8_t end[] = { DLE, ETX };
        sendRaw(end, sizeof end);
    }
    result(0, "OK");
}

void SimModem::streamVoice()
{
    const double secs = std::chrono::duration<double>(SimClock::now() - streamStart_).count();
    // Whole samples only: half a sample would shift every one after it.
    const uint64_t unit = bytesPerSecond() / 8000;
    const uint64_t due = static_cast<uint64_t>(secs * bytesPerSecond()) / unit * unit;
    if (due <= rxSent_ && pendingCodes_.empty())
        return;
    std::vector<uint8_t> wire;
    for (uint8_t code : pendingCodes_) {
        wire.push_back(DLE);
        wire.push_back(code);
    }
    pendingCodes_.clear();
    const uint64_t count = due > rxSent_ ? due - rxSent_ : 0;
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t b = silenceByte();
        if (playActive_) {
            if (playPos_ < options_.play.size())
                b = options_.play[playPos_++];
            if (playPos_ >= options_.play.size())
                playActive_ = false;
        }
        wire.push_back(b);
        if (b == DLE)
            wire.push_back(DLE);
    }
    rxSent_ = due;
    sendRaw(wire.data(), wire.size());
}

void SimModem::dataInput(const uint8_t* data, size_t size)
{
    const auto now = SimClock::now();
    const auto guard = std::chrono::milliseconds(sreg_[12] * 20);
    std::string echo;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '+' && (pluses_ > 0 || now - lastData_ >= guard) && pluses_ < 3) {
            ++pluses_;
            continue;
        }
        // Not an escape after all: the pluses were data.
        echo.append(static_cast<size_t>(pluses_), '+');
        pluses_ = 0;
        echo += c;
    }
    lastData_ = now;
    if (!echo.empty()) {
        if (record_) {
            std::fwrite(echo.data(), 1, echo.size(), record_);
            std::fflush(record_);
        }
        send(echo);
    }
}

void SimModem::runSequences()
{
    for (size_t i = 0; i < sequences_.size(); ++i) {
        // step() may start sequences; take the element afresh each time.
        while (!sequences_[i].done && !unplugged_) {
            Sequence& s = sequences_[i];
            if (s.pc >= s.actions.size()) {
                s.done = true;
                break;
            }
            const SimAction a = s.actions[s.pc];
            if (!step(sequences_[i], a))
                break;
            ++sequences_[i].pc;
        }
    }
    std::erase_if(sequences_, [](const Sequence& s) { return s.done; });
}

bool SimModem::step(Sequence& s, const SimAction& a)
{
    const auto now = SimClock::now();
    const std::string& v = a.verb;
    auto arg = [&](size_t i) { return i < a.args.size() ? a.args[i] : std::string(); };

    if (v == "wait") {
        if (s.until == SimClock::time_point {}) {
            s.until = now + std::chrono::milliseconds(std::atoi(arg(0).c_str()));
            return false;
        }
        if (now < s.until)
            return false;
        s.until = {};
        return true;
    }
    if (v == "waitfor") {
        if (s.waitFor.empty()) {
            std::string w = upperCase(arg(0));
            if (w.rfind("AT", 0) == 0)
                w = w.substr(2);
            s.waitFor = w;
            s.waitHit = false;
            return false;
        }
        if (!s.waitHit)
            return false;
        s.waitFor.clear();
        return true;
    }
    if (v == "ring") {
        if (s.ringsLeft == 0 && s.ringFirst) {
            s.ringsLeft = std::max(1, std::atoi(arg(0).c_str()));
            for (size_t i = 1; i + 1 < a.args.size(); ++i) {
                if (a.args[i] == "every")
                    s.ringEveryMs = std::atoi(a.args[i + 1].c_str());
                if (a.args[i] == "cid") {
                    s.cidNumber = a.args[i + 1];
                    if (i + 2 < a.args.size())
                        s.cidName = a.args[i + 2];
                }
            }
            ringing_ = true;
            answered_ = false;
        }
        if (answered_ || !ringing_) {
            s.ringsLeft = 0;
            s.ringFirst = true;
            s.until = {};
            return true;
        }
        if (now < s.until)
            return false;
        if (s.ringsLeft == 0) {
            // The caller gave up.
            ringing_ = false;
            s.ringFirst = true;
            s.until = {};
            log("caller gave up");
            return true;
        }
        result(2, "RING");
        if (s.ringFirst && vcid_ != 0 && !s.cidNumber.empty()) {
            info("DATE = 1208");
            info("TIME = 1710");
            info("NMBR = " + s.cidNumber);
            if (!s.cidName.empty())
                info("NAME = " + s.cidName);
        }
        s.ringFirst = false;
        --s.ringsLeft;
        s.until = now + std::chrono::milliseconds(s.ringEveryMs);
        return false;
    }
    if (v == "play") {
        if (!s.playing) {
            if (!receivingVoice())
                return false;
            s.playing = true;
            playPos_ = 0;
            playActive_ = !options_.play.empty();
            log("play start");
            return false;
        }
        if (playActive_ && receivingVoice())
            return false;
        s.playing = false;
        log("play end");
        return true;
    }

    if (v == "ok")
        result(0, "OK");
    else if (v == "error")
        result(4, "ERROR");
    else if (v == "say")
        info(arg(0));
    else if (v == "connect") {
        if (fclass_ == 8) {
            result(0, "VCON");
        } else {
            online_ = true;
            mode_ = Mode::Data;
            result(1, "CONNECT" + (arg(0).empty() ? std::string() : " " + arg(0)));
        }
    } else if (v == "busy" || v == "dle" || v == "dtmf" || v == "hangup") {
        std::string codes = v == "busy" ? "b" : v == "hangup" ? "l" : arg(0);
        if (v == "hangup" && mode_ == Mode::Data) {
            mode_ = Mode::Command;
            online_ = false;
            offHook_ = false;
            result(3, "NO CARRIER");
        } else if (v == "busy" && fclass_ != 8) {
            offHook_ = false;
            result(7, "BUSY");
        } else {
            log("dle " + codes);
            if (receivingVoice()) {
                pendingCodes_.insert(pendingCodes_.end(), codes.begin(), codes.end());
            } else {
                for (char c : codes) {
                    const uint8_t b[] = { DLE, static_cast<uint8_t>(c) };
                    sendRaw(b, 2);
                }
            }
        }
    } else if (v == "noanswer") {
        offHook_ = false;
        result(8, "NO ANSWER");
    } else if (v == "nocarrier") {
        mode_ = Mode::Command;
        online_ = false;
        offHook_ = false;
        result(3, "NO CARRIER");
    } else if (v == "nodialtone") {
        offHook_ = false;
        result(6, "NO DIALTONE");
    } else if (v == "mute") {
        muted_ = true;
        log("muted");
    } else if (v == "unplug") {
        log("unplugged");
        unplugged_ = true;
    } else {
        log("unknown action " + v);
    }
    return true;
}

} // namespace zq::tools
