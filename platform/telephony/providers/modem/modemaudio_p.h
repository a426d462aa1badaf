#pragma once
// A modem line's sound. What a program plays into the call is queued for the
// modem's playing (AT+VTX); what the modem records (AT+VRX) is queued for the
// program's recording. Both are 16-bit mono samples at 8000/s, the format of
// a voice modem's line; the service's wave devices convert to and from it.
//
// Threads: Play/Record come from wave device threads, Take/Put from the modem
// session's thread, SetConnected from the provider under the service lock; a
// mutex of its own guards the queues, and no method takes the service lock.
#include "provider.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace zq::modem {

class ModemAudio : public telephony::LineAudio {
public:
    void Play(const void* data, size_t bytes) override;
    void PlayStopped() override;
    size_t Record(void* data, size_t bytes) override;
    void RecordStarted() override;

    // While no voice call is connected, Play discards and Record gives 0.
    void SetConnected(bool connected);
    // Called (from the player's thread) when samples wait to be played.
    void SetWaiting(std::function<void()> fn);
    // Up to max samples; false once the queue has been empty for the linger
    // time (the program stopped speaking).
    bool Take(std::vector<int16_t>& out, size_t max);
    bool HasSamples() const;
    void Put(const int16_t* samples, size_t count);

private:
    mutable std::mutex mutex_;
    std::condition_variable taken_;
    bool connected_ = false;
    bool priming_ = true;
    std::deque<int16_t> out_, in_;
    std::chrono::steady_clock::time_point lastPlay_ {};
    std::function<void()> waiting_;
};

} // namespace zq::modem
