#pragma once
// The receive side's playout buffer. Packets go in by RTP timestamp in any
// order; 20 ms frames come out on the media thread's clock, a fixed delay
// after the first packet, so the delay stays what it was set to however the
// network spreads the packets. Not thread-safe: the media thread owns it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zq::sip {

class JitterBuffer {
public:
    // delayMs: how much later than the first packet's arrival playout runs,
    // which is how much delay variation it absorbs. capacityMs: how far ahead
    // of playout a packet may be before the stream counts as restarted.
    explicit JitterBuffer(int delayMs = 120, int capacityMs = 1000);
    JitterBuffer(const JitterBuffer&) = delete;
    JitterBuffer& operator=(const JitterBuffer&) = delete;

    void Put(uint32_t timestamp, const int16_t* pcm, size_t samples);

    enum class Frame { Silence, Audio, Concealed };
    // The next 20 ms (160 samples) of playout.
    Frame Take(int16_t out[160]);

    size_t LatePackets() const { return late_; }
    size_t Restarts() const { return restarts_; }

private:
    void Restart(uint32_t timestamp);

    const uint32_t delay_; // samples
    const uint32_t capacity_; // samples, a power of two
    std::vector<int16_t> samples_;
    std::vector<uint8_t> present_;
    bool started_ = false;
    uint32_t playout_ = 0; // timestamp of the next sample to play
    bool lastWasAudio_ = false;
    int concealed_ = 0; // frames in a row
    size_t late_ = 0, restarts_ = 0;
    int16_t last_[160] = {}; // the last frame played, repeated to conceal
};

} // namespace zq::sip
