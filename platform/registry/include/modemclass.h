#pragma once
// The modem device class in the registry, where modem providers publish the
// modems they offer: one subkey per modem (0000, 0001, ...) below
// HKEY_LOCAL_MACHINE\<kModemClassKey>, holding its driver settings.
#include "win32types.h"
#include "zqregistry_export.h"

#include <string>

namespace zq::registry {

inline constexpr const char* kModemClassKey
    = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

// Publishes a modem as kModemClassKey\subkeyName with the values
// "FriendlyName" and "AttachedTo" (the port it is attached to). "UserInit" is
// set only when the key has none yet, so an init string the user chose
// survives the provider's next start. Returns a registry error code.
ZQREGISTRY_EXPORT LONG RegisterModem(const std::string& subkeyName, const std::string& friendlyName,
    const std::string& attachedPort, const std::string& userInit);

} // namespace zq::registry
