#include "registrykey.h"

namespace zq::registry {

RegistryKey::RegistryKey(HKEY root, const std::string& path, bool create)
{
    LONG r = create ? RegCreateKeyEx(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                 KEY_READ | KEY_WRITE, nullptr, &key_, nullptr)
                    : RegOpenKeyEx(root, path.c_str(), 0, KEY_READ | KEY_WRITE, &key_);
    if (r != ERROR_SUCCESS)
        key_ = nullptr;
}

RegistryKey::~RegistryKey()
{
    if (key_)
        RegCloseKey(key_);
}

DWORD RegistryKey::Dword(const char* name, DWORD fallback) const
{
    DWORD type = 0, value = 0, size = sizeof value;
    if (!key_ || RegQueryValueEx(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != 0
        || type != REG_DWORD || size != sizeof value)
        return fallback;
    return value;
}

std::string RegistryKey::String(const char* name, const std::string& fallback) const
{
    DWORD type = 0, size = 0;
    if (!key_ || RegQueryValueEx(key_, name, nullptr, &type, nullptr, &size) != 0 || type != REG_SZ)
        return fallback;
    std::string s(size, '\0');
    if (RegQueryValueEx(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(s.data()), &size) != 0)
        return fallback;
    s.resize(size);
    const size_t nul = s.find('\0');
    if (nul != std::string::npos)
        s.resize(nul);
    return s;
}

bool RegistryKey::Binary(const char* name, std::vector<uint8_t>* out) const
{
    DWORD type = 0, size = 0;
    if (!key_ || RegQueryValueEx(key_, name, nullptr, &type, nullptr, &size) != 0 || type != REG_BINARY)
        return false;
    out->resize(size);
    return RegQueryValueEx(key_, name, nullptr, &type, out->data(), &size) == 0;
}

bool RegistryKey::Has(const char* name) const
{
    DWORD size = 0;
    return key_ && RegQueryValueEx(key_, name, nullptr, nullptr, nullptr, &size) == 0;
}

std::vector<std::string> RegistryKey::SubKeys() const
{
    std::vector<std::string> names;
    if (!key_)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[REG_MAX_KEY_NAME + 1];
        DWORD len = sizeof name;
        if (RegEnumKeyEx(key_, i, name, &len, nullptr, nullptr, nullptr, nullptr) != 0)
            break;
        names.emplace_back(name, len);
    }
    return names;
}

void RegistryKey::SetDword(const char* name, DWORD value)
{
    if (key_)
        RegSetValueEx(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void RegistryKey::SetString(const char* name, const std::string& value)
{
    if (key_)
        RegSetValueEx(
            key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
}

} // namespace zq::registry
