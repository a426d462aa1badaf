#include "sipuri_p.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace zq::sip {

namespace {
std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}
std::string Trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t");
    const size_t e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}
} // namespace

bool ParseSipUri(const std::string& text, SipUri* out)
{
    const std::string t = Trim(text);
    const std::string lower = Lower(t);
    SipUri u;
    size_t pos;
    if (lower.rfind("sips:", 0) == 0) {
        u.secure = true;
        pos = 5;
    } else if (lower.rfind("sip:", 0) == 0) {
        pos = 4;
    } else {
        return false;
    }
    std::string rest = t.substr(pos);
    rest = rest.substr(0, rest.find_first_of(";?"));
    const size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        u.user = rest.substr(0, at);
        rest = rest.substr(at + 1);
    }
    if (rest.empty())
        return false;
    if (rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos)
            return false;
        u.host = rest.substr(0, close + 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return false;
        u.port = rest.empty() ? "" : rest.substr(1);
    } else {
        const size_t colon = rest.find(':');
        u.host = rest.substr(0, colon);
        u.port = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    if (u.host.empty() || u.host.find_first_of(" \t<>\"") != std::string::npos)
        return false;
    if (!u.port.empty() && (u.port.size() > 5 || !std::all_of(u.port.begin(), u.port.end(), [](char c) {
            return c >= '0' && c <= '9';
        })))
        return false;
    *out = u;
    return true;
}

std::optional<std::string> RequestUriFor(
    const std::string& dialled, const std::string& accountAddress, std::string* error)
{
    const std::string d = Trim(dialled);
    SipUri uri;
    if (ParseSipUri(d, &uri))
        return d;
    std::string number;
    for (char c : d) {
        if ((c >= '0' && c <= '9') || c == '+' || c == '*')
            number += c;
        else if (c == '#')
            number += "%23";
        else if (c == ' ' || c == '-' || c == '.' || c == '(' || c == ')')
            continue;
        // What a dial string says to a modem (tone or pulse, pauses, waits)
        // means nothing to SIP.
        else if (std::strchr("TtPpWw,!@$;", c))
            continue;
        else {
            *error = "\"" + dialled + "\" is neither a telephone number nor a SIP address";
            return std::nullopt;
        }
    }
    if (number.empty() || number == "+") {
        *error = "\"" + dialled + "\" is neither a telephone number nor a SIP address";
        return std::nullopt;
    }
    SipUri aor;
    if (!ParseSipUri(accountAddress, &aor)) {
        *error = "the account's address \"" + accountAddress + "\" has no domain to call numbers in";
        return std::nullopt;
    }
    return std::string(aor.secure ? "sips:" : "sip:") + number + "@" + aor.host
        + (aor.port.empty() ? "" : ":" + aor.port);
}

std::vector<int> CodecList(const std::string& names)
{
    std::vector<int> list;
    std::stringstream in(names);
    std::string name;
    while (std::getline(in, name, ',')) {
        name = Lower(Trim(name));
        const int pt = name == "pcmu" ? 0 : name == "pcma" ? 8 : -1;
        if (pt >= 0 && std::find(list.begin(), list.end(), pt) == list.end())
            list.push_back(pt);
    }
    return list;
}

} // namespace zq::sip
