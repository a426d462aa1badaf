#pragma once
// Running the program as a child process, and reading what it wrote.
#include "childprocess.h"
#include "scratchstoreenvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <vector>

namespace zqtest {

struct ProgramRun {
    int exitCode = -1;
    QStringList out;
    QString err;
    QByteArray rawOut;
};

inline QString Program()
{
    return QCoreApplication::applicationDirPath() + "/speechdemo";
}

// How a child is started beyond its arguments.
struct RunSetup {
    QByteArray input; // its standard input
    QString program = Program();
    QString workDir;
    QStringList env; // NAME=value changes this process's environment for it, NAME removes
};

inline ProgramRun RunProgram(const QStringList& args, const RunSetup& setup = {})
{
    ChildProcess p;
    ProgramRun r;
    if (!p.Start(setup.program, args, { setup.workDir, setup.env })) {
        r.err = "did not finish: " + p.Error();
        return r;
    }
    p.Write(setup.input);
    p.CloseInput();
    if (!p.WaitForExit(120000)) {
        p.Kill();
        r.err = "did not finish: timed out";
        return r;
    }
    r.exitCode = p.ExitCode();
    r.rawOut = p.Out();
    r.out = QString::fromLocal8Bit(r.rawOut).split('\n', Qt::SkipEmptyParts);
    r.err = QString::fromLocal8Bit(p.Err());
    return r;
}

struct Wav {
    int hz = 0, bits = 0, channels = 0;
    std::vector<int16_t> samples;
    double Seconds() const { return hz ? double(samples.size()) / hz : 0; }
};

// Reads a PCM WAV file: its format and, for 16-bit data, its samples.
inline bool ReadWav(const QString& path, Wav& wav)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray b = f.readAll();
    if (b.size() < 12 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE")
        return false;
    auto u32 = [&](qsizetype at) {
        uint32_t v = 0;
        std::memcpy(&v, b.constData() + at, 4);
        return v;
    };
    auto u16 = [&](qsizetype at) {
        uint16_t v = 0;
        std::memcpy(&v, b.constData() + at, 2);
        return v;
    };
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const QByteArray id = b.mid(at, 4);
        const qsizetype size = u32(at + 4);
        const qsizetype body = at + 8;
        if (body + size > b.size())
            return false;
        if (id == "fmt " && size >= 16) {
            wav.channels = u16(body + 2);
            wav.hz = int(u32(body + 4));
            wav.bits = u16(body + 14);
        } else if (id == "data") {
            wav.samples.resize(size_t(size / 2));
            if (!wav.samples.empty())
                std::memcpy(wav.samples.data(), b.constData() + body, wav.samples.size() * 2);
            return wav.hz > 0;
        }
        at = body + size + (size & 1);
    }
    return false;
}

inline double Rms(const std::vector<int16_t>& s)
{
    double sum = 0;
    for (int16_t v : s)
        sum += double(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
}

} // namespace zqtest
