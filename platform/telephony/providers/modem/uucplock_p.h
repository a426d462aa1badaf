#pragma once
// UUCP lock files: /var/lock/LCK..ttyUSB0 holds the process id of whoever
// drives the port, as ten characters and a newline. A lock whose process is
// gone is stale and taken over; a live one means the port is busy.
#include <string>
#include <sys/types.h>

namespace zq::modem {

class UucpLock {
public:
    // The folder comes from ZQ_LOCK_DIR when set (tests), else /var/lock.
    static std::string lockFolder();
    static std::string lockPath(const std::string& devicePath);

    UucpLock() = default;
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;
    ~UucpLock() { release(); }

    enum class Result { Locked, Busy, NoFolder };
    // Busy sets holder to the process id in the live lock.
    Result acquire(const std::string& devicePath, pid_t* holder = nullptr);
    void release();
    bool held() const { return !path_.empty(); }

private:
    std::string path_;
};

} // namespace zq::modem
