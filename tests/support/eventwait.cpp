#include "eventwait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

namespace zqtest {

bool WaitUntil(const std::function<bool()>& pred, int limitMs)
{
    QDeadlineTimer deadline(limitMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        // Blocks until an event arrives (or a short slice passes, for
        // conditions that change on other threads without posting).
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

} // namespace zqtest
