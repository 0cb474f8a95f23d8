#include "screenshot.h"

#include "tests/harness/screen.h"
#include "tray/statelook.h"

#include <QDeadlineTimer>
#include <QThread>

namespace vek::demo {

bool SaveScreenshot(const QString &path, std::optional<agent::AgentState> waitFor, int timeoutMs)
{
    QImage image = test::GrabScreen();
    if (waitFor) {
        const QColor colour = agent::stateLook(*waitFor).colour;
        const QDeadlineTimer deadline(timeoutMs);
        while (!test::FindColourBlock(image, colour)) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(100);  // the next look at the screen
            image = test::GrabScreen();
        }
    }
    return !image.isNull() && image.save(path, "PNG");
}

}  // namespace vek::demo
