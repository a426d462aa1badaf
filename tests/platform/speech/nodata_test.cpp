#include <spobjecttokencategory.h>
#include <spvoice.h>

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace sapi;

TEST(SpeechEngineWithoutData, ListsNoVoicesAndFailsToSpeakCleanly)
{
    char pattern[] = "/tmp/zqspeech-nodata-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    // Before the first use of the engine in this process.
    setenv("ZQ_ESPEAK_DATA", pattern, 1);

    SpObjectTokenCategory category;
    ASSERT_EQ(category.SetId(SPCAT_VOICES, false), S_OK);
    std::shared_ptr<IEnumSpObjectTokens> tokens;
    ASSERT_EQ(category.EnumTokens(nullptr, nullptr, tokens), S_OK);
    uint32_t count = 1;
    EXPECT_EQ(tokens->GetCount(&count), S_OK);
    EXPECT_EQ(count, 0u);

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
