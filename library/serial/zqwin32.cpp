#include "zqwin32.h"

#include "errorreport.h"
#include "lasterror.h"

#include <cstring>

namespace {

using CancelIoFunc = BOOL (*)(HANDLE);
// Bound at each call, as the entry point may come and go with its library.
CancelIoFunc CancelIoEntry = nullptr;

void ClearRequest(OVERLAPPED& Overlapped)
{
    Overlapped.Internal = 0;
    Overlapped.InternalHigh = 0;
    Overlapped.Offset = 0;
    Overlapped.OffsetHigh = 0;
}

} // namespace

bool WaitOverlapped(HANDLE Handle, OVERLAPPED& Overlapped, DWORD& Transferred, DWORD& Error)
{
    Error = GetLastError();
    if (Error != ERROR_IO_PENDING)
        return false;
    if (GetOverlappedResult(Handle, &Overlapped, &Transferred, TRUE))
        return true;
    Error = GetLastError();
    return false;
}

bool WriteWait(HANDLE Handle, const void* Buffer, DWORD Count, OVERLAPPED& Overlapped)
{
    ClearRequest(Overlapped);
    DWORD Written = 0;
    if (WriteFile(Handle, Buffer, Count, &Written, &Overlapped))
        return true;
    DWORD Error;
    return WaitOverlapped(Handle, Overlapped, Written, Error);
}

bool WriteQueued(HANDLE Handle, const void* Buffer, DWORD Count, OVERLAPPED& Overlapped)
{
    ClearRequest(Overlapped);
    DWORD Written = 0;
    if (WriteFile(Handle, Buffer, Count, &Written, &Overlapped))
        return true;
    return GetLastError() == ERROR_IO_PENDING;
}

bool ReadWait(HANDLE Handle, void* Buffer, DWORD Count, OVERLAPPED& Overlapped)
{
    ClearRequest(Overlapped);
    DWORD Read = 0;
    if (ReadFile(Handle, Buffer, Count, &Read, &Overlapped))
        return true;
    DWORD Error;
    return WaitOverlapped(Handle, Overlapped, Read, Error);
}

bool CancelPendingIo(HANDLE Handle)
{
    CancelIoEntry = &::CancelIo;
    if (!CancelIoEntry)
        return false;
    return CancelIoEntry(Handle) != FALSE;
}

std::string LastErrorText()
{
    return SysErrorMessage(GetLastError());
}

HWND ForegroundWindow()
{
    return GetForegroundWindow();
}
