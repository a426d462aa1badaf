#include "wavehandles_p.h"

#include <mutex>
#include <unordered_map>

namespace zq::wave {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<WaveStream>> streams;
    uintptr_t next = 0x1000;
};

// Never destroyed: a device left open at exit keeps its worker, which must
// not find its stream gone while the process winds down.
HandleTable& Table()
{
    static auto* table = new HandleTable;
    return *table;
}

} // namespace

void* AddWaveStream(std::shared_ptr<WaveStream> stream)
{
    HandleTable& t = Table();
    std::lock_guard lock(t.mutex);
    uintptr_t key = t.next++;
    t.streams.emplace(key, std::move(stream));
    return reinterpret_cast<void*>(key);
}

std::shared_ptr<WaveStream> FindWaveStream(const void* handle)
{
    HandleTable& t = Table();
    std::lock_guard lock(t.mutex);
    auto it = t.streams.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.streams.end() ? nullptr : it->second;
}

void RemoveWaveStream(const void* handle)
{
    HandleTable& t = Table();
    std::lock_guard lock(t.mutex);
    t.streams.erase(reinterpret_cast<uintptr_t>(handle));
}

} // namespace zq::wave
