#include "rtppacket.h"

#include <gtest/gtest.h>

using namespace zq::sip;

TEST(RtpPacket, BuildsWhatItParses)
{
    RtpHeader h;
    h.marker = true;
    h.payloadType = 8;
    h.sequence = 0xfffe;
    h.timestamp = 0x89abcdef;
    h.ssrc = 0x01020304;
    const uint8_t payload[] = { 1, 2, 3 };
    const auto p = BuildRtp(h, payload, 3);
    ASSERT_EQ(p.size(), 15u);
    const auto v = ParseRtp(p.data(), p.size());
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->header.marker);
    EXPECT_EQ(v->header.payloadType, 8);
    EXPECT_EQ(v->header.sequence, 0xfffe);
    EXPECT_EQ(v->header.timestamp, 0x89abcdefu);
    EXPECT_EQ(v->header.ssrc, 0x01020304u);
    ASSERT_EQ(v->payloadSize, 3u);
    EXPECT_EQ(v->payload[2], 3);
}

TEST(RtpPacket, SkipsCsrcsExtensionAndPadding)
{
    // V=2 P=1 X=1 CC=1, PT 0; one CSRC; extension of one word; 2 payload
    // bytes; 3 bytes of padding.
    const uint8_t p[] = { 0xb1, 0x00, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, /* csrc */ 9, 9, 9, 9,
        /* ext */ 0xbe, 0xde, 0, 1, 7, 7, 7, 7, /* payload */ 0x55, 0x66, /* pad */ 0, 0, 3 };
    const auto v = ParseRtp(p, sizeof p);
    ASSERT_TRUE(v);
    ASSERT_EQ(v->payloadSize, 2u);
    EXPECT_EQ(v->payload[0], 0x55);
    EXPECT_EQ(v->payload[1], 0x66);
}

TEST(RtpPacket, RefusesWhatDoesNotAddUp)
{
    const uint8_t shortPacket[] = { 0x80, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0 };
    EXPECT_FALSE(ParseRtp(shortPacket, sizeof shortPacket));
    const uint8_t version1[12] = { 0x40 };
    EXPECT_FALSE(ParseRtp(version1, sizeof version1));
    // Fifteen CSRCs announced, none there.
    const uint8_t csrcs[12] = { 0x8f };
    EXPECT_FALSE(ParseRtp(csrcs, sizeof csrcs));
    // An extension longer than the datagram.
    const uint8_t ext[16] = { 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xbe, 0xde, 0xff, 0xff };
    EXPECT_FALSE(ParseRtp(ext, sizeof ext));
    // Padding longer than the payload, and padding of zero.
    const uint8_t pad[14] = { 0xa0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 9 };
    EXPECT_FALSE(ParseRtp(pad, sizeof pad));
    const uint8_t pad0[13] = { 0xa0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 };
    EXPECT_FALSE(ParseRtp(pad0, sizeof pad0));
    // An RTCP sender report on the same port.
    const uint8_t rtcp[28] = { 0x80, 200, 0, 6 };
    EXPECT_FALSE(ParseRtp(rtcp, sizeof rtcp));
}

TEST(TelephoneEvent, CarriesDigitEndVolumeAndDuration)
{
    TelephoneEvent e;
    e.event = 11;
    e.end = true;
    e.volume = 63;
    e.duration = 800;
    uint8_t b[4];
    BuildTelephoneEvent(e, b);
    const auto back = ParseTelephoneEvent(b, 4);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->event, 11);
    EXPECT_TRUE(back->end);
    EXPECT_EQ(back->volume, 63);
    EXPECT_EQ(back->duration, 800);
    EXPECT_FALSE(ParseTelephoneEvent(b, 3));

    const std::string digits = "0123456789*#ABCD";
    for (size_t i = 0; i < digits.size(); ++i) {
        EXPECT_EQ(EventDigit(uint8_t(i)), digits[i]);
        EXPECT_EQ(DigitEvent(digits[i]), int(i));
    }
    EXPECT_EQ(DigitEvent('b'), 13);
    EXPECT_EQ(EventDigit(16), '\0'); // flash and tones are not digits
    EXPECT_EQ(DigitEvent('x'), -1);
}
