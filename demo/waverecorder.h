#pragma once
// Records what a line hears (or device 0's input) into a WAV file: the
// recording side of the wave component, for headless runs.
#include "zqwavebase.h"

#include <QByteArray>
#include <QString>

#include <mutex>

class TWaveRecorder : public TzqCustomWave {
    Q_OBJECT
public:
    explicit TWaveRecorder(QObject* AOwner = nullptr);
    ~TWaveRecorder() override;

    // 8000 Hz, 16 bits, mono unless changed before StartRecord.
    int Hz = 8000;
    int Bits = 16;
    int Channels = 1;

    bool PreparePlay() override { return false; }
    bool PrepareRecord() override;
    void StoreRecorded(const void* Buffer, int Size) override;

    // The PCM recorded so far.
    QByteArray Recorded() const;
    // Writes what was recorded as a WAV file; false with a reason on failure.
    bool SaveWav(const QString& path, QString* error) const;

private:
    mutable std::mutex mutex_;
    QByteArray data_;
};
