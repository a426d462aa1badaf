// Calls to a line waiting in another program, with the other program played
// by the test: its end of the socket beside the registry store.
#include "mmsystem.h"
#include "registrykey.h"
#include "simexchange.h"
#include "tapitest.h"

#include <atomic>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The program waiting on a number: takes the dial, answers, and then sends
// audio without pause until the call ends.
class WaitingProgram {
public:
    explicit WaitingProgram(const std::string& socketPath)
    {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
        unlink(socketPath.c_str());
        path_ = socketPath;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, 1) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        thread_ = std::thread([this] { Serve(); });
    }
    ~WaitingProgram()
    {
        stop_ = true;
        if (fd_ >= 0)
            shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
        unlink(path_.c_str());
    }
    bool Listening() const { return fd_ >= 0; }
    int AudioSent() const { return sent_; }

private:
    static bool Send(int fd, char type, const void* data, uint32_t size)
    {
        std::vector<char> m(5 + size);
        m[0] = type;
        std::memcpy(m.data() + 1, &size, 4);
        std::memcpy(m.data() + 5, data, size);
        return ::send(fd, m.data(), m.size(), MSG_NOSIGNAL) == ssize_t(m.size());
    }
    void Serve()
    {
        while (!stop_) {
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                return;
            char header[5];
            if (recv(c, header, 5, MSG_WAITALL) == 5) { // the dial
                uint32_t size;
                std::memcpy(&size, header + 1, 4);
                std::vector<char> dial(size);
                recv(c, dial.data(), size, MSG_WAITALL);
                const uint32_t connected[2] = { LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE };
                Send(c, 'S', connected, sizeof connected);
                const std::vector<char> audio(320, 0x11);
                while (!stop_ && Send(c, 'A', audio.data(), uint32_t(audio.size())))
                    ++sent_;
            }
            close(c);
        }
    }

    int fd_ = -1;
    std::string path_;
    std::atomic<bool> stop_ { false };
    std::atomic<int> sent_ { 0 };
    std::thread thread_;
};

// Audio keeps arriving from the other program while this one hangs up, its
// last application goes and the exchange is restarted with new settings:
// the link's reader must not be left holding the line the restart frees.
TEST_F(TapiTest, AudioArrivingWhileTheExchangeRestartsFindsNoFreedLine)
{
    const std::string store = qgetenv("ZQ_REGISTRY_FILE").toStdString();
    WaitingProgram other(store.substr(0, store.rfind('/')) + "/line-1002.sock");
    ASSERT_TRUE(other.Listening());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        MessageLog::Get().Clear();
        Register();
        HLINE line = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
        Dial(line, "1002");
        ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));
        const int before = other.AudioSent();
        ASSERT_TRUE(zqtest::WaitUntil([&] { return other.AudioSent() > before + 50; }));
        ASSERT_EQ(lineShutdown(&app_), 0);
        // New settings: the next registration stops the exchange and starts
        // it again, freeing its lines.
        zq::registry::RegistryKey(HKEY_LOCAL_MACHINE, zq::sim::kSimulatedKey, true)
            .SetDword("RingIntervalMs", 1000 + round);
    }
    Register();
}

} // namespace
