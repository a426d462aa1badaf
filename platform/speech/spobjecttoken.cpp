#include "spobjecttoken.h"

#include <algorithm>

namespace zq::speech {

SpObjectToken::SpObjectToken(std::u16string id, std::u16string displayName, std::string engineVoice,
    std::map<std::u16string, std::u16string> attributes)
    : id_(std::move(id))
    , displayName_(std::move(displayName))
    , engineVoice_(std::move(engineVoice))
    , attributes_(std::move(attributes))
{
}

HRESULT SpObjectToken::GetId(std::u16string& id) const
{
    id = id_;
    return S_OK;
}

HRESULT SpObjectToken::GetStringValue(const char16_t* valueName, std::u16string& value) const
{
    if (!valueName || !*valueName) {
        value = displayName_;
        return S_OK;
    }
    return GetAttribute(valueName, value);
}

HRESULT SpObjectToken::GetAttribute(const std::u16string& name, std::u16string& value) const
{
    const auto it = attributes_.find(name);
    if (it == attributes_.end())
        return SPERR_NOT_FOUND;
    value = it->second;
    return S_OK;
}

SpObjectTokenEnum::SpObjectTokenEnum(std::vector<SpObjectTokenPtr> tokens)
    : tokens_(std::move(tokens))
{
}

HRESULT SpObjectTokenEnum::Next(uint32_t count, SpObjectTokenPtr* tokens, uint32_t* fetched)
{
    if (!tokens || (!fetched && count != 1))
        return E_POINTER;
    uint32_t n = 0;
    while (n < count && position_ < tokens_.size())
        tokens[n++] = tokens_[position_++];
    if (fetched)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT SpObjectTokenEnum::Skip(uint32_t count)
{
    const size_t left = tokens_.size() - position_;
    position_ += std::min<size_t>(left, count);
    return count <= left ? S_OK : S_FALSE;
}

HRESULT SpObjectTokenEnum::Reset()
{
    position_ = 0;
    return S_OK;
}

HRESULT SpObjectTokenEnum::Clone(std::shared_ptr<IEnumSpObjectTokens>& clone) const
{
    auto copy = std::make_shared<SpObjectTokenEnum>(tokens_);
    copy->position_ = position_;
    clone = std::move(copy);
    return S_OK;
}

HRESULT SpObjectTokenEnum::Item(uint32_t index, SpObjectTokenPtr& token) const
{
    if (index >= tokens_.size())
        return SPERR_NO_MORE_ITEMS;
    token = tokens_[index];
    return S_OK;
}

HRESULT SpObjectTokenEnum::GetCount(uint32_t* count) const
{
    if (!count)
        return E_POINTER;
    *count = static_cast<uint32_t>(tokens_.size());
    return S_OK;
}

} // namespace zq::speech
