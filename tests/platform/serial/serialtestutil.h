#pragma once
// Helpers shared by the serial layer's tests.
#include "commapi.h"
#include "commqueues.h"
#include "events.h"
#include "lasterror.h"
#include "threadcount.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace serialtest {

// Waits for a condition that changes on other threads. The limit only turns
// a hang into a failure.
inline bool WaitFor(const std::function<bool()>& pred, int limitMs = 30000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

using zqtest::QueuedIn;
using zqtest::QueuedOut;
using zqtest::ThreadCount;

// An overlapped event wait with its own event object.
struct EventWait {
    explicit EventWait(HANDLE port)
        : port(port)
    {
        ov.hEvent = CreateEvent(TRUE, FALSE);
    }
    ~EventWait() { CloseHandle(ov.hEvent); }
    // TRUE when completed at once; FALSE with ERROR_IO_PENDING when pending.
    BOOL Start()
    {
        mask = 0xDEAD;
        return WaitCommEvent(port, &mask, &ov);
    }
    // Waits for the pending wait; returns its error code.
    DWORD Finish()
    {
        DWORD n;
        return GetOverlappedResult(port, &ov, &n, TRUE) ? ERROR_SUCCESS : GetLastError();
    }
    // Starts a wait and returns the events it reports.
    DWORD Next()
    {
        if (Start())
            return mask;
        if (GetLastError() != ERROR_IO_PENDING)
            return 0;
        Finish();
        return mask;
    }
    HANDLE port;
    OVERLAPPED ov;
    DWORD mask = 0;
};

} // namespace serialtest
