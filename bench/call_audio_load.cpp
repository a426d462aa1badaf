// Call audio under load: runs the headless demonstration (a call from one
// simulated line to the other in one process, the answering side recording
// what it heard) beside busy loops, and compares each recording with the same
// text spoken into a WAV file: the delay, and the slips (places where the
// delay changes: samples inserted or dropped) and missing pieces. The goal is
// every run intact.
//
// call_audio_load [runs=10] [busy=3] [speechdemo=<this folder>/speechdemo] [text]
#include "timing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool Run(const std::vector<std::string>& args)
{
    return zq::bench::RunProgram(args).wall >= 0;
}

struct Wav {
    int rate = 0, channels = 0, bits = 0;
    std::vector<int16_t> samples;
};

// A PCM WAV file's 16-bit samples (other formats are reported as empty).
Wav ReadWav(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::vector<uint8_t> b { std::istreambuf_iterator<char>(in), {} };
    Wav w;
    auto le32
        = [&](size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; };
    auto le16 = [&](size_t at) { return uint16_t(b[at] | b[at + 1] << 8); };
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0)
        return w;
    for (size_t at = 12; at + 8 <= b.size();) {
        uint32_t size = le32(at + 4);
        if (std::memcmp(&b[at], "fmt ", 4) == 0 && at + 24 <= b.size()) {
            w.channels = le16(at + 10);
            w.rate = int(le32(at + 12));
            w.bits = le16(at + 22);
        } else if (std::memcmp(&b[at], "data", 4) == 0) {
            size = std::min<uint32_t>(size, uint32_t(b.size() - at - 8));
            if (w.bits == 16) {
                w.samples.resize(size / 2);
                std::memcpy(w.samples.data(), &b[at + 8], w.samples.size() * 2);
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

struct Comparison {
    long delay = 0; // samples from the reference's start to the recording's
    int slips = 0; // changes of the delay
    int missing = 0; // 20 ms pieces of the reference not found at all
    int pieces = 0;
    double firstMissing = -1, lastMissing = -1; // seconds into the reference
};

// Follows the reference through the recording in 20 ms pieces (silent ones
// skipped): each piece is looked for at the current delay, else anywhere.
Comparison Compare(const std::vector<int16_t>& ref, const std::vector<int16_t>& rec, int rate)
{
    Comparison c;
    const size_t piece = size_t(rate / 50);
    bool haveDelay = false;
    for (size_t at = 0; at + piece <= ref.size(); at += piece) {
        auto begin = ref.begin() + long(at), end = begin + long(piece);
        if (std::all_of(begin, end, [](int16_t v) { return std::abs(v) < 8; }))
            continue;
        ++c.pieces;
        long pos = long(at) + c.delay;
        if (haveDelay && pos >= 0 && size_t(pos) + piece <= rec.size()
            && std::equal(begin, end, rec.begin() + pos))
            continue;
        auto found = std::search(rec.begin(), rec.end(), begin, end);
        if (found == rec.end()) {
            ++c.missing;
            c.lastMissing = double(at) / rate;
            if (c.firstMissing < 0)
                c.firstMissing = c.lastMissing;
            continue;
        }
        long delay = long(found - rec.begin()) - long(at);
        if (haveDelay && delay != c.delay)
            ++c.slips;
        c.delay = delay;
        haveDelay = true;
    }
    return c;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
    const int busy = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string demo
        = argc > 3 ? argv[3] : (fs::canonical("/proc/self/exe").parent_path() / "speechdemo").string();
    const std::string text = argc > 4 ? argv[4] : "";
    if (runs < 1 || busy < 0) {
        std::fprintf(stderr, "usage: call_audio_load [runs] [busy] [speechdemo] [text]\n");
        return 2;
    }
    char folder[] = "/tmp/call_audio_load-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    auto withText = [&](std::vector<std::string> args) {
        if (!text.empty()) {
            args.push_back("--text");
            args.push_back(text);
        }
        return args;
    };
    const fs::path refPath = fs::path(folder) / "spoken.wav";
    if (!Run(withText({ demo, "--speak", "--wav", refPath.string() }))) {
        std::fprintf(stderr, "call_audio_load: speaking into a WAV file failed\n");
        return 1;
    }
    Wav ref = ReadWav(refPath);
    std::printf("reference: %.2f s at %d Hz, %d-bit, %d channel(s)\n",
        ref.rate ? double(ref.samples.size()) / ref.rate : 0.0, ref.rate, ref.bits, ref.channels);

    std::vector<pid_t> loops;
    for (int i = 0; i < busy; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            for (;;)
                asm volatile("");
        }
        loops.push_back(pid);
    }
    int intact = 0;
    for (int run = 1; run <= runs; ++run) {
        const fs::path heard = fs::path(folder) / ("heard-" + std::to_string(run) + ".wav");
        if (!Run(withText({ demo, "--demo", "--record", heard.string() }))) {
            std::printf("run %d: the demonstration failed\n", run);
            continue;
        }
        Wav rec = ReadWav(heard);
        if (rec.rate != ref.rate || rec.channels != ref.channels || rec.samples.empty()) {
            std::printf("run %d: recorded %d Hz %d-bit, not comparable with the reference\n", run, rec.rate,
                rec.bits);
            continue;
        }
        Comparison c = Compare(ref.samples, rec.samples, ref.rate);
        bool ok = c.slips == 0 && c.missing == 0 && c.pieces > 0;
        intact += ok;
        std::printf("run %d: delay %.1f ms, %d slips, %d of %d pieces missing", run,
            1000.0 * double(c.delay) / ref.rate, c.slips, c.missing, c.pieces);
        if (c.missing)
            std::printf(" (%.2f s to %.2f s of %.2f s)", c.firstMissing, c.lastMissing,
                double(ref.samples.size()) / ref.rate);
        std::printf("%s\n", ok ? "" : "  <-- damaged");
        std::fflush(stdout);
    }
    for (pid_t pid : loops) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::printf("%d of %d runs intact beside %d busy loops (goal: all)\n", intact, runs, busy);
    fs::remove_all(folder);
    return 0;
}
