// CPU time and wake-ups of a program that waits for a call, headless
// (`speechdemo --wait`, measured from /proc) and in the window (the window
// of this process waiting on a line, offscreen), against an event loop that
// looks at a flag every 20 ms, measured the same way in the same run.
//
// idle_cpu [seconds=20] [speechdemo=<this folder>/speechdemo]
#include "mainfrm.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

struct Usage {
    double cpuSeconds = 0;
    long wakeups = 0; // voluntary context switches of all threads
};

Usage UsageOf(qint64 pid)
{
    Usage u;
    const QString proc = "/proc/" + QString::number(pid);
    QFile stat(proc + "/stat");
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        // The fields after the command name (which may hold spaces).
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 13)
            u.cpuSeconds = double(f[11].toLongLong() + f[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    for (const QString& task : QDir(proc + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(proc + "/task/" + task + "/status");
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& l : status.readAll().split('\n'))
            if (l.startsWith("voluntary_ctxt_switches:"))
                u.wakeups += l.mid(24).trimmed().toLong();
    }
    return u;
}

void Print(const char* what, const Usage& before, const Usage& after, int seconds)
{
    const double perMinute = (after.cpuSeconds - before.cpuSeconds) * 60.0 / seconds;
    std::printf("%-34s %8.3f CPU-s/min %8.1f wake-ups/s\n", what, perMinute,
        double(after.wakeups - before.wakeups) / seconds);
}

void Serve(int seconds)
{
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const QString program = argc > 2 ? argv[2] : QCoreApplication::applicationDirPath() + "/speechdemo";
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: idle_cpu [seconds] [speechdemo]\n");
        return 2;
    }
    std::printf("goal: under 0.050 CPU-s/min while waiting; %d s each\n", seconds);

    // The reference: what looking every 20 ms costs here.
    {
        QTimer poll;
        bool flag = false;
        QObject::connect(&poll, &QTimer::timeout, [&] { flag = !flag; });
        poll.start(20);
        const Usage before = UsageOf(QCoreApplication::applicationPid());
        Serve(seconds);
        Print("reference: a look every 20 ms", before, UsageOf(QCoreApplication::applicationPid()), seconds);
    }

    {
        QProcess waiting;
        waiting.start(program, { "--wait", "--timeout", QString::number(seconds + 60) });
        if (!waiting.waitForStarted()) {
            std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
            return 1;
        }
        // Measured once it waits: start-up is not idling.
        while (!waiting.readAllStandardOutput().contains("Waiting for a call"))
            if (!waiting.waitForReadyRead(30000)) {
                std::fprintf(stderr, "speechdemo --wait did not start waiting\n");
                return 1;
            }
        QThread::sleep(1);
        const Usage before = UsageOf(waiting.processId());
        QThread::sleep(seconds);
        Print("speechdemo --wait", before, UsageOf(waiting.processId()), seconds);
        waiting.terminate();
        waiting.waitForFinished();
    }

    {
        TForm1 form;
        form.show();
        form.zqCommTAPI1->EnumDevices();
        form.zqCommTAPI1->SetDeviceIndex(1);
        form.CheckBox1Click(form.CheckBox1);
        Serve(1);
        const Usage before = UsageOf(QCoreApplication::applicationPid());
        Serve(seconds);
        Print("the window waiting for a call", before, UsageOf(QCoreApplication::applicationPid()), seconds);
        form.Button2Click(form.Button2);
    }
    return 0;
}
