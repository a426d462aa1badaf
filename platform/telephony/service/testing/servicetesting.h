#pragma once
// Test hook of the telephony service (target zqtapisvc_testing): a test
// runs the service against providers written for it. The test links the
// service library itself; the binding's dlopen of libtapi32.so then finds
// the same, already loaded, copy.
#include "provider.h"

#include <string>
#include <utility>
#include <vector>

namespace zq::telephony {

// From the next first use of the service while no application is
// registered, these providers run instead of the registered ones (the
// running ones are stopped then). An empty list returns to the registered
// providers.
__attribute__((visibility("default"))) void UseProvidersForTesting(
    std::vector<std::pair<std::string, ProviderFactory>> providers);

} // namespace zq::telephony
