#include "waveendpoints.h"

#include <algorithm>
#include <cstring>

namespace zq::wave {

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

MMRESULT PipeWaveIn::Open(const WAVEFORMATEX& format)
{
    const uint64_t bytes = uint64_t(format.nAvgBytesPerSec) * uint64_t(prefill_.count()) / 1000;
    const size_t block = std::max<size_t>(format.nBlockAlign, 1);
    prefillBytes_ = size_t(bytes) - size_t(bytes) % block;
    return MMSYSERR_NOERROR;
}

void PipeWaveIn::Start()
{
    pipe_->Clear();
    flowing_ = false;
}

size_t PipeWaveIn::Read(void* data, size_t bytes)
{
    if (!flowing_) {
        if (pipe_->Size() < std::max<size_t>(prefillBytes_, 1))
            return 0;
        flowing_ = true;
    }
    size_t got = pipe_->Read(data, bytes);
    // Ran dry: the sender stopped (or fell behind by more than the delay);
    // the delay is built up again before reading goes on.
    if (got < bytes)
        flowing_ = false;
    return got;
}

} // namespace zq::wave
