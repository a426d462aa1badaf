#pragma once
// Switches a line provider on in the registry store in use: the modem and
// SIP providers run only where SOFTWARE\zqcomm\Telephony\<provider> holds
// Enabled = 1. Tests using it link zqregistry.
#include "registry.h"

#include <string>

namespace zqtest {

// False when the store would not take the setting.
inline bool EnableProvider(const std::string& provider)
{
    HKEY k = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, ("SOFTWARE\\zqcomm\\Telephony\\" + provider).c_str(), 0, nullptr,
            0, KEY_ALL_ACCESS, nullptr, &k, nullptr)
        != LONG(ERROR_SUCCESS))
        return false;
    const DWORD on = 1;
    const bool set = RegSetValueEx(k, "Enabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on)
        == LONG(ERROR_SUCCESS);
    RegCloseKey(k);
    return set;
}

} // namespace zqtest
