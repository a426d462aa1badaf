#include "headlessoptions.h"

#include <QFile>

#include <algorithm>

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

QList<AcceptedOption> AcceptedOptions()
{
    return { { "--speak", {} }, { "--wav", "FILE" }, { "--call", "NUMBER" }, { "--wait", {} },
        { "--record", "FILE" }, { "--demo", {} }, { "--list", {} }, { "--device", "NAME|INDEX" },
        { "--text", "TEXT" }, { "--text-file", "FILE" }, { "--voice", "NAME|INDEX" },
        { "--timeout", "SECONDS" }, { "--verbose", {} }, { "--screenshot", "FILE" }, { "--help", {} },
        { "-h", {} }, { "-platform", "NAME" }, { "-display", "DISPLAY" } };
}

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
        "  --voice NAME|INDEX    voice (default: the first in --list; the list starts with the voices\n"
        "                        of the language of LC_ALL, LC_MESSAGES or LANG, or with the English\n"
        "                        voices when that names none)\n"
        "  --timeout SECONDS     give up after this long, 1 to %1 (default %2)\n"
        "  --verbose             the components' own log on stderr\n"
        "  --help, -h            this text\n"
        "Other uses:\n"
        "  --screenshot FILE     draw the window off screen into a PNG file and end\n"
        "  -platform NAME        Qt's window system for the window (xcb, wayland, offscreen ...)\n"
        "  -display DISPLAY      the X display for the window\n"
        "Two runs reach each other through the simulated exchange: start\n"
        "  speechdemo --wait --record heard.wav\n"
        "and, once it waits, in another terminal\n"
        "  speechdemo --device \"Simulated line 1\" --call 1002 --text \"Hello\"\n")
        .arg(kMaxTimeoutSeconds)
        .arg(kDefaultTimeoutSeconds);
}

bool ParseHeadlessOptions(
    const QStringList& args, HeadlessOptions& o, bool& headless, bool& help, QString& error)
{
    headless = false;
    help = false;
    QString textFile;
    bool textOption = false, wavGiven = false, recordGiven = false, screenshotGiven = false;
    const QList<AcceptedOption> accepted = AcceptedOptions();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto known = std::find_if(
            accepted.begin(), accepted.end(), [&](const AcceptedOption& option) { return option.name == a; });
        if (known == accepted.end()) {
            error = "unknown option " + a;
            return false;
        }
        QString v;
        if (!known->value.isEmpty()) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            v = args[++i];
        }
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
            if (v.trimmed().isEmpty()) {
                error = "--call needs a number to dial";
                return false;
            }
            o.call = v;
            o.callGiven = headless = true;
        } else if (a == "--wav") {
            o.wav = v;
            wavGiven = true;
        } else if (a == "--record") {
            o.record = v;
            recordGiven = true;
        } else if (a == "--device") {
            o.device = v;
        } else if (a == "--voice") {
            o.voice = v;
        } else if (a == "--text") {
            o.text = v;
            textOption = o.textGiven = true;
        } else if (a == "--text-file") {
            textFile = v;
        } else if (a == "--timeout") {
            if (!ParseSeconds(a, v, o.timeoutSeconds, error))
                return false;
        } else if (a == "--screenshot") {
            o.screenshot = v;
            screenshotGiven = true;
        }
        // -platform and -display are Qt's, read by the application object.
    }
    if (help)
        return true;
    const int modes = int(o.speak) + int(o.wait) + int(o.demo) + int(o.list) + int(o.callGiven);
    if (modes > 1) {
        error = "choose one of --speak, --call, --wait, --demo and --list";
        return false;
    }
    if (screenshotGiven && modes > 0) {
        error = "--screenshot draws the window and goes with no run without one";
        return false;
    }
    if (screenshotGiven && o.screenshot.isEmpty()) {
        error = "--screenshot needs a file name";
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
