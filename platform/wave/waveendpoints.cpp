#include "waveendpoints.h"

#include <algorithm>
#include <cstring>

MMRESULT MemoryWaveOut::Open(const WAVEFORMATEX& format)
{
    std::lock_guard lock(mutex_);
    format_ = format;
    return MMSYSERR_NOERROR;
}

void MemoryWaveOut::Write(const void* data, size_t bytes)
{
    std::lock_guard lock(mutex_);
    auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + bytes);
}

std::vector<uint8_t> MemoryWaveOut::Bytes() const
{
    std::lock_guard lock(mutex_);
    return bytes_;
}

size_t MemoryWaveOut::Size() const
{
    std::lock_guard lock(mutex_);
    return bytes_.size();
}

WAVEFORMATEX MemoryWaveOut::Format() const
{
    std::lock_guard lock(mutex_);
    return format_;
}

void MemoryWaveOut::Clear()
{
    std::lock_guard lock(mutex_);
    bytes_.clear();
}

size_t MemoryWaveIn::Read(void* data, size_t bytes)
{
    std::lock_guard lock(mutex_);
    size_t n = std::min(bytes, data_.size() - offset_);
    if (n)
        std::memcpy(data, data_.data() + offset_, n);
    offset_ += n;
    return n;
}

size_t MemoryWaveIn::Remaining() const
{
    std::lock_guard lock(mutex_);
    return data_.size() - offset_;
}

void PcmPipe::Write(const void* data, size_t bytes)
{
    std::lock_guard lock(mutex_);
    auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + bytes);
    if (bytes_.size() > capacity_)
        bytes_.erase(bytes_.begin(), bytes_.begin() + (bytes_.size() - capacity_));
}

size_t PcmPipe::Read(void* data, size_t bytes)
{
    std::lock_guard lock(mutex_);
    size_t n = std::min(bytes, bytes_.size());
    std::copy_n(bytes_.begin(), n, static_cast<uint8_t*>(data));
    bytes_.erase(bytes_.begin(), bytes_.begin() + n);
    return n;
}

void PcmPipe::Clear()
{
    std::lock_guard lock(mutex_);
    bytes_.clear();
}

size_t PcmPipe::Size() const
{
    std::lock_guard lock(mutex_);
    return bytes_.size();
}
