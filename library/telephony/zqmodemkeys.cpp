#include "zqmodemkeys.h"

#include "modemclass.h"
#include "registry.h"
#include "sysinfo.h"

#include <QString>

#include <algorithm>

#include <mutex>

namespace {

// Systems outside the NT family name a modem's driver by its "Driver" value,
// relative to this key.
constexpr const char* kServicesClassKey = "System\\CurrentControlSet\\Services\\Class";

struct ModemKeyList {
    std::mutex mutex;
    std::vector<zq::telephony::TModemKey> keys;
};

ModemKeyList& List()
{
    static ModemKeyList list;
    return list;
}

// Text of a value, up to its first NUL. Values longer than a fixed buffer
// are read in full rather than dropped.
bool QueryText(HKEY key, const char* name, std::string& text)
{
    std::vector<BYTE> buffer(1024);
    for (;;) {
        auto size = DWORD(buffer.size());
        const LONG rc = RegQueryValueEx(key, name, nullptr, nullptr, buffer.data(), &size);
        if (rc == LONG(ERROR_MORE_DATA)) {
            buffer.resize(size);
            continue;
        }
        if (rc != LONG(ERROR_SUCCESS))
            return false;
        const auto* chars = reinterpret_cast<const char*>(buffer.data());
        text.assign(chars, std::find(chars, chars + size, '\0'));
        return true;
    }
}

// Name of the subkey at index; false at the end of the subkeys or on failure.
bool SubkeyName(HKEY key, DWORD index, std::string& name)
{
    std::vector<char> buffer(1024);
    for (;;) {
        auto size = DWORD(buffer.size());
        const LONG rc = RegEnumKeyEx(key, index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == LONG(ERROR_MORE_DATA) && buffer.size() < 65536) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != LONG(ERROR_SUCCESS))
            return false;
        name.assign(buffer.data(), size);
        return true;
    }
}

// The NT family lists every modem as a numbered subkey of the modem class.
void ScanModemClass(std::vector<zq::telephony::TModemKey>& keys)
{
    HKEY classKey = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, zq::registry::kModemClassKey, 0,
            KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &classKey)
        != LONG(ERROR_SUCCESS))
        return;
    std::string subName;
    for (DWORD index = 0; SubkeyName(classKey, index, subName); ++index) {
        HKEY modemKey = nullptr;
        if (RegOpenKeyEx(classKey, subName.c_str(), 0, KEY_QUERY_VALUE, &modemKey) != LONG(ERROR_SUCCESS))
            continue;
        std::string friendlyName;
        if (QueryText(modemKey, "FriendlyName", friendlyName))
            keys.push_back(zq::telephony::TModemKey {
                friendlyName, std::string(zq::registry::kModemClassKey) + "\\" + subName });
        RegCloseKey(modemKey);
    }
    RegCloseKey(classKey);
}

// Elsewhere modems are found among the enumerated hardware: a key with a
// "Class" value is a device (a modem or not), a key without one a branch.
void ScanEnumTree(const std::string& path, std::vector<zq::telephony::TModemKey>& keys)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key)
        != LONG(ERROR_SUCCESS))
        return;
    std::string deviceClass;
    if (QueryText(key, "Class", deviceClass)) {
        std::string friendlyName;
        std::string driver;
        // A modem that lacks either value cannot be named or located; it is
        // left out rather than listed under a made-up name or key.
        if (QString::fromStdString(deviceClass).toLower() == QLatin1String("modem")
            && QueryText(key, "FriendlyName", friendlyName) && QueryText(key, "Driver", driver))
            keys.push_back(
                zq::telephony::TModemKey { friendlyName, std::string(kServicesClassKey) + "\\" + driver });
    } else {
        std::string subName;
        for (DWORD index = 0; SubkeyName(key, index, subName); ++index)
            ScanEnumTree(path + "\\" + subName, keys);
    }
    RegCloseKey(key);
}

bool SameName(const std::string& a, const std::string& b)
{
    return QString::compare(QString::fromStdString(a), QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

} // namespace

std::string FindModemKey(const std::string& Name)
{
    ModemKeyList& list = List();
    std::lock_guard lock(list.mutex);
    if (list.keys.empty()) {
        if (zq::kernel::IsNTFamily())
            ScanModemClass(list.keys);
        else
            ScanEnumTree("Enum", list.keys);
    }
    for (const zq::telephony::TModemKey& key : list.keys) {
        if (SameName(key.Name, Name))
            return key.Path;
    }
    return {};
}

void ScanModemKeys(const std::string& Path)
{
    ModemKeyList& list = List();
    std::lock_guard lock(list.mutex);
    ScanEnumTree(Path, list.keys);
}

std::vector<zq::telephony::TModemKey> ModemKeys()
{
    ModemKeyList& list = List();
    std::lock_guard lock(list.mutex);
    return list.keys;
}

void zq::telephony::ResetModemKeys()
{
    ModemKeyList& list = List();
    std::lock_guard lock(list.mutex);
    list.keys.clear();
}
