#include "spaudioformat.h"

#include <string>

namespace zq::speech {

void CheckRenderableFormat(const SpWaveFormatEx& f)
{
    auto reject = [](const std::string& why) {
        throw SpeechEngineError(SPERR_UNSUPPORTED_FORMAT, "Unsupported audio format: " + why + ".");
    };
    if (f.get_FormatTag() != WAVE_FORMAT_PCM)
        reject("format tag " + std::to_string(f.get_FormatTag()) + " is not PCM");
    if (f.get_Channels() != 1 && f.get_Channels() != 2)
        reject(std::to_string(f.get_Channels()) + " channels (1 or 2 are supported)");
    if (f.get_BitsPerSample() != 8 && f.get_BitsPerSample() != 16)
        reject(std::to_string(f.get_BitsPerSample()) + " bits per sample (8 or 16 are supported)");
    if (f.get_SamplesPerSec() < 1000 || f.get_SamplesPerSec() > 192000)
        reject(std::to_string(f.get_SamplesPerSec()) + " samples per second (1000 to 192000 are supported)");
    const int32_t blockAlign = f.get_Channels() * (f.get_BitsPerSample() / 8);
    if (f.get_BlockAlign() != blockAlign)
        reject(
            "block align " + std::to_string(f.get_BlockAlign()) + " should be " + std::to_string(blockAlign));
    if (f.get_AvgBytesPerSec() != blockAlign * f.get_SamplesPerSec())
        reject("average bytes per second " + std::to_string(f.get_AvgBytesPerSec()) + " should be "
            + std::to_string(blockAlign * f.get_SamplesPerSec()));
}

std::shared_ptr<SpWaveFormatEx> SpAudioFormat::GetWaveFormatEx() const
{
    std::lock_guard lock(mutex_);
    return std::make_shared<SpWaveFormatEx>(format_);
}

void SpAudioFormat::SetWaveFormatEx(const std::shared_ptr<SpWaveFormatEx>& waveFormat)
{
    if (!waveFormat)
        throw SpeechEngineError(E_POINTER, "No wave format was given.");
    CheckRenderableFormat(*waveFormat);
    std::lock_guard lock(mutex_);
    format_ = *waveFormat;
}

} // namespace zq::speech
