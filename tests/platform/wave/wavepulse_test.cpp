// Device 0 on a sound server, as desktops have it: ALSA's default device
// routed to PulseAudio by ALSA's plugin. What the server's sink received is
// recorded from its monitor and compared with what was played.
#include "debugout.h"
#include "pulseserver.h"
#include "wavedevices.h"
#include "wavetestsupport.h"

#include <algorithm>
#include <cstring>
#include <mutex>

using namespace wavetest;
using namespace zq::wave;

namespace {

std::vector<int16_t> Tone(size_t n, int seed)
{
    // Never 0, so the sound is told from the sink's silence; no two seeds
    // share a run of samples.
    std::vector<int16_t> s(n);
    uint32_t x = uint32_t(seed) * 2654435761u;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = int16_t(1 + (x >> 16) % 20000);
    }
    return s;
}

// A sink's monitor does not record the first few milliseconds of a stream
// (the sink renders ahead and goes back to mix the new stream in, which its
// monitor cannot), so sounds are played after a lead of silence.
std::vector<int16_t> WithLead(const std::vector<int16_t>& sound, size_t lead = 800)
{
    std::vector<int16_t> s(lead, 0);
    s.insert(s.end(), sound.begin(), sound.end());
    return s;
}

std::vector<uint8_t> Bytes(const std::vector<int16_t>& s, size_t from, size_t n)
{
    std::vector<uint8_t> b(n * 2);
    std::memcpy(b.data(), s.data() + from, n * 2);
    return b;
}

// Where `sound` starts in `capture` (its first sample), or npos.
size_t Find(const std::vector<int16_t>& capture, const std::vector<int16_t>& sound)
{
    auto it = std::search(capture.begin(), capture.end(), sound.begin(), sound.begin() + 8);
    return it == capture.end() ? std::string::npos : size_t(it - capture.begin());
}

std::string Describe(const std::vector<int16_t>& capture, const std::vector<int16_t>& sound)
{
    auto first = std::find_if(capture.begin(), capture.end(), [](int16_t v) { return v != 0; });
    std::string d = "captured " + std::to_string(capture.size()) + " samples, sound from "
        + std::to_string(first - capture.begin()) + ":";
    for (int i = 0; i < 8 && first + i < capture.end(); ++i)
        d += " " + std::to_string(first[i]);
    d += "; played:";
    for (int i = 0; i < 8; ++i)
        d += " " + std::to_string(sound[size_t(i)]);
    return d;
}

class WavePulse : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PulseServer::Prepare(); }

    void SetUp() override
    {
        std::string why = server_.Start();
        if (!why.empty())
            GTEST_SKIP() << "no PulseAudio daemon for the test: " << why;
        previousHook_ = zq::kernel::SetDebugOutputHook([this](const std::string& line) {
            std::lock_guard lock(logMutex_);
            log_ += line + "\n";
        });
        monitor_ = std::make_unique<SinkMonitor>(PulseServer::Prepare() / "sink.raw");
        ASSERT_TRUE(monitor_->Running());
        // The sink runs without inputs too: its silence shows the monitor records.
        ASSERT_TRUE(monitor_->WaitFor([](const auto& s) { return s.size() > 800; }));
    }

    void TearDown() override
    {
        monitor_.reset();
        zq::kernel::SetDebugOutputHook(previousHook_);
    }

    // Opens device 0 with messages to this thread, writes the buffers.
    HWAVEOUT PlayOn0(std::vector<std::unique_ptr<Buffer>>& buffers)
    {
        HWAVEOUT h = nullptr;
        WAVEFORMATEX f = Pcm(8000, 1, 16);
        MMRESULT r = waveOutOpen(&h, 0, &f, ThisThreadWithQueue(), 0, CALLBACK_THREAD);
        EXPECT_EQ(r, MMSYSERR_NOERROR) << log_;
        if (r)
            return nullptr;
        EXPECT_EQ(NextWaveMessage().message, MM_WOM_OPEN);
        for (auto& b : buffers) {
            EXPECT_EQ(waveOutPrepareHeader(h, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
            EXPECT_EQ(waveOutWrite(h, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
        return h;
    }

    static std::vector<std::unique_ptr<Buffer>> Split(const std::vector<int16_t>& sound, size_t pieces)
    {
        std::vector<std::unique_ptr<Buffer>> buffers;
        size_t per = sound.size() / pieces;
        for (size_t i = 0; i < pieces; ++i)
            buffers.push_back(std::make_unique<Buffer>(Bytes(sound, i * per, per)));
        return buffers;
    }

    static void AwaitDone(size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            EXPECT_EQ(NextWaveMessage().message, MM_WOM_DONE);
    }

    static void CloseOut(HWAVEOUT h)
    {
        EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
        EXPECT_EQ(NextWaveMessage().message, MM_WOM_CLOSE);
    }

    PulseServer server_;
    std::unique_ptr<SinkMonitor> monitor_;
    zq::kernel::DebugOutputHook previousHook_;
    std::mutex logMutex_;
    std::string log_;
};

} // namespace

TEST_F(WavePulse, EverySampleReachesTheSinkAndTheEndIsReportedNotBeforeItIsHeard)
{
    const std::vector<int16_t> sound = Tone(20000, 1); // 2.5 s
    auto buffers = Split(WithLead(sound), 5);
    auto start = std::chrono::steady_clock::now();
    HWAVEOUT h = PlayOn0(buffers);
    ASSERT_TRUE(h);
    AwaitDone(buffers.size());
    auto took = std::chrono::steady_clock::now() - start;
    CloseOut(h);
    EXPECT_GE(took, std::chrono::milliseconds(2600)); // sound cannot be heard faster than it lasts

    // From its first sample to its last, with one constant delay: nothing
    // inserted, nothing dropped, nothing cut off.
    size_t at = std::string::npos;
    ASSERT_TRUE(monitor_->WaitFor([&](const auto& c) {
        at = Find(c, sound);
        return at != std::string::npos && c.size() >= at + sound.size();
    })) << "the sink never received the whole sound: "
        << Describe(monitor_->Samples(), sound);
    std::vector<int16_t> capture = monitor_->Samples();
    std::vector<int16_t> got(capture.begin() + long(at), capture.begin() + long(at + sound.size()));
    EXPECT_TRUE(got == sound) << "the sound reached the sink altered";
    EXPECT_EQ(WaveOutHandleError(h), "");
}

TEST_F(WavePulse, ResetCutsTheSoundAtOnce)
{
    const std::vector<int16_t> sound = Tone(80000, 2); // 10 s
    auto buffers = Split(WithLead(sound), 10);
    HWAVEOUT h = PlayOn0(buffers);
    ASSERT_TRUE(h);
    ASSERT_TRUE(monitor_->WaitFor([&](const auto& c) { return Find(c, sound) != std::string::npos; }));
    EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    AwaitDone(buffers.size());
    CloseOut(h);

    // A second sound marks where the first one's remains would be.
    const std::vector<int16_t> marker = Tone(1600, 3);
    auto markerBuffers = Split(WithLead(marker), 1);
    h = PlayOn0(markerBuffers);
    ASSERT_TRUE(h);
    AwaitDone(1);
    CloseOut(h);
    size_t first = std::string::npos, second = std::string::npos;
    ASSERT_TRUE(monitor_->WaitFor([&](const auto& c) {
        first = Find(c, sound);
        second = Find(c, marker);
        return second != std::string::npos;
    }));
    ASSERT_LT(first, second);
    std::vector<int16_t> capture = monitor_->Samples();
    size_t heard = size_t(std::count_if(
        capture.begin() + long(first), capture.begin() + long(second), [](int16_t v) { return v != 0; }));
    EXPECT_LT(heard, sound.size() / 2) << "the reset did not cut the sound";
}

TEST_F(WavePulse, AServerThatGoesAwayEndsThePlaybackWithItsReason)
{
    const std::vector<int16_t> sound = Tone(80000, 4); // 10 s
    auto buffers = Split(WithLead(sound), 10);
    HWAVEOUT h = PlayOn0(buffers);
    ASSERT_TRUE(h);
    ASSERT_TRUE(monitor_->WaitFor([&](const auto& c) { return Find(c, sound) != std::string::npos; }));
    server_.Kill();
    AwaitDone(buffers.size());
    std::string error = WaveOutHandleError(h);
    EXPECT_NE(error, "");
    {
        std::lock_guard lock(logMutex_);
        EXPECT_NE(log_.find("wave: ALSA \"default\""), std::string::npos) << log_;
    }
    // Writing on goes nowhere, at once.
    Buffer more(Bytes(sound, 0, 800));
    EXPECT_EQ(waveOutPrepareHeader(h, &more.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(h, &more.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    AwaitDone(1);
    CloseOut(h);
}

TEST_F(WavePulse, RecordingFromDevice0HearsWhatIsPlayed)
{
    // The null sink's monitor is the server's only source, so the default
    // input hears the default output.
    HWAVEIN in = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    ASSERT_EQ(waveInOpen(&in, 0, &f, ThisThreadWithQueue(), 0, CALLBACK_THREAD), MMSYSERR_NOERROR) << log_;
    EXPECT_EQ(NextWaveMessage().message, MM_WIM_OPEN);
    std::vector<std::unique_ptr<Buffer>> recorded;
    for (int i = 0; i < 16; ++i) { // 8 s: room for a slow server start
        recorded.push_back(std::make_unique<Buffer>(std::vector<uint8_t>(8000)));
        ASSERT_EQ(waveInPrepareHeader(in, &recorded.back()->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(in, &recorded.back()->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);

    // The sink renders as far ahead as the slowest of its monitor's readers
    // (here the recording, 200 ms), and that much of a new stream's start
    // never reaches the monitor: a longer lead.
    const std::vector<int16_t> sound = Tone(8000, 5);
    auto buffers = Split(WithLead(sound, 3200), 2);
    HWAVEOUT out = PlayOn0(buffers);
    ASSERT_TRUE(out);
    size_t outDone = 0, inDone = 0;
    while (outDone < buffers.size() || inDone < recorded.size()) {
        MSG m = NextWaveMessage();
        if (m.message == MM_WOM_DONE)
            ++outDone;
        else if (m.message == MM_WIM_DATA)
            ++inDone;
        else
            FAIL() << "unexpected message " << m.message;
    }
    CloseOut(out);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(NextWaveMessage().message, MM_WIM_CLOSE);

    std::vector<int16_t> heard;
    for (auto& b : recorded) {
        ASSERT_EQ(b->header.dwBytesRecorded, 8000u);
        const auto* s = reinterpret_cast<const int16_t*>(b->data.data());
        heard.insert(heard.end(), s, s + 4000);
    }
    // Its beginning and its end, in order. (Sample for sample only when the
    // machine is quiet: a capture stream of the server that is held up loses
    // audio on the server's side.)
    size_t at = Find(heard, sound);
    ASSERT_NE(at, std::string::npos) << "the recording does not hold the sound: " << Describe(heard, sound);
    std::vector<int16_t> end(sound.end() - 8, sound.end());
    auto last = std::search(heard.begin() + long(at), heard.end(), end.begin(), end.end());
    EXPECT_NE(last, heard.end()) << "the recording does not hold the sound's end";
}
