#include "platform/linux/pwgencoder.h"

#include <cups/raster.h>

#include <QTest>

#include <functional>
#include <random>

using vek::platform::linuxbackend::PwgEncoder;

namespace {

using Line = std::vector<std::uint8_t>;
using Page = std::vector<Line>;

ssize_t Append(void *context, unsigned char *bytes, size_t length)
{
    auto *out = static_cast<std::vector<std::uint8_t> *>(context);
    out->insert(out->end(), bytes, bytes + length);
    return ssize_t(length);
}

cups_page_header2_t Header(int width, int height, int bytesPerPixel)
{
    cups_page_header2_t header {};
    pwg_media_t media { "custom", nullptr, nullptr, width * 2540 / 300, height * 2540 / 300 };
    cupsRasterInitPWGHeader(
        &header, &media, bytesPerPixel == 3 ? "srgb_8" : "sgray_8", 300, 300, "one-sided", nullptr);
    header.cupsWidth = unsigned(width);
    header.cupsHeight = unsigned(height);
    header.cupsBytesPerLine = unsigned(width * bytesPerPixel);
    return header;
}

// The pages as libcups writes them.
std::vector<std::uint8_t> ByLibcups(const std::vector<Page> &pages, int bytesPerPixel)
{
    std::vector<std::uint8_t> out;
    cups_raster_t *raster = cupsRasterOpenIO(Append, &out, CUPS_RASTER_WRITE_PWG);
    for (const Page &page : pages) {
        cups_page_header2_t header
            = Header(int(page.front().size()) / bytesPerPixel, int(page.size()), bytesPerPixel);
        cupsRasterWriteHeader2(raster, &header);
        for (const Line &line : page)
            cupsRasterWritePixels(
                raster, const_cast<unsigned char *>(line.data()), unsigned(line.size()));
    }
    cupsRasterClose(raster);
    return out;
}

// The same with libcups writing only the headers.
std::vector<std::uint8_t> ByEncoder(const std::vector<Page> &pages, int bytesPerPixel)
{
    const unsigned lineBytes = unsigned(pages.front().front().size());
    PwgEncoder encoder(unsigned(bytesPerPixel), lineBytes);
    std::vector<std::uint8_t> out;
    auto take = [&] {
        out.insert(out.end(), encoder.coded(), encoder.coded() + encoder.codedSize());
        encoder.clearCoded();
    };
    cups_raster_t *raster = cupsRasterOpenIO(
        [](void *context, unsigned char *bytes, size_t length) {
            static_cast<PwgEncoder *>(context)->append(bytes, length);
            return ssize_t(length);
        },
        &encoder, CUPS_RASTER_WRITE_PWG);
    for (const Page &page : pages) {
        cups_page_header2_t header
            = Header(int(lineBytes) / bytesPerPixel, int(page.size()), bytesPerPixel);
        cupsRasterWriteHeader2(raster, &header);
        for (const Line &line : page) {
            std::copy(line.begin(), line.end(), encoder.line());
            encoder.addLine();
            if (encoder.codedSize() > 1000)
                take();  // taken out part way, as a job sends it
        }
        encoder.endPage();
    }
    cupsRasterClose(raster);
    take();
    return out;
}

// Lines of pixels where pixel(x, y) picks one of a few colours, or -1 for noise.
Page MakePage(int width, int height, int bytesPerPixel, std::function<int(int, int)> pixel)
{
    static const std::uint8_t kColours[][3] = { { 255, 255, 255 }, { 0, 0, 0 }, { 255, 0, 0 },
        { 255, 255, 0 } };  // the last differs from white in one byte
    std::mt19937 noise(7);
    Page page(std::size_t(height), Line(std::size_t(width * bytesPerPixel)));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int colour = pixel(x, y);
            for (int k = 0; k < bytesPerPixel; ++k)
                page[y][std::size_t(x * bytesPerPixel + k)]
                    = colour < 0 ? std::uint8_t(noise() % 3) : kColours[colour][k];
        }
    }
    return page;
}

}  // namespace

class TestLinuxPwgEncoder : public QObject {
    Q_OBJECT

private slots:
    void codesAsLibcupsDoes_data()
    {
        QTest::addColumn<int>("bytesPerPixel");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<std::function<int(int, int)>>("pixel");
        using Pixel = std::function<int(int, int)>;
        for (const int bpp : { 3, 1 }) {
            const QByteArray kind = bpp == 3 ? "rgb: " : "grey: ";
            QTest::newRow(kind + "white, over 256 repeated lines")
                << bpp << 300 << 600 << Pixel([](int, int) { return 0; });
            QTest::newRow(kind + "noise, literal runs over 128")
                << bpp << 301 << 5 << Pixel([](int, int) { return -1; });
            QTest::newRow(kind + "runs over 128 and runs ending at the edge")
                << bpp << 400 << 4 << Pixel([](int x, int y) { return (x + y * 37) / 131 % 3; });
            QTest::newRow(kind + "a lone pixel at each end")
                << bpp << 50 << 3
                << Pixel([](int x, int y) { return x == 0 || x == 49 ? 1 + y % 2 : 0; });
            QTest::newRow(kind + "a pair at the end, pixels differing in one byte")
                << bpp << 9 << 4 << Pixel([](int x, int y) { return x >= 7 ? 3 : (x + y) % 2; });
            QTest::newRow(kind + "short runs and literals across every step of sixteen")
                << bpp << 197 << 40 << Pixel([](int x, int y) {
                       return x / (1 + y % 9) % 2 ? -1 : x / (1 + y % 5) % 3;
                   });
            QTest::newRow(kind + "one pixel wide")
                << bpp << 1 << 300 << Pixel([](int, int y) { return y / 100 % 2; });
            QTest::newRow(kind + "two pixels wide")
                << bpp << 2 << 7 << Pixel([](int x, int y) { return (x + y) % 3 == 0; });
        }
    }
    void codesAsLibcupsDoes()
    {
        QFETCH(int, bytesPerPixel);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(std::function<int(int, int)>, pixel);
        const Page page = MakePage(width, height, bytesPerPixel, pixel);
        // Two pages, so that the second header follows the first page's last line.
        const std::vector<Page> pages { page, page };
        const std::vector<std::uint8_t> expected = ByLibcups(pages, bytesPerPixel);
        QVERIFY(expected.size() > 2 * 1796);
        QCOMPARE(ByEncoder(pages, bytesPerPixel), expected);
    }
};

QTEST_GUILESS_MAIN(TestLinuxPwgEncoder)
#include "test_linux_pwgencoder.moc"
