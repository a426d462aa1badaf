#pragma once
// Runs without a window: speak a text to the speakers or into a WAV file,
// dial a number and speak when connected, or wait for a call and speak when
// answered. The window's log lines go to stdout.
#include <QString>
#include <QStringList>

struct THeadlessOptions {
    QString device; // line device by name or index
    QString call; // number to dial
    bool wait = false; // wait for a call
    bool speak = false; // speak to the speakers (or --wav)
    bool demo = false; // call from one simulated line to the other
    bool list = false; // list devices and voices
    QString wav; // speak into this WAV file instead of the speakers
    QString record; // record what the line hears into this WAV file
    QString text; // text to speak; empty: the memo's lines
    bool textGiven = false;
    QString voice; // voice by name or index
    int timeoutSeconds = 120;
    bool verbose = false; // the components' own log on stderr
};

// Parses the command line; returns false with a message for bad arguments.
// help is set when --help was asked for.
bool ParseHeadlessOptions(
    const QStringList& args, THeadlessOptions& options, bool& headless, bool& help, QString& error);
QString HeadlessHelp();
// Returns the exit status: 0 on success.
int RunHeadless(const THeadlessOptions& options);
