#pragma once
// A token category: once given its identifier it enumerates the tokens of
// that category. The voices category lists the engine's installed voices.
#include "spobjecttoken.h"
#include "zqspeechengine_export.h"

#include <memory>
#include <string>

namespace zq::speech {

class ZQSPEECHENGINE_EXPORT SpObjectTokenCategory {
public:
    // Raises SpeechEngineError when the speech engine is not installed or
    // cannot start, as creating the category fails without a speech platform.
    SpObjectTokenCategory();

    // SPERR_NOT_FOUND for an unknown category unless createIfNotExist, which
    // makes an empty one; SPERR_ALREADY_INITIALIZED when set before.
    // Category identifiers compare without regard to case.
    HRESULT SetId(const std::u16string& categoryId, bool createIfNotExist);
    HRESULT GetId(std::u16string& categoryId) const;

    // Tokens having every required attribute ("Name=Value;Name", null for
    // all), those having the optional ones first, otherwise in the engine's
    // order. SPERR_UNINITIALIZED before SetId.
    HRESULT EnumTokens(const char16_t* requiredAttributes, const char16_t* optionalAttributes,
        std::shared_ptr<IEnumSpObjectTokens>& enumTokens);

private:
    enum class Kind { None, Voices, Empty };
    Kind kind_ = Kind::None;
    std::u16string id_;
};

// Tokens of the installed voices, the user's language first (see voiceorder_p.h).
ZQSPEECHENGINE_EXPORT std::vector<SpObjectTokenPtr> InstalledVoiceTokens();

} // namespace zq::speech
