// The lines' sound: between the wave devices and the call's RTP session.
#include "sipprovider_p.h"

#include <chrono>
#include <thread>

namespace zq::sip {

namespace {
// Play hands over at most this much ahead of the packet clock, so a wave
// device paced a little faster than the line cannot build up delay.
constexpr size_t kMaxAheadSamples = 8000 / 5; // 200 ms
} // namespace

void SipLineAudio::Attach(std::shared_ptr<RtpSession> session)
{
    std::lock_guard lock(mutex_);
    session_ = std::move(session);
    heard_.Clear();
}

void SipLineAudio::Play(const void* data, size_t bytes)
{
    std::shared_ptr<RtpSession> session;
    {
        std::lock_guard lock(mutex_);
        session = session_;
    }
    if (!session)
        return;
    session->Send(static_cast<const int16_t*>(data), bytes / 2);
    for (int i = 0; i < 100 && session->Queued() > kMaxAheadSamples; ++i) {
        {
            std::lock_guard lock(mutex_);
            if (session_ != session)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SipLineAudio::PlayStopped()
{
    std::lock_guard lock(mutex_);
    if (session_)
        session_->DropQueued();
}

size_t SipLineAudio::Record(void* data, size_t bytes)
{
    {
        std::lock_guard lock(mutex_);
        if (!session_)
            return 0;
    }
    return heard_.Read(data, bytes);
}

void SipLineAudio::RecordStarted()
{
    heard_.Clear();
}

void SipLineAudio::Heard(const RtpSession* from, const int16_t* pcm, size_t samples)
{
    {
        std::lock_guard lock(mutex_);
        if (session_.get() != from)
            return;
    }
    heard_.Write(pcm, samples * 2);
}

} // namespace zq::sip
