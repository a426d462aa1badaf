#include "rtppacket.h"

#include <cctype>

namespace zq::sip {

namespace {
uint16_t Get16(const uint8_t* p)
{
    return uint16_t((p[0] << 8) | p[1]);
}
uint32_t Get32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
void Put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void Put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
} // namespace

std::optional<RtpView> ParseRtp(const uint8_t* data, size_t size)
{
    if (size < 12 || (data[0] >> 6) != 2)
        return std::nullopt;
    const bool padding = data[0] & 0x20;
    const bool extension = data[0] & 0x10;
    const size_t csrcs = data[0] & 0x0f;
    RtpView v;
    v.header.marker = data[1] & 0x80;
    v.header.payloadType = data[1] & 0x7f;
    // RTCP packet types 200..204 read as marker + 72..76 here.
    if (v.header.payloadType >= 72 && v.header.payloadType <= 76)
        return std::nullopt;
    v.header.sequence = Get16(data + 2);
    v.header.timestamp = Get32(data + 4);
    v.header.ssrc = Get32(data + 8);
    size_t offset = 12 + 4 * csrcs;
    if (offset > size)
        return std::nullopt;
    if (extension) {
        if (offset + 4 > size)
            return std::nullopt;
        const size_t words = Get16(data + offset + 2);
        offset += 4 + 4 * words;
        if (offset > size)
            return std::nullopt;
    }
    size_t end = size;
    if (padding) {
        const size_t pad = data[size - 1];
        if (pad == 0 || pad > end - offset)
            return std::nullopt;
        end -= pad;
    }
    v.payload = data + offset;
    v.payloadSize = end - offset;
    return v;
}

std::vector<uint8_t> BuildRtp(const RtpHeader& h, const uint8_t* payload, size_t size)
{
    std::vector<uint8_t> p(12 + size);
    p[0] = 0x80;
    p[1] = uint8_t((h.marker ? 0x80 : 0) | (h.payloadType & 0x7f));
    Put16(&p[2], h.sequence);
    Put32(&p[4], h.timestamp);
    Put32(&p[8], h.ssrc);
    for (size_t i = 0; i < size; ++i)
        p[12 + i] = payload[i];
    return p;
}

std::optional<TelephoneEvent> ParseTelephoneEvent(const uint8_t* payload, size_t size)
{
    // Redundant events may follow the first; the first is the current one.
    if (size < 4)
        return std::nullopt;
    TelephoneEvent e;
    e.event = payload[0];
    e.end = payload[1] & 0x80;
    e.volume = payload[1] & 0x3f;
    e.duration = Get16(payload + 2);
    return e;
}

void BuildTelephoneEvent(const TelephoneEvent& e, uint8_t out[4])
{
    out[0] = e.event;
    out[1] = uint8_t((e.end ? 0x80 : 0) | (e.volume & 0x3f));
    Put16(out + 2, e.duration);
}

char EventDigit(uint8_t event)
{
    static const char digits[] = "0123456789*#ABCD";
    return event < 16 ? digits[event] : '\0';
}

int DigitEvent(char digit)
{
    const char c = char(std::toupper(static_cast<unsigned char>(digit)));
    if (c >= '0' && c <= '9')
        return c - '0';
    switch (c) {
    case '*':
        return 10;
    case '#':
        return 11;
    case 'A':
    case 'B':
    case 'C':
    case 'D':
        return 12 + (c - 'A');
    }
    return -1;
}

} // namespace zq::sip
