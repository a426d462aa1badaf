#pragma once
// The modem simulator as a real program on a pseudo-terminal, for tests: its
// script, its log of the commands it received and the samples it was sent.
#include "unattendedprogram.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zq::modem::test {

inline std::string readWhole(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

class ModemSimProcess {
public:
    explicit ModemSimProcess(const std::string& script, const std::vector<uint8_t>& play = {})
    {
        char dir[] = "/tmp/zqmodemsimXXXXXX";
        dir_ = mkdtemp(dir);
        LockFolder();
        std::ofstream(dir_ + "/script.sim") << script;
        std::vector<std::string> args = { ZQ_MODEMSIM_PATH, "--link", dir_ + "/link", "--log", dir_ + "/log",
            "--record", dir_ + "/record", "--script", dir_ + "/script.sim" };
        if (!play.empty()) {
            std::ofstream(dir_ + "/play", std::ios::binary)
                .write(reinterpret_cast<const char*>(play.data()), static_cast<std::streamsize>(play.size()));
            args.push_back("--play");
            args.push_back(dir_ + "/play");
        }
        pid_ = zqtest::StartUnattended(args);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline && pid_ > 0) {
            std::string link = readWhole(dir_ + "/link");
            if (!link.empty() && link.back() == '\n') {
                path_ = link.substr(0, link.size() - 1);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~ModemSimProcess()
    {
        stop();
        std::system(("rm -rf " + dir_).c_str());
    }
    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    const std::string& device() const { return path_; }
    const std::string& folder() const { return dir_; }
    std::string log() const { return readWhole(dir_ + "/log"); }
    std::string record() const { return readWhole(dir_ + "/record"); }
    // Waits (bounded) until the log holds text.
    bool waitLog(const std::string& text, int seconds = 30) const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (log().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    // Lock files of the tests stay in a folder of their own, one for the
    // process: the service's threads read the setting, so it is written once,
    // before the first simulator (and so the first line) exists.
    static void LockFolder()
    {
        static const struct Folder {
            std::string path;
            Folder()
            {
                char dir[] = "/tmp/zqmodemlocksXXXXXX";
                path = mkdtemp(dir);
                setenv("ZQ_LOCK_DIR", path.c_str(), 1);
            }
            ~Folder() { std::system(("rm -rf " + path).c_str()); }
        } folder;
    }

    std::string dir_, path_;
    pid_t pid_ = -1;
};

} // namespace zq::modem::test
