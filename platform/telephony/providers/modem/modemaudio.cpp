#include "modemaudio_p.h"

#include <algorithm>

namespace zq::modem {

namespace {

// Pauses between the pieces a program plays are shorter than this.
constexpr auto kLinger = std::chrono::milliseconds(400);
// What Play queues ahead of the modem: the modem's own pacing then holds the
// player back, so its buffers complete as the line takes them.
constexpr size_t kPlayAhead = 1600;
// The modem's samples arrive in bursts as the port is read; the recorder
// takes them at its own clock. A cushion this deep keeps a late burst from
// becoming a gap of silence in the middle of what the far end said.
constexpr size_t kCushion = 3200; // 400 ms
// Half a minute of recording waits for a reader; older audio is dropped.
constexpr size_t kMaxRecorded = 8000 * 30;

} // namespace

void ModemAudio::Play(const void* data, size_t bytes)
{
    std::function<void()> waiting;
    {
        std::unique_lock<std::mutex> g(mutex_);
        if (!connected_)
            return;
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i + 1 < bytes; i += 2)
            out_.push_back(static_cast<int16_t>(p[i] | (p[i + 1] << 8)));
        lastPlay_ = std::chrono::steady_clock::now();
        waiting = waiting_;
    }
    if (waiting)
        waiting();
    std::unique_lock<std::mutex> g(mutex_);
    taken_.wait_for(g, std::chrono::seconds(5), [&] { return !connected_ || out_.size() <= kPlayAhead; });
}

void ModemAudio::PlayStopped()
{
    std::lock_guard<std::mutex> g(mutex_);
    out_.clear();
    lastPlay_ = {};
    taken_.notify_all();
}

size_t ModemAudio::Record(void* data, size_t bytes)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (!connected_)
        return 0;
    if (priming_) {
        if (in_.size() < kCushion)
            return 0;
        priming_ = false;
    }
    const size_t n = std::min(bytes / 2, in_.size());
    if (n < bytes / 2)
        priming_ = true; // ran dry: build the cushion again
    auto* p = static_cast<uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) {
        const int16_t s = in_.front();
        in_.pop_front();
        p[2 * i] = static_cast<uint8_t>(s & 0xFF);
        p[2 * i + 1] = static_cast<uint8_t>((s >> 8) & 0xFF);
    }
    return n * 2;
}

void ModemAudio::RecordStarted()
{
    std::lock_guard<std::mutex> g(mutex_);
    in_.clear();
    priming_ = true;
}

void ModemAudio::SetConnected(bool connected)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (connected_ != connected)
        priming_ = true;
    connected_ = connected;
    if (!connected) {
        out_.clear();
        in_.clear();
        waiting_ = nullptr;
    }
    taken_.notify_all();
}

void ModemAudio::SetWaiting(std::function<void()> fn)
{
    std::lock_guard<std::mutex> g(mutex_);
    waiting_ = std::move(fn);
}

bool ModemAudio::Take(std::vector<int16_t>& out, size_t max)
{
    std::lock_guard<std::mutex> g(mutex_);
    const size_t n = std::min(max, out_.size());
    out.insert(out.end(), out_.begin(), out_.begin() + static_cast<long>(n));
    out_.erase(out_.begin(), out_.begin() + static_cast<long>(n));
    taken_.notify_all();
    if (n > 0)
        return true;
    return connected_ && std::chrono::steady_clock::now() - lastPlay_ < kLinger;
}

bool ModemAudio::HasSamples() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return !out_.empty();
}

void ModemAudio::Put(const int16_t* samples, size_t count)
{
    std::lock_guard<std::mutex> g(mutex_);
    if (!connected_)
        return;
    in_.insert(in_.end(), samples, samples + count);
    while (in_.size() > kMaxRecorded)
        in_.pop_front();
}

} // namespace zq::modem
