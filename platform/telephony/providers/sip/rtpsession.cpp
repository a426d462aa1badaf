#include "rtpsession.h"

#include "dtmfdetector_p.h"
#include "jitterbuffer_p.h"
#include "rtppacket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

namespace zq::sip {

namespace {
constexpr long kTickNs = 20'000'000;
constexpr long kMaxCatchUpNs = 200'000'000;
// A digit: 100 ms of tone, then 60 ms of audio before the next one. The end
// packet is sent three times, as packets get lost.
constexpr int kEventTicks = 5;
constexpr int kEndRepeats = 3;
constexpr int kGapTicks = 3;
constexpr size_t kMaxQueued = 8000 * 2; // 2 s; older audio is dropped

timespec Add(timespec t, long ns)
{
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1'000'000'000) {
        t.tv_nsec -= 1'000'000'000;
        ++t.tv_sec;
    }
    return t;
}
bool Before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}
timespec Minus(const timespec& a, const timespec& b)
{
    timespec d { a.tv_sec - b.tv_sec, a.tv_nsec - b.tv_nsec };
    if (d.tv_nsec < 0) {
        d.tv_nsec += 1'000'000'000;
        --d.tv_sec;
    }
    return d;
}
} // namespace

struct RtpSession::Private {
    ~Private();
    void Run();
    void Tick();
    void Receive();
    void SendPacket(bool marker, int payloadType, uint32_t timestamp, const uint8_t* payload, size_t size);

    int fd_ = -1;
    int wake_ = -1; // eventfd that ends the thread
    int port_ = 0;
    RtpConfig config_;
    RtpCallbacks callbacks_;
    std::thread thread_;

    std::mutex mutex_; // guards sendQueue_ and digits_
    std::deque<int16_t> sendQueue_;
    std::string digits_;

    // Media thread only.
    uint16_t sequence_ = 0;
    uint32_t timestamp_ = 0;
    uint32_t ssrc_ = 0;
    bool first_ = true;
    int eventTicks_ = -1; // -1: no event under way
    uint32_t eventStart_ = 0;
    uint8_t event_ = 0;
    int gapTicks_ = 0; // audio between two digits
    bool haveLastEvent_ = false;
    uint32_t lastEventTimestamp_ = 0;
    std::atomic<bool> peerSendsEvents_ { false };

    mutable std::mutex statsMutex_;
    RtpStats stats_;

    struct Media {
        JitterBuffer jitter;
        DtmfDetector inband;
        Media(int delayMs, std::function<void(char)> onDigit)
            : jitter(delayMs)
            , inband(std::move(onDigit))
        {
        }
    };
    std::unique_ptr<Media> media_;
};

RtpSession::RtpSession()
    : d_(std::make_unique<Private>())
{
}

RtpSession::Private::~Private()
{
    if (fd_ >= 0)
        close(fd_);
    if (wake_ >= 0)
        close(wake_);
}

std::unique_ptr<RtpSession> RtpSession::Bind(
    const std::string& localAddress, int portMin, int portMax, std::string* error)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    addrinfo* ai = nullptr;
    if (getaddrinfo(localAddress.empty() ? nullptr : localAddress.c_str(), "0", &hints, &ai) != 0 || !ai) {
        *error = "cannot use the local address " + localAddress + " for audio";
        return nullptr;
    }
    std::unique_ptr<RtpSession> s(new RtpSession);
    Private& d = *s->d_;
    d.fd_ = socket(ai->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (d.fd_ < 0) {
        freeaddrinfo(ai);
        *error = std::string("cannot open a socket for audio: ") + std::strerror(errno);
        return nullptr;
    }
    sockaddr_storage addr {};
    std::memcpy(&addr, ai->ai_addr, ai->ai_addrlen);
    const socklen_t length = ai->ai_addrlen;
    freeaddrinfo(ai);
    auto setPort = [&](int port) {
        if (addr.ss_family == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port = htons(uint16_t(port));
        else
            reinterpret_cast<sockaddr_in*>(&addr)->sin_port = htons(uint16_t(port));
    };
    bool bound = false;
    if (portMin <= 0 || portMax < portMin) {
        setPort(0);
        bound = bind(d.fd_, reinterpret_cast<sockaddr*>(&addr), length) == 0;
    } else {
        for (int port = portMin + (portMin & 1); port <= portMax && !bound; port += 2) {
            setPort(port);
            bound = bind(d.fd_, reinterpret_cast<sockaddr*>(&addr), length) == 0;
        }
    }
    if (!bound) {
        *error = "no free port for audio in " + std::to_string(portMin) + "-" + std::to_string(portMax);
        return nullptr;
    }
    sockaddr_storage got {};
    socklen_t gotLength = sizeof got;
    getsockname(d.fd_, reinterpret_cast<sockaddr*>(&got), &gotLength);
    d.port_ = got.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&got)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in*>(&got)->sin_port);
    d.wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return s;
}

// The media thread ends before the sockets close.
RtpSession::~RtpSession()
{
    Stop();
}

int RtpSession::LocalPort() const
{
    return d_->port_;
}

void RtpSession::Start(const RtpConfig& config, RtpCallbacks callbacks)
{
    Private* d = d_.get();
    if (d->thread_.joinable())
        return;
    d->config_ = config;
    d->callbacks_ = std::move(callbacks);
    std::random_device rd;
    d->ssrc_ = rd();
    d->sequence_ = uint16_t(rd());
    d->timestamp_ = rd();
    d->media_ = std::make_unique<Private::Media>(d->config_.jitterDelayMs, [d](char digit) {
        if (!d->peerSendsEvents_ && d->callbacks_.digit)
            d->callbacks_.digit(digit);
    });
    d->thread_ = std::thread([d] { d->Run(); });
}

void RtpSession::Stop()
{
    if (!d_->thread_.joinable())
        return;
    const uint64_t one = 1;
    (void)!write(d_->wake_, &one, sizeof one);
    d_->thread_.join();
}

void RtpSession::Send(const int16_t* pcm, size_t samples)
{
    std::lock_guard lock(d_->mutex_);
    auto& queue = d_->sendQueue_;
    queue.insert(queue.end(), pcm, pcm + samples);
    if (queue.size() > kMaxQueued)
        queue.erase(queue.begin(), queue.begin() + (queue.size() - kMaxQueued));
}

void RtpSession::SendDigits(const std::string& digits)
{
    std::lock_guard lock(d_->mutex_);
    for (char c : digits)
        if (DigitEvent(c) >= 0)
            d_->digits_ += c;
}

size_t RtpSession::Queued()
{
    std::lock_guard lock(d_->mutex_);
    return d_->sendQueue_.size();
}

void RtpSession::DropQueued()
{
    std::lock_guard lock(d_->mutex_);
    d_->sendQueue_.clear();
}

RtpStats RtpSession::Stats() const
{
    std::lock_guard lock(d_->statsMutex_);
    return d_->stats_;
}

void RtpSession::Private::Run()
{
    // Packets go out on time even on a busy machine when the system lets us
    // ask for it; otherwise the thread runs as any other.
    sched_param param {};
    param.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    pollfd fds[2] = { { fd_, POLLIN, 0 }, { wake_, POLLIN, 0 } };
    for (;;) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (!Before(now, deadline)) {
            Tick();
            deadline = Add(deadline, kTickNs);
            // A thread held up for a while catches up, so the far end hears
            // every packet; after a long stall (a suspended machine) it
            // starts afresh rather than sending a burst.
            if (Before(Add(deadline, kMaxCatchUpNs), now))
                deadline = Add(now, kTickNs);
            continue;
        }
        const timespec wait = Minus(deadline, now);
        if (ppoll(fds, 2, &wait, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        if (fds[0].revents)
            Receive();
    }
}

void RtpSession::Private::SendPacket(
    bool marker, int payloadType, uint32_t timestamp, const uint8_t* payload, size_t size)
{
    if (config_.remoteLength == 0)
        return;
    RtpHeader h;
    h.marker = marker;
    h.payloadType = uint8_t(payloadType);
    h.sequence = sequence_++;
    h.timestamp = timestamp;
    h.ssrc = ssrc_;
    const auto packet = BuildRtp(h, payload, size);
    if (sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&config_.remote),
            config_.remoteLength)
        >= 0) {
        std::lock_guard lock(statsMutex_);
        ++stats_.sent;
    }
}

void RtpSession::Private::Tick()
{
    int16_t pcm[kFrameSamples] = {};
    char digit = 0;
    {
        std::lock_guard lock(mutex_);
        const size_t n = std::min(sendQueue_.size(), size_t(kFrameSamples));
        std::copy(sendQueue_.begin(), sendQueue_.begin() + n, pcm);
        sendQueue_.erase(sendQueue_.begin(), sendQueue_.begin() + n);
        if (eventTicks_ < 0 && gapTicks_ == 0 && !digits_.empty() && config_.eventPayloadType >= 0) {
            digit = digits_[0];
            digits_.erase(0, 1);
        }
    }
    if (digit) {
        event_ = uint8_t(DigitEvent(digit));
        eventTicks_ = 0;
        eventStart_ = timestamp_;
    }
    if (eventTicks_ >= 0) {
        ++eventTicks_;
        TelephoneEvent e;
        e.event = event_;
        e.end = eventTicks_ >= kEventTicks;
        e.duration = uint16_t(std::min(eventTicks_, kEventTicks) * kFrameSamples);
        uint8_t payload[4];
        BuildTelephoneEvent(e, payload);
        const int repeats = e.end ? kEndRepeats : 1;
        for (int i = 0; i < repeats; ++i)
            SendPacket(eventTicks_ == 1, config_.eventPayloadType, eventStart_, payload, 4);
        if (e.end) {
            eventTicks_ = -1;
            gapTicks_ = kGapTicks;
        }
    } else {
        if (gapTicks_ > 0)
            --gapTicks_;
        uint8_t payload[kFrameSamples];
        G711Encode(config_.law, pcm, kFrameSamples, payload);
        SendPacket(first_, config_.payloadType, timestamp_, payload, kFrameSamples);
        first_ = false;
    }
    timestamp_ += kFrameSamples;

    int16_t out[kFrameSamples];
    const auto frame = media_->jitter.Take(out);
    {
        std::lock_guard lock(statsMutex_);
        stats_.late = media_->jitter.LatePackets();
        if (frame == JitterBuffer::Frame::Concealed)
            ++stats_.concealed;
    }
    if (!peerSendsEvents_)
        media_->inband.Feed(out, kFrameSamples);
    if (callbacks_.audio)
        callbacks_.audio(out, kFrameSamples);
}

void RtpSession::Private::Receive()
{
    uint8_t buffer[2048];
    for (;;) {
        sockaddr_storage from {};
        socklen_t fromLength = sizeof from;
        const ssize_t n
            = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return;
        const auto rtp = ParseRtp(buffer, size_t(n));
        if (!rtp)
            continue;
        const int pt = rtp->header.payloadType;
        // Either law may come in whatever we send: both were offered.
        const bool audio = pt == kPayloadPcmu || pt == kPayloadPcma;
        const int eventPt = config_.receiveEventPayloadType >= 0 ? config_.receiveEventPayloadType
                                                                 : config_.eventPayloadType;
        if (!audio && (eventPt < 0 || pt != eventPt))
            continue;
        // Symmetric RTP: answer to where the peer really sends from.
        config_.remote = from;
        config_.remoteLength = fromLength;
        {
            std::lock_guard lock(statsMutex_);
            ++stats_.received;
        }
        if (audio) {
            int16_t pcm[1024];
            const size_t samples = std::min(rtp->payloadSize, sizeof pcm / sizeof pcm[0]);
            G711Decode(pt == kPayloadPcmu ? G711Law::MuLaw : G711Law::ALaw, rtp->payload, samples, pcm);
            media_->jitter.Put(rtp->header.timestamp, pcm, samples);
            continue;
        }
        const auto e = ParseTelephoneEvent(rtp->payload, rtp->payloadSize);
        if (!e)
            continue;
        peerSendsEvents_ = true;
        // One event is one timestamp however many packets carry it.
        if (haveLastEvent_ && rtp->header.timestamp == lastEventTimestamp_)
            continue;
        haveLastEvent_ = true;
        lastEventTimestamp_ = rtp->header.timestamp;
        const char d = EventDigit(e->event);
        if (d && callbacks_.digit)
            callbacks_.digit(d);
    }
}

} // namespace zq::sip
