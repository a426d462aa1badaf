#pragma once
// The default I/O thread of a component: runs its ThreadExecute once and
// releases itself when that returns.
#include "thread.h"

class TzqBaseIO;

class TzqThreadIO : public TThread {
public:
    explicit TzqThreadIO(TzqBaseIO* AIO);
    TzqBaseIO* IO;

protected:
    void Execute() override;
};
