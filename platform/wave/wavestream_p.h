#pragma once
// One open wave device: the queue of headers, the worker that paces and
// completes them, and the messages to the program.
#include "wavebackend_p.h"
#include "waveheaderflags.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zq::wave {

// Where completion messages go, as chosen at open.
class WaveCallback {
public:
    // MMSYSERR_INVALFLAG for a callback type the layer does not know.
    static MMRESULT Check(DWORD openFlags);
    WaveCallback(DWORD openFlags, DWORD_PTR target, DWORD_PTR instance);
    void Send(void* handle, UINT msg, WAVEHDR* header) const;

private:
    DWORD type_;
    DWORD_PTR target_;
    DWORD_PTR instance_;
};

// What both directions share: the header calls, reset and close, the worker
// loop, the clock. A direction supplies its queue and how its worker moves
// audio between the headers and the backend.
//
// The program's threads call the public members; the worker runs Step and
// NextWake. Everything below mutex_ is touched under it only.
class WaveStream {
public:
    WaveStream(UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback, WavePacing pacing,
        UINT doneMessage);
    virtual ~WaveStream();
    WaveStream(const WaveStream&) = delete;
    WaveStream& operator=(const WaveStream&) = delete;

    UINT DeviceId() const { return deviceId_; }
    // Starts the worker and sends the open message to the program.
    void Start(void* handle, UINT openMessage);
    void SendClosed(UINT closeMessage);

    MMRESULT Prepare(WAVEHDR* header);
    MMRESULT Unprepare(WAVEHDR* header);
    // Queues a prepared header for playing or filling.
    MMRESULT Queue(WAVEHDR* header);
    // Every queued header comes back at once, in order.
    MMRESULT Reset();
    // WAVERR_STILLPLAYING while headers are queued.
    MMRESULT Close();
    // Why the device stopped; empty while it works.
    std::string Error();

protected:
    using Clock = std::chrono::steady_clock;

    // The direction's part, all under mutex_. Enqueue takes a header whose
    // flags are already set. Flush stops what the device does for the
    // queue and hands every queued header back. Step moves audio and
    // returns the headers it finished (marked done). NextWake says when
    // Step has work again (Clock::time_point::max() for never by itself).
    virtual void Enqueue(WAVEHDR* header) = 0;
    virtual std::vector<WAVEHDR*> Flush() = 0;
    virtual bool Queued() const = 0;
    virtual std::vector<WAVEHDR*> Step(Clock::time_point now) = 0;
    virtual Clock::time_point NextWake(Clock::time_point now) const = 0;
    // Once the worker has ended, from the thread closing the device.
    virtual void CloseBackend() = 0;

    // The last write to a header before its message: everything the worker
    // put into it is visible to a program that polls the flags.
    static void MarkDone(WAVEHDR* h) { MarkHeaderDone(*h); }
    // Sends one message per header, in order, with the state lock released
    // (callbacks may queue headers again). Returns with the lock released.
    void SendDone(std::unique_lock<std::mutex>& lock, const std::vector<WAVEHDR*>& headers);

    // The real-time clock of the stream: frame `anchorFrame_` was due at
    // `anchorTime_`, and one frame follows every 1/rate seconds.
    void Anchor(Clock::time_point now, uint64_t frame);
    uint64_t ClockFrames(Clock::time_point now) const;
    Clock::time_point TimeOfFrame(uint64_t frame) const;
    // The first step of the 20 ms grid after `frame`.
    uint64_t NextGridFrame(uint64_t frame) const;
    std::chrono::nanoseconds FramesToDuration(uint64_t frames) const;

    std::mutex mutex_;
    std::condition_variable wake_;
    const PcmFormat format_;
    const WavePacing pacing_;
    bool closed_ = false; // no call but the destructor reaches the backend
    std::string error_;

private:
    void Run();

    const UINT deviceId_;
    const WaveCallback callback_;
    const UINT doneMessage_;
    void* handle_ = nullptr;
    bool stop_ = false;
    // Held from taking headers off the queue to the end of sending their
    // messages, so messages leave in the order the headers were taken even
    // when the worker and a reset take them at the same moment.
    std::recursive_mutex sendMutex_;
    std::thread worker_;
    Clock::time_point anchorTime_;
    uint64_t anchorFrame_ = 0;
    uint64_t gridFrames_ = 1;
};

class WaveOutStream : public WaveStream {
public:
    WaveOutStream(UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback,
        std::unique_ptr<WaveOutBackend> backend);

private:
    struct Entry {
        WAVEHDR* header;
        uint64_t start; // frame positions in the stream
        uint64_t end;
    };

    void Enqueue(WAVEHDR* header) override;
    std::vector<WAVEHDR*> Flush() override;
    bool Queued() const override { return !queue_.empty(); }
    std::vector<WAVEHDR*> Step(Clock::time_point now) override;
    Clock::time_point NextWake(Clock::time_point now) const override;
    void CloseBackend() override { backend_->Close(); }

    void Transfer(Clock::time_point now);
    std::vector<WAVEHDR*> TakePlayed(Clock::time_point now);
    uint64_t NextClockTarget() const;

    std::unique_ptr<WaveOutBackend> backend_;
    const std::chrono::nanoseconds lead_;
    std::deque<Entry> queue_;
    uint64_t queued_ = 0; // frames of all headers queued so far
    uint64_t written_ = 0; // frames handed to the backend
    uint64_t played_ = 0; // frames heard
    uint64_t heardBase_ = 0; // written_ when the backend last started counting anew
};

class WaveInStream : public WaveStream {
public:
    WaveInStream(UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback,
        std::unique_ptr<WaveInBackend> backend);
    MMRESULT StartInput();
    MMRESULT Stop();

private:
    void Enqueue(WAVEHDR* header) override;
    std::vector<WAVEHDR*> Flush() override;
    bool Queued() const override { return !queue_.empty(); }
    std::vector<WAVEHDR*> Step(Clock::time_point now) override;
    Clock::time_point NextWake(Clock::time_point now) const override;
    void CloseBackend() override;

    void Capture(Clock::time_point now, std::vector<WAVEHDR*>& done);
    void FillAll(std::vector<WAVEHDR*>& done);
    // Takes the whole queue, marked done.
    void TakeAll(std::vector<WAVEHDR*>& done);

    std::unique_ptr<WaveInBackend> backend_;
    std::deque<WAVEHDR*> queue_;
    bool started_ = false;
    uint64_t captured_ = 0; // frames taken from the backend since open
    std::vector<uint8_t> scratch_;
};

} // namespace zq::wave
