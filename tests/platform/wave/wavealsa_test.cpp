// The ALSA devices: the default device on a machine without a sound card,
// and device 0 sent elsewhere through the environment.
#include "debugout.h"
#include "scopedenv.h"
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
using namespace zq::wave;
namespace fs = std::filesystem;

namespace {

using zqtest::ScopedEnv;

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

} // namespace

TEST(WaveAlsa, AnUnknownPcmIsACleanOpenErrorWithoutNoise)
{
    ScopedEnv env("ZQ_WAVE_OUT_PCM", "zq_no_such_pcm");
    ScopedEnv envIn("ZQ_WAVE_IN_PCM", "zq_no_such_pcm");
    std::string log;
    auto previous = zq::kernel::SetDebugOutputHook([&](const std::string& line) { log += line + "\n"; });
    StderrCapture err;
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    MMRESULT outResult = waveOutOpen(&out, 0, &f, 0, 0, CALLBACK_NULL);
    MMRESULT inResult = waveInOpen(&in, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL);
    std::string noise = err.Take();
    zq::kernel::SetDebugOutputHook(previous);
    // The reason goes to the log, for whoever reads it.
    EXPECT_NE(log.find("wave: ALSA \"zq_no_such_pcm\": cannot open for playback: "), std::string::npos)
        << log;
    EXPECT_NE(log.find("wave: ALSA \"zq_no_such_pcm\": cannot open for capture: "), std::string::npos) << log;
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

TEST(WaveAlsa, TheDefaultDeviceFollowsTheEnvironment)
{
    ScopedEnv env("ZQ_WAVE_OUT_PCM", "null");
    WAVEOUTCAPSA caps;
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname), "ALSA null");
    Buffer a(Pattern(3200));
    Play(0, Pcm(16000, 1, 16), { &a });
}
