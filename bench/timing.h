#pragma once
// What the benchmarks time: a function in this process, or another program
// run to its end, process start included.
#include <functional>
#include <string>
#include <vector>

namespace zq::bench {

// What a run took: wall-clock seconds, and the CPU seconds of the process
// that did it (every thread, user and system time). Negative when the run
// failed.
struct Timing {
    double wall = -1;
    double cpu = -1;
};

// Seconds f takes.
double Seconds(const std::function<void()>& f);
// Wall and CPU time of f in this process (nothing else may run meanwhile).
Timing Measure(const std::function<void()>& f);

// Runs the program (looked up in PATH when it has no slash) to its end, its
// standard output sent to /dev/null. Started directly, not through a shell,
// so its time is the program's own; failed unless it exits with 0.
Timing RunProgram(const std::vector<std::string>& args);

} // namespace zq::bench
