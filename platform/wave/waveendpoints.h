#pragma once
// Ready-made endpoints: memory devices for tests, and a pipe that carries
// one device's output to another device's input (two connected lines).
#include "wavedevices.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// Records every byte played into it.
class MemoryWaveOut : public WaveOutEndpoint {
public:
    explicit MemoryWaveOut(bool realTime = true)
        : realTime_(realTime)
    {
    }
    MMRESULT Open(const WAVEFORMATEX& format) override;
    void Write(const void* data, size_t bytes) override;
    bool RealTime() const override { return realTime_; }

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
class MemoryWaveIn : public WaveInEndpoint {
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
class PcmPipe {
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

// Output into a pipe: what is played comes out of the pipe at play time.
class PipeWaveOut : public WaveOutEndpoint {
public:
    explicit PipeWaveOut(std::shared_ptr<PcmPipe> pipe)
        : pipe_(std::move(pipe))
    {
    }
    void Write(const void* data, size_t bytes) override { pipe_->Write(data, bytes); }

private:
    std::shared_ptr<PcmPipe> pipe_;
};

// Input from a pipe. Audio that arrived before recording started is dropped.
class PipeWaveIn : public WaveInEndpoint {
public:
    explicit PipeWaveIn(std::shared_ptr<PcmPipe> pipe)
        : pipe_(std::move(pipe))
    {
    }
    size_t Read(void* data, size_t bytes) override { return pipe_->Read(data, bytes); }
    void Start() override { pipe_->Clear(); }

private:
    std::shared_ptr<PcmPipe> pipe_;
};
