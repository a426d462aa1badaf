#include "modemlines.h"

#include "modemclass.h"
#include "registrykey.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace zq::telephony {

namespace {

// The modem class subkey that already publishes this name, or a free one.
std::string ModemSubkeyFor(const std::string& friendlyName)
{
    registry::RegistryKey cls(HKEY_LOCAL_MACHINE, registry::kModemClassKey, true);
    const std::vector<std::string> names = cls.SubKeys();
    for (const std::string& n : names) {
        registry::RegistryKey k(HKEY_LOCAL_MACHINE, std::string(registry::kModemClassKey) + "\\" + n);
        if (k.String("FriendlyName", "") == friendlyName)
            return n;
    }
    for (int i = 0;; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d", i);
        if (std::find(names.begin(), names.end(), buf) == names.end())
            return buf;
    }
}

} // namespace

std::string PublishModemLine(const std::string& friendlyName, const std::string& port)
{
    const std::string subkey = ModemSubkeyFor(friendlyName);
    return registry::RegisterModem(subkey, friendlyName, port, "") == ERROR_SUCCESS ? subkey : std::string();
}

} // namespace zq::telephony
