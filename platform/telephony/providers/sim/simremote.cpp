#include "simremote_p.h"

#include "registry.h"
#include "simexchange.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zq::sim::remote {

namespace {

// The name is in the abstract namespace: no file to outlive its program,
// no limit from the length of the store's folder. An empty name is not one.
bool Address(const std::string& name, sockaddr_un& addr, socklen_t& length)
{
    if (name.empty() || name.size() + 1 > sizeof addr.sun_path)
        return false;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

int Connect(const std::string& path)
{
    sockaddr_un addr;
    socklen_t length;
    if (!Address(path, addr, length))
        return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Moves all of size bytes through step (recv or send), going on after
// interruptions; false when the connection ends or fails first.
template <class Data, class Step> bool TransferAll(Data* data, size_t size, Step step)
{
    auto* p = reinterpret_cast<std::conditional_t<std::is_const_v<Data>, const char, char>*>(data);
    while (size > 0) {
        const ssize_t n = step(p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size)
{
    return TransferAll(data, size, [fd](char* p, size_t n) { return recv(fd, p, n, 0); });
}

bool WriteAll(int fd, const void* data, size_t size)
{
    return TransferAll(data, size, [fd](const char* p, size_t n) { return send(fd, p, n, MSG_NOSIGNAL); });
}

// The process that listens on name, found by asking the kernel who is at
// the other end of a probe connection. The probe reaches the holder as a
// call that closes before saying anything, which it drops.
std::string HolderOf(const std::string& name)
{
    const int fd = Connect(name);
    if (fd < 0)
        return "(unknown)";
    ucred cred {};
    socklen_t size = sizeof cred;
    const bool known = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.pid > 0;
    close(fd);
    return known ? std::to_string(cred.pid) : std::string("(unknown)");
}

} // namespace

std::string SocketPath(const std::string& number)
{
    // Programs on the same store reach each other; a stable hash (FNV-1a)
    // keeps the name the same in every program, however it was built.
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : registry::RegistryStoreFile()) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string safe;
    for (char c : number)
        if (std::isalnum(static_cast<unsigned char>(c)) && safe.size() < 32)
            safe += c;
    char name[96];
    std::snprintf(
        name, sizeof name, "zqcomm-sim/%016llx/line-%s", static_cast<unsigned long long>(hash), safe.c_str());
    return name;
}

Link::Link(int fd)
    : fd_(fd)
{
}

Link::~Link()
{
    Close();
    if (reader_.joinable()) {
        if (reader_.get_id() == std::this_thread::get_id())
            reader_.detach();
        else
            reader_.join();
    }
    close(fd_);
}

std::shared_ptr<Link> Link::Dial(const std::string& number)
{
    const int fd = Connect(SocketPath(number));
    return fd < 0 ? nullptr : std::make_shared<Link>(fd);
}

void Link::Start(MessageHandler onMessage, ClosedHandler onClosed)
{
    reader_
        = std::thread(&Link::ReadLoop, this, shared_from_this(), std::move(onMessage), std::move(onClosed));
}

void Link::ReadLoop(std::shared_ptr<Link> self, MessageHandler onMessage, ClosedHandler onClosed)
{
    // self keeps the link whole while this thread reads from it.
    for (;;) {
        char type;
        uint32_t size;
        if (!ReadAll(fd_, &type, 1) || !ReadAll(fd_, &size, 4) || size > (1u << 24))
            break;
        std::string payload(size, '\0');
        if (!ReadAll(fd_, payload.data(), size))
            break;
        onMessage(type, payload);
    }
    const bool wasOpen = !closed_.exchange(true);
    if (wasOpen)
        onClosed();
    onMessage = nullptr;
    onClosed = nullptr;
    self.reset();
}

void Link::Send(char type, const void* data, uint32_t size)
{
    if (closed_)
        return;
    std::lock_guard lock(writeMutex_);
    std::vector<char> message(5 + size_t(size));
    message[0] = type;
    std::memcpy(message.data() + 1, &size, 4);
    if (size)
        std::memcpy(message.data() + 5, data, size);
    if (!WriteAll(fd_, message.data(), message.size()))
        closed_ = true;
}

void Link::Close()
{
    closed_ = true;
    shutdown(fd_, SHUT_RDWR);
}

Listener::Listener(const std::string& number, AcceptHandler onAccept)
    : path_(SocketPath(number))
{
    sockaddr_un addr;
    socklen_t length;
    if (!Address(path_, addr, length)) {
        error_ = "the line's socket name cannot be made";
        return;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error_ = std::string("cannot make a socket: ") + std::strerror(errno);
        return;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
        const int bindError = errno;
        close(fd);
        if (bindError == EADDRINUSE) {
            error_ = "already waiting in process " + HolderOf(path_);
            return;
        }
        error_ = std::string("cannot listen on the line's socket: ") + std::strerror(bindError);
        return;
    }
    if (listen(fd, 4) != 0) {
        error_ = std::string("cannot listen on the line's socket: ") + std::strerror(errno);
        close(fd);
        return;
    }
    fd_ = fd;
    thread_ = std::thread([this, onAccept = std::move(onAccept)] {
        for (;;) {
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return;
            }
            onAccept(std::make_shared<Link>(c));
        }
    });
}

Listener::~Listener()
{
    if (fd_ < 0)
        return;
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
}

} // namespace zq::sim::remote

namespace zq::sim {

std::string WaitingLineSocketName(const std::string& number)
{
    return remote::SocketPath(number);
}

} // namespace zq::sim
