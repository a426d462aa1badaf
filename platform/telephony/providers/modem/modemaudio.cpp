#include "modemaudio_p.h"

#include <algorithm>
#include <cstring>

namespace zq::modem {

namespace {

// Pauses between the pieces a program plays are shorter than this.
constexpr auto kLinger = std::chrono::milliseconds(400);
// Half a minute of recording waits for a reader; older audio is dropped.
constexpr size_t kMaxQueued = 8000 * 30;

} // namespace

bool IsLineFormat(const WAVEFORMATEX& f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels == 1 && f.nSamplesPerSec == 8000
        && f.wBitsPerSample == 16;
}

MMRESULT ModemWaveOut::Open(const WAVEFORMATEX& format)
{
    return IsLineFormat(format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

void ModemWaveOut::Write(const void* data, size_t bytes)
{
    std::function<void()> waiting;
    {
        std::lock_guard<std::mutex> g(mutex_);
        const size_t n = bytes / 2;
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < n; ++i)
            queue_.push_back(static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8)));
        while (queue_.size() > kMaxQueued)
            queue_.pop_front();
        lastWrite_ = std::chrono::steady_clock::now();
        waiting = waiting_;
    }
    if (waiting)
        waiting();
}

void ModemWaveOut::Reset()
{
    Clear();
}

void ModemWaveOut::Close()
{
    std::lock_guard<std::mutex> g(mutex_);
    lastWrite_ = {};
}

void ModemWaveOut::SetWaiting(std::function<void()> fn)
{
    std::lock_guard<std::mutex> g(mutex_);
    waiting_ = std::move(fn);
}

bool ModemWaveOut::Take(std::vector<int16_t>& out, size_t max)
{
    std::lock_guard<std::mutex> g(mutex_);
    const size_t n = std::min(max, queue_.size());
    out.insert(out.end(), queue_.begin(), queue_.begin() + static_cast<long>(n));
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<long>(n));
    if (n > 0)
        return true;
    return std::chrono::steady_clock::now() - lastWrite_ < kLinger;
}

bool ModemWaveOut::HasSamples() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return !queue_.empty();
}

void ModemWaveOut::Clear()
{
    std::lock_guard<std::mutex> g(mutex_);
    queue_.clear();
}

MMRESULT ModemWaveIn::Open(const WAVEFORMATEX& format)
{
    return IsLineFormat(format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

size_t ModemWaveIn::Read(void* data, size_t bytes)
{
    std::lock_guard<std::mutex> g(mutex_);
    const size_t n = std::min(bytes / 2, queue_.size());
    auto* p = static_cast<uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) {
        const int16_t s = queue_.front();
        queue_.pop_front();
        p[2 * i] = static_cast<uint8_t>(s & 0xFF);
        p[2 * i + 1] = static_cast<uint8_t>((s >> 8) & 0xFF);
    }
    return n * 2;
}

void ModemWaveIn::Start()
{
    Clear();
}

void ModemWaveIn::Put(const int16_t* samples, size_t count)
{
    std::lock_guard<std::mutex> g(mutex_);
    queue_.insert(queue_.end(), samples, samples + count);
    while (queue_.size() > kMaxQueued)
        queue_.pop_front();
}

void ModemWaveIn::Clear()
{
    std::lock_guard<std::mutex> g(mutex_);
    queue_.clear();
}

} // namespace zq::modem
