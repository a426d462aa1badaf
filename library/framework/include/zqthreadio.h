#pragma once
// The default I/O thread of a component: runs its ThreadExecute once and
// releases itself when that returns.
#include "thread.h"
#include "zqclasses_export.h"

class TzqBaseIO;

class ZQCLASSES_EXPORT TzqThreadIO : public TThread {
public:
    explicit TzqThreadIO(TzqBaseIO* AIO);
    TzqBaseIO* IO;

protected:
    void Execute() override;
};
