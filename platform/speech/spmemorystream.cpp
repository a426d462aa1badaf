#include "spmemorystream.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace zq::speech {

SpMemoryStream::SpMemoryStream()
    : format_(std::make_shared<SpAudioFormat>())
{
}

std::shared_ptr<SpAudioFormat> SpMemoryStream::get_Format() const
{
    std::lock_guard lock(mutex_);
    return format_;
}

void SpMemoryStream::putref_Format(const std::shared_ptr<SpAudioFormat>& format)
{
    if (!format)
        throw SpeechEngineError(E_POINTER, "No audio format was given.");
    std::lock_guard lock(mutex_);
    format_ = format;
}

int32_t SpMemoryStream::Read(std::vector<uint8_t>& buffer, int32_t numberOfBytes)
{
    if (numberOfBytes < 0)
        throw SpeechEngineError(E_INVALIDARG, "Cannot read a negative number of bytes.");
    buffer.resize(static_cast<size_t>(numberOfBytes));
    const int32_t bytesRead = Read(buffer.data(), numberOfBytes);
    buffer.resize(static_cast<size_t>(bytesRead));
    return bytesRead;
}

int32_t SpMemoryStream::Read(void* buffer, int32_t numberOfBytes)
{
    if (numberOfBytes < 0)
        throw SpeechEngineError(E_INVALIDARG, "Cannot read a negative number of bytes.");
    if (numberOfBytes > 0 && !buffer)
        throw SpeechEngineError(E_POINTER, "No buffer to read into.");
    std::lock_guard lock(mutex_);
    const int64_t available = std::max<int64_t>(0, static_cast<int64_t>(size_) - position_);
    const auto count = static_cast<int32_t>(std::min<int64_t>(available, numberOfBytes));
    if (count > 0) {
        CopyOut(static_cast<size_t>(position_), static_cast<uint8_t*>(buffer), static_cast<size_t>(count));
        position_ += count;
    }
    return count;
}

int32_t SpMemoryStream::Write(const std::vector<uint8_t>& buffer)
{
    if (buffer.size() > static_cast<size_t>(INT32_MAX))
        throw SpeechEngineError(E_INVALIDARG, "Too many bytes for one write.");
    return Write(buffer.data(), static_cast<int32_t>(buffer.size()));
}

int32_t SpMemoryStream::Write(const void* buffer, int32_t numberOfBytes)
{
    if (numberOfBytes < 0)
        throw SpeechEngineError(E_INVALIDARG, "Cannot write a negative number of bytes.");
    if (numberOfBytes == 0)
        return 0;
    if (!buffer)
        throw SpeechEngineError(E_POINTER, "No buffer to write from.");
    std::lock_guard lock(mutex_);
    const auto start = static_cast<size_t>(position_);
    const auto end = start + static_cast<size_t>(numberOfBytes);
    try {
        while (blocks_.size() * kBlockSize < end)
            blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kBlockSize));
    } catch (const std::bad_alloc&) {
        throw SpeechEngineError(E_OUTOFMEMORY);
    }
    if (start > size_)
        Zero(size_, start - size_); // a seek past the end left a gap
    CopyIn(start, static_cast<const uint8_t*>(buffer), static_cast<size_t>(numberOfBytes));
    size_ = std::max(size_, end);
    position_ = static_cast<int64_t>(end);
    return numberOfBytes;
}

int64_t SpMemoryStream::Seek(int64_t position, SpeechStreamSeekPositionType origin)
{
    std::lock_guard lock(mutex_);
    int64_t base = 0;
    switch (origin) {
    case SSSPTRelativeToStart:
        break;
    case SSSPTRelativeToCurrentPosition:
        base = position_;
        break;
    case SSSPTRelativeToEnd:
        base = static_cast<int64_t>(size_);
        break;
    default:
        throw SpeechEngineError(E_INVALIDARG, "Unknown seek origin " + std::to_string(origin) + ".");
    }
    if (position < -base)
        throw SpeechEngineError(E_INVALIDARG, "Cannot seek before the start of the stream.");
    position_ = base + position;
    return position_;
}

void SpMemoryStream::SetSize(int64_t size)
{
    if (size < 0)
        throw SpeechEngineError(E_INVALIDARG, "A stream cannot have a negative size.");
    std::lock_guard lock(mutex_);
    const auto wanted = static_cast<size_t>(size);
    try {
        while (blocks_.size() * kBlockSize < wanted)
            blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kBlockSize));
    } catch (const std::bad_alloc&) {
        throw SpeechEngineError(E_OUTOFMEMORY);
    }
    if (wanted > size_)
        Zero(size_, wanted - size_);
    size_ = wanted;
    blocks_.resize((size_ + kBlockSize - 1) / kBlockSize);
}

void SpMemoryStream::SetData(const std::vector<uint8_t>& data)
{
    std::lock_guard lock(mutex_);
    blocks_.clear();
    size_ = 0;
    for (size_t done = 0; done < data.size(); done += kBlockSize)
        blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kBlockSize));
    CopyIn(0, data.data(), data.size());
    size_ = data.size();
    position_ = 0;
}

std::vector<uint8_t> SpMemoryStream::GetData() const
{
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> data(size_);
    CopyOut(0, data.data(), size_);
    return data;
}

void SpMemoryStream::CopyOut(size_t offset, uint8_t* to, size_t count) const
{
    while (count > 0) {
        const size_t within = offset % kBlockSize;
        const size_t n = std::min(count, kBlockSize - within);
        std::memcpy(to, blocks_[offset / kBlockSize].get() + within, n);
        to += n;
        offset += n;
        count -= n;
    }
}

void SpMemoryStream::CopyIn(size_t offset, const uint8_t* from, size_t count)
{
    while (count > 0) {
        const size_t within = offset % kBlockSize;
        const size_t n = std::min(count, kBlockSize - within);
        std::memcpy(blocks_[offset / kBlockSize].get() + within, from, n);
        from += n;
        offset += n;
        count -= n;
    }
}

void SpMemoryStream::Zero(size_t offset, size_t count)
{
    while (count > 0) {
        const size_t within = offset % kBlockSize;
        const size_t n = std::min(count, kBlockSize - within);
        std::memset(blocks_[offset / kBlockSize].get() + within, 0, n);
        offset += n;
        count -= n;
    }
}

} // namespace zq::speech
