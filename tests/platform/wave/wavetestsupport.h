#pragma once
// Shared pieces of the wave tests: formats, test audio, and waiting for the
// device's messages on the test's own thread queue.
#include "messages.h"
#include "mmsystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace wavetest {

// Only turns a hang into a failure; no test relies on it.
constexpr DWORD kMessageLimitMs = 30000;

inline WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits)
{
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = WORD(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// Bytes that are never 0 (the silence of 16-bit audio), so audio can be
// told from padding.
inline std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed = 1)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i)
        v[i] = uint8_t(1 + (i * 7 + seed) % 251);
    return v;
}

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
    if (!GetMessageTimeout(&m, MM_WOM_OPEN, MM_WIM_DATA, kMessageLimitMs)) {
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
