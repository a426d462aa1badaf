#pragma once
// One call's media: a UDP socket and a thread that every 20 ms, on absolute
// deadlines of the monotonic clock, sends one packet (the queued audio, or
// silence, so sequence numbers and timestamps run on unbroken) and plays out
// one frame of received audio through the jitter buffer.
//
// Threads: Bind, Start, Stop and the accessors are for the owner's thread;
// Send and SendDigits may come from any thread. The callbacks run on the
// media thread, never while the session holds a lock of its own.
#include "g711.h"

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zq::sip {

struct RtpConfig {
    G711Law law = G711Law::MuLaw;
    int payloadType = kPayloadPcmu;
    int eventPayloadType = -1; // telephone-event as the peer receives it, -1 none
    int receiveEventPayloadType = -1; // and as we receive it, -1 as above
    sockaddr_storage remote {}; // until the peer's own packets say otherwise
    socklen_t remoteLength = 0;
    int jitterDelayMs = 120;
};

struct RtpCallbacks {
    // 20 ms of received audio, 160 samples, silence included.
    std::function<void(const int16_t*, size_t)> audio;
    std::function<void(char)> digit;
};

struct RtpStats {
    uint64_t sent = 0, received = 0, late = 0, concealed = 0;
};

class RtpSession {
public:
    ~RtpSession();
    // A socket on the first free even port of [portMin, portMax] (0, 0: any
    // port) at a numeric local address. Null with *error set on failure.
    static std::unique_ptr<RtpSession> Bind(
        const std::string& localAddress, int portMin, int portMax, std::string* error);
    int LocalPort() const;

    void Start(const RtpConfig& config, RtpCallbacks callbacks);
    // Waits for the media thread; safe to call twice.
    void Stop();

    // 16-bit PCM at 8 kHz to send, in order, in real time.
    void Send(const int16_t* pcm, size_t samples);
    // Queues digits as telephone-events (or nothing when none was agreed).
    void SendDigits(const std::string& digits);
    // Samples queued and not yet sent; dropping them (the player stopped).
    size_t Queued();
    void DropQueued();
    RtpStats Stats() const;

private:
    struct Private;
    RtpSession();
    const std::unique_ptr<Private> d_;
};

} // namespace zq::sip
