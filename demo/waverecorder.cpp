#include "waverecorder.h"

#include "wavefile.h"

#include <QFile>

namespace zq::demo {

namespace {

WAVEFORMATEX RecordFormat()
{
    WAVEFORMATEX f {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = WORD(TWaveRecorder::Channels);
    f.nSamplesPerSec = DWORD(TWaveRecorder::Hz);
    f.wBitsPerSample = WORD(TWaveRecorder::Bits);
    f.nBlockAlign = WORD(TWaveRecorder::Channels * TWaveRecorder::Bits / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
    f.cbSize = 0;
    return f;
}

} // namespace

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

bool TWaveRecorder::OpenFile(const QString& path, QString* error)
{
    std::string why;
    auto writer
        = zq::wave::AudioFileWriter::Open(QFile::encodeName(path).toStdString(), RecordFormat(), &why);
    if (!writer) {
        *error = QString::fromStdString(why);
        return false;
    }
    std::lock_guard lock(mutex_);
    writer_ = std::move(writer);
    writeFailed_ = false;
    return true;
}

bool TWaveRecorder::FinishFile(QString* error)
{
    std::lock_guard lock(mutex_);
    if (!writer_) {
        *error = "no file is open";
        return false;
    }
    const bool finished = writer_->Finish();
    if (!finished)
        *error = QString::fromStdString(writer_->Error());
    return finished;
}

double TWaveRecorder::Seconds() const
{
    std::lock_guard lock(mutex_);
    return writer_ ? writer_->Seconds() : 0.0;
}

bool TWaveRecorder::PrepareRecord()
{
    inputFormat_ = RecordFormat();
    return true;
}

void TWaveRecorder::StoreRecorded(const void* Buffer, int Size)
{
    std::lock_guard lock(mutex_);
    if (!writer_ || writeFailed_ || Size <= 0 || writer_->Write(Buffer, size_t(Size)))
        return;
    writeFailed_ = true;
    writeError_ = QString::fromStdString(writer_->Error());
    // Only a wake-up, by name, crosses to the recorder's thread: this thread
    // makes nothing (no slot object) that the other one reads or frees, and
    // the reason is read there under the lock.
    QMetaObject::invokeMethod(this, "ReportWriteError", Qt::QueuedConnection);
}

void TWaveRecorder::ReportWriteError()
{
    QString reason;
    {
        std::lock_guard lock(mutex_);
        reason = writeError_;
    }
    if (OnWriteError)
        OnWriteError(reason);
}

} // namespace zq::demo
