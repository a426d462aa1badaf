#include "spobjecttokencategory.h"

#include "espeakengine_p.h"
#include "voiceorder_p.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

namespace zq::speech {

namespace {

std::u16string Wide(const std::string& utf8)
{
    return QString::fromStdString(utf8).toStdU16String();
}

bool SameText(const std::u16string& a, const std::u16string& b)
{
    return QString::fromStdU16String(a).compare(QString::fromStdU16String(b), Qt::CaseInsensitive) == 0;
}

// "Name=Value;Name" into (name, value) pairs; a bare name only asks for presence.
std::vector<std::pair<std::u16string, std::optional<std::u16string>>> ParseAttributes(const char16_t* text)
{
    std::vector<std::pair<std::u16string, std::optional<std::u16string>>> result;
    if (!text)
        return result;
    const QStringList parts = QString::fromStdU16String(text).split(u';', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const qsizetype eq = part.indexOf(u'=');
        if (eq < 0)
            result.emplace_back(part.trimmed().toStdU16String(), std::nullopt);
        else
            result.emplace_back(
                part.left(eq).trimmed().toStdU16String(), part.mid(eq + 1).trimmed().toStdU16String());
    }
    return result;
}

bool HasAttributes(const SpObjectToken& token, const char16_t* spec)
{
    for (const auto& [name, wanted] : ParseAttributes(spec)) {
        std::u16string value;
        if (token.GetAttribute(name, value) != S_OK)
            return false;
        if (wanted && !SameText(value, *wanted))
            return false;
    }
    return true;
}

} // namespace

std::vector<SpObjectTokenPtr> InstalledVoiceTokens()
{
    std::vector<SpObjectTokenPtr> tokens;
    const std::u16string tokensKey = std::u16string(SPCAT_VOICES) + u"\\Tokens\\";
    std::vector<EngineVoice> voices = EspeakEngine::Instance().Voices();
    OrderForLocale(voices, MessagesLocale());
    for (const EngineVoice& voice : voices) {
        std::map<std::u16string, std::u16string> attributes {
            { u"Name", Wide(voice.name) },
            { u"Language", Wide(voice.language) },
            { u"Vendor", u"eSpeak NG" },
        };
        if (voice.gender == 1)
            attributes[u"Gender"] = u"Male";
        else if (voice.gender == 2)
            attributes[u"Gender"] = u"Female";
        tokens.push_back(std::make_shared<SpObjectToken>(
            tokensKey + Wide(voice.identifier), Wide(voice.name), voice.identifier, std::move(attributes)));
    }
    return tokens;
}

SpObjectTokenCategory::SpObjectTokenCategory()
{
    EspeakEngine::Instance().RequireInstalled();
}

HRESULT SpObjectTokenCategory::SetId(const std::u16string& categoryId, bool createIfNotExist)
{
    if (kind_ != Kind::None)
        return SPERR_ALREADY_INITIALIZED;
    if (SameText(categoryId, SPCAT_VOICES))
        kind_ = Kind::Voices;
    else if (createIfNotExist && !categoryId.empty())
        kind_ = Kind::Empty;
    else
        return SPERR_NOT_FOUND;
    id_ = categoryId;
    return S_OK;
}

HRESULT SpObjectTokenCategory::GetId(std::u16string& categoryId) const
{
    if (kind_ == Kind::None)
        return SPERR_UNINITIALIZED;
    categoryId = id_;
    return S_OK;
}

HRESULT SpObjectTokenCategory::EnumTokens(const char16_t* requiredAttributes,
    const char16_t* optionalAttributes, std::shared_ptr<IEnumSpObjectTokens>& enumTokens)
{
    if (kind_ == Kind::None)
        return SPERR_UNINITIALIZED;
    std::vector<SpObjectTokenPtr> tokens;
    if (kind_ == Kind::Voices) {
        for (auto& token : InstalledVoiceTokens())
            if (HasAttributes(*token, requiredAttributes))
                tokens.push_back(std::move(token));
        if (optionalAttributes)
            std::stable_partition(tokens.begin(), tokens.end(),
                [&](const SpObjectTokenPtr& t) { return HasAttributes(*t, optionalAttributes); });
    }
    enumTokens = std::make_shared<SpObjectTokenEnum>(std::move(tokens));
    return S_OK;
}

} // namespace zq::speech
