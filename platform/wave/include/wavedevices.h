#pragma once
// Wave devices beyond the system's sound card: a provider (a telephony line,
// a test) registers an endpoint and gets the device identifier programs pass
// to waveOutOpen/waveInOpen. The layer queues, paces and completes the
// buffers; an endpoint only takes or gives PCM bytes.
//
// Identifiers are never reused while the process runs, so an identifier
// handed out earlier (say, by a line's device list) never names another
// device. Output and input identifiers are separate spaces, as in Windows.
// Device 0 is ALSA's "default" PCM, or the PCM named by the environment
// variable ZQ_WAVE_OUT_PCM (ZQ_WAVE_IN_PCM for input), read at each open.
#include "mmsystem.h"
#include "zqwave_export.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zq::wave {

// Where a device's output goes: "accept these bytes of the opened format".
// An endpoint is opened by one handle at a time (a second open gets
// MMSYSERR_ALLOCATED). All calls come from the device's worker thread except
// Open, which comes from the thread calling waveOutOpen; they never overlap.
class ZQWAVE_EXPORT WaveOutEndpoint {
public:
    virtual ~WaveOutEndpoint() = default;
    // Refuse a format with WAVERR_BADFORMAT (or any other MMRESULT).
    virtual MMRESULT Open(const WAVEFORMATEX& format)
    {
        (void)format;
        return MMSYSERR_NOERROR;
    }
    // Audio that is being played out, whole blocks. With RealTime() it comes
    // in pieces of about 20 ms, each Lead() before its play time.
    virtual void Write(const void* data, size_t bytes) = 0;
    // The program reset the device: nothing more of the queued audio comes.
    virtual void Reset() { }
    virtual void Close() { }
    // False: take the audio as fast as it is queued (tests, file sinks).
    virtual bool RealTime() const { return true; }
    // With RealTime(): how far ahead of its play time audio is handed over
    // (at most a second). The buffers still complete at their play time. A
    // line's far end so has the audio before the sender's program counts it
    // as played (a call hung up after the last buffer has not cut its end),
    // and a sender held up for less than this (a busy machine) leaves no gap.
    // An endpoint that must get audio exactly at its play time returns 0.
    static constexpr std::chrono::milliseconds kDefaultLead { 120 };
    virtual std::chrono::milliseconds Lead() const { return kDefaultLead; }
};

// Where a device's input comes from: "deliver captured bytes of the opened
// format". Threads as for WaveOutEndpoint.
class ZQWAVE_EXPORT WaveInEndpoint {
public:
    virtual ~WaveInEndpoint() = default;
    virtual MMRESULT Open(const WAVEFORMATEX& format)
    {
        (void)format;
        return MMSYSERR_NOERROR;
    }
    // Fills up to `bytes` (whole blocks) with the audio captured since the
    // last call and returns how many it filled; the layer pads the rest with
    // silence, as a line is never without sound. With RealTime() the layer
    // asks about every 20 ms for the audio of that time.
    virtual size_t Read(void* data, size_t bytes) = 0;
    virtual void Start() { }
    virtual void Stop() { }
    virtual void Close() { }
    // False: fill queued buffers as fast as they are added.
    virtual bool RealTime() const { return true; }
};

// Both throw std::invalid_argument for a null endpoint. A device that is
// unregistered while open keeps working for that handle until it is closed.
ZQWAVE_EXPORT UINT RegisterWaveOutDevice(const std::string& name, std::shared_ptr<WaveOutEndpoint> endpoint);
ZQWAVE_EXPORT UINT RegisterWaveInDevice(const std::string& name, std::shared_ptr<WaveInEndpoint> endpoint);

// An output device writing what is played into a file (wavefile.h): WAV,
// FLAC, Ogg or bare PCM by the file's extension (FromExtension), or WAV or
// bare PCM whatever the name. The path is only ever a file name. Nobody
// listens to a file, so buffers complete as fast as they are written. Each
// open starts the file anew; a regular file is replaced when the device is
// closed, and a FIFO or character device is written into. A destination
// that cannot be written fails waveOutOpen with MMSYSERR_ERROR.
enum class WaveFileFormat { Wav, Raw, FromExtension };
ZQWAVE_EXPORT UINT RegisterWaveOutFileDevice(
    const std::string& name, const std::string& path, WaveFileFormat format = WaveFileFormat::FromExtension);
// Why the file device's last open, a write or its completion failed; empty
// when all went well (or for a device that is not a file device). After a
// failed write the device drops the rest but still completes every buffer.
ZQWAVE_EXPORT std::string WaveOutFileDeviceError(UINT deviceId);

// Why an open handle's device stopped working (a sound server that went
// away, a card unplugged), with ALSA's reason; empty while it works. Such a
// device returns every queued buffer at once, and so do later writes; the
// reason is also written to the debug output.
ZQWAVE_EXPORT std::string WaveOutHandleError(HWAVEOUT handle);
ZQWAVE_EXPORT std::string WaveInHandleError(HWAVEIN handle);

ZQWAVE_EXPORT BOOL UnregisterWaveOutDevice(UINT deviceId);
ZQWAVE_EXPORT BOOL UnregisterWaveInDevice(UINT deviceId);

struct WaveDeviceInfo {
    UINT id = 0;
    std::string name; // full name (the capabilities keep 31 characters)
};
// Registered devices in identifier order, device 0 first.
ZQWAVE_EXPORT std::vector<WaveDeviceInfo> WaveOutDevices();
ZQWAVE_EXPORT std::vector<WaveDeviceInfo> WaveInDevices();

} // namespace zq::wave
