#include "wavedevicetable_p.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>

namespace zq::wave {
namespace {

const char* const kOutPcmVariable = "ZQ_WAVE_OUT_PCM";
const char* const kInPcmVariable = "ZQ_WAVE_IN_PCM";

std::string PcmFromEnvironment(const char* variable)
{
    const char* v = std::getenv(variable);
    return v && *v ? v : "default";
}

template <class Entry> struct DeviceList {
    std::mutex mutex;
    std::map<UINT, Entry> devices;
    UINT next = 1;
};

DeviceList<WaveOutDeviceEntry>& OutDevices()
{
    static auto* list = new DeviceList<WaveOutDeviceEntry>; // outlives static destructors
    return *list;
}

DeviceList<WaveInDeviceEntry>& InDevices()
{
    static auto* list = new DeviceList<WaveInDeviceEntry>;
    return *list;
}

// Device 0 follows the environment at each open, so a program (or a test)
// can send the default output to a file or another PCM.
WaveOutDeviceEntry DefaultOut()
{
    std::string pcm = PcmFromEnvironment(kOutPcmVariable);
    return { "ALSA " + pcm, 2, [pcm] { return MakeAlsaOutBackend(pcm); } };
}

WaveInDeviceEntry DefaultIn()
{
    std::string pcm = PcmFromEnvironment(kInPcmVariable);
    return { "ALSA " + pcm, 2, [pcm] { return MakeAlsaInBackend(pcm); } };
}

template <class Entry> UINT Add(DeviceList<Entry>& list, Entry entry)
{
    std::lock_guard lock(list.mutex);
    UINT id = list.next++;
    list.devices.emplace(id, std::move(entry));
    return id;
}

template <class Entry> BOOL Remove(DeviceList<Entry>& list, UINT id)
{
    std::lock_guard lock(list.mutex);
    return list.devices.erase(id) ? TRUE : FALSE;
}

template <class Entry> std::optional<Entry> Find(DeviceList<Entry>& list, UINT id)
{
    std::lock_guard lock(list.mutex);
    auto it = list.devices.find(id);
    if (it == list.devices.end())
        return std::nullopt;
    return it->second;
}

template <class Entry> std::vector<WaveDeviceInfo> List(DeviceList<Entry>& list, const Entry& device0)
{
    std::vector<WaveDeviceInfo> result { { 0, device0.name } };
    std::lock_guard lock(list.mutex);
    for (const auto& [id, entry] : list.devices)
        result.push_back({ id, entry.name });
    return result;
}

} // namespace

std::optional<WaveOutDeviceEntry> FindWaveOutDevice(UINT id)
{
    if (id == 0 || id == WAVE_MAPPER)
        return DefaultOut();
    return Find(OutDevices(), id);
}

std::optional<WaveInDeviceEntry> FindWaveInDevice(UINT id)
{
    if (id == 0 || id == WAVE_MAPPER)
        return DefaultIn();
    return Find(InDevices(), id);
}

UINT WaveOutDeviceLimit()
{
    std::lock_guard lock(OutDevices().mutex);
    return OutDevices().next;
}

UINT WaveInDeviceLimit()
{
    std::lock_guard lock(InDevices().mutex);
    return InDevices().next;
}

UINT RegisterWaveOutDevice(const std::string& name, std::shared_ptr<WaveOutEndpoint> endpoint)
{
    if (!endpoint)
        throw std::invalid_argument("RegisterWaveOutDevice: no endpoint");
    auto slot = std::make_shared<WaveOutSlot>();
    slot->endpoint = std::move(endpoint);
    return Add(OutDevices(), WaveOutDeviceEntry { name, 1, [slot] { return MakeEndpointOutBackend(slot); } });
}

UINT RegisterWaveInDevice(const std::string& name, std::shared_ptr<WaveInEndpoint> endpoint)
{
    if (!endpoint)
        throw std::invalid_argument("RegisterWaveInDevice: no endpoint");
    auto slot = std::make_shared<WaveInSlot>();
    slot->endpoint = std::move(endpoint);
    return Add(InDevices(), WaveInDeviceEntry { name, 1, [slot] { return MakeEndpointInBackend(slot); } });
}

BOOL UnregisterWaveOutDevice(UINT deviceId)
{
    return Remove(OutDevices(), deviceId);
}

BOOL UnregisterWaveInDevice(UINT deviceId)
{
    return Remove(InDevices(), deviceId);
}

std::vector<WaveDeviceInfo> WaveOutDevices()
{
    return List(OutDevices(), DefaultOut());
}

std::vector<WaveDeviceInfo> WaveInDevices()
{
    return List(InDevices(), DefaultIn());
}

} // namespace zq::wave
