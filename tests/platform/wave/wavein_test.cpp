// The input calls over registered endpoints, and a round trip from one
// device's output to another device's input through a pipe.
#include "eventwait.h"
#include "waveendpoints.h"
#include "waveheaderflags.h"
#include "wavetestsupport.h"

#include <algorithm>
#include <chrono>
#include <memory>

using namespace wavetest;
using namespace zq::wave;

namespace {

struct OpenIn {
    explicit OpenIn(UINT device, WAVEFORMATEX format = Pcm(8000, 1, 16))
    {
        result = waveInOpen(&handle, device, &format, ThisThreadWithQueue(), 0, CALLBACK_THREAD);
        if (result == MMSYSERR_NOERROR) {
            EXPECT_EQ(NextWaveMessage().message, MM_WIM_OPEN);
        }
    }
    HWAVEIN handle = nullptr;
    MMRESULT result = 0;
};

MMRESULT Add(HWAVEIN h, Buffer& b)
{
    if (MMRESULT r = waveInPrepareHeader(h, &b.header, sizeof(WAVEHDR)))
        return r;
    return waveInAddBuffer(h, &b.header, sizeof(WAVEHDR));
}

void ExpectData(HWAVEIN h, const Buffer& b)
{
    MSG m = NextWaveMessage();
    EXPECT_EQ(m.message, MM_WIM_DATA);
    EXPECT_EQ(m.wParam, WPARAM(h));
    EXPECT_EQ(m.lParam, LPARAM(&b.header));
    EXPECT_TRUE(b.header.dwFlags & WHDR_DONE);
}

void CloseAndExpectMessage(HWAVEIN h)
{
    ASSERT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(NextWaveMessage().message, MM_WIM_CLOSE);
}

std::vector<uint8_t> Recorded(const Buffer& b)
{
    return { b.data.begin(), b.data.begin() + b.header.dwBytesRecorded };
}

} // namespace

TEST(WaveIn, BuffersFillInOrderWithTheSourceThenSilenceAtRealTimePace)
{
    std::vector<uint8_t> speech = Pattern(2000);
    auto source = std::make_shared<MemoryWaveIn>(speech);
    UINT id = RegisterWaveInDevice("recording line", source);
    OpenIn in(id);
    ASSERT_EQ(in.result, MMSYSERR_NOERROR);
    Buffer a(std::vector<uint8_t>(1600, 0xEE)), b(std::vector<uint8_t>(1600, 0xEE)); // 100 ms each
    ASSERT_EQ(Add(in.handle, a), MMSYSERR_NOERROR);
    ASSERT_EQ(Add(in.handle, b), MMSYSERR_NOERROR);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(waveInStart(in.handle), MMSYSERR_NOERROR);
    ExpectData(in.handle, a);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    ExpectData(in.handle, b);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

    EXPECT_EQ(a.header.dwBytesRecorded, 1600u);
    EXPECT_EQ(Recorded(a), std::vector<uint8_t>(speech.begin(), speech.begin() + 1600));
    std::vector<uint8_t> tail(speech.begin() + 1600, speech.end());
    tail.resize(1600, 0x00); // 16-bit silence
    EXPECT_EQ(Recorded(b), tail);

    EXPECT_EQ(waveInReset(in.handle), MMSYSERR_NOERROR);
    CloseAndExpectMessage(in.handle);
    UnregisterWaveInDevice(id);
}

TEST(WaveIn, AFastSourceFillsBuffersAtOnceAndResetReturnsQueuedOnes)
{
    // Taken as fast as buffers come, so the first fills at once.
    auto source = std::make_shared<MemoryWaveIn>(Pattern(100), false);
    UINT id = RegisterWaveInDevice("fast line", source);
    WAVEFORMATEX f8 = Pcm(8000, 1, 8);
    OpenIn in(id, f8);
    ASSERT_EQ(in.result, MMSYSERR_NOERROR);
    Buffer a(std::vector<uint8_t>(60)), b(std::vector<uint8_t>(60));
    ASSERT_EQ(Add(in.handle, a), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in.handle), MMSYSERR_NOERROR);
    ExpectData(in.handle, a);
    EXPECT_EQ(Recorded(a), Pattern(60));
    ASSERT_EQ(waveInStop(in.handle), MMSYSERR_NOERROR);

    // Stopped: a buffer added now stays queued until reset returns it empty.
    ASSERT_EQ(Add(in.handle, b), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in.handle), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(in.handle, &b.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveInReset(in.handle), MMSYSERR_NOERROR);
    ExpectData(in.handle, b);
    EXPECT_EQ(b.header.dwBytesRecorded, 0u);

    // Restarted, the rest of the source then 8-bit silence.
    ASSERT_EQ(waveInAddBuffer(in.handle, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in.handle), MMSYSERR_NOERROR);
    ExpectData(in.handle, b);
    std::vector<uint8_t> whole = Pattern(100);
    std::vector<uint8_t> expected(whole.begin() + 60, whole.end());
    expected.resize(60, 0x80);
    EXPECT_EQ(Recorded(b), expected);
    EXPECT_EQ(waveInUnprepareHeader(in.handle, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    CloseAndExpectMessage(in.handle);
    EXPECT_EQ(waveInStart(in.handle), MMSYSERR_INVALHANDLE);
    UnregisterWaveInDevice(id);
}

TEST(WaveIn, StopWithAPartlyFilledBufferHandsItOver)
{
    auto source = std::make_shared<MemoryWaveIn>(Pattern(16000));
    UINT id = RegisterWaveInDevice("slow line", source);
    OpenIn in(id);
    ASSERT_EQ(in.result, MMSYSERR_NOERROR);
    Buffer big(std::vector<uint8_t>(16000 * 10)), small(std::vector<uint8_t>(320)); // 10 s, then 20 ms
    ASSERT_EQ(Add(in.handle, small), MMSYSERR_NOERROR);
    ASSERT_EQ(Add(in.handle, big), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in.handle), MMSYSERR_NOERROR);
    ExpectData(in.handle, small);
    // The big buffer has begun to fill once the source has gone on past the small one.
    ASSERT_TRUE(zqtest::WaitUntil([&] { return source->Remaining() < 16000 - 320; }));
    ASSERT_EQ(waveInStop(in.handle), MMSYSERR_NOERROR);
    ExpectData(in.handle, big);
    EXPECT_GT(big.header.dwBytesRecorded, 0u);
    EXPECT_LT(big.header.dwBytesRecorded, big.data.size());
    EXPECT_EQ(big.header.dwBytesRecorded % 2, 0u);
    CloseAndExpectMessage(in.handle);
    UnregisterWaveInDevice(id);
}

TEST(WaveIn, OutputOfOneDeviceIsHeardOnAnotherThroughAPipe)
{
    auto pipe = std::make_shared<PcmPipe>();
    UINT outId = RegisterWaveOutDevice("line A out", std::make_shared<PipeWaveOut>(pipe));
    UINT inId = RegisterWaveInDevice("line B in", std::make_shared<PipeWaveIn>(pipe));

    OpenIn in(inId);
    ASSERT_EQ(in.result, MMSYSERR_NOERROR);
    Buffer r1(std::vector<uint8_t>(1600)), r2(std::vector<uint8_t>(1600));
    ASSERT_EQ(Add(in.handle, r1), MMSYSERR_NOERROR);
    ASSERT_EQ(Add(in.handle, r2), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in.handle), MMSYSERR_NOERROR);

    HWAVEOUT out = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    ASSERT_EQ(waveOutOpen(&out, outId, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<uint8_t> speech = Pattern(2400); // 150 ms
    Buffer played(speech);
    ASSERT_EQ(waveOutPrepareHeader(out, &played.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &played.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);

    // The far end hears the audio after some silence, and the silence of
    // a late step may split it, but every byte arrives, in order.
    std::vector<uint8_t> heard;
    Buffer* next = &r1;
    while (heard.size() < speech.size() && !HasFailure()) {
        ExpectData(in.handle, *next);
        for (uint8_t byte : Recorded(*next))
            if (byte != 0)
                heard.push_back(byte);
        ASSERT_EQ(waveInAddBuffer(in.handle, &next->header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        next = next == &r1 ? &r2 : &r1;
    }
    EXPECT_EQ(heard, speech);
    ASSERT_EQ(waveInReset(in.handle), MMSYSERR_NOERROR);
    ExpectData(in.handle, *next);
    next = next == &r1 ? &r2 : &r1;
    ExpectData(in.handle, *next);

    ASSERT_TRUE(zqtest::WaitUntil([&] { return (zq::wave::HeaderFlags(played.header) & WHDR_DONE) != 0; }));
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    CloseAndExpectMessage(in.handle);
    UnregisterWaveOutDevice(outId);
    UnregisterWaveInDevice(inId);
}

// A program without messages polls each header's done flag and then reads
// the header: the bytes and their count the worker wrote before marking it
// are all there, in order.
TEST(WaveIn, AProgramThatPollsTheDoneFlagReadsEveryRecordedByteInOrder)
{
    constexpr int kBuffers = 8;
    constexpr size_t kBytes = 320; // 20 ms
    std::vector<uint8_t> speech = Pattern(kBuffers * kBytes, 3);
    auto source = std::make_shared<MemoryWaveIn>(speech, false);
    UINT id = RegisterWaveInDevice("polled line", source);
    HWAVEIN h = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);
    ASSERT_EQ(waveInOpen(&h, id, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<std::unique_ptr<Buffer>> buffers;
    for (int i = 0; i < kBuffers; ++i) {
        buffers.push_back(std::make_unique<Buffer>(std::vector<uint8_t>(kBytes, 0xEE)));
        ASSERT_EQ(Add(h, *buffers.back()), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    std::vector<uint8_t> heard;
    for (auto& b : buffers) {
        ASSERT_TRUE(zqtest::WaitUntil([&] { return (zq::wave::HeaderFlags(b->header) & WHDR_DONE) != 0; }));
        const std::vector<uint8_t> got = Recorded(*b);
        heard.insert(heard.end(), got.begin(), got.end());
    }
    EXPECT_EQ(heard, speech);
    EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    UnregisterWaveInDevice(id);
}
