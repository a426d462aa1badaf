#include "jitterbuffer_p.h"

#include <algorithm>
#include <cstring>

namespace zq::sip {

namespace {
uint32_t PowerOfTwoAtLeast(uint32_t n)
{
    uint32_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}
// Past this much concealed audio a gap is a gap, not a lost packet.
constexpr int kMaxConcealedFrames = 3;
} // namespace

JitterBuffer::JitterBuffer(int delayMs, int capacityMs)
    : delay_(uint32_t(delayMs) * 8)
    , capacity_(PowerOfTwoAtLeast(uint32_t(std::max(capacityMs, delayMs * 2)) * 8))
    , samples_(capacity_)
    , present_(capacity_)
{
}

void JitterBuffer::Restart(uint32_t timestamp)
{
    std::fill(present_.begin(), present_.end(), 0);
    playout_ = timestamp - delay_;
    started_ = true;
    // Concealment must not carry the old stream into the new one.
    lastWasAudio_ = false;
    concealed_ = 0;
    ++restarts_;
}

void JitterBuffer::Put(uint32_t timestamp, const int16_t* pcm, size_t samples)
{
    if (samples == 0 || samples > capacity_ / 2)
        return;
    if (!started_)
        Restart(timestamp);
    const int32_t ahead = int32_t(timestamp - playout_);
    if (ahead < 0) {
        ++late_;
        return;
    }
    if (uint32_t(ahead) + samples > capacity_)
        Restart(timestamp); // the sender jumped or restarted
    const uint32_t mask = capacity_ - 1;
    for (size_t i = 0; i < samples; ++i) {
        const uint32_t at = (timestamp + uint32_t(i)) & mask;
        samples_[at] = pcm[i];
        present_[at] = 1;
    }
}

JitterBuffer::Frame JitterBuffer::Take(int16_t out[160])
{
    if (!started_) {
        std::memset(out, 0, 160 * sizeof(int16_t));
        return Frame::Silence;
    }
    const uint32_t mask = capacity_ - 1;
    size_t got = 0;
    for (uint32_t i = 0; i < 160; ++i) {
        const uint32_t at = (playout_ + i) & mask;
        if (present_[at]) {
            out[i] = samples_[at];
            present_[at] = 0;
            ++got;
        } else {
            out[i] = 0;
        }
    }
    playout_ += 160;
    if (got > 0) {
        std::memcpy(last_, out, sizeof last_);
        lastWasAudio_ = true;
        concealed_ = 0;
        return Frame::Audio;
    }
    if (lastWasAudio_ && concealed_ < kMaxConcealedFrames) {
        // The last frame again, fading: a lost packet passes as a slight
        // stretch of the sound rather than a click of silence.
        ++concealed_;
        const int gain = 256 >> concealed_;
        for (int i = 0; i < 160; ++i)
            out[i] = int16_t(last_[i] * gain / 256);
        return Frame::Concealed;
    }
    lastWasAudio_ = false;
    return Frame::Silence;
}

} // namespace zq::sip
