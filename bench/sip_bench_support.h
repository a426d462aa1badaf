#pragma once
// What the SIP benchmarks share: loopback ports, sipp as a child process, and
// a receiver socket whose packets carry the kernel's arrival time.
//
// Threads: every function may be called from any thread; a socket belongs to
// the thread that reads it.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::bench {

// A UDP port on loopback that was free a moment ago.
int FreeUdpPort();

// Whether something has bound the UDP port on loopback (sipp is ready).
bool UdpPortBound(int port);

// Starts args[0] from the PATH with stdin from /dev/null and stdout and
// stderr to log, in log's folder (sipp writes its trace files where it runs).
pid_t Spawn(std::vector<std::string> args, const std::string& log);

// A non-blocking UDP socket on loopback that stamps each datagram with the
// kernel's arrival time; *port is where it listens. -1 on failure.
int BindStampedUdp(int* port);

// One datagram from fd into buf, as recv() returns it; *arrival is when the
// kernel took it (CLOCK_REALTIME seconds), or now when it gave no stamp.
ssize_t ReceiveStamped(int fd, uint8_t* buf, size_t size, double* arrival);

} // namespace zq::bench
