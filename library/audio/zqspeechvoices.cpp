// The installed voices of the speech component: enumerated once at
// construction, chosen by index, handed to the engine as a token.
#include "zqspeech.h"

#include <QString>

void TzqSpeech::LoadVoices()
{
    voices_.Clear();
    tokens_.reset();
    if (zq::audio::EnumTokens(zq::audio::VoicesCategory, nullptr, nullptr, tokens_) != sapi::S_OK) {
        tokens_.reset();
        return;
    }
    uint32_t count = 0;
    if (tokens_->GetCount(&count) != sapi::S_OK)
        return;
    for (;;) {
        sapi::SpObjectTokenPtr token;
        if (tokens_->Next(1, &token, nullptr) != sapi::S_OK || !token)
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

sapi::SpObjectTokenPtr TzqSpeech::VoiceToken() const
{
    if (!tokens_ || voiceIndex_ < 0 || voiceIndex_ >= VoiceCount())
        return nullptr;
    sapi::SpObjectTokenPtr token;
    if (tokens_->Item(static_cast<uint32_t>(voiceIndex_), token) != sapi::S_OK)
        return nullptr;
    return token;
}
