// The program without a window, run as a child process: a call between the
// two simulated lines in which the answering side records what it hears,
// and the command line's own answers.
#include "eventwait.h"
#include "headlessoptions.h"
#include "linelistens.h"
#include "mainfrm.h"
#include "programrun.h"
#include "registry.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace zqtest;

[[maybe_unused]] ::testing::Environment* const kOwnRegistry
    = ::testing::AddGlobalTestEnvironment(new zqtest::ScratchStoreEnvironment);

// How long the memo's text is when spoken with the voice the run without a
// window picks (the window's first, in the same locale): rendered here
// through the window's own speech component.
double MemoSeconds()
{
    TForm1 form;
    form.ComboBox1->setCurrentIndex(1);
    form.Button4Click(form.Button4);
    const double seconds
        = double(form.zqSpeech1->RenderedBytes()) / form.zqSpeech1->OutputFormat().nAvgBytesPerSec;
    form.Button5Click(form.Button5);
    return seconds;
}

TEST(Headless, DemoCallDeliversTheSpokenMemoToTheAnsweringLine)
{
    const QString wavPath = Scratch().filePath("received.wav");
    const ProgramRun r = RunProgram({ "--demo", "--record", wavPath, "--timeout", "60" });
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString() << r.out.join('\n').toStdString();

    // Both sides connect, the caller speaks, then the answering side sees
    // the hang-up; the summary comes last.
    auto at = [&](const QString& line) { return r.out.indexOf(line); };
    const int answered = at("[line 2] Connection established");
    const int connected = at("[line 1] Connection established");
    const int spoken = at("[line 1] Speaking is finished");
    const int farEnd = at("[line 2] Line disconnected");
    ASSERT_GE(answered, 0) << r.out.join('\n').toStdString();
    ASSERT_GE(connected, 0) << r.out.join('\n').toStdString();
    ASSERT_GT(spoken, connected) << r.out.join('\n').toStdString();
    ASSERT_GT(farEnd, spoken) << r.out.join('\n').toStdString();
    // What a user of a call machine wants to see on the way.
    EXPECT_LT(at("[line 1] Dialling 1002 on \"Simulated line 1\""), connected);
    EXPECT_LT(at("[line 1] Ringing 1002"), connected);
    EXPECT_LT(at("[line 2] Incoming call from 1001 (Simulated line 1)"), answered);
    EXPECT_TRUE(
        r.out.indexOf(QRegularExpression(R"(\[line 1\] Call ended after \d+\.\d s: hung up here)")) > spoken)
        << r.out.join('\n').toStdString();
    EXPECT_TRUE(
        r.out.indexOf(QRegularExpression(R"(\[line 2\] Call ended after \d+\.\d s: hung up by the far end)"))
        > spoken)
        << r.out.join('\n').toStdString();
    EXPECT_TRUE(r.out.last().startsWith("The answering line received ")) << r.out.last().toStdString();
    EXPECT_TRUE(r.out.last().endsWith("saved to " + wavPath)) << r.out.last().toStdString();

    Wav wav;
    ASSERT_TRUE(ReadWav(wavPath, wav));
    EXPECT_EQ(wav.hz, 8000);
    EXPECT_EQ(wav.bits, 16);
    EXPECT_EQ(wav.channels, 1);
    // All of the speech, with the moments before it starts and after it
    // ends, and not silence.
    const double memo = MemoSeconds();
    ASSERT_GT(memo, 4.0);
    EXPECT_GE(wav.Seconds(), memo - 0.5) << "memo " << memo << " s";
    EXPECT_LE(wav.Seconds(), memo + 7.0) << "memo " << memo << " s";
    EXPECT_GT(Rms(wav.samples), 100.0);
}

// Speaking to the speakers or a file needs no line: that form leaves the
// device box unlinked, so the telephony service is never started for it.
TEST(Headless, AFormThatOnlySpeaksLeavesTheLineAloneAndSpeaks)
{
    TForm1 window;
    EXPECT_EQ(window.zqDeviceBox1->zqComm(), window.zqCommTAPI1);
    EXPECT_GT(window.zqDeviceBox1->count(), 0);

    TForm1 speaking(nullptr, zq::demo::TFormUse::SpeakingOnly);
    EXPECT_EQ(speaking.zqDeviceBox1->zqComm(), nullptr);
    EXPECT_EQ(speaking.zqDeviceBox1->count(), 0);
    EXPECT_EQ(speaking.cbVoices->count(), window.cbVoices->count());
    speaking.ComboBox1->setCurrentIndex(1);
    speaking.Button4Click(speaking.Button4);
    EXPECT_GT(speaking.zqSpeech1->RenderedBytes(), 0);
    speaking.Button5Click(speaking.Button5);
}

TEST(Headless, HelpExitsZeroWithTheUsage)
{
    const ProgramRun r = RunProgram({ "--help" });
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_FALSE(r.out.isEmpty());
    EXPECT_EQ(r.out.first(), "Usage: speechdemo [options]");
    EXPECT_TRUE(r.out.join('\n').contains("--demo"));
}

TEST(Headless, UnknownOptionFailsWithAMessage)
{
    const ProgramRun r = RunProgram({ "--no-such-option" });
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("speechdemo: unknown option --no-such-option")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}

TEST(Headless, OptionsThatDoNotGoTogetherFail)
{
    const ProgramRun r = RunProgram({ "--speak", "--demo" });
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("choose one of")) << r.err.toStdString();
    const ProgramRun wav = RunProgram({ "--wav", Scratch().filePath("x.wav") });
    EXPECT_NE(wav.exitCode, 0);
    EXPECT_TRUE(wav.err.contains("--wav goes with --speak")) << wav.err.toStdString();
}

} // namespace

namespace {

// Two runs of the program, one waiting on line 2 and recording, the other
// calling it from line 1: the call crosses between the programs.
TEST(Headless, ACallFromAnotherRunIsAnsweredAndRecorded)
{
    const QString wavPath = Scratch().filePath("two-runs.wav");
    ChildProcess waiting;
    ASSERT_TRUE(waiting.Start(Program(), { "--wait", "--record", wavPath, "--timeout", "60" }))
        << waiting.Error().toStdString();
    // The waiting run is reachable once its line listens.
    ASSERT_TRUE(zqtest::WaitUntil([&] { return zqtest::LineListens("1002") || !waiting.Running(); }));
    ASSERT_TRUE(zqtest::LineListens("1002")) << waiting.Err().toStdString();

    const ProgramRun caller = RunProgram({ "--device", "Simulated line 1", "--call", "1002", "--text",
        "Hello from the other program.", "--timeout", "60" });
    EXPECT_EQ(caller.exitCode, 0) << caller.err.toStdString();
    EXPECT_TRUE(caller.out.contains("Connection established"));
    EXPECT_TRUE(caller.out.contains("Speaking is finished"));

    ASSERT_TRUE(waiting.WaitForExit(90000));
    const QStringList heard = QString::fromLocal8Bit(waiting.Out()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(waiting.ExitCode(), 0) << waiting.Err().toStdString();
    EXPECT_TRUE(heard.contains("Connection established"));
    EXPECT_TRUE(heard.contains("Line disconnected"));
    Wav wav;
    ASSERT_TRUE(ReadWav(wavPath, wav));
    EXPECT_GT(wav.Seconds(), 1.0);
    EXPECT_GT(Rms(wav.samples), 100.0);
    EXPECT_FALSE(zqtest::LineListens("1002")); // gone with the wait
}

} // namespace
