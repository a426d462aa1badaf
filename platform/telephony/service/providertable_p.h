#pragma once
// The providers built into the service, from the zq_telephony_provider()
// registrations (the table is generated at configure time).
#include "provider.h"

#include <vector>

namespace zq::telephony {

struct ProviderRegistration {
    const char* name; // registry key under HKLM\SOFTWARE\zqcomm\Telephony
    ProviderFactory create;
    bool fallback; // runs when no other provider runs
};

const std::vector<ProviderRegistration>& RegisteredProviders();

} // namespace zq::telephony
