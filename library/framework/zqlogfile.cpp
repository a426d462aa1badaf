#include "zqlogfile.h"

#include <QDateTime>

TzqCustomLogFile::TzqCustomLogFile(QObject* AOwner)
    : TComponent(AOwner)
{
}

TzqCustomLogFile::~TzqCustomLogFile()
{
    Destroying();
}

void TzqCustomLogFile::FatalError(Cardinal ErrorCode, Cardinal Detail, const std::string& ErrorMsg)
{
    bool RaiseException = true;
    if (OnFatalError)
        OnFatalError(this, ErrorCode, Detail, ErrorMsg, RaiseException);
    if (RaiseException)
        throw Exception(ErrorMsg);
}

void TzqCustomLogFile::AddSeparator()
{
    throw EAbstractError();
}

void TzqCustomLogFile::WriteLine(int, const std::string&)
{
    throw EAbstractError();
}

void TzqCustomLogFile::WriteLineFmt(int, const std::string&, const TVarRecs&)
{
    throw EAbstractError();
}

TzqLogFile::TzqLogFile(QObject* AOwner)
    : TzqCustomLogFile(AOwner)
{
}

TzqLogFile::~TzqLogFile()
{
    Destroying();
    if (file_)
        std::fclose(file_);
}

QString TzqLogFile::FileName() const
{
    std::lock_guard lock(mutex_);
    return fileName_;
}

void TzqLogFile::SetFileName(const QString& name)
{
    std::lock_guard lock(mutex_);
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    fileName_ = name;
    if (!name.isEmpty()) {
        file_ = std::fopen(name.toLocal8Bit().constData(), "a");
        if (!file_)
            throw Exception("Cannot open the log file \"" + name.toStdString() + "\"");
    }
}

void TzqLogFile::SetStream(FILE* stream)
{
    std::lock_guard lock(mutex_);
    stream_ = stream;
}

void TzqLogFile::Emit(int Level, const std::string& Text)
{
    if (Level > maxLevel_)
        return;
    std::lock_guard lock(mutex_);
    FILE* out = file_ ? file_ : stream_;
    if (!out)
        return;
    if (plain_) {
        std::fprintf(out, "%s\n", Text.c_str());
    } else {
        const QByteArray stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toLocal8Bit();
        std::fprintf(out, "%s [%d] %s\n", stamp.constData(), Level, Text.c_str());
    }
    std::fflush(out);
}

void TzqLogFile::AddSeparator()
{
    Emit(0, "----------------------------------------");
}

void TzqLogFile::WriteLine(int Level, const std::string& Text)
{
    Emit(Level, Text);
}

void TzqLogFile::WriteLineFmt(int Level, const std::string& Fmt, const TVarRecs& Args)
{
    std::string text;
    try {
        text = Format(Fmt, Args);
    } catch (const EConvertError& e) {
        // A bad format must not cost the line: keep it raw with the reason.
        text = Fmt + " <" + e.what() + ">";
    }
    Emit(Level, text);
}
