#pragma once
// What a wave stream needs from the thing that actually plays or captures:
// ALSA, or an endpoint a provider registered. Backends are used by one
// stream at a time, under that stream's lock.
#include "mmsystem.h"
#include "wavedevices.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace zq::wave {

struct PcmFormat {
    uint32_t rate = 0;
    uint16_t channels = 0;
    uint16_t bits = 0;
    uint16_t blockAlign = 0;

    static PcmFormat From(const WAVEFORMATEX& f);
    uint8_t SilenceByte() const { return bits == 8 ? 0x80 : 0x00; }
};

// Checks a format the way the wave calls do: PCM, consistent block size and
// byte rate. MMSYSERR_NOERROR or WAVERR_BADFORMAT.
MMRESULT ValidatePcmFormat(const WAVEFORMATEX& f);

// How a stream decides that audio has been played (or captured).
enum class WavePacing {
    None, // at once: the backend takes (gives) everything immediately
    Clock, // the stream hands audio over when its time has come, by the clock
    Device, // the device has room or data; played once its delay has drained
};

class WaveOutBackend {
public:
    virtual ~WaveOutBackend() = default;
    virtual MMRESULT Open(const WAVEFORMATEX& format) = 0;
    virtual void Close() = 0;
    virtual WavePacing Pacing() const = 0;
    // Frames the device takes now (Device pacing).
    virtual size_t Room() { return SIZE_MAX; }
    // Hands frames over; returns how many were taken.
    virtual size_t Write(const uint8_t* data, size_t frames) = 0;
    // Of the frames handed over since open (or the last drain or drop),
    // how many have been heard by `now` (Device pacing). Never decreases;
    // reaches all of them within a bounded time once writing stops.
    virtual uint64_t Heard(std::chrono::steady_clock::time_point now)
    {
        (void)now;
        return UINT64_MAX;
    }
    // Waits until everything handed over has been heard (Device pacing);
    // false when the device failed instead.
    virtual bool Drain() { return true; }
    // Drops whatever is queued in the device.
    virtual void Drop() = 0;
    // Why the device stopped working; empty while it works. A device that
    // failed takes every write at once.
    virtual std::string Error() const { return {}; }
    // Longest wait before Room is asked again while audio waits for room.
    virtual std::chrono::nanoseconds PollInterval() const { return std::chrono::milliseconds(10); }
    // Clock pacing: how far ahead of the clock audio may be handed over.
    virtual std::chrono::nanoseconds Lead() const { return std::chrono::nanoseconds(0); }
};

class WaveInBackend {
public:
    virtual ~WaveInBackend() = default;
    virtual MMRESULT Open(const WAVEFORMATEX& format) = 0;
    virtual void Close() = 0;
    virtual WavePacing Pacing() const = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // Frames captured and ready (Device pacing).
    virtual size_t Available() { return SIZE_MAX; }
    // Fills up to `frames` frames; returns how many it filled. Clock and None
    // backends always fill them all.
    virtual size_t Read(uint8_t* data, size_t frames) = 0;
    virtual std::string Error() const { return {}; }
    virtual std::chrono::nanoseconds PollInterval() const { return std::chrono::milliseconds(10); }
};

// ALSA by PCM name.
std::unique_ptr<WaveOutBackend> MakeAlsaOutBackend(std::string pcmName);
std::unique_ptr<WaveInBackend> MakeAlsaInBackend(std::string pcmName);

// Registered endpoints. The slot is shared by every open of the device, so a
// second open while one is active is refused.
template <class Endpoint> struct WaveSlot {
    std::shared_ptr<Endpoint> endpoint;
    std::mutex mutex;
    bool open = false;
};
using WaveOutSlot = WaveSlot<WaveOutEndpoint>;
using WaveInSlot = WaveSlot<WaveInEndpoint>;
std::unique_ptr<WaveOutBackend> MakeEndpointOutBackend(std::shared_ptr<WaveOutSlot> slot);
std::unique_ptr<WaveInBackend> MakeEndpointInBackend(std::shared_ptr<WaveInSlot> slot);

} // namespace zq::wave
