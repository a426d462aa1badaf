#pragma once
// RTP packets (fixed header, CSRC list, header extension and padding) and the
// telephone-event payload carried in them. Parsing never trusts a length it
// has not checked against the datagram.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zq::sip {

struct RtpHeader {
    bool marker = false;
    uint8_t payloadType = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
};

struct RtpView {
    RtpHeader header;
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;
};

// Null for anything that is not a well-formed version 2 RTP packet, and for
// RTCP sharing the port (payload types 72..76 with the marker bit).
std::optional<RtpView> ParseRtp(const uint8_t* data, size_t size);
std::vector<uint8_t> BuildRtp(const RtpHeader& h, const uint8_t* payload, size_t size);

struct TelephoneEvent {
    uint8_t event = 0; // 0-9, 10 '*', 11 '#', 12-15 A-D
    bool end = false;
    uint8_t volume = 10; // -dBm0
    uint16_t duration = 0; // in timestamp units
};

std::optional<TelephoneEvent> ParseTelephoneEvent(const uint8_t* payload, size_t size);
void BuildTelephoneEvent(const TelephoneEvent& e, uint8_t out[4]);

// The digit of an event ('\0' for events that are not DTMF) and back (-1).
char EventDigit(uint8_t event);
int DigitEvent(char digit);

} // namespace zq::sip
