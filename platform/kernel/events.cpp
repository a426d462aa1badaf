#include "events.h"

#include "lasterror.h"

#include <chrono>

using zq::kernel::EventObject;
using zq::kernel::LookupKernelObjectAs;
using zq::kernel::RegisterKernelObject;

EventObject::EventObject(bool manualReset, bool initialState)
    : manualReset_(manualReset)
    , signalled_(initialState)
{
}

void EventObject::Set()
{
    std::lock_guard lock(mutex_);
    signalled_ = true;
    if (manualReset_)
        cond_.notify_all();
    else
        cond_.notify_one();
}

void EventObject::Reset()
{
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

void EventObject::Pulse()
{
    std::lock_guard lock(mutex_);
    // Releases the threads waiting at this moment (one for an auto-reset
    // event) and leaves the event non-signalled; with nobody waiting it is
    // lost, as on Windows.
    if (waiters_ > 0) {
        pulsePending_ = manualReset_ ? waiters_ : 1;
        ++pulses_;
        cond_.notify_all();
    }
    signalled_ = false;
}

DWORD EventObject::Wait(DWORD timeoutMs)
{
    std::unique_lock lock(mutex_);
    const uint64_t pulsesAtStart = pulses_;
    auto released = [&] { return signalled_ || (pulses_ != pulsesAtStart && pulsePending_ > 0); };
    ++waiters_;
    bool ok;
    if (timeoutMs == INFINITE) {
        cond_.wait(lock, released);
        ok = true;
    } else {
        ok = cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), released);
    }
    --waiters_;
    if (!ok)
        return WAIT_TIMEOUT;
    if (signalled_) {
        if (!manualReset_)
            signalled_ = false;
    } else {
        --pulsePending_;
    }
    return WAIT_OBJECT_0;
}

void EventObject::OnClose()
{
    // Waiters hold their own reference; closing the handle does not wake them,
    // as on Windows.
}

HANDLE CreateEvent(BOOL manualReset, BOOL initialState)
{
    return RegisterKernelObject(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
}

namespace {
template <class Fn> BOOL WithEvent(HANDLE h, Fn fn)
{
    auto event = LookupKernelObjectAs<EventObject>(h);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    fn(*event);
    return TRUE;
}
} // namespace

BOOL SetEvent(HANDLE h)
{
    return WithEvent(h, [](EventObject& e) { e.Set(); });
}

BOOL ResetEvent(HANDLE h)
{
    return WithEvent(h, [](EventObject& e) { e.Reset(); });
}

BOOL PulseEvent(HANDLE h)
{
    return WithEvent(h, [](EventObject& e) { e.Pulse(); });
}
