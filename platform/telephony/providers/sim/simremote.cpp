#include "simremote_p.h"

#include "registry.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zq::sim::remote {

namespace {

bool Address(const std::string& path, sockaddr_un& addr)
{
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int Connect(const std::string& path)
{
    sockaddr_un addr;
    if (!Address(path, addr))
        return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool ReadAll(int fd, void* data, size_t size)
{
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t size)
{
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

std::string SocketPath(const std::string& number)
{
    std::string store = RegistryStoreFile();
    const size_t slash = store.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : store.substr(0, slash);
    std::string safe;
    for (char c : number)
        if (std::isalnum(static_cast<unsigned char>(c)))
            safe += c;
    return dir + "/line-" + safe + ".sock";
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
    if (!Address(path_, addr))
        return;
    // A socket that answers belongs to a program still waiting there; one
    // that does not is left over and goes.
    if (const int other = Connect(path_); other >= 0) {
        close(other);
        return;
    }
    unlink(path_.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
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
    unlink(path_.c_str());
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
}

} // namespace zq::sim::remote
