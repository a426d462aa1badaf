#include "zqthreadio.h"

#include "zqbaseio.h"

TzqThreadIO::TzqThreadIO(TzqBaseIO* AIO)
    : TThread(true)
    , IO(AIO)
{
    FreeOnTerminate = true;
    Start();
}

void TzqThreadIO::Execute()
{
    try {
        IO->ThreadExecute(this);
    } catch (...) {
        // The thread ends quietly; the component reports its own failures.
    }
}
