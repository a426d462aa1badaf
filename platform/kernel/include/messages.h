#pragma once
// Thread message queues and registered message identifiers.
//
// A thread gets its queue the first time it calls GetMessage or PeekMessage;
// until then, and after the thread has ended, posting to it fails with
// ERROR_INVALID_THREAD_ID. Messages to a window go to the queue of the thread
// that allocated the window and reach its procedure through DispatchMessage.
#include "win32types.h"
#include "zqkernel_export.h"

#include <functional>
#include <string>

ZQKERNEL_EXPORT DWORD GetCurrentThreadId();
ZQKERNEL_EXPORT void Sleep(DWORD ms);
ZQKERNEL_EXPORT DWORD GetTickCount();

// Same name, same identifier, for the life of the process; identifiers lie in
// 0xC000..0xFFFF. Returns 0 for an empty name or when the range is used up.
ZQKERNEL_EXPORT UINT RegisterWindowMessage(const std::string& name);

ZQKERNEL_EXPORT BOOL PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
// Blocks until a message in [filterMin, filterMax] (0, 0 = any) is queued.
// Returns 0 for WM_QUIT, nonzero otherwise.
ZQKERNEL_EXPORT BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
ZQKERNEL_EXPORT BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// Calls the procedure of the message's window; 0 for thread messages.
ZQKERNEL_EXPORT LRESULT DispatchMessage(const MSG* msg);

namespace zq::kernel {

// Like GetMessage, with a time-out: TRUE with a message, FALSE on time-out.
ZQKERNEL_EXPORT BOOL GetMessageTimeout(MSG* msg, UINT filterMin, UINT filterMax, DWORD timeoutMs);

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
// A hidden window owned by the calling thread, receiving posted messages.
ZQKERNEL_EXPORT HWND AllocateMessageWindow(WindowProc proc);
ZQKERNEL_EXPORT void DeallocateMessageWindow(HWND hwnd);

} // namespace zq::kernel
// To HWND_BROADCAST: to every message window of the process (the stand-in
// for a system broadcast such as WM_DEVICECHANGE); TRUE when there was none
// or each got it.
ZQKERNEL_EXPORT BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
inline HWND const HWND_BROADCAST = reinterpret_cast<HWND>(uintptr_t(0xFFFF));
