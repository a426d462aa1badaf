// The binding loads the service by name at each call, answers -1 without
// it, releases it on lineShutdown, and finds error texts by identifier.
#include "zqtapi.h"

#include <cstdlib>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

namespace {

class Binding : public ::testing::Test {
protected:
    void TearDown() override
    {
        unsetenv("ZQ_TAPI_LIBRARY");
        unsetenv("ZQ_TAPIUI_LIBRARY");
        unsetenv("ZQ_REGISTRY_FILE");
    }
    static bool Loaded(const char* path)
    {
        void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
        if (h)
            dlclose(h);
        return h != nullptr;
    }
};

void NoMessages(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) { }

} // namespace

TEST_F(Binding, WithoutTheLibraryEveryOperationAnswersMinusOneAndKeepsTrying)
{
    setenv("ZQ_TAPI_LIBRARY", "/nonexistent/libtapi32.so", 1);
    HLINEAPP app = 5;
    DWORD n = 9;
    EXPECT_EQ(lineInitialize(&app, nullptr, NoMessages, nullptr, &n), -1);
    EXPECT_EQ(app, 5u) << "nothing was called";
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(lineShutdown(&app), -1);
    EXPECT_EQ(app, 5u);
    EXPECT_EQ(lineOpen(1, 0, nullptr, 0, 0, 0, 1, 0, nullptr), -1);
    EXPECT_EQ(lineGetID(1, 0, 0, 1, nullptr, "comm/datamodem"), -1);
    EXPECT_EQ(lineMakeCall(1, nullptr, "1", 0, nullptr), -1);
    EXPECT_EQ(lineGetDevConfig(0, nullptr, "comm/datamodem"), -1);
    EXPECT_EQ(lineConfigDialog(0, nullptr, "comm/datamodem"), -1);

    // The next call tries again, and finds the library once it is there.
    setenv("ZQ_TAPI_LIBRARY", ZQ_FAKE_SERVICE, 1);
    EXPECT_EQ(lineInitialize(&app, nullptr, NoMessages, nullptr, &n), 0);
    EXPECT_EQ(app, 77u);
    EXPECT_EQ(n, 3u);
    // An entry point the library lacks answers -1 too.
    EXPECT_EQ(lineOpen(app, 0, nullptr, 0, 0, 0, 1, 0, nullptr), -1);
    EXPECT_EQ(lineShutdown(&app), 0);
    EXPECT_EQ(app, 0u);
}

TEST_F(Binding, ShutdownReleasesTheLibraryAndTheNextCallLoadsItAgain)
{
    setenv("ZQ_TAPI_LIBRARY", ZQ_FAKE_SERVICE, 1);
    HLINEAPP app = 0;
    DWORD n = 0;
    ASSERT_EQ(lineInitialize(&app, nullptr, NoMessages, nullptr, &n), 0);
    EXPECT_TRUE(Loaded(ZQ_FAKE_SERVICE));
    lineShutdown(&app);
    EXPECT_EQ(app, 0u);
    EXPECT_FALSE(Loaded(ZQ_FAKE_SERVICE));
    ASSERT_EQ(lineInitialize(&app, nullptr, NoMessages, nullptr, &n), 0);
    EXPECT_TRUE(Loaded(ZQ_FAKE_SERVICE));
    // The application handle is cleared whatever the service answered.
    HLINEAPP wrong = 12;
    EXPECT_LT(lineShutdown(&wrong), 0);
    EXPECT_EQ(wrong, 0u);
    EXPECT_FALSE(Loaded(ZQ_FAKE_SERVICE));
}

TEST_F(Binding, TheRealServiceIsFoundNextToTheProgram)
{
    // The service keeps its lines in the registry: a store of the test's own.
    char dir[] = "/tmp/zqtapi-binding-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    setenv("ZQ_REGISTRY_FILE", (std::string(dir) + "/registry.json").c_str(), 1);
    HLINEAPP app = 0;
    DWORD n = 0;
    ASSERT_EQ(lineInitialize(&app, nullptr, NoMessages, nullptr, &n), 0);
    EXPECT_NE(app, 0u);
    EXPECT_EQ(lineShutdown(&app), 0);
}

TEST(BindingErrorText, MessageIdentifiersFollowTheCodesTopBits)
{
    EXPECT_EQ(zq::telephony::TAPIErrorMessageId(0x80000001), 0xE001u);
    EXPECT_EQ(zq::telephony::TAPIErrorMessageId(0x8000004D), 0xE04Du);
    EXPECT_EQ(zq::telephony::TAPIErrorMessageId(0x80000048), 0xE048u);
    EXPECT_EQ(zq::telephony::TAPIErrorMessageId(0x90000002), 0xF002u);
    EXPECT_EQ(zq::telephony::TAPIErrorMessageId(0xFFFFFFFF), 0xFFFF0000u);
    EXPECT_EQ(zq::telephony::TAPIErrorMessageId(0), 0u);
    EXPECT_EQ(zq::telephony::TAPIErrorMessageId(0x00012345), 0x00010000u);
}

TEST(BindingErrorText, TextsComeFromTheErrorLibraryOnceItLoads)
{
    setenv("ZQ_TAPIUI_LIBRARY", "/nonexistent/libtapiui.so", 1);
    EXPECT_EQ(TAPIErrorText(0x80000048), "Unknown error. Can't load tapiui.dll");
    unsetenv("ZQ_TAPIUI_LIBRARY");
    EXPECT_EQ(TAPIErrorText(0x80000048), "The operation failed.");
    EXPECT_EQ(TAPIErrorText(0x8000004D), "The structure is too small for the information.");
    EXPECT_EQ(TAPIErrorText(0xFFFFFFFF), "") << "-1 names no message";
    EXPECT_EQ(TAPIErrorText(0), "");
    EXPECT_EQ(TAPIErrorText(0x90000002), "") << "no phone texts";
    // Loaded once, the library stays: a later bad path does not matter.
    setenv("ZQ_TAPIUI_LIBRARY", "/nonexistent/libtapiui.so", 1);
    EXPECT_EQ(TAPIErrorText(0x80000002), "The line device identifier is not valid.");
    unsetenv("ZQ_TAPIUI_LIBRARY");
}
