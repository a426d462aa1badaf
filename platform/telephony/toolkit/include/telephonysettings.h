#pragma once
// Where the telephony service and its providers keep their settings in the
// registry store (all below HKEY_LOCAL_MACHINE).
#include <string>

namespace zq::telephony {

inline constexpr const char* kTelephonyKey = "SOFTWARE\\zqcomm\\Telephony";
// The dialling location (country, area code, outside line).
inline constexpr const char* kLocationKey = "SOFTWARE\\zqcomm\\Telephony\\Location";
// The value of a provider's key that switches it on (1) or off (0).
inline constexpr const char* kProviderEnabledValue = "Enabled";

// A provider's own key: kTelephonyKey\<name>, <name> as registered.
std::string ProviderSettingsKey(const std::string& providerName);

} // namespace zq::telephony
