#pragma once
// The shielded byte stream of a modem's voice mode: sample data in which the
// byte DLE (0x10) introduces a code. Received, DLE DLE is one DLE of data and
// DLE followed by anything else is an event (a digit, a tone, the end of the
// data). Sent, every DLE of the samples is doubled and DLE ETX ends the data.
//
// Threads: a decoder belongs to the thread that reads its port.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::modem {

constexpr uint8_t DLE = 0x10;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t SUB = 0x1A;
constexpr uint8_t CAN = 0x18;

enum class VoiceEvent {
    Digit, // DTMF 0-9 * # A-D
    Busy, // b
    DialTone, // d
    Silence, // s
    Quiet, // q
    LoopLoss, // l: the far end hung up
    LoopReversal, // L
    Ring, // R
    CallingTone, // c
    AnswerTone, // a, e
    FaxTone, // f
    EndOfData, // ETX: the modem stopped sending samples
    Other,
};

struct DleCode {
    VoiceEvent event = VoiceEvent::Other;
    char code = 0; // the byte after DLE
    size_t offset = 0; // samples bytes decoded before the event
};

// Maps the byte after DLE to its meaning.
VoiceEvent voiceEventOf(uint8_t code);
inline bool isDtmfDigit(uint8_t c)
{
    return (c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D');
}

class DleDecoder {
public:
    // Appends the sample bytes of data to samples and the events to events; a
    // DLE at the end of data waits for its second byte in the next call.
    // Stops right after DLE ETX, where the stream ends and the modem's command
    // state begins, and returns how many bytes it took.
    size_t decode(
        const uint8_t* data, size_t size, std::vector<uint8_t>& samples, std::vector<DleCode>& events);
    void reset() { pending_ = false; }
    bool pending() const { return pending_; }

private:
    bool pending_ = false;
};

// Appends data to out with every DLE doubled.
void dleEscape(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

} // namespace zq::modem
