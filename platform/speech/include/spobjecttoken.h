#pragma once
// Voice tokens and their enumeration. Like the speech API's own token
// interfaces these return result codes: S_FALSE is the ordinary end of an
// enumeration, not a failure.
#include "sapitypes.h"
#include "zqspeechengine_export.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zq::speech {

// One installed voice: its display name (the default value), attributes
// such as Language, Gender, Vendor and Name, and the engine's own identifier.
class ZQSPEECHENGINE_EXPORT SpObjectToken {
public:
    SpObjectToken(std::u16string id, std::u16string displayName, std::string engineVoice,
        std::map<std::u16string, std::u16string> attributes = {});

    HRESULT GetId(std::u16string& id) const;
    // A null or empty valueName reads the default value, the display name.
    HRESULT GetStringValue(const char16_t* valueName, std::u16string& value) const;
    HRESULT GetAttribute(const std::u16string& name, std::u16string& value) const;

    // What the engine selects the voice by.
    const std::string& EngineVoice() const { return engineVoice_; }

private:
    std::u16string id_;
    std::u16string displayName_;
    std::string engineVoice_;
    std::map<std::u16string, std::u16string> attributes_;
};

using SpObjectTokenPtr = std::shared_ptr<SpObjectToken>;

class ZQSPEECHENGINE_EXPORT IEnumSpObjectTokens {
public:
    virtual ~IEnumSpObjectTokens() = default;
    // Fetches up to count tokens from the current position into tokens[0..];
    // S_OK when all were fetched, S_FALSE when the end came first. fetched may
    // be null only when count is 1.
    virtual HRESULT Next(uint32_t count, SpObjectTokenPtr* tokens, uint32_t* fetched) = 0;
    virtual HRESULT Skip(uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(std::shared_ptr<IEnumSpObjectTokens>& clone) const = 0;
    // By index, independent of the position; SPERR_NO_MORE_ITEMS when out of range.
    virtual HRESULT Item(uint32_t index, SpObjectTokenPtr& token) const = 0;
    virtual HRESULT GetCount(uint32_t* count) const = 0;
};

// An enumerator over a fixed list of tokens.
class ZQSPEECHENGINE_EXPORT SpObjectTokenEnum final : public IEnumSpObjectTokens {
public:
    explicit SpObjectTokenEnum(std::vector<SpObjectTokenPtr> tokens);

    HRESULT Next(uint32_t count, SpObjectTokenPtr* tokens, uint32_t* fetched) override;
    HRESULT Skip(uint32_t count) override;
    HRESULT Reset() override;
    HRESULT Clone(std::shared_ptr<IEnumSpObjectTokens>& clone) const override;
    HRESULT Item(uint32_t index, SpObjectTokenPtr& token) const override;
    HRESULT GetCount(uint32_t* count) const override;

private:
    std::vector<SpObjectTokenPtr> tokens_;
    size_t position_ = 0;
};

} // namespace zq::speech
