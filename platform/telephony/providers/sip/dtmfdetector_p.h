#pragma once
// Digits heard in received audio, for peers that send no telephone-event.
// Not thread-safe: the media thread owns it.
#include <cstddef>
#include <cstdint>
#include <functional>

struct dtmf_rx_state_s;

namespace zq::sip {

class DtmfDetector {
public:
    explicit DtmfDetector(std::function<void(char)> onDigit);
    ~DtmfDetector();
    DtmfDetector(const DtmfDetector&) = delete;
    DtmfDetector& operator=(const DtmfDetector&) = delete;
    void Feed(const int16_t* pcm, size_t samples);

private:
    static void Digits(void* self, const char* digits, int len);
    std::function<void(char)> onDigit_;
    dtmf_rx_state_s* rx_ = nullptr;
};

} // namespace zq::sip
