// The installed voices of the speech component: enumerated once at
// construction, chosen by index, handed to the engine as a token.
#include "zqspeech.h"

#include <QString>

void TzqSpeech::LoadVoices()
{
    voices_.Clear();
    tokens_.reset();
    if (zq::audio::EnumTokens(zq::audio::VoicesCategory, nullptr, nullptr, tokens_) != zq::speech::S_OK) {
        tokens_.reset();
        return;
    }
    uint32_t count = 0;
    if (tokens_->GetCount(&count) != zq::speech::S_OK)
        return;
    for (;;) {
        zq::speech::SpObjectTokenPtr token;
        if (tokens_->Next(1, &token, nullptr) != zq::speech::S_OK || !token)
            break;
        std::u16string name;
        token->GetStringValue(nullptr, name);
        voices_.Add(QString::fromStdU16String(name).toStdString());
    }
}

std::string TzqSpeech::VoiceName(int Index) const
{
    if (Index < 0 || Index >= VoiceCount())
        return {};
    return voices_.Strings(Index);
}

void TzqSpeech::SelectVoice(int Index)
{
    voiceIndex_ = (Index >= 0 && Index < VoiceCount()) ? Index : 0;
}

zq::speech::SpObjectTokenPtr TzqSpeech::VoiceToken() const
{
    if (!tokens_ || voiceIndex_ < 0 || voiceIndex_ >= VoiceCount())
        return nullptr;
    zq::speech::SpObjectTokenPtr token;
    if (tokens_->Item(static_cast<uint32_t>(voiceIndex_), token) != zq::speech::S_OK)
        return nullptr;
    return token;
}
