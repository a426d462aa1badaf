#include "wavebackend_p.h"

namespace zq::wave {

PcmFormat PcmFormat::From(const WAVEFORMATEX& f)
{
    PcmFormat p;
    p.rate = f.nSamplesPerSec;
    p.channels = f.nChannels;
    p.bits = f.wBitsPerSample;
    p.blockAlign = f.nBlockAlign;
    return p;
}

MMRESULT ValidatePcmFormat(const WAVEFORMATEX& f)
{
    const uint32_t rate = f.nSamplesPerSec;
    const uint32_t channels = f.nChannels;
    const uint32_t bits = f.wBitsPerSample;
    if (f.wFormatTag != WAVE_FORMAT_PCM)
        return WAVERR_BADFORMAT;
    if (channels < 1 || channels > 8)
        return WAVERR_BADFORMAT;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return WAVERR_BADFORMAT;
    if (rate < 1000 || rate > 384000)
        return WAVERR_BADFORMAT;
    if (f.nBlockAlign != channels * bits / 8 || f.nAvgBytesPerSec != rate * f.nBlockAlign)
        return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

} // namespace zq::wave
