#pragma once
// Has the simulated exchange ring every 20 ms in the registry store in use,
// so calls connect without long waits: tests and the soak measure the
// program, not the exchange's pauses. Users link zqregistry.
#include "registry.h"

namespace zqtest {

inline void UseFastRings()
{
    HKEY k = nullptr;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\zqcomm\\Telephony\\Simulated", 0, nullptr, 0,
        KEY_ALL_ACCESS, nullptr, &k, nullptr);
    const DWORD ringMs = 20;
    RegSetValueEx(k, "RingIntervalMs", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ringMs), sizeof ringMs);
    RegCloseKey(k);
}

} // namespace zqtest
