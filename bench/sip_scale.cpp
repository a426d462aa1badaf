// SIP lines at scale: 1, 10 and 50 calls at once from this process to a sipp
// UAS on loopback, every call speaking through its line's wave-out device
// the whole time. sipp answers each call with the address of a receiver in
// this process, which timestamps every packet as the kernel takes it. Per
// run: the CPU the calls cost (process time less the receiver's), the
// deviation of packet gaps from 20 ms, and whether each call's audio arrived
// intact (every sample played, in order, nothing missing or inserted).
//
//   sip_scale [seconds of speech per call, default 20]
#include "g711.h"
#include "mmsystem.h"
#include "registry.h"
#include "rtppacket.h"
#include "sip_bench_support.h"
#include "sipaccounts.h"
#include "tapi.h"
#include "zqtapi.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace zq::sip;
using namespace zq::bench;

namespace {

constexpr int kMaxCalls = 50;

double Seconds(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::mutex gMutex;
std::map<HCALL, DWORD> gCallStates;

void Callback(DWORD device, DWORD msg, DWORD_PTR, DWORD_PTR p1, DWORD_PTR, DWORD_PTR)
{
    std::lock_guard lock(gMutex);
    if (msg == LINE_CALLSTATE)
        gCallStates[HCALL(device)] = DWORD(p1);
}

DWORD CallState(HCALL call)
{
    std::lock_guard lock(gMutex);
    const auto it = gCallStates.find(call);
    return it == gCallStates.end() ? 0 : it->second;
}

// Serves events while it waits, sleeping in between: the waiting must not
// cost CPU that would be booked to the calls.
bool WaitFor(const std::function<bool()>& pred, int ms = 60000)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// What the receiver got of one stream (one SSRC).
struct Stream {
    std::vector<double> arrivals;
    std::vector<uint16_t> sequences;
    std::vector<uint8_t> payload; // the mu-law bytes in arrival order
};

// Takes every packet sent to its port, on a thread of its own, stamped with
// the kernel's arrival time.
class Receiver {
public:
    Receiver()
    {
        fd_ = BindStampedUdp(&port_);
        const int size = 8 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        thread_ = std::thread([this] { Run(); });
    }
    ~Receiver()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    int Port() const { return port_; }
    void StartRecording()
    {
        std::lock_guard lock(mutex_);
        streams_.clear();
        recording_ = true;
    }
    std::map<uint32_t, Stream> StopRecording()
    {
        std::lock_guard lock(mutex_);
        recording_ = false;
        return std::move(streams_);
    }
    double Cpu() const { return cpu_; }

private:
    void Run()
    {
        pollfd p { fd_, POLLIN, 0 };
        while (!stop_) {
            cpu_ = Seconds(CLOCK_THREAD_CPUTIME_ID);
            if (poll(&p, 1, 50) <= 0)
                continue;
            for (;;) {
                uint8_t buf[512];
                double t = 0;
                const ssize_t n = ReceiveStamped(fd_, buf, sizeof buf, &t);
                if (n <= 0)
                    break;
                const auto rtp = ParseRtp(buf, size_t(n));
                if (!rtp || rtp->header.payloadType != kPayloadPcmu)
                    continue;
                std::lock_guard lock(mutex_);
                if (!recording_)
                    continue;
                Stream& s = streams_[rtp->header.ssrc];
                s.arrivals.push_back(t);
                s.sequences.push_back(rtp->header.sequence);
                s.payload.insert(s.payload.end(), rtp->payload, rtp->payload + rtp->payloadSize);
            }
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_ { false };
    std::atomic<double> cpu_ { 0 };
    std::mutex mutex_;
    bool recording_ = false;
    std::map<uint32_t, Stream> streams_;
};

// Each call's own tone, so a stream that carried another's audio fails.
std::vector<int16_t> Speech(int call, double seconds)
{
    std::vector<int16_t> s(size_t(seconds * kSampleRate));
    const double hz = 300 + 37 * call;
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int16_t(9000 * std::sin(2 * M_PI * hz * double(i) / kSampleRate + 0.7));
    return s;
}

struct Line {
    std::string name;
    DWORD device = 0;
    HLINE line = 0;
    HCALL call = 0;
    HWAVEOUT out = nullptr;
    WAVEHDR header {};
    std::vector<int16_t> speech;
    std::vector<uint8_t> encoded;
};

struct Figures {
    int calls = 0, connected = 0, intact = 0;
    size_t packets = 0, sequenceGaps = 0;
    double median = 0, p99 = 0, worst = 0, cpuPerCall = 0;
    std::vector<std::string> faults;
};

// Where the call's speech starts in what arrived, and how many of its
// samples arrived other than played (missing ones count too).
size_t Mismatches(const std::vector<uint8_t>& got, const std::vector<uint8_t>& expected, uint8_t silence)
{
    size_t start = 0;
    while (start < got.size() && got[start] == silence)
        ++start;
    size_t wrong = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        if (start + i >= got.size() || got[start + i] != expected[i])
            ++wrong;
    return wrong;
}

std::vector<UINT> WaveOutIds(HLINE line)
{
    std::vector<char> buf(256);
    auto* v = reinterpret_cast<VARSTRING*>(buf.data());
    v->dwTotalSize = DWORD(buf.size());
    if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, v, "wave/out") != 0)
        return {};
    DWORD id = 0;
    std::memcpy(&id, buf.data() + v->dwStringOffset, 4);
    return { UINT(id) };
}

Figures Run(HLINEAPP app, std::vector<Line>& all, int calls, double seconds, Receiver& receiver)
{
    Figures f;
    f.calls = calls;
    std::vector<Line*> lines;
    for (int i = 0; i < calls; ++i)
        lines.push_back(&all[size_t(i)]);
    uint8_t silence = 0;
    const int16_t zero = 0;
    G711Encode(G711Law::MuLaw, &zero, 1, &silence);

    WAVEFORMATEX fmt {};
    fmt.wFormatTag = WAVE_FORMAT_PCM;
    fmt.nChannels = 1;
    fmt.nSamplesPerSec = kSampleRate;
    fmt.wBitsPerSample = 16;
    fmt.nBlockAlign = 2;
    fmt.nAvgBytesPerSec = 2 * kSampleRate;
    for (Line* l : lines) {
        DWORD version = 0;
        LINEEXTENSIONID ext {};
        lineNegotiateAPIVersion(app, l->device, 0x00010000, 0x00090000, &version, &ext);
        if (lineOpen(app, l->device, &l->line, version, 0, 0, LINECALLPRIVILEGE_NONE,
                LINEMEDIAMODE_INTERACTIVEVOICE, nullptr)
            != 0) {
            f.faults.push_back(l->name + ": lineOpen failed");
            continue;
        }
        const auto ids = WaveOutIds(l->line);
        if (ids.empty() || waveOutOpen(&l->out, ids[0], &fmt, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
            f.faults.push_back(l->name + ": no wave-out device");
        LINECALLPARAMS params {};
        params.dwTotalSize = sizeof params;
        params.dwBearerMode = LINEBEARERMODE_VOICE;
        params.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
        if (lineMakeCall(l->line, &l->call, "4711", 0, &params) <= 0) {
            f.faults.push_back(l->name + ": lineMakeCall failed");
            lineClose(l->line);
            l->line = 0;
        }
    }
    // The call handle arrives with the request's reply.
    WaitFor([&] {
        for (Line* l : lines)
            if (l->line && (!l->call || CallState(l->call) != LINECALLSTATE_CONNECTED))
                return false;
        return true;
    });
    for (Line* l : lines)
        if (l->call && CallState(l->call) == LINECALLSTATE_CONNECTED)
            ++f.connected;

    receiver.StartRecording();
    const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID), receiverCpu0 = receiver.Cpu();
    const double wall0 = Seconds(CLOCK_MONOTONIC);
    for (Line* l : lines) {
        if (!l->out)
            continue;
        l->header = {};
        l->header.lpData = reinterpret_cast<char*>(l->speech.data());
        l->header.dwBufferLength = DWORD(l->speech.size() * 2);
        waveOutPrepareHeader(l->out, &l->header, sizeof l->header);
        waveOutWrite(l->out, &l->header, sizeof l->header);
    }
    WaitFor(
        [&] {
            for (Line* l : lines)
                if (l->out && !(l->header.dwFlags & WHDR_DONE))
                    return false;
            return true;
        },
        int(seconds * 3000) + 30000);
    // The last 200 ms are still queued at the senders when the device is done.
    const double settle = Seconds(CLOCK_MONOTONIC) + 0.5;
    WaitFor([&] { return Seconds(CLOCK_MONOTONIC) >= settle; });
    const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0 - (receiver.Cpu() - receiverCpu0);
    const double wall = Seconds(CLOCK_MONOTONIC) - wall0;
    std::map<uint32_t, Stream> streams = receiver.StopRecording();

    for (Line* l : lines) {
        if (l->call) {
            lineDrop(l->call, nullptr, 0);
            WaitFor([&] { return CallState(l->call) == LINECALLSTATE_IDLE; }, 30000);
            lineDeallocateCall(l->call);
            l->call = 0;
        }
        if (l->out) {
            waveOutReset(l->out);
            waveOutUnprepareHeader(l->out, &l->header, sizeof l->header);
            waveOutClose(l->out);
            l->out = nullptr;
        }
        if (l->line)
            lineClose(l->line);
        l->line = 0;
    }

    // Streams are matched to calls by their tone.
    std::vector<double> deviations;
    std::vector<bool> matched(lines.size());
    for (auto& [ssrc, s] : streams) {
        f.packets += s.arrivals.size();
        for (size_t i = 1; i < s.arrivals.size(); ++i) {
            deviations.push_back(std::abs((s.arrivals[i] - s.arrivals[i - 1]) * 1000 - 20));
            if (uint16_t(s.sequences[i - 1] + 1) != s.sequences[i])
                ++f.sequenceGaps;
        }
        for (size_t c = 0; c < lines.size(); ++c) {
            if (matched[c])
                continue;
            if (Mismatches(s.payload, lines[c]->encoded, silence) == 0) {
                matched[c] = true;
                ++f.intact;
                break;
            }
        }
    }
    for (size_t c = 0; c < lines.size(); ++c) {
        if (matched[c])
            continue;
        size_t best = lines[c]->encoded.size();
        for (auto& [ssrc, s] : streams)
            best = std::min(best, Mismatches(s.payload, lines[c]->encoded, silence));
        f.faults.push_back(lines[c]->name + ": audio not intact, " + std::to_string(best) + " of "
            + std::to_string(lines[c]->encoded.size()) + " samples differ");
    }
    std::sort(deviations.begin(), deviations.end());
    if (!deviations.empty()) {
        f.median = deviations[deviations.size() / 2];
        f.p99 = deviations[deviations.size() * 99 / 100];
        f.worst = deviations.back();
    }
    f.cpuPerCall = cpu / calls / wall * 100;
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    setenv("ZQ_REGISTRY_FILE", (d + "/registry.json").c_str(), 1);

    Receiver receiver;
    const int uasPort = FreeUdpPort();
    const pid_t uas
        = Spawn({ "sipp", "-sf", ZQ_SIP_SCALE_SCENARIO, "-i", "127.0.0.1", "-p", std::to_string(uasPort),
                    "-key", "sink_port", std::to_string(receiver.Port()), "-nostdin" },
            d + "/uas.log");
    if (!WaitFor([&] { return UdpPortBound(uasPort); }, 30000)) {
        std::fprintf(stderr, "sipp did not start (see %s/uas.log)\n", d.c_str());
        return 1;
    }

    std::vector<Line> lines(kMaxCalls);
    std::string error;
    for (int i = 0; i < kMaxCalls; ++i) {
        SipAccountSettings a;
        char name[32];
        std::snprintf(name, sizeof name, "Bench SIP %02d", i + 1);
        a.name = name;
        a.address = "sip:bench" + std::to_string(i + 1) + "@127.0.0.1:" + std::to_string(uasPort);
        a.localAddress = "127.0.0.1";
        a.codecs = "PCMU";
        if (!SaveSipAccount(a, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        Line& l = lines[size_t(i)];
        l.name = name;
        l.speech = Speech(i, seconds);
        l.encoded.resize(l.speech.size());
        G711Encode(G711Law::MuLaw, l.speech.data(), l.speech.size(), l.encoded.data());
    }
    HKEY key = nullptr;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\zqcomm\\Telephony\\SIP", 0, nullptr,
        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    const DWORD one = 1;
    RegSetValueEx(key, "Enabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);

    HLINEAPP app = 0;
    DWORD devices = 0;
    if (lineInitialize(&app, nullptr, &Callback, nullptr, &devices) != 0) {
        std::fprintf(stderr, "lineInitialize failed\n");
        return 1;
    }
    int found = 0;
    for (DWORD dev = 0; dev < devices; ++dev) {
        DWORD version = 0;
        LINEEXTENSIONID ext {};
        if (lineNegotiateAPIVersion(app, dev, 0x00010000, 0x00090000, &version, &ext) != 0)
            continue;
        std::vector<char> caps(4096);
        auto* c = reinterpret_cast<LINEDEVCAPS*>(caps.data());
        c->dwTotalSize = DWORD(caps.size());
        if (lineGetDevCaps(app, dev, version, 0, c) != 0 || !c->dwLineNameSize)
            continue;
        const std::string name(caps.data() + c->dwLineNameOffset);
        for (Line& l : lines)
            if (l.name == name) {
                l.device = dev;
                ++found;
            }
    }
    if (found != kMaxCalls) {
        std::fprintf(stderr, "%d of %d lines found\n", found, kMaxCalls);
        return 1;
    }

    std::printf("SIP calls at scale: calls to a sipp UAS on loopback, each speaking %.0f s through its\n"
                "line's wave-out device; packet gaps at the receiver against 20 ms\n",
        seconds);
    // The process with every line idle, for reference.
    const double idleCpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID) - receiver.Cpu();
    const double idleWall0 = Seconds(CLOCK_MONOTONIC);
    WaitFor([&] { return Seconds(CLOCK_MONOTONIC) >= idleWall0 + 5; });
    const double idleCpu = (Seconds(CLOCK_PROCESS_CPUTIME_ID) - receiver.Cpu() - idleCpu0)
        / (Seconds(CLOCK_MONOTONIC) - idleWall0) * 100;
    std::printf("no call (reference): CPU %.3f %%\n", idleCpu);
    std::vector<Figures> all;
    for (int calls : { 1, 10, 50 }) {
        const Figures f = Run(app, lines, calls, seconds, receiver);
        all.push_back(f);
        std::printf("calls %2d  connected %2d  audio intact %2d/%-2d  packets %6zu  sequence gaps %zu  "
                    "gap deviation median %.3f ms  99%% %.3f ms  worst %.3f ms  CPU per call %.3f %% "
                    "(%.3f %% above the reference)\n",
            f.calls, f.connected, f.intact, f.calls, f.packets, f.sequenceGaps, f.median, f.p99, f.worst,
            f.cpuPerCall, f.cpuPerCall - idleCpu / f.calls);
        for (const std::string& fault : f.faults)
            std::printf("    %s\n", fault.c_str());
        std::fflush(stdout);
    }
    if (all.size() == 3 && all[0].cpuPerCall > 0 && all[0].worst > 0)
        std::printf("ratios against 1 call: CPU per call x%.2f (10), x%.2f (50); worst gap deviation x%.2f "
                    "(10), x%.2f (50)\n",
            all[1].cpuPerCall / all[0].cpuPerCall, all[2].cpuPerCall / all[0].cpuPerCall,
            all[1].worst / all[0].worst, all[2].worst / all[0].worst);
    lineShutdown(&app);
    kill(uas, SIGTERM);
    int st = 0;
    waitpid(uas, &st, 0);
    return 0;
}
