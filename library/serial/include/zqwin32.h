#pragma once
// Small wrappers over the platform's overlapped I/O: writes and reads that
// wait for their completion or only start it, cancelling pending I/O, the
// text of the last system error and the owner window of message boxes.
// None of them raises; failures leave the error code in the last error.
#include "commapi.h"
#include "zqwin32_export.h"

#include <string>

// After an overlapped call failed: waits for it when it is pending. Error
// receives the last error (or, when the wait fails, the wait's error).
ZQWIN32_EXPORT bool WaitOverlapped(HANDLE Handle, OVERLAPPED& Overlapped, DWORD& Transferred, DWORD& Error);
ZQWIN32_EXPORT bool WriteWait(HANDLE Handle, const void* Buffer, DWORD Count, OVERLAPPED& Overlapped);
// True once the write is complete or queued; never waits.
ZQWIN32_EXPORT bool WriteQueued(HANDLE Handle, const void* Buffer, DWORD Count, OVERLAPPED& Overlapped);
ZQWIN32_EXPORT bool ReadWait(HANDLE Handle, void* Buffer, DWORD Count, OVERLAPPED& Overlapped);
// False when the platform offers no CancelIo.
ZQWIN32_EXPORT bool CancelPendingIo(HANDLE Handle);
ZQWIN32_EXPORT std::string LastErrorText();
ZQWIN32_EXPORT HWND ForegroundWindow();
