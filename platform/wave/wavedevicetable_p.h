#pragma once
// The devices programs can open, by identifier.
#include "wavebackend_p.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

struct WaveOutDeviceEntry {
    std::string name;
    WORD channels = 2;
    std::function<std::unique_ptr<WaveOutBackend>()> makeBackend;
};

struct WaveInDeviceEntry {
    std::string name;
    WORD channels = 2;
    std::function<std::unique_ptr<WaveInBackend>()> makeBackend;
};

// WAVE_MAPPER finds device 0. Empty for an identifier that is not (or no
// longer) registered.
std::optional<WaveOutDeviceEntry> FindWaveOutDevice(UINT id);
std::optional<WaveInDeviceEntry> FindWaveInDevice(UINT id);
// One more than the highest identifier handed out.
UINT WaveOutDeviceLimit();
UINT WaveInDeviceLimit();
