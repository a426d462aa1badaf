#include "wavestream_p.h"

#include <algorithm>

namespace zq::wave {
namespace {
// Audio captured while no buffer is queued goes through here and is lost.
constexpr size_t kScratchFrames = 4096;
// A source paced by the clock (a line) keeps this much of its audio while
// the program has no buffer queued, so a program that is held up (as by a
// busy machine) loses nothing of what the far end said.
constexpr uint64_t kHoldSeconds = 2;
} // namespace

WaveInStream::WaveInStream(
    UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback, std::unique_ptr<WaveInBackend> backend)
    : WaveStream(deviceId, format, callback, backend->Pacing(), MM_WIM_DATA)
    , backend_(std::move(backend))
    , scratch_(kScratchFrames * format_.blockAlign)
{
}

void WaveInStream::Enqueue(WAVEHDR* header)
{
    header->dwBytesRecorded = 0;
    queue_.push_back(header);
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
    SendDone(lock, done);
    return MMSYSERR_NOERROR;
}

std::vector<WAVEHDR*> WaveInStream::Flush()
{
    if (started_) {
        started_ = false;
        backend_->Stop();
    }
    std::vector<WAVEHDR*> done(queue_.begin(), queue_.end());
    queue_.clear();
    return done;
}

void WaveInStream::CloseBackend()
{
    // The worker has ended and the stream is closed: nothing else touches
    // the backend or the started flag any more.
    if (started_)
        backend_->Stop();
    backend_->Close();
}

std::vector<WAVEHDR*> WaveInStream::Step(Clock::time_point now)
{
    std::vector<WAVEHDR*> done;
    if (started_)
        Capture(now, done);
    return done;
}

void WaveInStream::TakeAll(std::vector<WAVEHDR*>& done)
{
    for (WAVEHDR* h : queue_) {
        MarkDone(h);
        done.push_back(h);
    }
    queue_.clear();
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
    }
    TakeAll(done);
}

void WaveInStream::Capture(Clock::time_point now, std::vector<WAVEHDR*>& done)
{
    if (error_.empty())
        error_ = backend_->Error();
    if (!error_.empty()) {
        // The device is gone: every buffer comes back with what it holds.
        TakeAll(done);
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
        if (queue_.empty() && pacing_ == WavePacing::Clock) {
            const uint64_t hold = uint64_t(format_.rate) * kHoldSeconds;
            if (due <= hold)
                break;
            // Held too long: the oldest goes, as it would have.
            size_t want = std::min<uint64_t>(due - hold, kScratchFrames);
            backend_->Read(scratch_.data(), want);
            captured_ += want;
            due -= want;
            continue;
        }
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
    if (!started_ || pacing_ == WavePacing::None)
        return Clock::time_point::max();
    if (pacing_ == WavePacing::Clock) {
        // Without a buffer, the next one queued wakes the worker.
        if (queue_.empty())
            return TimeOfFrame(NextGridFrame(captured_ + uint64_t(format_.rate) * kHoldSeconds));
        return TimeOfFrame(NextGridFrame(captured_));
    }
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

} // namespace zq::wave
