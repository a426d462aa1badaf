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

SimSettings ReadSimSettings(bool createDefaults)
{
    SimSettings out;
    RegistryKey own(HKEY_LOCAL_MACHINE, kSimulatedKey);
    out.ringMs = own.Dword("RingIntervalMs", kDefaultRingMs);
    out.progressMs = own.Dword("ProgressDelayMs", kDefaultProgressMs);
    RegistryKey linesKey(HKEY_LOCAL_MACHINE, kSimulatedLinesKey, createDefaults);
    std::vector<std::string> keys = linesKey.SubKeys();
    if (keys.empty() && createDefaults) {
        for (int i = 1; i <= 2; ++i) {
            const std::string k = "000" + std::to_string(i - 1);
            RegistryKey line(HKEY_LOCAL_MACHINE, LineKey(k), true);
            line.SetString("Name", "Simulated line " + std::to_string(i));
            line.SetString("Number", "100" + std::to_string(i));
            line.SetString("Port", "SIM" + std::to_string(i));
            keys.push_back(k);
        }
    }
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
    if (!key.Binary("DevConfig", &block) || !IsModemDevConfig(block.data(), block.size())) {
        const ModemDevConfig c = DefaultModemDevConfig();
        block.assign(reinterpret_cast<const uint8_t*>(&c), reinterpret_cast<const uint8_t*>(&c) + sizeof c);
    }
    return block;
}

void SaveDevConfig(const std::string& lineKey, const std::vector<uint8_t>& block)
{
    RegistryKey key(HKEY_LOCAL_MACHINE, LineKey(lineKey), true);
    key.SetBinary("DevConfig", block.data(), block.size());
}

} // namespace zq::sim
