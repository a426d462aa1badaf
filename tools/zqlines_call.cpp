// zqlines --call: places a call from one line device to another in this
// program, with the line components of the library, and shows their events
// and log as the call goes through its states.
#include "zqcommtapi.h"
#include "zqlogfile.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Side {
    const char* label;
    TzqCommTAPI line;
    TzqLogFile log;
    bool connected = false, disconnected = false, failed = false;

    explicit Side(const char* l)
        : label(l)
    {
        log.SetStream(stdout);
        log.SetPlain(true);
        line.SetLog(&log);
        line.LogPrefix = std::string("[") + label + "] zqCommTAPI: ";
        line.SetRetries(0);
        line.OnFatalError = TOnFatalErrorEvent::Bind(
            this, "fatal", [this](TObject*, Cardinal, Cardinal, const std::string&, bool& raise) {
                failed = true;
                raise = false;
            });
        line.OnCallState = TOnLineCallState::Bind(this, "state",
            [this](TObject*, Cardinal s, Cardinal d) { Event("call state %08Xh detail %08Xh", s, d); });
        line.OnLineDoingConnection
            = TNotifyEvent::Bind(this, "proc", [this](TObject*) { Event("proceeding"); });
        line.OnLineConnected = TNotifyEvent::Bind(this, "conn", [this](TObject*) {
            connected = true;
            Event("connected");
        });
        line.OnLineBusy = TNotifyEvent::Bind(this, "busy", [this](TObject*) { Event("busy"); });
        line.OnRing = TNotifyRing::Bind(
            this, "ring", [this](TObject*, bool& answer) { Event(answer ? "ring, answering" : "ring"); });
        line.OnDTMF = TOnDTMFEvent::Bind(this, "dtmf", [this](TObject*, char d) { Event("digit %c", d); });
        line.OnLineDisconnected = TNotifyCallDisconnect::Bind(this, "disc", [this](TObject*, bool remote) {
            disconnected = true;
            Event(remote ? "disconnected by the far end" : "hung up");
        });
    }

    template <class... A> void Event(const char* fmt, A... args)
    {
        std::printf("[%s] event: ", label);
        std::printf(fmt, args...);
        std::printf("\n");
        std::fflush(stdout);
    }
};

bool RunUntil(const std::function<bool()>& done, int seconds)
{
    QEventLoop loop;
    QTimer check, limit;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(10);
    limit.start(seconds * 1000);
    if (!done())
        loop.exec();
    return done();
}

} // namespace

int RunCall(int argc, char** argv)
{
    std::string number;
    int from = 0, to = 1, hold = 2;
    bool data = false;
    for (int i = 1; i < argc; ++i) {
        auto value = [&] { return i + 1 < argc ? argv[++i] : ""; };
        if (!std::strcmp(argv[i], "--call"))
            number = value();
        else if (!std::strcmp(argv[i], "--from"))
            from = std::atoi(value());
        else if (!std::strcmp(argv[i], "--to"))
            to = std::atoi(value());
        else if (!std::strcmp(argv[i], "--hold")) {
            // A negative or huge hold would keep the call up for ever.
            const char* text = value();
            char* end = nullptr;
            errno = 0;
            const long seconds = std::strtol(text, &end, 10);
            if (!*text || *end || errno || seconds < 0 || seconds > 86400) {
                std::fprintf(
                    stderr, "zqlines: --hold needs a number of seconds from 0 to 86400, not \"%s\"\n", text);
                return 2;
            }
            hold = int(seconds);
        } else if (!std::strcmp(argv[i], "--data"))
            data = true;
    }
    if (number.empty()) {
        std::fprintf(stderr, "zqlines: --call needs a number\n");
        return 2;
    }
    Side callee("waiting"), caller("calling");
    callee.line.EnumDevices();
    caller.line.EnumDevices();
    if (from >= caller.line.DeviceCount() || to >= callee.line.DeviceCount() || from == to) {
        std::fprintf(stderr, "zqlines: need two different line devices (--from %d --to %d of %d)\n", from, to,
            caller.line.DeviceCount());
        return 2;
    }
    callee.line.SetDeviceIndex(to);
    caller.line.SetDeviceIndex(from);
    callee.line.SetVoice(!data);
    caller.line.SetVoice(!data);
    callee.line.WaitForCall();
    caller.line.SetPhone(number);
    caller.line.MakeCall();
    if (caller.failed || callee.failed)
        return 1;
    if (!RunUntil([&] { return (caller.connected && callee.connected) || caller.disconnected; }, 30)) {
        std::fprintf(stderr, "zqlines: the call did not connect within 30 s\n");
        return 1;
    }
    if (caller.connected)
        RunUntil([&] { return caller.disconnected; }, hold);
    caller.line.HangUp();
    RunUntil([&] { return callee.disconnected; }, 10);
    callee.line.HangUp();
    return caller.failed || callee.failed ? 1 : 0;
}
