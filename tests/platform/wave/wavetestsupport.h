#pragma once
// Shared pieces of the wave tests: formats, test audio, and waiting for the
// device's messages on the test's own thread queue.
#include "messages.h"
#include "mmsystem.h"
#include "testaudio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace wavetest {

// Only turns a hang into a failure; no test relies on it.
constexpr DWORD kMessageLimitMs = 30000;

using zqtest::Pattern;
using zqtest::Pcm;

// Makes sure this thread has a queue, so the device's messages are kept.
inline DWORD ThisThreadWithQueue()
{
    MSG m;
    PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE);
    return GetCurrentThreadId();
}

// The next wave message of this thread.
inline MSG NextWaveMessage()
{
    MSG m;
    if (!zq::kernel::GetMessageTimeout(&m, MM_WOM_OPEN, MM_WIM_DATA, kMessageLimitMs)) {
        ADD_FAILURE() << "no wave message";
        m.message = 0;
    }
    return m;
}

// A header over a block of its own.
struct Buffer {
    explicit Buffer(std::vector<uint8_t> bytes)
        : data(std::move(bytes))
    {
        header.lpData = reinterpret_cast<LPSTR>(data.data());
        header.dwBufferLength = DWORD(data.size());
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    std::vector<uint8_t> data;
    WAVEHDR header;
};

// Plays the buffers on a device and closes it; returns the time from the
// first write to the last completion.
inline std::chrono::nanoseconds Play(UINT device, const WAVEFORMATEX& f, std::vector<Buffer*> buffers)
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

} // namespace wavetest
