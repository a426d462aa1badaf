#pragma once
// Ready-made endpoints: memory devices for tests, and a pipe that carries
// one device's output to another device's input (two connected lines).
#include "wavedevices.h"
#include "zqwave_export.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace zq::wave {

// Records every byte played into it.
class ZQWAVE_EXPORT MemoryWaveOut : public WaveOutEndpoint {
public:
    explicit MemoryWaveOut(bool realTime = true)
        : realTime_(realTime)
    {
    }
    MMRESULT Open(const WAVEFORMATEX& format) override;
    void Write(const void* data, size_t bytes) override;
    bool RealTime() const override { return realTime_; }
    // Records at play time, so tests see the pace of a listener.
    std::chrono::milliseconds Lead() const override { return std::chrono::milliseconds(0); }

    std::vector<uint8_t> Bytes() const;
    size_t Size() const;
    WAVEFORMATEX Format() const;
    void Clear();

private:
    const bool realTime_;
    mutable std::mutex mutex_;
    std::vector<uint8_t> bytes_;
    WAVEFORMATEX format_;
};

// Delivers the given bytes once, then silence.
class ZQWAVE_EXPORT MemoryWaveIn : public WaveInEndpoint {
public:
    explicit MemoryWaveIn(std::vector<uint8_t> data, bool realTime = true)
        : realTime_(realTime)
        , data_(std::move(data))
    {
    }
    size_t Read(void* data, size_t bytes) override;
    bool RealTime() const override { return realTime_; }
    // Bytes not yet delivered.
    size_t Remaining() const;

private:
    const bool realTime_;
    mutable std::mutex mutex_;
    std::vector<uint8_t> data_;
    size_t offset_ = 0;
};

// A byte queue between a writer and a reader on different threads. It keeps
// at most `capacity` bytes, dropping the oldest, so a reader that starts late
// or stalls hears recent audio rather than an ever-growing delay. The
// capacity must be a multiple of the block size, or dropping splits samples.
class ZQWAVE_EXPORT PcmPipe {
public:
    explicit PcmPipe(size_t capacity = 64000)
        : capacity_(capacity)
    {
    }
    void Write(const void* data, size_t bytes);
    size_t Read(void* data, size_t bytes);
    void Clear();
    size_t Size() const;

private:
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::deque<uint8_t> bytes_;
};

// Output into a pipe: what is played goes into the pipe `lead` ahead of its
// play time, so the reader is not starved by a sender held up.
class ZQWAVE_EXPORT PipeWaveOut : public WaveOutEndpoint {
public:
    explicit PipeWaveOut(std::shared_ptr<PcmPipe> pipe, std::chrono::milliseconds lead = kDefaultLead)
        : pipe_(std::move(pipe))
        , lead_(lead)
    {
    }
    void Write(const void* data, size_t bytes) override { pipe_->Write(data, bytes); }
    std::chrono::milliseconds Lead() const override { return lead_; }

private:
    std::shared_ptr<PcmPipe> pipe_;
    const std::chrono::milliseconds lead_;
};

// Input from a pipe, through a jitter buffer: reading starts once the pipe
// holds `prefill` of audio, and starts so again after the pipe ran dry; from
// then on the delay stays as it was. With a sender that stays ahead (a wave
// device's Lead()), a sender held up for less than its lead plus the prefill
// (a busy machine, a network) inserts and drops nothing. Audio that arrived
// before recording started is dropped.
class ZQWAVE_EXPORT PipeWaveIn : public WaveInEndpoint {
public:
    static constexpr std::chrono::milliseconds kDefaultPrefill { 40 };
    explicit PipeWaveIn(std::shared_ptr<PcmPipe> pipe, std::chrono::milliseconds prefill = kDefaultPrefill)
        : pipe_(std::move(pipe))
        , prefill_(prefill)
    {
    }
    MMRESULT Open(const WAVEFORMATEX& format) override;
    size_t Read(void* data, size_t bytes) override;
    void Start() override;

private:
    std::shared_ptr<PcmPipe> pipe_;
    const std::chrono::milliseconds prefill_;
    // Worker thread only (Open comes before the worker reads).
    size_t prefillBytes_ = 0;
    bool flowing_ = false;
};

} // namespace zq::wave
