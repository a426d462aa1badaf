#pragma once
// The far end of a pseudo-terminal: the test holds the master, the port
// under test opens the slave by its name. One thread uses it at a time.
#include <string>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace zqtest {

class PtyMaster {
public:
    PtyMaster()
    {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0)
            slave = ptsname(fd);
    }
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;
    ~PtyMaster() { CloseMaster(); }

    // Hangs up: the slave's side sees the line go away.
    void CloseMaster()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    // Writes all of s; false when the line went away first.
    bool Write(const std::string& s) const
    {
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = write(fd, s.data() + done, s.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // Reads count bytes, fewer when the line goes away first.
    std::string Read(size_t count) const
    {
        std::string s(count, '\0');
        size_t done = 0;
        while (done < count) {
            const ssize_t n = read(fd, s.data() + done, count - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        s.resize(done);
        return s;
    }

    int fd = -1;
    std::string slave; // empty when no pseudo-terminal could be had
};

} // namespace zqtest
