#pragma once
// Result codes, flags and the error type shared by the speech objects. The
// names follow the speech API the telephony code was written against, so the
// code that drives the engine reads the same here.
#include "zqspeechengine_export.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zq::speech {

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT SPERR_UNINITIALIZED = static_cast<HRESULT>(0x80045001u);
constexpr HRESULT SPERR_ALREADY_INITIALIZED = static_cast<HRESULT>(0x80045002u);
constexpr HRESULT SPERR_UNSUPPORTED_FORMAT = static_cast<HRESULT>(0x80045003u);
constexpr HRESULT SPERR_INVALID_FLAGS = static_cast<HRESULT>(0x80045004u);
constexpr HRESULT SPERR_NO_MORE_ITEMS = static_cast<HRESULT>(0x80045039u);
constexpr HRESULT SPERR_NOT_FOUND = static_cast<HRESULT>(0x8004503Au);

inline bool Succeeded(HRESULT hr)
{
    return hr >= 0;
}
inline bool Failed(HRESULT hr)
{
    return hr < 0;
}

// Text of a result code, for failures the engine did not describe itself.
ZQSPEECHENGINE_EXPORT std::string DescribeResult(HRESULT hr);

// Raised by every failing call of the voice, stream and format objects. The
// token category and its enumerators return result codes instead, because
// callers branch on them (end of enumeration, unknown category).
class ZQSPEECHENGINE_EXPORT SpeechEngineError : public std::runtime_error {
public:
    SpeechEngineError(HRESULT code, const std::string& description);
    explicit SpeechEngineError(HRESULT code);
    // Out of line, so the vtable and typeinfo live in the engine library alone.
    ~SpeechEngineError() override;
    HRESULT Code() const { return code_; }

private:
    HRESULT code_;
};

enum SpeechVoiceSpeakFlags : int32_t {
    SVSFDefault = 0,
    SVSFlagsAsync = 1,
    SVSFPurgeBeforeSpeak = 2,
    SVSFIsFilename = 4,
    SVSFIsXML = 8,
    SVSFIsNotXML = 16,
};

enum SpeechStreamSeekPositionType : int32_t {
    SSSPTRelativeToStart = 0,
    SSSPTRelativeToCurrentPosition = 1,
    SSSPTRelativeToEnd = 2,
};

constexpr int32_t WAVE_FORMAT_PCM = 1;

// Category of the installed voices, as the speech API names it.
inline constexpr char16_t SPCAT_VOICES[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";

} // namespace zq::speech
