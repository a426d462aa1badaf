#include "commport_p.h"

#include "lasterror.h"
#include "messages.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include <sys/eventfd.h>
#include <unistd.h>

namespace zq::serial {

namespace {

constexpr DWORD kMax = 0xFFFFFFFFu;

CommTime After(CommTime now, uint64_t ms)
{
    return now + std::chrono::milliseconds(ms);
}

} // namespace

CommPort::CommPort(std::unique_ptr<CommDevice> device, std::shared_ptr<std::mutex> mutex)
    : device_(std::move(device))
    , mutex_(std::move(mutex))
{
    device_->port = this;
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    dcb_.DCBlength = sizeof(DCB);
    dcb_.BaudRate = 9600;
    dcb_.ByteSize = 8;
    dcb_.Flags = DCB_fBinary;
    device_->InitialState(dcb_);
}

CommPort::~CommPort()
{
    if (worker_.joinable()) {
        {
            std::lock_guard lock(*mutex_);
            closing_ = true;
        }
        Wake();
        worker_.join();
    }
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

void CommPort::Start()
{
    worker_ = std::thread(&CommPort::Run, this);
}

void CommPort::Wake()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

// ---- completion -----------------------------------------------------------

void CommPort::Begin(OVERLAPPED* ov)
{
    ov->InternalHigh = 0;
    std::atomic_ref<DWORD>(ov->Internal).store(STATUS_PENDING, std::memory_order_release);
    if (ov->hEvent)
        ResetEvent(ov->hEvent);
    else
        signalled_.Reset();
}

void CommPort::Complete(const Request& r, DWORD error, DWORD bytes)
{
    // The owner may free the block the moment Internal changes: read what is
    // still needed from it first.
    const HANDLE event = r.ov->hEvent;
    r.ov->InternalHigh = bytes;
    std::atomic_ref<DWORD>(r.ov->Internal).store(error, std::memory_order_release);
    if (event)
        SetEvent(event);
    else
        signalled_.Set();
}

DWORD CommPort::Wait(DWORD timeoutMs)
{
    return signalled_.Wait(timeoutMs);
}

// ---- input ----------------------------------------------------------------

size_t CommPort::InputRoom() const
{
    const size_t queued = input_.size() - inputHead_;
    size_t room = inCapacity_ > queued ? inCapacity_ - queued : 0;
    for (const auto& r : reads_)
        room += r.count - r.done;
    return room;
}

bool CommPort::ReadIsDone(const ReadRequest& r) const
{
    return r.done == r.count || (r.firstByteEnds && r.done > 0);
}

void CommPort::FillReads()
{
    bool took = false;
    while (!reads_.empty() && inputHead_ < input_.size()) {
        ReadRequest& r = reads_.front();
        const size_t n = std::min<size_t>(r.count - r.done, input_.size() - inputHead_);
        std::memcpy(r.buffer + r.done, input_.data() + inputHead_, n);
        inputHead_ += n;
        r.done += static_cast<DWORD>(n);
        took = true;
        if (timeouts_.ReadIntervalTimeout != 0 && timeouts_.ReadIntervalTimeout != kMax) {
            r.hasInterval = true;
            r.interval = After(CommClock::now(), timeouts_.ReadIntervalTimeout);
        }
        if (!ReadIsDone(r))
            break;
        Complete(r, ERROR_SUCCESS, r.done);
        reads_.pop_front();
    }
    if (inputHead_ == input_.size()) {
        input_.clear();
        inputHead_ = 0;
    }
    if (took) {
        device_->InputTaken();
        Wake(); // room again: the worker may read from the device
    }
}

void CommPort::DeliverInput(const uint8_t* data, size_t n)
{
    if (closing_ || n == 0)
        return;
    const size_t room = InputRoom();
    if (n > room) {
        errors_ |= CE_RXOVER;
        n = room;
    }
    if (inputHead_ > 0 && inputHead_ * 2 > input_.size()) {
        input_.erase(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(inputHead_));
        inputHead_ = 0;
    }
    input_.insert(input_.end(), data, data + n);
    FillReads();
    DWORD events = EV_RXCHAR;
    if (std::memchr(data, static_cast<unsigned char>(dcb_.EvtChar), n))
        events |= EV_RXFLAG;
    const size_t queued = input_.size() - inputHead_;
    if (queued * 10 >= inCapacity_ * 8) {
        if (!rx80Raised_)
            events |= EV_RX80FULL;
        rx80Raised_ = true;
    }
    ReportEvents(events);
    Wake();
}

// ---- output ---------------------------------------------------------------

std::span<const uint8_t> CommPort::PendingOutput() const
{
    if (writes_.empty())
        return {};
    const WriteRequest& w = writes_.front();
    return { w.data.data() + w.done, w.data.size() - w.done };
}

size_t CommPort::PendingOutputBytes() const
{
    size_t n = 0;
    for (const auto& w : writes_)
        n += w.data.size() - w.done;
    return n;
}

void CommPort::ConsumeOutput(size_t n)
{
    while (n > 0 && !writes_.empty()) {
        WriteRequest& w = writes_.front();
        const size_t take = std::min(n, w.data.size() - w.done);
        w.done += take;
        n -= take;
        if (w.done < w.data.size())
            break;
        Complete(w, ERROR_SUCCESS, static_cast<DWORD>(w.data.size()));
        writes_.pop_front();
    }
    Afterwrites();
}

void CommPort::Afterwrites()
{
    if (writes_.empty())
        device_->OutputIdle();
    else
        Wake(); // the next write's time-out starts now
}

// ---- events and errors ----------------------------------------------------

void CommPort::ReportEvents(DWORD events)
{
    events &= mask_;
    if (!events)
        return;
    if (wait_) {
        *wait_->mask = events;
        Complete(*wait_, ERROR_SUCCESS, 0);
        wait_.reset();
    } else {
        history_ |= events;
    }
}

void CommPort::ReportErrors(DWORD errors)
{
    errors_ |= errors;
    DWORD events = 0;
    if (errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY))
        events |= EV_ERR;
    if (errors & CE_BREAK)
        events |= EV_BREAK;
    ReportEvents(events);
}

void CommPort::Fail(DWORD code)
{
    if (failure_)
        return;
    failure_ = code;
    // Reads keep what they already got; with nothing they fail.
    for (auto& r : reads_)
        Complete(r, r.done ? ERROR_SUCCESS : code, r.done);
    reads_.clear();
    AbortWrites(code, false);
    AbortWait(code, false);
}

void CommPort::AbortReads(DWORD error, bool callerOnly)
{
    const DWORD me = GetCurrentThreadId();
    std::erase_if(reads_, [&](const ReadRequest& r) {
        if (callerOnly && r.thread != me)
            return false;
        Complete(r, error, r.done);
        return true;
    });
}

void CommPort::AbortWrites(DWORD error, bool callerOnly)
{
    const DWORD me = GetCurrentThreadId();
    const bool had = !writes_.empty();
    std::erase_if(writes_, [&](const WriteRequest& w) {
        if (callerOnly && w.thread != me)
            return false;
        Complete(w, error, static_cast<DWORD>(w.done));
        return true;
    });
    if (had && !writes_.empty())
        Wake();
}

void CommPort::AbortWait(DWORD error, bool callerOnly)
{
    if (!wait_ || (callerOnly && wait_->thread != GetCurrentThreadId()))
        return;
    *wait_->mask = 0;
    Complete(*wait_, error, 0);
    wait_.reset();
}

// ---- time-outs and the worker ---------------------------------------------

void CommPort::ExpireTimeouts(CommTime now)
{
    std::erase_if(reads_, [&](const ReadRequest& r) {
        const bool expired = (r.hasTotal && r.total <= now) || (r.hasInterval && r.interval <= now);
        if (expired)
            Complete(r, ERROR_SUCCESS, r.done);
        return expired;
    });
    if (writes_.empty())
        return;
    WriteRequest& w = writes_.front();
    if (w.total == CommTime {}) {
        // A write's time-out runs from the moment it reaches the line.
        const uint64_t ms = uint64_t(timeouts_.WriteTotalTimeoutMultiplier) * w.data.size()
            + timeouts_.WriteTotalTimeoutConstant;
        w.hasTotal = ms != 0;
        w.total = w.hasTotal ? After(now, ms) : CommTime::max();
    } else if (w.hasTotal && w.total <= now) {
        Complete(w, ERROR_SUCCESS, static_cast<DWORD>(w.done));
        writes_.pop_front();
        Afterwrites();
    }
}

CommTime CommPort::NextDeadline() const
{
    CommTime next = CommTime::max();
    for (const auto& r : reads_) {
        if (r.hasTotal)
            next = std::min(next, r.total);
        if (r.hasInterval)
            next = std::min(next, r.interval);
    }
    if (!writes_.empty() && writes_.front().hasTotal)
        next = std::min(next, writes_.front().total);
    return next;
}

void CommPort::Run()
{
    std::vector<pollfd> fds;
    std::unique_lock lock(*mutex_);
    while (!closing_) {
        const CommTime now = CommClock::now();
        ExpireTimeouts(now);
        device_->Serve(now);
        CommTime deadline = NextDeadline();
        fds.clear();
        fds.push_back({ wakeFd_, POLLIN, 0 });
        device_->Prepare(fds, deadline);
        lock.unlock();

        timespec ts {};
        timespec* timeout = nullptr;
        if (deadline != CommTime::max()) {
            const auto left = std::max(deadline - CommClock::now(), CommClock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = ns / 1000000000;
            ts.tv_nsec = ns % 1000000000;
            timeout = &ts;
        }
        const int rc = ppoll(fds.data(), fds.size(), timeout, nullptr);
        if (rc > 0 && (fds[0].revents & POLLIN)) {
            uint64_t v;
            [[maybe_unused]] ssize_t n = read(wakeFd_, &v, sizeof v);
        }

        lock.lock();
        if (rc > 0 && !closing_)
            device_->AfterPoll(fds.data() + 1, fds.size() - 1);
    }
}

// ---- the API --------------------------------------------------------------

#define PORT_GUARD()                                                                                         \
    std::lock_guard lock(*mutex_);                                                                           \
    if (closing_) {                                                                                          \
        SetLastError(ERROR_INVALID_HANDLE);                                                                  \
        return FALSE;                                                                                        \
    }

BOOL CommPort::ClearError(DWORD* errors, COMSTAT* stat)
{
    PORT_GUARD();
    if (errors)
        *errors = errors_;
    errors_ = 0;
    if (stat) {
        stat->Flags = device_->HoldFlags();
        stat->cbInQue = static_cast<DWORD>(input_.size() - inputHead_);
        stat->cbOutQue = static_cast<DWORD>(PendingOutputBytes() + device_->DeviceOutQueue());
    }
    return TRUE;
}

BOOL CommPort::Setup(DWORD inQueue, DWORD)
{
    PORT_GUARD();
    if (inQueue)
        inCapacity_ = inQueue;
    Wake();
    return TRUE;
}

BOOL CommPort::GetTimeouts(COMMTIMEOUTS* t)
{
    PORT_GUARD();
    *t = timeouts_;
    return TRUE;
}

BOOL CommPort::SetTimeouts(const COMMTIMEOUTS& t)
{
    PORT_GUARD();
    timeouts_ = t;
    return TRUE;
}

BOOL CommPort::GetState(DCB* dcb)
{
    PORT_GUARD();
    *dcb = dcb_;
    return TRUE;
}

BOOL CommPort::SetState(const DCB& dcb)
{
    PORT_GUARD();
    DCB merged = dcb;
    merged.DCBlength = sizeof(DCB);
    // A block without line settings leaves the ones the port has.
    if (merged.BaudRate == 0)
        merged.BaudRate = dcb_.BaudRate;
    if (merged.ByteSize == 0) {
        merged.ByteSize = dcb_.ByteSize;
        merged.Parity = dcb_.Parity;
        merged.StopBits = dcb_.StopBits;
    }
    if (merged.ByteSize < 5 || merged.ByteSize > 8 || merged.Parity > SPACEPARITY
        || merged.StopBits > TWOSTOPBITS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!device_->ApplyState(merged))
        return FALSE;
    dcb_ = merged;
    Wake();
    return TRUE;
}

BOOL CommPort::SetMask(DWORD mask)
{
    PORT_GUARD();
    AbortWait(ERROR_SUCCESS, false);
    mask_ = mask;
    history_ = 0;
    return TRUE;
}

BOOL CommPort::GetMask(DWORD* mask)
{
    PORT_GUARD();
    *mask = mask_;
    return TRUE;
}

BOOL CommPort::WaitEvent(DWORD* mask, OVERLAPPED* ov)
{
    PORT_GUARD();
    if (failure_) {
        SetLastError(failure_);
        return FALSE;
    }
    if (mask_ == 0 || wait_ || !mask) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Begin(ov);
    wait_ = std::make_unique<WaitRequest>();
    wait_->ov = ov;
    wait_->thread = GetCurrentThreadId();
    wait_->mask = mask;
    if (history_ & mask_) {
        const DWORD events = history_ & mask_;
        history_ = 0;
        ReportEvents(events);
        return TRUE;
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL CommPort::Escape(DWORD func)
{
    PORT_GUARD();
    switch (func) {
    case SETXOFF:
    case SETXON:
    case SETRTS:
    case CLRRTS:
    case SETDTR:
    case CLRDTR:
    case SETBREAK:
    case CLRBREAK:
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!device_->Escape(func))
        return FALSE;
    Wake();
    return TRUE;
}

BOOL CommPort::Purge(DWORD flags)
{
    PORT_GUARD();
    if (flags & ~DWORD(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (flags & PURGE_TXABORT)
        AbortWrites(ERROR_OPERATION_ABORTED, false);
    if (flags & PURGE_RXABORT)
        AbortReads(ERROR_OPERATION_ABORTED, false);
    if (flags & PURGE_TXCLEAR)
        device_->PurgeOutput();
    if (flags & PURGE_RXCLEAR) {
        input_.clear();
        inputHead_ = 0;
        rx80Raised_ = false;
        device_->PurgeInput();
        device_->InputTaken();
        Wake();
    }
    Wake();
    return TRUE;
}

BOOL CommPort::GetRtsToggle(DWORD* how)
{
    PORT_GUARD();
    *how = device_->RtsToggle();
    return TRUE;
}

BOOL CommPort::GetModemStatus(DWORD* status)
{
    PORT_GUARD();
    *status = device_->ModemStatus();
    return TRUE;
}

BOOL CommPort::Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* ov)
{
    PORT_GUARD();
    if (read)
        *read = 0;
    Begin(ov);
    ReadRequest r;
    r.ov = ov;
    r.thread = GetCurrentThreadId();
    r.buffer = static_cast<uint8_t*>(buffer);
    r.count = count;

    const COMMTIMEOUTS& t = timeouts_;
    const CommTime now = CommClock::now();
    bool immediate = count == 0;
    if (t.ReadIntervalTimeout == kMax && t.ReadTotalTimeoutMultiplier == 0
        && t.ReadTotalTimeoutConstant == 0) {
        immediate = true;
    } else if (t.ReadIntervalTimeout == kMax && t.ReadTotalTimeoutMultiplier == kMax
        && t.ReadTotalTimeoutConstant != kMax) {
        r.firstByteEnds = true;
        r.hasTotal = t.ReadTotalTimeoutConstant != 0;
        r.total = After(now, t.ReadTotalTimeoutConstant);
        immediate = r.total <= now;
    } else if (t.ReadTotalTimeoutMultiplier || t.ReadTotalTimeoutConstant) {
        r.hasTotal = true;
        r.total = After(now, uint64_t(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant);
    }

    reads_.push_back(r);
    FillReads();
    const bool filled = reads_.empty() || reads_.back().ov != ov;
    if (!filled) {
        ReadRequest& mine = reads_.back();
        const bool failed = failure_ && mine.done == 0 && !immediate;
        if (!immediate && !failed) {
            Wake();
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        Complete(mine, failed ? failure_ : ERROR_SUCCESS, mine.done);
        reads_.pop_back();
        if (failed) {
            SetLastError(failure_);
            return FALSE;
        }
    }
    if (read)
        *read = ov->InternalHigh;
    return TRUE;
}

BOOL CommPort::Write(const void* buffer, DWORD count, DWORD* written, OVERLAPPED* ov)
{
    PORT_GUARD();
    if (written)
        *written = 0;
    Begin(ov);
    WriteRequest w;
    w.ov = ov;
    w.thread = GetCurrentThreadId();
    if (failure_) {
        Complete(w, failure_, 0);
        SetLastError(failure_);
        return FALSE;
    }
    if (count == 0) {
        Complete(w, ERROR_SUCCESS, 0);
        return TRUE;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    w.data.assign(bytes, bytes + count);
    writes_.push_back(std::move(w));
    Wake();
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL CommPort::Cancel()
{
    PORT_GUARD();
    AbortReads(ERROR_OPERATION_ABORTED, true);
    AbortWrites(ERROR_OPERATION_ABORTED, true);
    AbortWait(ERROR_OPERATION_ABORTED, true);
    Wake();
    return TRUE;
}

void CommPort::OnClose()
{
    {
        std::lock_guard lock(*mutex_);
        closing_ = true;
        AbortReads(ERROR_OPERATION_ABORTED, false);
        AbortWrites(ERROR_OPERATION_ABORTED, false);
        AbortWait(ERROR_OPERATION_ABORTED, false);
    }
    Wake();
    if (worker_.joinable())
        worker_.join();
    device_->Shutdown();
}

HANDLE RegisterCommPort(std::shared_ptr<CommPort> port)
{
    CommPort* raw = port.get();
    const HANDLE h = zq::kernel::RegisterKernelObject(std::move(port));
    raw->Start();
    return h;
}

} // namespace zq::serial
