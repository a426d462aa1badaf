#include "sip_bench_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

extern char** environ;

namespace zq::bench {

namespace {

sockaddr_in Loopback(int port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Binds fd to loopback (port 0: any) and returns the port it got.
int BindLoopback(int fd, int port)
{
    sockaddr_in a = Loopback(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return -1;
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

double Realtime()
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

int FreeUdpPort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int port = BindLoopback(fd, 0);
    close(fd);
    return port;
}

bool UdpPortBound(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const bool taken = BindLoopback(fd, port) < 0;
    close(fd);
    return taken;
}

pid_t Spawn(std::vector<std::string> args, const std::string& log)
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, log.substr(0, log.rfind('/')).c_str());
    pid_t pid = -1;
    posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int BindStampedUdp(int* port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    *port = BindLoopback(fd, 0);
    if (*port < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

ssize_t ReceiveStamped(int fd, uint8_t* buf, size_t size, double* arrival)
{
    char control[CMSG_SPACE(sizeof(timespec))];
    iovec iov { buf, size };
    msghdr msg {};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &msg, 0);
    if (n <= 0)
        return n;
    *arrival = Realtime();
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts;
            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
            *arrival = double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
        }
    return n;
}

} // namespace zq::bench
