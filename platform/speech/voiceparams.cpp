#include "voiceparams_p.h"

#include "sapitypes.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace zq::speech {

namespace {
constexpr int kNormalWordsPerMinute = 175;
constexpr int kFloorWordsPerMinute = 80;
constexpr int kDefaultAmplitude = 100;
} // namespace

int WordsPerMinuteForRate(int32_t rate)
{
    CheckRate(rate);
    const double wpm = kNormalWordsPerMinute * std::pow(3.0, rate / 10.0);
    return std::max(kFloorWordsPerMinute, static_cast<int>(std::lround(wpm)));
}

int AmplitudeForVolume(int32_t volume)
{
    CheckVolume(volume);
    return kDefaultAmplitude * volume / kMaxVolume;
}

void CheckRate(int32_t rate)
{
    if (rate < kMinRate || rate > kMaxRate)
        throw SpeechEngineError(
            E_INVALIDARG, "The speaking rate " + std::to_string(rate) + " is outside the range -10 to 10.");
}

void CheckVolume(int32_t volume)
{
    if (volume < kMinVolume || volume > kMaxVolume)
        throw SpeechEngineError(
            E_INVALIDARG, "The volume " + std::to_string(volume) + " is outside the range 0 to 100.");
}

} // namespace zq::speech
