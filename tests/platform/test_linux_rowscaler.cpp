#include "platform/linux/rowscaler.h"

#include <QTest>

#include <vector>

using vek::platform::PageImage;
using vek::platform::linuxbackend::RowScaler;

namespace {

// A page bitmap filled by pixel(x, y) -> 0xRRGGBB.
template <typename Pixel> std::vector<std::uint32_t> MakePage(int width, int height, Pixel pixel)
{
    std::vector<std::uint32_t> bits(std::size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            bits[std::size_t(y) * width + x] = 0xff000000u | pixel(x, y);
    }
    return bits;
}

PageImage Image(const std::vector<std::uint32_t> &bits, int width, int height)
{
    return { reinterpret_cast<const std::uint8_t *>(bits.data()), width, height,
        std::size_t(width) * 4 };
}

// Every output row of the scaled page, RGB.
std::vector<std::vector<std::uint8_t>> Scale(
    const PageImage &page, int width, int height, RowScaler::Output output = RowScaler::Output::Rgb)
{
    RowScaler scaler(page, width, height, 0, width, output);
    std::vector<std::vector<std::uint8_t>> rows;
    for (int y = 0; y < height; ++y) {
        rows.emplace_back(std::size_t(width * scaler.channels()));
        scaler.row(y, rows.back().data());
    }
    return rows;
}

}  // namespace

class TestLinuxRowScaler : public QObject {
    Q_OBJECT

private slots:
    void evenColourStaysExact_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("target");
        QTest::newRow("same size") << QSize(37, 23) << QSize(37, 23);
        QTest::newRow("shrink a little") << QSize(2480, 7) << QSize(2362, 5);
        QTest::newRow("shrink by an odd ratio") << QSize(97, 89) << QSize(13, 7);
        QTest::newRow("enlarge by an odd ratio") << QSize(13, 7) << QSize(97, 89);
        QTest::newRow("to one pixel") << QSize(50, 40) << QSize(1, 1);
    }
    void evenColourStaysExact()
    {
        QFETCH(QSize, source);
        QFETCH(QSize, target);
        for (const std::uint32_t colour : { 0xffffffu, 0x000000u, 0x80c0ffu }) {
            const auto bits
                = MakePage(source.width(), source.height(), [&](int, int) { return colour; });
            const auto rows = Scale(
                Image(bits, source.width(), source.height()), target.width(), target.height());
            for (const auto &row : rows) {
                for (std::size_t i = 0; i < row.size(); i += 3) {
                    const std::uint32_t pixel = (row[i] << 16) | (row[i + 1] << 8) | row[i + 2];
                    QCOMPARE(pixel, colour);
                }
            }
        }
    }

    void shrinkingAveragesWhatItCovers()
    {
        // Black columns 0 and 1, white columns 2 and 3; a red pixel at (3, 3).
        const auto bits = MakePage(4, 4, [](int x, int y) -> std::uint32_t {
            if (x == 3 && y == 3)
                return 0xff0000;
            return x < 2 ? 0x000000 : 0xffffff;
        });
        const auto half = Scale(Image(bits, 4, 4), 2, 2);
        QCOMPARE(std::vector<std::uint8_t>(half[0]),
            std::vector<std::uint8_t>({ 0, 0, 0, 255, 255, 255 }));
        // Three white and one red pixel.
        QCOMPARE(half[1][3], 255);
        QCOMPARE(half[1][4], 191);
        QCOMPARE(half[1][5], 191);
        // Everything: eight black, seven white and one red pixel.
        const auto one = Scale(Image(bits, 4, 4), 1, 1);
        QVERIFY(std::abs(one[0][0] - 128) <= 1);
        QVERIFY(std::abs(one[0][1] - 112) <= 1);
    }

    void greyOutput()
    {
        const auto bits = MakePage(2, 1, [](int x, int) { return x == 0 ? 0xff0000u : 0xffffffu; });
        for (const QSize target : { QSize(2, 1), QSize(4, 2) }) {
            const auto rows = Scale(
                Image(bits, 2, 1), target.width(), target.height(), RowScaler::Output::Gray);
            QCOMPARE(rows[0].size(), std::size_t(target.width()));
            QCOMPARE(rows[0].front(), 54);
            QCOMPARE(rows[0].back(), 255);
        }
    }

    void producesOnlyTheChosenColumns()
    {
        const auto bits = MakePage(10, 1, [](int x, int) { return std::uint32_t(x * 20) << 16; });
        RowScaler scaler(Image(bits, 10, 1), 20, 2, 6, 10, RowScaler::Output::Rgb);
        std::vector<std::uint8_t> row(4 * 3 + 1, 0xaa);
        scaler.row(1, row.data());
        // Output columns 6..9 are source columns 3 and 4, each twice.
        QCOMPARE(row[0], 60);
        QCOMPARE(row[3], 60);
        QCOMPARE(row[6], 80);
        QCOMPARE(row[9], 80);
        QCOMPARE(row[12], 0xaa);
    }
};

QTEST_GUILESS_MAIN(TestLinuxRowScaler)
#include "test_linux_rowscaler.moc"
