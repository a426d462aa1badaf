// modemsim: a voice modem on a pseudo-terminal, for testing the modem
// provider without a modem. It prints the terminal's path (and writes it to
// --link, once the terminal is ready) and then answers AT commands as its cue
// script says; see script.h for the script's rules.
#include "modem.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <sstream>
#include <termios.h>
#include <unistd.h>

using namespace zq::tools;

namespace {

void usage()
{
    std::cerr << "usage: modemsim [--link FILE] [--script FILE] [-e RULE]... [--log FILE] [--record FILE]\n"
                 "                [--play FILE]\n"
                 "  --link FILE    write the terminal's path to FILE when it is ready\n"
                 "  --script FILE  cue script (rules, one a line)\n"
                 "  -e RULE        one more rule\n"
                 "  --log FILE     every command line received and what came of it\n"
                 "  --record FILE  the samples sent to it in voice mode (and the bytes in data mode)\n"
                 "  --play FILE    raw samples that the script's \"play\" sends in voice mode\n";
}

bool readFile(const std::string& path, std::string& out)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    std::stringstream ss;
    ss << f.rdbuf();
    out = ss.str();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string link, scriptText;
    SimOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--link") {
            link = next();
        } else if (a == "--script") {
            std::string t;
            const std::string path = next();
            if (!readFile(path, t)) {
                std::cerr << "modemsim: cannot read " << path << "\n";
                return 2;
            }
            scriptText += t + "\n";
        } else if (a == "-e") {
            scriptText += next() + "\n";
        } else if (a == "--log") {
            options.logPath = next();
        } else if (a == "--record") {
            options.recordPath = next();
        } else if (a == "--play") {
            std::string t;
            const std::string path = next();
            if (!readFile(path, t)) {
                std::cerr << "modemsim: cannot read " << path << "\n";
                return 2;
            }
            options.play.assign(t.begin(), t.end());
        } else {
            usage();
            return 2;
        }
    }
    SimScript script;
    std::string error;
    if (!parseSimScript(scriptText, script, error)) {
        std::cerr << "modemsim: " << error << "\n";
        return 2;
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("modemsim: pseudo-terminal");
        return 1;
    }
    const char* name = ptsname(master);
    if (!name) {
        std::perror("modemsim: ptsname");
        return 1;
    }
    const std::string slave = name;
    // Holding the slave side open keeps the terminal alive between the
    // provider's opens, as a modem stays plugged in; raw mode so that no byte
    // of a sample stream is taken for a line ending or a signal.
    const int keep = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (keep < 0) {
        std::perror("modemsim: slave");
        return 1;
    }
    termios t {};
    tcgetattr(keep, &t);
    cfmakeraw(&t);
    tcsetattr(keep, TCSANOW, &t);
    std::signal(SIGPIPE, SIG_IGN);

    std::cout << slave << std::endl;
    if (!link.empty()) {
        const std::string tmp = link + ".tmp";
        {
            std::ofstream f(tmp);
            f << slave << "\n";
        }
        std::rename(tmp.c_str(), link.c_str());
    }
    SimModem modem(master, script, options);
    const int rc = modem.run();
    // Unplugging: the terminal goes away under the provider.
    ::close(master);
    ::close(keep);
    return rc;
}
