#include "sapitypes.h"

#include <cstdio>

namespace zq::speech {

std::string DescribeResult(HRESULT hr)
{
    switch (hr) {
    case S_OK:
        return "The operation completed successfully.";
    case S_FALSE:
        return "The operation completed with fewer results than asked for.";
    case E_FAIL:
        return "Unspecified error.";
    case E_POINTER:
        return "Invalid pointer.";
    case E_INVALIDARG:
        return "The parameter is incorrect.";
    case E_OUTOFMEMORY:
        return "Not enough memory resources are available to complete this operation.";
    case SPERR_UNINITIALIZED:
        return "The object has not been properly initialized.";
    case SPERR_ALREADY_INITIALIZED:
        return "The object has already been initialized.";
    case SPERR_UNSUPPORTED_FORMAT:
        return "The caller has specified an unsupported format.";
    case SPERR_INVALID_FLAGS:
        return "The caller has specified invalid flags for this operation.";
    case SPERR_NO_MORE_ITEMS:
        return "No more items were found.";
    case SPERR_NOT_FOUND:
        return "The requested data item was not found.";
    }
    char text[48];
    std::snprintf(text, sizeof text, "Speech engine error 0x%08X.", static_cast<unsigned>(hr));
    return text;
}

SpeechEngineError::SpeechEngineError(HRESULT code, const std::string& description)
    : std::runtime_error(description.empty() ? DescribeResult(code) : description)
    , code_(code)
{
}

SpeechEngineError::SpeechEngineError(HRESULT code)
    : SpeechEngineError(code, DescribeResult(code))
{
}

SpeechEngineError::~SpeechEngineError() = default;

} // namespace zq::speech
