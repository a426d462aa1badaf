// Soak: calls in a row from "Simulated line 1" to "Simulated line 2" in one
// process, each through the program's own window code: line 2 waits and
// answers, line 1 dials, speaks a short text into the call once connected
// and hangs up. Prints the process's resident memory, open descriptors and
// threads after call 1, call 50 and the last call; they should stay flat.
//
//   soak_calls [calls, default 500] [text, default "Soak test."]
//
// A short text keeps a call near a second: the memo's five lines, spoken in
// real time as the line plays them, would take about 8 s a call.
#include "mainfrm.h"
#include "scratchstore.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

namespace {

int EntriesIn(const char* folder)
{
    int n = 0;
    if (DIR* d = opendir(folder)) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n;
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

void Report(const char* when, int call)
{
    std::printf("%-10s call %4d: resident %6ld KiB, descriptors %4d, threads %3d\n", when, call,
        ResidentKiB(), EntriesIn("/proc/self/fd"), EntriesIn("/proc/self/task"));
    std::fflush(stdout);
}

struct Side {
    std::unique_ptr<TForm1> form = std::make_unique<TForm1>();
    bool connected = false, spoken = false, disconnected = false;
    QString failure;

    explicit Side(int device)
    {
        form->OnLogLine = [this](const QString& line) {
            if (line == "Connection established")
                connected = true;
            else if (line == "Speaking is finished")
                spoken = true;
            else if (line == "Line disconnected")
                disconnected = true;
            else if (line.contains("rror") && failure.isEmpty())
                failure = line;
        };
        form->zqCommTAPI1->SetRetries(0);
        form->zqCommTAPI1->EnumDevices();
        form->zqCommTAPI1->SetDeviceIndex(device);
    }
    void Reset() { connected = spoken = disconnected = false; }
};

// Serves events until done() or a minute has passed; false on time-out.
bool RunUntil(const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 60000)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir scratch;
    zqtest::UseScratchStore(scratch);
    setenv("ZQ_WAVE_OUT_PCM", "null", 0);
    QApplication app(argc, argv);
    const int calls = argc > 1 ? std::atoi(argv[1]) : 500;
    const QString text = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("Soak test.");
    zqtest::UseFastRings();
    Side answer(1), caller(0);
    answer.form->Memo1->clear();
    caller.form->Memo1->setPlainText(text);
    caller.form->Edit1->setText("1002");
    QElapsedTimer total;
    total.start();
    for (int call = 1; call <= calls; ++call) {
        answer.Reset();
        caller.Reset();
        answer.form->CheckBox1Click(answer.form->CheckBox1);
        caller.form->Button3Click(caller.form->Button3);
        const bool spoken = RunUntil([&] { return caller.spoken || caller.disconnected; });
        caller.form->Button2Click(caller.form->Button2);
        const bool ended = RunUntil([&] { return answer.disconnected; });
        if (!spoken || !ended || !caller.connected || !answer.connected) {
            std::fprintf(stderr, "call %d did not complete (%s%s)\n", call, qPrintable(caller.failure),
                qPrintable(answer.failure));
            return 1;
        }
        if (call == 1 || call == 50 || call == calls)
            Report(call == calls ? "last" : "after", call);
    }
    std::printf("%d calls in %.1f s (%.2f s a call)\n", calls, total.elapsed() / 1000.0,
        total.elapsed() / 1000.0 / calls);
    return 0;
}
