#include "headlessoptions.h"

#include <QFile>

#include <cstdio>

namespace zq::demo {

namespace {

// Larger texts are not typed but mistaken files (an image, a disk).
constexpr qint64 kMaxTextBytes = 64 * 1024 * 1024;

bool ReadTextFile(const QString& path, QString& text, QString& error)
{
    QFile file;
    const bool opened = path == "-" ? file.open(stdin, QIODevice::ReadOnly)
                                    : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        error = "cannot read the text file " + path + ": " + file.errorString();
        return false;
    }
    const QByteArray bytes = file.read(kMaxTextBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        error = "cannot read the text file " + path + ": " + file.errorString();
        return false;
    }
    if (bytes.size() > kMaxTextBytes) {
        error = "the text file " + path + " is larger than 64 MB";
        return false;
    }
    text = QString::fromLocal8Bit(bytes);
    // A file's last line ends in a line break, which is no line of its own.
    if (text.endsWith('\n'))
        text.chop(1);
    return true;
}

bool ParseSeconds(const QString& option, const QString& value, int& out, QString& error)
{
    bool ok = false;
    const qlonglong n = value.toLongLong(&ok);
    if (!ok || n < 1 || n > kMaxTimeoutSeconds) {
        error = QString("%1 needs a whole number of seconds from 1 to %2, not \"%3\"")
                    .arg(option)
                    .arg(kMaxTimeoutSeconds)
                    .arg(value);
        return false;
    }
    out = int(n);
    return true;
}

} // namespace

QString HeadlessHelp()
{
    return QString(
        "Usage: speechdemo [options]\n"
        "Without options the window opens. With one of these the program runs without a window,\n"
        "writes the log lines of the window and the progress of the call to stdout and exits\n"
        "with 0 on success:\n"
        "  --speak               speak the text to the speakers (wave device 0)\n"
        "  --speak --wav FILE    speak the text into an audio file instead (WAV; FLAC or Ogg by\n"
        "                        the name's ending)\n"
        "  --call NUMBER         dial NUMBER on the line device and speak the text when connected\n"
        "  --wait                wait for a call on the line device and speak the text when answered\n"
        "  --wait --record FILE  answer, record what the caller says into FILE as it arrives, until\n"
        "                        they hang up, time runs out or the program is interrupted\n"
        "  --demo                call from \"Simulated line 1\" to \"Simulated line 2\" in this process,\n"
        "                        speak the text into the call and save what line 2 heard as a WAV\n"
        "                        file (--record FILE, default a new file in $XDG_RUNTIME_DIR or the\n"
        "                        temporary folder)\n"
        "  --list                list the line devices and the voices\n"
        "Settings:\n"
        "  --device NAME|INDEX   line device (default: the first for --call, the second for --wait)\n"
        "  --text TEXT           text to speak (default: the memo's five lines)\n"
        "  --text-file FILE      text to speak, read from FILE (- for standard input)\n"
        "  --voice NAME|INDEX    voice (default: \"%1\" when installed, otherwise the first in --list)\n"
        "  --timeout SECONDS     give up after this long, 1 to %2 (default %3)\n"
        "  --verbose             the components' own log on stderr\n"
        "  --help                this text\n"
        "Two runs reach each other through the simulated exchange: start\n"
        "  speechdemo --wait --record heard.wav\n"
        "and, once it waits, in another terminal\n"
        "  speechdemo --device \"Simulated line 1\" --call 1002 --text \"Hello\"\n")
        .arg(kHeadlessDefaultVoice)
        .arg(kMaxTimeoutSeconds)
        .arg(kDefaultTimeoutSeconds);
}

bool ParseHeadlessOptions(
    const QStringList& args, HeadlessOptions& o, bool& headless, bool& help, QString& error)
{
    headless = false;
    help = false;
    QString textFile;
    bool textOption = false, wavGiven = false, recordGiven = false;
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
            if (o.call.trimmed().isEmpty()) {
                error = "--call needs a number to dial";
                return false;
            }
            o.callGiven = headless = true;
        } else if (a == "--wav") {
            if (!value(i, o.wav))
                return false;
            wavGiven = true;
        } else if (a == "--record") {
            if (!value(i, o.record))
                return false;
            recordGiven = true;
        } else if (a == "--device") {
            if (!value(i, o.device))
                return false;
        } else if (a == "--voice") {
            if (!value(i, o.voice))
                return false;
        } else if (a == "--text") {
            if (!value(i, o.text))
                return false;
            textOption = o.textGiven = true;
        } else if (a == "--text-file") {
            if (!value(i, textFile))
                return false;
        } else if (a == "--timeout") {
            if (!value(i, v) || !ParseSeconds(a, v, o.timeoutSeconds, error))
                return false;
        } else if (a.startsWith("-platform") || a.startsWith("-display")) {
            ++i; // Qt's own options
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    if (help)
        return true;
    const int modes = int(o.speak) + int(o.wait) + int(o.demo) + int(o.list) + int(o.callGiven);
    if (modes > 1) {
        error = "choose one of --speak, --call, --wait, --demo and --list";
        return false;
    }
    if (wavGiven && !o.speak) {
        error = "--wav goes with --speak";
        return false;
    }
    if (wavGiven && o.wav.isEmpty()) {
        error = "--wav needs a file name";
        return false;
    }
    if (recordGiven && !(o.wait || o.demo)) {
        error = "--record goes with --wait or --demo";
        return false;
    }
    if (recordGiven && o.record.isEmpty()) {
        error = "--record needs a file name";
        return false;
    }
    if (textOption && !textFile.isEmpty()) {
        error = "give the text either with --text or with --text-file";
        return false;
    }
    if (!textFile.isEmpty()) {
        if (!ReadTextFile(textFile, o.text, error))
            return false;
        o.textGiven = true;
    }
    // Speech of an empty text never starts, so nothing would ever end the
    // run but the time-out. A recording waiter speaks nothing anyway.
    const bool speaks = o.speak || o.callGiven || o.demo || (o.wait && o.record.isEmpty());
    if (speaks && o.textGiven && o.text.trimmed().isEmpty()) {
        error = "the text is empty: there is nothing to speak";
        return false;
    }
    return true;
}

} // namespace zq::demo
