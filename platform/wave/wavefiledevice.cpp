// Output devices that write into a file. Nobody listens to a file, so the
// device takes buffers as fast as they come; its errors are kept for the
// program to ask about, and its buffers complete whatever happens to the disk.
#include "wavedevices.h"
#include "wavefile.h"

#include <map>
#include <mutex>

namespace zq::wave {
namespace {

AudioContainer ContainerOf(WaveFileFormat format)
{
    switch (format) {
    case WaveFileFormat::Wav:
        return AudioContainer::Wav;
    case WaveFileFormat::Raw:
        return AudioContainer::Raw;
    default:
        return AudioContainer::FromExtension;
    }
}

// Open comes from the thread opening the device, Write/Reset/Close from the
// device's worker, Error from anywhere.
class FileWaveOut : public WaveOutEndpoint {
public:
    FileWaveOut(std::string path, AudioContainer container)
        : path_(std::move(path))
        , container_(container)
    {
    }

    MMRESULT Open(const WAVEFORMATEX& format) override
    {
        std::string error;
        auto writer = AudioFileWriter::Open(path_, format, container_, &error);
        std::lock_guard lock(mutex_);
        error_ = error;
        writer_ = std::move(writer);
        return writer_ ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }

    void Write(const void* data, size_t bytes) override
    {
        // After a failed write the rest is dropped, but the buffers still
        // complete: the program learns of the failure by asking, not by a hang.
        if (writer_ && writer_->Error().empty() && !writer_->Write(data, bytes))
            Keep(writer_->Error());
    }

    void Close() override
    {
        if (writer_ && !writer_->Finish())
            Keep(writer_->Error());
        writer_.reset();
    }

    bool RealTime() const override { return false; }

    std::string Error() const
    {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    void Keep(const std::string& error)
    {
        std::lock_guard lock(mutex_);
        if (error_.empty())
            error_ = error;
    }

    const std::string path_;
    const AudioContainer container_;
    std::unique_ptr<AudioFileWriter> writer_;
    mutable std::mutex mutex_;
    std::string error_;
};

std::mutex& FileDevicesMutex()
{
    static auto* m = new std::mutex; // outlives static destructors
    return *m;
}

std::map<UINT, std::weak_ptr<FileWaveOut>>& FileDevices()
{
    static auto* devices = new std::map<UINT, std::weak_ptr<FileWaveOut>>;
    return *devices;
}

} // namespace

UINT RegisterWaveOutFileDevice(const std::string& name, const std::string& path, WaveFileFormat format)
{
    auto endpoint = std::make_shared<FileWaveOut>(path, ContainerOf(format));
    std::lock_guard lock(FileDevicesMutex());
    UINT id = RegisterWaveOutDevice(name, endpoint);
    FileDevices()[id] = endpoint;
    return id;
}

std::string WaveOutFileDeviceError(UINT deviceId)
{
    std::shared_ptr<FileWaveOut> device;
    {
        std::lock_guard lock(FileDevicesMutex());
        auto it = FileDevices().find(deviceId);
        if (it != FileDevices().end())
            device = it->second.lock();
    }
    return device ? device->Error() : std::string();
}

} // namespace zq::wave
