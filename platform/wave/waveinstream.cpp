#include "wavestream_p.h"

#include <algorithm>

namespace {
// Audio captured while no buffer is queued goes through here and is lost.
constexpr size_t kScratchFrames = 4096;
} // namespace

WaveInStream::WaveInStream(
    UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback, std::unique_ptr<WaveInBackend> backend)
    : WaveStream(deviceId, format, callback)
    , backend_(std::move(backend))
    , pacing_(backend_->Pacing())
    , scratch_(kScratchFrames * format_.blockAlign)
{
}

MMRESULT WaveInStream::AddBuffer(WAVEHDR* header)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if (!(header->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    queue_.push_back(header);
    wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::StartInput()
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if (!started_) {
        started_ = true;
        backend_->Start();
        Anchor(Clock::now(), captured_);
        wake_.notify_all();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::Stop()
{
    std::unique_lock lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    std::vector<WAVEHDR*> done;
    if (started_) {
        started_ = false;
        backend_->Stop();
        // The buffer being filled comes back with what it holds; empty
        // ones stay queued for the next start.
        if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) {
            MarkDone(queue_.front());
            done.push_back(queue_.front());
            queue_.pop_front();
        }
    }
    Send(lock, MM_WIM_DATA, done);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::Reset()
{
    std::unique_lock lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if (started_) {
        started_ = false;
        backend_->Stop();
    }
    std::vector<WAVEHDR*> done(queue_.begin(), queue_.end());
    for (WAVEHDR* h : done)
        MarkDone(h);
    queue_.clear();
    Send(lock, MM_WIM_DATA, done);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInStream::Close()
{
    std::unique_lock lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if (!queue_.empty())
        return WAVERR_STILLPLAYING;
    bool wasStarted = started_;
    MMRESULT r = StopWorker(lock);
    if (r == MMSYSERR_NOERROR) {
        if (wasStarted)
            backend_->Stop();
        backend_->Close();
    }
    return r;
}

void WaveInStream::Run()
{
    std::unique_lock lock(mutex_);
    while (!stop_) {
        Clock::time_point now = Clock::now();
        std::vector<WAVEHDR*> done;
        if (started_)
            Capture(now, done);
        if (!done.empty()) {
            Send(lock, MM_WIM_DATA, done);
            lock.lock();
            continue;
        }
        Clock::time_point next = started_ ? NextWake(now) : Clock::time_point::max();
        if (next == Clock::time_point::max())
            wake_.wait(lock);
        else
            wake_.wait_until(lock, next);
    }
}

void WaveInStream::FillAll(std::vector<WAVEHDR*>& done)
{
    for (WAVEHDR* h : queue_) {
        uint64_t capacity = h->dwBufferLength / format_.blockAlign;
        uint64_t have = h->dwBytesRecorded / format_.blockAlign;
        size_t got = capacity > have ? backend_->Read(
                         reinterpret_cast<uint8_t*>(h->lpData) + have * format_.blockAlign, capacity - have)
                                     : 0;
        h->dwBytesRecorded = DWORD((have + got) * format_.blockAlign);
        captured_ += got;
        MarkDone(h);
        done.push_back(h);
    }
    queue_.clear();
}

void WaveInStream::Capture(Clock::time_point now, std::vector<WAVEHDR*>& done)
{
    if (error_.empty())
        error_ = backend_->Error();
    if (!error_.empty()) {
        // The device is gone: every buffer comes back with what it holds.
        for (WAVEHDR* h : queue_) {
            MarkDone(h);
            done.push_back(h);
        }
        queue_.clear();
        return;
    }
    if (pacing_ == WavePacing::None) {
        FillAll(done);
        return;
    }
    uint64_t due;
    if (pacing_ == WavePacing::Clock) {
        uint64_t clock = ClockFrames(now);
        if (clock < NextGridFrame(captured_))
            return;
        due = clock - captured_;
    } else {
        due = backend_->Available();
    }
    while (due > 0) {
        if (queue_.empty()) {
            size_t want = std::min<uint64_t>(due, kScratchFrames);
            size_t got = backend_->Read(scratch_.data(), want);
            captured_ += got;
            due -= got;
            if (got < want)
                break;
            continue;
        }
        WAVEHDR* h = queue_.front();
        uint64_t capacity = h->dwBufferLength / format_.blockAlign;
        uint64_t have = h->dwBytesRecorded / format_.blockAlign;
        uint64_t want = std::min(due, capacity - have);
        size_t got = want
            ? backend_->Read(reinterpret_cast<uint8_t*>(h->lpData) + have * format_.blockAlign, want)
            : 0;
        got = std::min<uint64_t>(got, want);
        h->dwBytesRecorded = DWORD((have + got) * format_.blockAlign);
        captured_ += got;
        due -= got;
        if (have + got >= capacity) {
            MarkDone(h);
            done.push_back(h);
            queue_.pop_front();
        }
        if (got < want)
            break;
    }
}

WaveInStream::Clock::time_point WaveInStream::NextWake(Clock::time_point now) const
{
    if (pacing_ == WavePacing::None)
        return Clock::time_point::max();
    if (pacing_ == WavePacing::Clock)
        return TimeOfFrame(NextGridFrame(captured_));
    // Device: when the first buffer should be full, at the latest after a
    // poll interval, so the device never overruns while nobody looks.
    Clock::time_point next = now + backend_->PollInterval();
    if (!queue_.empty()) {
        const WAVEHDR* h = queue_.front();
        uint64_t left = (h->dwBufferLength - h->dwBytesRecorded) / format_.blockAlign;
        next = std::min(next, now + FramesToDuration(left));
    }
    return std::max(next, now + std::chrono::milliseconds(1));
}

std::string WaveInStream::Error()
{
    std::lock_guard lock(mutex_);
    return error_;
}
