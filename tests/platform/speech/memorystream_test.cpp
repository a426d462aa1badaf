#include <spmemorystream.h>

#include <gtest/gtest.h>

using namespace sapi;

TEST(SpMemoryStream, SeekReportsPositionsAndReadStopsAtTheEnd)
{
    SpMemoryStream stream;
    EXPECT_EQ(stream.Write(std::vector<uint8_t> { 1, 2, 3, 4, 5 }), 5);
    EXPECT_EQ(stream.Seek(0, SSSPTRelativeToEnd), 5);
    EXPECT_EQ(stream.Seek(-2, SSSPTRelativeToCurrentPosition), 3);
    EXPECT_EQ(stream.Seek(0), 0);

    std::vector<uint8_t> buffer;
    EXPECT_EQ(stream.Read(buffer, 3), 3);
    EXPECT_EQ(buffer, (std::vector<uint8_t> { 1, 2, 3 }));
    EXPECT_EQ(stream.Read(buffer, 16), 2);
    EXPECT_EQ(buffer, (std::vector<uint8_t> { 4, 5 }));
    EXPECT_EQ(stream.Read(buffer, 16), 0);
    EXPECT_TRUE(buffer.empty());

    EXPECT_EQ(stream.Seek(100), 100);
    uint8_t raw[4];
    EXPECT_EQ(stream.Read(raw, 4), 0);
    EXPECT_THROW(stream.Seek(-1), SpeechEngineError);
    EXPECT_THROW(stream.Seek(-6, SSSPTRelativeToEnd), SpeechEngineError);
    EXPECT_THROW(stream.Read(buffer, -1), SpeechEngineError);
}

TEST(SpMemoryStream, WritingPastTheEndFillsTheGapWithZeros)
{
    SpMemoryStream stream;
    stream.Seek(2);
    stream.Write(std::vector<uint8_t> { 7 });
    EXPECT_EQ(stream.GetData(), (std::vector<uint8_t> { 0, 0, 7 }));
}

TEST(SpAudioFormat, FormatObjectIsSharedWithTheStreamAndChecksWhatItTakes)
{
    SpMemoryStream stream;
    auto wave = stream.get_Format()->GetWaveFormatEx();
    wave->put_SamplesPerSec(8000);
    wave->put_BitsPerSample(8);
    wave->put_Channels(2);
    // Not applied until handed back.
    EXPECT_EQ(stream.get_Format()->GetWaveFormatEx()->get_SamplesPerSec(), 22050);

    wave->put_BlockAlign(2);
    wave->put_AvgBytesPerSec(16000);
    stream.get_Format()->SetWaveFormatEx(wave);
    const auto applied = stream.get_Format()->GetWaveFormatEx();
    EXPECT_EQ(applied->get_SamplesPerSec(), 8000);
    EXPECT_EQ(applied->get_Channels(), 2);
    EXPECT_EQ(applied->get_BitsPerSample(), 8);

    auto reject = [&](auto change) {
        auto bad = stream.get_Format()->GetWaveFormatEx();
        change(*bad);
        EXPECT_THROW(stream.get_Format()->SetWaveFormatEx(bad), SpeechEngineError);
    };
    reject([](SpWaveFormatEx& f) { f.put_FormatTag(3); });
    reject([](SpWaveFormatEx& f) { f.put_Channels(3); });
    reject([](SpWaveFormatEx& f) { f.put_BitsPerSample(12); });
    reject([](SpWaveFormatEx& f) { f.put_BlockAlign(4); });
    reject([](SpWaveFormatEx& f) { f.put_AvgBytesPerSec(8000); });
    reject([](SpWaveFormatEx& f) { f.put_SamplesPerSec(0); });
    EXPECT_THROW(stream.get_Format()->SetWaveFormatEx(nullptr), SpeechEngineError);
    EXPECT_EQ(stream.get_Format()->GetWaveFormatEx()->get_SamplesPerSec(), 8000);
}
