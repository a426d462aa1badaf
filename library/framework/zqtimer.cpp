#include "zqtimer.h"

TzqTimer::TzqTimer()
{
    enabled_ = true;
    interval_ = 1000;
    window_.setTimerType(Qt::PreciseTimer);
    connect(&window_, &QTimer::timeout, this, &TzqTimer::WndProc);
}

TzqTimer::~TzqTimer()
{
    enabled_ = false;
    UpdateTimer();
}

void TzqTimer::UpdateTimer()
{
    window_.stop();
    if (interval_ != 0 && enabled_ && onTimer_)
        window_.start(static_cast<int>(interval_));
}

void TzqTimer::SetEnabled(bool Value)
{
    if (Value == enabled_)
        return;
    enabled_ = Value;
    UpdateTimer();
}

void TzqTimer::SetInterval(unsigned Value)
{
    if (Value == interval_)
        return;
    interval_ = Value;
    UpdateTimer();
}

void TzqTimer::SetOnTimer(const TNotifyEvent& Value)
{
    onTimer_ = Value;
    UpdateTimer();
}

void TzqTimer::WndProc()
{
    try {
        Timer();
    } catch (...) {
        // A failing handler does not stop the timer.
    }
}

void TzqTimer::Timer()
{
    if (enabled_ && onTimer_)
        onTimer_(this);
}
