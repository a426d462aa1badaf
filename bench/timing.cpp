#include "timing.h"

#include "unattendedprogram.h"

#include <cerrno>
#include <chrono>
#include <sys/resource.h>
#include <sys/wait.h>

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
    const auto start = Clock::now();
    const pid_t pid = zqtest::StartUnattended(args);
    int status = -1;
    rusage usage {};
    if (pid > 0)
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) { }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Timing timing;
    if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        timing.wall = seconds;
        timing.cpu = CpuSeconds(usage);
    }
    return timing;
}

} // namespace zq::bench
