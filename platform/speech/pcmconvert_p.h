#pragma once
// Turns the synthesiser's 16-bit mono samples into the PCM layout a stream
// asks for: any rate, 8 or 16 bits, 1 or 2 channels.
#include <cstdint>
#include <vector>

namespace sapi {

struct PcmLayout {
    int samplesPerSec = 0;
    int bitsPerSample = 16;
    int channels = 1;
};

// High-quality resampling of mono 16-bit audio; every input sample is
// accounted for, so the result lasts as long as the input.
std::vector<int16_t> ResampleMono16(const std::vector<int16_t>& input, int inputRate, int outputRate);

// Interleaved little-endian bytes of the given layout (8-bit samples are
// unsigned, centred on 128). Channels are copies of the mono signal.
std::vector<uint8_t> EncodePcm(const std::vector<int16_t>& mono, int bitsPerSample, int channels);

std::vector<uint8_t> ConvertPcm(const std::vector<int16_t>& mono, int inputRate, const PcmLayout& layout);

} // namespace sapi
