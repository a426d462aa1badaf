#pragma once
// Where an installed modem keeps its driver settings: the registry key,
// below HKEY_LOCAL_MACHINE, of the modem with a given friendly name. The
// modems are listed once per process, at the first lookup that finds any.
#include "zqmodemkeys_export.h"
#include <string>
#include <vector>

namespace zq::telephony {

// One installed modem: its friendly name and its driver key.
struct TModemKey {
    std::string Name;
    std::string Path;

    // The list line "name=path".
    std::string Line() const { return Name + "=" + Path; }
};

} // namespace zq::telephony

// The driver key of the modem called Name (letter case ignored; the first
// modem listed wins), or the empty string. Lists the modems first while the
// list is empty.
ZQMODEMKEYS_EXPORT std::string FindModemKey(const std::string& Name);

// Adds the modems found in the hardware enumeration tree below
// HKEY_LOCAL_MACHINE\Path (the listing of systems outside the NT family).
ZQMODEMKEYS_EXPORT void ScanModemKeys(const std::string& Path);

// The process-wide list of modems, in the order they were found.
ZQMODEMKEYS_EXPORT std::vector<zq::telephony::TModemKey> ModemKeys();

namespace zq::telephony {

// Forgets the list, so the next lookup lists the modems again.
ZQMODEMKEYS_EXPORT void ResetModemKeys();

} // namespace zq::telephony
