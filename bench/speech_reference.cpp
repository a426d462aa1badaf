#include "speech_reference.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace zq::bench {

namespace {

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
    const Timing timing
        = RunProgram({ "espeak-ng", "-v", voice, "-w", waveFile.string(), "-f", textFile.string() });
    std::filesystem::remove(textFile);
    std::filesystem::remove(waveFile);
    if (timing.wall < 0)
        std::fprintf(stderr, "espeak-ng failed for %s\n", textFile.c_str());
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
