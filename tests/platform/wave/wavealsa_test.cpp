// The ALSA devices: the default device on a machine without a sound card,
// and the file devices that record exactly what was played.
#include "wavedevices.h"
#include "wavetestsupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace wavetest;
namespace fs = std::filesystem;

namespace {

// Sets an environment variable for the life of the object.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value)
        : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old, had_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }
    const char* name_;
    std::string old_;
    bool had_ = false;
};

// Collects what is written to stderr while it lives.
struct StderrCapture {
    StderrCapture()
    {
        path = fs::temp_directory_path() / ("zqwave-stderr-" + std::to_string(getpid()));
        fflush(stderr);
        saved = dup(2);
        FILE* f = fopen(path.c_str(), "w");
        dup2(fileno(f), 2);
        fclose(f);
    }
    std::string Take()
    {
        fflush(stderr);
        dup2(saved, 2);
        close(saved);
        std::ifstream in(path);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        fs::remove(path);
        return text;
    }
    fs::path path;
    int saved = -1;
};

std::vector<uint8_t> ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

uint32_t Le32(const std::vector<uint8_t>& v, size_t at)
{
    return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | uint32_t(v[at + 3]) << 24;
}

uint16_t Le16(const std::vector<uint8_t>& v, size_t at)
{
    return uint16_t(v[at] | v[at + 1] << 8);
}

// Plays the buffers on a device and closes it; returns the time from the
// first write to the last completion.
std::chrono::nanoseconds Play(UINT device, const WAVEFORMATEX& f, std::vector<Buffer*> buffers)
{
    HWAVEOUT h = nullptr;
    MMRESULT r = waveOutOpen(&h, device, &f, ThisThreadWithQueue(), 0, CALLBACK_THREAD);
    EXPECT_EQ(r, MMSYSERR_NOERROR);
    if (r)
        return {};
    EXPECT_EQ(NextWaveMessage().message, MM_WOM_OPEN);
    auto start = std::chrono::steady_clock::now();
    for (Buffer* b : buffers) {
        EXPECT_EQ(waveOutPrepareHeader(h, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutWrite(h, &b->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    for (Buffer* b : buffers) {
        MSG m = NextWaveMessage();
        EXPECT_EQ(m.message, MM_WOM_DONE);
        EXPECT_EQ(m.lParam, LPARAM(&b->header));
    }
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(NextWaveMessage().message, MM_WOM_CLOSE);
    return took;
}

struct TempDir {
    TempDir()
        : path(fs::temp_directory_path() / ("zqwave-test-" + std::to_string(getpid())))
    {
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

} // namespace

TEST(WaveAlsa, AnUnknownPcmIsACleanOpenErrorWithoutNoise)
{
    ScopedEnv env("ZQ_WAVE_OUT_PCM", "zq_no_such_pcm");
    ScopedEnv envIn("ZQ_WAVE_IN_PCM", "zq_no_such_pcm");
    StderrCapture err;
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    MMRESULT outResult = waveOutOpen(&out, 0, &f, 0, 0, CALLBACK_NULL);
    MMRESULT inResult = waveInOpen(&in, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL);
    std::string noise = err.Take();
    EXPECT_EQ(outResult, MMSYSERR_NODRIVER);
    EXPECT_EQ(inResult, MMSYSERR_NODRIVER);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(noise, "");
    char text[128] = {};
    ASSERT_EQ(waveOutGetErrorTextA(outResult, text, 127), MMSYSERR_NOERROR);
    EXPECT_GT(strlen(text), 0u);
}

TEST(WaveAlsa, TheDefaultDeviceOpensOrFailsCleanly)
{
    // Whatever this machine has: a sound server, a card, or nothing.
    StderrCapture err;
    HWAVEOUT out = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    MMRESULT r = waveOutOpen(&out, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL | WAVE_MAPPED);
    std::string noise = err.Take();
    EXPECT_EQ(noise, "");
    if (r == MMSYSERR_NOERROR) {
        EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    } else {
        EXPECT_TRUE(r == MMSYSERR_NODRIVER || r == MMSYSERR_ALLOCATED) << r;
    }
}

TEST(WaveAlsa, TheFileDeviceWritesTheExactBytesIntoAWavFileInRealTime)
{
    TempDir dir;
    fs::path file = dir.path / "played \"quoted\".wav";
    UINT id = RegisterWaveOutFileDevice("file", file.string());
    WAVEFORMATEX f = Pcm(11025, 2, 8);
    Buffer a(Pattern(2206, 1)), b(Pattern(2206 * 5 + 2, 2)); // 100 ms and 500 ms of stereo 8-bit
    auto took = Play(id, f, { &a, &b });
    EXPECT_GE(took, std::chrono::milliseconds(600));

    std::vector<uint8_t> wav = ReadFile(file);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 12), "WAVE");
    EXPECT_EQ(Le16(wav, 20), 1); // PCM
    EXPECT_EQ(Le16(wav, 22), 2); // channels
    EXPECT_EQ(Le32(wav, 24), 11025u); // rate
    EXPECT_EQ(Le16(wav, 34), 8); // bits
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    std::vector<uint8_t> expected = a.data;
    expected.insert(expected.end(), b.data.begin(), b.data.end());
    EXPECT_EQ(Le32(wav, 40), expected.size());
    EXPECT_EQ(std::vector<uint8_t>(wav.begin() + 44, wav.end()), expected);

    // A second playback starts the file anew.
    Buffer c(Pattern(4410, 3));
    Play(id, Pcm(44100, 1, 16), { &c });
    wav = ReadFile(file);
    ASSERT_EQ(wav.size(), 44u + c.data.size());
    EXPECT_EQ(Le32(wav, 24), 44100u);
    EXPECT_EQ(std::vector<uint8_t>(wav.begin() + 44, wav.end()), c.data);
    UnregisterWaveOutDevice(id);
}

TEST(WaveAlsa, TheDefaultDeviceCanBeSentToAFileThroughTheEnvironment)
{
    TempDir dir;
    fs::path file = dir.path / "default.raw";
    ScopedEnv env("ZQ_WAVE_OUT_PCM", "file:\"" + file.string() + "\",raw");
    WAVEOUTCAPSA caps;
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname).rfind("ALSA file:", 0), 0u);
    Buffer a(Pattern(3200));
    Play(0, Pcm(16000, 1, 16), { &a });
    EXPECT_EQ(ReadFile(file), a.data);
}
