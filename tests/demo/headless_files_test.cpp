// What the runs without a window do with files, numbers, texts and signals:
// audio files written through a real writer whose every error is reported,
// recordings kept whatever ends the call, values checked at once.
#include "eventwait.h"
#include "linelistens.h"
#include "programrun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace zqtest;

bool IsFifo(const QString& path)
{
    struct stat st { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

bool IsCharDevice(const QString& path)
{
    struct stat st { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

// A small file system of its own, mounted for one test (we run as root);
// empty when it cannot be had.
class SmallMount {
public:
    SmallMount(const QString& name, const char* options)
        : path_(Scratch().filePath(name))
    {
        QDir().mkpath(path_);
        if (::mount("zqtest", QFile::encodeName(path_).constData(), "tmpfs", 0, options) == 0)
            mounted_ = true;
    }
    ~SmallMount()
    {
        if (mounted_)
            ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    QString Path() const { return path_; }

private:
    QString path_;
    bool mounted_ = false;
};

TEST(HeadlessLimits, NumbersOutOfRangeAndEmptyValuesAreRefusedAtOnce)
{
    struct Case {
        QStringList args;
        QString message;
    };
    const QString timeoutMessage = "--timeout needs a whole number of seconds from 1 to 86400";
    const std::vector<Case> cases = {
        { { "--wait", "--timeout", "0" }, timeoutMessage },
        { { "--wait", "--timeout", "-5" }, timeoutMessage },
        { { "--wait", "--timeout", "2147484" }, timeoutMessage },
        { { "--wait", "--timeout", "4294968" }, timeoutMessage },
        { { "--wait", "--timeout", "99999999999999999999" }, timeoutMessage },
        { { "--wait", "--timeout", "ten" }, timeoutMessage },
        { { "--call", "" }, "--call needs a number to dial" },
        { { "--call", "  " }, "--call needs a number to dial" },
        { { "--speak", "--text", "" }, "the text is empty: there is nothing to speak" },
        { { "--call", "1002", "--text", " \n " }, "the text is empty: there is nothing to speak" },
        { { "--speak", "--text-file", "-" }, "the text is empty: there is nothing to speak" },
        { { "--speak", "--text-file", Scratch().filePath("no-such-text") }, "cannot read the text file" },
        { { "--speak", "--text", "a", "--text-file", "-" },
            "give the text either with --text or with --text-file" },
        { { "--speak", "--wav", "" }, "--wav needs a file name" },
        { { "--call", "1002", "--record", "x.wav" }, "--record goes with --wait or --demo" },
    };
    for (const Case& c : cases) {
        const ProgramRun r = RunProgram(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("speechdemo: " + c.message)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.join('\n').toStdString();
    }
    // The line tool keeps a call up for as long as it is told, within reason.
    for (const char* hold : { "-1", "86401", "x" }) {
        RunSetup tool;
        tool.program = QCoreApplication::applicationDirPath() + "/zqlines";
        const ProgramRun r = RunProgram({ "--call", "1002", "--hold", hold }, tool);
        EXPECT_EQ(r.exitCode, 2) << hold;
        EXPECT_TRUE(r.err.contains("--hold needs a number of seconds from 0 to 86400"))
            << r.err.toStdString();
    }
}

TEST(HeadlessFiles, TextFromAFileOrStandardInputIsSpokenAsGiven)
{
    const QByteArray text = "Hello there. This text came from a file.\nAnd this is its second line.";
    const QString textPath = Scratch().filePath("text.txt");
    {
        QFile f(textPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text + "\n");
    }
    const QString given = Scratch().filePath("given.wav"), fromFile = Scratch().filePath("from-file.wav"),
                  fromInput = Scratch().filePath("from-input.wav");
    ASSERT_EQ(RunProgram({ "--speak", "--wav", given, "--text", QString::fromUtf8(text) }).exitCode, 0);
    ASSERT_EQ(RunProgram({ "--speak", "--wav", fromFile, "--text-file", textPath }).exitCode, 0);
    RunSetup piped;
    piped.input = text;
    const ProgramRun r = RunProgram({ "--speak", "--wav", fromInput, "--text-file", "-" }, piped);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.last(), "Wrote " + fromInput);
    Wav a, b, c;
    ASSERT_TRUE(ReadWav(given, a));
    ASSERT_TRUE(ReadWav(fromFile, b));
    ASSERT_TRUE(ReadWav(fromInput, c));
    EXPECT_GT(a.Seconds(), 2.0);
    EXPECT_EQ(a.samples, b.samples);
    EXPECT_EQ(a.samples, c.samples);
}

TEST(HeadlessFiles, AFileNameIsOnlyEverAFileName)
{
    QTemporaryDir dir;
    RunSetup here;
    here.workDir = dir.path();
    const ProgramRun r = RunProgram({ "--speak", "--wav", "|touch shell-ran", "--text", "Hi." }, here);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("shell-ran")));
    Wav wav;
    EXPECT_TRUE(ReadWav(dir.filePath("|touch shell-ran"), wav));
}

TEST(HeadlessFiles, EveryWavWriteErrorFailsTheRunAndNothingClaimsItWasWritten)
{
    SmallMount readOnly("read-only", "ro,size=64k");
    std::vector<QString> targets = { Scratch().filePath("no-such-folder/out.wav"), "/dev/full" };
    if (readOnly.Mounted())
        targets.push_back(readOnly.Path() + "/out.wav");
    else
        ADD_FAILURE() << "cannot mount a read-only folder; the test needs to run as root";
    for (const QString& target : targets) {
        const ProgramRun r = RunProgram({ "--speak", "--wav", target, "--text", "Hello there." });
        EXPECT_EQ(r.exitCode, 1) << target.toStdString();
        EXPECT_TRUE(r.err.contains("speechdemo: cannot write " + target)) << r.err.toStdString();
        for (const QString& line : r.out)
            EXPECT_FALSE(line.startsWith("Wrote")) << line.toStdString();
        // Error texts with line breaks of their own print as lines.
        EXPECT_FALSE(r.rawOut.contains('\r'));
        EXPECT_FALSE(r.err.contains('\r'));
    }
    EXPECT_TRUE(IsCharDevice("/dev/full"));
}

TEST(HeadlessFiles, ARecordingsDestinationIsCheckedBeforeTheCall)
{
    const QString target = Scratch().filePath("no-such-folder/heard.wav");
    const ProgramRun r = RunProgram({ "--wait", "--record", target, "--timeout", "120" });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("speechdemo: cannot record into " + target)) << r.err.toStdString();
    EXPECT_FALSE(r.out.join('\n').contains("Waiting for a call")) << r.out.join('\n').toStdString();
}

TEST(HeadlessFiles, ARecordingGoesIntoAFifoOrDeviceWithoutReplacingIt)
{
    const QString fifo = Scratch().filePath("heard.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ChildProcess reader;
    ASSERT_TRUE(reader.Start("cat", { fifo })) << reader.Error().toStdString();
    const ProgramRun r
        = RunProgram({ "--demo", "--record", fifo, "--text", "Hello through a pipe.", "--timeout", "120" });
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_TRUE(reader.WaitForExit(60000));
    const QByteArray heard = reader.Out();
    EXPECT_TRUE(heard.startsWith("RIFF"));
    EXPECT_GT(heard.size(), 8000); // over half a second of 8 kHz 16-bit audio
    EXPECT_TRUE(IsFifo(fifo));

    const ProgramRun full
        = RunProgram({ "--demo", "--record", "/dev/full", "--text", "Hello.", "--timeout", "120" });
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_TRUE(full.err.contains("speechdemo: cannot write /dev/full")) << full.err.toStdString();
    EXPECT_FALSE(full.out.join('\n').contains("received")) << full.out.join('\n').toStdString();
    EXPECT_TRUE(IsCharDevice("/dev/full"));
}

TEST(HeadlessFiles, ARecordingOnAFullDiskFailsAndLeavesNothingHalfWritten)
{
    SmallMount small("small", "size=64k");
    if (!small.Mounted())
        GTEST_SKIP() << "cannot mount a small file system; the test needs to run as root";
    // The memo lasts several seconds: more than 64 KB at 16 kB a second.
    const QString target = small.Path() + "/heard.wav";
    const ProgramRun r = RunProgram({ "--demo", "--record", target, "--timeout", "120" });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("speechdemo: cannot write " + target)) << r.err.toStdString();
    EXPECT_FALSE(r.out.join('\n').contains("received")) << r.out.join('\n').toStdString();
    EXPECT_TRUE(
        QDir(small.Path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

TEST(HeadlessFiles, TheDemosOwnFileCannotBePlanted)
{
    for (const char* variable : { "XDG_RUNTIME_DIR", "TMPDIR" }) {
        SCOPED_TRACE(variable);
        QTemporaryDir dir;
        const QString victim = dir.filePath("victim");
        {
            QFile f(victim);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("keep me");
        }
        ASSERT_TRUE(QFile::link(victim, dir.filePath("speechdemo-received.wav")));
        RunSetup setup;
        setup.env = { QString(variable) + "=" + dir.path() };
        if (QString(variable) == "TMPDIR")
            setup.env << "XDG_RUNTIME_DIR";
        const ProgramRun r = RunProgram({ "--demo", "--text", "Hi.", "--timeout", "120" }, setup);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), "keep me");
        const QRegularExpression saved(
            "saved to (" + QRegularExpression::escape(dir.path()) + "/speechdemo-received-\\w+\\.wav)$");
        const QRegularExpressionMatch m = saved.match(r.out.last());
        ASSERT_TRUE(m.hasMatch()) << r.out.last().toStdString();
        Wav wav;
        EXPECT_TRUE(ReadWav(m.captured(1), wav));
    }
}

TEST(HeadlessCalls, TheCallsProgressAndWhyItEndedAreShown)
{
    // Simulated line 1 calling itself finds itself busy.
    const ProgramRun self = RunProgram({ "--call", "1001", "--text", "Hi.", "--timeout", "120" });
    EXPECT_EQ(self.exitCode, 1);
    EXPECT_TRUE(self.out.contains("Dialling 1001 on \"Simulated line 1\""))
        << self.out.join('\n').toStdString();
    EXPECT_TRUE(self.out.contains("Call not connected: busy")) << self.out.join('\n').toStdString();

    // The exchange's scripted far ends.
    const QString longText = "Hello there, listen to me for a while please. "
                             "This sentence goes on for some seconds more.";
    const ProgramRun digits
        = RunProgram({ "--call", "1002/dtmf=123", "--text", longText, "--timeout", "120" });
    EXPECT_EQ(digits.exitCode, 0) << digits.err.toStdString();
    const int connected = digits.out.indexOf("Connection established");
    ASSERT_GE(connected, 0) << digits.out.join('\n').toStdString();
    EXPECT_EQ(digits.out.indexOf("Ringing 1002/dtmf=123"), connected - 1)
        << digits.out.join('\n').toStdString();
    EXPECT_GT(digits.out.indexOf("Digit received: 1"), connected);
    EXPECT_GT(digits.out.indexOf("Digit received: 2"), digits.out.indexOf("Digit received: 1"));
    EXPECT_GT(digits.out.indexOf("Digit received: 3"), digits.out.indexOf("Digit received: 2"));

    const ProgramRun noAnswer
        = RunProgram({ "--call", "1002/noanswer=1s", "--text", "Hi.", "--timeout", "120" });
    EXPECT_EQ(noAnswer.exitCode, 1);
    EXPECT_TRUE(noAnswer.out.contains("Call not connected: no answer"))
        << noAnswer.out.join('\n').toStdString();

    const ProgramRun hungUp
        = RunProgram({ "--call", "1002/hangup=1s", "--text", longText, "--timeout", "120" });
    EXPECT_EQ(hungUp.exitCode, 1);
    EXPECT_TRUE(
        hungUp.out.indexOf(QRegularExpression(R"(^Call ended after \d+\.\d s: hung up by the far end$)"))
        >= 0)
        << hungUp.out.join('\n').toStdString();
    EXPECT_TRUE(hungUp.err.contains("the call ended before the text was spoken")) << hungUp.err.toStdString();
}

// A waiting recorder that runs out of time, or is told to stop, ends the
// call cleanly: what was heard is in a valid file, the program says where,
// and its line no longer waits.
TEST(HeadlessSignals, TimeOutOrSignalKeepsTheRecordingAndClosesTheLine)
{
    {
        const QString path = Scratch().filePath("timed-out.wav");
        const ProgramRun r = RunProgram({ "--wait", "--record", path, "--timeout", "1" });
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("speechdemo: timed out after 1 s")) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains("Recorded 0.0 s to " + path)) << r.out.join('\n').toStdString();
        Wav wav;
        EXPECT_TRUE(ReadWav(path, wav));
        EXPECT_FALSE(zqtest::LineListens("1002"));
    }
    for (const int number : { SIGINT, SIGTERM }) {
        SCOPED_TRACE(number);
        const QString path = Scratch().filePath(QString("stopped-%1.wav").arg(number));
        ChildProcess waiting;
        ASSERT_TRUE(waiting.Start(Program(), { "--wait", "--record", path, "--timeout", "120" }))
            << waiting.Error().toStdString();
        ASSERT_TRUE(zqtest::WaitUntil([&] { return zqtest::LineListens("1002") || !waiting.Running(); }));
        ChildProcess caller;
        if (number == SIGTERM) {
            // In the middle of a call: the caller speaks for a long while.
            ASSERT_TRUE(caller.Start(Program(),
                { "--device", "Simulated line 1", "--call", "1002", "--text",
                    QString("This sentence is spoken again and again. ").repeated(30), "--timeout", "120" }))
                << caller.Error().toStdString();
            ASSERT_TRUE(waiting.WaitForOut("Connection established", 60000) || !waiting.Running());
            // Some audio has arrived once the recording has grown.
            ASSERT_TRUE(zqtest::WaitUntil(
                [&] {
                    for (const QFileInfo& f :
                        QDir(Scratch().path()).entryInfoList(QDir::Files | QDir::Hidden))
                        if (f.fileName().contains(QFileInfo(path).fileName()) && f.size() > 16000)
                            return true;
                    return false;
                },
                60000));
        }
        waiting.Signal(number);
        ASSERT_TRUE(waiting.WaitForExit(60000));
        EXPECT_FALSE(waiting.Crashed());
        EXPECT_EQ(waiting.ExitCode(), 128 + number);
        const QString out = QString::fromLocal8Bit(waiting.Out());
        const QString err = QString::fromLocal8Bit(waiting.Err());
        EXPECT_TRUE(err.contains(number == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM"))
            << err.toStdString();
        EXPECT_TRUE(out.contains("Recorded ") && out.contains(" to " + path)) << out.toStdString();
        Wav wav;
        ASSERT_TRUE(ReadWav(path, wav));
        if (number == SIGTERM) {
            EXPECT_GT(wav.Seconds(), 0.5);
            EXPECT_TRUE(out.contains(QRegularExpression("Call ended after \\d+\\.\\d s: hung up here")))
                << out.toStdString();
            ASSERT_TRUE(caller.WaitForExit(60000));
            EXPECT_TRUE(QString::fromLocal8Bit(caller.Out()).contains("hung up by the far end"));
        }
        EXPECT_FALSE(zqtest::LineListens("1002"));
    }
}

} // namespace
