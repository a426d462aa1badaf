#include "modemsession_p.h"

#include "commapi.h"
#include "dialstring.h"
#include "handles.h"
#include "lasterror.h"

#include <chrono>

namespace zq::modem {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kMaxDword = 0xFFFFFFFFu;
constexpr int kCommandMs = 3000;
// How long a close waits for the modem to confirm going on hook.
constexpr int kHangupMs = 1000;
constexpr size_t kDuplexChunkSamples = 160; // 20 ms
constexpr uint64_t kDuplexLeadSamples = 1600; // 200 ms ahead of the line's clock
constexpr int kStreamEndMs = 30000; // what the modem still buffers may take this long to play

ModemResult resultOf(const AtLine& l)
{
    switch (l.kind) {
    case AtKind::Ok:
        return ModemResult::Ok;
    case AtKind::Connect:
        return ModemResult::Connect;
    case AtKind::Busy:
        return ModemResult::Busy;
    case AtKind::NoAnswer:
        return ModemResult::NoAnswer;
    case AtKind::NoCarrier:
        return ModemResult::NoCarrier;
    case AtKind::NoDialtone:
        return ModemResult::NoDialtone;
    default:
        return ModemResult::Error;
    }
}

} // namespace

const char* describe(ModemResult r)
{
    switch (r) {
    case ModemResult::Ok:
        return "OK";
    case ModemResult::Connect:
        return "CONNECT";
    case ModemResult::Error:
        return "ERROR";
    case ModemResult::Busy:
        return "BUSY";
    case ModemResult::NoAnswer:
        return "NO ANSWER";
    case ModemResult::NoCarrier:
        return "NO CARRIER";
    case ModemResult::NoDialtone:
        return "NO DIALTONE";
    case ModemResult::Timeout:
        return "no answer from the modem";
    case ModemResult::PortBusy:
        return "port in use by another program";
    case ModemResult::PortFailed:
        return "port failed";
    case ModemResult::Refused:
        return "refused";
    case ModemResult::Stopped:
        return "stopped";
    }
    return "?";
}

ModemSession::ModemSession(std::string devicePath, EventFn onEvent)
    : path_(std::move(devicePath))
    , onEvent_(std::move(onEvent))
{
    thread_ = std::thread(&ModemSession::run, this);
}

ModemSession::~ModemSession()
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        quit_ = true;
    }
    stopVoice_ = true;
    cond_.notify_all();
    thread_.join();
}

void ModemSession::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        jobs_.push_back(std::move(job));
    }
    cond_.notify_all();
}

void ModemSession::run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> g(mutex_);
            if (quit_)
                break;
            if (!jobs_.empty()) {
                job = std::move(jobs_.front());
                jobs_.pop_front();
            } else if (port_ == INVALID_HANDLE_VALUE || lent_) {
                cond_.wait_for(g, std::chrono::milliseconds(100));
                continue;
            }
        }
        if (job) {
            job();
            continue;
        }
        pumpLines(true);
    }
    doClose();
    // Jobs still queued learn that they will not run.
    std::deque<std::function<void()>> left;
    {
        std::lock_guard<std::mutex> g(mutex_);
        left.swap(jobs_);
    }
}

void ModemSession::emit(ModemEvent e)
{
    if (onEvent_)
        onEvent_(e);
}

void ModemSession::log(const std::string& text)
{
    ModemEvent e(ModemEvent::Log);
    e.text = text;
    emit(e);
}

void ModemSession::outOfService(const std::string& why, bool portLost)
{
    if (failed_)
        return;
    failed_ = true;
    ModemEvent e(ModemEvent::OutOfService);
    e.text = why;
    e.portLost = portLost;
    emit(e);
}

bool ModemSession::writeAll(const void* data, size_t size)
{
    if (port_ == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    if (!WriteFile(port_, data, static_cast<DWORD>(size), &written, nullptr) || written != size) {
        outOfService("The modem on " + path_ + " takes no more data.", true);
        return false;
    }
    return true;
}

bool ModemSession::readSome(std::vector<uint8_t>& out, bool wait)
{
    if (port_ == INVALID_HANDLE_VALUE)
        return false;
    DWORD count = 4096;
    if (!wait) {
        DWORD errors = 0;
        COMSTAT st;
        if (!ClearCommError(port_, &errors, &st)) {
            outOfService("The modem on " + path_ + " went away.", true);
            return false;
        }
        if (st.cbInQue == 0)
            return true;
        count = std::min<DWORD>(st.cbInQue, 4096);
    }
    uint8_t buf[4096];
    DWORD got = 0;
    // The port's time-outs make this wait at most 50 ms for a first byte.
    if (!ReadFile(port_, buf, count, &got, nullptr)) {
        outOfService("The modem on " + path_ + " went away.", true);
        return false;
    }
    out.insert(out.end(), buf, buf + got);
    return true;
}

void ModemSession::handleUnsolicited(const AtLine& l)
{
    switch (l.kind) {
    case AtKind::Ring: {
        ModemEvent e(ModemEvent::Ring);
        e.count = ++rings_;
        if (rings_ == 1) {
            cidNumber_.clear();
            cidName_.clear();
        }
        // What is known of the caller, for an owner who missed the first ring.
        e.number = cidNumber_;
        e.name = cidName_;
        emit(e);
        break;
    }
    case AtKind::CallerId:
        if (l.key == "NMBR")
            cidNumber_ = l.value;
        else if (l.key == "NAME")
            cidName_ = l.value;
        else
            break;
        {
            ModemEvent e(ModemEvent::CallerId);
            e.number = cidNumber_;
            e.name = cidName_;
            emit(e);
        }
        break;
    case AtKind::Dle: {
        bool ended = false, farEnd = false;
        voiceEvents({ DleCode { voiceEventOf(static_cast<uint8_t>(l.code)), l.code, 0 } }, ended, farEnd);
        break;
    }
    case AtKind::NoCarrier: {
        ModemEvent e(ModemEvent::Disconnected);
        emit(e);
        break;
    }
    default:
        break;
    }
}

void ModemSession::pumpLines(bool wait)
{
    std::vector<uint8_t> bytes;
    if (!readSome(bytes, wait)) {
        doClose();
        return;
    }
    std::vector<AtLine> lines;
    parser_.feed(bytes.data(), bytes.size(), lines);
    for (const AtLine& l : lines)
        handleUnsolicited(l);
}

ModemResult ModemSession::exchange(const std::string& body, int timeoutMs, std::vector<std::string>* info)
{
    if (port_ == INVALID_HANDLE_VALUE)
        return ModemResult::PortFailed;
    const std::string line = "AT" + body + "\r";
    if (!writeAll(line.data(), line.size()))
        return ModemResult::PortFailed;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> bytes;
    while (Clock::now() < deadline) {
        bytes.clear();
        if (!readSome(bytes, true))
            return ModemResult::PortFailed;
        size_t at = 0;
        while (at < bytes.size()) {
            std::vector<AtLine> lines;
            at += parser_.feed(bytes.data() + at, bytes.size() - at, lines);
            const AtLine* final = nullptr;
            for (const AtLine& l : lines) {
                if (l.kind == AtKind::Echo)
                    continue;
                if (!final && l.kind == AtKind::Info) {
                    if (info)
                        info->push_back(l.text);
                    continue;
                }
                if (!final && l.final()) {
                    final = &l;
                    continue;
                }
                // Also what came after the answer in the same read: a RING or
                // an event must not be lost with the read.
                handleUnsolicited(l);
            }
            if (final) {
                if (final->kind == AtKind::Connect) {
                    rate_ = final->rate;
                    carry_.assign(bytes.begin() + static_cast<long>(at), bytes.end());
                    // The CONNECT line's LF still to come belongs to the line.
                    lfOwed_ = parser_.lfOwed();
                }
                return resultOf(*final);
            }
        }
    }
    return ModemResult::Timeout;
}

void ModemSession::open(const ModemSettings& settings, const std::string& userInit, DoneFn done)
{
    post([this, settings, userInit, done] {
        const ModemResult r = doOpen(settings, userInit);
        if (r != ModemResult::Ok)
            doClose();
        if (done)
            done(r);
    });
}

ModemResult ModemSession::doOpen(const ModemSettings& settings, const std::string& userInit)
{
    doClose();
    failed_ = false;
    settings_ = settings;
    pid_t holder = 0;
    switch (lock_.acquire(path_, &holder)) {
    case UucpLock::Result::Busy:
        log("The port " + path_ + " is in use by process " + std::to_string(holder) + ".");
        return ModemResult::PortBusy;
    case UucpLock::Result::NoFolder:
        // Without a writable lock folder nobody can lock; the port's own
        // exclusive open still keeps a second user out.
        log("No lock file could be written for " + path_ + " in " + UucpLock::lockFolder() + ".");
        break;
    case UucpLock::Result::Locked:
        break;
    }
    if (!openPort()) {
        log("The port " + path_ + " cannot be opened.");
        lock_.release();
        return GetLastError() == ERROR_ACCESS_DENIED ? ModemResult::PortBusy : ModemResult::PortFailed;
    }
    // What an earlier user of the port left unread is no answer of ours.
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    parser_.reset();
    parser_.setForm(ResultForm::Either);
    ModemResult r = exchange("Z", kCommandMs);
    if (r == ModemResult::Timeout)
        r = exchange("Z", kCommandMs); // a modem may miss the first line after the port opens
    if (r != ModemResult::Ok) {
        log("The modem on " + path_ + " does not answer (" + describe(r) + ").");
        return r == ModemResult::Timeout ? ModemResult::Timeout : r;
    }
    r = exchange("E0V1", kCommandMs);
    if (r != ModemResult::Ok)
        return r == ModemResult::Timeout ? r : ModemResult::Error;
    parser_.setForm(ResultForm::Verbose);

    auto setting = [&](const std::string& body, const std::string& what) {
        const ModemResult s = exchange(body, kCommandMs);
        if (s == ModemResult::Error)
            log("The modem on " + path_ + " refused the " + what + " setting (AT" + body + ").");
        return s;
    };
    for (const InitCommand& c : initCommands(settings)) {
        r = setting(c.command, c.setting);
        if (r != ModemResult::Ok && r != ModemResult::Error)
            return r;
    }
    const std::string user = userInitBody(userInit);
    if (!user.empty()) {
        r = setting(user, "user's init string");
        if (r != ModemResult::Ok && r != ModemResult::Error)
            return r;
    } else if (!userInit.empty() && userInit.find_first_not_of(" ") != std::string::npos) {
        log("The init string of the modem on " + path_ + " holds a line break and was not sent.");
    }

    std::vector<std::string> classes;
    r = exchange("+FCLASS=?", kCommandMs, &classes);
    if (r == ModemResult::Timeout)
        return r;
    bool voice = false;
    for (const std::string& c : classes) {
        // "0,1,8" or "(0-2,8)": class 8 is voice.
        size_t p = c.find('8');
        if (p != std::string::npos
            && (p == 0 || c[p - 1] == ',' || c[p - 1] == '(' || c[p - 1] == '-' || c[p - 1] == ' '))
            voice = true;
    }
    voice_ = false;
    if (voice) {
        // A modem that stops answering here is not a data-only modem: the
        // timeout fails the start like any other, instead of leaving a line
        // that refuses every voice call.
        std::vector<std::string> formats;
        r = exchange("+FCLASS=8", kCommandMs);
        if (r == ModemResult::Ok)
            r = exchange("+VSM=?", kCommandMs, &formats);
        if (r == ModemResult::Timeout)
            return r;
        if (r == ModemResult::Ok) {
            format_ = chooseVoiceFormat(formats);
            r = format_.coding == SampleCoding::None
                ? ModemResult::Error
                : exchange("+VSM=" + std::to_string(format_.id) + ",8000", kCommandMs);
            if (r == ModemResult::Timeout)
                return r;
            if (r == ModemResult::Ok)
                voice_ = true;
            else
                log("The modem on " + path_ + " offers no sample format that is understood here.");
        }
        // Full duplex (play and record at once) where the modem offers it.
        duplex_ = false;
        if (voice_) {
            r = exchange("+VTR=?", kCommandMs);
            if (r == ModemResult::Timeout)
                return r;
            duplex_ = r == ModemResult::Ok;
        }
        if (voice_ && setting("+VCID=1", "caller id") == ModemResult::Timeout)
            return ModemResult::Timeout;
        if (!voice_)
            exchange("+FCLASS=0", kCommandMs);
    }
    return ModemResult::Ok;
}

bool ModemSession::openPort()
{
    port_ = serial::OpenCommPort(path_);
    if (port_ == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb {};
    if (GetCommState(port_, &dcb)) {
        dcb.BaudRate = settings_.maxRate;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.Flags &= ~(DCB_fOutxCtsFlow | DCB_fOutX | DCB_fInX | DCB_fRtsControlMask);
        dcb.Flags |= DCB_fBinary;
        // Voice data may hold XON and XOFF bytes; only the modem's CTS can
        // pace it, so software flow control is left to the modem's data mode.
        if (settings_.preferredOptions & 0x30)
            dcb.Flags |= DCB_fOutxCtsFlow | (RTS_CONTROL_HANDSHAKE << DCB_fRtsControlShift);
        if (!SetCommState(port_, &dcb))
            log("The port " + path_ + " did not take the speed " + std::to_string(settings_.maxRate) + ".");
    }
    COMMTIMEOUTS t {};
    t.ReadIntervalTimeout = kMaxDword;
    t.ReadTotalTimeoutMultiplier = kMaxDword;
    t.ReadTotalTimeoutConstant = 50;
    t.WriteTotalTimeoutMultiplier = 2;
    t.WriteTotalTimeoutConstant = 5000;
    SetCommTimeouts(port_, &t);

    return true;
}

void ModemSession::portReturned()
{
    post([this] {
        if (!lent_)
            return;
        // The application's CloseHandle closed the port: open it again to
        // leave the data call.
        port_ = INVALID_HANDLE_VALUE;
        if (!openPort()) {
            lent_ = false;
            outOfService("The port " + path_ + " cannot be opened again after the data call.");
            return;
        }
        doEndData();
    });
}

void ModemSession::close(DoneFn done)
{
    post([this, done] {
        doClose();
        if (done)
            done(ModemResult::Ok);
    });
}

void ModemSession::doClose()
{
    if (port_ != INVALID_HANDLE_VALUE) {
        if (!failed_ && !lent_) {
            // Leave the modem on hook, and take its answer: left in the port,
            // the next open would read it as the answer to its own first
            // command, and every answer after it one command late. A modem
            // that stopped answering is waited for only briefly.
            exchange("H", kHangupMs);
        }
        lent_ = false;
        const HANDLE port = port_;
        port_ = INVALID_HANDLE_VALUE;
        CloseHandle(port);
    }
    lent_ = false;
    lock_.release();
    rings_ = 0;
}

void ModemSession::dialVoice(const std::string& number, DoneFn done)
{
    post([this, number, done] {
        const ModemResult r = doDial(number, true);
        if (done)
            done(r);
    });
}

void ModemSession::dialData(const std::string& number, DoneFn done)
{
    post([this, number, done] {
        const ModemResult r = doDial(number, false);
        if (done)
            done(r);
    });
}

ModemResult ModemSession::doDial(const std::string& number, bool voice)
{
    if (!dialStringError(number).empty())
        return ModemResult::Refused;
    if (port_ == INVALID_HANDLE_VALUE)
        return ModemResult::PortFailed;
    rings_ = 0;
    if (voice_ && !voice) {
        const ModemResult r = exchange("+FCLASS=0", kCommandMs);
        if (r != ModemResult::Ok)
            return r;
    } else if (voice && !voice_) {
        return ModemResult::Refused;
    }
    // The modem gives up after S7 seconds; its answer is waited for a little
    // longer than that.
    const int timeout
        = static_cast<int>(std::min<uint32_t>(settings_.callSetupFailTimer, 255)) * 1000 + 15000;
    const ModemResult r = exchange("D" + dialablePart(number), timeout);
    if (r == ModemResult::Timeout)
        outOfService("The modem on " + path_ + " stopped answering while dialling.");
    if (r == ModemResult::Connect && !voice)
        lent_ = true;
    if (!voice && r != ModemResult::Connect && voice_)
        exchange("+FCLASS=8", kCommandMs);
    return r;
}

void ModemSession::answerVoice(DoneFn done)
{
    post([this, done] {
        ModemResult r = exchange("+VLS=1", kCommandMs);
        if (r == ModemResult::Error)
            r = exchange("A", kCommandMs);
        if (r == ModemResult::Timeout)
            outOfService("The modem on " + path_ + " stopped answering.");
        rings_ = 0;
        if (done)
            done(r);
    });
}

void ModemSession::answerData(DoneFn done)
{
    post([this, done] {
        if (voice_)
            exchange("+FCLASS=0", kCommandMs);
        const int timeout
            = static_cast<int>(std::min<uint32_t>(settings_.callSetupFailTimer, 255)) * 1000 + 15000;
        const ModemResult r = exchange("A", timeout);
        if (r == ModemResult::Connect)
            lent_ = true;
        else if (voice_)
            exchange("+FCLASS=8", kCommandMs);
        rings_ = 0;
        if (done)
            done(r);
    });
}

void ModemSession::hangUp(DoneFn done)
{
    post([this, done] {
        ModemResult r = ModemResult::Ok;
        if (lent_)
            r = doEndData();
        if (port_ != INVALID_HANDLE_VALUE && !failed_) {
            r = exchange("H", kCommandMs);
            if (r == ModemResult::Timeout)
                outOfService("The modem on " + path_ + " stopped answering.");
        }
        rings_ = 0;
        if (done)
            done(r);
    });
}

void ModemSession::endDataCall(DoneFn done)
{
    post([this, done] {
        const ModemResult r = doEndData();
        if (done)
            done(r);
    });
}

ModemResult ModemSession::doEndData()
{
    if (!lent_)
        return ModemResult::Ok;
    lent_ = false;
    parser_.reset();
    // The escape needs a second of silence on either side of "+++".
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    if (!writeAll("+++", 3))
        return ModemResult::PortFailed;
    const auto deadline = Clock::now() + std::chrono::milliseconds(1100 + kCommandMs);
    std::vector<uint8_t> bytes;
    while (Clock::now() < deadline) {
        bytes.clear();
        if (!readSome(bytes, true))
            return ModemResult::PortFailed;
        std::vector<AtLine> lines;
        parser_.feed(bytes.data(), bytes.size(), lines);
        for (const AtLine& l : lines) {
            if (l.kind == AtKind::Ok || l.kind == AtKind::NoCarrier) {
                ModemResult r = exchange("H", kCommandMs);
                if (voice_)
                    exchange("+FCLASS=8", kCommandMs);
                return r;
            }
        }
    }
    outOfService("The modem on " + path_ + " did not leave the data call.");
    return ModemResult::Timeout;
}

void ModemSession::voiceEvents(const std::vector<DleCode>& codes, bool& ended, bool& farEnd)
{
    for (const DleCode& c : codes) {
        ModemEvent e(ModemEvent::Log);
        switch (c.event) {
        case VoiceEvent::Digit:
            e.kind = ModemEvent::Digit;
            e.digit = c.code;
            emit(e);
            break;
        case VoiceEvent::Busy:
            e.kind = ModemEvent::Busy;
            emit(e);
            farEnd = true;
            break;
        case VoiceEvent::DialTone:
        case VoiceEvent::Silence:
        case VoiceEvent::LoopLoss:
            e.kind = ModemEvent::Disconnected;
            emit(e);
            farEnd = true;
            break;
        case VoiceEvent::Ring:
            e.kind = ModemEvent::Ring;
            e.count = ++rings_;
            emit(e);
            break;
        case VoiceEvent::EndOfData:
            ended = true;
            break;
        default:
            break;
        }
    }
}

bool ModemSession::readStream(std::vector<uint8_t>& out, bool wait)
{
    const size_t before = out.size();
    if (!readSome(out, wait))
        return false;
    if (lfOwed_ && out.size() > before) {
        lfOwed_ = false;
        if (out[before] == '\n')
            out.erase(out.begin() + static_cast<long>(before));
    }
    return true;
}

void ModemSession::postVoice(std::function<ModemResult()> job, DoneFn done)
{
    stopVoice_ = false;
    post([job = std::move(job), done = std::move(done)] {
        const ModemResult r = job();
        if (done)
            done(r);
    });
}

ModemResult ModemSession::startStream(const char* command)
{
    const ModemResult r = exchange(command, kCommandMs);
    if (r == ModemResult::Timeout)
        outOfService("The modem on " + path_ + " stopped answering.");
    return r == ModemResult::Ok ? ModemResult::Error : r;
}

bool ModemSession::writeSamples(const std::vector<int16_t>& pcm)
{
    std::vector<uint8_t> coded, wire;
    encodeSamples(format_.coding, pcm.data(), pcm.size(), coded);
    dleEscape(coded.data(), coded.size(), wire);
    return writeAll(wire.data(), wire.size());
}

void ModemSession::play(PullFn pull, DoneFn done)
{
    postVoice([this, pull] { return doPlay(pull); }, std::move(done));
}

ModemResult ModemSession::doPlay(const PullFn& pull)
{
    if (!voice_)
        return ModemResult::Refused;
    if (const ModemResult r = startStream("+VTX"); r != ModemResult::Connect)
        return r;
    DleDecoder decoder;
    std::vector<uint8_t> samplesIn;
    std::vector<DleCode> codes;
    bool ended = false, farEnd = false;
    decoder.decode(carry_.data(), carry_.size(), samplesIn, codes);
    carry_.clear();
    voiceEvents(codes, ended, farEnd);

    std::vector<int16_t> chunk;
    bool more = true;
    while (more && !stopVoice_ && !farEnd && !failed_) {
        chunk.clear();
        more = pull(chunk);
        // Blocks while the modem holds CTS off (or its buffer is full).
        if (!chunk.empty() && !writeSamples(chunk))
            return ModemResult::PortFailed;
        // What the far end does while we speak: digits, hanging up.
        std::vector<uint8_t> bytes;
        if (!readStream(bytes, chunk.empty() && more))
            return ModemResult::PortFailed;
        codes.clear();
        samplesIn.clear();
        decoder.decode(bytes.data(), bytes.size(), samplesIn, codes);
        voiceEvents(codes, ended, farEnd);
    }
    if (failed_)
        return ModemResult::PortFailed;
    const uint8_t end[] = { DLE, ETX };
    if (!writeAll(end, sizeof end))
        return ModemResult::PortFailed;
    // The OK comes once the modem has played what it holds.
    parser_.reset();
    const auto deadline = Clock::now() + std::chrono::milliseconds(kStreamEndMs);
    std::vector<uint8_t> bytes;
    while (Clock::now() < deadline) {
        bytes.clear();
        if (!readSome(bytes, true))
            return ModemResult::PortFailed;
        std::vector<AtLine> lines;
        parser_.feed(bytes.data(), bytes.size(), lines);
        for (const AtLine& l : lines) {
            if (l.final())
                return farEnd ? ModemResult::NoCarrier : resultOf(l);
            handleUnsolicited(l);
        }
    }
    outOfService("The modem on " + path_ + " did not finish playing.");
    return ModemResult::Timeout;
}

// A recording stream as it comes in (record and duplex).
struct ModemSession::Incoming {
    DleDecoder decoder;
    std::vector<uint8_t> raw, samples, rest;
    std::vector<DleCode> codes;
    std::vector<int16_t> pcm;
    bool ended = false, farEnd = false, askedToEnd = false;
    Clock::time_point deadline = Clock::time_point::max();
};

void ModemSession::takeIncoming(Incoming& in, const PushFn& push)
{
    in.codes.clear();
    const size_t taken = in.decoder.decode(in.raw.data(), in.raw.size(), in.samples, in.codes);
    in.rest.assign(in.raw.begin() + static_cast<long>(taken), in.raw.end());
    in.raw.clear();
    // Events end the recording at the place they were reported.
    voiceEvents(in.codes, in.ended, in.farEnd);
    const size_t unit = format_.bytesPerSample();
    const size_t whole = in.samples.size() / unit * unit;
    if (whole > 0) {
        in.pcm.clear();
        decodeSamples(format_.coding, in.samples.data(), whole, in.pcm);
        in.samples.erase(in.samples.begin(), in.samples.begin() + static_cast<long>(whole));
        if (!in.askedToEnd)
            push(in.pcm.data(), in.pcm.size());
    }
}

bool ModemSession::askToEnd(Incoming& in, uint8_t code)
{
    in.askedToEnd = true;
    const uint8_t stop[] = { DLE, code };
    if (!writeAll(stop, sizeof stop))
        return false;
    in.deadline = Clock::now() + std::chrono::milliseconds(kCommandMs);
    return true;
}

void ModemSession::record(PushFn push, DoneFn done)
{
    postVoice([this, push] { return doRecord(push); }, std::move(done));
}

ModemResult ModemSession::doRecord(const PushFn& push)
{
    if (!voice_)
        return ModemResult::Refused;
    if (const ModemResult r = startStream("+VRX"); r != ModemResult::Connect)
        return r;
    Incoming in;
    in.raw.swap(carry_);
    for (;;) {
        takeIncoming(in, push);
        if (in.ended)
            break;
        if ((stopVoice_ || in.farEnd) && !in.askedToEnd && !askToEnd(in, '!'))
            return ModemResult::PortFailed;
        if (Clock::now() > in.deadline) {
            outOfService("The modem on " + path_ + " did not end the recording.");
            return ModemResult::Timeout;
        }
        if (!readStream(in.raw, true))
            return ModemResult::PortFailed;
    }
    return awaitStreamEnd(in.rest, in.farEnd);
}

ModemResult ModemSession::awaitStreamEnd(std::vector<uint8_t> rest, bool farEnd)
{
    // What follows DLE ETX is the command state's OK.
    parser_.reset();
    const auto okDeadline = Clock::now() + std::chrono::milliseconds(kCommandMs);
    for (;;) {
        std::vector<AtLine> lines;
        parser_.feed(rest.data(), rest.size(), lines);
        for (const AtLine& l : lines) {
            if (l.final())
                return farEnd ? ModemResult::NoCarrier : resultOf(l);
            handleUnsolicited(l);
        }
        if (Clock::now() > okDeadline) {
            outOfService("The modem on " + path_ + " stopped answering.");
            return ModemResult::Timeout;
        }
        rest.clear();
        if (!readSome(rest, true))
            return ModemResult::PortFailed;
    }
}

void ModemSession::duplex(PullFn pull, PushFn push, DoneFn done)
{
    postVoice([this, pull, push] { return doDuplex(pull, push); }, std::move(done));
}

ModemResult ModemSession::doDuplex(const PullFn& pull, const PushFn& push)
{
    if (!voice_ || !duplex_)
        return ModemResult::Refused;
    if (const ModemResult r = startStream("+VTR"); r != ModemResult::Connect)
        return r;
    Incoming in;
    in.raw.swap(carry_);
    std::vector<int16_t> chunk;
    // The modem plays at its own clock and must never run dry: what the
    // program has not given yet is sent as silence, kept a little ahead of
    // the line's clock (the modem's flow control holds the rest back).
    const auto start = Clock::now();
    uint64_t sent = 0;
    for (;;) {
        takeIncoming(in, push);
        if (in.ended)
            break;
        if ((stopVoice_ || in.farEnd || failed_) && !in.askedToEnd) {
            if (failed_ || !askToEnd(in, '^'))
                return ModemResult::PortFailed;
        }
        if (Clock::now() > in.deadline) {
            outOfService("The modem on " + path_ + " did not end the full-duplex stream.");
            return ModemResult::Timeout;
        }
        const auto due = uint64_t(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() * 8);
        if (!in.askedToEnd && sent < due + kDuplexLeadSamples) {
            chunk.clear();
            pull(chunk);
            if (chunk.empty())
                chunk.assign(kDuplexChunkSamples, 0);
            if (!writeSamples(chunk))
                return ModemResult::PortFailed;
            sent += chunk.size();
        }
        // Wait for the modem's samples only once enough is sent.
        if (!readStream(in.raw, in.askedToEnd || sent >= due + kDuplexLeadSamples))
            return ModemResult::PortFailed;
    }
    return awaitStreamEnd(in.rest, in.farEnd);
}

} // namespace zq::modem
