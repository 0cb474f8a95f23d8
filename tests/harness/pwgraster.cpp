#include "pwgraster.h"

#include <cups/raster.h>

#include <cstring>
#include <memory>

namespace vek::test {
namespace {

struct MemoryStream {
    const QByteArray &bytes;
    qsizetype at = 0;
};

ssize_t ReadFromMemory(void *context, unsigned char *buffer, size_t length)
{
    auto *stream = static_cast<MemoryStream *>(context);
    const qsizetype count
        = std::min<qsizetype>(qsizetype(length), stream->bytes.size() - stream->at);
    if (count <= 0)
        return 0;
    std::memcpy(buffer, stream->bytes.constData() + stream->at, size_t(count));
    stream->at += count;
    return count;
}

struct RasterCloser {
    void operator()(cups_raster_t *raster) const { cupsRasterClose(raster); }
};

}  // namespace

std::int64_t PwgPage::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= widthPixels || y >= heightPixels)
        return -1;
    const auto *row
        = reinterpret_cast<const unsigned char *>(pixels.constData()) + qsizetype(y) * bytesPerLine;
    if (bitsPerPixel == 8) {
        const std::int64_t grey = row[x];
        return (grey << 16) | (grey << 8) | grey;
    }
    if (bitsPerPixel == 24) {
        const unsigned char *p = row + qsizetype(x) * 3;
        return (std::int64_t(p[0]) << 16) | (std::int64_t(p[1]) << 8) | p[2];
    }
    return -1;
}

QList<PwgPage> ReadPwgRaster(const QByteArray &stream)
{
    MemoryStream source { stream };
    const std::unique_ptr<cups_raster_t, RasterCloser> raster(
        cupsRasterOpenIO(ReadFromMemory, &source, CUPS_RASTER_READ));
    if (!raster)
        return {};
    QList<PwgPage> pages;
    cups_page_header2_t header;
    while (cupsRasterReadHeader2(raster.get(), &header)) {
        PwgPage page;
        page.widthPoints = int(header.PageSize[0]);
        page.heightPoints = int(header.PageSize[1]);
        page.widthPixels = int(header.cupsWidth);
        page.heightPixels = int(header.cupsHeight);
        page.dpiX = int(header.HWResolution[0]);
        page.dpiY = int(header.HWResolution[1]);
        page.colorSpace = int(header.cupsColorSpace);
        page.bitsPerPixel = int(header.cupsBitsPerPixel);
        page.duplex = int(header.Duplex);
        page.mediaName = QString::fromUtf8(header.cupsPageSizeName);
        page.bytesPerLine = int(header.cupsBytesPerLine);
        page.pixels.resize(qsizetype(header.cupsBytesPerLine) * header.cupsHeight);
        auto *row = reinterpret_cast<unsigned char *>(page.pixels.data());
        for (unsigned y = 0; y < header.cupsHeight; ++y, row += header.cupsBytesPerLine) {
            if (cupsRasterReadPixels(raster.get(), row, header.cupsBytesPerLine)
                != header.cupsBytesPerLine)
                return {};
        }
        pages.append(std::move(page));
    }
    return pages;
}

}  // namespace vek::test
