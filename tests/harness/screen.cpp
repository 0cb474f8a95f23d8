#include "screen.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace vek::test {

QImage GrabScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32)
                  : QImage();
}

std::optional<QPoint> FindColourBlock(const QImage &image, const QColor &colour)
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
                return QPoint(x + 3, y + 3);
        }
    }
    return std::nullopt;
}

}  // namespace vek::test
