#include "uucplock_p.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace zq::modem {

std::string UucpLock::lockFolder()
{
    const char* env = std::getenv("ZQ_LOCK_DIR");
    return env && *env ? env : "/var/lock";
}

std::string UucpLock::lockPath(const std::string& devicePath)
{
    const size_t slash = devicePath.rfind('/');
    std::string base = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
    // /dev/pts/3 would otherwise lock "3", shared with every other pts.
    if (devicePath.find("/pts/") != std::string::npos)
        base = "pts" + base;
    return lockFolder() + "/LCK.." + base;
}

namespace {

pid_t readHolder(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return 0;
    char buf[32] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    return static_cast<pid_t>(std::atol(buf));
}

bool alive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

} // namespace

UucpLock::Result UucpLock::acquire(const std::string& devicePath, pid_t* holder)
{
    release();
    const std::string path = lockPath(devicePath);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) {
            char buf[16];
            const int n = std::snprintf(buf, sizeof buf, "%10d\n", static_cast<int>(::getpid()));
            const bool ok = ::write(fd, buf, static_cast<size_t>(n)) == n;
            ::close(fd);
            if (!ok) {
                ::unlink(path.c_str());
                return Result::NoFolder;
            }
            path_ = path;
            return Result::Locked;
        }
        if (errno != EEXIST)
            return Result::NoFolder;
        const pid_t pid = readHolder(path);
        if (pid == ::getpid() || alive(pid)) {
            if (holder)
                *holder = pid;
            return Result::Busy;
        }
        // Stale: its process is gone.
        ::unlink(path.c_str());
    }
    return Result::Busy;
}

void UucpLock::release()
{
    if (path_.empty())
        return;
    if (readHolder(path_) == ::getpid())
        ::unlink(path_.c_str());
    path_.clear();
}

} // namespace zq::modem
