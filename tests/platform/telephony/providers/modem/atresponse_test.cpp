#include "atresponse.h"

#include <gtest/gtest.h>

using namespace zq::modem;

namespace {

std::vector<AtLine> feedAll(AtResponseParser& p, const std::string& s, size_t* taken = nullptr)
{
    std::vector<AtLine> out;
    size_t n = p.feed(reinterpret_cast<const uint8_t*>(s.data()), s.size(), out);
    if (taken)
        *taken = n;
    return out;
}

std::vector<AtKind> kinds(const std::vector<AtLine>& lines)
{
    std::vector<AtKind> k;
    for (auto& l : lines)
        k.push_back(l.kind);
    return k;
}

} // namespace

TEST(AtResponse, EchoInfoAndResultWithEveryLineEnding)
{
    for (const char* eol : { "\r\n", "\n", "\r", "\n\r", "\r\r\n" }) {
        AtResponseParser p;
        std::string e = eol;
        auto lines = feedAll(p, "ATI3" + e + e + "Sim Voice 1.0" + e + e + "OK" + e);
        ASSERT_EQ(kinds(lines), (std::vector<AtKind> { AtKind::Echo, AtKind::Info, AtKind::Ok })) << eol;
        EXPECT_EQ(lines[1].text, "Sim Voice 1.0");
    }
}

TEST(AtResponse, PartialLinesAcrossReadsAndByteByByte)
{
    AtResponseParser p;
    EXPECT_TRUE(feedAll(p, "\r\nNO CAR").empty());
    auto l = feedAll(p, "RIER\r\n");
    ASSERT_EQ(kinds(l), std::vector<AtKind> { AtKind::NoCarrier });

    const std::string text = "\r\nRING\r\n\r\nNMBR = +15551234\r\n\r\nBUSY\r\n";
    std::vector<AtLine> all;
    for (char c : text) {
        auto one = feedAll(p, std::string(1, c));
        all.insert(all.end(), one.begin(), one.end());
    }
    EXPECT_EQ(kinds(all), (std::vector<AtKind> { AtKind::Ring, AtKind::CallerId, AtKind::Busy }));
}

TEST(AtResponse, CallerIdWithAndWithoutSpaces)
{
    AtResponseParser p;
    auto l = feedAll(p,
        "RING\r\nDATE=1208\r\nTIME = 1710\r\nNMBR=  +15551234 \r\nNAME = Alice Smith\r\n"
        "DDN_NMBR= 123\r\nRING\r\n");
    ASSERT_EQ(l.size(), 7u);
    EXPECT_EQ(l[1].key, "DATE");
    EXPECT_EQ(l[1].value, "1208");
    EXPECT_EQ(l[2].key, "TIME");
    EXPECT_EQ(l[3].key, "NMBR");
    EXPECT_EQ(l[3].value, "+15551234");
    EXPECT_EQ(l[4].value, "Alice Smith");
    EXPECT_EQ(l[5].key, "NMBR");
    EXPECT_EQ(l[6].kind, AtKind::Ring);
}

TEST(AtResponse, UnsolicitedLinesBetweenAnswerAndResult)
{
    AtResponseParser p;
    auto l = feedAll(p, "\r\n0,1,8\r\n\r\nRING\r\n\r\nOK\r\n");
    EXPECT_EQ(kinds(l), (std::vector<AtKind> { AtKind::Info, AtKind::Ring, AtKind::Ok }));
}

TEST(AtResponse, NumericCodesDependOnTheForm)
{
    AtResponseParser p;
    p.setForm(ResultForm::Numeric);
    auto l = feedAll(p, "0\r4\r7\r2\r3\r8\r6\r");
    EXPECT_EQ(kinds(l),
        (std::vector<AtKind> { AtKind::Ok, AtKind::Error, AtKind::Busy, AtKind::Ring, AtKind::NoCarrier,
            AtKind::NoAnswer, AtKind::NoDialtone }));

    p.setForm(ResultForm::Verbose);
    l = feedAll(p, "0\r\n56000\r\n");
    EXPECT_EQ(kinds(l), (std::vector<AtKind> { AtKind::Info, AtKind::Info }));

    // Unknown form: codes a command ends with count, numbers such as ATI's do not.
    p.setForm(ResultForm::Either);
    l = feedAll(p, "56000\r\n0\r\nOK\r\n");
    EXPECT_EQ(kinds(l), (std::vector<AtKind> { AtKind::Info, AtKind::Ok, AtKind::Ok }));
}

TEST(AtResponse, ConnectStopsTheParserBeforeTheCallsBytes)
{
    AtResponseParser p;
    size_t taken = 0;
    const std::string in = "ATDT5551234\r\r\nCONNECT 33600/ARQ\r\nhello\r\nOK\r\n";
    auto l = feedAll(p, in, &taken);
    ASSERT_EQ(kinds(l), (std::vector<AtKind> { AtKind::Echo, AtKind::Connect }));
    EXPECT_EQ(l[1].rate, 33600u);
    EXPECT_EQ(in.substr(taken), "hello\r\nOK\r\n");

    l = feedAll(p, "CONNECT\r\n", &taken);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].rate, 0u);
    EXPECT_EQ(taken, 9u);
}

TEST(AtResponse, ShieldedEventsInCommandState)
{
    AtResponseParser p;
    auto l = feedAll(p, "\x10R\r\nOK\x10\x10\r\n\x10");
    ASSERT_EQ(kinds(l), (std::vector<AtKind> { AtKind::Dle, AtKind::Ok }));
    EXPECT_EQ(l[0].code, 'R');
    l = feedAll(p, "b");
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].code, 'b');
}

TEST(AtResponse, OverlongNoiseIsDroppedAndParsingRecovers)
{
    AtResponseParser p;
    std::string noise(AtResponseParser::MaxLine * 3, 'x');
    auto l = feedAll(p, noise + "OK\r\nERROR\r\n");
    EXPECT_EQ(kinds(l), std::vector<AtKind> { AtKind::Error });
    l = feedAll(p, "+CME ERROR: 3\r\nNO DIAL TONE\r\nVCON\r\n");
    EXPECT_EQ(kinds(l), (std::vector<AtKind> { AtKind::Error, AtKind::NoDialtone, AtKind::Ok }));
}

TEST(AtResponse, AConnectLineSplitAfterItsCrOwesItsLf)
{
    AtResponseParser p;
    p.setForm(ResultForm::Verbose);
    size_t taken = 0;
    feedAll(p, "\r\nCONNECT\r", &taken);
    EXPECT_TRUE(p.lfOwed());
    feedAll(p, "\r\nCONNECT\r\n", &taken);
    EXPECT_FALSE(p.lfOwed());
}
