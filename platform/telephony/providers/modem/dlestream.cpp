#include "dlestream.h"

namespace zq::modem {

VoiceEvent voiceEventOf(uint8_t c)
{
    if (isDtmfDigit(c))
        return VoiceEvent::Digit;
    switch (c) {
    case 'b':
        return VoiceEvent::Busy;
    case 'd':
        return VoiceEvent::DialTone;
    case 's':
        return VoiceEvent::Silence;
    case 'q':
        return VoiceEvent::Quiet;
    case 'l':
        return VoiceEvent::LoopLoss;
    case 'L':
        return VoiceEvent::LoopReversal;
    case 'R':
        return VoiceEvent::Ring;
    case 'c':
        return VoiceEvent::CallingTone;
    case 'a':
    case 'e':
        return VoiceEvent::AnswerTone;
    case 'f':
        return VoiceEvent::FaxTone;
    case ETX:
        return VoiceEvent::EndOfData;
    default:
        return VoiceEvent::Other;
    }
}

size_t DleDecoder::decode(
    const uint8_t* data, size_t size, std::vector<uint8_t>& samples, std::vector<DleCode>& events)
{
    const size_t base = samples.size();
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (!pending_) {
            if (c == DLE)
                pending_ = true;
            else
                samples.push_back(c);
            continue;
        }
        pending_ = false;
        if (c == DLE) {
            samples.push_back(DLE);
        } else if (c == SUB) {
            // Some modems shorten two DLEs of data to DLE SUB.
            samples.push_back(DLE);
            samples.push_back(DLE);
        } else {
            DleCode e;
            e.event = voiceEventOf(c);
            e.code = static_cast<char>(c);
            e.offset = samples.size() - base;
            events.push_back(e);
            if (c == ETX)
                return i + 1;
        }
    }
    return size;
}

void dleEscape(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    out.reserve(out.size() + size + size / 64 + 2);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        if (data[i] == DLE)
            out.push_back(DLE);
    }
}

} // namespace zq::modem
