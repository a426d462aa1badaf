#pragma once
// Kernel objects behind 32-bit handles. Every service module (events, serial
// ports, ...) derives its objects from KernelObject and registers them here,
// so one CloseHandle and one handle space serve them all.
#include "win32types.h"
#include "zqkernel_export.h"

#include <functional>
#include <memory>

namespace zq::kernel {

class ZQKERNEL_EXPORT KernelObject {
public:
    virtual ~KernelObject();
    // Called once by CloseHandle, before the handle is forgotten. Objects
    // complete or cancel work still pending on them here.
    virtual void OnClose() { }
    // Waits until the object is signalled; WAIT_OBJECT_0 or WAIT_TIMEOUT.
    // Objects that cannot be waited for answer WAIT_FAILED.
    virtual DWORD Wait(DWORD timeoutMs);
};

// Registers an object and returns its new handle (never 0 or -1).
ZQKERNEL_EXPORT HANDLE RegisterKernelObject(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null (last error ERROR_INVALID_HANDLE).
ZQKERNEL_EXPORT std::shared_ptr<KernelObject> LookupKernelObject(HANDLE h);

template <class T> std::shared_ptr<T> LookupKernelObjectAs(HANDLE h)
{
    return std::dynamic_pointer_cast<T>(LookupKernelObject(h));
}

// Runs fn once on the thread that closes h, after the object's OnClose: for
// whoever lent the handle to somebody else and must learn when it comes
// back. FALSE when h names no object.
ZQKERNEL_EXPORT BOOL NotifyHandleClosed(HANDLE h, std::function<void()> fn);

// Number of open handles, for tests that check nothing is left behind.
ZQKERNEL_EXPORT int OpenHandleCount();

} // namespace zq::kernel

ZQKERNEL_EXPORT BOOL CloseHandle(HANDLE h);
ZQKERNEL_EXPORT DWORD WaitForSingleObject(HANDLE h, DWORD timeoutMs);
