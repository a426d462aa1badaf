// Registration, the simulated lines as programs list them, and the error
// codes of bad handles, identifiers, classes and blocks.
#include "registrykey.h"
#include "simexchange.h"

using zq::registry::RegistryKey;
using zq::sim::kSimulatedLinesKey;
#include "tapitest.h"

TEST_F(TapiTest, RegistersAndListsTheTwoDefaultLines)
{
    Register();
    ASSERT_EQ(numDevs_, 2u);
    EXPECT_EQ(version_, 0x00030000u);
    DWORD waveIds[2][2] = {};
    for (DWORD id = 0; id < 2; ++id) {
        HLINE line = Open(id, kInst1, LINECALLPRIVILEGE_NONE, LINEMEDIAMODE_DATAMODEM);
        VarBlock name;
        ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, name.Var(), "comm/datamodem"), 0);
        EXPECT_EQ(name.Dword(0), DWORD(INVALID_HANDLE_VALUE)) << "no port without a connected call";
        EXPECT_EQ(std::string(name.Data() + 4), "Simulated line " + std::to_string(id + 1));
        VarBlock port;
        ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, port.Var(), "comm/datamodem/portname"), 0);
        EXPECT_EQ(std::string(port.Data()), "SIM" + std::to_string(id + 1));
        VarBlock both, in, out;
        ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, both.Var(), "wave/in/out"), 0);
        ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, in.Var(), "wave/in"), 0);
        ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, out.Var(), "wave/out"), 0);
        EXPECT_NE(both.Dword(0), 0u);
        EXPECT_NE(both.Dword(1), 0u);
        EXPECT_EQ(both.Dword(0), in.Dword(0));
        EXPECT_EQ(both.Dword(1), out.Dword(0));
        waveIds[id][0] = in.Dword(0);
        waveIds[id][1] = out.Dword(0);

        std::vector<char> block(292);
        auto* caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
        caps->dwTotalSize = 292;
        EXPECT_EQ(lineGetDevCaps(app_, id, version_, 0, caps), 0);
        EXPECT_TRUE(caps->dwBearerModes & LINEBEARERMODE_VOICE);
        EXPECT_TRUE(caps->dwBearerModes & LINEBEARERMODE_PASSTHROUGH);
        EXPECT_TRUE(caps->dwMediaModes & LINEMEDIAMODE_INTERACTIVEVOICE);
        EXPECT_TRUE(caps->dwMediaModes & LINEMEDIAMODE_DATAMODEM);
        EXPECT_GT(caps->dwNeededSize, 292u) << "the name does not fit the fixed part";
        EXPECT_EQ(lineClose(line), 0);
    }
    EXPECT_NE(waveIds[0][0], waveIds[1][0]);
    EXPECT_NE(waveIds[0][1], waveIds[1][1]);
}

TEST_F(TapiTest, WaveIdentifiersStayValidAcrossRegistrations)
{
    Register();
    HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    VarBlock first;
    ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, first.Var(), "wave/in/out"), 0);
    lineShutdown(&app_);
    EXPECT_EQ(app_, 0u);
    Register();
    line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    VarBlock again;
    ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, again.Var(), "wave/in/out"), 0);
    EXPECT_EQ(first.Dword(0), again.Dword(0));
    EXPECT_EQ(first.Dword(1), again.Dword(1));
}

TEST_F(TapiTest, BadHandlesIdentifiersAndClassesGetLineErrors)
{
    Register();
    HLINE line = 0;
    EXPECT_EQ(DWORD(lineOpen(app_, 2, &line, version_, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr)),
        LINEERR_BADDEVICEID);
    EXPECT_EQ(DWORD(lineOpen(app_ + 99, 0, &line, version_, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr)),
        LINEERR_INVALAPPHANDLE);
    EXPECT_EQ(DWORD(lineOpen(app_, 0, &line, version_, 0, 0, LINECALLPRIVILEGE_OWNER, 0x80000, nullptr)),
        LINEERR_INVALMEDIAMODE);
    line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    VarBlock v;
    EXPECT_EQ(DWORD(lineGetID(line, 0, 0, LINECALLSELECT_LINE, v.Var(), "no/such/class")),
        LINEERR_INVALDEVICECLASS);
    EXPECT_EQ(DWORD(lineGetID(line + 99, 0, 0, LINECALLSELECT_LINE, v.Var(), "comm/datamodem")),
        LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(DWORD(lineGetID(line, 0, 77, LINECALLSELECT_CALL, v.Var(), "comm/datamodem")),
        LINEERR_INVALCALLHANDLE);

    VarBlock tiny(sizeof(VARSTRING) + 6);
    EXPECT_EQ(DWORD(lineGetID(line, 0, 0, LINECALLSELECT_LINE, tiny.Var(), "comm/datamodem")),
        LINEERR_STRUCTURETOOSMALL);
    EXPECT_EQ(tiny.Var()->dwNeededSize, sizeof(VARSTRING) + 4 + std::strlen("Simulated line 1") + 1);
    VarBlock headerOnly(16);
    EXPECT_EQ(DWORD(lineGetID(line, 0, 0, LINECALLSELECT_LINE, headerOnly.Var(), "wave/in")),
        LINEERR_STRUCTURETOOSMALL);
    EXPECT_EQ(headerOnly.Var()->dwNeededSize, sizeof(VARSTRING) + 4);

    std::vector<char> caps(100);
    reinterpret_cast<LINEDEVCAPS*>(caps.data())->dwTotalSize = 100;
    EXPECT_EQ(DWORD(lineGetDevCaps(app_, 0, version_, 0, reinterpret_cast<LINEDEVCAPS*>(caps.data()))),
        LINEERR_STRUCTURETOOSMALL);
    EXPECT_EQ(reinterpret_cast<LINEDEVCAPS*>(caps.data())->dwNeededSize, 292u);

    EXPECT_EQ(DWORD(lineClose(line + 99)), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(DWORD(lineDrop(4242, nullptr, 0)), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(DWORD(lineDeallocateCall(4242)), LINEERR_INVALCALLHANDLE);
    EXPECT_EQ(DWORD(lineUncompleteCall(line, 1)), LINEERR_INVALCOMPLETIONID);
    DWORD address = 7;
    EXPECT_EQ(lineGetAddressID(line, &address, LINEADDRESSMODE_DIALABLEADDR, "1001", 5), 0);
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(DWORD(lineGetAddressID(line, &address, LINEADDRESSMODE_DIALABLEADDR, "999", 4)),
        LINEERR_INVALADDRESS);
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_EQ(DWORD(lineShutdown(&app_)), 0u);
    HLINEAPP stale = 0x12345;
    EXPECT_EQ(DWORD(lineShutdown(&stale)), LINEERR_INVALAPPHANDLE);
}

TEST_F(TapiTest, ALineSetToFailRefusesToOpen)
{
    {
        RegistryKey line(HKEY_LOCAL_MACHINE, std::string(kSimulatedLinesKey) + "\\0001", true);
        line.SetString("Name", "Broken line");
        line.SetString("Number", "1002");
        line.SetDword("FailOpen", 1);
        RegistryKey other(HKEY_LOCAL_MACHINE, std::string(kSimulatedLinesKey) + "\\0000", true);
        other.SetString("Name", "Good line");
        other.SetString("Number", "1001");
    }
    Register();
    ASSERT_EQ(numDevs_, 2u);
    HLINE line = 0;
    EXPECT_EQ(DWORD(lineOpen(app_, 1, &line, version_, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr)),
        LINEERR_RESOURCEUNAVAIL);
    line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    VarBlock name;
    ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, name.Var(), "comm/datamodem"), 0);
    EXPECT_STREQ(name.Data() + 4, "Good line");
}

TEST_F(TapiTest, TranslatesCanonicalAddressesFromTheCurrentLocation)
{
    Register();
    struct Case {
        const char* in;
        const char* dialable;
        DWORD country;
    } cases[] = {
        { "+49 (30) 1234", "1234", 49 },
        { "+49 (40) 1234", "0401234", 49 },
        { "+1 (212) 5550100", "0012125550100", 1 },
        { "t1234", "t1234", 0 },
        { "p1234", "p1234", 0 },
    };
    for (const Case& c : cases) {
        std::vector<char> block(202);
        auto* out = reinterpret_cast<LINETRANSLATEOUTPUT*>(block.data());
        out->dwTotalSize = 202;
        ASSERT_EQ(lineTranslateAddress(app_, 0, version_, c.in, 0, 0, out), 0) << c.in;
        EXPECT_STREQ(block.data() + out->dwDialableStringOffset, c.dialable) << c.in;
        EXPECT_STREQ(block.data() + out->dwDisplayableStringOffset, c.dialable) << c.in;
        EXPECT_EQ(out->dwDestCountry, c.country) << c.in;
    }
    std::vector<char> block(202);
    auto* out = reinterpret_cast<LINETRANSLATEOUTPUT*>(block.data());
    out->dwTotalSize = 202;
    EXPECT_EQ(DWORD(lineTranslateAddress(app_, 0, version_, "+49 (30", 0, 0, out)), LINEERR_INVALADDRESS);
    EXPECT_EQ(DWORD(lineTranslateAddress(app_, 5, version_, "t1", 0, 0, out)), LINEERR_BADDEVICEID);
}

// The simulated exchange runs when nothing else is configured and can be
// switched off; the store decides at the next first use.
TEST_F(TapiTest, TheSimulatedExchangeCanBeSwitchedOff)
{
    RegistryKey(HKEY_LOCAL_MACHINE, zq::sim::kSimulatedKey, true).SetDword("Enabled", 0);
    ASSERT_EQ(lineInitialize(&app_, nullptr, &MessageLog::Callback, nullptr, &numDevs_), 0);
    EXPECT_EQ(numDevs_, 0u);
    ASSERT_EQ(lineShutdown(&app_), 0);
    RegistryKey(HKEY_LOCAL_MACHINE, zq::sim::kSimulatedKey, true).SetDword("Enabled", 1);
    Register();
    EXPECT_EQ(numDevs_, 2u);
    std::vector<char> block(1024);
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
    caps->dwTotalSize = DWORD(block.size());
    ASSERT_EQ(lineGetDevCaps(app_, 0, version_, 0, caps), 0);
    ASSERT_NE(caps->dwProviderInfoSize, 0u);
    EXPECT_STREQ(block.data() + caps->dwProviderInfoOffset, "Simulated exchange");
}
