// Any datagram that reaches the audio port: the RTP parser and the
// telephone-event parser must neither read outside it nor crash.
#include "rtppacket.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto rtp = zq::sip::ParseRtp(data, size);
    if (!rtp)
        return 0;
    // The payload must lie inside the datagram.
    if (rtp->payload < data || rtp->payload + rtp->payloadSize > data + size)
        __builtin_trap();
    if (const auto e = zq::sip::ParseTelephoneEvent(rtp->payload, rtp->payloadSize))
        (void)zq::sip::EventDigit(e->event);
    return 0;
}
