// Device configuration records: a device's "comm/datamodem" block saved in
// and loaded from a registry value, laid out as one index byte, the 24-byte
// VARSTRING header, then the configuration bytes.
#include "zqcommtapi.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kHeaderSize = 24;
constexpr const char* kDeviceClass = "comm/datamodem";

// One index byte followed by a VARSTRING of 2048 bytes. The VARSTRING is
// kept apart, where its fields are aligned, and joined to the index byte
// only as the record's bytes.
struct DevConfigRecord {
    unsigned char index = 0;
    std::vector<unsigned char> var = std::vector<unsigned char>(zq::telephony::kDevConfigSize);
    DevConfigRecord()
    {
        Var()->dwTotalSize = zq::telephony::kDevConfigSize;
        Var()->dwStringFormat = STRINGFORMAT_BINARY;
    }
    VARSTRING* Var() { return reinterpret_cast<VARSTRING*>(var.data()); }
    std::vector<unsigned char> ToBytes(DWORD size) const
    {
        std::vector<unsigned char> r(size + 1);
        r[0] = index;
        std::memcpy(r.data() + 1, var.data(), std::min<size_t>(size, var.size()));
        return r;
    }
    void FromBytes(const std::vector<unsigned char>& r, DWORD size)
    {
        index = r[0];
        std::memcpy(var.data(), r.data() + 1, std::min<size_t>(size - 1, var.size()));
    }
};

class RegKey {
public:
    RegKey(HKEY root, const std::string& path)
    {
        result_ = RegCreateKeyEx(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
            KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
        ok_ = result_ == ERROR_SUCCESS;
    }
    ~RegKey()
    {
        if (ok_)
            RegCloseKey(key_);
    }
    bool ok() const { return ok_; }
    LONG result() const { return result_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
    LONG result_ = 0;
    bool ok_ = false;
};

} // namespace

void TzqCommTAPI::SaveConfig(HKEY RootKey, const std::string& Key, const std::string& ValueName)
{
    AcquireTAPI();
    struct Release {
        TzqCommTAPI* c;
        ~Release() { c->ReleaseTAPI(); }
    } release { this };

    if (deviceIndex_ < 0 || deviceIndex_ >= DeviceCount()) {
        ReportTAPIError(8, "Save config Error Device");
        return;
    }
    DevConfigRecord w;
    LONG r = lineGetDevConfig(static_cast<DWORD>(CurrentDeviceID()), w.Var(), kDeviceClass);
    if (r < 0) {
        LastResult = r;
        ReportTAPIError(9, "Save config Error Device");
        return;
    }
    // A configuration that did not fit the record would be saved
    // cut short: refuse it instead.
    const DWORD needed = w.Var()->dwNeededSize;
    if (needed > zq::telephony::kDevConfigSize
        || w.Var()->dwStringSize > zq::telephony::kDevConfigSize - kHeaderSize) {
        ReportTAPIError(9,
            "Save config Error Device: the configuration is larger than "
                + std::to_string(zq::telephony::kDevConfigSize) + " bytes");
        return;
    }
    w.index = static_cast<unsigned char>(deviceIndex_ & 0xFF);
    const std::vector<unsigned char> record = w.ToBytes(needed);
    LONG stored = static_cast<LONG>(ERROR_ACCESS_DENIED);
    {
        RegKey key(RootKey, Key);
        stored = key.ok()
            ? RegSetValueEx(key.get(), ValueName.c_str(), 0, REG_BINARY, record.data(), needed + 1)
            : key.result();
    }
    if (stored != ERROR_SUCCESS) {
        // The code line of the report carries the store's error.
        LastResult = stored;
        ReportTAPIError(9, "Save config Error Device");
    }
}

void TzqCommTAPI::LoadConfig(
    HKEY RootKey, const std::string& Key, const std::string& ValueName, bool KeepIndex)
{
    AcquireTAPI();
    struct Release {
        TzqCommTAPI* c;
        ~Release() { c->ReleaseTAPI(); }
    } release { this };

    if (deviceIndex_ < 0 || deviceIndex_ >= DeviceCount()) {
        ReportTAPIError(5, "Load config Error Device Not Found");
        return;
    }
    RegKey key(RootKey, Key);
    if (!key.ok())
        return;
    DWORD type = 0;
    DWORD storedSize = 0;
    if (RegQueryValueEx(key.get(), ValueName.c_str(), nullptr, &type, nullptr, &storedSize) != ERROR_SUCCESS)
        return; // no record: nothing to load

    DevConfigRecord w;
    LONG r = lineGetDevConfig(static_cast<DWORD>(CurrentDeviceID()), w.Var(), kDeviceClass);
    if (r < 0) {
        LastResult = r;
        ReportTAPIError(6, "Load config Error Device");
        return;
    }
    const DWORD limit = std::min<DWORD>(w.Var()->dwNeededSize, zq::telephony::kDevConfigSize) + 1;
    DWORD size = limit;
    std::vector<unsigned char> record(limit);
    if (storedSize > limit
        || RegQueryValueEx(key.get(), ValueName.c_str(), nullptr, &type, record.data(), &size)
            != ERROR_SUCCESS) {
        ReportTAPIError(6,
            "Load config Error Device: the record \"" + ValueName + "\" is " + std::to_string(storedSize)
                + " bytes, more than the " + std::to_string(limit) + " the device configuration takes");
        return;
    }
    // The stored header must describe bytes that the record really holds.
    if (size < 1 + kHeaderSize) {
        ReportTAPIError(
            6, "Load config Error Device: the record \"" + ValueName + "\" is shorter than its header says");
        return;
    }
    w.FromBytes(record, size);
    const VARSTRING* stored = w.Var();
    if (stored->dwStringSize > size - 1 - kHeaderSize) {
        ReportTAPIError(
            6, "Load config Error Device: the record \"" + ValueName + "\" is shorter than its header says");
        return;
    }
    const DWORD stringSize = stored->dwStringSize;
    if (!KeepIndex)
        SetDeviceIndex(w.index);
    r = lineSetDevConfig(
        static_cast<DWORD>(CurrentDeviceID()), w.var.data() + kHeaderSize, stringSize, kDeviceClass);
    if (r < 0) {
        LastResult = r;
        ReportTAPIError(7, "Load config Error Device");
    }
}
