#include <zqsapi.h>

#include <QString>
#include <gtest/gtest.h>

using namespace zq::speech;

TEST(ZqSapi, VoicesCategoryIsTheSpeechPlatformsVoiceKey)
{
    EXPECT_EQ(zq::audio::VoicesCategory, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices");
    EXPECT_EQ(zq::audio::VoicesCategory.size(), 51u);
}

TEST(ZqSapi, GetTokenCategoryReturnsTheResultOfSettingTheId)
{
    std::shared_ptr<SpObjectTokenCategory> category;
    EXPECT_EQ(zq::audio::GetTokenCategory(zq::audio::VoicesCategory, category, false), S_OK);
    ASSERT_TRUE(category);
    std::u16string id;
    EXPECT_EQ(category->GetId(id), S_OK);
    EXPECT_EQ(id, zq::audio::VoicesCategory);

    const std::u16string unknown = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Nowhere";
    EXPECT_EQ(zq::audio::GetTokenCategory(unknown, category, false), SPERR_NOT_FOUND);
    EXPECT_EQ(zq::audio::GetTokenCategory(unknown, category, true), S_OK);

    std::shared_ptr<IEnumSpObjectTokens> tokens;
    EXPECT_EQ(zq::audio::EnumTokens(unknown, nullptr, nullptr, tokens), SPERR_NOT_FOUND);
    EXPECT_FALSE(tokens);
}

// The speech component's use: list the voices once, then render the chosen
// one into a telephone-format memory stream and read it back.
TEST(ZqSapi, VoiceListAndRenderingAsTheSpeechComponentUsesThem)
{
    std::shared_ptr<IEnumSpObjectTokens> enumerator;
    ASSERT_EQ(zq::audio::EnumTokens(zq::audio::VoicesCategory, nullptr, nullptr, enumerator), 0);
    uint32_t count = 0;
    ASSERT_EQ(enumerator->GetCount(&count), 0);
    std::vector<std::string> voices;
    SpObjectTokenPtr token;
    HRESULT next;
    while ((next = enumerator->Next(1, &token, nullptr)) == 0) {
        std::u16string name;
        ASSERT_EQ(token->GetStringValue(nullptr, name), 0);
        voices.push_back(QString::fromStdU16String(name).toStdString());
    }
    EXPECT_EQ(next, 1);
    ASSERT_EQ(voices.size(), count);
    const auto english = std::find(voices.begin(), voices.end(), "English (America)");
    ASSERT_NE(english, voices.end());
    ASSERT_EQ(enumerator->Item(static_cast<uint32_t>(english - voices.begin()), token), 0);

    auto voice = std::make_shared<SpVoice>();
    auto stream = std::make_shared<SpMemoryStream>();
    auto wave = stream->get_Format()->GetWaveFormatEx();
    wave->put_FormatTag(1);
    wave->put_Channels(1);
    wave->put_SamplesPerSec(8000);
    wave->put_BitsPerSample(16);
    wave->put_BlockAlign(wave->get_Channels() * (wave->get_BitsPerSample() / 8));
    wave->put_AvgBytesPerSec(wave->get_BlockAlign() * wave->get_SamplesPerSec());
    EXPECT_EQ(wave->get_BlockAlign(), 2);
    EXPECT_EQ(wave->get_AvgBytesPerSec(), 16000);
    stream->get_Format()->SetWaveFormatEx(wave);
    EXPECT_EQ(stream->Seek(0, SSSPTRelativeToStart), 0);

    voice->putref_AudioOutputStream(stream);
    voice->putref_Voice(token);
    voice->put_Rate(0);
    voice->put_Volume(50);
    voice->Speak("Speech demo program.\n", SVSFlagsAsync);
    EXPECT_TRUE(voice->WaitUntilDone(-1));

    const int64_t length = stream->Seek(0, SSSPTRelativeToEnd);
    EXPECT_GT(length, 8000); // over half a second of speech at 16000 bytes a second
    EXPECT_EQ(length % 2, 0);
    EXPECT_EQ(stream->Seek(0, SSSPTRelativeToStart), 0);

    std::vector<uint8_t> buffer;
    int64_t total = 0;
    int32_t read;
    while ((read = stream->Read(buffer, 16000)) > 0)
        total += read;
    EXPECT_EQ(total, length);
}
