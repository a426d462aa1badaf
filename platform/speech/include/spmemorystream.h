#pragma once
// An in-memory audio stream: the engine writes rendered PCM into it and the
// player reads it back in buffer-sized pieces.
#include "spaudioformat.h"
#include "zqspeechengine_export.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace zq::speech {

class ZQSPEECHENGINE_EXPORT SpMemoryStream {
public:
    SpMemoryStream();

    // The stream's live format object (see SpAudioFormat).
    std::shared_ptr<SpAudioFormat> get_Format() const;
    void putref_Format(const std::shared_ptr<SpAudioFormat>& format);

    // Copies up to numberOfBytes from the current position and advances it;
    // returns the bytes read, 0 at or past the end. The vector form is
    // resized to what was read.
    int32_t Read(std::vector<uint8_t>& buffer, int32_t numberOfBytes);
    int32_t Read(void* buffer, int32_t numberOfBytes);

    // Writes at the current position, growing the stream as needed.
    int32_t Write(const std::vector<uint8_t>& buffer);
    int32_t Write(const void* buffer, int32_t numberOfBytes);

    // Returns the new position. Seeking past the end is allowed (reads there
    // give nothing); a position before the start is an error.
    int64_t Seek(int64_t position, SpeechStreamSeekPositionType origin = SSSPTRelativeToStart);

    // Cuts the stream to `size` bytes or grows it with zeros; the position
    // stays where it was.
    void SetSize(int64_t size);

    void SetData(const std::vector<uint8_t>& data);
    std::vector<uint8_t> GetData() const;

private:
    // Held in fixed blocks rather than one growing buffer: growing by
    // reallocation needs the old and the new buffer at once (up to three
    // times the data) and copies everything at each step.
    static constexpr size_t kBlockSize = 256 * 1024;

    void CopyOut(size_t offset, uint8_t* to, size_t count) const;
    void CopyIn(size_t offset, const uint8_t* from, size_t count);
    void Zero(size_t offset, size_t count);

    mutable std::mutex mutex_;
    std::shared_ptr<SpAudioFormat> format_;
    std::vector<std::unique_ptr<uint8_t[]>> blocks_;
    size_t size_ = 0;
    int64_t position_ = 0;
};

} // namespace zq::speech
