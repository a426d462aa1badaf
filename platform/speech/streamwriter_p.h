#pragma once
// Takes the engine's samples during a render and writes them, converted to
// the stream's layout, into the stream at its position. Conversion runs on a
// thread of its own so the engine never waits for it; the samples in flight
// are bounded, so the render's peak memory is the stream plus a little.
#include "espeakengine_p.h"
#include "pcmconvert_p.h"
#include "spmemorystream.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zq::speech {

// Start, Put and Finish are called on the engine thread only; the converting
// thread is the only one that touches the converter and writes the stream.
class StreamWriter : public SampleSink {
public:
    StreamWriter(SpMemoryStream& stream, const PcmLayout& layout);
    // Without Finish, the render was abandoned: the stream loses what this
    // writer appended to it.
    ~StreamWriter() override;
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

    void Start(int sampleRate) override;
    // Collects the samples into pieces; passing a full piece on waits while
    // too much is in flight, and raises a failure of the conversion.
    void Put(const int16_t* samples, size_t count) override;
    // Waits until everything is in the stream; raises a failure of the conversion.
    void Finish();

private:
    void PassOn(); // hands filling_ to the converter
    void Stop();

    SpMemoryStream& stream_;
    PcmLayout layout_;
    int64_t startPosition_ = 0;
    bool appending_ = false;
    bool finished_ = false;
    std::vector<int16_t> filling_; // engine thread only: the piece being collected

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<int16_t>> queue_;
    std::vector<std::vector<int16_t>> spare_; // emptied pieces, reused
    size_t queued_ = 0; // samples in queue_
    bool ending_ = false; // no more pieces will come
    bool abandoned_ = false;
    std::exception_ptr failure_;
    std::optional<std::thread> thread_;
};

} // namespace zq::speech
