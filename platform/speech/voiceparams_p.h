#pragma once
// How the speech API's Rate and Volume scales land on the synthesiser's.
#include <cstdint>

namespace zq::speech {

constexpr int32_t kMinRate = -10;
constexpr int32_t kMaxRate = 10;
constexpr int32_t kMinVolume = 0;
constexpr int32_t kMaxVolume = 100;

// Rate 0 is the synthesiser's normal 175 words per minute; each step of 10
// multiplies or divides by 3, as the speech API defines its scale. The result
// never drops below the synthesiser's floor of 80 words per minute.
int WordsPerMinuteForRate(int32_t rate);

// Volume 100 is the synthesiser's default amplitude, the loudest it renders
// without clipping; lower volumes scale it linearly down to silence at 0.
int AmplitudeForVolume(int32_t volume);

// Throw SpeechEngineError (E_INVALIDARG) for values outside the scales.
void CheckRate(int32_t rate);
void CheckVolume(int32_t volume);

} // namespace zq::speech
