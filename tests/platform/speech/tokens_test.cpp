#include <espeakengine_p.h>
#include <spobjecttokencategory.h>

#include <QString>
#include <gtest/gtest.h>

using namespace sapi;

namespace {

std::shared_ptr<IEnumSpObjectTokens> Enumerate(
    const char16_t* required = nullptr, const char16_t* optional = nullptr)
{
    SpObjectTokenCategory category;
    EXPECT_EQ(category.SetId(SPCAT_VOICES, false), S_OK);
    std::shared_ptr<IEnumSpObjectTokens> tokens;
    EXPECT_EQ(category.EnumTokens(required, optional, tokens), S_OK);
    return tokens;
}

std::string DisplayName(const SpObjectToken& token)
{
    std::u16string name;
    EXPECT_EQ(token.GetStringValue(nullptr, name), S_OK);
    return QString::fromStdU16String(name).toStdString();
}

} // namespace

TEST(SpObjectTokenCategory, VoicesComeWithReadableNamesInTheEngineOrder)
{
    const auto voices = EspeakEngine::Instance().Voices();
    ASSERT_FALSE(voices.empty());
    auto tokens = Enumerate();
    uint32_t count = 0;
    ASSERT_EQ(tokens->GetCount(&count), S_OK);
    ASSERT_EQ(count, voices.size());

    std::vector<std::string> names;
    SpObjectTokenPtr token;
    while (tokens->Next(1, &token, nullptr) == S_OK) {
        EXPECT_EQ(token->EngineVoice(), voices[names.size()].identifier);
        names.push_back(DisplayName(*token));
        EXPECT_FALSE(names.back().empty());
        EXPECT_EQ(names.back().find('_'), std::string::npos) << names.back();
    }
    EXPECT_EQ(names.size(), count);
    EXPECT_NE(std::find(names.begin(), names.end(), "English (America)"), names.end());

    // Item reads by index whatever the position, and stops at the count.
    ASSERT_EQ(tokens->Item(count - 1, token), S_OK);
    EXPECT_EQ(DisplayName(*token), names.back());
    EXPECT_EQ(tokens->Item(count, token), SPERR_NO_MORE_ITEMS);
}

TEST(SpObjectTokenCategory, AttributesFilterAndOrderTheVoices)
{
    auto american = Enumerate(u"Language=EN-US;Vendor");
    uint32_t count = 0;
    american->GetCount(&count);
    ASSERT_EQ(count, 1u);
    SpObjectTokenPtr token;
    american->Item(0, token);
    EXPECT_EQ(DisplayName(*token), "English (America)");

    auto preferred = Enumerate(nullptr, u"Language=de");
    preferred->Item(0, token);
    EXPECT_EQ(DisplayName(*token), "German");
    EXPECT_EQ(Enumerate(u"Language=xx-nowhere")->GetCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST(SpObjectTokenCategory, UnknownCategoryIsNotFoundUnlessCreated)
{
    SpObjectTokenCategory unknown;
    std::shared_ptr<IEnumSpObjectTokens> tokens;
    EXPECT_EQ(unknown.EnumTokens(nullptr, nullptr, tokens), SPERR_UNINITIALIZED);
    EXPECT_EQ(unknown.SetId(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Nowhere", false), SPERR_NOT_FOUND);

    SpObjectTokenCategory created;
    ASSERT_EQ(created.SetId(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Nowhere", true), S_OK);
    EXPECT_EQ(created.SetId(SPCAT_VOICES, false), SPERR_ALREADY_INITIALIZED);
    ASSERT_EQ(created.EnumTokens(nullptr, nullptr, tokens), S_OK);
    uint32_t count = 1;
    tokens->GetCount(&count);
    EXPECT_EQ(count, 0u);

    SpObjectTokenCategory anyCase;
    EXPECT_EQ(anyCase.SetId(u"hkey_local_machine\\software\\microsoft\\speech\\voices", false), S_OK);
}

TEST(SpObjectTokenEnum, NextFetchesInBatchesAndReportsTheShortfall)
{
    std::vector<SpObjectTokenPtr> list;
    for (const char16_t* name : { u"a", u"b", u"c" })
        list.push_back(std::make_shared<SpObjectToken>(name, name, ""));
    SpObjectTokenEnum tokens(list);
    SpObjectTokenPtr batch[2];
    uint32_t fetched = 0;
    EXPECT_EQ(tokens.Next(2, batch, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(tokens.Next(2, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(batch[0], list[2]);
    EXPECT_EQ(tokens.Next(2, batch, nullptr), E_POINTER);
    EXPECT_EQ(tokens.Reset(), S_OK);
    EXPECT_EQ(tokens.Skip(4), S_FALSE);
    EXPECT_EQ(tokens.Next(1, batch, nullptr), S_FALSE);
}
