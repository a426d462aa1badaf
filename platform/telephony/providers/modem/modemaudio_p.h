#pragma once
// A modem line's wave devices. What a program plays into the call is queued
// for the modem's playing (AT+VTX); what the modem records (AT+VRX) is queued
// for the program's recording. Both carry 16-bit mono samples at 8000/s, the
// only format a voice modem's line has.
//
// Threads: Write and Read come from the wave layer's worker threads, the
// take/put side from the modem session's thread; a mutex guards each queue.
#include "wavedevices.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace zq::modem {

bool IsLineFormat(const WAVEFORMATEX& format);

class ModemWaveOut : public WaveOutEndpoint {
public:
    MMRESULT Open(const WAVEFORMATEX& format) override;
    void Write(const void* data, size_t bytes) override;
    void Reset() override;
    void Close() override;

    // Called (from the writer's thread) when samples wait and nothing plays them.
    void SetWaiting(std::function<void()> fn);
    // Up to max samples; false once the queue has been empty for the linger
    // time (the program stopped speaking).
    bool Take(std::vector<int16_t>& out, size_t max);
    bool HasSamples() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::deque<int16_t> queue_;
    std::chrono::steady_clock::time_point lastWrite_ {};
    std::function<void()> waiting_;
};

class ModemWaveIn : public WaveInEndpoint {
public:
    MMRESULT Open(const WAVEFORMATEX& format) override;
    size_t Read(void* data, size_t bytes) override;
    void Start() override;
    void Put(const int16_t* samples, size_t count);
    void Clear();

private:
    std::mutex mutex_;
    std::deque<int16_t> queue_;
};

} // namespace zq::modem
