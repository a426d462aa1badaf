#include "zqsapi.h"

#include <new>

namespace zq::audio {

HRESULT GetTokenCategory(
    const std::u16string& CategoryId, std::shared_ptr<SpObjectTokenCategory>& Category, bool CreateIfNotExist)
{
    try {
        Category = std::make_shared<SpObjectTokenCategory>();
    } catch (const std::bad_alloc&) {
        throw zq::speech::SpeechEngineError(zq::speech::E_OUTOFMEMORY);
    }
    return Category->SetId(CategoryId, CreateIfNotExist);
}

HRESULT EnumTokens(const std::u16string& CategoryId, const char16_t* RequiredAttributes,
    const char16_t* OptionalAttributes, std::shared_ptr<IEnumSpObjectTokens>& Enum)
{
    std::shared_ptr<SpObjectTokenCategory> category;
    HRESULT result = GetTokenCategory(CategoryId, category, false);
    if (result == zq::speech::S_OK)
        result = category->EnumTokens(RequiredAttributes, OptionalAttributes, Enum);
    return result;
}

} // namespace zq::audio
