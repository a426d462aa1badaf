#include "wavestream_p.h"

#include <algorithm>

WaveOutStream::WaveOutStream(
    UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback, std::unique_ptr<WaveOutBackend> backend)
    : WaveStream(deviceId, format, callback)
    , backend_(std::move(backend))
    , pacing_(backend_->Pacing())
{
}

MMRESULT WaveOutStream::Write(WAVEHDR* header)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if (!(header->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    // A trailing partial block cannot be played and is left out.
    uint64_t frames = header->dwBufferLength / format_.blockAlign;
    // Nothing queued means nothing is playing: the clock starts now, not
    // when the previous data ended.
    if (queue_.empty())
        Anchor(Clock::now(), queued_);
    queue_.push_back({ header, queued_, queued_ + frames });
    queued_ += frames;
    wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Reset()
{
    std::unique_lock lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    backend_->Drop();
    std::vector<WAVEHDR*> done;
    for (const Entry& e : queue_) {
        MarkDone(e.header);
        done.push_back(e.header);
    }
    queue_.clear();
    queued_ = written_ = played_ = heardBase_ = 0;
    wake_.notify_all();
    Send(lock, MM_WOM_DONE, done);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Close()
{
    std::unique_lock lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if (!queue_.empty())
        return WAVERR_STILLPLAYING;
    MMRESULT r = StopWorker(lock);
    if (r == MMSYSERR_NOERROR)
        backend_->Close();
    return r;
}

void WaveOutStream::Run()
{
    std::unique_lock lock(mutex_);
    while (!stop_) {
        Clock::time_point now = Clock::now();
        Transfer(now);
        std::vector<WAVEHDR*> done = TakePlayed(now);
        if (!done.empty()) {
            Send(lock, MM_WOM_DONE, done);
            lock.lock();
            continue;
        }
        Clock::time_point next = NextWake(now);
        if (next == Clock::time_point::max())
            wake_.wait(lock);
        else
            wake_.wait_until(lock, next);
    }
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
        uint64_t clock = ClockFrames(now);
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
    if (pacing_ == WavePacing::Clock)
        return TimeOfFrame(NextClockTarget());
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

std::string WaveOutStream::Error()
{
    std::lock_guard lock(mutex_);
    return error_;
}
