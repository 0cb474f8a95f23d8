#pragma once
// Reads back the PWG raster pages a queue delivered to the sink printer, so
// tests can check sheet sizes, resolutions and single pixels.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace vek::test {

struct PwgPage {
    int widthPoints = 0;
    int heightPoints = 0;
    int widthPixels = 0;
    int heightPixels = 0;
    int dpiX = 0;
    int dpiY = 0;
    int colorSpace = 0;  // cups_cspace_t: 18 sGray, 19 sRGB
    int bitsPerPixel = 0;
    int duplex = 0;
    QString mediaName;  // the PWG media name the page was made for
    QByteArray pixels;  // rows from the top, bytesPerLine each
    int bytesPerLine = 0;

    // The pixel at (x, y) as 0xRRGGBB (grey pages give equal channels);
    // -1 outside the page.
    std::int64_t pixel(int x, int y) const;
};

// The pages of a PWG raster stream; empty when the stream is not PWG raster
// or is cut short.
QList<PwgPage> ReadPwgRaster(const QByteArray &stream);

}  // namespace vek::test
