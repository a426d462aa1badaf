// How evenly SIP calls send their audio: each call's packets are timed as
// they arrive at a local receiver, and the gaps compared with 20 ms. Runs
// one call alone, one call beside three busy loops, then 1, 10 and 50 calls
// at once with the CPU time they take.
//
//   sip_pacing [seconds per run, default 60]
#include "rtppacket.h"
#include "rtpsession.h"
#include "sip_bench_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

using namespace zq::sip;
using namespace zq::bench;

namespace {

double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double CpuNow()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Receiver {
    int fd = -1;
    int port = 0;
    std::vector<double> arrivals;
    uint16_t lastSeq = 0;
    bool haveSeq = false;
    size_t seqGaps = 0;
};

struct Result {
    double median = 0, worst = 0, cpuPerCall = 0;
    size_t packets = 0, gaps = 0;
};

Result Run(int calls, double seconds, int busyLoops)
{
    std::vector<Receiver> rx(calls);
    std::vector<std::unique_ptr<RtpSession>> tx;
    std::vector<pollfd> fds;
    for (auto& r : rx) {
        r.fd = BindStampedUdp(&r.port);
        fds.push_back({ r.fd, POLLIN, 0 });
    }
    std::atomic<bool> stop { false };
    std::vector<std::thread> busy;
    for (int i = 0; i < busyLoops; ++i)
        busy.emplace_back([&] {
            volatile uint64_t x = 0;
            while (!stop)
                x = x + 1;
        });
    const double cpu0 = CpuNow();
    for (auto& r : rx) {
        std::string error;
        auto s = RtpSession::Bind("127.0.0.1", 0, 0, &error);
        RtpConfig c;
        auto* a = reinterpret_cast<sockaddr_in*>(&c.remote);
        a->sin_family = AF_INET;
        a->sin_port = htons(uint16_t(r.port));
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        c.remoteLength = sizeof(sockaddr_in);
        s->Start(c, {});
        tx.push_back(std::move(s));
    }
    // Every call speaks all the time: queue its audio ahead, as the wave
    // device does.
    std::vector<int16_t> speech(8000);
    for (size_t i = 0; i < speech.size(); ++i)
        speech[i] = int16_t((i * 37) % 2000 - 1000);
    const double end = Now() + seconds;
    double nextFeed = 0;
    while (Now() < end) {
        if (Now() >= nextFeed) {
            for (auto& s : tx)
                if (s->Queued() < 4000)
                    s->Send(speech.data(), speech.size());
            nextFeed = Now() + 0.1;
        }
        if (poll(fds.data(), fds.size(), 50) <= 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            uint8_t buf[512];
            for (;;) {
                // The kernel's arrival time, not when this loop got round to it.
                double t = 0;
                const ssize_t n = ReceiveStamped(fds[i].fd, buf, sizeof buf, &t);
                if (n <= 0)
                    break;
                auto rtp = ParseRtp(buf, size_t(n));
                if (!rtp)
                    continue;
                auto& r = rx[i];
                if (r.haveSeq && uint16_t(r.lastSeq + 1) != rtp->header.sequence)
                    ++r.seqGaps;
                r.lastSeq = rtp->header.sequence;
                r.haveSeq = true;
                r.arrivals.push_back(t);
            }
        }
    }
    for (auto& s : tx)
        s->Stop();
    const double cpu = CpuNow() - cpu0;
    stop = true;
    for (auto& b : busy)
        b.join();
    Result res;
    std::vector<double> deviations;
    for (auto& r : rx) {
        for (size_t i = 1; i < r.arrivals.size(); ++i)
            deviations.push_back(std::abs((r.arrivals[i] - r.arrivals[i - 1]) * 1000 - 20));
        res.packets += r.arrivals.size();
        res.gaps += r.seqGaps;
        close(r.fd);
    }
    std::sort(deviations.begin(), deviations.end());
    if (!deviations.empty()) {
        res.median = deviations[deviations.size() / 2];
        res.worst = deviations.back();
    }
    // The busy loops' own CPU is not the calls'.
    res.cpuPerCall = busyLoops ? 0 : cpu / calls / seconds * 100;
    return res;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    std::printf("SIP send pacing, %.0f s per run (deviation of packet gaps from 20 ms)\n", seconds);
    auto print = [](const char* what, int calls, const Result& r) {
        std::printf("%-28s calls %3d  packets %7zu  lost/reordered %zu  median %.3f ms  worst %.3f ms", what,
            calls, r.packets, r.gaps, r.median, r.worst);
        if (r.cpuPerCall > 0)
            std::printf("  CPU per call %.3f %%", r.cpuPerCall);
        std::printf("\n");
    };
    print("alone", 1, Run(1, seconds, 0));
    print("beside three busy loops", 1, Run(1, seconds, 3));
    for (int calls : { 1, 10, 50 })
        print("simultaneous calls", calls, Run(calls, seconds, 0));
    return 0;
}
