#include "modeminit_p.h"
#include "uucplock_p.h"
#include "voiceformat_p.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace zq::modem;

namespace {

std::string joined(const std::vector<InitCommand>& cmds)
{
    std::string s;
    for (auto& c : cmds)
        s += c.command + " ";
    return s;
}

} // namespace

TEST(ModemInit, EverySettingBecomesItsOwnCommand)
{
    ModemSettings s; // the defaults of a fresh configuration block
    EXPECT_EQ(joined(initCommands(s)), "L1 M3 S7=60 S30=1 \\N2 %C1 &K4 X4 ");

    s.speakerVolume = 2;
    s.speakerMode = 0;
    s.callSetupFailTimer = 0; // "no wait" would make every call fail at once
    s.inactivityTimeout = 0;
    s.preferredOptions = 0x10 | 0x2 | 0x200;
    s.maxRate = 9600;
    EXPECT_EQ(joined(initCommands(s)), "L3 M0 S7=1 S30=0 \\N3 %C0 &K3 X3 ");

    s.callSetupFailTimer = 100000;
    s.inactivityTimeout = 11; // rounds up to two tens
    s.preferredOptions = 0;
    EXPECT_EQ(joined(initCommands(s)), "L3 M0 S7=255 S30=2 \\N0 %C0 &K0 X4 ");
    for (auto& c : initCommands(s))
        EXPECT_FALSE(c.setting.empty());
}

TEST(ModemInit, UserInitStringIsOneCommandLine)
{
    EXPECT_EQ(userInitBody("AT&F E0 "), "&F E0");
    EXPECT_EQ(userInitBody("s0=0"), "s0=0");
    EXPECT_EQ(userInitBody("  "), "");
    EXPECT_EQ(userInitBody("ATZ\rATD123"), "");
}

TEST(VoiceFormat, PrefersSixteenBitLinearThenEightBitThenG711)
{
    const std::vector<std::string> all
        = { "1,\"UNSIGNED PCM\",8,0,(8000),(0),(0)", "4,\"ULAW\",8,0,(8000),(0),(0)",
              "5,\"ALAW\",8,0,(8000),(0),(0)", "129,\"SIGNED PCM\",16,0,(8000),(0),(0)" };
    EXPECT_EQ(chooseVoiceFormat(all).coding, SampleCoding::Linear16);
    EXPECT_EQ(chooseVoiceFormat(all).id, 129);
    EXPECT_EQ(chooseVoiceFormat({ all[0], all[1] }).coding, SampleCoding::Unsigned8);
    EXPECT_EQ(chooseVoiceFormat({ all[2], all[1] }).id, 4);
    EXPECT_EQ(
        chooseVoiceFormat({ "128,\"8-BIT LINEAR\",(7200,8000,11025)" }).coding, SampleCoding::Unsigned8);
    EXPECT_EQ(chooseVoiceFormat({ "2,\"ADPCM\",2,0,(8000),(0),(0)", "OK", "" }).coding, SampleCoding::None);
}

TEST(VoiceFormat, ConversionsKeepTheSignal)
{
    std::vector<int16_t> in;
    for (int i = -32768; i < 32768; i += 97)
        in.push_back(static_cast<int16_t>(i));
    for (SampleCoding c : { SampleCoding::Linear16, SampleCoding::Unsigned8, SampleCoding::Signed8,
             SampleCoding::Ulaw, SampleCoding::Alaw }) {
        std::vector<uint8_t> wire;
        encodeSamples(c, in.data(), in.size(), wire);
        std::vector<int16_t> back;
        decodeSamples(c, wire.data(), wire.size(), back);
        ASSERT_EQ(back.size(), in.size());
        for (size_t i = 0; i < in.size(); ++i) {
            const int err = std::abs(back[i] - in[i]);
            // G.711 keeps about 1/16 of the magnitude; 8-bit linear one step of 256.
            const int bound = c == SampleCoding::Linear16              ? 0
                : (c == SampleCoding::Ulaw || c == SampleCoding::Alaw) ? std::abs(in[i]) / 16 + 64
                                                                       : 256;
            ASSERT_LE(err, bound) << static_cast<int>(c) << " at " << in[i];
        }
    }
    // Silence stays silence in the codes modems idle with.
    EXPECT_EQ(linearToUlaw(0), 0xFF);
    EXPECT_EQ(linearToAlaw(0), 0xD5);
}

TEST(UucpLock, WrittenHonouredAndStaleOnesTakenOver)
{
    char dir[] = "/tmp/zqlockXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    setenv("ZQ_LOCK_DIR", dir, 1);
    EXPECT_EQ(UucpLock::lockPath("/dev/ttyUSB0"), std::string(dir) + "/LCK..ttyUSB0");
    EXPECT_EQ(UucpLock::lockPath("/dev/pts/4"), std::string(dir) + "/LCK..pts4");

    {
        UucpLock a;
        ASSERT_EQ(a.acquire("/dev/ttyUSB0"), UucpLock::Result::Locked);
        std::ifstream f(UucpLock::lockPath("/dev/ttyUSB0"));
        std::string text((std::istreambuf_iterator<char>(f)), {});
        EXPECT_EQ(
            text, std::string(10 - std::to_string(getpid()).size(), ' ') + std::to_string(getpid()) + "\n");

        UucpLock b;
        pid_t holder = 0;
        EXPECT_EQ(b.acquire("/dev/ttyUSB0", &holder), UucpLock::Result::Busy);
        EXPECT_EQ(holder, getpid());
    }
    EXPECT_NE(access(UucpLock::lockPath("/dev/ttyUSB0").c_str(), F_OK), 0);

    // Another live program's lock is left alone; a dead one's is replaced.
    {
        std::ofstream(UucpLock::lockPath("/dev/ttyS1")) << "         1\n";
        UucpLock c;
        EXPECT_EQ(c.acquire("/dev/ttyS1"), UucpLock::Result::Busy);
        std::ofstream(UucpLock::lockPath("/dev/ttyS1")) << "  99999999\n";
        EXPECT_EQ(c.acquire("/dev/ttyS1"), UucpLock::Result::Locked);
    }
    unsetenv("ZQ_LOCK_DIR");
    std::system((std::string("rm -rf ") + dir).c_str());
}
