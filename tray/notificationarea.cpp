#include "notificationarea.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSystemTrayIcon>
#include <QTimer>

namespace vek::agent {

namespace {
constexpr std::chrono::milliseconds kPollInterval { 250 };
}

bool WaitForNotificationArea(std::chrono::milliseconds timeout)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return true;
    const QDeadlineTimer deadline(timeout);
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollInterval);
    bool available = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        available = QSystemTrayIcon::isSystemTrayAvailable();
        if (available || deadline.hasExpired())
            loop.quit();
    });
    poll.start();
    // Commands that reach the channel meanwhile wait in its queue until the
    // tray exists to carry them out.
    if (!deadline.hasExpired())
        loop.exec(QEventLoop::ExcludeSocketNotifiers);
    return available;
}

}  // namespace vek::agent
