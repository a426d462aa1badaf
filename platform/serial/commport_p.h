#pragma once
// The port object behind a comm handle: queues, pending requests, the event
// mask and the worker thread that serves them. What moves bytes on and off
// the line is a CommDevice: a termios device or one side of an in-process
// pair. Everything here runs under the port's mutex unless said otherwise.
#include "commapi.h"
#include "events.h"
#include "handles.h"

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include <poll.h>

namespace zq::serial {

using CommClock = std::chrono::steady_clock;
using CommTime = CommClock::time_point;

class CommPort;

class CommDevice {
public:
    virtual ~CommDevice() = default;
    // Line settings the device starts with, merged into the port's state.
    virtual void InitialState(DCB& dcb) = 0;
    // Applies a complete state; false with the last error set on refusal.
    virtual bool ApplyState(const DCB& dcb) = 0;
    virtual DWORD ModemStatus() = 0;
    // False with the last error set when the device cannot do it.
    virtual bool Escape(DWORD func) = 0;
    virtual void PurgeInput() { }
    virtual void PurgeOutput() { }
    // Bytes the device holds that have not left yet.
    virtual DWORD DeviceOutQueue() { return 0; }
    // Hold flags of COMSTAT.
    virtual DWORD HoldFlags() { return 0; }
    // How RTS_CONTROL_TOGGLE is carried out (RTS_TOGGLE_*).
    virtual DWORD RtsToggle() { return RTS_TOGGLE_OFF; }

    // Worker hooks. Serve moves bytes whose time has come; Prepare adds the
    // descriptors to watch and may bring the deadline forward; AfterPoll reads
    // the results (fds point at the descriptors Prepare added).
    virtual void Serve(CommTime) { }
    virtual void Prepare(std::vector<pollfd>&, CommTime&) { }
    virtual void AfterPoll(const pollfd*, size_t) { }
    // The port's last pending write has gone to the device.
    virtual void OutputIdle() = 0;
    // The reader took bytes from the input queue.
    virtual void InputTaken() { }
    // Called once from CloseHandle, port unlocked, worker ended.
    virtual void Shutdown() = 0;

    CommPort* port = nullptr;
};

class CommPort : public zq::kernel::KernelObject {
public:
    CommPort(std::unique_ptr<CommDevice> device, std::shared_ptr<std::mutex> mutex);
    ~CommPort() override;
    // Starts the worker; call once the port is registered.
    void Start();

    BOOL ClearError(DWORD* errors, COMSTAT* stat);
    BOOL Setup(DWORD inQueue, DWORD outQueue);
    BOOL GetTimeouts(COMMTIMEOUTS* t);
    BOOL SetTimeouts(const COMMTIMEOUTS& t);
    BOOL GetState(DCB* dcb);
    BOOL SetState(const DCB& dcb);
    BOOL SetMask(DWORD mask);
    BOOL GetMask(DWORD* mask);
    BOOL WaitEvent(DWORD* mask, OVERLAPPED* ov);
    BOOL Escape(DWORD func);
    BOOL Purge(DWORD flags);
    BOOL GetModemStatus(DWORD* status);
    BOOL GetRtsToggle(DWORD* how);
    BOOL Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* ov);
    BOOL Write(const void* buffer, DWORD count, DWORD* written, OVERLAPPED* ov);
    BOOL Cancel();

    DWORD Wait(DWORD timeoutMs) override;
    void OnClose() override;

    // For devices, port locked.
    std::mutex& Mutex() { return *mutex_; }
    CommDevice& Device() { return *device_; }
    bool Closing() const { return closing_; }
    const DCB& State() const { return dcb_; }
    size_t InputRoom() const;
    void DeliverInput(const uint8_t* data, size_t n);
    // Unsent bytes of the oldest pending write (empty when none).
    std::span<const uint8_t> PendingOutput() const;
    size_t PendingOutputBytes() const;
    void ConsumeOutput(size_t n);
    void ReportEvents(DWORD events);
    void ReportErrors(DWORD errors);
    // The device failed for good: requests fail with code from now on.
    void Fail(DWORD code);
    // Wakes the worker to look at the state again; any thread, any lock.
    void Wake();

private:
    struct Request {
        OVERLAPPED* ov;
        DWORD thread;
    };
    struct ReadRequest : Request {
        uint8_t* buffer;
        DWORD count;
        DWORD done = 0;
        bool hasTotal = false;
        CommTime total;
        bool hasInterval = false;
        CommTime interval;
        bool firstByteEnds = false;
    };
    struct WriteRequest : Request {
        std::vector<uint8_t> data;
        size_t done = 0;
        bool hasTotal = false;
        CommTime total;
    };
    struct WaitRequest : Request {
        DWORD* mask;
    };

    void Run();
    void Complete(const Request& r, DWORD error, DWORD bytes);
    void Begin(OVERLAPPED* ov);
    void FillReads();
    bool ReadIsDone(const ReadRequest& r) const;
    void ExpireTimeouts(CommTime now);
    CommTime NextDeadline() const;
    void AbortReads(DWORD error, bool callerOnly);
    void AbortWrites(DWORD error, bool callerOnly);
    void AbortWait(DWORD error, bool callerOnly);
    void Afterwrites();
    BOOL Synchronous(OVERLAPPED* ov, DWORD* transferred, BOOL started);

    std::unique_ptr<CommDevice> device_;
    std::shared_ptr<std::mutex> mutex_;
    zq::kernel::EventObject signalled_ { true, false };
    int wakeFd_ = -1;
    std::thread worker_;
    bool closing_ = false;
    DWORD failure_ = 0;

    DCB dcb_;
    COMMTIMEOUTS timeouts_;
    DWORD mask_ = 0;
    DWORD history_ = 0;
    DWORD errors_ = 0;
    size_t inCapacity_ = 4096;
    bool rx80Raised_ = false;
    std::vector<uint8_t> input_;
    size_t inputHead_ = 0;
    std::deque<ReadRequest> reads_;
    std::deque<WriteRequest> writes_;
    std::unique_ptr<WaitRequest> wait_;
};

// Registers a new port and starts it.
HANDLE RegisterCommPort(std::shared_ptr<CommPort> port);

} // namespace zq::serial
