// Every line of `speechdemo --help` against what the program does.
#include "headlessoptions.h"
#include "mainfrm.h"
#include "programrun.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRegularExpression>

#include <algorithm>

namespace {

using namespace zqtest;
using zq::demo::HeadlessOptions;

// The help line that explains an option (its first line).
QString HelpLine(const QStringList& help, const QString& option)
{
    for (const QString& line : help)
        if (line.startsWith("  " + option + " ") || line.startsWith("  " + option + "\t"))
            return line;
    return {};
}

QByteArray Samples(const QString& wavPath)
{
    Wav wav;
    if (!ReadWav(wavPath, wav))
        return "<unreadable>";
    return QByteArray(reinterpret_cast<const char*>(wav.samples.data()), qsizetype(wav.samples.size() * 2));
}

// The options the help names, each with its value's placeholder: every
// token in the column before the explanations.
QList<std::pair<QString, QString>> OptionsInHelp(const QStringList& help)
{
    QList<std::pair<QString, QString>> named;
    const QRegularExpression token(R"((?:^|[ ,])(-{1,2}[a-z][a-z-]*)(?: ([A-Z][A-Z|]*))?)");
    for (const QString& line : help) {
        if (!line.startsWith("  -"))
            continue;
        const QString column = line.left(24);
        for (auto it = token.globalMatch(column); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const std::pair option { m.captured(1), m.captured(2) };
            if (!named.contains(option))
                named << option;
        }
    }
    return named;
}

TEST(HeadlessHelp, EveryOptionItNamesIsTakenAndNoOtherIs)
{
    const QList<std::pair<QString, QString>> named = OptionsInHelp(zq::demo::HeadlessHelp().split('\n'));
    QList<std::pair<QString, QString>> accepted;
    for (const auto& option : zq::demo::AcceptedOptions())
        accepted << std::pair { option.name, option.value };
    auto sorted = [](QList<std::pair<QString, QString>> list) {
        std::sort(list.begin(), list.end());
        return list;
    };
    EXPECT_EQ(sorted(named), sorted(accepted));
    EXPECT_TRUE(named.contains(std::pair<QString, QString> { "--screenshot", "FILE" }));

    // Each is taken, with what it goes with.
    for (const auto& [option, value] : named) {
        if (option == "--text-file")
            continue; // reads its file while parsing; run below
        QStringList args { "speechdemo" };
        if (option == "--wav")
            args << "--speak";
        if (option == "--record")
            args << "--wait";
        args << option;
        if (!value.isEmpty())
            args << (option == "--timeout" ? "5" : "x");
        HeadlessOptions o;
        bool headless = false, help = false;
        QString error;
        EXPECT_TRUE(zq::demo::ParseHeadlessOptions(args, o, headless, help, error))
            << args.join(' ').toStdString() << ": " << error.toStdString();
        if (option == "--screenshot") {
            EXPECT_EQ(o.screenshot, "x");
            EXPECT_FALSE(headless);
        }
    }
    // Options without their value, and options the help does not name, are refused.
    for (const QStringList& args : { QStringList { "speechdemo", "--no-such" },
             QStringList { "speechdemo", "-platformx", "y" }, QStringList { "speechdemo", "--screenshot" },
             QStringList { "speechdemo", "--screenshot", "a.png", "--list" } }) {
        HeadlessOptions o;
        bool headless = false, help = false;
        QString error;
        EXPECT_FALSE(zq::demo::ParseHeadlessOptions(args, o, headless, help, error))
            << args.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(HeadlessHelp, TheDefaultsItStatesAreTheOnesUsed)
{
    const QStringList help = zq::demo::HeadlessHelp().split('\n');
    const HeadlessOptions defaults;

    // --timeout: its range and default.
    const QRegularExpressionMatch timeout
        = QRegularExpression(R"(--timeout SECONDS .* (\d+) to (\d+) \(default (\d+)\))")
              .match(HelpLine(help, "--timeout"));
    ASSERT_TRUE(timeout.hasMatch()) << HelpLine(help, "--timeout").toStdString();
    EXPECT_EQ(timeout.captured(3).toInt(), defaults.timeoutSeconds);
    for (const auto& [value, accepted] :
        std::vector<std::pair<QString, bool>> { { timeout.captured(1), true }, { timeout.captured(2), true },
            { QString::number(timeout.captured(1).toInt() - 1), false },
            { QString::number(timeout.captured(2).toInt() + 1), false } }) {
        HeadlessOptions o;
        bool headless = false, h = false;
        QString error;
        EXPECT_EQ(zq::demo::ParseHeadlessOptions(
                      { "speechdemo", "--wait", "--timeout", value }, o, headless, h, error),
            accepted)
            << value.toStdString();
    }

    // --list names the devices and the voices the other lines speak of.
    const ProgramRun list = RunProgram({ "--list" });
    ASSERT_EQ(list.exitCode, 0) << list.err.toStdString();
    const int voicesAt = list.out.indexOf("Voices:");
    ASSERT_GT(voicesAt, 2) << list.out.join('\n').toStdString();
    auto entry = [](const QString& line) { return line.section(": ", 1).section(" (port", 0, 0); };
    const QString firstDevice = entry(list.out[1]), secondDevice = entry(list.out[2]);
    QStringList voices;
    for (int i = voicesAt + 1; i < list.out.size(); ++i)
        voices << entry(list.out[i]);
    ASSERT_FALSE(voices.isEmpty());

    // --device: the first for --call, the second for --wait.
    EXPECT_TRUE(HelpLine(help, "--device").contains("the first for --call, the second for --wait"));
    const ProgramRun call = RunProgram({ "--call", "1001", "--text", "Hi.", "--timeout", "60" });
    EXPECT_TRUE(call.out.contains("Dialling 1001 on \"" + firstDevice + "\""))
        << call.out.join('\n').toStdString();
    const ProgramRun wait = RunProgram({ "--wait", "--timeout", "1" });
    EXPECT_TRUE(wait.out.contains("Waiting for a call on \"" + secondDevice + "\""))
        << wait.out.join('\n').toStdString();

    // --voice: the first in --list, which starts with the voices of the
    // locale's language, or with the English ones when it names none.
    EXPECT_TRUE(HelpLine(help, "--voice").contains("(default: the first in --list;"))
        << HelpLine(help, "--voice").toStdString();
    const QString byDefault = Scratch().filePath("help-default-voice.wav");
    const QString named = Scratch().filePath("help-named-voice.wav");
    ASSERT_EQ(RunProgram({ "--speak", "--wav", byDefault, "--text", "Which voice is this?" }).exitCode, 0);
    ASSERT_EQ(
        RunProgram({ "--speak", "--wav", named, "--text", "Which voice is this?", "--voice", voices.first() })
            .exitCode,
        0);
    EXPECT_EQ(Samples(byDefault), Samples(named));
    auto firstVoice = [&](const QStringList& env) {
        RunSetup setup;
        setup.env = env;
        const ProgramRun run = RunProgram({ "--list" }, setup);
        const int at = run.out.indexOf("Voices:");
        return at >= 0 && at + 1 < run.out.size() ? entry(run.out[at + 1]) : QString();
    };
    EXPECT_TRUE(firstVoice({ "LC_ALL", "LC_MESSAGES", "LANG=C" }).startsWith("English"));
    EXPECT_TRUE(firstVoice({ "LC_ALL", "LC_MESSAGES", "LANG" }).startsWith("English"));
    EXPECT_EQ(firstVoice({ "LC_ALL", "LC_MESSAGES", "LANG=de_DE.UTF-8" }), "German");

    // --text: the memo's five lines.
    EXPECT_TRUE(HelpLine(help, "--text").contains("(default: the memo's five lines)"));
    QString memo;
    {
        TForm1 form;
        memo = form.Memo1->toPlainText();
    }
    EXPECT_EQ(memo.split('\n').size(), 5);
    const QString memoDefault = Scratch().filePath("help-memo-default.wav");
    const QString memoGiven = Scratch().filePath("help-memo-given.wav");
    ASSERT_EQ(RunProgram({ "--speak", "--wav", memoDefault }).exitCode, 0);
    RunSetup piped;
    piped.input = memo.toLocal8Bit();
    ASSERT_EQ(RunProgram({ "--speak", "--wav", memoGiven, "--text-file", "-" }, piped).exitCode, 0);
    EXPECT_EQ(Samples(memoDefault), Samples(memoGiven));

    // --speak goes to wave device 0 (here a file, by the test's environment).
    EXPECT_TRUE(HelpLine(help, "--speak").contains("(wave device 0)"));
    const QFileInfo speakers(Scratch().filePath("speakers.raw"));
    const qint64 before = speakers.exists() ? speakers.size() : 0;
    EXPECT_EQ(RunProgram({ "--speak", "--text", "To the speakers." }).exitCode, 0);
    EXPECT_GT(QFileInfo(speakers.filePath()).size(), before);

    // --verbose: the components' own log on stderr.
    ProgramRun verbose = RunProgram({ "--verbose", "--wait", "--timeout", "1" });
    EXPECT_FALSE(
        verbose.err.remove(QRegularExpression("speechdemo: timed out[^\n]*\n?")).trimmed().isEmpty());
    const ProgramRun quiet = RunProgram({ "--wait", "--timeout", "1" });
    EXPECT_TRUE(quiet.err.contains("speechdemo: timed out after 1 s")) << quiet.err.toStdString();
}

} // namespace
