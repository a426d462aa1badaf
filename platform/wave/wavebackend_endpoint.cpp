// Backends for endpoints that providers register: the stream does the
// pacing, the endpoint only takes or gives bytes.
#include "wavebackend_p.h"

#include <algorithm>
#include <cstring>

namespace {

class EndpointOutBackend : public WaveOutBackend {
public:
    explicit EndpointOutBackend(std::shared_ptr<WaveOutSlot> slot)
        : slot_(std::move(slot))
    {
    }

    MMRESULT Open(const WAVEFORMATEX& format) override
    {
        {
            std::lock_guard lock(slot_->mutex);
            if (slot_->open)
                return MMSYSERR_ALLOCATED;
            slot_->open = true;
        }
        MMRESULT r = slot_->endpoint->Open(format);
        if (r != MMSYSERR_NOERROR) {
            Release();
            return r;
        }
        blockAlign_ = format.nBlockAlign;
        realTime_ = slot_->endpoint->RealTime();
        lead_ = std::clamp(
            slot_->endpoint->Lead(), std::chrono::milliseconds(0), std::chrono::milliseconds(1000));
        return MMSYSERR_NOERROR;
    }

    void Close() override
    {
        slot_->endpoint->Close();
        Release();
    }

    WavePacing Pacing() const override { return realTime_ ? WavePacing::Clock : WavePacing::None; }

    size_t Write(const uint8_t* data, size_t frames) override
    {
        if (frames)
            slot_->endpoint->Write(data, frames * blockAlign_);
        return frames;
    }

    void Drop() override { slot_->endpoint->Reset(); }
    std::chrono::nanoseconds Lead() const override { return lead_; }

private:
    void Release()
    {
        std::lock_guard lock(slot_->mutex);
        slot_->open = false;
    }

    std::shared_ptr<WaveOutSlot> slot_;
    size_t blockAlign_ = 1;
    bool realTime_ = true;
    std::chrono::milliseconds lead_ { 0 };
};

class EndpointInBackend : public WaveInBackend {
public:
    explicit EndpointInBackend(std::shared_ptr<WaveInSlot> slot)
        : slot_(std::move(slot))
    {
    }

    MMRESULT Open(const WAVEFORMATEX& format) override
    {
        {
            std::lock_guard lock(slot_->mutex);
            if (slot_->open)
                return MMSYSERR_ALLOCATED;
            slot_->open = true;
        }
        MMRESULT r = slot_->endpoint->Open(format);
        if (r != MMSYSERR_NOERROR) {
            Release();
            return r;
        }
        format_ = PcmFormat::From(format);
        realTime_ = slot_->endpoint->RealTime();
        return MMSYSERR_NOERROR;
    }

    void Close() override
    {
        slot_->endpoint->Close();
        Release();
    }

    WavePacing Pacing() const override { return realTime_ ? WavePacing::Clock : WavePacing::None; }
    void Start() override { slot_->endpoint->Start(); }
    void Stop() override { slot_->endpoint->Stop(); }

    size_t Read(uint8_t* data, size_t frames) override
    {
        size_t want = frames * format_.blockAlign;
        size_t got = want ? slot_->endpoint->Read(data, want) : 0;
        if (got > want)
            got = want;
        // A partial block would shift every later sample; it is silenced too.
        got -= got % format_.blockAlign;
        std::memset(data + got, format_.SilenceByte(), want - got);
        return frames;
    }

private:
    void Release()
    {
        std::lock_guard lock(slot_->mutex);
        slot_->open = false;
    }

    std::shared_ptr<WaveInSlot> slot_;
    PcmFormat format_;
    bool realTime_ = true;
};

} // namespace

std::unique_ptr<WaveOutBackend> MakeEndpointOutBackend(std::shared_ptr<WaveOutSlot> slot)
{
    return std::make_unique<EndpointOutBackend>(std::move(slot));
}

std::unique_ptr<WaveInBackend> MakeEndpointInBackend(std::shared_ptr<WaveInSlot> slot)
{
    return std::make_unique<EndpointInBackend>(std::move(slot));
}
