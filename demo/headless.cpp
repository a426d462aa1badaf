#include "headless.h"

#include "mainfrm.h"
#include "signalwatch.h"
#include "wavedevices.h"
#include "waverecorder.h"
#include "zqlogfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace zq::demo {

namespace {

// Error texts of the library put their parts on lines of their own with
// bare carriage returns, which a terminal would print over each other.
QString Readable(QString s)
{
    s.replace("\r\n", "\n");
    s.replace('\r', '\n');
    return s;
}

void PrintLine(const QString& s)
{
    std::fprintf(stdout, "%s\n", Readable(s).toLocal8Bit().constData());
    std::fflush(stdout);
}

void PrintError(const QString& s)
{
    std::fprintf(stderr, "speechdemo: %s\n", Readable(s).toLocal8Bit().constData());
}

QString Seconds(double s)
{
    return QString::number(s, 'f', 1) + " s";
}

QString DisconnectReason(Cardinal mode)
{
    switch (mode) {
    case LINEDISCONNECTMODE_BUSY:
        return "busy";
    case LINEDISCONNECTMODE_NOANSWER:
        return "no answer";
    case LINEDISCONNECTMODE_REJECT:
        return "rejected by the far end";
    case LINEDISCONNECTMODE_BADADDRESS:
        return "no such number";
    case LINEDISCONNECTMODE_UNAVAIL:
        return "the far end cannot be reached";
    default:
        return "hung up by the far end";
    }
}

// The signal that asked this run to stop (0: none yet), and who to tell.
int g_signal = 0;
std::function<void()> g_onSignal;
std::unique_ptr<SignalWatch> g_signalWatch;

// From the moment a call is placed or awaited, Ctrl-C and SIGTERM end the
// call cleanly instead of the program; a second one while the call is being ended changes
// nothing. Before, they end the program as usual: nothing is recorded yet,
// and opening a FIFO that has no reader would not be interrupted.
void WatchSignals()
{
    if (g_signalWatch)
        return;
    g_signalWatch = std::make_unique<SignalWatch>([](int number) {
        if (!g_signal)
            g_signal = number;
        if (g_onSignal)
            g_onSignal();
    });
}

// Why a run stopped waiting, when it was not the wanted end.
struct Interruption {
    QString failure; // a side's error report, a write error, the time-out
    int signal = 0; // SIGINT or SIGTERM
};

// One side of a headless run: a window that is never shown, whose log
// entries and line events are watched. Everything runs on the main thread.
class HeadlessWindow {
public:
    QString label;
    std::unique_ptr<TForm1> form;
    TWaveRecorder* recorder = nullptr;
    QString failure;
    bool connected = false, spoken = false, disconnected = false;
    // Called after every change of the flags above.
    std::function<void()> changed;

    HeadlessWindow(const QString& name, const HeadlessOptions& o, TFormUse use = TFormUse::Window)
        : label(name)
        , form(std::make_unique<TForm1>(nullptr, use))
    {
        form->OnLogLine = [this](const QString& line) { LogLine(line); };
        TzqCommTAPI* line = form->zqCommTAPI1;
        // One call or one wait per run.
        line->SetRetries(0);
        line->OnLineDoingConnection = TNotifyEvent(this, &HeadlessWindow::Proceeding);
        line->OnCallState = TOnLineCallState(this, &HeadlessWindow::CallState);
        line->OnDTMF = TOnDTMFEvent(this, &HeadlessWindow::Digit);
        if (o.verbose) {
            auto* log = new TzqLogFile(form.get());
            line->SetLog(log);
            form->zqSpeech1->SetLog(log);
        }
    }

    void Say(const QString& s) { PrintLine(label.isEmpty() ? s : "[" + label + "] " + s); }

    void Fail(const QString& why)
    {
        if (failure.isEmpty())
            failure = why;
        Changed();
    }

    QString DeviceName() const
    {
        TzqCommTAPI* line = form->zqCommTAPI1;
        const int i = line->GetDeviceIndex();
        return i >= 0 && i < line->DeviceCount() ? QString::fromStdString(line->GetDevice(i)->Name)
                                                 : QString();
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
        // Without a choice the window's own stays: the first voice, which is
        // ordered for the user's locale.
        if (wanted.isEmpty())
            return true;
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

    void SetText(const HeadlessOptions& o, bool silent)
    {
        if (o.textGiven)
            form->Memo1->setPlainText(o.text);
        else if (silent)
            form->Memo1->clear();
    }

    // Opens the recording's file before the call, so a destination that
    // cannot be written fails the run at once.
    bool StartRecording(const QString& path, QString& error)
    {
        recorder = new TWaveRecorder(form.get());
        recorder->OnFatalError = TOnFatalErrorEvent(form.get(), &TForm1::zqCommTAPI1FatalError);
        recorder->OnWriteError
            = [this, path](const QString& why) { Fail("cannot write " + path + ": " + why); };
        recorder->SetzqCommTAPI(form->zqCommTAPI1);
        if (!recorder->OpenFile(path, &error)) {
            error = "cannot record into " + path + ": " + error;
            return false;
        }
        return true;
    }

    void Dial(const QString& number)
    {
        dialled_ = number;
        WatchSignals();
        Say("Dialling " + number + " on \"" + DeviceName() + "\"");
        form->Edit1->setText(number);
        form->Button3Click(form->Button3);
    }

    void WaitForCall()
    {
        WatchSignals();
        Say("Waiting for a call on \"" + DeviceName() + "\"");
        form->CheckBox1Click(form->CheckBox1);
    }

    // Ends this side's call (or wait) from here.
    void HangUp()
    {
        if (connected && !ended_)
            SayEnded("hung up here");
        form->Button2Click(form->Button2);
    }

private:
    void Changed()
    {
        if (changed)
            changed();
    }

    void LogLine(const QString& line)
    {
        Say(line);
        if (line == "Connection established") {
            connected = true;
            callTime_.start();
            // At once, not at the next look: the line's input drops what
            // arrives before recording starts.
            if (recorder && !recorder->Recording())
                recorder->StartRecord();
        } else if (line == "Speaking is finished") {
            spoken = true;
        } else if (line == "Line disconnected") {
            disconnected = true;
            if (!ended_)
                SayEnded(endReason_.isEmpty() ? "hung up by the far end" : endReason_);
        } else if (failure.isEmpty()) {
            failure = line; // every other entry is an error report
        }
        Changed();
    }

    void Proceeding(TObject*) { Say("Ringing " + dialled_); }

    void CallState(TObject*, Cardinal state, Cardinal detail)
    {
        TzqCommTAPI* line = form->zqCommTAPI1;
        if (state == LINECALLSTATE_OFFERING) {
            const QString id = QString::fromStdString(line->CallerID());
            const QString name = QString::fromStdString(line->CallerIDName());
            Say("Incoming call from " + (id.isEmpty() ? "an unknown number" : id)
                + (name.isEmpty() ? QString() : " (" + name + ")"));
        } else if (state == LINECALLSTATE_BUSY) {
            endReason_ = "busy";
        } else if (state == LINECALLSTATE_DISCONNECTED) {
            endReason_ = DisconnectReason(detail);
        }
    }

    void Digit(TObject*, char digit) { Say(QString("Digit received: %1").arg(QChar::fromLatin1(digit))); }

    void SayEnded(const QString& reason)
    {
        ended_ = true;
        if (connected)
            Say("Call ended after " + Seconds(callTime_.elapsed() / 1000.0) + ": " + reason);
        else
            Say("Call not connected: " + reason);
    }

    QString dialled_;
    QString endReason_;
    QElapsedTimer callTime_;
    bool ended_ = false;
};

// Serves events until done() holds, a side reports a failure, a signal
// arrives or time runs out. Nothing is looked at but when something
// happened, so a program that waits for a call sleeps. done() runs from the
// event loop, never inside a component's event, so it may act on the line.
Interruption RunUntil(
    const std::vector<HeadlessWindow*>& sides, const std::function<bool()>& done, int timeoutSeconds)
{
    QEventLoop loop;
    bool checkQueued = false;
    auto failed = [&] {
        for (HeadlessWindow* s : sides)
            if (!s->failure.isEmpty())
                return true;
        return false;
    };
    auto check = [&] {
        checkQueued = false;
        if (failed() || done())
            loop.quit();
    };
    for (HeadlessWindow* s : sides)
        s->changed = [&] {
            if (!checkQueued) {
                checkQueued = true;
                QMetaObject::invokeMethod(&loop, check, Qt::QueuedConnection);
            }
        };
    WatchSignals();
    g_onSignal = [&] { loop.quit(); };
    QTimer limit;
    limit.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    limit.start(std::chrono::seconds(timeoutSeconds));
    if (!g_signal && !failed() && !done())
        loop.exec();
    g_onSignal = nullptr;
    for (HeadlessWindow* s : sides)
        s->changed = nullptr;
    Interruption result;
    result.signal = g_signal;
    for (HeadlessWindow* s : sides)
        if (!s->failure.isEmpty() && result.failure.isEmpty())
            result.failure = s->failure;
    if (result.failure.isEmpty() && !result.signal && timedOut && !done())
        result.failure = "timed out after " + QString::number(timeoutSeconds) + " s";
    return result;
}

QString SignalName(int number)
{
    return number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : "signal " + QString::number(number);
}

int Fail(const QString& why)
{
    PrintError(why);
    return 1;
}

// The exit status for how a run ended, with the reason on stderr.
int Finish(const Interruption& end)
{
    if (end.signal) {
        PrintError("stopped by " + SignalName(end.signal));
        return 128 + end.signal;
    }
    return end.failure.isEmpty() ? 0 : Fail(end.failure);
}

// Completes a recording and says where it is, whatever ended the call.
void FinishRecording(HeadlessWindow& s, const QString& path, Interruption& end, const QString& summary)
{
    s.recorder->StopRecord();
    QString error;
    if (!s.recorder->FinishFile(&error)) {
        if (end.failure.isEmpty() || !end.failure.startsWith("cannot write"))
            end.failure = "cannot write " + path + ": " + error;
        return;
    }
    PrintLine(summary.arg(Seconds(s.recorder->Seconds()), QFileInfo(path).absoluteFilePath()));
}

int ListDevices()
{
    HeadlessWindow s({}, HeadlessOptions {});
    TzqCommTAPI* line = s.form->zqCommTAPI1;
    line->EnumDevices();
    PrintLine("Line devices:");
    for (int i = 0; i < line->DeviceCount(); ++i) {
        auto* d = static_cast<TzqDeviceTAPI*>(line->GetDevice(i));
        PrintLine(QString("  %1: %2 (port %3, wave in %4, wave out %5)")
                      .arg(i)
                      .arg(QString::fromStdString(d->Name), QString::fromStdString(d->PortName))
                      .arg(d->WaveInID)
                      .arg(d->WaveOutID));
    }
    PrintLine("Voices:");
    for (int i = 0; i < s.form->cbVoices->count(); ++i)
        PrintLine(QString("  %1: %2").arg(i).arg(s.form->cbVoices->itemText(i)));
    return 0;
}

int Speak(const HeadlessOptions& o)
{
    HeadlessWindow s({}, o, TFormUse::SpeakingOnly);
    QString error;
    if (!s.SelectVoice(o.voice, error))
        return Fail(error);
    s.SetText(o, false);
    s.form->ComboBox1->setCurrentIndex(1);
    // A file is written by a device of its own that takes the audio as
    // fast as it comes; the path is only ever a file name.
    UINT fileDevice = 0;
    if (!o.wav.isEmpty()) {
        fileDevice
            = zq::wave::RegisterWaveOutFileDevice("speechdemo --wav", QFile::encodeName(o.wav).toStdString());
        s.form->zqSpeech1->StandardOutputDevice = fileDevice;
    }
    WatchSignals();
    s.form->Button4Click(s.form->Button4);
    Interruption end = RunUntil(
        { &s }, [&] { return s.spoken; }, o.timeoutSeconds);
    if (end.signal || !end.failure.isEmpty())
        s.form->Button5Click(s.form->Button5);
    if (fileDevice) {
        const QString written = QString::fromStdString(zq::wave::WaveOutFileDeviceError(fileDevice));
        zq::wave::UnregisterWaveOutDevice(fileDevice);
        if (!written.isEmpty())
            end.failure = "cannot write " + o.wav + ": " + written;
        else if (end.failure.isEmpty() && !end.signal)
            PrintLine("Wrote " + QFileInfo(o.wav).absoluteFilePath());
    }
    return Finish(end);
}

int Call(const HeadlessOptions& o)
{
    HeadlessWindow s({}, o);
    QString error;
    if (!s.SelectDevice(o.device, kCallDeviceIndex, error) || !s.SelectVoice(o.voice, error))
        return Fail(error);
    s.SetText(o, false);
    s.Dial(o.call);
    Interruption end = RunUntil(
        { &s }, [&] { return s.spoken || s.disconnected; }, o.timeoutSeconds);
    if (end.failure.isEmpty() && !end.signal && !s.spoken)
        end.failure = "the call ended before the text was spoken";
    if (!s.disconnected)
        s.HangUp();
    return Finish(end);
}

int Wait(const HeadlessOptions& o)
{
    HeadlessWindow s({}, o);
    QString error;
    if (!s.SelectDevice(o.device, kWaitDeviceIndex, error) || !s.SelectVoice(o.voice, error))
        return Fail(error);
    const bool recording = !o.record.isEmpty();
    s.SetText(o, recording);
    if (recording && !s.StartRecording(o.record, error))
        return Fail(error);
    s.WaitForCall();
    // With a recording the call lasts until the far end hangs up; without,
    // until the text has been spoken.
    Interruption end = RunUntil(
        { &s }, [&] { return recording ? s.disconnected : (s.spoken || s.disconnected); }, o.timeoutSeconds);
    // Whatever ended the wait, the line is closed cleanly (which also takes
    // the waiting socket away) and what was heard is kept.
    if (!s.disconnected)
        s.HangUp();
    if (recording)
        FinishRecording(s, o.record, end, "Recorded %1 to %2");
    return Finish(end);
}

// Where --demo keeps what the answering line heard without --record: a new
// file no other user can have planted, in the user's own runtime folder if
// there is one.
bool NewDemoFile(QString& path, QString& error)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
    QTemporaryFile file(dir + "/speechdemo-received-XXXXXX.wav");
    file.setAutoRemove(false);
    if (!file.open()) {
        error = "cannot create a file in " + dir + ": " + file.errorString();
        return false;
    }
    path = file.fileName();
    return true;
}

// A call from Simulated line 1 to Simulated line 2 in this process: the
// caller speaks the text, the answering side records it.
int Demo(const HeadlessOptions& o)
{
    QString path = o.record, error;
    if (path.isEmpty() && !NewDemoFile(path, error))
        return Fail(error);
    HeadlessWindow answer("line 2", o), caller("line 1", o);
    if (!answer.SelectDevice({}, 1, error) || !caller.SelectDevice({}, 0, error)
        || !caller.SelectVoice(o.voice, error))
        return Fail(error);
    answer.form->Memo1->clear();
    if (!answer.StartRecording(path, error))
        return Fail(error);
    caller.SetText(o, false);
    answer.WaitForCall();
    caller.Dial("1002"); // Simulated line 2's number
    bool callerHungUp = false;
    Interruption end = RunUntil(
        { &caller, &answer },
        [&] {
            if (caller.spoken && !caller.disconnected && !callerHungUp) {
                callerHungUp = true;
                caller.HangUp();
            }
            return answer.disconnected;
        },
        o.timeoutSeconds);
    if (!caller.disconnected && !callerHungUp)
        caller.HangUp();
    if (!answer.disconnected)
        answer.HangUp();
    FinishRecording(answer, path, end, "The answering line received %1 of audio, saved to %2");
    return Finish(end);
}

} // namespace

int RunHeadless(const HeadlessOptions& o)
{
    int status = 0;
    try {
        if (o.list)
            status = ListDevices();
        else if (o.demo)
            status = Demo(o);
        else if (o.speak)
            status = Speak(o);
        else if (o.callGiven)
            status = Call(o);
        else
            status = Wait(o);
    } catch (const std::exception& e) {
        status = Fail(e.what());
    }
    g_signalWatch.reset();
    return status;
}

} // namespace zq::demo
