#include "speech_reference.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zq::bench {

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long long StatusField(const char* name)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(name) + ":";
    while (std::getline(status, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::atoll(line.c_str() + prefix.size()) * 1024;
    return -1;
}

} // namespace

std::vector<std::string> MemoLines()
{
    return { "This is Brellow zqComm Lib ", "Speech demo program.", "It is using the Microsoft Speech API ",
        "v5.1 (or above) which you should ", "install before." };
}

std::string Memo()
{
    std::string memo;
    for (const auto& line : MemoLines())
        memo += line + "\n";
    return memo;
}

std::string Prose(size_t characters)
{
    const std::string paragraph
        = "When the call is connected, the text of the memo is spoken into the line with the chosen voice. "
          "The engine renders the whole text into memory first, and the wave device then plays it buffer by "
          "buffer, one second at a time, until the data runs out or the far end hangs up. "
          "Numbers such as 1234 and dates such as the 3rd of May are read out in words. ";
    std::string text;
    while (text.size() < characters)
        text += paragraph;
    return text;
}

Timing RenderWithTool(const std::string& text, const std::string& voice)
{
    const auto dir = std::filesystem::temp_directory_path();
    const std::string stem = "zq_speech_bench_" + std::to_string(getpid());
    const auto textFile = dir / (stem + ".txt");
    const auto waveFile = dir / (stem + ".wav");
    std::ofstream(textFile) << text;
    // Started directly, not through a shell, so its time is the tool's own.
    std::vector<std::string> args { "espeak-ng", "-v", voice, "-w", waveFile.string(), "-f",
        textFile.string() };
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Timing timing;
    const auto start = Clock::now();
    pid_t pid = 0;
    int status = -1;
    rusage usage {};
    const bool started = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
    if (started)
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) { }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::filesystem::remove(textFile);
    std::filesystem::remove(waveFile);
    if (!started || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "espeak-ng failed (%d) for %s\n", status, textFile.c_str());
        return timing;
    }
    timing.wall = seconds;
    timing.cpu = CpuSeconds(usage);
    return timing;
}

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

Comparison Compare(
    int runs, const std::function<Timing()>& ours, const std::string& text, const std::string& voice)
{
    Comparison best;
    auto keepFastest = [](Timing& best, const Timing& t) {
        if (best.wall < 0 || t.wall < best.wall)
            best.wall = t.wall;
        if (best.cpu < 0 || t.cpu < best.cpu)
            best.cpu = t.cpu;
    };
    for (int i = 0; i < runs; ++i) {
        keepFastest(best.ours, ours());
        const Timing tool = RenderWithTool(text, voice);
        if (tool.wall < 0)
            return { best.ours, {} };
        keepFastest(best.tool, tool);
    }
    return best;
}

long long ResidentBytes()
{
    return StatusField("VmRSS");
}

long long PeakResidentBytes()
{
    return StatusField("VmHWM");
}

void ResetPeak()
{
    // Writing 5 resets the peak resident size to the current one.
    std::ofstream("/proc/self/clear_refs") << "5";
}

} // namespace zq::bench
