#include "atresponse.h"

#include <cctype>
#include <charconv>

namespace zq::modem {

namespace {

constexpr uint8_t DLE = 0x10;

std::string trimmed(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

bool startsWithNoCase(const std::string& s, const char* prefix)
{
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= s.size() || std::toupper(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    }
    return true;
}

// CONNECT may carry a rate and more after it: "CONNECT 33600/ARQ/V34".
uint32_t leadingNumber(const std::string& s)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    uint32_t v = 0;
    auto r = std::from_chars(s.data() + i, s.data() + s.size(), v);
    return r.ec == std::errc() ? v : 0;
}

bool allDigits(const std::string& s)
{
    if (s.empty())
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

AtLine AtResponseParser::classify(const std::string& raw) const
{
    AtLine l;
    l.text = raw;
    const std::string s = trimmed(raw);
    std::string up;
    up.reserve(s.size());
    for (char c : s)
        up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    if (allDigits(s) && form_ != ResultForm::Verbose && s.size() <= 2) {
        int code = std::stoi(s);
        // With the form unknown, only the codes a command can end with count:
        // ATI may well answer a bare number of its own.
        switch (code) {
        case 0:
            l.kind = AtKind::Ok;
            return l;
        case 1:
            l.kind = AtKind::Connect;
            return l;
        case 2:
            l.kind = AtKind::Ring;
            return l;
        case 3:
            l.kind = AtKind::NoCarrier;
            return l;
        case 4:
            l.kind = AtKind::Error;
            return l;
        case 6:
            l.kind = AtKind::NoDialtone;
            return l;
        case 7:
            l.kind = AtKind::Busy;
            return l;
        case 8:
            l.kind = AtKind::NoAnswer;
            return l;
        default:
            break;
        }
        if (form_ == ResultForm::Numeric) {
            // Numeric CONNECT codes with a rate differ between makers; the rate
            // is left for the caller to query.
            if (code == 5 || code >= 9) {
                l.kind = AtKind::Connect;
                return l;
            }
        }
        return l;
    }

    if (up == "OK") {
        l.kind = AtKind::Ok;
    } else if (up == "ERROR" || startsWithNoCase(up, "+CME ERROR")) {
        l.kind = AtKind::Error;
    } else if (up == "CONNECT" || startsWithNoCase(up, "CONNECT ") || startsWithNoCase(up, "CONNECT/")) {
        l.kind = AtKind::Connect;
        l.rate = leadingNumber(s.substr(7));
    } else if (up == "VCON") {
        // Some voice modems say VCON where others say OK on going off hook.
        l.kind = AtKind::Ok;
    } else if (up == "NO CARRIER") {
        l.kind = AtKind::NoCarrier;
    } else if (up == "BUSY") {
        l.kind = AtKind::Busy;
    } else if (up == "NO ANSWER") {
        l.kind = AtKind::NoAnswer;
    } else if (up == "NO DIALTONE" || up == "NO DIAL TONE") {
        l.kind = AtKind::NoDialtone;
    } else if (up == "RING") {
        l.kind = AtKind::Ring;
    } else if (startsWithNoCase(up, "AT")) {
        l.kind = AtKind::Echo;
    } else {
        // Caller id: "NMBR = 5551234" or "NMBR=5551234"; some modems put
        // DDN_ before the number's key.
        size_t eq = s.find('=');
        if (eq != std::string::npos) {
            std::string key = trimmed(up.substr(0, eq));
            if (key.rfind("DDN_", 0) == 0)
                key = key.substr(4);
            if (key == "NMBR" || key == "NAME" || key == "DATE" || key == "TIME" || key == "MESG") {
                l.kind = AtKind::CallerId;
                l.key = key;
                l.value = trimmed(s.substr(eq + 1));
            }
        }
    }
    return l;
}

size_t AtResponseParser::feed(const uint8_t* data, size_t size, std::vector<AtLine>& out)
{
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (dle_) {
            dle_ = false;
            if (c != DLE) {
                AtLine l;
                l.kind = AtKind::Dle;
                l.code = static_cast<char>(c);
                out.push_back(l);
                continue;
            }
            // A doubled DLE in command state carries nothing.
            continue;
        }
        if (c == DLE) {
            dle_ = true;
            continue;
        }
        if (c == '\r' || c == '\n') {
            // Any mix of CR and LF ends a line; the empty lines between count
            // for nothing.
            if (!line_.empty() && !overflow_) {
                AtLine l = classify(line_);
                line_.clear();
                const bool connect = l.kind == AtKind::Connect;
                out.push_back(std::move(l));
                if (connect) {
                    // The terminator's other half may follow; it is not data.
                    size_t next = i + 1;
                    lfOwed_ = false;
                    if (next < size && (data[next] == '\n' || data[next] == '\r') && data[next] != c)
                        ++next;
                    else if (next == size && c == '\r' && form_ == ResultForm::Verbose)
                        lfOwed_ = true;
                    return next;
                }
            }
            line_.clear();
            overflow_ = false;
            continue;
        }
        if (c == 0)
            continue;
        if (line_.size() >= MaxLine) {
            // Noise on the line, not an answer: drop the whole line.
            overflow_ = true;
            line_.clear();
            continue;
        }
        if (!overflow_)
            line_ += static_cast<char>(c);
    }
    return size;
}

void AtResponseParser::reset()
{
    line_.clear();
    overflow_ = false;
    dle_ = false;
    lfOwed_ = false;
}

} // namespace zq::modem
