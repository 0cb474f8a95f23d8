#include "screenshot.h"

#include "tray/statelook.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

namespace vek::demo {

namespace {

QImage Screen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32)
                  : QImage();
}

// A 6 by 6 block of exactly this colour: the middle of a state icon.
bool ShowsColour(const QImage &image, const QColor &colour)
{
    const QRgb wanted = colour.rgb();
    for (int y = 0; y + 6 <= image.height(); y += 3) {
        for (int x = 0; x + 6 <= image.width(); x += 3) {
            bool block = true;
            for (int dy = 0; block && dy < 6; ++dy) {
                for (int dx = 0; block && dx < 6; ++dx)
                    block = image.pixel(x + dx, y + dy) == wanted;
            }
            if (block)
                return true;
        }
    }
    return false;
}

}  // namespace

bool SaveScreenshot(const QString &path, std::optional<agent::AgentState> waitFor, int timeoutMs)
{
    QImage image = Screen();
    if (waitFor) {
        const QColor colour = agent::stateLook(*waitFor).colour;
        const QDeadlineTimer deadline(timeoutMs);
        while (!ShowsColour(image, colour)) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(100);  // the next look at the screen
            image = Screen();
        }
    }
    return !image.isNull() && image.save(path, "PNG");
}

}  // namespace vek::demo
