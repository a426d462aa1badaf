#include "dialstring.h"

#include <gtest/gtest.h>

using namespace zq::modem;

TEST(DialString, DialCharactersPassAndLayoutIsDropped)
{
    for (const char* ok :
        { "5551234", "+1 (555) 123-4567", "9W555,,123#", "*70P5551234", "T0!@ABCD", "w1p2t3" })
        EXPECT_EQ(dialStringError(ok), "") << ok;
    EXPECT_EQ(dialablePart("+1 (555) 123-4567"), "+15551234567");
    EXPECT_EQ(dialablePart("w1p2t3"), "W1P2T3");
}

TEST(DialString, AnythingThatCouldReachTheCommandLineIsRefused)
{
    for (const char* bad : { "555;ATH", "555\rATZ", "555\n", "123;", "ATZ", "5551234&F", "S0=1", "1234\x10",
             "12\x7f", "555$" }) {
        std::string e = dialStringError(bad);
        EXPECT_NE(e, "") << bad;
        EXPECT_NE(e.find("not a dial character"), std::string::npos) << e;
    }
    EXPECT_NE(dialStringError("555\rATZ").find("0x0D"), std::string::npos);
    EXPECT_NE(dialStringError(std::string(41, '1')), "");
}
