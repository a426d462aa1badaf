#pragma once
// The command line of the runs without a window, and its help text.
#include <QString>
#include <QStringList>

namespace zq::demo {

// The line devices used without --device, by index.
constexpr int kCallDeviceIndex = 0;
constexpr int kWaitDeviceIndex = 1;
constexpr int kDefaultTimeoutSeconds = 120;
constexpr int kMaxTimeoutSeconds = 86400;

struct HeadlessOptions {
    QString device; // line device by name or index
    QString call; // number to dial
    bool callGiven = false;
    bool wait = false; // wait for a call
    bool speak = false; // speak to the speakers (or --wav)
    bool demo = false; // call from one simulated line to the other
    bool list = false; // list devices and voices
    QString wav; // speak into this audio file instead of the speakers
    QString record; // record what the line hears into this audio file
    QString text; // text to speak (from --text or --text-file)
    bool textGiven = false;
    QString voice; // voice by name or index
    int timeoutSeconds = kDefaultTimeoutSeconds;
    bool verbose = false; // the components' own log on stderr
    QString screenshot; // draw the window into this PNG file and end
};

// An option the command line takes, and the placeholder of its value
// (empty for a switch).
struct AcceptedOption {
    QString name;
    QString value;
};
// Every option ParseHeadlessOptions takes, Qt's own included.
QList<AcceptedOption> AcceptedOptions();

// Parses the command line (args[0] is the program). False with a message
// for bad arguments; help is set when --help was asked for. --text-file is
// read here ("-" reads standard input). --screenshot is no run without a
// window: headless stays false.
bool ParseHeadlessOptions(
    const QStringList& args, HeadlessOptions& options, bool& headless, bool& help, QString& error);
QString HeadlessHelp();

} // namespace zq::demo
