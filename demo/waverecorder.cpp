#include "waverecorder.h"

#include <QFile>
#include <QSaveFile>

#include <cstring>

TWaveRecorder::TWaveRecorder(QObject* AOwner)
    : TzqCustomWave(AOwner)
{
    RecordSeconds = 3600;
}

TWaveRecorder::~TWaveRecorder()
{
    Destroying();
    StopRecord();
}

bool TWaveRecorder::PrepareRecord()
{
    {
        std::lock_guard lock(mutex_);
        data_.clear();
    }
    inputFormat_.wFormatTag = WAVE_FORMAT_PCM;
    inputFormat_.nChannels = static_cast<WORD>(Channels);
    inputFormat_.nSamplesPerSec = static_cast<DWORD>(Hz);
    inputFormat_.wBitsPerSample = static_cast<WORD>(Bits);
    inputFormat_.nBlockAlign = static_cast<WORD>(Channels * (Bits / 8));
    inputFormat_.nAvgBytesPerSec = inputFormat_.nBlockAlign * inputFormat_.nSamplesPerSec;
    inputFormat_.cbSize = 0;
    return true;
}

void TWaveRecorder::StoreRecorded(const void* Buffer, int Size)
{
    std::lock_guard lock(mutex_);
    data_.append(static_cast<const char*>(Buffer), Size);
}

QByteArray TWaveRecorder::Recorded() const
{
    std::lock_guard lock(mutex_);
    return data_;
}

namespace {
void Put32(QByteArray& b, uint32_t v)
{
    char c[4];
    std::memcpy(c, &v, 4);
    b.append(c, 4);
}
void Put16(QByteArray& b, uint16_t v)
{
    char c[2];
    std::memcpy(c, &v, 2);
    b.append(c, 2);
}
} // namespace

bool TWaveRecorder::SaveWav(const QString& path, QString* error) const
{
    const QByteArray pcm = Recorded();
    QByteArray wav;
    wav.append("RIFF");
    Put32(wav, static_cast<uint32_t>(36 + pcm.size()));
    wav.append("WAVEfmt ");
    Put32(wav, 16);
    Put16(wav, 1);
    Put16(wav, static_cast<uint16_t>(Channels));
    Put32(wav, static_cast<uint32_t>(Hz));
    Put32(wav, static_cast<uint32_t>(Hz * Channels * (Bits / 8)));
    Put16(wav, static_cast<uint16_t>(Channels * (Bits / 8)));
    Put16(wav, static_cast<uint16_t>(Bits));
    wav.append("data");
    Put32(wav, static_cast<uint32_t>(pcm.size()));
    wav.append(pcm);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(wav) != wav.size() || !f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}
