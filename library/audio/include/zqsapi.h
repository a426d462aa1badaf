#pragma once
// The speech objects the audio components use, and the enumeration of a
// token category's tokens (the installed voices).
#include <spaudioformat.h>
#include <spmemorystream.h>
#include <spobjecttoken.h>
#include <spobjecttokencategory.h>
#include <spvoice.h>

#include <memory>
#include <string>

namespace zq::audio {

using zq::speech::HRESULT;
using zq::speech::IEnumSpObjectTokens;
using zq::speech::SpObjectTokenCategory;

// Category identifier of the installed voices.
inline const std::u16string VoicesCategory = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";

// Creates a token category and sets its identifier; returns SetId's result
// (0 on success). Category is set even when SetId fails. Throws
// zq::speech::SpeechEngineError when the category object cannot be created.
HRESULT GetTokenCategory(const std::u16string& CategoryId, std::shared_ptr<SpObjectTokenCategory>& Category,
    bool CreateIfNotExist);

// Enumerates the tokens of an existing category; null attributes select all.
// Returns 0 on success, the failing step's result otherwise.
HRESULT EnumTokens(const std::u16string& CategoryId, const char16_t* RequiredAttributes,
    const char16_t* OptionalAttributes, std::shared_ptr<IEnumSpObjectTokens>& Enum);

} // namespace zq::audio
