#pragma once
// Writing audio into files: recordings, speech sent to a file, a wave device
// that nobody hears. Every write is checked, and a file that is replaced is
// replaced only when it is complete.
//
// One writer is used by one thread at a time.
#include "mmsystem.h"
#include "zqwave_export.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zq::wave {

// The kind of file. FromExtension: ".wav" WAV, ".flac" FLAC, ".ogg"/".oga"
// Ogg Vorbis, ".raw"/".pcm" the bare samples as played, anything else WAV.
enum class AudioContainer { FromExtension, Wav, Flac, Ogg, Raw };

class ZQWAVE_EXPORT AudioFileWriter {
public:
    // Checks the destination at once: a missing or unwritable folder is an
    // error now, not after the call. A regular file (or a new name) is
    // written to a temporary file beside `path` (created exclusively) and
    // renamed over it by Finish(); a FIFO or a character device is written
    // directly, never replaced (opening a FIFO waits for its reader). The
    // format is PCM as the wave calls take it. nullptr with *error set on
    // failure.
    static std::unique_ptr<AudioFileWriter> Open(
        const std::string& path, const WAVEFORMATEX& format, std::string* error);
    static std::unique_ptr<AudioFileWriter> Open(
        const std::string& path, const WAVEFORMATEX& format, AudioContainer container, std::string* error);

    ~AudioFileWriter(); // Abandon() unless finished
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // Every write is checked; false with Error() on failure (ENOSPC, EIO
    // ...), and every later write fails too. The file stays a valid file
    // holding everything written so far (its header kept current), so a
    // program that stops early (time-out, Ctrl-C) can still Finish() it.
    // A trailing partial sample frame is kept for the next write.
    bool Write(const void* data, size_t bytes);
    // Completes the header, flushes to the disk and puts the file in place.
    // False with Error() on failure, or when a write had failed: then the
    // temporary file is removed and whatever was at the path is left alone.
    bool Finish();
    // Removes the temporary file; what was at the path stays as it was.
    void Abandon();

    const std::string& Error() const;
    const std::string& Path() const;
    double Seconds() const; // audio written so far
    uint64_t Frames() const;

    struct State;

private:
    explicit AudioFileWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> d_;
};

// What FromExtension picks for a path.
ZQWAVE_EXPORT AudioContainer ContainerForPath(const std::string& path);

} // namespace zq::wave
