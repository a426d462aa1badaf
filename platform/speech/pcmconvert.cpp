#include "pcmconvert_p.h"

#include "sapitypes.h"

#include <soxr.h>

#include <algorithm>
#include <bit>
#include <string>

namespace zq::speech {

namespace {

void CheckSoxr(soxr_error_t error)
{
    if (error)
        throw SpeechEngineError(E_FAIL, std::string("The audio could not be resampled: ") + error);
}

// Bytes of `count` mono samples in the layout, written to `out`.
void EncodeInto(const int16_t* mono, size_t count, int bitsPerSample, int channels, uint8_t* out)
{
    for (size_t i = 0; i < count; ++i) {
        const int16_t sample = mono[i];
        for (int c = 0; c < channels; ++c) {
            if (bitsPerSample == 8) {
                // Round to the nearest 8-bit step; the top of the range saturates.
                *out++ = static_cast<uint8_t>(std::min(255, (sample + 32768 + 128) >> 8));
            } else {
                const auto u = static_cast<uint16_t>(sample);
                *out++ = static_cast<uint8_t>(u & 0xFF);
                *out++ = static_cast<uint8_t>(u >> 8);
            }
        }
    }
}

size_t BytesPerFrame(const PcmLayout& layout)
{
    return (layout.bitsPerSample == 8 ? 1u : 2u) * static_cast<size_t>(layout.channels);
}

} // namespace

MonoResampler::MonoResampler(int inputRate, int outputRate)
    : inputRate_(inputRate)
    , outputRate_(outputRate)
{
    if (inputRate == outputRate)
        return;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    // Dither would put noise into the silences between phrases.
    io.flags |= SOXR_NO_DITHER;
    // Medium quality keeps 16-bit precision and a passband far above what a
    // telephone carries, at a fraction of the high-quality filter's cost.
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
    soxr_error_t error = nullptr;
    resampler_ = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, nullptr);
    CheckSoxr(error);
    chunk_.resize(8192);
}

MonoResampler::~MonoResampler()
{
    if (resampler_)
        soxr_delete(resampler_);
}

void MonoResampler::Put(const int16_t* samples, size_t count, const Output& out)
{
    if (!resampler_) {
        if (count)
            out(samples, count);
        return;
    }
    size_t consumed = 0;
    // The resampler hands out at most one chunk per call, so feed it until it
    // has taken all the input.
    while (consumed < count) {
        size_t taken = 0;
        size_t produced = 0;
        CheckSoxr(soxr_process(resampler_, samples + consumed, count - consumed, &taken, chunk_.data(),
            chunk_.size(), &produced));
        if (produced)
            out(chunk_.data(), produced);
        consumed += taken;
        if (taken == 0 && produced == 0)
            throw SpeechEngineError(E_FAIL, "The audio resampler stopped taking input.");
    }
}

void MonoResampler::Finish(const Output& out)
{
    if (!resampler_)
        return;
    for (;;) {
        size_t produced = 0;
        CheckSoxr(soxr_process(resampler_, nullptr, 0, nullptr, chunk_.data(), chunk_.size(), &produced));
        if (produced == 0)
            break;
        out(chunk_.data(), produced);
    }
}

PcmConverter::PcmConverter(int inputRate, const PcmLayout& layout, Output out)
    : layout_(layout)
    , out_(std::move(out))
    , resampler_(inputRate, layout.samplesPerSec)
    , encode_([this](const int16_t* samples, size_t count) { Encode(samples, count); })
{
}

void PcmConverter::Put(const int16_t* samples, size_t count)
{
    resampler_.Put(samples, count, encode_);
}

void PcmConverter::Finish()
{
    resampler_.Finish(encode_);
}

void PcmConverter::Encode(const int16_t* samples, size_t count)
{
    if (layout_.bitsPerSample == 16 && layout_.channels == 1 && std::endian::native == std::endian::little) {
        out_(reinterpret_cast<const uint8_t*>(samples), count * 2);
        return;
    }
    bytes_.resize(count * BytesPerFrame(layout_));
    EncodeInto(samples, count, layout_.bitsPerSample, layout_.channels, bytes_.data());
    out_(bytes_.data(), bytes_.size());
}

std::vector<int16_t> ResampleMono16(const std::vector<int16_t>& input, int inputRate, int outputRate)
{
    if (inputRate == outputRate || input.empty())
        return input;
    std::vector<int16_t> output;
    output.reserve(static_cast<size_t>(input.size() * (static_cast<double>(outputRate) / inputRate)) + 64);
    const MonoResampler::Output keep = [&output](const int16_t* samples, size_t count) {
        output.insert(output.end(), samples, samples + count);
    };
    MonoResampler resampler(inputRate, outputRate);
    resampler.Put(input.data(), input.size(), keep);
    resampler.Finish(keep);
    return output;
}

std::vector<uint8_t> EncodePcm(const std::vector<int16_t>& mono, int bitsPerSample, int channels)
{
    std::vector<uint8_t> bytes(mono.size() * BytesPerFrame({ 0, bitsPerSample, channels }));
    EncodeInto(mono.data(), mono.size(), bitsPerSample, channels, bytes.data());
    return bytes;
}

std::vector<uint8_t> ConvertPcm(const std::vector<int16_t>& mono, int inputRate, const PcmLayout& layout)
{
    std::vector<uint8_t> bytes;
    if (mono.empty())
        return bytes;
    PcmConverter converter(inputRate, layout,
        [&bytes](const uint8_t* data, size_t count) { bytes.insert(bytes.end(), data, data + count); });
    converter.Put(mono.data(), mono.size());
    converter.Finish();
    return bytes;
}

} // namespace zq::speech
