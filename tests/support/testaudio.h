#pragma once
// Formats and audio for the tests of the wave layer and what is built on
// it. Tests using it link zqwave.
#include "mmsystem.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zqtest {

inline WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits)
{
    WAVEFORMATEX f {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = WORD(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// Bytes that are never 0 (the silence of 16-bit audio), so audio can be
// told from padding and silence.
inline std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed = 1)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i)
        v[i] = uint8_t(1 + (i * 7 + seed) % 251);
    return v;
}

} // namespace zqtest
