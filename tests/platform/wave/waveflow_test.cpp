// The call sequence of a double-buffered player with its own message thread:
// two headers refilled on each MM_WOM_DONE, the device torn down with reset,
// unprepare (32-byte header size) and close, and MM_WOM_CLOSE ending the
// thread. Both the natural end and a stop from outside are played through.
#include "waveendpoints.h"
#include "wavetestsupport.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

using namespace wavetest;
using namespace zq::wave;

namespace {

class DoubleBufferedPlayer {
public:
    DoubleBufferedPlayer(std::vector<uint8_t> source, size_t bufferBytes)
        : source_(std::move(source))
        , blockA_(bufferBytes)
        , blockB_(bufferBytes)
        , bufferBytes_(bufferBytes)
    {
        a_.lpData = reinterpret_cast<LPSTR>(blockA_.data());
        b_.lpData = reinterpret_cast<LPSTR>(blockB_.data());
    }

    MMRESULT Start(UINT device)
    {
        std::promise<DWORD> ready;
        thread_ = std::thread([this, &ready] {
            ready.set_value(ThisThreadWithQueue());
            MSG m;
            while (GetMessage(&m, nullptr, 0, 0)) {
                if (m.message == MM_WOM_CLOSE)
                    break;
                // Refilling under the output lock: a buffer queued between
                // a stop's reset and its close would make the close fail.
                std::lock_guard lock(outputLock_);
                if (m.message == MM_WOM_DONE && refill_)
                    BufferDone(reinterpret_cast<WAVEHDR*>(m.lParam));
            }
        });
        DWORD threadId = ready.get_future().get();
        WAVEFORMATEX f = Pcm(8000, 1, 16);
        std::lock_guard lock(outputLock_);
        refill_ = true;
        MMRESULT r = waveOutOpen(&handle_, device, &f, threadId, 0, CALLBACK_THREAD | WAVE_MAPPED);
        if (r != MMSYSERR_NOERROR) {
            PostThreadMessage(threadId, MM_WOM_CLOSE, 0, 0);
            return r;
        }
        BufferDone(&a_);
        if (handle_)
            BufferDone(&b_);
        return MMSYSERR_NOERROR;
    }

    void Stop()
    {
        refill_ = false;
        CloseOutput();
    }

    void WaitForEnd() { thread_.join(); }
    MMRESULT closeResult = MMSYSERR_ERROR;

private:
    void BufferDone(WAVEHDR* h)
    {
        WAVEHDR* other = h == &a_ ? &b_ : &a_;
        if (h->dwBufferLength != 0)
            waveOutUnprepareHeader(handle_, h, 32);
        size_t n = std::min(bufferBytes_, source_.size() - offset_);
        std::copy_n(source_.begin() + offset_, n, reinterpret_cast<uint8_t*>(h->lpData));
        offset_ += n;
        h->dwBufferLength = DWORD(n);
        if (n == 0) {
            if (other->dwBufferLength == 0)
                CloseOutput();
            return;
        }
        h->dwFlags = 0;
        h->dwLoops = 0;
        waveOutPrepareHeader(handle_, h, 32);
        if (waveOutWrite(handle_, h, 32) != MMSYSERR_NOERROR)
            CloseOutput();
    }

    void CloseOutput()
    {
        std::lock_guard lock(outputLock_);
        refill_ = false;
        waveOutReset(handle_);
        waveOutUnprepareHeader(handle_, &a_, 32);
        waveOutUnprepareHeader(handle_, &b_, 32);
        MMRESULT r = waveOutClose(handle_);
        if (handle_)
            closeResult = r;
        handle_ = nullptr;
    }

    std::vector<uint8_t> source_;
    size_t offset_ = 0;
    std::vector<uint8_t> blockA_, blockB_;
    size_t bufferBytes_;
    WAVEHDR a_, b_;
    HWAVEOUT handle_ = nullptr;
    std::atomic<bool> refill_ { false };
    std::recursive_mutex outputLock_;
    std::thread thread_;
};

} // namespace

TEST(WaveFlow, DoubleBufferedPlaybackEndsByItselfWithEveryByteHeard)
{
    auto sink = std::make_shared<MemoryWaveOut>();
    UINT id = RegisterWaveOutDevice("flow line", sink);
    std::vector<uint8_t> audio = Pattern(5000); // three full 100 ms buffers and a short one
    DoubleBufferedPlayer player(audio, 1600);
    ASSERT_EQ(player.Start(id), MMSYSERR_NOERROR);
    player.WaitForEnd();
    EXPECT_EQ(player.closeResult, MMSYSERR_NOERROR);
    EXPECT_EQ(sink->Bytes(), audio);
    UnregisterWaveOutDevice(id);
}

TEST(WaveFlow, StoppingFromOutsideResetsAndClosesWhilePlaying)
{
    auto sink = std::make_shared<MemoryWaveOut>();
    UINT id = RegisterWaveOutDevice("stopped line", sink);
    std::vector<uint8_t> audio = Pattern(16000 * 20); // 10 s
    DoubleBufferedPlayer player(audio, 16000);
    ASSERT_EQ(player.Start(id), MMSYSERR_NOERROR);
    player.Stop();
    player.WaitForEnd();
    EXPECT_EQ(player.closeResult, MMSYSERR_NOERROR);
    EXPECT_LT(sink->Size(), audio.size());
    UnregisterWaveOutDevice(id);
}

TEST(WaveFlow, AFailedOpenLeavesNothingBehind)
{
    DoubleBufferedPlayer player(Pattern(100), 1600);
    EXPECT_EQ(player.Start(0xFFF0), MMSYSERR_BADDEVICEID);
    player.WaitForEnd();
}
