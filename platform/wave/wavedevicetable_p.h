#pragma once
// The devices programs can open, by identifier. Any thread.
#include "wavebackend_p.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zq::wave {

template <class Backend> struct WaveDeviceEntry {
    std::string name;
    WORD channels = 2;
    std::function<std::unique_ptr<Backend>()> makeBackend;
};
using WaveOutDeviceEntry = WaveDeviceEntry<WaveOutBackend>;
using WaveInDeviceEntry = WaveDeviceEntry<WaveInBackend>;

// WAVE_MAPPER finds device 0. Empty for an identifier that is not (or no
// longer) registered.
std::optional<WaveOutDeviceEntry> FindWaveOutDevice(UINT id);
std::optional<WaveInDeviceEntry> FindWaveInDevice(UINT id);
// One more than the highest identifier handed out.
UINT WaveOutDeviceLimit();
UINT WaveInDeviceLimit();

} // namespace zq::wave
