#pragma once
// Points this process and the programs it starts at a registry store in a
// scratch folder, with the simulated exchange ringing quickly, and keeps
// device 0's sound in a raw file there. Tests using it link zqregistry.
#include "registry.h"

#include <QTemporaryDir>

#include <cstdlib>

namespace zqtest {

inline void UseScratchStoreWithFastRings(const QTemporaryDir& dir)
{
    setenv("ZQ_REGISTRY_FILE", dir.filePath("registry.json").toLocal8Bit().constData(), 1);
    setenv("ZQ_WAVE_OUT_PCM", ("file:\"" + dir.filePath("speakers.raw") + "\",raw").toLocal8Bit().constData(),
        1);
    HKEY k = nullptr;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\zqcomm\\Telephony\\Simulated", 0, nullptr, 0,
        KEY_ALL_ACCESS, nullptr, &k, nullptr);
    const DWORD ringMs = 20;
    RegSetValueEx(k, "RingIntervalMs", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ringMs), sizeof ringMs);
    RegCloseKey(k);
}

} // namespace zqtest
