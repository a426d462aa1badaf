#include "childprocess.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

extern char** environ;

namespace zqtest {

namespace {

// A child that takes no input for this long is taken to have stopped reading.
constexpr int kWriteLimitMs = 120000;

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// This process's environment with the changes applied.
std::vector<QByteArray> Environment(const QStringList& changes)
{
    std::vector<QByteArray> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const QString& change : changes) {
        const QByteArray entry = change.toLocal8Bit();
        const qsizetype eq = entry.indexOf('=');
        const QByteArray prefix = (eq < 0 ? entry : entry.left(eq)) + '=';
        std::erase_if(env, [&](const QByteArray& e) { return e.startsWith(prefix); });
        if (eq >= 0)
            env.push_back(entry);
    }
    return env;
}

std::vector<char*> Pointers(std::vector<QByteArray>& texts)
{
    std::vector<char*> p;
    for (QByteArray& t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

} // namespace

ChildProcess::~ChildProcess()
{
    Kill();
    CloseAll();
}

bool ChildProcess::Start(const QString& program, const QStringList& args, const Setup& setup)
{
    if (Running()) {
        error_ = "already running";
        return false;
    }
    CloseAll();
    pid_ = -1;
    reaped_ = false;
    status_ = 0;
    outText_.clear();
    errText_.clear();
    seenOut_ = 0;
    error_.clear();
    int pipes[3][2] = { { -1, -1 }, { -1, -1 }, { -1, -1 } };
    for (auto& p : pipes)
        if (::pipe2(p, O_CLOEXEC) != 0) {
            error_ = QString("cannot make a pipe: %1").arg(std::strerror(errno));
            for (auto& q : pipes) {
                CloseFd(q[0]);
                CloseFd(q[1]);
            }
            return false;
        }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes[0][0], 0);
    posix_spawn_file_actions_adddup2(&actions, pipes[1][1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipes[2][1], 2);
    const QByteArray dir = QFile::encodeName(setup.workDir);
    if (!dir.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
    // The child starts with no signal blocked or ignored, whatever this
    // process does with them.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<QByteArray> argText { QFile::encodeName(program) };
    for (const QString& a : args)
        argText.push_back(a.toLocal8Bit());
    std::vector<QByteArray> envText = Environment(setup.env);
    const std::vector<char*> argv = Pointers(argText);
    const std::vector<char*> envp = Pointers(envText);
    const int rc = posix_spawnp(&pid_, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);

    CloseFd(pipes[0][0]);
    CloseFd(pipes[1][1]);
    CloseFd(pipes[2][1]);
    in_ = pipes[0][1];
    out_ = pipes[1][0];
    err_ = pipes[2][0];
    if (rc != 0) {
        pid_ = -1;
        error_ = QString("cannot start %1: %2").arg(program, std::strerror(rc));
        CloseAll();
        return false;
    }
    for (const int fd : { in_, out_, err_ })
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Without a pidfd the child's end is looked for now and then instead.
    pidFd_ = int(::syscall(SYS_pidfd_open, pid_, 0));
    return true;
}

bool ChildProcess::Write(const QByteArray& data)
{
    if (in_ < 0)
        return false;
    // A child that has closed its input must not kill this process with
    // SIGPIPE: the signal is held back for this thread and dropped.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteLimitMs);
    qsizetype done = 0;
    bool broken = false;
    while (done < data.size() && !broken) {
        const ssize_t n = ::write(in_, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now())
                                  .count();
            // Output is drained meanwhile: a child blocked writing reads no input.
            if (left <= 0 || !Pump(int(left), true))
                break;
        } else if (n < 0 && errno != EINTR) {
            broken = errno == EPIPE;
            break;
        }
    }
    if (broken && !sigismember(&previous, SIGPIPE)) {
        const timespec now {};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return done == data.size();
}

void ChildProcess::CloseInput()
{
    CloseFd(in_);
}

const QByteArray& ChildProcess::Out()
{
    Pump(0);
    seenOut_ = outText_.size();
    return outText_;
}

const QByteArray& ChildProcess::Err()
{
    Pump(0);
    return errText_;
}

bool ChildProcess::WaitForMoreOut(int limitMs)
{
    WaitFor([&] { return outText_.size() > seenOut_ || out_ < 0; }, limitMs);
    return outText_.size() > seenOut_;
}

bool ChildProcess::WaitForOut(const QByteArray& text, int limitMs)
{
    WaitFor([&] { return outText_.contains(text) || out_ < 0; }, limitMs);
    return outText_.contains(text);
}

bool ChildProcess::WaitForExit(int limitMs)
{
    return pid_ > 0 && WaitFor([&] { return reaped_; }, limitMs);
}

bool ChildProcess::Running()
{
    Pump(0);
    return pid_ > 0 && !reaped_;
}

int ChildProcess::ExitCode() const
{
    return reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

bool ChildProcess::Crashed() const
{
    return reaped_ && WIFSIGNALED(status_);
}

void ChildProcess::Signal(int number)
{
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, number);
}

void ChildProcess::Terminate()
{
    Signal(SIGTERM);
}

void ChildProcess::Kill()
{
    if (pid_ <= 0 || reaped_)
        return;
    Signal(SIGKILL);
    Reap(true);
    ReadFrom(out_, outText_);
    ReadFrom(err_, errText_);
}

bool ChildProcess::WaitFor(const std::function<bool()>& done, int limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !Pump(int(left)))
            return done();
    }
    return true;
}

bool ChildProcess::Pump(int limitMs, bool forInput)
{
    const bool watchEnd = pid_ > 0 && !reaped_;
    pollfd fds[4];
    nfds_t count = 0;
    for (const int fd : { out_, err_, watchEnd ? pidFd_ : -1 })
        if (fd >= 0)
            fds[count++] = { fd, POLLIN, 0 };
    if (forInput && in_ >= 0)
        fds[count++] = { in_, POLLOUT, 0 };
    if (count == 0 && !watchEnd)
        return false;
    if (::poll(fds, count, watchEnd && pidFd_ < 0 ? std::min(limitMs, 10) : limitMs) < 0 && errno != EINTR)
        return false;
    ReadFrom(out_, outText_);
    ReadFrom(err_, errText_);
    if (watchEnd) {
        Reap(false);
        // What it wrote just before it ended.
        if (reaped_) {
            ReadFrom(out_, outText_);
            ReadFrom(err_, errText_);
        }
    }
    return true;
}

void ChildProcess::Reap(bool block)
{
    int status = 0;
    pid_t r;
    do
        r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == 0)
        return;
    reaped_ = true;
    // (-1, when someone else reaped it, is neither an exit nor a signal.)
    status_ = r == pid_ ? status : -1;
    CloseFd(pidFd_);
}

bool ChildProcess::ReadFrom(int& fd, QByteArray& into)
{
    bool got = false;
    char buffer[65536];
    while (fd >= 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, n);
            got = true;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n == 0 || errno != EAGAIN)
                CloseFd(fd);
            break;
        }
    }
    return got;
}

void ChildProcess::CloseAll()
{
    CloseFd(in_);
    CloseFd(out_);
    CloseFd(err_);
    CloseFd(pidFd_);
}

} // namespace zqtest
