#pragma once
// Whether a program waits for calls on a simulated line's number, found by
// calling the line's socket as a dialling program would. The waiting program
// drops a caller that says nothing. Tests using it link zqtp_sim.
#include "simsocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace zqtest {

inline bool LineListens(const std::string& number)
{
    const std::string name = zq::sim::WaitingLineSocketName(number);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const size_t length = std::min(name.size(), sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path + 1, name.data(), length);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool reached = connect(fd, reinterpret_cast<sockaddr*>(&addr),
                             socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length))
        == 0;
    close(fd);
    return reached;
}

} // namespace zqtest
