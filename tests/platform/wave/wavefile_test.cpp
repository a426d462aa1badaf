// Audio files: what is written is what plays back, a file being replaced is
// replaced only when complete, and every failure is reported where it
// happens, never as a silent "done".
#include "wavedevices.h"
#include "wavefile.h"
#include "wavetestsupport.h"

#include <sndfile.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace wavetest;
using namespace zq::wave;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    TempDir()
    {
        std::string t = (fs::temp_directory_path() / "zqwavefile-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, ec);
        fs::remove_all(path, ec);
    }
    // Names in the folder other than `except`.
    std::vector<std::string> Others(const std::string& except = {}) const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path))
            if (e.path().filename() != except)
                names.push_back(e.path().filename().string());
        return names;
    }
    fs::path path;
};

std::vector<uint8_t> ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

uint32_t Le32(const std::vector<uint8_t>& v, size_t at)
{
    return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | uint32_t(v[at + 3]) << 24;
}

// 16-bit samples as a file reader sees them.
std::vector<short> Decode(const fs::path& p, SF_INFO* info)
{
    *info = {};
    SNDFILE* f = sf_open(p.c_str(), SFM_READ, info);
    if (!f) {
        ADD_FAILURE() << sf_strerror(nullptr);
        return {};
    }
    std::vector<short> s(size_t(info->frames * info->channels));
    sf_readf_short(f, s.data(), info->frames);
    sf_close(f);
    return s;
}

std::vector<short> Samples(const std::vector<uint8_t>& bytes)
{
    std::vector<short> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

std::unique_ptr<AudioFileWriter> OpenOk(const fs::path& p, const WAVEFORMATEX& f)
{
    std::string error;
    auto w = AudioFileWriter::Open(p.string(), f, &error);
    EXPECT_TRUE(w) << error;
    EXPECT_EQ(error, "");
    return w;
}

} // namespace

TEST(AudioFileWriter, AWavFileIsCompleteAfterEveryWriteAndReplacesTheOldOneOnlyAtFinish)
{
    TempDir dir;
    fs::path file = dir.path / "speech.wav";
    {
        std::ofstream(file) << "old";
    }
    auto w = OpenOk(file, Pcm(11025, 2, 8));
    ASSERT_TRUE(w);
    std::vector<uint8_t> a = Pattern(1001, 1), b = Pattern(2205, 2); // a frame split between the writes
    ASSERT_TRUE(w->Write(a.data(), a.size()));
    ASSERT_TRUE(w->Write(b.data(), b.size()));

    // Still the old file; beside it one temporary file, already a valid WAV.
    EXPECT_EQ(ReadAll(file), std::vector<uint8_t>({ 'o', 'l', 'd' }));
    auto temps = dir.Others("speech.wav");
    ASSERT_EQ(temps.size(), 1u);
    std::vector<uint8_t> partial = ReadAll(dir.path / temps[0]);
    ASSERT_GE(partial.size(), 44u);
    EXPECT_EQ(Le32(partial, 40), 3206u);
    EXPECT_EQ(partial.size(), 44u + 3206u);
    EXPECT_DOUBLE_EQ(w->Seconds(), 1603.0 / 11025);

    ASSERT_TRUE(w->Finish()) << w->Error();
    std::vector<uint8_t> wav = ReadAll(file);
    std::vector<uint8_t> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    ASSERT_EQ(wav.size(), 44u + expected.size());
    EXPECT_EQ(std::vector<uint8_t>(wav.begin() + 44, wav.end()), expected);
    EXPECT_EQ(dir.Others("speech.wav").size(), 0u);
}

TEST(AudioFileWriter, AbandoningLeavesWhatWasThere)
{
    TempDir dir;
    fs::path file = dir.path / "keep.wav";
    {
        std::ofstream(file) << "old";
    }
    {
        auto w = OpenOk(file, Pcm(8000, 1, 16));
        ASSERT_TRUE(w);
        auto a = Pattern(800);
        ASSERT_TRUE(w->Write(a.data(), a.size()));
        // Destroyed without Finish, as when a program gives up.
    }
    EXPECT_EQ(ReadAll(file), std::vector<uint8_t>({ 'o', 'l', 'd' }));
    EXPECT_EQ(dir.Others("keep.wav").size(), 0u);
}

TEST(AudioFileWriter, TheContainerFollowsTheExtension)
{
    TempDir dir;
    std::vector<uint8_t> pcm = Pattern(16000, 5);
    for (const char* name : { "a.flac", "a.ogg", "a.raw", "a.WAV", "a.unknown" }) {
        SCOPED_TRACE(name);
        fs::path file = dir.path / name;
        auto w = OpenOk(file, Pcm(16000, 1, 16));
        ASSERT_TRUE(w);
        ASSERT_TRUE(w->Write(pcm.data(), pcm.size()));
        ASSERT_TRUE(w->Finish()) << w->Error();
        std::vector<uint8_t> bytes = ReadAll(file);
        if (std::string(name) == "a.raw") {
            EXPECT_EQ(bytes, pcm);
            continue;
        }
        SF_INFO info;
        std::vector<short> s = Decode(file, &info);
        EXPECT_EQ(info.samplerate, 16000);
        EXPECT_EQ(info.channels, 1);
        int major = info.format & SF_FORMAT_TYPEMASK;
        if (std::string(name) == "a.ogg") {
            EXPECT_EQ(major, SF_FORMAT_OGG);
            EXPECT_EQ(info.frames, 8000); // lossy: only the length is exact
        } else {
            EXPECT_EQ(major, std::string(name) == "a.flac" ? SF_FORMAT_FLAC : SF_FORMAT_WAV);
            EXPECT_EQ(s, Samples(pcm));
        }
    }
}

TEST(AudioFileWriter, ABadDestinationIsAnErrorAtOnceAndTouchesNothing)
{
    TempDir dir;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    {
        std::ofstream(dir.path / "plain") << "x";
    }
    struct Case {
        fs::path path;
        std::string says;
    };
    std::vector<Case> cases = {
        { dir.path / "missing" / "a.wav", "does not exist" },
        { dir.path / "plain" / "a.wav", "is not a folder" },
        { dir.path, "is a folder" },
    };
    if (geteuid() == 0) {
        cases.push_back({ "/sys/zqwave-test.wav", "Permission denied" });
    } else {
        fs::create_directory(dir.path / "ro");
        chmod((dir.path / "ro").c_str(), 0555);
        cases.push_back({ dir.path / "ro" / "a.wav", "Permission denied" });
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string error;
        EXPECT_EQ(AudioFileWriter::Open(c.path.string(), f, &error), nullptr);
        EXPECT_NE(error.find(c.path.string()), std::string::npos) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
    EXPECT_EQ(dir.Others("plain").size(), 0u);
}

TEST(AudioFileWriter, AFullDeviceIsReportedAndNotReplaced)
{
    struct stat before;
    ASSERT_EQ(stat("/dev/full", &before), 0);
    std::string error;
    auto w = AudioFileWriter::Open("/dev/full", Pcm(8000, 1, 16), &error);
    // The header may already fail at open; otherwise the first audio does.
    if (w) {
        auto a = Pattern(1600);
        EXPECT_FALSE(w->Write(a.data(), a.size()));
        EXPECT_FALSE(w->Write(a.data(), a.size()));
        error = w->Error();
        EXPECT_FALSE(w->Finish());
    }
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
    struct stat after;
    ASSERT_EQ(stat("/dev/full", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, before.st_rdev);
}

TEST(AudioFileWriter, AFifoIsWrittenIntoAsAStreamingWav)
{
    TempDir dir;
    fs::path fifo = dir.path / "pipe.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<uint8_t> got;
    std::thread reader([&] { got = ReadAll(fifo); });
    std::vector<uint8_t> pcm = Pattern(4000, 3);
    std::string error;
    auto w = AudioFileWriter::Open(fifo.string(), Pcm(8000, 1, 16), &error);
    ASSERT_TRUE(w) << error;
    EXPECT_TRUE(w->Write(pcm.data(), 1000));
    EXPECT_TRUE(w->Write(pcm.data() + 1000, 3000));
    EXPECT_TRUE(w->Finish()) << w->Error();
    reader.join();

    struct stat st;
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(got.size(), 44u + pcm.size());
    EXPECT_EQ(std::string(got.begin(), got.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(got.begin() + 36, got.begin() + 40), "data");
    EXPECT_EQ(Le32(got, 40), 0xffffffffu); // a stream's length is not known in advance
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + 44, got.end()), pcm);
}

// The file device: a name is only a name, nobody waits for a file, and a
// failure is kept for the program to read.

TEST(WaveFileDevice, WritesTheExactBytesAndStartsAnewAtEachOpen)
{
    TempDir dir;
    fs::path file = dir.path / "played \"quoted\".wav";
    UINT id = RegisterWaveOutFileDevice("file", file.string());
    Buffer a(Pattern(2206, 1)), b(Pattern(2206 * 5 + 2, 2));
    Play(id, Pcm(11025, 2, 8), { &a, &b });
    SF_INFO info;
    std::vector<uint8_t> wav = ReadAll(file);
    Decode(file, &info);
    EXPECT_EQ(info.samplerate, 11025);
    EXPECT_EQ(info.channels, 2);
    std::vector<uint8_t> expected = a.data;
    expected.insert(expected.end(), b.data.begin(), b.data.end());
    ASSERT_EQ(wav.size(), 44u + expected.size());
    EXPECT_EQ(std::vector<uint8_t>(wav.begin() + 44, wav.end()), expected);

    Buffer c(Pattern(4410, 3));
    Play(id, Pcm(44100, 1, 16), { &c });
    wav = ReadAll(file);
    ASSERT_EQ(wav.size(), 44u + c.data.size());
    EXPECT_EQ(std::vector<uint8_t>(wav.begin() + 44, wav.end()), c.data);
    EXPECT_EQ(WaveOutFileDeviceError(id), "");
    UnregisterWaveOutDevice(id);
}

TEST(WaveFileDevice, CompletesBuffersAsFastAsTheyAreWritten)
{
    // Ten minutes of audio: in real time the message wait would give up long
    // before the end.
    TempDir dir;
    UINT id = RegisterWaveOutFileDevice("file", (dir.path / "long.raw").string());
    std::vector<std::unique_ptr<Buffer>> buffers;
    std::vector<Buffer*> list;
    for (int i = 0; i < 10; ++i) {
        buffers.push_back(std::make_unique<Buffer>(Pattern(8000 * 60, uint8_t(i))));
        list.push_back(buffers.back().get());
    }
    Play(id, Pcm(8000, 1, 8), list);
    EXPECT_EQ(fs::file_size(dir.path / "long.raw"), 10u * 8000 * 60);
    UnregisterWaveOutDevice(id);
}

TEST(WaveFileDevice, ANameThatLooksLikeACommandIsJustAName)
{
    TempDir dir;
    fs::path cwd = fs::current_path();
    fs::current_path(dir.path);
    UINT id = RegisterWaveOutFileDevice("file", "|cat > x.raw", WaveFileFormat::Raw);
    Buffer a(Pattern(1600));
    Play(id, Pcm(8000, 1, 16), { &a });
    fs::current_path(cwd);
    EXPECT_FALSE(fs::exists(dir.path / "x.raw"));
    EXPECT_EQ(ReadAll(dir.path / "|cat > x.raw"), a.data);
    UnregisterWaveOutDevice(id);
}

TEST(WaveFileDevice, ABadDestinationFailsTheOpenWithItsReason)
{
    TempDir dir;
    UINT id = RegisterWaveOutFileDevice("file", (dir.path / "missing" / "a.wav").string());
    HWAVEOUT h = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    EXPECT_EQ(waveOutOpen(&h, id, &f, 0, 0, CALLBACK_NULL), MMSYSERR_ERROR);
    EXPECT_EQ(h, nullptr);
    EXPECT_NE(WaveOutFileDeviceError(id).find("does not exist"), std::string::npos)
        << WaveOutFileDeviceError(id);
    EXPECT_EQ(dir.Others().size(), 0u);
    UnregisterWaveOutDevice(id);
}

TEST(WaveFileDevice, AWriteErrorIsKeptAndTheBuffersStillComplete)
{
    UINT id = RegisterWaveOutFileDevice("full", "/dev/full");
    HWAVEOUT h = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    MMRESULT r = waveOutOpen(&h, id, &f, ThisThreadWithQueue(), 0, CALLBACK_THREAD);
    if (r == MMSYSERR_NOERROR) {
        EXPECT_EQ(NextWaveMessage().message, MM_WOM_OPEN);
        Buffer a(Pattern(1600)), b(Pattern(1600, 2));
        for (Buffer* x : { &a, &b }) {
            waveOutPrepareHeader(h, &x->header, sizeof(WAVEHDR));
            EXPECT_EQ(waveOutWrite(h, &x->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
        EXPECT_EQ(NextWaveMessage().message, MM_WOM_DONE);
        EXPECT_EQ(NextWaveMessage().message, MM_WOM_DONE);
        EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
        EXPECT_EQ(NextWaveMessage().message, MM_WOM_CLOSE);
    } else {
        EXPECT_EQ(r, MMSYSERR_ERROR); // the header already failed
    }
    EXPECT_NE(WaveOutFileDeviceError(id).find("No space left on device"), std::string::npos)
        << WaveOutFileDeviceError(id);
    UnregisterWaveOutDevice(id);
}
