#pragma once
// A light periodic timer that fires on the thread that created it. It is
// armed exactly when Enabled is true, Interval is not 0 and OnTimer is
// assigned; any change of these re-arms it and the period starts anew.
#include "zqclasses_export.h"
#include "zqcomponent.h"

#include <QTimer>

class ZQCLASSES_EXPORT TzqTimer : public QObject {
    Q_OBJECT
public:
    TzqTimer();
    ~TzqTimer() override;

    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned Value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool Value);
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(const TNotifyEvent& Value);

    void UpdateTimer();
    bool IsArmed() const { return window_.isActive(); }

protected:
    virtual void Timer();

private:
    void WndProc();
    unsigned interval_ = 1000;
    bool enabled_ = true;
    TNotifyEvent onTimer_;
    // Stands in for the hidden window and its timer number 1.
    QTimer window_;
};
