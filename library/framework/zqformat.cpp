#include "zqformat.h"

#include <algorithm>
#include <cstdio>

int64_t TVarRec::AsSigned() const
{
    switch (kind_) {
    case Kind::Signed:
        return signed_;
    case Kind::Unsigned:
        return static_cast<int64_t>(unsigned_);
    default:
        throw EConvertError("Format: argument is not an integer");
    }
}

uint64_t TVarRec::AsUnsigned() const
{
    switch (kind_) {
    case Kind::Unsigned:
        return unsigned_;
    case Kind::Signed:
        // A negative 32-bit value shows as its unsigned 32-bit pattern.
        if (signed_ < 0 && signed_ >= INT32_MIN)
            return static_cast<uint32_t>(static_cast<int32_t>(signed_));
        return static_cast<uint64_t>(signed_);
    default:
        throw EConvertError("Format: argument is not an integer");
    }
}

double TVarRec::AsFloat() const
{
    switch (kind_) {
    case Kind::Float:
        return float_;
    case Kind::Signed:
        return static_cast<double>(signed_);
    case Kind::Unsigned:
        return static_cast<double>(unsigned_);
    default:
        throw EConvertError("Format: argument is not a number");
    }
}

namespace {
std::string Pad(std::string s, int width, bool left)
{
    if (width > 0 && static_cast<int>(s.size()) < width) {
        std::string fill(width - s.size(), ' ');
        s = left ? s + fill : fill + s;
    }
    return s;
}
} // namespace

std::string Format(const std::string& fmt, const TVarRecs& args)
{
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        char c = fmt[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= fmt.size())
            throw EConvertError("Format: '%' at the end of \"" + fmt + "\"");
        if (fmt[i] == '%') {
            out += '%';
            continue;
        }
        bool left = false;
        if (fmt[i] == '-') {
            left = true;
            ++i;
        }
        int width = 0;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9')
            width = width * 10 + (fmt[i++] - '0');
        int prec = -1;
        if (i < fmt.size() && fmt[i] == '.') {
            prec = 0;
            ++i;
            while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9')
                prec = prec * 10 + (fmt[i++] - '0');
        }
        prec = std::min(prec, 40);
        width = std::min(width, 1000);
        if (i >= fmt.size())
            throw EConvertError("Format: incomplete specifier in \"" + fmt + "\"");
        if (next >= args.size())
            throw EConvertError("Format: too few arguments for \"" + fmt + "\"");
        const TVarRec& a = args[next++];
        // Digits of a magnitude, zero-filled to the precision.
        auto digits = [prec](unsigned long long v, const char* conversion) {
            char b[32];
            std::snprintf(b, sizeof b, conversion, v);
            std::string d = b;
            if (prec > static_cast<int>(d.size()))
                d.insert(0, static_cast<size_t>(prec) - d.size(), '0');
            return d;
        };
        std::string piece;
        switch (fmt[i]) {
        case 'd': {
            const int64_t v = a.AsSigned();
            const unsigned long long magnitude
                = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            piece = (v < 0 ? "-" : "") + digits(magnitude, "%llu");
            break;
        }
        case 'u':
            piece = digits(a.AsUnsigned(), "%llu");
            break;
        case 'x':
        case 'X':
            piece = digits(a.AsUnsigned(), fmt[i] == 'X' ? "%llX" : "%llx");
            break;
        case 'f':
        case 'e':
        case 'g': {
            // Wide enough for any double at the largest precision allowed.
            char buf[512];
            const char f[] = { '%', '.', '*', fmt[i], 0 };
            std::snprintf(buf, sizeof buf, f, prec >= 0 ? prec : 2, a.AsFloat());
            piece = buf;
            break;
        }
        case 's':
            if (a.kind() != TVarRec::Kind::String)
                throw EConvertError("Format: argument for %s is not a string in \"" + fmt + "\"");
            piece = prec >= 0 ? a.AsString().substr(0, prec) : a.AsString();
            break;
        default:
            throw EConvertError(std::string("Format: unknown specifier %") + fmt[i] + " in \"" + fmt + "\"");
        }
        out += Pad(std::move(piece), width, left);
    }
    return out;
}
