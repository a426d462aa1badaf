#pragma once
// The wave devices of telephony lines and the sample conversion between what
// an application opens and a line's own format. The service registers each
// line's devices once per line key and points them at the line's LineAudio;
// providers need not call this themselves.
#include "mmsystem.h"
#include "provider.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zq::telephony {

struct LineWaveIds {
    UINT in = 0;
    UINT out = 0;
};

// The devices of the line with this key ("<provider>/<line key>"), registered
// as "<name> Record" / "<name> Playback" on the first call and kept, with
// their identifiers, for the life of the process. Thread-safe.
LineWaveIds LineWaveDevices(const std::string& key, const std::string& name);
// Where the devices of that key go from now on; null: nowhere (playback is
// discarded, recording is silent). An open device follows at once.
void AttachLineAudio(const std::string& key, std::shared_ptr<LineAudio> audio);

// MMSYSERR_NOERROR when a device of a line in `line` format can take an
// application's `format` (converting it), WAVERR_BADFORMAT otherwise.
MMRESULT CheckLineFormat(const WAVEFORMATEX& format);

AudioFormat FormatOf(const WAVEFORMATEX& format);

// Converts a stream of PCM from one format to another: width, channels
// (averaged to mono, copied to stereo) and rate (libsoxr). One direction of
// one stream; not thread-safe.
class PcmConverter {
public:
    PcmConverter(AudioFormat from, AudioFormat to);
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;
    // Appends the converted form of `bytes` (whole input frames) to out.
    void Convert(const void* data, size_t bytes, std::vector<uint8_t>* out);
    // Appends what the resampler still holds (end of stream).
    void Flush(std::vector<uint8_t>* out);
    bool Identity() const { return identity_; }
    const AudioFormat& From() const { return from_; }
    const AudioFormat& To() const { return to_; }

private:
    void Emit(const std::vector<int16_t>& mono, std::vector<uint8_t>* out) const;
    AudioFormat from_, to_;
    bool identity_;
    void* soxr_ = nullptr; // soxr_t, when the rates differ
};

} // namespace zq::telephony
