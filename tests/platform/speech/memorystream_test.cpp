#include <spmemorystream.h>

#include <gtest/gtest.h>

using namespace zq::speech;

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

TEST(SpMemoryStream, DataSpanningManyBlocksReadsBackInAnyPieces)
{
    // Odd piece sizes so writes and reads straddle the storage's block edges.
    std::vector<uint8_t> data(700'001);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    SpMemoryStream stream;
    for (size_t done = 0; done < data.size();) {
        const size_t n = std::min<size_t>(9'973, data.size() - done);
        ASSERT_EQ(stream.Write(data.data() + done, static_cast<int32_t>(n)), static_cast<int32_t>(n));
        done += n;
    }
    EXPECT_EQ(stream.Seek(0, SSSPTRelativeToEnd), static_cast<int64_t>(data.size()));

    // An overwrite across a block edge changes only its own bytes.
    const std::vector<uint8_t> patch(1000, 0xAB);
    stream.Seek(262'000);
    stream.Write(patch);
    std::copy(patch.begin(), patch.end(), data.begin() + 262'000);
    EXPECT_EQ(stream.Seek(0, SSSPTRelativeToEnd), static_cast<int64_t>(data.size()));

    stream.Seek(0);
    std::vector<uint8_t> back;
    std::vector<uint8_t> piece;
    while (stream.Read(piece, 65'537) > 0)
        back.insert(back.end(), piece.begin(), piece.end());
    EXPECT_EQ(back, data);
    EXPECT_EQ(stream.GetData(), data);

    SpMemoryStream copy;
    copy.SetData(data);
    EXPECT_EQ(copy.GetData(), data);
    EXPECT_EQ(copy.Seek(0, SSSPTRelativeToCurrentPosition), 0);
}
