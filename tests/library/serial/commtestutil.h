#pragma once
// Stand-ins for the serial component's tests: a component that opens the
// handle it is given, the far end of its line (an in-process pair or a
// pseudo-terminal), and a log and processor that keep what they see.
#include "commpair.h"
#include "commqueues.h"
#include "eventwait.h"
#include "lasterror.h"
#include "ptymaster.h"
#include "recordinglog.h"
#include "thread.h"
#include "threadcount.h"
#include "zqclasses.h"
#include "zqcomm.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// Keeps each error the component reports, as its code then its system error.
inline void CollectErrors(TzqCustomComm& comm, std::vector<Cardinal>& errors)
{
    comm.OnCommError = TOnCommErrorEvent::Bind(
        &comm, nullptr, [&errors](TObject*, Cardinal code, Cardinal sys, TComStateFlags, bool&) {
            errors.push_back(code);
            errors.push_back(sys);
        });
}

// Keeps the order of everything received: "P:" processor, "A:" after-receive.
struct Trail {
    std::vector<std::string> calls;
    bool offMainThread = false;
    void Add(const std::string& s)
    {
        if (!zq::kernel::IsMainThread())
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
        zq::serial::CreateCommPortPair(&near_, &far_);
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

class PtyEnd : public FarEnd, public zqtest::PtyMaster {
public:
    HANDLE OpenNear() override { return zq::serial::OpenCommPort(slave); }
    void Write(const std::string& s) override { PtyMaster::Write(s); }
    std::string Read(size_t count) override { return PtyMaster::Read(count); }
    bool IsPair() const override { return false; }
};

using zqtest::QueuedIn;
using zqtest::RecordingLog;
using zqtest::ThreadCount;

} // namespace commtest
