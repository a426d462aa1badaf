// The settings of the simulated exchange and its lines in the registry
// store.
#include "simexchange_p.h"

#include "devconfig.h"
#include "registrykey.h"

namespace zq::sim {

using registry::RegistryKey;

namespace {

constexpr DWORD kDefaultRingMs = 2000;
// Between a request's completion and the call's next state: a caller has
// its reply, and has finished reacting to it, before the call moves on, as
// with a real exchange, where switching takes a moment.
constexpr DWORD kDefaultProgressMs = 100;

std::string LineKey(const std::string& key)
{
    return std::string(kSimulatedLinesKey) + "\\" + key;
}

} // namespace

LONG CreateDefaultLines()
{
    if (!RegistryKey(HKEY_LOCAL_MACHINE, kSimulatedLinesKey).SubKeys().empty())
        return LONG(ERROR_SUCCESS);
    std::vector<std::string> made;
    LONG rc = LONG(ERROR_SUCCESS);
    for (int i = 1; i <= 2 && rc == LONG(ERROR_SUCCESS); ++i) {
        const std::string k = "000" + std::to_string(i - 1);
        HKEY key = nullptr;
        rc = RegCreateKeyEx(HKEY_LOCAL_MACHINE, LineKey(k).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
            KEY_WRITE, nullptr, &key, nullptr);
        if (rc != LONG(ERROR_SUCCESS))
            break;
        made.push_back(k);
        const std::pair<const char*, std::string> values[] = {
            { "Name", "Simulated line " + std::to_string(i) },
            { "Number", "100" + std::to_string(i) },
            { "Port", "SIM" + std::to_string(i) },
        };
        for (const auto& [name, text] : values) {
            rc = RegSetValueEx(
                key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
            if (rc != LONG(ERROR_SUCCESS))
                break;
        }
        RegCloseKey(key);
    }
    if (rc != LONG(ERROR_SUCCESS)) {
        // A line without its number would be kept for good: the set-up
        // runs only while there are none.
        for (const std::string& k : made)
            RegDeleteKey(HKEY_LOCAL_MACHINE, LineKey(k).c_str());
    }
    return rc;
}

SimSettings ReadSimSettings()
{
    SimSettings out;
    RegistryKey own(HKEY_LOCAL_MACHINE, kSimulatedKey);
    out.ringMs = own.Dword("RingIntervalMs", kDefaultRingMs);
    out.progressMs = own.Dword("ProgressDelayMs", kDefaultProgressMs);
    const std::vector<std::string> keys = RegistryKey(HKEY_LOCAL_MACHINE, kSimulatedLinesKey).SubKeys();
    for (const std::string& k : keys) {
        RegistryKey key(HKEY_LOCAL_MACHINE, LineKey(k));
        SimLineSettings s;
        s.key = k;
        s.name = key.String("Name", "Simulated line " + k);
        s.number = key.String("Number", "");
        s.port = key.String("Port", "SIM" + k);
        s.callerId = key.String("CallerID", s.number);
        s.callerName = key.String("CallerName", s.name);
        s.failOpen = key.Dword("FailOpen", 0) != 0;
        s.script.busy = key.Dword("Busy", 0) != 0;
        s.script.noAnswer = key.Dword("NoAnswer", 0) != 0;
        const DWORD rings = key.Dword("AnswerAfterRings", kDefaultAnswerRings);
        if (rings == 0)
            s.script.noAnswer = true;
        s.script.answerRings = int(rings);
        s.script.hangUpMs = key.Dword("HangUpAfterMs", 0);
        s.script.digits = key.String("Digits", "");
        out.lines.push_back(std::move(s));
    }
    return out;
}

std::vector<uint8_t> ReadDevConfig(const std::string& lineKey)
{
    RegistryKey key(HKEY_LOCAL_MACHINE, LineKey(lineKey));
    std::vector<uint8_t> block;
    if (!key.Binary("DevConfig", &block) || !telephony::IsModemDevConfig(block.data(), block.size())) {
        const telephony::ModemDevConfig c = telephony::DefaultModemDevConfig();
        block.assign(reinterpret_cast<const uint8_t*>(&c), reinterpret_cast<const uint8_t*>(&c) + sizeof c);
    }
    return block;
}

LONG SaveDevConfig(const std::string& lineKey, const std::vector<uint8_t>& block)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(HKEY_LOCAL_MACHINE, LineKey(lineKey).c_str(), 0, nullptr,
        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != LONG(ERROR_SUCCESS))
        return rc;
    rc = RegSetValueEx(key, "DevConfig", 0, REG_BINARY, block.data(), DWORD(block.size()));
    RegCloseKey(key);
    return rc;
}

} // namespace zq::sim
