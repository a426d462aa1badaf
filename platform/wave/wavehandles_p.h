#pragma once
// Open wave devices by handle. Handle values are table keys, never
// addresses, so a stale handle finds nothing instead of freed memory.
#include "wavestream_p.h"

#include <memory>

namespace zq::wave {

void* AddWaveStream(std::shared_ptr<WaveStream> stream);
std::shared_ptr<WaveStream> FindWaveStream(const void* handle);
void RemoveWaveStream(const void* handle);

template <class T> std::shared_ptr<T> FindWaveStreamAs(const void* handle)
{
    return std::dynamic_pointer_cast<T>(FindWaveStream(handle));
}

} // namespace zq::wave
