#include "voiceorder_p.h"

#include <QString>

#include <algorithm>
#include <cstdlib>

namespace zq::speech {

namespace {

constexpr const char* kFallbackLanguage = "en";

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// 0 the user's language and country, 1 a regional form of that (e.g.
// "en-us-nyc"), 2 the same language elsewhere, 3 any other voice.
int Closeness(const std::string& voiceLanguage, const std::string& language, const std::string& country)
{
    if (language.empty())
        return 3;
    const std::string voice = Lower(voiceLanguage);
    const std::string both = country.empty() ? language : language + "-" + country;
    if (voice == both)
        return 0;
    if (StartsWith(voice, both + "-"))
        return 1;
    if (voice == language || StartsWith(voice, language + "-"))
        return 2;
    return 3;
}

} // namespace

std::string MessagesLocale()
{
    for (const char* name : { "LC_ALL", "LC_MESSAGES", "LANG" })
        if (const char* value = std::getenv(name); value && *value)
            return value;
    return {};
}

void OrderForLocale(std::vector<EngineVoice>& voices, const std::string& locale)
{
    // language[_COUNTRY][.charset][@modifier]; "C" and "POSIX" name no language.
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    std::string language = Lower(name.substr(0, name.find('_')));
    std::string country = name.find('_') == std::string::npos ? "" : Lower(name.substr(name.find('_') + 1));
    if (language == "c" || language == "posix")
        language.clear();
    // A locale that names no language, or one no voice speaks, says nothing
    // of what the user reads; English is the likeliest language of the text
    // then (the program's own memo is English), and a better first voice
    // than whichever language code sorts first.
    const bool spoken = std::any_of(voices.begin(), voices.end(),
        [&](const EngineVoice& v) { return Closeness(v.language, language, country) < 3; });
    if (!spoken) {
        language = kFallbackLanguage;
        country.clear();
    }

    std::stable_sort(voices.begin(), voices.end(), [&](const EngineVoice& a, const EngineVoice& b) {
        const int ca = Closeness(a.language, language, country);
        const int cb = Closeness(b.language, language, country);
        if (ca != cb)
            return ca < cb;
        return QString::fromStdString(a.name).compare(QString::fromStdString(b.name), Qt::CaseInsensitive)
            < 0;
    });
}

} // namespace zq::speech
