#include "timing.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace zq::bench {

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

double Seconds(const std::function<void()>& f)
{
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Timing Measure(const std::function<void()>& f)
{
    rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
    Timing timing;
    timing.wall = Seconds(f);
    getrusage(RUSAGE_SELF, &after);
    timing.cpu = CpuSeconds(after) - CpuSeconds(before);
    return timing;
}

Timing RunProgram(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    int status = -1;
    rusage usage {};
    const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (started)
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) { }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Timing timing;
    if (started && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        timing.wall = seconds;
        timing.cpu = CpuSeconds(usage);
    }
    return timing;
}

} // namespace zq::bench
