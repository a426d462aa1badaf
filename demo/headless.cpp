#include "headless.h"

#include "mainfrm.h"
#include "waverecorder.h"
#include "zqlogfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

void Out(const QString& s)
{
    std::fprintf(stdout, "%s\n", s.toLocal8Bit().constData());
    std::fflush(stdout);
}

void Err(const QString& s)
{
    std::fprintf(stderr, "speechdemo: %s\n", s.toLocal8Bit().constData());
}

// One side of a headless run: a window that is never shown, whose log
// entries are watched.
struct Side {
    QString label;
    std::unique_ptr<TForm1> form;
    TWaveRecorder* recorder = nullptr;
    TzqLogFile* log = nullptr;
    QString failure;
    bool connected = false, spoken = false, disconnected = false;

    Side(const QString& name, const THeadlessOptions& o)
        : label(name)
        , form(std::make_unique<TForm1>())
    {
        form->OnLogLine = [this](const QString& line) {
            Out(label.isEmpty() ? line : "[" + label + "] " + line);
            if (line == "Connection established") {
                connected = true;
                // At once, not at the next look: the line's input drops
                // what arrives before recording starts.
                if (recorder && !recorder->Recording())
                    recorder->StartRecord();
            } else if (line == "Speaking is finished")
                spoken = true;
            else if (line == "Line disconnected")
                disconnected = true;
            else if (failure.isEmpty())
                failure = line; // every other entry is an error report
        };
        // One call or one wait per run.
        form->zqCommTAPI1->SetRetries(0);
        if (o.verbose) {
            log = new TzqLogFile(form.get());
            form->zqCommTAPI1->SetLog(log);
            form->zqSpeech1->SetLog(log);
        }
    }

    bool SelectDevice(const QString& wanted, int fallback, QString& error)
    {
        TzqCommTAPI* line = form->zqCommTAPI1;
        if (line->DeviceCount() == 0)
            line->EnumDevices();
        int index = -1;
        bool numeric = false;
        const int n = wanted.toInt(&numeric);
        if (wanted.isEmpty())
            index = fallback;
        else if (numeric)
            index = n;
        else
            for (int i = 0; i < line->DeviceCount(); ++i)
                if (QString::fromStdString(line->GetDevice(i)->Name).compare(wanted, Qt::CaseInsensitive)
                    == 0)
                    index = i;
        if (index < 0 || index >= line->DeviceCount()) {
            QStringList names;
            for (int i = 0; i < line->DeviceCount(); ++i)
                names << "\"" + QString::fromStdString(line->GetDevice(i)->Name) + "\"";
            error = "no line device " + (wanted.isEmpty() ? QString::number(fallback) : "\"" + wanted + "\"")
                + (names.isEmpty() ? " (there are none)" : "; the devices are " + names.join(", "));
            return false;
        }
        line->SetDeviceIndex(index);
        return true;
    }

    bool SelectVoice(const QString& wanted, QString& error)
    {
        if (wanted.isEmpty()) {
            // The engine lists its voices by language code, so the first is
            // rarely the one wanted; runs without a window speak English
            // unless told otherwise.
            const int english = form->cbVoices->findText("English (America)");
            if (english >= 0)
                form->cbVoices->setCurrentIndex(english);
            return true;
        }
        bool numeric = false;
        int n = wanted.toInt(&numeric);
        if (!numeric) {
            n = -1;
            for (int i = 0; i < form->cbVoices->count(); ++i)
                if (form->cbVoices->itemText(i).compare(wanted, Qt::CaseInsensitive) == 0)
                    n = i;
        }
        if (n < 0 || n >= form->cbVoices->count()) {
            error = "no voice \"" + wanted + "\" (see --list)";
            return false;
        }
        form->cbVoices->setCurrentIndex(n);
        return true;
    }

    void SetText(const THeadlessOptions& o, bool silent)
    {
        if (o.textGiven)
            form->Memo1->setPlainText(o.text);
        else if (silent)
            form->Memo1->clear();
    }

    void StartRecording(const QString& path)
    {
        if (path.isEmpty())
            return;
        recorder = new TWaveRecorder(form.get());
        recorder->OnFatalError = TOnFatalErrorEvent(form.get(), &TForm1::zqCommTAPI1FatalError);
        recorder->SetzqCommTAPI(form->zqCommTAPI1);
    }
};

// Serves events until done() holds, a side reports a failure, or time runs
// out. Returns the failure text, empty on success.
QString RunUntil(const std::vector<Side*>& sides, const std::function<bool()>& done, int timeoutSeconds)
{
    QEventLoop loop;
    QTimer poll;
    bool timedOut = false;
    QTimer::singleShot(timeoutSeconds * 1000, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    auto check = [&] {
        for (Side* s : sides)
            if (!s->failure.isEmpty())
                loop.quit();
        if (done())
            loop.quit();
    };
    // The log callbacks flip the flags; look after every event batch.
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    poll.start(20);
    check();
    if (!done())
        loop.exec();
    for (Side* s : sides)
        if (!s->failure.isEmpty())
            return s->failure;
    if (timedOut && !done())
        return "timed out after " + QString::number(timeoutSeconds) + " s";
    return {};
}

int Fail(const QString& why)
{
    Err(why);
    return 1;
}

int ListDevices()
{
    Side s({}, THeadlessOptions {});
    TzqCommTAPI* line = s.form->zqCommTAPI1;
    line->EnumDevices();
    Out("Line devices:");
    for (int i = 0; i < line->DeviceCount(); ++i) {
        auto* d = static_cast<TzqDeviceTAPI*>(line->GetDevice(i));
        Out(QString("  %1: %2 (port %3, wave in %4, wave out %5)")
                .arg(i)
                .arg(QString::fromStdString(d->Name), QString::fromStdString(d->PortName))
                .arg(d->WaveInID)
                .arg(d->WaveOutID));
    }
    Out("Voices:");
    for (int i = 0; i < s.form->cbVoices->count(); ++i)
        Out(QString("  %1: %2").arg(i).arg(s.form->cbVoices->itemText(i)));
    return 0;
}

int Speak(const THeadlessOptions& o)
{
    Side s({}, o);
    QString error;
    if (!s.SelectVoice(o.voice, error))
        return Fail(error);
    s.SetText(o, false);
    s.form->ComboBox1->setCurrentIndex(1);
    s.form->Button4Click(s.form->Button4);
    error = RunUntil(
        { &s }, [&] { return s.spoken; }, o.timeoutSeconds);
    if (!error.isEmpty())
        return Fail(error);
    if (!o.wav.isEmpty())
        Out("Wrote " + QDir(o.wav).absolutePath());
    return 0;
}

int Call(const THeadlessOptions& o)
{
    Side s({}, o);
    QString error;
    if (!s.SelectDevice(o.device, 0, error) || !s.SelectVoice(o.voice, error))
        return Fail(error);
    s.SetText(o, false);
    s.form->Edit1->setText(o.call);
    s.form->Button3Click(s.form->Button3);
    error = RunUntil(
        { &s }, [&] { return s.spoken || s.disconnected; }, o.timeoutSeconds);
    if (error.isEmpty() && !s.spoken)
        error = "the call ended before the text was spoken";
    s.form->Button2Click(s.form->Button2);
    return error.isEmpty() ? 0 : Fail(error);
}

int Wait(const THeadlessOptions& o)
{
    Side s({}, o);
    QString error;
    if (!s.SelectDevice(o.device, 1, error) || !s.SelectVoice(o.voice, error))
        return Fail(error);
    s.SetText(o, !o.record.isEmpty());
    s.StartRecording(o.record);
    s.form->CheckBox1Click(s.form->CheckBox1);
    // With a recording the call lasts until the far end hangs up; without,
    // until the text has been spoken.
    error = RunUntil(
        { &s }, [&] { return s.recorder ? s.disconnected : (s.spoken || s.disconnected); }, o.timeoutSeconds);
    if (s.recorder) {
        s.recorder->StopRecord();
        if (error.isEmpty() && !s.recorder->SaveWav(o.record, &error))
            error = "cannot write " + o.record + ": " + error;
        if (error.isEmpty())
            Out("Recorded " + QString::number(s.recorder->Recorded().size() / 16000.0, 'f', 1) + " s to "
                + QDir(o.record).absolutePath());
    }
    if (!s.disconnected)
        s.form->Button2Click(s.form->Button2);
    return error.isEmpty() ? 0 : Fail(error);
}

// A call from Simulated line 1 to Simulated line 2 in this process: the
// caller speaks the text, the answering side records it.
int Demo(const THeadlessOptions& o)
{
    const QString path = o.record.isEmpty() ? QDir::temp().filePath("speechdemo-received.wav") : o.record;
    Side answer("line 2", o), caller("line 1", o);
    QString error;
    if (!answer.SelectDevice({}, 1, error) || !caller.SelectDevice({}, 0, error)
        || !caller.SelectVoice(o.voice, error))
        return Fail(error);
    answer.form->Memo1->clear();
    answer.StartRecording(path);
    caller.SetText(o, false);
    answer.form->CheckBox1Click(answer.form->CheckBox1);
    caller.form->Edit1->setText("1002"); // Simulated line 2's number

    caller.form->Button3Click(caller.form->Button3);
    error = RunUntil(
        { &caller, &answer },
        [&] {
            if (caller.spoken && !caller.disconnected) {
                caller.form->Button2Click(caller.form->Button2);
                caller.disconnected = true;
            }
            return answer.disconnected;
        },
        o.timeoutSeconds);
    answer.recorder->StopRecord();
    if (error.isEmpty() && !answer.recorder->SaveWav(path, &error))
        error = "cannot write " + path + ": " + error;
    if (!answer.disconnected)
        answer.form->Button2Click(answer.form->Button2);
    if (!error.isEmpty())
        return Fail(error);
    Out("The answering line received " + QString::number(answer.recorder->Recorded().size() / 16000.0, 'f', 1)
        + " s of audio, saved to " + QDir(path).absolutePath());
    return 0;
}

} // namespace

QString HeadlessHelp()
{
    return "Usage: speechdemo [options]\n"
           "Without options the window opens. With one of these the program runs without a window,\n"
           "writes the log lines of the window to stdout and exits with 0 on success:\n"
           "  --speak               speak the text to the speakers (wave device 0)\n"
           "  --speak --wav FILE    speak the text into a WAV file instead\n"
           "  --call NUMBER         dial NUMBER on the line device and speak the text when connected\n"
           "  --wait                wait for a call on the line device and speak the text when answered\n"
           "  --wait --record FILE  answer, record what the caller says into FILE until they hang up\n"
           "  --demo                call from \"Simulated line 1\" to \"Simulated line 2\" in this process,\n"
           "                        speak the text into the call and save what line 2 heard as a WAV\n"
           "                        file (--record FILE, default in the temporary folder)\n"
           "  --list                list the line devices and the voices\n"
           "Settings:\n"
           "  --device NAME|INDEX   line device (default: the first for --call, the second for --wait)\n"
           "  --text TEXT           text to speak (default: the memo's five lines)\n"
           "  --voice NAME|INDEX    voice (default: the first)\n"
           "  --timeout SECONDS     give up after this long (default 120)\n"
           "  --verbose             the components' own log on stderr\n"
           "  --help                this text\n"
           "Two runs reach each other through the simulated exchange: start\n"
           "  speechdemo --wait --record heard.wav\n"
           "and, once it waits, in another terminal\n"
           "  speechdemo --device \"Simulated line 1\" --call 1002 --text \"Hello\"\n";
}

bool ParseHeadlessOptions(
    const QStringList& args, THeadlessOptions& o, bool& headless, bool& help, QString& error)
{
    headless = false;
    help = false;
    auto value = [&](int& i, QString& out) {
        if (i + 1 >= args.size()) {
            error = args[i] + " needs a value";
            return false;
        }
        out = args[++i];
        return true;
    };
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        QString v;
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--speak") {
            o.speak = headless = true;
        } else if (a == "--wait") {
            o.wait = headless = true;
        } else if (a == "--demo") {
            o.demo = headless = true;
        } else if (a == "--list") {
            o.list = headless = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--call") {
            if (!value(i, o.call))
                return false;
            headless = true;
        } else if (a == "--wav") {
            if (!value(i, o.wav))
                return false;
        } else if (a == "--record") {
            if (!value(i, o.record))
                return false;
        } else if (a == "--device") {
            if (!value(i, o.device))
                return false;
        } else if (a == "--voice") {
            if (!value(i, o.voice))
                return false;
        } else if (a == "--text") {
            if (!value(i, o.text))
                return false;
            o.textGiven = true;
        } else if (a == "--timeout") {
            if (!value(i, v))
                return false;
            bool ok = false;
            o.timeoutSeconds = v.toInt(&ok);
            if (!ok || o.timeoutSeconds <= 0) {
                error = "--timeout needs a number of seconds";
                return false;
            }
        } else if (a.startsWith("-platform") || a.startsWith("-display")) {
            ++i; // Qt's own options
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    const int modes = int(o.speak) + int(o.wait) + int(o.demo) + int(o.list) + int(!o.call.isEmpty());
    if (modes > 1) {
        error = "choose one of --speak, --call, --wait, --demo and --list";
        return false;
    }
    if (!o.wav.isEmpty() && !o.speak) {
        error = "--wav goes with --speak";
        return false;
    }
    return true;
}

int RunHeadless(const THeadlessOptions& o)
{
    try {
        if (o.list)
            return ListDevices();
        if (o.demo)
            return Demo(o);
        if (o.speak)
            return Speak(o);
        if (!o.call.isEmpty())
            return Call(o);
        return Wait(o);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
