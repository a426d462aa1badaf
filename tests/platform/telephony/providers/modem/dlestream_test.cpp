#include "dlestream.h"

#include <gtest/gtest.h>

using namespace zq::modem;

TEST(DleStream, EscapeThenDecodeGivesTheSamplesBackForEverySplit)
{
    std::vector<uint8_t> samples;
    for (int i = 0; i < 600; ++i)
        samples.push_back(static_cast<uint8_t>(i * 7));
    samples.push_back(DLE);
    samples.push_back(DLE);
    std::vector<uint8_t> wire;
    dleEscape(samples.data(), samples.size(), wire);
    wire.push_back(DLE);
    wire.push_back(ETX);
    ASSERT_GT(wire.size(), samples.size() + 2);

    for (size_t split : { size_t(1), size_t(2), size_t(3), size_t(17), wire.size() }) {
        DleDecoder d;
        std::vector<uint8_t> got;
        std::vector<DleCode> ev;
        for (size_t i = 0; i < wire.size(); i += split)
            d.decode(wire.data() + i, std::min(split, wire.size() - i), got, ev);
        EXPECT_EQ(got, samples) << split;
        ASSERT_EQ(ev.size(), 1u) << split;
        EXPECT_EQ(ev[0].event, VoiceEvent::EndOfData);
        EXPECT_FALSE(d.pending());
    }
}

TEST(DleStream, EventsAreTakenOutOfTheData)
{
    const uint8_t wire[] = { 1, 2, DLE, '5', 3, DLE, '#', DLE, 'b', DLE, SUB, 4, DLE, 'd', DLE, 's', DLE, 'l',
        DLE, 'R', DLE, 'q', DLE, 'Z' };
    DleDecoder d;
    std::vector<uint8_t> got;
    std::vector<DleCode> ev;
    d.decode(wire, sizeof wire, got, ev);
    EXPECT_EQ(got, (std::vector<uint8_t> { 1, 2, 3, DLE, DLE, 4 }));
    std::vector<VoiceEvent> k;
    for (auto& e : ev)
        k.push_back(e.event);
    EXPECT_EQ(k,
        (std::vector<VoiceEvent> { VoiceEvent::Digit, VoiceEvent::Digit, VoiceEvent::Busy,
            VoiceEvent::DialTone, VoiceEvent::Silence, VoiceEvent::LoopLoss, VoiceEvent::Ring,
            VoiceEvent::Quiet, VoiceEvent::Other }));
    EXPECT_EQ(ev[0].code, '5');
    EXPECT_EQ(ev[0].offset, 2u);
    EXPECT_EQ(ev[1].code, '#');
}

TEST(DleStream, DigitsAreExactlyTheDtmfSet)
{
    std::string digits;
    for (int c = 0; c < 256; ++c) {
        if (voiceEventOf(static_cast<uint8_t>(c)) == VoiceEvent::Digit)
            digits += static_cast<char>(c);
    }
    EXPECT_EQ(digits, "#*0123456789ABCD");
}

TEST(DleStream, DecodingStopsWhereTheStreamEnds)
{
    const uint8_t wire[] = { 7, DLE, ETX, '\r', '\n', 'O', 'K', '\r', '\n' };
    DleDecoder d;
    std::vector<uint8_t> got;
    std::vector<DleCode> ev;
    EXPECT_EQ(d.decode(wire, sizeof wire, got, ev), 3u);
    EXPECT_EQ(got, std::vector<uint8_t> { 7 });
}
