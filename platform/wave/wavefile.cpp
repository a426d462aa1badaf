// Audio files through libsndfile, with our own I/O underneath it: the
// library only knows "write these bytes here", so every system error comes
// back to us with its errno, and a pipe can carry a WAV file (the library
// refuses WAV on a pipe because it wants to go back and fix the header).
#include "wavefile.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zq::wave {

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The mode a new file gets from open(2): 0666 less the umask. umask(2)
// itself would change the mask for every thread while it is read.
mode_t NewFileMode()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 0644;
}

// Where the bytes go. Seekable: the temporary file, where the library
// rewrites the header after each write. Stream (a FIFO, a device): bytes go
// out once, in order. The header is held back until the first audio, so
// that it can say "length unknown" for WAV; later rewrites of bytes already
// sent are dropped.
struct Sink {
    int fd = -1;
    bool stream = false;
    bool holding = false;
    bool patchWav = false;
    int error = 0; // errno of the first failure
    sf_count_t pos = 0;
    sf_count_t sent = 0;
    std::vector<unsigned char> held;

    bool Send(const unsigned char* p, size_t n)
    {
        while (n > 0) {
            ssize_t w = ::write(fd, p, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                if (!error)
                    error = errno;
                return false;
            }
            p += w;
            n -= size_t(w);
        }
        return true;
    }

    sf_count_t Write(const void* ptr, sf_count_t count)
    {
        const auto* p = static_cast<const unsigned char*>(ptr);
        if (!stream) {
            if (!Send(p, size_t(count)))
                return 0;
            return count;
        }
        if (holding) {
            if (held.size() < size_t(pos + count))
                held.resize(size_t(pos + count));
            std::memcpy(held.data() + pos, p, size_t(count));
            pos += count;
            return count;
        }
        sf_count_t skip = std::clamp<sf_count_t>(sent - pos, 0, count);
        pos += skip;
        if (skip < count) {
            if (!Send(p + skip, size_t(count - skip)))
                return skip;
            pos += count - skip;
            sent = pos;
        }
        return count;
    }

    sf_count_t Seek(sf_count_t offset, int whence)
    {
        if (!stream) {
            off_t r = ::lseek(fd, offset, whence);
            if (r < 0 && !error)
                error = errno;
            return r;
        }
        sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? pos : Length();
        if (base + offset < 0)
            return -1;
        pos = base + offset;
        return pos;
    }

    sf_count_t Tell() { return stream ? pos : ::lseek(fd, 0, SEEK_CUR); }

    sf_count_t Length()
    {
        if (stream)
            return std::max<sf_count_t>(sent, sf_count_t(held.size()));
        struct stat st;
        return ::fstat(fd, &st) == 0 ? st.st_size : -1;
    }

    sf_count_t Read(void* ptr, sf_count_t count)
    {
        if (stream)
            return 0;
        ssize_t r = ::read(fd, ptr, size_t(count));
        return r < 0 ? 0 : r;
    }

    // Sends the held header; before audio follows, a WAV header gets the
    // sizes that mean "until the end of the stream".
    bool Release(bool audioFollows)
    {
        if (!holding)
            return true;
        holding = false;
        if (audioFollows && patchWav)
            MarkWavLengthUnknown();
        sent = sf_count_t(held.size());
        return Send(held.data(), held.size());
    }

    void MarkWavLengthUnknown()
    {
        auto put = [this](size_t at) {
            if (at + 4 <= held.size())
                std::memset(held.data() + at, 0xff, 4);
        };
        if (held.size() < 12 || std::memcmp(held.data(), "RIFF", 4) != 0)
            return;
        put(4);
        size_t at = 12;
        while (at + 8 <= held.size()) {
            uint32_t size
                = held[at + 4] | held[at + 5] << 8 | held[at + 6] << 16 | uint32_t(held[at + 7]) << 24;
            if (std::memcmp(held.data() + at, "data", 4) == 0) {
                put(at + 4);
                return;
            }
            at += 8 + size + (size & 1);
        }
    }
};

sf_count_t VioLength(void* user)
{
    return static_cast<Sink*>(user)->Length();
}
sf_count_t VioSeek(sf_count_t offset, int whence, void* user)
{
    return static_cast<Sink*>(user)->Seek(offset, whence);
}
sf_count_t VioRead(void* ptr, sf_count_t count, void* user)
{
    return static_cast<Sink*>(user)->Read(ptr, count);
}
sf_count_t VioWrite(const void* ptr, sf_count_t count, void* user)
{
    return static_cast<Sink*>(user)->Write(ptr, count);
}
sf_count_t VioTell(void* user)
{
    return static_cast<Sink*>(user)->Tell();
}

// libsndfile's format for the container and the sample size; 0 when the
// pair cannot be stored.
int SndfileFormat(AudioContainer container, int bits)
{
    int sub = 0;
    switch (bits) {
    case 8:
        sub = container == AudioContainer::Flac ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_U8;
        break;
    case 16:
        sub = SF_FORMAT_PCM_16;
        break;
    case 24:
        sub = SF_FORMAT_PCM_24;
        break;
    case 32:
        sub = SF_FORMAT_PCM_32;
        break;
    default:
        return 0;
    }
    switch (container) {
    case AudioContainer::Flac:
        return bits == 32 ? 0 : SF_FORMAT_FLAC | sub;
    case AudioContainer::Ogg:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case AudioContainer::Raw:
        return SF_FORMAT_RAW | SF_ENDIAN_LITTLE | sub;
    default:
        return SF_FORMAT_WAV | sub;
    }
}

} // namespace

struct AudioFileWriter::State {
    std::string path;
    std::string temp; // empty when writing straight into the destination
    mode_t mode = 0644;
    Sink sink;
    SF_VIRTUAL_IO vio {};
    SNDFILE* file = nullptr;
    int bits = 16;
    int channels = 1;
    uint32_t rate = 8000;
    size_t blockAlign = 2;
    uint64_t frames = 0;
    std::vector<uint8_t> carry; // a partial frame from the last write
    std::vector<int> samples;
    std::string error;
    bool done = false;

    bool Fail(const std::string& what)
    {
        if (error.empty())
            error = path + ": " + what;
        return false;
    }
    bool FailSystem(const char* doing, int err)
    {
        return Fail(std::string(doing) + ": " + std::strerror(err ? err : EIO));
    }
};

AudioContainer ContainerForPath(const std::string& path)
{
    std::string base = BaseOf(path);
    size_t dot = base.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : Lower(base.substr(dot + 1));
    if (ext == "flac")
        return AudioContainer::Flac;
    if (ext == "ogg" || ext == "oga")
        return AudioContainer::Ogg;
    if (ext == "raw" || ext == "pcm")
        return AudioContainer::Raw;
    return AudioContainer::Wav;
}

std::unique_ptr<AudioFileWriter> AudioFileWriter::Open(
    const std::string& path, const WAVEFORMATEX& format, std::string* error)
{
    return Open(path, format, AudioContainer::FromExtension, error);
}

std::unique_ptr<AudioFileWriter> AudioFileWriter::Open(
    const std::string& path, const WAVEFORMATEX& format, AudioContainer container, std::string* error)
{
    auto d = std::make_unique<State>();
    d->path = path;
    auto fail = [&](const std::string& what) {
        if (error)
            *error = path + ": " + what;
        if (d->sink.fd >= 0)
            ::close(d->sink.fd);
        if (!d->temp.empty())
            ::unlink(d->temp.c_str());
        return nullptr;
    };
    if (path.empty()) {
        if (error)
            *error = "no file name given";
        return nullptr;
    }
    if (container == AudioContainer::FromExtension)
        container = ContainerForPath(path);
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels < 1 || format.nSamplesPerSec < 1
        || format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8)
        return fail("not a PCM format");
    const int sfFormat = SndfileFormat(container, format.wBitsPerSample);
    SF_INFO info {};
    info.samplerate = int(format.nSamplesPerSec);
    info.channels = format.nChannels;
    info.format = sfFormat;
    if (!sfFormat || !sf_format_check(&info))
        return fail("this file type cannot hold " + std::to_string(format.wBitsPerSample) + "-bit audio with "
            + std::to_string(format.nChannels) + " channels at " + std::to_string(format.nSamplesPerSec)
            + " Hz");

    struct stat st;
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT && errno != ENOTDIR)
        return fail(std::strerror(errno));
    if (exists && S_ISDIR(st.st_mode))
        return fail("is a folder");
    if (exists && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        // Whoever made it reads from it: write into it, never replace it.
        int fd;
        do
            fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return fail(std::strerror(errno));
        d->sink.fd = fd;
        d->sink.stream = true;
        d->sink.holding = true;
        d->sink.patchWav = (sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
    } else if (exists && !S_ISREG(st.st_mode)) {
        return fail("is neither a file, a FIFO nor a character device");
    } else {
        const std::string folder = FolderOf(path);
        struct stat fst;
        if (::stat(folder.c_str(), &fst) != 0)
            return fail(errno == ENOENT ? "the folder " + folder + " does not exist" : std::strerror(errno));
        if (!S_ISDIR(fst.st_mode))
            return fail(folder + " is not a folder");
        if (exists && ::access(path.c_str(), W_OK) != 0)
            return fail(std::strerror(errno));
        std::string temp = folder + "/." + BaseOf(path) + ".XXXXXX";
        int fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0)
            return fail(std::strerror(errno));
        d->temp = temp;
        d->mode = exists ? (st.st_mode & 07777) : NewFileMode();
        d->sink.fd = fd;
    }

    d->vio = { VioLength, VioSeek, VioRead, VioWrite, VioTell };
    d->file = sf_open_virtual(&d->vio, SFM_WRITE, &info, &d->sink);
    if (!d->file || d->sink.error)
        return fail(d->sink.error ? std::strerror(d->sink.error) : sf_strerror(nullptr));
    // A WAV file is complete after every write: a program that is stopped
    // leaves a file that plays. (FLAC and Ogg are written in frames and
    // pages that stand on their own.)
    if (!d->sink.stream && (sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV)
        sf_command(d->file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    if (d->sink.error)
        return fail(std::strerror(d->sink.error));
    d->bits = format.wBitsPerSample;
    d->channels = format.nChannels;
    d->rate = format.nSamplesPerSec;
    d->blockAlign = format.nBlockAlign;
    return std::unique_ptr<AudioFileWriter>(new AudioFileWriter(std::move(d)));
}

AudioFileWriter::AudioFileWriter(std::unique_ptr<State> state)
    : d_(std::move(state))
{
}

AudioFileWriter::~AudioFileWriter()
{
    if (!d_->done)
        Abandon();
}

bool AudioFileWriter::Write(const void* data, size_t bytes)
{
    if (d_->done)
        return d_->Fail("written after it was closed");
    if (!d_->error.empty())
        return false;
    if (!d_->sink.Release(true))
        return d_->FailSystem("write failed", d_->sink.error);
    const auto* p = static_cast<const uint8_t*>(data);
    const size_t samplesPerChunk = 4096 * size_t(d_->channels);
    const size_t bytesPerSample = size_t(d_->bits / 8);
    // Completes the frame left over from the last call first.
    std::vector<uint8_t> joined;
    if (!d_->carry.empty()) {
        joined = d_->carry;
        joined.insert(joined.end(), p, p + bytes);
        p = joined.data();
        bytes = joined.size();
        d_->carry.clear();
    }
    size_t whole = bytes - bytes % d_->blockAlign;
    d_->carry.assign(p + whole, p + bytes);
    d_->samples.resize(samplesPerChunk);
    for (size_t at = 0; at < whole;) {
        size_t n = std::min(samplesPerChunk, (whole - at) / bytesPerSample);
        for (size_t i = 0; i < n; ++i, at += bytesPerSample) {
            const uint8_t* s = p + at;
            int v;
            switch (d_->bits) {
            case 8:
                v = (int(s[0]) - 128) * (1 << 24);
                break;
            case 16:
                v = int(int16_t(s[0] | s[1] << 8)) * (1 << 16);
                break;
            case 24:
                v = int(uint32_t(s[0]) << 8 | uint32_t(s[1]) << 16 | uint32_t(s[2]) << 24);
                break;
            default:
                v = int(uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16 | uint32_t(s[3]) << 24);
                break;
            }
            d_->samples[i] = v;
        }
        sf_count_t frames = sf_count_t(n / size_t(d_->channels));
        sf_count_t wrote = sf_writef_int(d_->file, d_->samples.data(), frames);
        if (wrote > 0)
            d_->frames += uint64_t(wrote);
        if (wrote != frames || d_->sink.error) {
            if (d_->sink.error)
                return d_->FailSystem("write failed", d_->sink.error);
            return d_->Fail(std::string("write failed: ") + sf_strerror(d_->file));
        }
    }
    return true;
}

bool AudioFileWriter::Finish()
{
    if (d_->done)
        return d_->error.empty();
    if (!d_->error.empty()) {
        Abandon();
        return false;
    }
    Sink& sink = d_->sink;
    // Closing writes the final header; into a stream that never saw audio
    // it is still held, and goes out complete.
    int closed = sf_close(d_->file);
    d_->file = nullptr;
    bool ok = sink.Release(false);
    if (!ok || closed != 0 || sink.error) {
        d_->FailSystem("write failed", sink.error);
        Abandon();
        return false;
    }
    if (!d_->temp.empty()) {
        if (::fchmod(sink.fd, d_->mode) != 0 || ::fsync(sink.fd) != 0) {
            d_->FailSystem("could not be saved", errno);
            Abandon();
            return false;
        }
    }
    int fd = sink.fd;
    sink.fd = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        d_->FailSystem("could not be saved", errno);
        Abandon();
        return false;
    }
    if (!d_->temp.empty()) {
        if (::rename(d_->temp.c_str(), d_->path.c_str()) != 0) {
            d_->FailSystem("could not be put in place", errno);
            Abandon();
            return false;
        }
        d_->temp.clear();
        // The new name must survive a crash as well as the data.
        int dir = ::open(FolderOf(d_->path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    d_->done = true;
    return true;
}

void AudioFileWriter::Abandon()
{
    if (d_->file)
        sf_close(d_->file);
    d_->file = nullptr;
    if (d_->sink.fd >= 0)
        ::close(d_->sink.fd);
    d_->sink.fd = -1;
    if (!d_->temp.empty())
        ::unlink(d_->temp.c_str());
    d_->temp.clear();
    d_->done = true;
}

const std::string& AudioFileWriter::Error() const
{
    return d_->error;
}

const std::string& AudioFileWriter::Path() const
{
    return d_->path;
}

double AudioFileWriter::Seconds() const
{
    return double(d_->frames) / double(d_->rate);
}

uint64_t AudioFileWriter::Frames() const
{
    return d_->frames;
}

} // namespace zq::wave
