#include "pcmconvert_p.h"

#include "sapitypes.h"

#include <soxr.h>

#include <algorithm>
#include <memory>
#include <string>

namespace sapi {

namespace {

struct SoxrDeleter {
    void operator()(soxr* s) const { soxr_delete(s); }
};

void CheckSoxr(soxr_error_t error)
{
    if (error)
        throw SpeechEngineError(E_FAIL, std::string("The audio could not be resampled: ") + error);
}

} // namespace

std::vector<int16_t> ResampleMono16(const std::vector<int16_t>& input, int inputRate, int outputRate)
{
    if (inputRate == outputRate || input.empty())
        return input;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    // Dither would put noise into the silences between phrases.
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    std::unique_ptr<soxr, SoxrDeleter> resampler(
        soxr_create(inputRate, outputRate, 1, &error, &io, &quality, nullptr));
    CheckSoxr(error);

    const double ratio = static_cast<double>(outputRate) / inputRate;
    std::vector<int16_t> output;
    output.reserve(static_cast<size_t>(input.size() * ratio) + 64);
    std::vector<int16_t> chunk(8192);
    size_t consumed = 0;
    // The resampler hands out at most one chunk per call, so feed it until it
    // has taken all the input...
    while (consumed < input.size()) {
        size_t taken = 0;
        size_t produced = 0;
        CheckSoxr(soxr_process(resampler.get(), input.data() + consumed, input.size() - consumed, &taken,
            chunk.data(), chunk.size(), &produced));
        output.insert(output.end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(produced));
        consumed += taken;
        if (taken == 0 && produced == 0)
            throw SpeechEngineError(E_FAIL, "The audio resampler stopped taking input.");
    }
    // ...then drain what its filter still holds, which is the end of the speech.
    for (;;) {
        size_t produced = 0;
        CheckSoxr(soxr_process(resampler.get(), nullptr, 0, nullptr, chunk.data(), chunk.size(), &produced));
        if (produced == 0)
            break;
        output.insert(output.end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(produced));
    }
    return output;
}

std::vector<uint8_t> EncodePcm(const std::vector<int16_t>& mono, int bitsPerSample, int channels)
{
    const size_t bytesPerSample = bitsPerSample == 8 ? 1 : 2;
    std::vector<uint8_t> bytes(mono.size() * bytesPerSample * static_cast<size_t>(channels));
    uint8_t* out = bytes.data();
    for (const int16_t sample : mono) {
        for (int c = 0; c < channels; ++c) {
            if (bytesPerSample == 1) {
                // Round to the nearest 8-bit step; the top of the range saturates.
                *out++ = static_cast<uint8_t>(std::min(255, (sample + 32768 + 128) >> 8));
            } else {
                const auto u = static_cast<uint16_t>(sample);
                *out++ = static_cast<uint8_t>(u & 0xFF);
                *out++ = static_cast<uint8_t>(u >> 8);
            }
        }
    }
    return bytes;
}

std::vector<uint8_t> ConvertPcm(const std::vector<int16_t>& mono, int inputRate, const PcmLayout& layout)
{
    return EncodePcm(
        ResampleMono16(mono, inputRate, layout.samplesPerSec), layout.bitsPerSample, layout.channels);
}

} // namespace sapi
