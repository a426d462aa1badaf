#include <espeakengine_p.h>
#include <spobjecttokencategory.h>
#include <voiceorder_p.h>

#include <QString>

#include <cstdlib>
#include <gtest/gtest.h>

using namespace zq::speech;

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

TEST(SpObjectTokenCategory, VoicesComeWithReadableNamesInTheUsersOrder)
{
    auto voices = EspeakEngine::Instance().Voices();
    OrderForLocale(voices, MessagesLocale());
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

namespace {

// Restores the locale variables a test changes.
class LocaleVariables {
public:
    LocaleVariables()
    {
        for (const char* name : kNames)
            if (const char* value = std::getenv(name))
                saved_.emplace_back(name, value);
    }
    ~LocaleVariables()
    {
        for (const char* name : kNames)
            unsetenv(name);
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
    }
    void Set(const char* all, const char* messages, const char* lang)
    {
        const char* values[] = { all, messages, lang };
        for (int i = 0; i < 3; ++i)
            if (values[i])
                setenv(kNames[i], values[i], 1);
            else
                unsetenv(kNames[i]);
    }

private:
    static constexpr const char* kNames[] = { "LC_ALL", "LC_MESSAGES", "LANG" };
    std::vector<std::pair<std::string, std::string>> saved_;
};

std::vector<std::string> Names(const std::vector<EngineVoice>& voices)
{
    std::vector<std::string> names;
    for (const auto& v : voices)
        names.push_back(v.name);
    return names;
}

} // namespace

TEST(VoiceOrder, TheUsersCountryThenTheirLanguageThenTheRestByName)
{
    const std::vector<EngineVoice> engine { { "gmw/af", "Afrikaans", "af", 0 },
        { "gmw/de", "German", "de", 0 }, { "gmw/en", "English (Great Britain)", "en-gb", 0 },
        { "gmw/en-GB-scotland", "English (Scotland)", "en-gb-scotland", 0 },
        { "gmw/en-US", "English (America)", "en-us", 0 },
        { "gmw/en-US-nyc", "English (America, New York City)", "en-us-nyc", 0 },
        { "zle/uk", "Ukrainian", "uk", 0 }, { "roa/fr", "French (France)", "fr-fr", 0 },
        { "roa/fr-BE", "French (Belgium)", "fr-be", 0 } };

    auto voices = engine;
    OrderForLocale(voices, "en_US.UTF-8");
    EXPECT_EQ(Names(voices),
        (std::vector<std::string> { "English (America)", "English (America, New York City)",
            "English (Great Britain)", "English (Scotland)", "Afrikaans", "French (Belgium)",
            "French (France)", "German", "Ukrainian" }));

    voices = engine;
    OrderForLocale(voices, "fr_BE@euro");
    EXPECT_EQ(Names(voices)[0], "French (Belgium)");
    EXPECT_EQ(Names(voices)[1], "French (France)");
    EXPECT_EQ(Names(voices)[2], "Afrikaans");

    voices = engine;
    OrderForLocale(voices, "uk");
    EXPECT_EQ(Names(voices)[0], "Ukrainian");

    // No language, or one without a voice: the English voices by name, then
    // the rest by name.
    for (const char* locale : { "", "C", "POSIX", "C.UTF-8", "xx_YY" }) {
        voices = engine;
        OrderForLocale(voices, locale);
        EXPECT_EQ(Names(voices),
            (std::vector<std::string> { "English (America)", "English (America, New York City)",
                "English (Great Britain)", "English (Scotland)", "Afrikaans", "French (Belgium)",
                "French (France)", "German", "Ukrainian" }))
            << locale;
    }

    // Without an English voice either, everything by name.
    std::vector<EngineVoice> noEnglish;
    for (const auto& v : engine)
        if (v.language.rfind("en", 0) != 0)
            noEnglish.push_back(v);
    OrderForLocale(noEnglish, "C");
    EXPECT_EQ(Names(noEnglish),
        (std::vector<std::string> {
            "Afrikaans", "French (Belgium)", "French (France)", "German", "Ukrainian" }));
}

TEST(VoiceOrder, TheInstalledVoicesFollowTheLocaleOfMessages)
{
    LocaleVariables locale;
    locale.Set(nullptr, nullptr, "en_US.UTF-8");
    EXPECT_EQ(MessagesLocale(), "en_US.UTF-8");
    ASSERT_GT(InstalledVoiceTokens().size(), 2u);
    auto first = [] {
        std::u16string name;
        InstalledVoiceTokens().front()->GetStringValue(nullptr, name);
        return QString::fromStdU16String(name).toStdString();
    };
    EXPECT_EQ(first(), "English (America)");

    // LC_MESSAGES outranks LANG, and LC_ALL outranks both.
    locale.Set(nullptr, "de_DE.UTF-8", "en_US.UTF-8");
    EXPECT_EQ(first(), "German");
    locale.Set("en_GB.UTF-8", "de_DE.UTF-8", "en_US.UTF-8");
    EXPECT_EQ(first(), "English (Great Britain)");
    locale.Set(nullptr, nullptr, "C");
    EXPECT_EQ(first(), "English (America)");
    locale.Set(nullptr, nullptr, nullptr);
    EXPECT_EQ(MessagesLocale(), "");
    EXPECT_EQ(first(), "English (America)");
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
