#include "spmemorystream.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace sapi {

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
    const int64_t size = static_cast<int64_t>(data_.size());
    const int64_t available = std::max<int64_t>(0, size - position_);
    const auto count = static_cast<int32_t>(std::min<int64_t>(available, numberOfBytes));
    if (count > 0) {
        std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(count));
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
    const auto end = static_cast<size_t>(position_) + static_cast<size_t>(numberOfBytes);
    try {
        if (end > data_.size())
            data_.resize(end);
    } catch (const std::bad_alloc&) {
        throw SpeechEngineError(E_OUTOFMEMORY);
    }
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(numberOfBytes));
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
        base = static_cast<int64_t>(data_.size());
        break;
    default:
        throw SpeechEngineError(E_INVALIDARG, "Unknown seek origin " + std::to_string(origin) + ".");
    }
    if (position < -base)
        throw SpeechEngineError(E_INVALIDARG, "Cannot seek before the start of the stream.");
    position_ = base + position;
    return position_;
}

void SpMemoryStream::SetData(const std::vector<uint8_t>& data)
{
    std::lock_guard lock(mutex_);
    data_ = data;
    position_ = 0;
}

std::vector<uint8_t> SpMemoryStream::GetData() const
{
    std::lock_guard lock(mutex_);
    return data_;
}

} // namespace sapi
