#pragma once
// The far end of the SIP line tests: sipp run by the test on loopback, with
// free ports of its own so tests can run side by side.
#include <string>
#include <vector>

#include <sys/types.h>

namespace zqsiptest {

// A UDP port nobody uses now (bound, read back, released).
int FreeUdpPort();
// An even port p with p and p + 2 free: sipp echoes RTP on both.
int FreeMediaPort();
// Waits (serving events) until something has bound the UDP port on
// loopback: a peer is ready once it listens.
bool WaitListening(int port);

class Sipp {
public:
    ~Sipp();
    // Runs sipp with these arguments (after the program name), its output
    // kept in dir.
    bool Start(const std::vector<std::string>& args, const std::string& dir);
    // Waits for sipp to end by itself (serving events meanwhile); its exit
    // code, or -1 when it did not end within the limit.
    int Wait(int limitMs = 60000);
    void Stop();
    std::string Log() const; // what it reported, for failure messages

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string dir_;
};

// Where the scenarios are, and a scenario with @NAME@ markers replaced,
// written to dir; its path.
std::string ScenarioPath(const std::string& name);
std::string WriteScenario(const std::string& name, const std::string& dir,
    const std::vector<std::pair<std::string, std::string>>& replacements);

// A capture file sipp can play into a call: 20 ms mu-law packets of a tone
// of `hz` for `ms`, then the digits as telephone-events on payload type 101.
void WriteRtpCapture(const std::string& path, int hz, int ms, const std::string& digits);

} // namespace zqsiptest
