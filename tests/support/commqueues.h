#pragma once
// How many bytes a comm port holds in its queues, as the port reports them.
// Tests using it link zqserial.
#include "commapi.h"

namespace zqtest {

inline DWORD QueuedIn(HANDLE h)
{
    COMSTAT st;
    DWORD errors = 0;
    return ClearCommError(h, &errors, &st) ? st.cbInQue : 0;
}

inline DWORD QueuedOut(HANDLE h)
{
    COMSTAT st;
    DWORD errors = 0;
    return ClearCommError(h, &errors, &st) ? st.cbOutQue : 0;
}

} // namespace zqtest
