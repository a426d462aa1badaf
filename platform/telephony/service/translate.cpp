#include "translate_p.h"

#include "registry.h"
#include "registrykey.h"
#include "tapi.h"
#include "telephonysettings.h"

#include <cctype>

namespace zq::telephony {

namespace {

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

} // namespace

DialingLocation CurrentLocation()
{
    DialingLocation loc;
    zq::registry::RegistryKey key(HKEY_LOCAL_MACHINE, kLocationKey);
    loc.countryCode = key.Dword("CountryCode", loc.countryCode);
    loc.areaCode = key.String("AreaCode", loc.areaCode);
    loc.longDistancePrefix = key.String("LongDistancePrefix", loc.longDistancePrefix);
    loc.internationalPrefix = key.String("InternationalPrefix", loc.internationalPrefix);
    return loc;
}

LONG TranslateAddress(const std::string& in, const DialingLocation& where, Translation* out)
{
    *out = Translation {};
    const std::string s = Trim(in);
    if (s.empty() || s[0] != '+') {
        out->dialable = in;
        return 0;
    }
    // "+CC [(AREA)] NUMBER": the area part is optional; everything after it
    // is the subscriber number, dialled as written.
    size_t i = 1;
    std::string country;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
        country += s[i++];
    if (country.empty() || country.size() > 4)
        return LONG(LINEERR_INVALADDRESS);
    while (i < s.size() && s[i] == ' ')
        ++i;
    std::string area;
    if (i < s.size() && s[i] == '(') {
        const size_t close = s.find(')', i);
        if (close == std::string::npos)
            return LONG(LINEERR_INVALADDRESS);
        area = Trim(s.substr(i + 1, close - i - 1));
        i = close + 1;
    }
    const std::string number = Trim(s.substr(i));
    if (number.empty())
        return LONG(LINEERR_INVALADDRESS);
    out->destCountry = DWORD(std::stoul(country));
    out->results = LINETRANSLATERESULT_CANONICAL;
    if (out->destCountry != where.countryCode) {
        out->dialable = where.internationalPrefix + country + area + number;
        out->results |= LINETRANSLATERESULT_INTERNATIONAL;
    } else if (!area.empty() && area != where.areaCode) {
        out->dialable = where.longDistancePrefix + area + number;
        out->results |= LINETRANSLATERESULT_LONGDISTANCE;
    } else {
        out->dialable = number;
        out->results |= LINETRANSLATERESULT_LOCAL;
    }
    return 0;
}

} // namespace zq::telephony
