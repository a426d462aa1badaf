// How soon after its last sample has been heard a playback on device 0 is
// reported complete, on a sound server: the sound is recorded from the null
// sink's monitor as it arrives, and the arrival of its last sample is compared
// with the last MM_WOM_DONE. Positive: reported after it was heard (goal:
// within about 100 ms); negative would be a sound cut off.
//
// wave_output_end [runs=5] [--existing]
//   default: a private PulseAudio daemon with ALSA's pulse plugin as device 0
//   --existing: the server already running (PipeWire or PulseAudio, see
//   scripts/pipewire-check.sh), which must have a null sink named "nul" as
//   its default sink.
#include "messages.h"
#include "mmsystem.h"
#include "pulseserver.h"
#include "wavedevices.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

using namespace wavetest;
using Clock = std::chrono::steady_clock;

namespace {

// The monitor's samples, with the time each chunk arrived.
class TimedMonitor {
public:
    TimedMonitor()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        const char* argv[] = { "pacat", "--record", "-d", "nul.monitor", "--raw", "--format=s16le",
            "--rate=8000", "--channels=1", "--latency-msec=10", nullptr };
        if (posix_spawnp(&pid_, "pacat", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        fd_ = fds[0];
        reader_ = std::thread([this] { Read(); });
    }
    ~TimedMonitor()
    {
        Reap(pid_, SIGTERM);
        reader_.join();
        close(fd_);
    }
    // When the last loud sample after `from` arrived, once a stretch of
    // `quiet` silent samples has followed it. Servers that resample (PipeWire
    // runs its graph at 48 kHz) alter every sample, so the end is found by
    // level, not by value.
    bool EndArrival(size_t from, size_t quiet, Clock::time_point* when)
    {
        constexpr int kLoud = 200;
        std::lock_guard lock(mutex_);
        size_t last = SIZE_MAX;
        for (size_t i = from; i < samples_.size(); ++i) {
            if (std::abs(samples_[i]) > kLoud)
                last = i;
            else if (last != SIZE_MAX && i - last >= quiet)
                break;
        }
        if (last == SIZE_MAX || samples_.size() - last <= quiet)
            return false;
        for (const auto& [count, time] : chunks_) {
            if (count > last) {
                *when = time;
                return true;
            }
        }
        return false;
    }
    size_t Size()
    {
        std::lock_guard lock(mutex_);
        return samples_.size();
    }

private:
    void Read()
    {
        char buf[4096];
        std::vector<char> odd;
        for (;;) {
            ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0)
                return;
            auto now = Clock::now();
            odd.insert(odd.end(), buf, buf + n);
            size_t whole = odd.size() / 2;
            if (whole == 0)
                continue;
            std::lock_guard lock(mutex_);
            size_t at = samples_.size();
            samples_.resize(at + whole);
            std::memcpy(samples_.data() + at, odd.data(), whole * 2);
            odd.erase(odd.begin(), odd.begin() + long(whole * 2));
            chunks_.push_back({ samples_.size(), now });
        }
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<int16_t> samples_;
    std::vector<std::pair<size_t, Clock::time_point>> chunks_;
};

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Seconds from the first loud sample to the last.
double LoudSpan(const std::vector<int16_t>& samples, uint32_t rate)
{
    auto loud = [](int16_t v) { return std::abs(v) > 200; };
    auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end())
        return 0;
    auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    return double(last - first) / rate;
}

// Records 6 s from device 0 (the sink's monitor: the null sink is the only
// source on a private daemon, and the default one in pipewire-check.sh)
// while 2 s of sound play on device 0, and says how much of it came back.
bool RecordWhilePlaying()
{
    WAVEFORMATEX f { WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0 };
    HWAVEIN in = nullptr;
    if (MMRESULT r = waveInOpen(&in, 0, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD)) {
        std::printf("recording from device 0: waveInOpen failed (%u)\n", r);
        return false;
    }
    std::vector<std::vector<int16_t>> blocks(12, std::vector<int16_t>(4000));
    std::vector<WAVEHDR> inHeaders(blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        inHeaders[i] = {};
        inHeaders[i].lpData = reinterpret_cast<LPSTR>(blocks[i].data());
        inHeaders[i].dwBufferLength = DWORD(blocks[i].size() * 2);
        waveInPrepareHeader(in, &inHeaders[i], sizeof(WAVEHDR));
        waveInAddBuffer(in, &inHeaders[i], sizeof(WAVEHDR));
    }
    waveInStart(in);
    std::vector<int16_t> sound(3200 + 16000, 0);
    uint32_t x = 12345;
    for (size_t i = 3200; i < sound.size(); ++i) {
        x = x * 1103515245u + 12345u;
        sound[i] = int16_t(1000 + (x >> 16) % 20000);
    }
    HWAVEOUT out = nullptr;
    WAVEHDR outHeader {};
    if (waveOutOpen(&out, 0, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD) == MMSYSERR_NOERROR) {
        outHeader.lpData = reinterpret_cast<LPSTR>(sound.data());
        outHeader.dwBufferLength = DWORD(sound.size() * 2);
        waveOutPrepareHeader(out, &outHeader, sizeof(WAVEHDR));
        waveOutWrite(out, &outHeader, sizeof(WAVEHDR));
    }
    size_t filled = 0;
    bool played = out == nullptr;
    MSG m;
    while ((filled < blocks.size() || !played)
        && zq::kernel::GetMessageTimeout(&m, MM_WOM_OPEN, MM_WIM_DATA, 30000)) {
        if (m.message == MM_WIM_DATA)
            ++filled;
        else if (m.message == MM_WOM_DONE)
            played = true;
    }
    if (out)
        waveOutClose(out);
    waveInReset(in);
    waveInClose(in);
    std::vector<int16_t> heard;
    for (size_t i = 0; i < filled; ++i)
        heard.insert(heard.end(), blocks[i].begin(), blocks[i].begin() + inHeaders[i].dwBytesRecorded / 2);
    const double span = LoudSpan(heard, 8000);
    const bool ok = out && filled == blocks.size() && std::abs(span - 2.0) < 0.05;
    std::printf(
        "recording from device 0: %zu of %zu buffers filled; the 2.00 s played came back as %.2f s: %s\n",
        filled, blocks.size(), span, ok ? "complete" : "WRONG");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    bool existing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--existing") == 0)
            existing = true;
        else
            runs = std::atoi(argv[i]);
    }
    if (runs < 1) {
        std::fprintf(stderr, "usage: wave_output_end [runs] [--existing]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    PulseServer server;
    if (!existing) {
        PulseServer::Prepare();
        std::string why = server.Start();
        if (!why.empty()) {
            std::fprintf(stderr, "wave_output_end: %s\n", why.c_str());
            return 1;
        }
    }
    std::printf("output: device 0 (ALSA default) through %s\n",
        existing ? "the running sound server" : "a private PulseAudio daemon");
    TimedMonitor monitor;
    while (monitor.Size() < 800)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    MSG m;
    PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE);
    std::vector<double> late;
    for (int run = 0; run < runs; ++run) {
        // 2 s after a lead of silence, in four buffers; never-zero samples.
        std::vector<int16_t> sound(800 + 16000, 0);
        uint32_t x = uint32_t(run + 7) * 2654435761u;
        for (size_t i = 800; i < sound.size(); ++i) {
            x = x * 1103515245u + 12345u;
            sound[i] = int16_t(1 + (x >> 16) % 20000);
        }
        WAVEFORMATEX f { WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0 };
        size_t from = monitor.Size();
        HWAVEOUT h = nullptr;
        if (MMRESULT r = waveOutOpen(&h, 0, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD)) {
            std::fprintf(stderr, "wave_output_end: waveOutOpen failed (%u)\n", r);
            return 1;
        }
        std::vector<WAVEHDR> headers(4);
        size_t per = sound.size() / 4;
        for (size_t i = 0; i < 4; ++i) {
            headers[i] = {};
            headers[i].lpData = reinterpret_cast<LPSTR>(sound.data() + i * per);
            headers[i].dwBufferLength = DWORD(per * 2);
            waveOutPrepareHeader(h, &headers[i], sizeof(WAVEHDR));
            waveOutWrite(h, &headers[i], sizeof(WAVEHDR));
        }
        int done = 0;
        Clock::time_point completed;
        while (done < 4 && zq::kernel::GetMessageTimeout(&m, MM_WOM_OPEN, MM_WOM_DONE, 30000)) {
            if (m.message == MM_WOM_DONE && ++done == 4)
                completed = Clock::now();
        }
        waveOutClose(h);
        // Half a second of silence after the sound marks its end.
        Clock::time_point heard;
        bool arrived = false;
        auto until = Clock::now() + std::chrono::seconds(10);
        while (!(arrived = monitor.EndArrival(from, 4000, &heard)) && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (done < 4 || !arrived) {
            std::printf(
                "run %d: %s\n", run + 1, done < 4 ? "no completion" : "the end never reached the sink");
            continue;
        }
        late.push_back(Ms(completed - heard));
        std::printf("run %d: completion %+.1f ms after the last sample reached the sink's monitor\n", run + 1,
            late.back());
    }
    if (!late.empty()) {
        std::sort(late.begin(), late.end());
        std::printf("median %+.1f ms, min %+.1f ms, max %+.1f ms (goal: 0 .. 100 ms)\n",
            late[late.size() / 2], late.front(), late.back());
    }
    return RecordWhilePlaying() ? 0 : 1;
}
