// Pacing of the wave component: 60 s of PCM played through TzqCustomWave
// into a simulated line's wave device. Every refill marks a buffer's
// completion; each is compared with the real-time clock of this run (buffer
// k of one second ends k seconds after the start). Also the process's CPU
// time per second of audio.
#include "registry.h"
#include "testaudio.h"
#include "zqwavebase.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSeconds = 60;

double CpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// A tone at 8000 Hz 16-bit mono, kSeconds long, refilled one second a time.
class ToneWave : public TzqCustomWave {
public:
    std::vector<Clock::time_point> fills;
    std::mutex mutex;
    int64_t remaining = 0;

    bool PreparePlay() override
    {
        outputFormat_ = zqtest::Pcm(8000, 1, 16);
        remaining = int64_t(kSeconds) * 16000;
        return true;
    }
    int FillBuffer(void* Buffer, int Size) override
    {
        {
            std::lock_guard lock(mutex);
            fills.push_back(Clock::now());
        }
        const int n = int(std::min<int64_t>(Size, remaining));
        auto* s = static_cast<int16_t*>(Buffer);
        for (int i = 0; i < n / 2; ++i)
            s[i] = int16_t(8000 * std::sin(2 * M_PI * 440 * i / 8000.0));
        remaining -= n;
        return n;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("ZQ_REGISTRY_FILE", (dir.path() + "/registry.json").toLocal8Bit());

    TzqCommTAPI line;
    line.EnumDevices();
    if (line.DeviceCount() == 0) {
        std::fprintf(stderr, "No line device.\n");
        return 1;
    }
    line.SetDeviceIndex(0);
    ToneWave wave;
    wave.SetzqCommTAPI(&line);
    std::printf("device %u (%s), %d s at 8000 Hz 16-bit mono, 1 s buffers\n", wave.WaveOutDeviceID(),
        line.CurrentDeviceName().c_str(), kSeconds);

    wave.PlayOptions = TWaveOptions(woSynchro);
    const double cpu0 = CpuSeconds();
    const auto wall0 = Clock::now();
    wave.StartPlay();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = CpuSeconds() - cpu0;

    // The first two fills queue the buffers at the start; each later one is
    // the completion of buffer k (k = 1, 2, ...).
    std::vector<double> errors;
    const Clock::time_point start = wave.fills.empty() ? wall0 : wave.fills.front();
    for (size_t i = 2; i < wave.fills.size(); ++i) {
        const double expected = double(i - 1);
        const double actual = std::chrono::duration<double>(wave.fills[i] - start).count();
        errors.push_back(std::abs(actual - expected) * 1000.0);
    }
    std::sort(errors.begin(), errors.end());
    const double median = errors.empty() ? 0 : errors[errors.size() / 2];
    const double worst = errors.empty() ? 0 : errors.back();
    std::printf("completions %zu, run %.3f s (audio %d s)\n", errors.size(), wall, kSeconds);
    std::printf("pacing error: median %.2f ms, worst %.2f ms\n", median, worst);
    std::printf("CPU time: %.3f ms per second of audio\n", cpu * 1000.0 / kSeconds);
    return 0;
}
