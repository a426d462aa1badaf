#pragma once
// Address translation: a canonical address "+CC (AREA) NUMBER" becomes what
// to dial from the current location; other addresses are dialled as given.
#include "win32types.h"

#include <string>

namespace zq::telephony {

struct DialingLocation {
    DWORD countryCode = 49;
    std::string areaCode = "30";
    std::string longDistancePrefix = "0";
    std::string internationalPrefix = "00";
};

// The location kept in the registry (Telephony\Location), or the defaults.
DialingLocation CurrentLocation();

struct Translation {
    std::string dialable;
    DWORD destCountry = 0;
    DWORD results = 0; // LINETRANSLATERESULT_*
};

// 0, or LINEERR_INVALADDRESS for a malformed canonical address.
LONG TranslateAddress(const std::string& in, const DialingLocation& where, Translation* out);

} // namespace zq::telephony
