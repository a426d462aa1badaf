// ALSA backends. Devices are opened non-blocking so the stream's worker never
// sits in a write while a reset or close waits for it; ALSA's own plug layer
// converts between the program's format and the card's.
#include "wavebackend_p.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace {

// The library prints its complaints (no card, unknown PCM) to stderr; the
// wave calls report them as result codes instead.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) { }

void QuietAlsa()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(IgnoreAlsaError); });
}

snd_pcm_format_t AlsaFormat(uint16_t bits)
{
    switch (bits) {
    case 8:
        return SND_PCM_FORMAT_U8;
    case 16:
        return SND_PCM_FORMAT_S16_LE;
    case 24:
        return SND_PCM_FORMAT_S24_3LE;
    case 32:
        return SND_PCM_FORMAT_S32_LE;
    default:
        return SND_PCM_FORMAT_UNKNOWN;
    }
}

MMRESULT OpenError(int err)
{
    switch (-err) {
    case EBUSY:
    case EAGAIN:
        return MMSYSERR_ALLOCATED;
    case ENOMEM:
        return MMSYSERR_NOMEM;
    default:
        // No card, an unknown PCM name, no sound server: nothing to play on.
        return MMSYSERR_NODRIVER;
    }
}

constexpr unsigned kLatencyUs = 200000;

// The part both directions share: opening with the wanted format.
class AlsaPcm {
public:
    explicit AlsaPcm(std::string name)
        : name_(std::move(name))
    {
    }
    ~AlsaPcm() { Close(); }

    MMRESULT Open(snd_pcm_stream_t stream, const WAVEFORMATEX& f)
    {
        QuietAlsa();
        format_ = PcmFormat::From(f);
        int r = snd_pcm_open(&pcm_, name_.c_str(), stream, SND_PCM_NONBLOCK);
        if (r < 0) {
            pcm_ = nullptr;
            Close();
            return OpenError(r);
        }
        snd_pcm_format_t fmt = AlsaFormat(format_.bits);
        if (fmt == SND_PCM_FORMAT_UNKNOWN
            || snd_pcm_set_params(
                   pcm_, fmt, SND_PCM_ACCESS_RW_INTERLEAVED, format_.channels, format_.rate, 1, kLatencyUs)
                < 0) {
            Close();
            return WAVERR_BADFORMAT;
        }
        snd_pcm_uframes_t buffer = 0, period = 0;
        if (snd_pcm_get_params(pcm_, &buffer, &period) == 0 && period > 0)
            periodNs_ = std::chrono::nanoseconds(uint64_t(period) * 1000000000ull / format_.rate);
        return MMSYSERR_NOERROR;
    }

    void Close()
    {
        if (pcm_)
            snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }

    // Brings the device back after an under- or overrun (or a suspend);
    // false when it cannot be, and the device counts as gone.
    bool Recover(int err)
    {
        if (snd_pcm_recover(pcm_, err, 1) < 0) {
            broken_ = true;
            return false;
        }
        return true;
    }

    std::chrono::nanoseconds PollInterval() const
    {
        return std::clamp<std::chrono::nanoseconds>(
            periodNs_ / 2, std::chrono::milliseconds(2), std::chrono::milliseconds(50));
    }

    snd_pcm_t* pcm_ = nullptr;
    PcmFormat format_;
    bool broken_ = false;

private:
    std::string name_;
    std::chrono::nanoseconds periodNs_ { std::chrono::milliseconds(20) };
};

class AlsaOutBackend : public WaveOutBackend {
public:
    explicit AlsaOutBackend(std::string name)
        : pcm_(std::move(name))
    {
    }

    MMRESULT Open(const WAVEFORMATEX& format) override
    {
        MMRESULT r = pcm_.Open(SND_PCM_STREAM_PLAYBACK, format);
        if (r != MMSYSERR_NOERROR)
            return r;
        // Start at the first frame written: a sound shorter than the device
        // buffer must play without waiting for the buffer to fill.
        snd_pcm_sw_params_t* sw;
        snd_pcm_sw_params_alloca(&sw);
        if (snd_pcm_sw_params_current(pcm_.pcm_, sw) == 0
            && snd_pcm_sw_params_set_start_threshold(pcm_.pcm_, sw, 1) == 0)
            snd_pcm_sw_params(pcm_.pcm_, sw);
        return MMSYSERR_NOERROR;
    }

    void Close() override { pcm_.Close(); }
    WavePacing Pacing() const override { return WavePacing::Device; }

    size_t Room() override
    {
        if (pcm_.broken_)
            return SIZE_MAX;
        snd_pcm_sframes_t avail = snd_pcm_avail(pcm_.pcm_);
        if (avail < 0) {
            if (!pcm_.Recover(int(avail)))
                return SIZE_MAX;
            avail = snd_pcm_avail(pcm_.pcm_);
        }
        return avail < 0 ? 0 : size_t(avail);
    }

    size_t Write(const uint8_t* data, size_t frames) override
    {
        // A device that went away swallows the audio; the clock still paces
        // the buffers, so the program sees them end as if played.
        if (pcm_.broken_)
            return frames;
        snd_pcm_sframes_t r = snd_pcm_writei(pcm_.pcm_, data, frames);
        if (r == -EAGAIN)
            return 0;
        if (r < 0) {
            if (!pcm_.Recover(int(r)))
                return frames;
            r = snd_pcm_writei(pcm_.pcm_, data, frames);
            if (r == -EAGAIN)
                return 0;
            if (r < 0) {
                pcm_.broken_ = true;
                return frames;
            }
        }
        return size_t(r);
    }

    size_t Delay() override
    {
        if (pcm_.broken_)
            return 0;
        snd_pcm_sframes_t d = 0;
        // An underrun means everything written has been heard.
        if (snd_pcm_delay(pcm_.pcm_, &d) < 0 || d < 0)
            return 0;
        return size_t(d);
    }

    void Drop() override
    {
        if (pcm_.broken_)
            return;
        snd_pcm_drop(pcm_.pcm_);
        snd_pcm_prepare(pcm_.pcm_);
    }

    std::chrono::nanoseconds PollInterval() const override { return pcm_.PollInterval(); }

private:
    AlsaPcm pcm_;
};

class AlsaInBackend : public WaveInBackend {
public:
    explicit AlsaInBackend(std::string name)
        : pcm_(std::move(name))
    {
    }

    MMRESULT Open(const WAVEFORMATEX& format) override { return pcm_.Open(SND_PCM_STREAM_CAPTURE, format); }
    void Close() override { pcm_.Close(); }
    WavePacing Pacing() const override { return WavePacing::Device; }

    void Start() override
    {
        if (pcm_.broken_)
            return;
        if (snd_pcm_state(pcm_.pcm_) != SND_PCM_STATE_PREPARED)
            snd_pcm_prepare(pcm_.pcm_);
        snd_pcm_start(pcm_.pcm_);
    }

    void Stop() override
    {
        if (!pcm_.broken_)
            snd_pcm_drop(pcm_.pcm_);
    }

    size_t Available() override
    {
        if (pcm_.broken_)
            return 0;
        snd_pcm_sframes_t avail = snd_pcm_avail(pcm_.pcm_);
        if (avail < 0) {
            // Overrun: what was lost is lost; capture goes on.
            if (pcm_.Recover(int(avail)))
                snd_pcm_start(pcm_.pcm_);
            return 0;
        }
        return size_t(avail);
    }

    size_t Read(uint8_t* data, size_t frames) override
    {
        if (pcm_.broken_)
            return 0;
        snd_pcm_sframes_t r = snd_pcm_readi(pcm_.pcm_, data, frames);
        if (r == -EAGAIN)
            return 0;
        if (r < 0) {
            if (pcm_.Recover(int(r)))
                snd_pcm_start(pcm_.pcm_);
            return 0;
        }
        return size_t(r);
    }

    std::chrono::nanoseconds PollInterval() const override { return pcm_.PollInterval(); }

private:
    AlsaPcm pcm_;
};

} // namespace

std::unique_ptr<WaveOutBackend> MakeAlsaOutBackend(std::string pcmName)
{
    return std::make_unique<AlsaOutBackend>(std::move(pcmName));
}

std::unique_ptr<WaveInBackend> MakeAlsaInBackend(std::string pcmName)
{
    return std::make_unique<AlsaInBackend>(std::move(pcmName));
}
