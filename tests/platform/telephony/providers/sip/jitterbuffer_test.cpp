#include "jitterbuffer_p.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

using namespace zq::sip;

namespace {
// Frame i holds the samples i*160 .. i*160+159 (mod 30000), so any sample
// out of place shows.
std::vector<int16_t> FrameOf(int i)
{
    std::vector<int16_t> f(160);
    for (int k = 0; k < 160; ++k)
        f[k] = int16_t((i * 160 + k) % 30000 + 1);
    return f;
}
} // namespace

TEST(JitterBuffer, ReordersAndAbsorbsAHundredMillisecondsOfVariation)
{
    JitterBuffer jb(120);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> jitter(0, 100);
    const uint32_t base = 0xfffff000; // wraps during the test
    const int frames = 400;
    // Arrival time in ms of each packet, sent every 20 ms. The first one
    // arrives without delay, the worst case for a buffer sized from it.
    std::multimap<int, int> arrivals;
    for (int i = 0; i < frames; ++i)
        arrivals.emplace(i * 20 + (i == 0 ? 0 : jitter(rng)), i);
    std::vector<int16_t> out;
    int16_t frame[160];
    auto next = arrivals.begin();
    for (int tick = 0; tick < frames + 20; ++tick) {
        for (; next != arrivals.end() && next->first <= tick * 20; ++next) {
            const auto f = FrameOf(next->second);
            jb.Put(base + uint32_t(next->second) * 160, f.data(), 160);
        }
        jb.Take(frame);
        out.insert(out.end(), frame, frame + 160);
    }
    EXPECT_EQ(jb.LatePackets(), 0u);
    EXPECT_EQ(jb.Restarts(), 1u);
    // The audio comes out whole and in order after a constant delay.
    const auto first = std::find(out.begin(), out.end(), int16_t(1));
    ASSERT_NE(first, out.end());
    const size_t delay = size_t(first - out.begin());
    EXPECT_EQ(delay, 6u * 160);
    for (int i = 0; i < frames; ++i) {
        const auto f = FrameOf(i);
        ASSERT_TRUE(std::equal(f.begin(), f.end(), out.begin() + delay + i * 160)) << "frame " << i;
    }
}

TEST(JitterBuffer, ConcealsALostPacketAndDropsALateOne)
{
    JitterBuffer jb(40);
    int16_t frame[160];
    std::vector<JitterBuffer::Frame> kinds;
    for (int i = 0; i < 12; ++i) {
        if (i != 5) {
            std::vector<int16_t> tone(160);
            for (int k = 0; k < 160; ++k)
                tone[k] = int16_t(k % 16 < 8 ? 8000 : -8000);
            jb.Put(uint32_t(i) * 160, tone.data(), 160);
        }
        kinds.push_back(jb.Take(frame));
        if (kinds.back() == JitterBuffer::Frame::Concealed) {
            // Concealment continues the signal rather than leaving a hole.
            EXPECT_GT(*std::max_element(frame, frame + 160), 1000);
        }
    }
    const auto frame5 = FrameOf(5);
    jb.Put(5 * 160, frame5.data(), 160); // long past its playout time
    EXPECT_EQ(jb.LatePackets(), 1u);
    // Two frames of delay, then audio with frame 5 concealed.
    EXPECT_EQ(kinds[0], JitterBuffer::Frame::Silence);
    EXPECT_EQ(kinds[1], JitterBuffer::Frame::Silence);
    EXPECT_EQ(kinds[2], JitterBuffer::Frame::Audio);
    EXPECT_EQ(kinds[7], JitterBuffer::Frame::Concealed);
    EXPECT_EQ(kinds[8], JitterBuffer::Frame::Audio);
}

TEST(JitterBuffer, FallsSilentAfterAGapAndFollowsASenderThatJumps)
{
    JitterBuffer jb(40);
    int16_t frame[160];
    const auto f = FrameOf(1);
    jb.Put(0, f.data(), 160);
    for (int i = 0; i < 3; ++i)
        jb.Take(frame);
    int concealed = 0;
    for (int i = 0; i < 20; ++i)
        concealed += jb.Take(frame) == JitterBuffer::Frame::Concealed;
    EXPECT_LE(concealed, 3);
    EXPECT_EQ(jb.Take(frame), JitterBuffer::Frame::Silence);
    // A new stream far away in timestamps plays after the same delay.
    jb.Put(0x40000000, f.data(), 160);
    EXPECT_EQ(jb.Restarts(), 2u);
    EXPECT_EQ(jb.Take(frame), JitterBuffer::Frame::Silence);
    EXPECT_EQ(jb.Take(frame), JitterBuffer::Frame::Silence);
    EXPECT_EQ(jb.Take(frame), JitterBuffer::Frame::Audio);
    EXPECT_EQ(frame[0], f[0]);
}
