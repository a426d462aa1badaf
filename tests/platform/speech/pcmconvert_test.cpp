#include <pcmconvert_p.h>
#include <voiceparams_p.h>

#include <sapitypes.h>

#include <cmath>
#include <gtest/gtest.h>

using namespace zq::speech;

namespace {

std::vector<int16_t> Sine(int rate, double hz, size_t count, double amplitude = 16000)
{
    std::vector<int16_t> s(count);
    for (size_t i = 0; i < count; ++i)
        s[i] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
    return s;
}

double Rms(const int16_t* s, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += double(s[i]) * s[i];
    return n ? std::sqrt(sum / n) : 0;
}

} // namespace

TEST(PcmConvert, ResamplingKeepsTheDurationAndTheTail)
{
    const auto input = Sine(22050, 440, 22050 * 3 / 2); // 1.5 s
    for (int rate : { 8000, 11025, 16000, 44100 }) {
        const auto output = ResampleMono16(input, 22050, rate);
        const double expected = input.size() * double(rate) / 22050;
        EXPECT_NEAR(double(output.size()), expected, 2.0) << rate;
        // A lost tail would show as missing or faded samples at the end.
        const size_t tail = size_t(rate) / 50;
        ASSERT_GT(output.size(), 2 * tail);
        EXPECT_NEAR(Rms(output.data() + output.size() - 2 * tail, tail), 16000 / std::sqrt(2.0), 300) << rate;
    }
    EXPECT_EQ(ResampleMono16(input, 22050, 22050), input);
    EXPECT_TRUE(ResampleMono16({}, 22050, 8000).empty());
}

TEST(PcmConvert, EightBitIsUnsignedAndChannelsAreCopies)
{
    const std::vector<int16_t> samples { 0, -32768, 32767, 256, -256 };
    EXPECT_EQ(EncodePcm(samples, 8, 1), (std::vector<uint8_t> { 128, 0, 255, 129, 127 }));
    EXPECT_EQ(EncodePcm({ 0x1234, -2 }, 16, 2),
        (std::vector<uint8_t> { 0x34, 0x12, 0x34, 0x12, 0xFE, 0xFF, 0xFE, 0xFF }));
    EXPECT_EQ(ConvertPcm({ 100, 200 }, 8000, { 8000, 16, 1 }), (std::vector<uint8_t> { 100, 0, 200, 0 }));
}

TEST(PcmConvert, ConvertingPieceByPieceGivesTheWholeConversion)
{
    // The engine hands its samples over in pieces of whatever size it likes.
    const auto input = Sine(22050, 300, 22050);
    for (const PcmLayout layout :
        { PcmLayout { 8000, 16, 1 }, PcmLayout { 11025, 8, 2 }, PcmLayout { 22050, 16, 2 } }) {
        std::vector<uint8_t> pieces;
        PcmConverter converter(22050, layout, [&pieces](const uint8_t* bytes, size_t count) {
            pieces.insert(pieces.end(), bytes, bytes + count);
        });
        for (size_t done = 0, step = 1; done < input.size(); step = step * 3 % 4001 + 1) {
            const size_t n = std::min(step, input.size() - done);
            converter.Put(input.data() + done, n);
            done += n;
        }
        converter.Finish();
        EXPECT_EQ(pieces, ConvertPcm(input, 22050, layout)) << layout.samplesPerSec;
    }
}

TEST(VoiceParams, RateAndVolumeFollowTheirScales)
{
    EXPECT_EQ(WordsPerMinuteForRate(0), 175);
    EXPECT_EQ(WordsPerMinuteForRate(10), 525);
    EXPECT_EQ(WordsPerMinuteForRate(-10), 80);
    for (int r = -9; r <= 10; ++r)
        EXPECT_GE(WordsPerMinuteForRate(r), WordsPerMinuteForRate(r - 1));
    EXPECT_EQ(AmplitudeForVolume(100), 100);
    EXPECT_EQ(AmplitudeForVolume(50), 50);
    EXPECT_EQ(AmplitudeForVolume(0), 0);
    EXPECT_THROW(WordsPerMinuteForRate(11), SpeechEngineError);
    EXPECT_THROW(AmplitudeForVolume(-1), SpeechEngineError);
}
