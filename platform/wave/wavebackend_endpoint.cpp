// Backends for endpoints that providers register: the stream does the
// pacing, the endpoint only takes or gives bytes.
#include "wavebackend_p.h"

#include <algorithm>
#include <cstring>

namespace zq::wave {
namespace {

// One open of a registered endpoint: the slot is claimed before the
// endpoint opens and given back when the endpoint closes or refuses.
template <class Backend, class Endpoint> class EndpointBackend : public Backend {
public:
    explicit EndpointBackend(std::shared_ptr<WaveSlot<Endpoint>> slot)
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
        MMRESULT r = Device().Open(format);
        if (r != MMSYSERR_NOERROR) {
            Release();
            return r;
        }
        realTime_ = Device().RealTime();
        Opened(format);
        return MMSYSERR_NOERROR;
    }

    void Close() override
    {
        Device().Close();
        Release();
    }

    WavePacing Pacing() const override { return realTime_ ? WavePacing::Clock : WavePacing::None; }

protected:
    // After the endpoint took the format.
    virtual void Opened(const WAVEFORMATEX& format) = 0;
    Endpoint& Device() const { return *slot_->endpoint; }

private:
    void Release()
    {
        std::lock_guard lock(slot_->mutex);
        slot_->open = false;
    }

    std::shared_ptr<WaveSlot<Endpoint>> slot_;
    bool realTime_ = true;
};

class EndpointOutBackend : public EndpointBackend<WaveOutBackend, WaveOutEndpoint> {
public:
    using EndpointBackend::EndpointBackend;

    size_t Write(const uint8_t* data, size_t frames) override
    {
        if (frames)
            Device().Write(data, frames * blockAlign_);
        return frames;
    }

    void Drop() override { Device().Reset(); }
    std::chrono::nanoseconds Lead() const override { return lead_; }

private:
    void Opened(const WAVEFORMATEX& format) override
    {
        blockAlign_ = format.nBlockAlign;
        lead_ = std::clamp(Device().Lead(), std::chrono::milliseconds(0), std::chrono::milliseconds(1000));
    }

    size_t blockAlign_ = 1;
    std::chrono::milliseconds lead_ { 0 };
};

class EndpointInBackend : public EndpointBackend<WaveInBackend, WaveInEndpoint> {
public:
    using EndpointBackend::EndpointBackend;

    void Start() override { Device().Start(); }
    void Stop() override { Device().Stop(); }

    size_t Read(uint8_t* data, size_t frames) override
    {
        size_t want = frames * format_.blockAlign;
        size_t got = want ? Device().Read(data, want) : 0;
        if (got > want)
            got = want;
        // A partial block would shift every later sample; it is silenced too.
        got -= got % format_.blockAlign;
        std::memset(data + got, format_.SilenceByte(), want - got);
        return frames;
    }

private:
    void Opened(const WAVEFORMATEX& format) override { format_ = PcmFormat::From(format); }

    PcmFormat format_;
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

} // namespace zq::wave
