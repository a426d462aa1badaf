#pragma once
// A line device that holds at most one call at a time, with its own audio
// and configuration block: what such lines answer the service alike.
//
// Threads: the service calls these under its lock; the derived line keeps
// its members under the same lock.
#include "provider.h"

#include <memory>
#include <vector>

namespace zq::telephony {

template <class CallType, class AudioType> class SingleCallLine : public ProviderLine {
public:
    LONG SetDetection(DWORD ownerMediaModes) override
    {
        detection_ = ownerMediaModes;
        return 0;
    }
    std::shared_ptr<ProviderCall> CurrentCall() override { return call_; }
    std::shared_ptr<LineAudio> Audio() override { return audio_; }
    std::vector<uint8_t> DevConfig() const override { return devConfig_; }

protected:
    DWORD detection_ = 0; // the media modes the owners want offered
    std::shared_ptr<CallType> call_; // the call holding the line
    std::shared_ptr<AudioType> audio_ = std::make_shared<AudioType>();
    std::vector<uint8_t> devConfig_;
};

} // namespace zq::telephony
