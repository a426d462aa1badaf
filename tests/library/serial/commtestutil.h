#pragma once
// Stand-ins for the serial component's tests: a component that opens the
// handle it is given, the far end of its line (an in-process pair or a
// pseudo-terminal), and a log and processor that keep what they see.
#include "commpair.h"
#include "eventwait.h"
#include "lasterror.h"
#include "thread.h"
#include "zqclasses.h"
#include "zqcomm.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace commtest {

class TestComm : public TzqCustomComm {
public:
    using TzqCustomComm::TzqCustomComm;
    // The next open gets the handle this makes.
    std::function<HANDLE()> opener;
    // Runs before each release of the handle, on the releasing thread.
    std::function<void()> beforeDestroy;
    std::string portName = "TESTPORT";
    HANDLE CreateHandle() override { return opener ? opener() : INVALID_HANDLE_VALUE; }
    void DestroyHandle(HANDLE H) override
    {
        if (beforeDestroy)
            beforeDestroy();
        TzqCustomComm::DestroyHandle(H);
    }
    void GetPortName(std::string& Name) override { Name = portName; }
    using TzqCustomComm::UpdateCommState;
};

struct RecordingLog : TzqCustomLogFile {
    using TzqCustomLogFile::TzqCustomLogFile;
    std::vector<std::string> lines;
    void AddSeparator() override { lines.push_back("--"); }
    void WriteLine(int, const std::string& Text) override { lines.push_back(Text); }
    void WriteLineFmt(int, const std::string& Fmt, const TVarRecs& Args) override
    {
        lines.push_back(Format(Fmt, Args));
    }
    bool Has(const std::string& line) const
    {
        for (const auto& l : lines)
            if (l == line)
                return true;
        return false;
    }
};

// Keeps the order of everything received: "P:" processor, "A:" after-receive.
struct Trail {
    std::vector<std::string> calls;
    bool offMainThread = false;
    void Add(const std::string& s)
    {
        if (!IsMainThread())
            offMainThread = true;
        calls.push_back(s);
    }
};

struct RecordingProcessor : TzqCustomDataProcessor {
    RecordingProcessor(QObject* owner, Trail& t)
        : TzqCustomDataProcessor(owner)
        , trail(t)
    {
    }
    Trail& trail;
    int txEmpty = 0;
    void ProcessData(const void* Buffer, int Count, bool&) override
    {
        trail.Add("P:" + std::string(static_cast<const char*>(Buffer), Count));
    }
    void DoTxEmpty(bool&) override { ++txEmpty; }
};

// The far end of the component's line.
class FarEnd {
public:
    virtual ~FarEnd() = default;
    virtual HANDLE OpenNear() = 0;
    virtual void Write(const std::string& s) = 0;
    virtual std::string Read(size_t count) = 0;
    virtual bool IsPair() const = 0;
};

class PairEnd : public FarEnd {
public:
    PairEnd()
    {
        CreateCommPortPair(&near_, &far_);
        DCB dcb;
        for (HANDLE h : { near_, far_ }) {
            GetCommState(h, &dcb);
            dcb.BaudRate = 1000000;
            SetCommState(h, &dcb);
        }
    }
    ~PairEnd() override
    {
        CloseHandle(far_);
        if (!handedOut_)
            CloseHandle(near_);
    }
    HANDLE OpenNear() override
    {
        handedOut_ = true;
        return near_;
    }
    void Write(const std::string& s) override
    {
        DWORD n;
        WriteFile(far_, s.data(), static_cast<DWORD>(s.size()), &n, nullptr);
    }
    std::string Read(size_t count) override
    {
        std::string s(count, '\0');
        DWORD n = 0;
        ReadFile(far_, s.data(), static_cast<DWORD>(count), &n, nullptr);
        s.resize(n);
        return s;
    }
    bool IsPair() const override { return true; }
    HANDLE Far() const { return far_; }
    HANDLE Near() const { return near_; }

private:
    HANDLE near_ = INVALID_HANDLE_VALUE;
    HANDLE far_ = INVALID_HANDLE_VALUE;
    bool handedOut_ = false;
};

class PtyEnd : public FarEnd {
public:
    PtyEnd()
    {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0)
            slave = ptsname(fd);
    }
    ~PtyEnd() override { CloseMaster(); }
    void CloseMaster()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    HANDLE OpenNear() override { return OpenCommPort(slave); }
    void Write(const std::string& s) override
    {
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = write(fd, s.data() + done, s.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
    std::string Read(size_t count) override
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
    bool IsPair() const override { return false; }
    int fd = -1;
    std::string slave;
};

inline int ThreadCount()
{
    // The race checker starts a thread of its own with the program's first
    // one, for good: it is there before anything is counted.
    static const bool checkerStarted = (std::thread([] {}).join(), true);
    (void)checkerStarted;
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n;
}

inline DWORD QueuedIn(HANDLE h)
{
    COMSTAT st;
    DWORD errors = 0;
    return ClearCommError(h, &errors, &st) ? st.cbInQue : 0;
}

} // namespace commtest
