#pragma once
// What the speech benchmarks share: their texts, the synthesiser's own
// command-line tool as the reference they are measured against, and the
// process's memory figures.
#include "timing.h"

#include <functional>
#include <string>
#include <vector>

namespace zq::bench {

// The demo's memo, one entry per line.
std::vector<std::string> MemoLines();
// The memo as one text, lines ended by newlines.
std::string Memo();
// A text of at least `characters` characters of plain prose. The voice
// speaks about 15 characters a second, so 4600 make about five minutes.
std::string Prose(size_t characters);

// `espeak-ng -w` writing the text with the voice to a wave file, process
// start included; negative times when the tool failed.
Timing RenderWithTool(const std::string& text, const std::string& voice);

// Times `ours` against the tool on the same text, `runs` times in turn, and
// keeps the fastest of each: on a shared machine the fastest run is the one
// least disturbed by other work, and taking turns exposes both to the same
// disturbances. CPU time hardly depends on what else runs, so its ratio is
// the steadier figure on a loaded machine. Negative tool times on failure.
struct Comparison {
    Timing ours;
    Timing tool;
    double Ratio() const { return tool.wall > 0 ? ours.wall / tool.wall : 0.0; }
    double CpuRatio() const { return tool.cpu > 0 ? ours.cpu / tool.cpu : 0.0; }
};
Comparison Compare(
    int runs, const std::function<Timing()>& ours, const std::string& text, const std::string& voice);

// Resident memory of this process now and at its peak since the last reset,
// in bytes (from /proc/self/status).
long long ResidentBytes();
long long PeakResidentBytes();
// Starts a new peak from the current resident memory.
void ResetPeak();

} // namespace zq::bench
