#include "telephonysettings.h"

namespace zq::telephony {

std::string ProviderSettingsKey(const std::string& providerName)
{
    return std::string(kTelephonyKey) + "\\" + providerName;
}

} // namespace zq::telephony
