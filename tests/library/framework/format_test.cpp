#include "zqformat.h"

#include <gtest/gtest.h>

TEST(Format, TheSpecifiersTheLibraryUses)
{
    EXPECT_EQ(Format("Try to send char %2Xh ...", { 10 }), "Try to send char  Ah ...");
    EXPECT_EQ(Format("%2X", { 0xAB }), "AB");
    EXPECT_EQ(Format("Fatal Error: %u, %u, %s", { 1u, 0u, "x" }), "Fatal Error: 1, 0, x");
    EXPECT_EQ(Format("%d and %u", { -1, -1 }), "-1 and 4294967295");
    EXPECT_EQ(Format("%x %X", { -1, 255 }), "ffffffff FF");
    EXPECT_EQ(Format("[%-4s|%4s]", { "ab", "cd" }), "[ab  |  cd]");
    EXPECT_EQ(Format("%.3d%%", { 7 }), "007%");
}

TEST(Format, MismatchedArgumentsAreReported)
{
    EXPECT_THROW(Format("%d", {}), EConvertError);
    EXPECT_THROW(Format("%s", { 3 }), EConvertError);
    EXPECT_THROW(Format("%d", { "text" }), EConvertError);
    EXPECT_THROW(Format("%q", { 1 }), EConvertError);
}
