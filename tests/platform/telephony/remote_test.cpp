// Calls to a line waiting in another program, with the other program played
// by the test: its end of the line's socket.
#include "mmsystem.h"
#include "registrykey.h"
#include "simexchange.h"
#include "tapitest.h"

#include <QDir>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

void AbstractAddress(const std::string& name, sockaddr_un& addr, socklen_t& length)
{
    addr.sun_family = AF_UNIX;
    ASSERT_LT(name.size() + 1, sizeof addr.sun_path);
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// The program waiting on a number: takes the dial, answers, and then sends
// audio without pause until the call ends.
class WaitingProgram {
public:
    explicit WaitingProgram(const std::string& number)
    {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr {};
        socklen_t length = 0;
        AbstractAddress(zq::sim::WaitingLineSocketName(number), addr, length);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), length) != 0 || listen(fd_, 1) != 0) {
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
    std::atomic<bool> stop_ { false };
    std::atomic<int> sent_ { 0 };
    std::thread thread_;
};

// Audio keeps arriving from the other program while this one hangs up, its
// last application goes and the exchange is restarted with new settings:
// the link's reader must not be left holding the line the restart frees.
TEST_F(TapiTest, AudioArrivingWhileTheExchangeRestartsFindsNoFreedLine)
{
    WaitingProgram other("1002");
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

// A program that waits on a line another program already waits on is
// refused, and told who holds the line, rather than waiting in vain.
TEST_F(TapiTest, SecondWaiterOnALineIsRefusedAndToldWhoWaits)
{
    WaitingProgram other("1002");
    ASSERT_TRUE(other.Listening());
    Register();
    HLINE line = 0;
    testing::internal::CaptureStderr();
    const LONG rc = lineOpen(app_, 1, &line, version_, 0, kInst1, LINECALLPRIVILEGE_OWNER,
        LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(DWORD(rc), LINEERR_RESOURCEUNAVAIL);
    EXPECT_EQ(line, HLINE(0));
    EXPECT_NE(said.find("already waiting in process " + std::to_string(getpid())), std::string::npos) << said;
    // The line is not left half open: a program that only places calls
    // still opens it.
    EXPECT_NE(Open(1, kInst2, LINECALLPRIVILEGE_NONE), HLINE(0));
}

// However long the store's path, a waiting line can be reached.
TEST_F(TapiTest, WaiterOnAStoreWithALongPathCanBeReached)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString deep = dir.path();
    while (deep.size() < 160)
        deep += QStringLiteral("/a-rather-long-folder-name");
    ASSERT_TRUE(QDir().mkpath(deep));
    qputenv("ZQ_REGISTRY_FILE", (deep + "/registry.json").toLocal8Bit());
    Register();
    const HLINE line = Open(1, kInst1, LINECALLPRIVILEGE_OWNER);
    ASSERT_NE(line, HLINE(0));
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr {};
    socklen_t length = 0;
    AbstractAddress(zq::sim::WaitingLineSocketName("1002"), addr, length);
    EXPECT_EQ(connect(probe, reinterpret_cast<sockaddr*>(&addr), length), 0) << std::strerror(errno);
    close(probe);
}

} // namespace
