#include "streamwriter_p.h"

#include <algorithm>

namespace zq::speech {

namespace {

// About 45 s of speech at the engine's rate: far more than the converter
// ever lags behind, little next to the rendered stream.
constexpr size_t kMaxSamplesInFlight = 1 << 20;
// The engine hands out a few hundredths of a second at a time. Passing on
// each of those would wake the converter (and switch threads) thousands of
// times for a long text and feed the resampler crumbs; pieces of about
// three quarters of a second cost a wake-up each and little memory.
constexpr size_t kPieceSamples = 1 << 14;

} // namespace

StreamWriter::StreamWriter(SpMemoryStream& stream, const PcmLayout& layout)
    : stream_(stream)
    , layout_(layout)
{
}

StreamWriter::~StreamWriter()
{
    if (finished_)
        return;
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    Stop();
    // Leave the stream as it was before this render began.
    if (appending_)
        stream_.SetSize(startPosition_);
    stream_.Seek(startPosition_);
}

void StreamWriter::Start(int sampleRate)
{
    startPosition_ = stream_.Seek(0, SSSPTRelativeToCurrentPosition);
    appending_ = startPosition_ >= stream_.Seek(0, SSSPTRelativeToEnd);
    stream_.Seek(startPosition_);
    // Set up here, so a resampler that cannot be made fails the render at once.
    auto converter = std::make_shared<PcmConverter>(sampleRate, layout_,
        [this](const uint8_t* bytes, size_t count) { stream_.Write(bytes, static_cast<int32_t>(count)); });
    thread_.emplace([this, converter] {
        for (;;) {
            std::vector<int16_t> piece;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return abandoned_ || ending_ || !queue_.empty(); });
                if (abandoned_ || (queue_.empty() && ending_))
                    break;
                piece = std::move(queue_.front());
                queue_.pop_front();
                queued_ -= piece.size();
            }
            changed_.notify_all();
            try {
                converter->Put(piece.data(), piece.size());
            } catch (...) {
                std::lock_guard lock(mutex_);
                failure_ = std::current_exception();
                abandoned_ = true;
            }
            std::lock_guard lock(mutex_);
            piece.clear();
            spare_.push_back(std::move(piece));
        }
        std::unique_lock lock(mutex_);
        if (!abandoned_) {
            lock.unlock();
            std::exception_ptr failure;
            try {
                converter->Finish();
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            failure_ = failure;
        }
        lock.unlock();
        changed_.notify_all();
    });
}

void StreamWriter::Put(const int16_t* samples, size_t count)
{
    while (count > 0) {
        if (filling_.capacity() < kPieceSamples)
            filling_.reserve(kPieceSamples);
        const size_t n = std::min(count, kPieceSamples - filling_.size());
        filling_.insert(filling_.end(), samples, samples + n);
        samples += n;
        count -= n;
        if (filling_.size() == kPieceSamples)
            PassOn();
    }
}

void StreamWriter::PassOn()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return failure_ || queued_ < kMaxSamplesInFlight; });
    if (failure_)
        std::rethrow_exception(failure_);
    queued_ += filling_.size();
    queue_.push_back(std::move(filling_));
    filling_ = {};
    if (!spare_.empty()) {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    }
    lock.unlock();
    changed_.notify_all();
}

void StreamWriter::Finish()
{
    if (!filling_.empty())
        PassOn();
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    Stop();
    if (failure_)
        std::rethrow_exception(failure_);
    finished_ = true;
}

void StreamWriter::Stop()
{
    changed_.notify_all();
    if (thread_ && thread_->joinable())
        thread_->join();
}

} // namespace zq::speech
