// The output calls over registered endpoints: queue order, completion
// messages, pacing, reset and close rules, header and open checks.
#include "waveendpoints.h"
#include "wavetestsupport.h"

#include "events.h"
#include "eventwait.h"
#include "handles.h"
#include "waveheaderflags.h"

#include <chrono>
#include <cstring>
#include <mutex>

using namespace wavetest;
using namespace zq::wave;

namespace {

struct OpenOut {
    explicit OpenOut(UINT device, WAVEFORMATEX format = Pcm(8000, 1, 16))
    {
        thread = ThisThreadWithQueue();
        result = waveOutOpen(&handle, device, &format, thread, 0, CALLBACK_THREAD);
        if (result == MMSYSERR_NOERROR) {
            MSG open = NextWaveMessage();
            EXPECT_EQ(open.message, MM_WOM_OPEN);
        }
    }
    DWORD thread = 0;
    HWAVEOUT handle = nullptr;
    MMRESULT result = 0;
};

MMRESULT Queue(HWAVEOUT h, Buffer& b)
{
    if (MMRESULT r = waveOutPrepareHeader(h, &b.header, sizeof(WAVEHDR)))
        return r;
    return waveOutWrite(h, &b.header, sizeof(WAVEHDR));
}

void ExpectDone(HWAVEOUT h, const Buffer& b)
{
    MSG m = NextWaveMessage();
    EXPECT_EQ(m.message, MM_WOM_DONE);
    EXPECT_EQ(m.wParam, WPARAM(h));
    EXPECT_EQ(m.lParam, LPARAM(&b.header));
    EXPECT_TRUE(b.header.dwFlags & WHDR_DONE);
    EXPECT_FALSE(b.header.dwFlags & WHDR_INQUEUE);
}

void CloseAndExpectMessage(HWAVEOUT h)
{
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    MSG m = NextWaveMessage();
    EXPECT_EQ(m.message, MM_WOM_CLOSE);
    EXPECT_EQ(m.wParam, WPARAM(h));
}

std::vector<uint8_t> Concat(std::initializer_list<const Buffer*> buffers)
{
    std::vector<uint8_t> all;
    for (const Buffer* b : buffers)
        all.insert(all.end(), b->data.begin(), b->data.end());
    return all;
}

} // namespace

TEST(WaveOut, BuffersCompleteInQueueOrderAndTheEndpointGetsTheExactBytes)
{
    auto sink = std::make_shared<MemoryWaveOut>();
    UINT id = RegisterWaveOutDevice("order line", sink);
    OpenOut out(id);
    ASSERT_EQ(out.result, MMSYSERR_NOERROR);
    // 30 ms, 5 ms (not a step of the 20 ms grid) and 45 ms at 8000 Hz mono.
    Buffer a(Pattern(480, 1)), b(Pattern(80, 2)), c(Pattern(720, 3));
    ASSERT_EQ(Queue(out.handle, a), MMSYSERR_NOERROR);
    ASSERT_EQ(Queue(out.handle, b), MMSYSERR_NOERROR);
    ASSERT_EQ(Queue(out.handle, c), MMSYSERR_NOERROR);
    ExpectDone(out.handle, a);
    ExpectDone(out.handle, b);
    ExpectDone(out.handle, c);
    EXPECT_EQ(sink->Bytes(), Concat({ &a, &b, &c }));
    EXPECT_EQ(sink->Format().nSamplesPerSec, 8000u);
    CloseAndExpectMessage(out.handle);
    UnregisterWaveOutDevice(id);
}

TEST(WaveOut, ABufferIsDoneNoEarlierThanItsPlayingTime)
{
    auto sink = std::make_shared<MemoryWaveOut>();
    UINT id = RegisterWaveOutDevice("paced line", sink);
    OpenOut out(id);
    ASSERT_EQ(out.result, MMSYSERR_NOERROR);
    Buffer a(Pattern(3200)), b(Pattern(1600)); // 200 ms, then 100 ms
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Queue(out.handle, a), MMSYSERR_NOERROR);
    ASSERT_EQ(Queue(out.handle, b), MMSYSERR_NOERROR);
    ExpectDone(out.handle, a);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    ExpectDone(out.handle, b);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));

    // After the device ran dry, the clock starts again at the next write. The
    // device idles while another line plays 60 ms.
    auto other = std::make_shared<MemoryWaveOut>();
    UINT otherId = RegisterWaveOutDevice("other line", other);
    OpenOut idle(otherId);
    ASSERT_EQ(idle.result, MMSYSERR_NOERROR);
    Buffer pause(Pattern(960));
    ASSERT_EQ(Queue(idle.handle, pause), MMSYSERR_NOERROR);
    ExpectDone(idle.handle, pause);
    CloseAndExpectMessage(idle.handle);
    UnregisterWaveOutDevice(otherId);

    Buffer c(Pattern(1600));
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(Queue(out.handle, c), MMSYSERR_NOERROR);
    ExpectDone(out.handle, c);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    CloseAndExpectMessage(out.handle);
    UnregisterWaveOutDevice(id);
}

TEST(WaveOut, ResetReturnsEveryQueuedBufferAndCloseWaitsForIt)
{
    auto sink = std::make_shared<MemoryWaveOut>();
    UINT id = RegisterWaveOutDevice("long line", sink);
    OpenOut out(id);
    ASSERT_EQ(out.result, MMSYSERR_NOERROR);
    Buffer a(Pattern(16000 * 10)), b(Pattern(16000 * 10)); // 10 s each
    ASSERT_EQ(Queue(out.handle, a), MMSYSERR_NOERROR);
    ASSERT_EQ(Queue(out.handle, b), MMSYSERR_NOERROR);

    EXPECT_EQ(waveOutClose(out.handle), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(out.handle, &a.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);

    ASSERT_EQ(waveOutReset(out.handle), MMSYSERR_NOERROR);
    // Reset has marked them done before it returned.
    EXPECT_TRUE(a.header.dwFlags & WHDR_DONE);
    EXPECT_TRUE(b.header.dwFlags & WHDR_DONE);
    ExpectDone(out.handle, a);
    ExpectDone(out.handle, b);
    EXPECT_LT(sink->Size(), a.data.size() + b.data.size());

    EXPECT_EQ(waveOutUnprepareHeader(out.handle, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_FALSE(a.header.dwFlags & WHDR_PREPARED);
    CloseAndExpectMessage(out.handle);
    UnregisterWaveOutDevice(id);
}

TEST(WaveOut, HeaderRules)
{
    auto sink = std::make_shared<MemoryWaveOut>(false);
    UINT id = RegisterWaveOutDevice("header line", sink);
    OpenOut out(id);
    ASSERT_EQ(out.result, MMSYSERR_NOERROR);
    Buffer a(Pattern(100));

    EXPECT_EQ(waveOutWrite(out.handle, &a.header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutUnprepareHeader(out.handle, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutPrepareHeader(out.handle, &a.header, 16), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutPrepareHeader(out.handle, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    // The 32-bit header size is taken.
    ASSERT_EQ(waveOutPrepareHeader(out.handle, &a.header, 32), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutPrepareHeader(out.handle, &a.header, 32), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out.handle, &a.header, 32), MMSYSERR_NOERROR);
    ExpectDone(out.handle, a);
    // A trailing half sample cannot be played and is left out.
    EXPECT_EQ(sink->Size(), 100u);
    Buffer odd(Pattern(101));
    ASSERT_EQ(Queue(out.handle, odd), MMSYSERR_NOERROR);
    ExpectDone(out.handle, odd);
    EXPECT_EQ(sink->Size(), 200u);

    CloseAndExpectMessage(out.handle);
    EXPECT_EQ(waveOutWrite(out.handle, &a.header, 32), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(out.handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(out.handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutUnprepareHeader(nullptr, &a.header, 32), MMSYSERR_INVALHANDLE);
    UnregisterWaveOutDevice(id);
}

namespace {
class PickyEndpoint : public MemoryWaveOut {
public:
    MMRESULT Open(const WAVEFORMATEX& f) override
    {
        return f.nSamplesPerSec == 8000 ? MemoryWaveOut::Open(f) : WAVERR_BADFORMAT;
    }
};
} // namespace

TEST(WaveOut, OpenChecks)
{
    auto sink = std::make_shared<PickyEndpoint>();
    UINT id = RegisterWaveOutDevice("picky line", sink);
    HWAVEOUT h = nullptr;
    WAVEFORMATEX f = Pcm(8000, 1, 16);

    EXPECT_EQ(waveOutOpen(&h, 0xFFFF, &f, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(waveOutOpen(nullptr, id, &f, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&h, id, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&h, id, &f, 0, 0, 0x70000), MMSYSERR_INVALFLAG);
    WAVEFORMATEX bad = f;
    bad.nBlockAlign = 4;
    EXPECT_EQ(waveOutOpen(&h, id, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    bad = f;
    bad.wFormatTag = 2;
    EXPECT_EQ(waveOutOpen(&h, id, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    WAVEFORMATEX other = Pcm(11025, 1, 8);
    EXPECT_EQ(waveOutOpen(&h, id, &other, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(nullptr, id, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);

    HANDLE event = CreateEvent(FALSE, FALSE);
    ASSERT_EQ(waveOutOpen(&h, id, &f, DWORD_PTR(event), 0, CALLBACK_EVENT | WAVE_MAPPED), MMSYSERR_NOERROR);
    UINT got = 0;
    EXPECT_EQ(waveOutGetID(h, &got), MMSYSERR_NOERROR);
    EXPECT_EQ(got, id);
    // A line's device serves one handle at a time.
    HWAVEOUT second = nullptr;
    EXPECT_EQ(waveOutOpen(&second, id, &f, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    // Unregistering keeps the open handle working; new opens fail.
    EXPECT_TRUE(UnregisterWaveOutDevice(id));
    EXPECT_EQ(waveOutOpen(&second, id, &f, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    Buffer a(Pattern(160));
    ASSERT_EQ(Queue(h, a), MMSYSERR_NOERROR);
    while (!(zq::wave::HeaderFlags(a.header) & WHDR_DONE))
        ASSERT_EQ(WaitForSingleObject(event, kMessageLimitMs), WAIT_OBJECT_0);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    CloseHandle(event);
}

namespace {
struct FunctionCalls {
    std::mutex mutex;
    std::vector<std::pair<UINT, DWORD_PTR>> calls; // message, header
};

void CALLBACK_Proc(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    auto* calls = reinterpret_cast<FunctionCalls*>(instance);
    std::lock_guard lock(calls->mutex);
    calls->calls.emplace_back(msg, param1);
}
} // namespace

TEST(WaveOut, FunctionCallbackGetsEveryMessageWithItsInstance)
{
    auto sink = std::make_shared<MemoryWaveOut>(false);
    UINT id = RegisterWaveOutDevice("function line", sink);
    FunctionCalls calls;
    HWAVEOUT h = nullptr;
    WAVEFORMATEX f = Pcm(8000, 2, 8);
    ASSERT_EQ(waveOutOpen(&h, id, &f, DWORD_PTR(&CALLBACK_Proc), DWORD_PTR(&calls), CALLBACK_FUNCTION),
        MMSYSERR_NOERROR);
    Buffer a(Pattern(64));
    ASSERT_EQ(Queue(h, a), MMSYSERR_NOERROR);
    ASSERT_TRUE(zqtest::WaitUntil([&] { return (zq::wave::HeaderFlags(a.header) & WHDR_DONE) != 0; }));
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    std::lock_guard lock(calls.mutex);
    ASSERT_EQ(calls.calls.size(), 3u);
    EXPECT_EQ(calls.calls[0].first, WOM_OPEN);
    EXPECT_EQ(calls.calls[1], std::make_pair(WOM_DONE, DWORD_PTR(&a.header)));
    EXPECT_EQ(calls.calls[2].first, WOM_CLOSE);
    UnregisterWaveOutDevice(id);
}

TEST(WaveOut, DeviceListAndCapabilities)
{
    auto sink = std::make_shared<MemoryWaveOut>();
    UINT id = RegisterWaveOutDevice("A line device with a name longer than thirty-one characters", sink);
    EXPECT_GE(id, 1u);
    EXPECT_GT(waveOutGetNumDevs(), id);
    WAVEOUTCAPSA caps;
    ASSERT_EQ(waveOutGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "A line device with a name longe");
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STRNE(caps.szPname, "");

    auto list = WaveOutDevices();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front().id, 0u);
    EXPECT_EQ(list.back().id, id);
    EXPECT_EQ(list.back().name, "A line device with a name longer than thirty-one characters");

    EXPECT_TRUE(UnregisterWaveOutDevice(id));
    EXPECT_FALSE(UnregisterWaveOutDevice(id));
    EXPECT_EQ(waveOutGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    // Identifiers are not handed out twice.
    UINT next = RegisterWaveOutDevice("next line", sink);
    EXPECT_GT(next, id);
    UnregisterWaveOutDevice(next);
    EXPECT_THROW(RegisterWaveOutDevice("no line", nullptr), std::invalid_argument);
}

TEST(WaveOut, ErrorTexts)
{
    char text[128] = {};
    ASSERT_EQ(waveOutGetErrorTextA(MMSYSERR_NODRIVER, text, 127), MMSYSERR_NOERROR);
    EXPECT_STREQ(text, "There is no driver installed on your system.");
    ASSERT_EQ(waveOutGetErrorTextA(WAVERR_STILLPLAYING, text, 10), MMSYSERR_NOERROR);
    EXPECT_STREQ(text, "Cannot pe");
    EXPECT_EQ(waveOutGetErrorTextA(5000, text, 127), MMSYSERR_BADERRNUM);
    for (MMRESULT code : { MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED, MMSYSERR_INVALHANDLE,
             MMSYSERR_NOMEM, MMSYSERR_INVALFLAG, MMSYSERR_INVALPARAM, WAVERR_BADFORMAT, WAVERR_UNPREPARED }) {
        text[0] = 0;
        EXPECT_EQ(waveInGetErrorTextA(code, text, sizeof text), MMSYSERR_NOERROR);
        EXPECT_GT(strlen(text), 10u) << code;
    }
}
