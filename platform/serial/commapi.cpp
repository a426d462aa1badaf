#include "commapi.h"

#include "commport_p.h"
#include "lasterror.h"

#include <atomic>

using namespace zq::serial;
using zq::kernel::LookupKernelObjectAs;

namespace {

std::shared_ptr<CommPort> Port(HANDLE h)
{
    auto port = LookupKernelObjectAs<CommPort>(h);
    if (!port)
        SetLastError(ERROR_INVALID_HANDLE);
    return port;
}

template <class Fn> BOOL WithPort(HANDLE h, Fn fn)
{
    auto port = Port(h);
    return port ? fn(*port) : FALSE;
}

// The blocking form of an overlapped call: a private request block and event.
template <class Fn> BOOL Blocking(HANDLE h, DWORD* transferred, Fn start)
{
    OVERLAPPED ov;
    ov.hEvent = CreateEvent(TRUE, FALSE);
    BOOL ok = start(&ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = GetOverlappedResult(h, &ov, transferred, TRUE);
    else if (ok && transferred)
        *transferred = ov.InternalHigh;
    const DWORD error = GetLastError();
    CloseHandle(ov.hEvent);
    SetLastError(error);
    return ok;
}

} // namespace

BOOL ClearCommError(HANDLE h, DWORD* errors, COMSTAT* stat)
{
    return WithPort(h, [&](CommPort& p) { return p.ClearError(errors, stat); });
}

BOOL SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue)
{
    return WithPort(h, [&](CommPort& p) { return p.Setup(inQueue, outQueue); });
}

BOOL GetCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts)
{
    if (!timeouts) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](CommPort& p) { return p.GetTimeouts(timeouts); });
}

BOOL SetCommTimeouts(HANDLE h, const COMMTIMEOUTS* timeouts)
{
    if (!timeouts) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](CommPort& p) { return p.SetTimeouts(*timeouts); });
}

BOOL GetCommState(HANDLE h, DCB* dcb)
{
    if (!dcb) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](CommPort& p) { return p.GetState(dcb); });
}

BOOL SetCommState(HANDLE h, const DCB* dcb)
{
    if (!dcb) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](CommPort& p) { return p.SetState(*dcb); });
}

BOOL SetCommMask(HANDLE h, DWORD mask)
{
    return WithPort(h, [&](CommPort& p) { return p.SetMask(mask); });
}

BOOL GetCommMask(HANDLE h, DWORD* mask)
{
    if (!mask) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](CommPort& p) { return p.GetMask(mask); });
}

BOOL WaitCommEvent(HANDLE h, DWORD* mask, OVERLAPPED* ov)
{
    auto port = Port(h);
    if (!port)
        return FALSE;
    if (ov)
        return port->WaitEvent(mask, ov);
    return Blocking(h, nullptr, [&](OVERLAPPED* own) { return port->WaitEvent(mask, own); });
}

BOOL EscapeCommFunction(HANDLE h, DWORD func)
{
    return WithPort(h, [&](CommPort& p) { return p.Escape(func); });
}

BOOL PurgeComm(HANDLE h, DWORD flags)
{
    return WithPort(h, [&](CommPort& p) { return p.Purge(flags); });
}

BOOL zq::serial::GetCommRtsToggle(HANDLE h, DWORD* how)
{
    if (!how) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](CommPort& p) { return p.GetRtsToggle(how); });
}

BOOL GetCommModemStatus(HANDLE h, DWORD* status)
{
    if (!status) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](CommPort& p) { return p.GetModemStatus(status); });
}

BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read, OVERLAPPED* ov)
{
    auto port = Port(h);
    if (!port)
        return FALSE;
    if (ov)
        return port->Read(buffer, count, read, ov);
    return Blocking(h, read, [&](OVERLAPPED* own) { return port->Read(buffer, count, nullptr, own); });
}

BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* written, OVERLAPPED* ov)
{
    auto port = Port(h);
    if (!port)
        return FALSE;
    if (ov)
        return port->Write(buffer, count, written, ov);
    return Blocking(h, written, [&](OVERLAPPED* own) { return port->Write(buffer, count, nullptr, own); });
}

BOOL GetOverlappedResult(HANDLE h, OVERLAPPED* ov, DWORD* transferred, BOOL wait)
{
    if (!ov) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::atomic_ref<DWORD> status(ov->Internal);
    while (status.load(std::memory_order_acquire) == STATUS_PENDING) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        // An auto-reset event may carry a stale signal: wait until the block
        // itself says the operation is over.
        if (WaitForSingleObject(ov->hEvent ? ov->hEvent : h, INFINITE) == WAIT_FAILED
            && status.load(std::memory_order_acquire) == STATUS_PENDING)
            return FALSE;
    }
    if (transferred)
        *transferred = ov->InternalHigh;
    const DWORD error = status.load(std::memory_order_acquire);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL CancelIo(HANDLE h)
{
    return WithPort(h, [&](CommPort& p) { return p.Cancel(); });
}
