#pragma once
// Audio format objects: a wave format record with its fields, and the format
// object a stream carries, which hands out and takes such records.
#include "sapitypes.h"
#include "zqspeechengine_export.h"

#include <memory>
#include <mutex>

namespace zq::speech {

// The PCM layout the engine renders; values are checked when a stream's
// format object takes them, not when they are put, so a caller can fill the
// fields in any order.
class SpWaveFormatEx {
public:
    int32_t get_FormatTag() const { return formatTag_; }
    void put_FormatTag(int32_t value) { formatTag_ = value; }
    int32_t get_Channels() const { return channels_; }
    void put_Channels(int32_t value) { channels_ = value; }
    int32_t get_SamplesPerSec() const { return samplesPerSec_; }
    void put_SamplesPerSec(int32_t value) { samplesPerSec_ = value; }
    int32_t get_AvgBytesPerSec() const { return avgBytesPerSec_; }
    void put_AvgBytesPerSec(int32_t value) { avgBytesPerSec_ = value; }
    int32_t get_BlockAlign() const { return blockAlign_; }
    void put_BlockAlign(int32_t value) { blockAlign_ = value; }
    int32_t get_BitsPerSample() const { return bitsPerSample_; }
    void put_BitsPerSample(int32_t value) { bitsPerSample_ = value; }

private:
    // The engine's native layout until told otherwise.
    int32_t formatTag_ = WAVE_FORMAT_PCM;
    int32_t channels_ = 1;
    int32_t samplesPerSec_ = 22050;
    int32_t avgBytesPerSec_ = 44100;
    int32_t blockAlign_ = 2;
    int32_t bitsPerSample_ = 16;
};

// Throws SPERR_UNSUPPORTED_FORMAT unless the record describes PCM the engine
// can produce: 1 or 2 channels, 8 or 16 bits, 1000..192000 samples per second,
// with block align and byte rate consistent with those.
ZQSPEECHENGINE_EXPORT void CheckRenderableFormat(const SpWaveFormatEx& format);

// A stream's format. The stream shares this object, so setting a wave format
// here changes what the stream holds from then on.
class ZQSPEECHENGINE_EXPORT SpAudioFormat {
public:
    // A copy of the current record; changing it has no effect until it is
    // given back through SetWaveFormatEx.
    std::shared_ptr<SpWaveFormatEx> GetWaveFormatEx() const;
    void SetWaveFormatEx(const std::shared_ptr<SpWaveFormatEx>& waveFormat);

private:
    mutable std::mutex mutex_;
    SpWaveFormatEx format_;
};

} // namespace zq::speech
