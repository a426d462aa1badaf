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

class WaveStream {
public:
    WaveStream(UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback);
    virtual ~WaveStream();
    WaveStream(const WaveStream&) = delete;
    WaveStream& operator=(const WaveStream&) = delete;

    UINT DeviceId() const { return deviceId_; }
    // Starts the worker and sends the open message to the program.
    void Start(void* handle, UINT openMessage);
    void SendClosed(UINT closeMessage);

    MMRESULT Prepare(WAVEHDR* header);
    MMRESULT Unprepare(WAVEHDR* header);

protected:
    using Clock = std::chrono::steady_clock;

    virtual void Run() = 0;
    // Whether the worker keeps time for a listener (and so asks for
    // real-time scheduling).
    virtual bool RealTimeWorker() const = 0;
    // Marks the stream closed and ends the worker; the caller checked that no
    // header is queued. MMSYSERR_HANDLEBUSY from a callback on the worker.
    MMRESULT StopWorker(std::unique_lock<std::mutex>& lock);
    // Sends one message per header, in order, with the state lock released
    // (callbacks may queue headers again). Returns with the lock released.
    void Send(std::unique_lock<std::mutex>& lock, UINT msg, const std::vector<WAVEHDR*>& headers);
    // The last write to a header before its message: everything the worker
    // put into it is visible to a program that polls the flags.
    static void MarkDone(WAVEHDR* h) { zq::wave::MarkHeaderDone(*h); }

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
    bool stop_ = false;
    bool closed_ = false;
    const PcmFormat format_;

private:
    const UINT deviceId_;
    const WaveCallback callback_;
    void* handle_ = nullptr;
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
    MMRESULT Write(WAVEHDR* header);
    MMRESULT Reset();
    MMRESULT Close();
    // Why the device stopped playing; empty while it plays.
    std::string Error();

private:
    struct Entry {
        WAVEHDR* header;
        uint64_t start; // frame positions in the stream
        uint64_t end;
    };

    void Run() override;
    void Transfer(Clock::time_point now);
    std::vector<WAVEHDR*> TakePlayed(Clock::time_point now);
    Clock::time_point NextWake(Clock::time_point now) const;
    uint64_t NextClockTarget() const;

    bool RealTimeWorker() const override { return pacing_ != WavePacing::None; }

    std::unique_ptr<WaveOutBackend> backend_;
    const WavePacing pacing_;
    const std::chrono::nanoseconds lead_;
    std::deque<Entry> queue_;
    uint64_t queued_ = 0; // frames of all headers queued so far
    uint64_t written_ = 0; // frames handed to the backend
    uint64_t played_ = 0; // frames heard
    uint64_t heardBase_ = 0; // written_ when the backend last started counting anew
    std::string error_;
};

class WaveInStream : public WaveStream {
public:
    WaveInStream(UINT deviceId, const WAVEFORMATEX& format, WaveCallback callback,
        std::unique_ptr<WaveInBackend> backend);
    MMRESULT AddBuffer(WAVEHDR* header);
    MMRESULT StartInput();
    MMRESULT Stop();
    MMRESULT Reset();
    MMRESULT Close();
    // Why the device stopped recording; empty while it records.
    std::string Error();

private:
    void Run() override;
    void Capture(Clock::time_point now, std::vector<WAVEHDR*>& done);
    void FillAll(std::vector<WAVEHDR*>& done);
    Clock::time_point NextWake(Clock::time_point now) const;

    bool RealTimeWorker() const override { return pacing_ != WavePacing::None; }

    std::unique_ptr<WaveInBackend> backend_;
    const WavePacing pacing_;
    std::deque<WAVEHDR*> queue_;
    bool started_ = false;
    uint64_t captured_ = 0; // frames taken from the backend since open
    std::string error_;
    std::vector<uint8_t> scratch_;
};
