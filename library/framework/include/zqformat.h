#pragma once
// The framework's format function: Format("%s has %d", {name, count}).
// Supports %d %u %x %X %s %f %e %g and %%, with optional "-", width and
// precision ("%2X" is two hexadecimal digits, space-filled). Negative values
// under %u and %x show as their 32-bit two's complement, as the log lines
// of the library expect for TAPI results.
#include "zqclasses_export.h"
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

class ZQCLASSES_EXPORT TVarRec {
public:
    enum class Kind { Signed, Unsigned, Float, String };

    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
    TVarRec(T v)
        : kind_(Kind::Signed)
        , signed_(v)
    {
    }
    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
    TVarRec(T v)
        : kind_(Kind::Unsigned)
        , unsigned_(v)
    {
    }
    TVarRec(double v)
        : kind_(Kind::Float)
        , float_(v)
    {
    }
    TVarRec(const char* s)
        : kind_(Kind::String)
        , string_(s ? s : "")
    {
    }
    TVarRec(std::string s)
        : kind_(Kind::String)
        , string_(std::move(s))
    {
    }

    Kind kind() const { return kind_; }
    int64_t AsSigned() const;
    uint64_t AsUnsigned() const;
    double AsFloat() const;
    const std::string& AsString() const { return string_; }

private:
    Kind kind_;
    int64_t signed_ = 0;
    uint64_t unsigned_ = 0;
    double float_ = 0;
    std::string string_;
};

using TVarRecs = std::vector<TVarRec>;

// Raised for a format that does not match its arguments.
class ZQCLASSES_EXPORT EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

ZQCLASSES_EXPORT std::string Format(const std::string& fmt, const TVarRecs& args);
