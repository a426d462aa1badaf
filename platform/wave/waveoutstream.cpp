#include "wavestream_p.h"

#include <algorithm>

namespace zq::wave {

WaveOutStream::WaveOutStream(
    UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback, std::unique_ptr<WaveOutBackend> backend)
    : WaveStream(deviceId, format, callback, backend->Pacing(), MM_WOM_DONE)
    , backend_(std::move(backend))
    , lead_(pacing_ == WavePacing::Clock ? backend_->Lead() : std::chrono::nanoseconds(0))
{
}

void WaveOutStream::Enqueue(WAVEHDR* header)
{
    // A trailing partial block cannot be played and is left out.
    uint64_t frames = header->dwBufferLength / format_.blockAlign;
    // Nothing queued means nothing is playing: the clock starts now, not
    // when the previous data ended.
    if (queue_.empty())
        Anchor(Clock::now(), queued_);
    queue_.push_back({ header, queued_, queued_ + frames });
    queued_ += frames;
}

std::vector<WAVEHDR*> WaveOutStream::Flush()
{
    backend_->Drop();
    std::vector<WAVEHDR*> done;
    for (const Entry& e : queue_)
        done.push_back(e.header);
    queue_.clear();
    queued_ = written_ = played_ = heardBase_ = 0;
    return done;
}

std::vector<WAVEHDR*> WaveOutStream::Step(Clock::time_point now)
{
    Transfer(now);
    return TakePlayed(now);
}

uint64_t WaveOutStream::NextClockTarget() const
{
    // Hand audio over in 20 ms steps, and at the end of each header so that
    // its completion is not held back to the next step.
    uint64_t target = std::min(NextGridFrame(written_), queued_);
    for (const Entry& e : queue_) {
        if (e.end > written_) {
            target = std::min(target, e.end);
            break;
        }
    }
    return target;
}

void WaveOutStream::Transfer(Clock::time_point now)
{
    if (written_ >= queued_ || !error_.empty())
        return;
    uint64_t limit = queued_;
    if (pacing_ == WavePacing::Clock) {
        uint64_t clock = ClockFrames(now + lead_);
        if (clock < NextClockTarget())
            return;
        limit = std::min(limit, clock);
    } else if (pacing_ == WavePacing::Device) {
        size_t room = backend_->Room();
        if (room != SIZE_MAX)
            limit = std::min<uint64_t>(limit, written_ + room);
    }
    for (const Entry& e : queue_) {
        if (written_ >= limit)
            break;
        if (e.end <= written_)
            continue;
        uint64_t frames = std::min(limit, e.end) - written_;
        const auto* data
            = reinterpret_cast<const uint8_t*>(e.header->lpData) + (written_ - e.start) * format_.blockAlign;
        size_t took = backend_->Write(data, frames);
        written_ += std::min<uint64_t>(took, frames);
        if (took < frames)
            break;
    }
}

std::vector<WAVEHDR*> WaveOutStream::TakePlayed(Clock::time_point now)
{
    std::vector<WAVEHDR*> done;
    if (error_.empty() && !(error_ = backend_->Error()).empty()) {
        // The device is gone: the playback ends now, and the program can
        // ask why.
        written_ = played_ = queued_;
    }
    if (!error_.empty()) {
        written_ = played_ = queued_;
    } else if (pacing_ == WavePacing::Device) {
        // Heard by the device, and not before its time.
        uint64_t heard = heardBase_ + std::min(backend_->Heard(now), written_ - heardBase_);
        played_ = std::max(played_, std::min(heard, ClockFrames(now)));
        // All that was queued is over by the device's account: the drain
        // confirms it (a server answers when its own queue has played).
        if (!queue_.empty() && written_ == queued_ && played_ >= queue_.back().end) {
            if (backend_->Drain()) {
                heardBase_ = written_;
            } else {
                error_ = backend_->Error();
                played_ = written_ = queued_;
            }
        }
    } else if (pacing_ == WavePacing::Clock) {
        // Handed over ahead maybe, but played at its time.
        played_ = std::min(written_, ClockFrames(now));
    } else {
        played_ = written_;
    }
    while (!queue_.empty() && queue_.front().end <= played_) {
        MarkDone(queue_.front().header);
        done.push_back(queue_.front().header);
        queue_.pop_front();
    }
    return done;
}

WaveOutStream::Clock::time_point WaveOutStream::NextWake(Clock::time_point now) const
{
    if (queue_.empty() || pacing_ == WavePacing::None)
        return Clock::time_point::max();
    if (pacing_ == WavePacing::Clock) {
        Clock::time_point next = Clock::time_point::max();
        if (written_ < queued_)
            next = TimeOfFrame(NextClockTarget()) - lead_;
        // A header handed over ahead completes at its play time.
        if (queue_.front().end <= written_)
            next = std::min(next, TimeOfFrame(queue_.front().end));
        return std::max(next, now + std::chrono::microseconds(500));
    }
    // Device: when the first header should have been heard, or sooner when
    // audio waits for room in the device; and now and then in any case, so
    // that a device that fails is noticed while nothing is written.
    const Entry& front = queue_.front();
    Clock::time_point next = std::max(TimeOfFrame(front.end), now + FramesToDuration(front.end - played_));
    next = std::min(next, now + std::chrono::milliseconds(50));
    if (written_ < queued_)
        next = std::min(next, now + backend_->PollInterval());
    // A device that stops moving is looked at now and then, not spun on.
    return std::max(next, now + std::chrono::milliseconds(2));
}

} // namespace zq::wave
