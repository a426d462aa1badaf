#pragma once
// A small reader and writer over one registry key that answers defaults
// when values are missing. Not thread-safe; one owner at a time.
#include "registry.h"
#include "zqregistry_export.h"

#include <string>
#include <vector>

namespace zq::registry {

class ZQREGISTRY_EXPORT RegistryKey {
public:
    // Opens root\path for reading and writing; create makes missing keys.
    RegistryKey(HKEY root, const std::string& path, bool create = false);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    DWORD Dword(const char* name, DWORD fallback) const;
    std::string String(const char* name, const std::string& fallback) const;
    bool Binary(const char* name, std::vector<uint8_t>* out) const;
    bool Has(const char* name) const;
    std::vector<std::string> SubKeys() const;

    void SetDword(const char* name, DWORD value);
    void SetString(const char* name, const std::string& value);

private:
    HKEY key_ = nullptr;
};

} // namespace zq::registry
