#pragma once
// Turns the synthesiser's 16-bit mono samples into the PCM layout a stream
// asks for: any rate, 8 or 16 bits, 1 or 2 channels. The converter works
// piece by piece, so a long text never exists at the engine's rate as a whole.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct soxr;

namespace zq::speech {

struct PcmLayout {
    int samplesPerSec = 0;
    int bitsPerSample = 16;
    int channels = 1;
};

// Streaming resampler of mono 16-bit audio. Every input sample is accounted
// for once Finish has run, so the output lasts as long as the input.
class MonoResampler {
public:
    using Output = std::function<void(const int16_t* samples, size_t count)>;
    // Throws SpeechEngineError when the resampler cannot be set up.
    MonoResampler(int inputRate, int outputRate);
    ~MonoResampler();
    MonoResampler(const MonoResampler&) = delete;
    MonoResampler& operator=(const MonoResampler&) = delete;

    void Put(const int16_t* samples, size_t count, const Output& out);
    // Drains what the filter still holds, which is the end of the audio.
    void Finish(const Output& out);

private:
    int inputRate_;
    int outputRate_;
    soxr* resampler_ = nullptr; // null when the rates are equal
    std::vector<int16_t> chunk_;
};

// Resampler and encoder in one: takes engine samples, hands out bytes of the
// layout, reusing one buffer.
class PcmConverter {
public:
    using Output = std::function<void(const uint8_t* bytes, size_t count)>;
    PcmConverter(int inputRate, const PcmLayout& layout, Output out);

    void Put(const int16_t* samples, size_t count);
    void Finish();

private:
    void Encode(const int16_t* samples, size_t count);

    PcmLayout layout_;
    Output out_;
    MonoResampler resampler_;
    MonoResampler::Output encode_;
    std::vector<uint8_t> bytes_;
};

// Whole-buffer forms of the above.
std::vector<int16_t> ResampleMono16(const std::vector<int16_t>& input, int inputRate, int outputRate);

// Interleaved little-endian bytes of the given layout (8-bit samples are
// unsigned, centred on 128). Channels are copies of the mono signal.
std::vector<uint8_t> EncodePcm(const std::vector<int16_t>& mono, int bitsPerSample, int channels);

std::vector<uint8_t> ConvertPcm(const std::vector<int16_t>& mono, int inputRate, const PcmLayout& layout);

} // namespace zq::speech
