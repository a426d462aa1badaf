#pragma once
// The audio part of session descriptions: what we offer or answer with, and
// what the two descriptions of a call leave us to send and receive.
#include "rtpsession.h"

#include <optional>
#include <string>
#include <vector>

namespace zq::sip {

inline constexpr int kTelephoneEventPayload = 101;

// An audio description at address:port with the G.711 payload types in the
// order given and telephone-event.
std::string BuildSdp(const std::string& address, int port, const std::vector<int>& codecs);

struct SdpAudio {
    std::string address;
    int port = 0;
    std::vector<int> g711; // payload types 0 and 8 in the order listed
    int eventPayloadType = -1;
};
// The first audio stream of a description, null when it has none that is
// usable (absent, refused with port 0, or without G.711).
std::optional<SdpAudio> ParseSdpAudio(const std::string& sdp);

// The media settings of a call from our description and the peer's: the
// first codec the peer lists that we list too, telephone-event on each
// side's own payload type when both have it, and the peer's address.
std::optional<RtpConfig> NegotiateAudio(const std::string& localSdp, const std::string& remoteSdp);

} // namespace zq::sip
