// One side of an in-process port pair: its output leaves at the baud rate
// set in its state and lands in the other side's input queue.
#include "commpair.h"

#include "commport_p.h"
#include "lasterror.h"

#include <algorithm>

using namespace zq::serial;
using zq::kernel::LookupKernelObjectAs;

namespace {

struct PairLink {
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    CommPort* side[2] = { nullptr, nullptr };
};

class PairDevice : public CommDevice {
public:
    PairDevice(std::shared_ptr<PairLink> link, int index)
        : link_(std::move(link))
        , index_(index)
    {
    }

    void InitialState(DCB& dcb) override
    {
        dcb.BaudRate = 115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
    }

    bool ApplyState(const DCB& dcb) override
    {
        if (dcb.BaudRate < 10) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        switch (zq::serial::DcbDtrControl(dcb)) {
        case DTR_CONTROL_DISABLE:
            outputLines_ &= ~zq::serial::PAIR_DTR_ON;
            break;
        case DTR_CONTROL_ENABLE:
            outputLines_ |= zq::serial::PAIR_DTR_ON;
            break;
        }
        const bool toggle = zq::serial::DcbRtsControl(dcb) == RTS_CONTROL_TOGGLE;
        if (toggling_ && !toggle)
            SetToggledRts(false);
        toggling_ = toggle;
        switch (zq::serial::DcbRtsControl(dcb)) {
        case RTS_CONTROL_DISABLE:
            outputLines_ &= ~zq::serial::PAIR_RTS_ON;
            break;
        case RTS_CONTROL_ENABLE:
            outputLines_ |= zq::serial::PAIR_RTS_ON;
            break;
        case RTS_CONTROL_TOGGLE:
            SetToggledRts(port->PendingOutputBytes() > 0);
            break;
        }
        return true;
    }

    DWORD ModemStatus() override { return inputLines_; }

    bool Escape(DWORD func) override
    {
        switch (func) {
        case SETRTS:
            outputLines_ |= zq::serial::PAIR_RTS_ON;
            break;
        case CLRRTS:
            outputLines_ &= ~zq::serial::PAIR_RTS_ON;
            break;
        case SETDTR:
            outputLines_ |= zq::serial::PAIR_DTR_ON;
            break;
        case CLRDTR:
            outputLines_ &= ~zq::serial::PAIR_DTR_ON;
            break;
        case SETBREAK:
            outputLines_ |= zq::serial::PAIR_BREAK_ON;
            if (CommPort* peer = Peer())
                peer->ReportErrors(CE_BREAK);
            break;
        case CLRBREAK:
            outputLines_ &= ~zq::serial::PAIR_BREAK_ON;
            break;
        default: // XON/XOFF are not simulated
            break;
        }
        return true;
    }

    DWORD RtsToggle() override
    {
        return toggling_ ? zq::serial::RTS_TOGGLE_BY_WRITE : zq::serial::RTS_TOGGLE_OFF;
    }

    DWORD HoldFlags() override { return CtsHeld() && port->PendingOutputBytes() ? COMSTAT_fCtsHold : 0; }

    void Serve(CommTime now) override
    {
        if (toggling_ && port->PendingOutputBytes() > 0)
            SetToggledRts(true); // before the first bit leaves
        if (port->PendingOutputBytes() == 0 || CtsHeld() || (outputLines_ & zq::serial::PAIR_BREAK_ON)) {
            sending_ = false;
            return;
        }
        if (!sending_) {
            sending_ = true;
            sentUntil_ = now;
            return;
        }
        const double due = std::chrono::duration<double>(now - sentUntil_).count() * BytesPerSecond();
        size_t n = static_cast<size_t>(due);
        CommPort* peer = Peer();
        const bool peerFull = peer && peer->InputRoom() < n;
        if (peer)
            n = std::min(n, peer->InputRoom());
        if (n == 0) {
            if (peerFull)
                sentUntil_ = now; // the line waits; no credit builds up meanwhile
            return;
        }
        sentUntil_ = peerFull ? now
                              : sentUntil_
                + std::chrono::duration_cast<CommClock::duration>(ByteTime() * static_cast<double>(n));
        while (n > 0) {
            auto chunk = port->PendingOutput();
            if (chunk.empty())
                break;
            const size_t take = std::min(n, chunk.size());
            if (peer)
                peer->DeliverInput(chunk.data(), take);
            port->ConsumeOutput(take);
            n -= take;
        }
    }

    void Prepare(std::vector<pollfd>&, CommTime& deadline) override
    {
        if (!sending_ || port->PendingOutputBytes() == 0)
            return;
        CommPort* peer = Peer();
        if (peer && peer->InputRoom() == 0)
            return; // the reader wakes us when it takes bytes
        // Whole milliseconds at least, so a fast line is served in chunks.
        const auto step = std::max<CommClock::duration>(
            std::chrono::duration_cast<CommClock::duration>(ByteTime()), std::chrono::milliseconds(1));
        deadline = std::min(deadline, sentUntil_ + step);
    }

    void OutputIdle() override
    {
        sending_ = false;
        // Bytes leave the pair's line as they are consumed, so the
        // transmitter is empty now.
        if (toggling_)
            SetToggledRts(false);
        port->ReportEvents(EV_TXEMPTY);
    }

    void InputTaken() override
    {
        if (CommPort* peer = Peer())
            peer->Wake();
    }

    void Shutdown() override
    {
        std::lock_guard lock(*link_->mutex);
        link_->side[index_] = nullptr;
    }

    // The API of the pair, port locked.
    void SetInputLines(DWORD mask, DWORD values)
    {
        const DWORD lines = (inputLines_ & ~mask) | (values & mask);
        const DWORD changed = lines ^ inputLines_;
        inputLines_ = lines;
        DWORD events = 0;
        if (changed & MS_CTS_ON)
            events |= EV_CTS;
        if (changed & MS_DSR_ON)
            events |= EV_DSR;
        if (changed & MS_RLSD_ON)
            events |= EV_RLSD;
        if ((changed & MS_RING_ON) && (lines & MS_RING_ON))
            events |= EV_RING;
        port->ReportEvents(events);
        port->Wake();
    }
    DWORD OutputLines() const { return outputLines_; }

private:
    // RTS as the toggle drives it; through the cable it is the peer's CTS.
    void SetToggledRts(bool on)
    {
        const DWORD lines
            = on ? (outputLines_ | zq::serial::PAIR_RTS_ON) : (outputLines_ & ~zq::serial::PAIR_RTS_ON);
        if (lines == outputLines_)
            return;
        outputLines_ = lines;
        if (CommPort* peer = Peer())
            static_cast<PairDevice&>(peer->Device()).SetInputLines(MS_CTS_ON, on ? MS_CTS_ON : 0);
    }

    CommPort* Peer() const
    {
        CommPort* peer = link_->side[1 - index_];
        return peer && !peer->Closing() ? peer : nullptr;
    }
    bool CtsHeld() const { return (port->State().Flags & DCB_fOutxCtsFlow) && !(inputLines_ & MS_CTS_ON); }
    double BytesPerSecond() const { return port->State().BaudRate / 10.0; }
    std::chrono::duration<double> ByteTime() const
    {
        return std::chrono::duration<double>(1.0 / BytesPerSecond());
    }

    std::shared_ptr<PairLink> link_;
    const int index_;
    DWORD inputLines_ = 0;
    DWORD outputLines_ = 0;
    bool sending_ = false;
    bool toggling_ = false; // RTS_CONTROL_TOGGLE
    CommTime sentUntil_;
};

template <class Fn> BOOL WithPairSide(HANDLE h, Fn fn)
{
    auto port = LookupKernelObjectAs<CommPort>(h);
    auto* device = port ? dynamic_cast<PairDevice*>(&port->Device()) : nullptr;
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(port->Mutex());
    if (port->Closing()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    fn(*port, *device);
    return TRUE;
}

} // namespace

BOOL zq::serial::CreateCommPortPair(HANDLE* first, HANDLE* second)
{
    if (!first || !second) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto link = std::make_shared<PairLink>();
    auto a = std::make_shared<CommPort>(std::make_unique<PairDevice>(link, 0), link->mutex);
    auto b = std::make_shared<CommPort>(std::make_unique<PairDevice>(link, 1), link->mutex);
    link->side[0] = a.get();
    link->side[1] = b.get();
    *first = RegisterCommPort(std::move(a));
    *second = RegisterCommPort(std::move(b));
    return TRUE;
}

BOOL zq::serial::SetCommPairModemStatus(HANDLE h, DWORD mask, DWORD values)
{
    mask &= MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON;
    return WithPairSide(h, [&](CommPort&, PairDevice& d) { d.SetInputLines(mask, values); });
}

BOOL zq::serial::InjectCommErrors(HANDLE h, DWORD errors)
{
    return WithPairSide(h, [&](CommPort& p, PairDevice&) { p.ReportErrors(errors); });
}

BOOL zq::serial::GetCommPairOutputLines(HANDLE h, DWORD* lines)
{
    if (!lines) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPairSide(h, [&](CommPort&, PairDevice& d) { *lines = d.OutputLines(); });
}
