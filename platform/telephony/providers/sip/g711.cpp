// The companding itself is spandsp's; this only picks the law.
#include "g711.h"

#include <spandsp.h>

namespace zq::sip {

void G711Encode(G711Law law, const int16_t* pcm, size_t samples, uint8_t* out)
{
    if (law == G711Law::MuLaw) {
        for (size_t i = 0; i < samples; ++i)
            out[i] = linear_to_ulaw(pcm[i]);
    } else {
        for (size_t i = 0; i < samples; ++i)
            out[i] = linear_to_alaw(pcm[i]);
    }
}

void G711Decode(G711Law law, const uint8_t* in, size_t samples, int16_t* pcm)
{
    if (law == G711Law::MuLaw) {
        for (size_t i = 0; i < samples; ++i)
            pcm[i] = ulaw_to_linear(in[i]);
    } else {
        for (size_t i = 0; i < samples; ++i)
            pcm[i] = alaw_to_linear(in[i]);
    }
}

} // namespace zq::sip
