// Plays PCM into a registered line-like device, double-buffered as a player
// does, and reports how far each buffer's completion message lies from its
// real-time end (measured against the clock of this run), and the CPU time
// spent per second of audio.
//
// wave_pacing [seconds=60] [buffer_ms=1000] [rate=8000]
#include "messages.h"
#include "mmsystem.h"
#include "wavedevices.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

// A line that takes the audio and only counts it.
class CountingLine : public zq::wave::WaveOutEndpoint {
public:
    void Write(const void*, size_t bytes) override
    {
        bytes_ += bytes;
        ++writes_;
    }
    std::atomic<uint64_t> bytes_ { 0 };
    std::atomic<uint64_t> writes_ { 0 };
};

double CpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int bufferMs = argc > 2 ? std::atoi(argv[2]) : 1000;
    const DWORD rate = argc > 3 ? DWORD(std::atoi(argv[3])) : 8000;
    if (seconds <= 0 || bufferMs <= 0 || rate < 1000) {
        std::fprintf(stderr, "usage: wave_pacing [seconds] [buffer_ms] [rate]\n");
        return 2;
    }

    auto line = std::make_shared<CountingLine>();
    UINT id = zq::wave::RegisterWaveOutDevice("bench line", line);
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = rate * 2;

    MSG msg;
    PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
    HWAVEOUT h = nullptr;
    if (MMRESULT r = waveOutOpen(&h, id, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD)) {
        char text[MAXERRORLENGTH];
        waveOutGetErrorTextA(r, text, sizeof text);
        std::fprintf(stderr, "waveOutOpen: %u %s\n", r, text);
        return 1;
    }

    const size_t bufferBytes = size_t(f.nAvgBytesPerSec) * bufferMs / 1000;
    const int buffers = std::max(1, seconds * 1000 / bufferMs);
    std::vector<std::vector<char>> blocks(2, std::vector<char>(bufferBytes, 1));
    WAVEHDR headers[2];
    using Clock = std::chrono::steady_clock;
    std::vector<double> errorsMs;
    int queued = 0;

    auto queue = [&](WAVEHDR& hd, std::vector<char>& block) {
        hd.lpData = block.data();
        hd.dwBufferLength = DWORD(block.size());
        hd.dwFlags = 0;
        waveOutPrepareHeader(h, &hd, sizeof hd);
        waveOutWrite(h, &hd, sizeof hd);
        ++queued;
    };

    const double cpuStart = CpuSeconds();
    const Clock::time_point start = Clock::now();
    queue(headers[0], blocks[0]);
    if (buffers > 1)
        queue(headers[1], blocks[1]);
    int done = 0;
    while (done < buffers && GetMessage(&msg, nullptr, 0, 0)) {
        if (msg.message != MM_WOM_DONE)
            continue;
        const Clock::time_point now = Clock::now();
        ++done;
        const auto due = start + std::chrono::nanoseconds(int64_t(done) * bufferMs * 1000000);
        errorsMs.push_back(std::chrono::duration<double, std::milli>(now - due).count());
        auto* hd = reinterpret_cast<WAVEHDR*>(msg.lParam);
        waveOutUnprepareHeader(h, hd, sizeof *hd);
        if (queued < buffers)
            queue(*hd, blocks[hd == &headers[0] ? 0 : 1]);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    waveOutClose(h);
    zq::wave::UnregisterWaveOutDevice(id);

    std::vector<double> sorted = errorsMs;
    std::sort(sorted.begin(), sorted.end());
    double median = sorted[sorted.size() / 2];
    double worst = *std::max_element(
        sorted.begin(), sorted.end(), [](double a, double b) { return std::abs(a) < std::abs(b); });
    double audioSeconds = double(buffers) * bufferMs / 1000.0;
    std::printf("wave pacing: %d buffers of %d ms at %u Hz, %.1f s of audio in %.3f s\n", buffers, bufferMs,
        unsigned(rate), audioSeconds, wall);
    std::printf(
        "completion error vs real time: median %+.3f ms, worst %+.3f ms (positive = late)\n", median, worst);
    std::printf("line writes: %llu (%llu bytes)\n", (unsigned long long)line->writes_.load(),
        (unsigned long long)line->bytes_.load());
    std::printf("cpu: %.3f ms per second of audio\n", cpu * 1000.0 / audioSeconds);
    return 0;
}
