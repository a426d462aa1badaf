// The simulated lines' wave devices.
#include "simline_p.h"

#include <map>
#include <mutex>

void LineWaveOut::Write(const void* data, size_t bytes)
{
    std::shared_ptr<PcmPipe> target;
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

void LineWaveOut::SetTarget(std::shared_ptr<PcmPipe> target)
{
    std::lock_guard lock(mutex_);
    target_ = std::move(target);
    forward_ = nullptr;
}

void LineWaveOut::SetForward(Forward forward)
{
    std::lock_guard lock(mutex_);
    target_ = nullptr;
    forward_ = std::move(forward);
}

LineAudio& LineAudioFor(const std::string& key, const std::string& name)
{
    static std::mutex mutex;
    static auto* audio = new std::map<std::string, LineAudio>;
    std::lock_guard lock(mutex);
    LineAudio& a = (*audio)[key];
    if (!a.out) {
        a.out = std::make_shared<LineWaveOut>();
        a.in = std::make_shared<PcmPipe>();
        a.outId = RegisterWaveOutDevice(name + " Playback", a.out);
        a.inId = RegisterWaveInDevice(name + " Record", std::make_shared<PipeWaveIn>(a.in));
    }
    return a;
}
