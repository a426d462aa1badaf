#include <spobjecttokencategory.h>
#include <spvoice.h>

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace zq::speech;

// A machine without the engine's data: the engine cannot start, so no token
// category can be made, and the error says what to install.
TEST(SpeechEngineWithoutData, CategoriesCannotBeMadeAndSpeakingFailsCleanly)
{
    char pattern[] = "/tmp/zqspeech-nodata-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    // Before the first use of the engine in this process.
    setenv("ZQ_ESPEAK_DATA", pattern, 1);

    for (int attempt = 0; attempt < 2; ++attempt) { // every attempt, not only the first
        try {
            SpObjectTokenCategory category;
            FAIL() << "a category was made without the engine";
        } catch (const SpeechEngineError& e) {
            EXPECT_EQ(e.Code(), REGDB_E_CLASSNOTREG);
            const std::string text = e.what();
            EXPECT_NE(text.find("espeak-ng-data"), std::string::npos) << text;
            EXPECT_NE(text.find("libespeak-ng1"), std::string::npos) << text;
        }
    }

    auto stream = std::make_shared<SpMemoryStream>();
    SpVoice voice;
    voice.putref_AudioOutputStream(stream);
    voice.Speak("Hello.", SVSFlagsAsync);
    try {
        voice.WaitUntilDone(-1);
        FAIL() << "rendered without voice data";
    } catch (const SpeechEngineError& e) {
        EXPECT_NE(std::string(e.what()).find(pattern), std::string::npos) << e.what();
    }
    EXPECT_TRUE(stream->GetData().empty());
    std::filesystem::remove(pattern);
}
