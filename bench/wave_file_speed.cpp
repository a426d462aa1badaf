// Speaking one sentence into a WAV file, against the speech engine's own
// command-line tool doing the same, in the same run: process start, voice
// loading and the write included for both. The goal is at most 3x.
//
// wave_file_speed [runs=5] [speechdemo=<this folder>/speechdemo] [text]
#include "timing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Seconds the command took, or a negative number when it failed.
double Run(const std::vector<std::string>& args)
{
    return zq::bench::RunProgram(args).wall;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::string demo
        = argc > 2 ? argv[2] : (fs::canonical("/proc/self/exe").parent_path() / "speechdemo").string();
    const std::string text = argc > 3 ? argv[3] : "The quick brown fox jumps over the lazy dog.";
    if (runs < 1) {
        std::fprintf(stderr, "usage: wave_file_speed [runs] [speechdemo] [text]\n");
        return 2;
    }
    char folder[] = "/tmp/wave_file_speed-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    const std::string ours = std::string(folder) + "/speechdemo.wav";
    const std::string theirs = std::string(folder) + "/espeak.wav";
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        double t = Run({ demo, "--speak", "--wav", ours, "--text", text });
        double u = Run({ "espeak-ng", "-w", theirs, text });
        if (t < 0 || u < 0) {
            std::fprintf(stderr, "wave_file_speed: %s failed\n", t < 0 ? demo.c_str() : "espeak-ng");
            fs::remove_all(folder);
            return 1;
        }
        a.push_back(t);
        b.push_back(u);
        std::printf("run %d: speechdemo %.3f s, espeak-ng -w %.3f s, ratio %.2f\n", i + 1, t, u, t / u);
    }
    std::printf("median: speechdemo %.3f s, espeak-ng -w %.3f s, ratio %.2f (goal <= 3)\n", Median(a),
        Median(b), Median(a) / Median(b));
    std::printf(
        "files: %ju and %ju bytes\n", uintmax_t(fs::file_size(ours)), uintmax_t(fs::file_size(theirs)));
    fs::remove_all(folder);
    return 0;
}
