// The simulated lines' sound.
#include "simexchange_p.h"

namespace zq::sim {

void SimLineAudio::Play(const void* data, size_t bytes)
{
    std::shared_ptr<zq::wave::PcmPipe> target;
    Forward forward;
    {
        std::lock_guard lock(mutex_);
        target = target_;
        forward = forward_;
    }
    if (target)
        target->Write(data, bytes);
    else if (forward)
        forward(data, bytes);
}

void SimLineAudio::SetTarget(std::shared_ptr<zq::wave::PcmPipe> target)
{
    std::lock_guard lock(mutex_);
    target_ = std::move(target);
    forward_ = nullptr;
}

void SimLineAudio::SetForward(Forward forward)
{
    std::lock_guard lock(mutex_);
    target_ = nullptr;
    forward_ = std::move(forward);
}

} // namespace zq::sim
