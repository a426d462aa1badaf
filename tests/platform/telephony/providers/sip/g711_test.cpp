#include "g711.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace zq::sip;

TEST(G711, SilenceHasTheCodeEveryPeerExpects)
{
    const int16_t zero = 0;
    uint8_t mu = 0, a = 0;
    G711Encode(G711Law::MuLaw, &zero, 1, &mu);
    G711Encode(G711Law::ALaw, &zero, 1, &a);
    EXPECT_EQ(mu, 0xFF);
    EXPECT_EQ(a, 0xD5);
}

TEST(G711, RoundTripStaysWithinTheStepOfEachLaw)
{
    for (auto law : { G711Law::MuLaw, G711Law::ALaw }) {
        for (int v = -32768; v <= 32767; v += 7) {
            const int16_t in = int16_t(v);
            uint8_t code;
            int16_t out;
            G711Encode(law, &in, 1, &code);
            G711Decode(law, &code, 1, &out);
            // Companding keeps the relative error near 1/32 plus the step at zero.
            EXPECT_LE(std::abs(out - in), std::abs(in) / 16 + 40) << v;
        }
    }
}
