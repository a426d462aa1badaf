#pragma once
// A program started by a test or a benchmark that does not talk to it (a
// peer, a simulator, a tool being timed): its standard input is /dev/null,
// its standard output goes to a file or nowhere. Where a test reads a
// program's output as it runs, ChildProcess is the one to use.
#include <string>
#include <vector>

#include <sys/types.h>

namespace zqtest {

// Starts args[0] (looked up in PATH when it has no slash) with its standard
// output in outputFile, created afresh (/dev/null when empty), and its
// standard error there too when errorsToOutput (otherwise this process's).
// Its process id, or -1 when it could not be started; the caller ends and
// reaps it.
pid_t StartUnattended(
    const std::vector<std::string>& args, const std::string& outputFile = {}, bool errorsToOutput = false);

} // namespace zqtest
