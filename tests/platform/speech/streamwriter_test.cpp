#include <streamwriter_p.h>

#include <cstring>
#include <gtest/gtest.h>

using namespace zq::speech;

namespace {

std::vector<int16_t> Ramp(size_t count)
{
    std::vector<int16_t> s(count);
    for (size_t i = 0; i < count; ++i)
        s[i] = static_cast<int16_t>(i * 37);
    return s;
}

} // namespace

TEST(StreamWriter, WritesEveryPieceInOrderAfterWhatTheStreamHeld)
{
    SpMemoryStream stream;
    stream.Write(std::vector<uint8_t> { 9, 9 });
    const auto samples = Ramp(3'000'000); // more than may be in flight at once
    {
        StreamWriter writer(stream, { 22050, 16, 1 });
        writer.Start(22050);
        // The engine's usual handful, a single sample, and more than the
        // writer passes on at a time.
        const size_t sizes[] = { 1323, 1, 40'000 };
        for (size_t done = 0, i = 0; done < samples.size(); ++i) {
            const size_t n = std::min(sizes[i % 3], samples.size() - done);
            writer.Put(samples.data() + done, n);
            done += n;
        }
        writer.Finish();
    }
    const auto data = stream.GetData();
    ASSERT_EQ(data.size(), 2 + samples.size() * 2);
    EXPECT_EQ(data[0], 9);
    EXPECT_EQ(std::memcmp(data.data() + 2, samples.data(), samples.size() * 2), 0);
    EXPECT_EQ(stream.Seek(0, SSSPTRelativeToCurrentPosition), static_cast<int64_t>(data.size()));
}

TEST(StreamWriter, AnAbandonedRenderLeavesTheStreamAsItWas)
{
    SpMemoryStream stream;
    stream.Write(std::vector<uint8_t> { 1, 2, 3 });
    const auto samples = Ramp(50'000);
    {
        StreamWriter writer(stream, { 8000, 16, 1 });
        writer.Start(22050);
        writer.Put(samples.data(), samples.size());
    }
    EXPECT_EQ(stream.GetData(), (std::vector<uint8_t> { 1, 2, 3 }));
    EXPECT_EQ(stream.Seek(0, SSSPTRelativeToCurrentPosition), 3);
}

TEST(SpMemoryStream, SetSizeCutsAndGrowsWithZeros)
{
    SpMemoryStream stream;
    stream.Write(std::vector<uint8_t>(300'000, 5));
    stream.SetSize(2);
    EXPECT_EQ(stream.Seek(0, SSSPTRelativeToEnd), 2);
    stream.SetSize(4);
    EXPECT_EQ(stream.GetData(), (std::vector<uint8_t> { 5, 5, 0, 0 }));
    EXPECT_THROW(stream.SetSize(-1), SpeechEngineError);
}
