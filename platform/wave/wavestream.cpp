#include "wavestream_p.h"

#include "debugout.h"
#include "events.h"
#include "messages.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sched.h>

namespace zq::wave {

MMRESULT WaveCallback::Check(DWORD openFlags)
{
    switch (openFlags & CALLBACK_TYPEMASK) {
    case CALLBACK_NULL:
    case CALLBACK_WINDOW:
    case CALLBACK_THREAD:
    case CALLBACK_FUNCTION:
    case CALLBACK_EVENT:
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_INVALFLAG;
    }
}

WaveCallback::WaveCallback(DWORD openFlags, DWORD_PTR target, DWORD_PTR instance)
    : type_(openFlags & CALLBACK_TYPEMASK)
    , target_(target)
    , instance_(instance)
{
}

void WaveCallback::Send(void* handle, UINT msg, WAVEHDR* header) const
{
    switch (type_) {
    case CALLBACK_THREAD:
        // A thread that has ended, or has no queue yet, misses the message,
        // as with the system's own devices.
        PostThreadMessage(DWORD(target_), msg, WPARAM(handle), LPARAM(header));
        break;
    case CALLBACK_WINDOW:
        PostMessage(reinterpret_cast<HWND>(target_), msg, WPARAM(handle), LPARAM(header));
        break;
    case CALLBACK_EVENT:
        SetEvent(HANDLE(target_));
        break;
    case CALLBACK_FUNCTION: {
        // Output and input procedures differ only in the handle's type.
        auto proc = reinterpret_cast<LPWAVEOUTPROC>(target_);
        if (proc)
            proc(static_cast<HWAVEOUT>(handle), msg, instance_, DWORD_PTR(header), 0);
        break;
    }
    default:
        break;
    }
}

namespace {

// Audio that keeps time must not wait behind busy programs: the worker asks
// for a fixed real-time priority (low among real-time threads, so that the
// system's own audio and interrupt threads come first). Without the right
// to it, it runs at normal priority and says so once in the debug output.
// The worker only ever sleeps between short bursts, so it cannot starve
// the machine.
constexpr int kRealTimePriority = 10;

void AskForRealTime()
{
    sched_param p {};
    p.sched_priority = kRealTimePriority;
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &p) == 0)
        return;
    const int err = errno;
    static std::once_flag once;
    std::call_once(once, [err] {
        OutputDebugString(
            std::string("wave: audio threads run without real-time priority: ") + std::strerror(err));
    });
}

} // namespace

WaveStream::WaveStream(
    UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback, WavePacing pacing, UINT doneMessage)
    : format_(PcmFormat::From(format))
    , pacing_(pacing)
    , deviceId_(deviceId)
    , callback_(callback)
    , doneMessage_(doneMessage)
{
    gridFrames_ = std::max<uint64_t>(1, format_.rate / 50);
}

WaveStream::~WaveStream()
{
    if (!worker_.joinable())
        return;
    if (worker_.get_id() == std::this_thread::get_id()) {
        worker_.detach();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void WaveStream::Start(void* handle, UINT openMessage)
{
    handle_ = handle;
    {
        std::lock_guard send(sendMutex_);
        callback_.Send(handle_, openMessage, nullptr);
    }
    worker_ = std::thread([this] {
        // A worker that keeps time for a listener.
        if (pacing_ != WavePacing::None)
            AskForRealTime();
        Run();
    });
}

void WaveStream::SendClosed(UINT closeMessage)
{
    std::lock_guard send(sendMutex_);
    callback_.Send(handle_, closeMessage, nullptr);
}

MMRESULT WaveStream::Prepare(WAVEHDR* header)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveStream::Unprepare(WAVEHDR* header)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveStream::Queue(WAVEHDR* header)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if (!(header->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    Enqueue(header);
    wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveStream::Reset()
{
    std::unique_lock lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    std::vector<WAVEHDR*> done = Flush();
    for (WAVEHDR* h : done)
        MarkDone(h);
    wake_.notify_all();
    SendDone(lock, done);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveStream::Close()
{
    std::unique_lock lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if (Queued())
        return WAVERR_STILLPLAYING;
    // A callback runs on the worker, which cannot wait for itself.
    if (worker_.get_id() == std::this_thread::get_id())
        return MMSYSERR_HANDLEBUSY;
    closed_ = true;
    stop_ = true;
    lock.unlock();
    wake_.notify_all();
    worker_.join();
    CloseBackend();
    return MMSYSERR_NOERROR;
}

std::string WaveStream::Error()
{
    std::lock_guard lock(mutex_);
    return error_;
}

void WaveStream::Run()
{
    std::unique_lock lock(mutex_);
    while (!stop_) {
        Clock::time_point now = Clock::now();
        std::vector<WAVEHDR*> done = Step(now);
        if (!done.empty()) {
            SendDone(lock, done);
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

void WaveStream::SendDone(std::unique_lock<std::mutex>& lock, const std::vector<WAVEHDR*>& headers)
{
    std::lock_guard send(sendMutex_);
    lock.unlock();
    for (WAVEHDR* h : headers)
        callback_.Send(handle_, doneMessage_, h);
}

void WaveStream::Anchor(Clock::time_point now, uint64_t frame)
{
    anchorTime_ = now;
    anchorFrame_ = frame;
}

uint64_t WaveStream::ClockFrames(Clock::time_point now) const
{
    if (now <= anchorTime_)
        return anchorFrame_;
    auto ns = uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now - anchorTime_).count());
    return anchorFrame_ + uint64_t((unsigned __int128)ns * format_.rate / 1000000000u);
}

std::chrono::nanoseconds WaveStream::FramesToDuration(uint64_t frames) const
{
    // Rounded up, so that at the returned time the frames are surely due.
    auto ns = ((unsigned __int128)frames * 1000000000u + format_.rate - 1) / format_.rate;
    return std::chrono::nanoseconds(int64_t(ns));
}

WaveStream::Clock::time_point WaveStream::TimeOfFrame(uint64_t frame) const
{
    if (frame <= anchorFrame_)
        return anchorTime_;
    return anchorTime_ + FramesToDuration(frame - anchorFrame_);
}

uint64_t WaveStream::NextGridFrame(uint64_t frame) const
{
    if (frame < anchorFrame_)
        return anchorFrame_;
    return anchorFrame_ + ((frame - anchorFrame_) / gridFrames_ + 1) * gridFrames_;
}

} // namespace zq::wave
