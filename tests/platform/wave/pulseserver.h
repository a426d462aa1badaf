#pragma once
// A PulseAudio daemon of the test's own, with one null sink ("nul") at 8 kHz
// mono 16-bit so that what reaches it is bit for bit what was played, and
// ALSA's default device routed to it through ALSA's pulse plugin. Everything
// lives in a private folder (HOME, XDG_RUNTIME_DIR), so the machine's own
// sound setup is neither used nor touched.
//
// Prepare() must run before the process first touches ALSA: ALSA reads its
// configuration once.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace wavetest {

namespace fs = std::filesystem;

inline pid_t Spawn(const std::vector<std::string>& args, const std::string& out = "/dev/null")
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline void Reap(pid_t& pid, int signal)
{
    if (pid <= 0)
        return;
    kill(pid, signal);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

class PulseServer {
public:
    // The private folder and the environment that points ALSA and the
    // PulseAudio clients at it.
    static fs::path Prepare()
    {
        static fs::path root = [] {
            std::string t = (fs::temp_directory_path() / "zqpulse-XXXXXX").string();
            fs::path r = mkdtemp(t.data());
            fs::create_directories(r / "home" / ".config" / "pulse");
            fs::create_directories(r / "run" / "pulse");
            fs::permissions(r / "run", fs::perms::owner_all);
            std::ofstream(r / "home" / ".asoundrc")
                << "pcm.!default { type pulse }\nctl.!default { type pulse }\n";
            std::ofstream(r / "home" / ".config" / "pulse" / "client.conf") << "autospawn = no\n";
            setenv("HOME", (r / "home").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", (r / "run").c_str(), 1);
            setenv("PULSE_SERVER", ("unix:" + (r / "run" / "pulse" / "native").string()).c_str(), 1);
            unsetenv("ZQ_WAVE_OUT_PCM");
            unsetenv("ZQ_WAVE_IN_PCM");
            // Removed when the program ends (after the path itself is gone).
            static char* copy = strdup(r.c_str());
            std::atexit([] {
                std::error_code ec;
                fs::remove_all(copy, ec);
            });
            return r;
        }();
        return root;
    }

    ~PulseServer() { Reap(pid_, SIGTERM); }

    // Empty when the daemon answers on its socket; otherwise why not.
    std::string Start()
    {
        fs::path root = Prepare();
        fs::path socket = root / "run" / "pulse" / "native";
        fs::remove(socket);
        pid_ = Spawn({ "pulseaudio", "--daemonize=no", "--system=false", "-n", "--disallow-exit",
            "--exit-idle-time=-1", "--use-pid-file=false", "--disable-shm=yes",
            "--load=module-null-sink sink_name=nul rate=8000 channels=1 format=s16le",
            "--load=module-native-protocol-unix socket=" + socket.string() });
        if (pid_ < 0)
            return "pulseaudio cannot be started";
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < until) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return "pulseaudio exited at start";
            }
            if (Answers(socket))
                return {};
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Reap(pid_, SIGKILL);
        return "pulseaudio did not answer within 30 s";
    }

    void Kill() { Reap(pid_, SIGKILL); }

private:
    static bool Answers(const fs::path& socket)
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a {};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socket.c_str());
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    pid_t pid_ = -1;
};

// What reaches the null sink, recorded from its monitor into a file.
class SinkMonitor {
public:
    explicit SinkMonitor(fs::path file)
        : file_(std::move(file))
    {
        pid_ = Spawn({ "pacat", "--record", "-d", "nul.monitor", "--raw", "--format=s16le", "--rate=8000",
                         "--channels=1", "--latency-msec=20" },
            file_.string());
    }
    ~SinkMonitor() { Reap(pid_, SIGTERM); }
    bool Running() const { return pid_ > 0; }

    std::vector<int16_t> Samples() const
    {
        std::ifstream in(file_, std::ios::binary);
        std::vector<char> b { std::istreambuf_iterator<char>(in), {} };
        std::vector<int16_t> s(b.size() / 2);
        std::memcpy(s.data(), b.data(), s.size() * 2);
        return s;
    }

    // Waits (bounded) until `pred(samples)` holds.
    template <class Pred> bool WaitFor(Pred pred, std::chrono::seconds limit = std::chrono::seconds(30)) const
    {
        auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (pred(Samples()))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return pred(Samples());
    }

private:
    fs::path file_;
    pid_t pid_ = -1;
};

} // namespace wavetest
