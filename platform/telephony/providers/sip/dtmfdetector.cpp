#include "dtmfdetector_p.h"

#include <spandsp.h>

namespace zq::sip {

DtmfDetector::DtmfDetector(std::function<void(char)> onDigit)
    : onDigit_(std::move(onDigit))
    , rx_(dtmf_rx_init(nullptr, &DtmfDetector::Digits, this))
{
}

DtmfDetector::~DtmfDetector()
{
    dtmf_rx_free(rx_);
}

void DtmfDetector::Digits(void* self, const char* digits, int len)
{
    auto* d = static_cast<DtmfDetector*>(self);
    for (int i = 0; i < len; ++i)
        d->onDigit_(digits[i]);
}

void DtmfDetector::Feed(const int16_t* pcm, size_t samples)
{
    dtmf_rx(rx_, pcm, int(samples));
}

} // namespace zq::sip
