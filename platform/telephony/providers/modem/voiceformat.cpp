#include "voiceformat_p.h"

#include <cctype>
#include <cstdlib>

namespace zq::modem {

namespace {

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool has(const std::string& s, const char* what)
{
    return s.find(what) != std::string::npos;
}

SampleCoding codingOf(const std::string& line, int& id)
{
    // <id>,"<name>",<bits per sample>,... ; some modems leave the bits out
    // and name them instead ("16-BIT LINEAR").
    const std::string u = upper(line);
    char* end = nullptr;
    const long n = std::strtol(u.c_str(), &end, 10);
    if (end == u.c_str() || *end != ',')
        return SampleCoding::None;
    id = static_cast<int>(n);
    const size_t q1 = u.find('"');
    const size_t q2 = q1 == std::string::npos ? std::string::npos : u.find('"', q1 + 1);
    if (q2 == std::string::npos)
        return SampleCoding::None;
    const std::string name = u.substr(q1 + 1, q2 - q1 - 1);
    int bits = 0;
    if (q2 + 2 < u.size() && u[q2 + 1] == ',' && std::isdigit(static_cast<unsigned char>(u[q2 + 2])))
        bits = std::atoi(u.c_str() + q2 + 2);
    if (bits == 0)
        bits = has(name, "16") ? 16 : has(name, "8") ? 8 : 0;
    if (has(name, "ULAW") || has(name, "U-LAW") || has(name, "MU-LAW") || has(name, "G.711U"))
        return SampleCoding::Ulaw;
    if (has(name, "ALAW") || has(name, "A-LAW") || has(name, "G.711A"))
        return SampleCoding::Alaw;
    if (has(name, "PCM") || has(name, "LINEAR")) {
        if (bits == 16)
            return SampleCoding::Linear16;
        if (bits == 8)
            return has(name, "UNSIGNED") || !has(name, "SIGNED") ? SampleCoding::Unsigned8
                                                                 : SampleCoding::Signed8;
    }
    return SampleCoding::None;
}

int rank(SampleCoding c)
{
    switch (c) {
    case SampleCoding::Linear16:
        return 5;
    case SampleCoding::Unsigned8:
        return 4;
    case SampleCoding::Signed8:
        return 3;
    case SampleCoding::Ulaw:
        return 2;
    case SampleCoding::Alaw:
        return 1;
    default:
        return 0;
    }
}

} // namespace

VoiceFormat chooseVoiceFormat(const std::vector<std::string>& lines)
{
    VoiceFormat best;
    for (const std::string& l : lines) {
        int id = -1;
        const SampleCoding c = codingOf(l, id);
        if (rank(c) > rank(best.coding)) {
            best.coding = c;
            best.id = id;
        }
    }
    return best;
}

// G.711 as in the ITU-T reference: segment and mantissa of the magnitude.
uint8_t linearToUlaw(int16_t sample)
{
    constexpr int kBias = 0x84;
    constexpr int kClip = 32635;
    int s = sample;
    const int sign = s < 0 ? 0x80 : 0;
    if (s < 0)
        s = -s;
    if (s > kClip)
        s = kClip;
    s += kBias;
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (s >> (exponent + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

int16_t ulawToLinear(uint8_t code)
{
    code = static_cast<uint8_t>(~code);
    const int sign = code & 0x80;
    const int exponent = (code >> 4) & 0x07;
    const int mantissa = code & 0x0F;
    int s = ((mantissa << 3) + 0x84) << exponent;
    s -= 0x84;
    return static_cast<int16_t>(sign ? -s : s);
}

uint8_t linearToAlaw(int16_t sample)
{
    int s = sample;
    int sign = 0x80;
    if (s < 0) {
        s = -s - 1;
        sign = 0;
    }
    if (s > 32767)
        s = 32767;
    int code;
    if (s < 256) {
        code = s >> 4;
    } else {
        int exponent = 1;
        for (int v = s >> 8; v > 1; v >>= 1)
            ++exponent;
        code = (exponent << 4) | ((s >> (exponent + 3)) & 0x0F);
    }
    return static_cast<uint8_t>((code | sign) ^ 0x55);
}

int16_t alawToLinear(uint8_t code)
{
    code ^= 0x55;
    const int exponent = (code >> 4) & 0x07;
    const int mantissa = code & 0x0F;
    int s = exponent == 0 ? (mantissa << 4) + 8 : ((mantissa << 4) + 0x108) << (exponent - 1);
    return static_cast<int16_t>((code & 0x80) ? s : -s);
}

void encodeSamples(SampleCoding coding, const int16_t* in, size_t count, std::vector<uint8_t>& out)
{
    for (size_t i = 0; i < count; ++i) {
        const int16_t s = in[i];
        switch (coding) {
        case SampleCoding::Linear16:
            out.push_back(static_cast<uint8_t>(s & 0xFF));
            out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
            break;
        case SampleCoding::Unsigned8:
            out.push_back(static_cast<uint8_t>((s >> 8) + 128));
            break;
        case SampleCoding::Signed8:
            out.push_back(static_cast<uint8_t>(static_cast<int8_t>(s >> 8)));
            break;
        case SampleCoding::Ulaw:
            out.push_back(linearToUlaw(s));
            break;
        case SampleCoding::Alaw:
            out.push_back(linearToAlaw(s));
            break;
        case SampleCoding::None:
            break;
        }
    }
}

void decodeSamples(SampleCoding coding, const uint8_t* in, size_t size, std::vector<int16_t>& out)
{
    if (coding == SampleCoding::Linear16) {
        for (size_t i = 0; i + 1 < size; i += 2)
            out.push_back(static_cast<int16_t>(in[i] | (in[i + 1] << 8)));
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        switch (coding) {
        case SampleCoding::Unsigned8:
            out.push_back(static_cast<int16_t>((in[i] - 128) << 8));
            break;
        case SampleCoding::Signed8:
            out.push_back(static_cast<int16_t>(static_cast<int8_t>(in[i]) * 256));
            break;
        case SampleCoding::Ulaw:
            out.push_back(ulawToLinear(in[i]));
            break;
        case SampleCoding::Alaw:
            out.push_back(alawToLinear(in[i]));
            break;
        default:
            break;
        }
    }
}

} // namespace zq::modem
