#include "sipp.h"

#include "eventwait.h"
#include "g711.h"
#include "rtppacket.h"
#include "unattendedprogram.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zqsiptest {

namespace {
bool Bindable(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}
} // namespace

// Ports below the system's ephemeral range (32768 up), so nothing that binds
// "any port" takes them meanwhile; each process starts at its own place in
// the range, so tests running side by side do not pick the same ones.
int FreeUdpPort()
{
    static int next = 20000 + int(unsigned(getpid()) % 500) * 24;
    for (;;) {
        const int port = next++;
        if (next >= 32000)
            next = 20000;
        if (Bindable(port))
            return port;
    }
}

int FreeMediaPort()
{
    static int next = 10000 + int(unsigned(getpid()) % 500) * 20;
    for (;;) {
        const int p = next;
        next += 4;
        if (next >= 19990)
            next = 10000;
        if (Bindable(p) && Bindable(p + 1) && Bindable(p + 2) && Bindable(p + 3))
            return p;
    }
}

namespace {
// Read from the kernel's table of UDP sockets: probing by binding the port
// would, for that moment, take it from the program that is about to bind it.
bool UdpBound(int port)
{
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line); // the heading
    char want[16];
    std::snprintf(want, sizeof want, ":%04X", unsigned(port));
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        if (local.size() > 5 && local.compare(local.size() - 5, 5, want) == 0)
            return true;
    }
    return false;
}
} // namespace

bool WaitListening(int port)
{
    return zqtest::WaitUntil([port] { return UdpBound(port); });
}

Sipp::~Sipp()
{
    Stop();
}

bool Sipp::Start(const std::vector<std::string>& args, const std::string& dir)
{
    dir_ = dir;
    std::vector<std::string> all = { "sipp" };
    all.insert(all.end(), args.begin(), args.end());
    for (const char* a : { "-nostdin", "-trace_err", "-error_file" })
        all.push_back(a);
    all.push_back(dir + "/sipp_errors.log");
    pid_ = zqtest::StartUnattended(all, dir + "/sipp_out.log", true);
    return pid_ > 0;
}

int Sipp::Wait(int limitMs)
{
    if (pid_ <= 0)
        return status_;
    zqtest::WaitUntil(
        [&] {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                pid_ = -1;
                return true;
            }
            return false;
        },
        limitMs);
    return pid_ > 0 ? -1 : status_;
}

void Sipp::Stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int st = 0;
    waitpid(pid_, &st, 0);
    pid_ = -1;
}

std::string Sipp::Log() const
{
    std::string out;
    for (const char* f : { "/sipp_out.log", "/sipp_errors.log" }) {
        std::ifstream in(dir_ + f);
        std::stringstream s;
        s << in.rdbuf();
        out += s.str().substr(0, 4000);
    }
    return out;
}

std::string ScenarioPath(const std::string& name)
{
    return std::string(ZQ_SIP_SCENARIOS) + "/" + name;
}

std::string WriteScenario(const std::string& name, const std::string& dir,
    const std::vector<std::pair<std::string, std::string>>& replacements)
{
    std::ifstream in(ScenarioPath(name));
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    for (const auto& [from, to] : replacements)
        for (size_t at; (at = text.find(from)) != std::string::npos;)
            text.replace(at, from.size(), to);
    const std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    return path;
}

void WriteRtpCapture(const std::string& path, int hz, int ms, const std::string& digits)
{
    std::ofstream out(path, std::ios::binary);
    auto put32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    put32(0xa1b2c3d4);
    put16(2);
    put16(4);
    put32(0);
    put32(0);
    put32(65535);
    put32(1); // Ethernet
    uint32_t usec = 0;
    uint16_t seq = 1;
    uint32_t ts = 1000;
    auto packet = [&](const std::vector<uint8_t>& rtp) {
        std::vector<uint8_t> frame(14 + 20 + 8);
        frame[12] = 0x08; // IPv4
        uint8_t* ip = &frame[14];
        const uint16_t ipLen = uint16_t(20 + 8 + rtp.size());
        ip[0] = 0x45;
        ip[2] = uint8_t(ipLen >> 8);
        ip[3] = uint8_t(ipLen);
        ip[8] = 64;
        ip[9] = 17; // UDP
        ip[12] = 127, ip[15] = 1;
        ip[16] = 127, ip[19] = 1;
        uint8_t* udp = &frame[34];
        const uint16_t udpLen = uint16_t(8 + rtp.size());
        udp[0] = 0x17, udp[1] = 0x70; // 6000
        udp[2] = 0x17, udp[3] = 0x70;
        udp[4] = uint8_t(udpLen >> 8);
        udp[5] = uint8_t(udpLen);
        frame.insert(frame.end(), rtp.begin(), rtp.end());
        put32(usec / 1000000);
        put32(usec % 1000000);
        put32(uint32_t(frame.size()));
        put32(uint32_t(frame.size()));
        out.write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));
        usec += 20000;
    };
    zq::sip::RtpHeader h;
    h.ssrc = 0x5151;
    for (int t = 0; t < ms / 20; ++t) {
        int16_t pcm[160];
        for (int i = 0; i < 160; ++i)
            pcm[i] = int16_t(10000 * std::sin(2 * M_PI * hz * double(t * 160 + i) / 8000));
        uint8_t payload[160];
        zq::sip::G711Encode(zq::sip::G711Law::MuLaw, pcm, 160, payload);
        h.payloadType = 0;
        h.marker = t == 0;
        h.sequence = seq++;
        h.timestamp = ts;
        ts += 160;
        packet(zq::sip::BuildRtp(h, payload, 160));
    }
    for (char d : digits) {
        const uint32_t start = ts;
        for (int i = 1; i <= 8; ++i) {
            zq::sip::TelephoneEvent e;
            e.event = uint8_t(zq::sip::DigitEvent(d));
            e.end = i >= 6;
            e.duration = uint16_t(std::min(i, 6) * 160);
            uint8_t payload[4];
            zq::sip::BuildTelephoneEvent(e, payload);
            h.payloadType = 101;
            h.marker = i == 1;
            h.sequence = seq++;
            h.timestamp = start;
            packet(zq::sip::BuildRtp(h, payload, 4));
            ts += i <= 6 ? 160 : 0;
        }
        ts += 160 * 5;
        usec += 100000;
    }
}

} // namespace zqsiptest
