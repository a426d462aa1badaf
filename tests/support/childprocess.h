#pragma once
// A program started by a test, with pipes on its standard streams.
//
// Started with posix_spawn rather than QProcess: Qt 6.4 runs its own code in
// the child while it still shares this process's memory, which leaves
// ThreadSanitizer blind to this thread's locks from then on. The child here
// runs only the C library until it execs.
//
// One thread owns an object and is the only one to call it. Every wait is
// bounded and drains both output pipes while it waits, so a child never
// stalls on a full pipe.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <functional>

namespace zqtest {

class ChildProcess {
public:
    struct Setup {
        QString workDir; // empty: this process's
        QStringList env; // changes to this process's environment: NAME=value sets, NAME removes
    };

    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child still running is killed and reaped.
    ~ChildProcess();

    // Starts the program (looked up in PATH when it has no slash). False, with
    // Error() saying why, when it could not be started.
    bool Start(const QString& program, const QStringList& args = {}, const Setup& setup = {});
    const QString& Error() const { return error_; }
    pid_t Pid() const { return pid_; }

    // Writes all of data to the child's standard input; false when the child
    // stopped reading (or is gone). Its standard input stays open until
    // CloseInput().
    bool Write(const QByteArray& data);
    void CloseInput();

    // Everything the child has written so far (what is pending is read first,
    // without waiting).
    const QByteArray& Out();
    const QByteArray& Err();

    // Until the child writes more to its standard output: false when the time
    // runs out or its output has ended.
    bool WaitForMoreOut(int limitMs);
    // Until its standard output holds text: false when the time runs out or
    // its output ended without it.
    bool WaitForOut(const QByteArray& text, int limitMs);
    // Until it has ended (true at once when it has).
    bool WaitForExit(int limitMs);
    bool Running();

    // Its exit status once it has ended normally, otherwise -1.
    int ExitCode() const;
    // Whether it was ended by a signal.
    bool Crashed() const;

    void Signal(int number);
    void Terminate();
    // Sends SIGKILL and reaps it.
    void Kill();

private:
    // Waits (bounded) until done() holds or nothing is left to wait for.
    bool WaitFor(const std::function<bool()>& done, int limitMs);
    // Reads what the pipes hold and reaps an ended child, waiting at most
    // limitMs for something to happen (or for room in its input); false when
    // nothing is left to watch.
    bool Pump(int limitMs, bool forInput = false);
    void Reap(bool block);
    bool ReadFrom(int& fd, QByteArray& into);
    void CloseAll();

    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    int pidFd_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    QByteArray outText_, errText_;
    qsizetype seenOut_ = 0; // how much of outText_ the caller has had
    QString error_;
};

} // namespace zqtest
