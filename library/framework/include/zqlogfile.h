#pragma once
// The log sink interface, and a concrete sink for programs and tests.
#include "zqclasses_export.h"
#include "zqformat.h"
#include "zqtypes.h"

#include <cstdio>
#include <mutex>

class ZQCLASSES_EXPORT TzqCustomLogFile : public TComponent {
    Q_OBJECT
public:
    explicit TzqCustomLogFile(QObject* AOwner = nullptr);
    ~TzqCustomLogFile() override;

    virtual void FatalError(Cardinal ErrorCode, Cardinal Detail, const std::string& ErrorMsg);
    virtual void AddSeparator();
    virtual void WriteLine(int Level, const std::string& Text);
    virtual void WriteLineFmt(int Level, const std::string& Fmt, const TVarRecs& Args);

    TOnFatalErrorEvent OnFatalError;
};

// Timestamped lines with their level, to a file or to stderr. Safe to call
// from several threads; lines above MaxLevel are dropped.
class ZQCLASSES_EXPORT TzqLogFile : public TzqCustomLogFile {
    Q_OBJECT
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)
    Q_PROPERTY(int MaxLevel READ MaxLevel WRITE SetMaxLevel)
public:
    explicit TzqLogFile(QObject* AOwner = nullptr);
    ~TzqLogFile() override;

    // Empty: stderr. Otherwise the file is opened for appending.
    QString FileName() const;
    void SetFileName(const QString& name);
    int MaxLevel() const { return maxLevel_; }
    void SetMaxLevel(int level) { maxLevel_ = level; }
    // Writes lines without time stamp and level (the form a user reads).
    void SetPlain(bool plain) { plain_ = plain; }
    void SetStream(FILE* stream);

    void AddSeparator() override;
    void WriteLine(int Level, const std::string& Text) override;
    void WriteLineFmt(int Level, const std::string& Fmt, const TVarRecs& Args) override;

private:
    void Emit(int Level, const std::string& Text);
    mutable std::mutex mutex_;
    QString fileName_;
    FILE* file_ = nullptr;
    FILE* stream_ = stderr;
    int maxLevel_ = 2;
    bool plain_ = false;
};
