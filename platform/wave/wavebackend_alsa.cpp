// ALSA backends. Devices are opened non-blocking so the stream's worker never
// sits in a write while a reset or close waits for it; ALSA's own plug layer
// converts between the program's format and the card's.
//
// When a sound has been heard is judged the same way on every output: by the
// device's delay while it is running, and from the last such reading on by
// the clock once it is not. Sound-server plugins keep reporting a delay after
// their stream has run dry (PulseAudio's stays at its sink's latency), so a
// figure that never reaches zero must not hold the end back; the end of all
// that was written is then confirmed by a drain, which the servers answer
// only once their own queue has played. Should the delay stay up while the
// device keeps running, a bound derived from the device's buffer and the time
// of the last write ends the wait.
#include "wavebackend_p.h"

#include "debugout.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>

namespace zq::wave {
namespace {

using Clock = std::chrono::steady_clock;

// The library prints its complaints (no card, unknown PCM) to stderr; the
// wave calls report them as result codes, and the reason goes to the log.
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

// The part both directions share: opening with the wanted format, and what
// went wrong.
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
        broken_ = false;
        error_.clear();
        const char* direction = stream == SND_PCM_STREAM_PLAYBACK ? "playback" : "capture";
        int r = snd_pcm_open(&pcm_, name_.c_str(), stream, SND_PCM_NONBLOCK);
        if (r < 0) {
            pcm_ = nullptr;
            Log(std::string("cannot open for ") + direction + ": " + snd_strerror(r));
            return OpenError(r);
        }
        snd_pcm_format_t fmt = AlsaFormat(format_.bits);
        if (fmt == SND_PCM_FORMAT_UNKNOWN
            || (r = snd_pcm_set_params(
                    pcm_, fmt, SND_PCM_ACCESS_RW_INTERLEAVED, format_.channels, format_.rate, 1, kLatencyUs))
                < 0) {
            Log(std::string("cannot set the format: ") + snd_strerror(r));
            Close();
            return WAVERR_BADFORMAT;
        }
        snd_pcm_uframes_t buffer = 0, period = 0;
        if (snd_pcm_get_params(pcm_, &buffer, &period) == 0 && period > 0) {
            periodNs_ = std::chrono::nanoseconds(uint64_t(period) * 1000000000ull / format_.rate);
            bufferNs_ = std::chrono::nanoseconds(uint64_t(buffer) * 1000000000ull / format_.rate);
        }
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
        if (err == -EPIPE || err == -ESTRPIPE || err == -EINTR) {
            int r = snd_pcm_recover(pcm_, err, 1);
            if (r >= 0)
                return true;
            err = r;
        }
        Break(err);
        return false;
    }

    void Break(int err)
    {
        if (broken_)
            return;
        broken_ = true;
        error_ = std::string("the sound device stopped working: ") + snd_strerror(err);
        Log(snd_strerror(err));
    }

    void Log(const std::string& what) const { OutputDebugString("wave: ALSA \"" + name_ + "\": " + what); }

    // How long the device holds what it was given.
    std::chrono::nanoseconds BufferTime() const { return bufferNs_; }

    std::chrono::nanoseconds PollInterval() const
    {
        return std::clamp<std::chrono::nanoseconds>(
            periodNs_ / 2, std::chrono::milliseconds(2), std::chrono::milliseconds(50));
    }

    snd_pcm_t* pcm_ = nullptr;
    PcmFormat format_;
    bool broken_ = false;
    std::string error_;

private:
    std::string name_;
    std::chrono::nanoseconds periodNs_ { std::chrono::milliseconds(20) };
    std::chrono::nanoseconds bufferNs_ { std::chrono::nanoseconds(kLatencyUs * 1000ull) };
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
        Restart();
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
        // A device that went away takes everything: the stream sees the
        // error and ends the playback.
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
                pcm_.Break(int(r));
                return frames;
            }
        }
        Clock::time_point now = Clock::now();
        if (written_ == 0)
            reading_ = { now, 0 };
        written_ += uint64_t(r);
        lastWrite_ = now;
        return size_t(r);
    }

    uint64_t Heard(Clock::time_point now) override
    {
        if (pcm_.broken_)
            return written_;
        // A server's graph hands its sink and the sink's listeners a cycle
        // at a time (about 21 ms on PipeWire's defaults), and its plugin's
        // delay reads zero while the last cycle is still on its way out:
        // what the device says is believed one such cycle later.
        const uint64_t measured = Measure(now);
        const uint64_t cycle = uint64_t(kServerCycle.count()) * pcm_.format_.rate / 1000;
        if (measured < written_) {
            allHeardAt_.reset();
            reported_ = std::max(reported_, measured > cycle ? measured - cycle : 0);
        } else {
            if (!allHeardAt_)
                allHeardAt_ = now;
            auto left
                = std::chrono::duration_cast<std::chrono::nanoseconds>(*allHeardAt_ + kServerCycle - now);
            uint64_t leftFrames = left.count() > 0
                ? uint64_t((unsigned __int128)left.count() * pcm_.format_.rate / 1000000000u)
                : 0;
            reported_ = std::max(reported_, written_ > leftFrames ? written_ - leftFrames : 0);
        }
        return reported_;
    }

    uint64_t Measure(Clock::time_point now)
    {
        // The last resort, for a plugin whose delay stays up while it keeps
        // running: the device held no more than its buffer at the last
        // write, and a server adds well under a second to that. The drain
        // that follows still waits for the true end.
        if (written_ > heard_ && now >= lastWrite_ + pcm_.BufferTime() + kServerAllowance) {
            if (!gaveUpOnDelay_)
                pcm_.Log("the delay did not drain after the last write; the end is left to the drain");
            gaveUpOnDelay_ = true;
            heard_ = written_;
        }
        if (heard_ >= written_)
            return heard_;
        snd_pcm_state_t state = snd_pcm_state(pcm_.pcm_);
        if (state == SND_PCM_STATE_DISCONNECTED) {
            pcm_.Break(-ENODEV);
            return written_;
        }
        // The delay alone is not enough: plugins (PipeWire's) move their
        // play position only when asked for the room, which nobody does once
        // everything is written, and their delay then stays where the last
        // write left it. Asking for both brings the position up to date.
        snd_pcm_sframes_t delay = 0, avail = 0;
        if ((state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_DRAINING)
            && snd_pcm_avail_delay(pcm_.pcm_, &avail, &delay) == 0 && delay >= 0) {
            uint64_t heard = written_ - std::min<uint64_t>(uint64_t(delay), written_);
            reading_ = { now, std::max(heard, reading_.heard) };
            heard_ = std::max(heard_, reading_.heard);
            return heard_;
        }
        // Not running (ran dry, or not started): from the last reading on,
        // what was queued then plays out in real time.
        auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(now - reading_.time).count();
        uint64_t more = since > 0 ? uint64_t((unsigned __int128)since * pcm_.format_.rate / 1000000000u) : 0;
        heard_ = std::max(heard_, std::min(written_, reading_.heard + more));
        return heard_;
    }

    bool Drain() override
    {
        if (pcm_.broken_)
            return false;
        if (written_ == 0)
            return true;
        // Blocking for the drain: servers answer it when their queue has
        // played, and a card when its buffer has.
        snd_pcm_nonblock(pcm_.pcm_, 0);
        int r = snd_pcm_drain(pcm_.pcm_);
        snd_pcm_nonblock(pcm_.pcm_, 1);
        if (r < 0 && r != -EPIPE && r != -ESTRPIPE) {
            pcm_.Break(r);
            return false;
        }
        snd_pcm_prepare(pcm_.pcm_);
        Restart();
        return true;
    }

    void Drop() override
    {
        Restart();
        if (pcm_.broken_)
            return;
        snd_pcm_drop(pcm_.pcm_);
        snd_pcm_prepare(pcm_.pcm_);
    }

    std::string Error() const override { return pcm_.error_; }
    std::chrono::nanoseconds PollInterval() const override { return pcm_.PollInterval(); }

private:
    void Restart()
    {
        written_ = heard_ = reported_ = 0;
        allHeardAt_.reset();
        reading_ = { Clock::now(), 0 };
        lastWrite_ = reading_.time;
    }

    static constexpr std::chrono::seconds kServerAllowance { 1 };
    static constexpr std::chrono::milliseconds kServerCycle { 30 };

    struct Reading {
        Clock::time_point time;
        uint64_t heard = 0;
    };

    AlsaPcm pcm_;
    uint64_t written_ = 0; // frames since open, drain or drop
    uint64_t heard_ = 0;
    Reading reading_; // the last delay the device gave while running
    Clock::time_point lastWrite_;
    std::optional<Clock::time_point> allHeardAt_; // when the device first said so
    uint64_t reported_ = 0; // what Heard has said
    bool gaveUpOnDelay_ = false; // said once per device
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
        int r = snd_pcm_start(pcm_.pcm_);
        if (r < 0)
            pcm_.Break(r);
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

    std::string Error() const override { return pcm_.error_; }
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

} // namespace zq::wave
