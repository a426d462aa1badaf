#pragma once
// Records what a line hears (or device 0's input) into an audio file as it
// arrives: the recording side of the wave component, for headless runs.
// Whatever ends the recording (the far end, a time-out, a signal), the file
// holds everything heard until then.
#include "zqwavebase.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>

namespace zq::wave {
class AudioFileWriter;
}

namespace zq::demo {

class TWaveRecorder : public TzqCustomWave {
    Q_OBJECT
public:
    explicit TWaveRecorder(QObject* AOwner = nullptr);
    ~TWaveRecorder() override;

    // The format recorded: 8000 Hz, 16 bits, mono.
    static constexpr int Hz = 8000;
    static constexpr int Bits = 16;
    static constexpr int Channels = 1;

    // Opens the destination before anything is recorded, so a path that
    // cannot be written is known at once. False with the reason.
    bool OpenFile(const QString& path, QString* error);
    // Completes the file with what was recorded (the recording must have
    // stopped). False with the reason when it, or any write, failed.
    bool FinishFile(QString* error);
    double Seconds() const;

    // Called once, on the recorder's own thread (from its event loop), after a
    // write failed.
    std::function<void(const QString& reason)> OnWriteError;

    bool PreparePlay() override { return false; }
    bool PrepareRecord() override;
    void StoreRecorded(const void* Buffer, int Size) override;

private:
    // Passes on the reason the recording thread left.
    Q_INVOKABLE void ReportWriteError();

    mutable std::mutex mutex_;
    std::unique_ptr<zq::wave::AudioFileWriter> writer_;
    bool writeFailed_ = false;
    QString writeError_;
};

} // namespace zq::demo
