#pragma once
// The sample formats a voice modem offers (its answer to AT+VSM=?), the one
// chosen, and the conversion between it and the 16-bit linear samples at
// 8000 per second that the line's wave devices carry.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::modem {

enum class SampleCoding { None, Linear16, Unsigned8, Signed8, Ulaw, Alaw };

struct VoiceFormat {
    SampleCoding coding = SampleCoding::None;
    int id = -1; // the modem's compression method number
    size_t bytesPerSample() const { return coding == SampleCoding::Linear16 ? 2 : 1; }
};

// Picks from the information lines of AT+VSM=?: 16-bit linear where offered,
// else 8-bit linear, else G.711 (mu-law, then A-law). None when nothing fits.
VoiceFormat chooseVoiceFormat(const std::vector<std::string>& vsmLines);

// Samples in the modem's coding from 16-bit linear ones, and back. Linear16
// is little-endian, as the modems send it.
void encodeSamples(SampleCoding coding, const int16_t* in, size_t count, std::vector<uint8_t>& out);
void decodeSamples(SampleCoding coding, const uint8_t* in, size_t size, std::vector<int16_t>& out);

uint8_t linearToUlaw(int16_t sample);
int16_t ulawToLinear(uint8_t code);
uint8_t linearToAlaw(int16_t sample);
int16_t alawToLinear(uint8_t code);

} // namespace zq::modem
