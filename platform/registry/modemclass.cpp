#include "modemclass.h"

#include "registry.h"

namespace {

LONG SetString(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueEx(
        key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
}

} // namespace

LONG zq::registry::RegisterModem(const std::string& subkeyName, const std::string& friendlyName,
    const std::string& attachedPort, const std::string& userInit)
{
    if (subkeyName.empty() || subkeyName.find('\\') != std::string::npos)
        return LONG(ERROR_INVALID_PARAMETER);
    const std::string path = std::string(zq::registry::kModemClassKey) + "\\" + subkeyName;
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc != LONG(ERROR_SUCCESS))
        return rc;
    rc = SetString(key, "FriendlyName", friendlyName);
    if (rc == LONG(ERROR_SUCCESS))
        rc = SetString(key, "AttachedTo", attachedPort);
    if (rc == LONG(ERROR_SUCCESS)) {
        const LONG query = RegQueryValueEx(key, "UserInit", nullptr, nullptr, nullptr, nullptr);
        if (query == LONG(ERROR_FILE_NOT_FOUND))
            rc = SetString(key, "UserInit", userInit);
        else
            rc = query;
    }
    RegCloseKey(key);
    return rc;
}
