#include "zqthreadio.h"

#include "zqbaseio.h"

TzqThreadIO::TzqThreadIO(TzqBaseIO* AIO)
    : TThread(true)
    , IO(AIO)
{
    FreeOnTerminate = true;
    // The body may end and free this object before the constructor's caller
    // runs again: the component gets the control block while it still can.
    AIO->ThreadControl_ = Control();
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
