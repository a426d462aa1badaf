// Line audio that survives a busy machine: the receiving end's jitter
// buffer, a sender that stays ahead, a held-up program that loses nothing,
// and workers that ask for real-time scheduling.
#include "debugout.h"
#include "waveendpoints.h"
#include "wavetestsupport.h"

#include <atomic>
#include <mutex>
#include <sched.h>

using namespace wavetest;
using namespace zq::wave;

TEST(PipeWaveIn, StartsAfterThePrefillAndRidesOutASenderHeldUpForLessThanIt)
{
    auto pipe = std::make_shared<PcmPipe>();
    PipeWaveIn in(pipe, std::chrono::milliseconds(100));
    WAVEFORMATEX f = Pcm(8000, 1, 16); // 100 ms = 1600 bytes, 20 ms = 320
    ASSERT_EQ(in.Open(f), MMSYSERR_NOERROR);
    in.Start();
    std::vector<uint8_t> sound = Pattern(320 * 30);
    size_t sent = 0;
    auto send = [&](size_t steps) {
        pipe->Write(sound.data() + sent, 320 * steps);
        sent += 320 * steps;
    };
    std::vector<uint8_t> heard, step(320);
    auto read = [&] {
        size_t got = in.Read(step.data(), step.size());
        heard.insert(heard.end(), step.begin(), step.begin() + long(got));
        return got;
    };
    // The sender's first steps build up the delay; nothing is read yet.
    for (int i = 0; i < 4; ++i) {
        send(1);
        EXPECT_EQ(read(), 0u);
    }
    send(1);
    EXPECT_EQ(read(), 320u);
    // Then in step with the sender, and on through a sender held up for
    // 80 ms (four steps), which then catches up at once.
    for (int i = 0; i < 5; ++i) {
        send(1);
        EXPECT_EQ(read(), 320u);
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(read(), 320u) << "a held-up sender made a gap";
    send(4);
    while (sent < sound.size()) {
        send(1);
        EXPECT_EQ(read(), 320u);
    }
    // The sender stops: the rest comes out, then silence, and the delay is
    // built up again before anything more is read.
    while (read() == 320u) { }
    EXPECT_EQ(heard, sound);
    send(0);
    pipe->Write(sound.data(), 320);
    EXPECT_EQ(read(), 0u);
}

TEST(WaveLine, ASenderHandsAudioOverAheadButCompletesItAtItsPlayTime)
{
    struct Timed : WaveOutEndpoint {
        void Write(const void*, size_t bytes) override
        {
            std::lock_guard lock(mutex);
            if (writes.empty())
                first = bytes;
            writes.push_back(bytes);
        }
        std::chrono::milliseconds Lead() const override { return std::chrono::milliseconds(100); }
        std::mutex mutex;
        std::vector<size_t> writes;
        size_t first = 0;
    };
    auto line = std::make_shared<Timed>();
    UINT id = RegisterWaveOutDevice("line", line);
    Buffer a(Pattern(8000)); // 500 ms
    auto took = Play(id, Pcm(8000, 1, 16), { &a });
    EXPECT_GE(took, std::chrono::milliseconds(500));
    std::lock_guard lock(line->mutex);
    EXPECT_GE(line->first, 1600u); // the lead, at once
    size_t total = 0;
    for (size_t w : line->writes)
        total += w;
    EXPECT_EQ(total, a.data.size());
    UnregisterWaveOutDevice(id);
}

TEST(WaveLine, AProgramHeldUpWithNoBufferQueuedLosesNothing)
{
    // A line's input (paced by the clock); the program hands each buffer
    // back only when both have come back, as a program that is held up does.
    std::vector<uint8_t> sound = Pattern(16000, 9); // 1 s
    UINT id = RegisterWaveInDevice("line in", std::make_shared<MemoryWaveIn>(sound));
    HWAVEIN h = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    ASSERT_EQ(waveInOpen(&h, id, &f, ThisThreadWithQueue(), 0, CALLBACK_THREAD), MMSYSERR_NOERROR);
    EXPECT_EQ(NextWaveMessage().message, MM_WIM_OPEN);
    Buffer a(std::vector<uint8_t>(1600)), b(std::vector<uint8_t>(1600));
    for (Buffer* x : { &a, &b }) {
        ASSERT_EQ(waveInPrepareHeader(h, &x->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(h, &x->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    std::vector<uint8_t> heard;
    while (heard.size() < sound.size() && !::testing::Test::HasFailure()) {
        for (Buffer* x : { &a, &b }) {
            MSG m = NextWaveMessage();
            ASSERT_EQ(m.message, MM_WIM_DATA);
            ASSERT_EQ(m.lParam, LPARAM(&x->header));
        }
        for (Buffer* x : { &a, &b }) {
            heard.insert(heard.end(), x->data.begin(), x->data.begin() + x->header.dwBytesRecorded);
            ASSERT_EQ(waveInAddBuffer(h, &x->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
    }
    heard.resize(sound.size());
    EXPECT_TRUE(heard == sound) << "audio was lost while no buffer was queued";
    ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(NextWaveMessage().message, MM_WIM_DATA);
    EXPECT_EQ(NextWaveMessage().message, MM_WIM_DATA);
    ASSERT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(NextWaveMessage().message, MM_WIM_CLOSE);
    UnregisterWaveInDevice(id);
}

TEST(WaveLine, WorkersThatKeepTimeAskForRealTimeScheduling)
{
    std::mutex mutex;
    std::string log;
    auto previous = zq::kernel::SetDebugOutputHook([&](const std::string& line) {
        std::lock_guard lock(mutex);
        log += line + "\n";
    });
    static std::atomic<int> policy;
    policy = -1;
    auto callback = [](HWAVEOUT, UINT msg, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
        if (msg == WOM_DONE)
            policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    };
    UINT id = RegisterWaveOutDevice("line", std::make_shared<MemoryWaveOut>());
    HWAVEOUT h = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    ASSERT_EQ(waveOutOpen(&h, id, &f, DWORD_PTR(+callback), 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    Buffer a(Pattern(160));
    ASSERT_EQ(waveOutPrepareHeader(h, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (policy == -1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    zq::kernel::SetDebugOutputHook(previous);
    // Where the system does not allow it, the worker says so and goes on.
    std::lock_guard lock(mutex);
    if (policy != SCHED_FIFO) {
        EXPECT_NE(log.find("without real-time priority"), std::string::npos) << "policy " << policy;
    }
    UnregisterWaveOutDevice(id);
}
