#pragma once
// G.711 as carried in RTP: payload type 0 is mu-law, 8 is A-law. One byte per
// sample at 8 kHz, so a 20 ms packet holds 160 bytes.
#include <cstddef>
#include <cstdint>

namespace zq::sip {

enum class G711Law { MuLaw, ALaw };

constexpr int kPayloadPcmu = 0;
constexpr int kPayloadPcma = 8;
constexpr int kSampleRate = 8000;
constexpr int kFrameSamples = 160; // 20 ms

void G711Encode(G711Law law, const int16_t* pcm, size_t samples, uint8_t* out);
void G711Decode(G711Law law, const uint8_t* in, size_t samples, int16_t* pcm);

} // namespace zq::sip
