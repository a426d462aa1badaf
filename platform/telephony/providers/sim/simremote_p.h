#pragma once
// Calls between simulated lines of different programs. A program whose
// line waits for calls listens on a local socket named after the line's
// number, beside the registry store; a program that dials that number while
// its own copy of the line is not in use reaches the waiting program there.
// Messages are a type byte, a 32-bit length and the payload.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zq::sim::remote {

constexpr char kDial = 'D'; // dialled string, caller id, caller name (NUL-separated)
constexpr char kState = 'S'; // the caller's call state and mode (two 32-bit values)
constexpr char kAudio = 'A'; // PCM as the line plays it
constexpr char kEnd = 'E'; // the dialling side ends the call (32-bit disconnect mode)

// The socket of a line number for the registry store in use.
std::string SocketPath(const std::string& number);

class Link : public std::enable_shared_from_this<Link> {
public:
    using MessageHandler = std::function<void(char type, const std::string& payload)>;
    using ClosedHandler = std::function<void()>;

    explicit Link(int fd);
    ~Link();
    // Connects to the program waiting on number; null when none does.
    static std::shared_ptr<Link> Dial(const std::string& number);
    // Reads messages on a thread of the link's own until the link closes.
    void Start(MessageHandler onMessage, ClosedHandler onClosed);
    // Thread-safe; a closed link drops what it is given.
    void Send(char type, const void* data, uint32_t size);
    void Send(char type, const std::string& payload) { Send(type, payload.data(), uint32_t(payload.size())); }
    void Close();

private:
    void ReadLoop(std::shared_ptr<Link> self, MessageHandler onMessage, ClosedHandler onClosed);
    int fd_;
    std::mutex writeMutex_;
    std::atomic<bool> closed_ { false };
    std::thread reader_;
};

// Accepts the calls of other programs for one line number.
class Listener {
public:
    using AcceptHandler = std::function<void(std::shared_ptr<Link>)>;
    // Not listening (Active() false, Error() says why) when another
    // program already waits on the number or the socket cannot be made.
    Listener(const std::string& number, AcceptHandler onAccept);
    ~Listener();
    bool Active() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }

private:
    std::string path_;
    std::string error_;
    int fd_ = -1;
    std::thread thread_;
};

} // namespace zq::sim::remote
