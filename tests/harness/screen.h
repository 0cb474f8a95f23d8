#pragma once
// The X screen as the user sees it, and where it shows a tray icon's colour.

#include <QColor>
#include <QImage>
#include <QPoint>

#include <optional>

namespace vek::test {

// The whole primary screen; a null image when there is none.
QImage GrabScreen();

// The middle of the first 6 by 6 block of exactly this colour (the middle of
// a state icon); nothing when the image shows none.
std::optional<QPoint> FindColourBlock(const QImage &image, const QColor &colour);

}  // namespace vek::test
