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

PageImage Image(std::vector<std::uint32_t> &bits, int width, int height)
{
    return { reinterpret_cast<std::uint8_t *>(bits.data()), width, height, std::size_t(width) * 4 };
}

// Every output row of the scaled page, RGB.
std::vector<std::vector<std::uint8_t>> Scale(
    const PageImage &page, int width, int height, RowScaler::Output output = RowScaler::Output::Rgb)
{
    RowScaler scaler(page, width, height, 0, width, output);
    std::vector<std::vector<std::uint8_t>> rows;
    for (int y = 0; y < height; ++y) {
        rows.emplace_back(std::size_t(width * scaler.channels()), std::uint8_t(0xff));
        scaler.row(y, rows.back().data());
    }
    return rows;
}

// The exact area average of one channel (shift 16 red, 8 green, 0 blue) at
// output pixel (x, y), in doubles.
double AreaAverage(
    const std::vector<std::uint32_t> &bits, QSize source, QSize target, int x, int y, int shift)
{
    const double sx = double(source.width()) / target.width();
    const double sy = double(source.height()) / target.height();
    double total = 0;
    for (int j = int(y * sy); j < source.height() && j < (y + 1) * sy; ++j) {
        const double h = std::min<double>(j + 1, (y + 1) * sy) - std::max<double>(j, y * sy);
        for (int i = int(x * sx); i < source.width() && i < (x + 1) * sx; ++i) {
            const double w = std::min<double>(i + 1, (x + 1) * sx) - std::max<double>(i, x * sx);
            total += w * h * ((bits[std::size_t(j) * source.width() + i] >> shift) & 0xff);
        }
    }
    return total / (sx * sy);
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
            auto bits = MakePage(source.width(), source.height(), [&](int, int) { return colour; });
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

    // Islands of ink on white, so that rows and columns are partly, wholly or
    // not at all white, against the exact average.
    void matchesTheExactAverage_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("target");
        QTest::newRow("rendered at its printed size") << QSize(248, 351) << QSize(248, 351);
        QTest::newRow("a page into its printable area") << QSize(248, 351) << QSize(236, 334);
        QTest::newRow("a label just smaller") << QSize(591, 30) << QSize(590, 29);
        QTest::newRow("enlarged for a finer printer") << QSize(60, 40) << QSize(125, 83);
        QTest::newRow("shrunk for a coarse printer") << QSize(250, 120) << QSize(61, 29);
    }
    void matchesTheExactAverage()
    {
        QFETCH(QSize, source);
        QFETCH(QSize, target);
        auto bits = MakePage(source.width(), source.height(), [](int x, int y) -> std::uint32_t {
            if ((x / 7 + y / 5) % 4 == 0 && x % 50 < 30 && y % 23 < 11)
                return std::uint32_t(x * 37 % 256) << 16 | std::uint32_t(y * 11 % 256) << 8 | 0x40;
            return x == 0 && y % 9 == 0 ? 0x000000u : 0xffffffu;
        });
        const auto rows
            = Scale(Image(bits, source.width(), source.height()), target.width(), target.height());
        for (int y = 0; y < target.height(); ++y) {
            for (int x = 0; x < target.width(); ++x) {
                for (int k = 0; k < 3; ++k) {
                    const double exact = AreaAverage(bits, source, target, x, y, 16 - 8 * k);
                    const int got = rows[std::size_t(y)][std::size_t(x * 3 + k)];
                    if (std::abs(got - exact) > 1.0)
                        QFAIL(qPrintable(QString("pixel %1,%2 channel %3: %4, exact %5")
                                             .arg(x)
                                             .arg(y)
                                             .arg(k)
                                             .arg(got)
                                             .arg(exact)));
                }
            }
        }
    }

    void shrinkingAveragesWhatItCovers()
    {
        // Black columns 0 and 1, white columns 2 and 3; a red pixel at (3, 3).
        auto bits = MakePage(4, 4, [](int x, int y) -> std::uint32_t {
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
        auto bits = MakePage(2, 1, [](int x, int) { return x == 0 ? 0xff0000u : 0xffffffu; });
        for (const QSize target : { QSize(2, 1), QSize(4, 2) }) {
            const auto rows = Scale(
                Image(bits, 2, 1), target.width(), target.height(), RowScaler::Output::Gray);
            QCOMPARE(rows[0].size(), std::size_t(target.width()));
            QCOMPARE(rows[0].front(), 54);
            QCOMPARE(rows[0].back(), 255);
        }
    }

    void layingOnWhiteRoundsToTheNearest()
    {
        for (std::uint32_t alpha = 0; alpha < 256; ++alpha) {
            for (std::uint32_t colour = 0; colour < 256; ++colour) {
                const std::uint32_t printed
                    = vek::platform::OnWhite(alpha << 24 | 0xff00ffu | colour << 8);
                const double exact = 255 - (255 - colour) * alpha / 255.0;
                QCOMPARE(printed >> 24, 0xffu);
                QCOMPARE(printed >> 16 & 0xff, 0xffu);
                QCOMPARE(printed & 0xff, 0xffu);
                QVERIFY2(std::abs(double(printed >> 8 & 0xff) - exact) <= 0.5,
                    qPrintable(QString("alpha %1 colour %2").arg(alpha).arg(colour)));
            }
        }
    }

    // A page whose background was left transparent prints as the same page
    // laid on white beforehand, whatever the scale, and its paper rows are
    // found as paper: rows inked all across, and rows with one inked pixel at
    // every column in turn among transparent pixels, white ones and
    // transparent ones with colour.
    void straightAlphaPrintsOnWhite_data()
    {
        QTest::addColumn<QSize>("target");
        QTest::addColumn<RowScaler::Output>("output");
        for (const auto output : { RowScaler::Output::Rgb, RowScaler::Output::Gray }) {
            const char *name = output == RowScaler::Output::Rgb ? "rgb" : "grey";
            QTest::addRow("same size, %s", name) << QSize(37, 45) << output;
            QTest::addRow("shrunk, %s", name) << QSize(23, 30) << output;
            QTest::addRow("enlarged, %s", name) << QSize(61, 90) << output;
        }
    }
    void straightAlphaPrintsOnWhite()
    {
        QFETCH(QSize, target);
        QFETCH(RowScaler::Output, output);
        constexpr int width = 37;
        constexpr int height = 45;
        const std::uint32_t alphas[] = { 1, 127, 128, 254, 255 };
        std::vector<std::uint32_t> transparent(std::size_t(width) * height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                std::uint32_t &pixel = transparent[std::size_t(y) * width + x];
                if (y % 9 == 8)
                    pixel = 0;  // a row left wholly transparent
                else if (y % 4 == 1)  // a row inked all across
                    pixel = alphas[(x + y) % 5] << 24 | std::uint32_t(x * 6) << 16
                        | std::uint32_t(y * 5) << 8 | std::uint32_t(255 - x);
                else if (x == y % width)
                    pixel = alphas[y % 5] << 24 | std::uint32_t(x * 7 + y * 5) << 8 | 0x400020u;
                else
                    pixel = (x + y) % 3 == 0 ? 0xffffffffu : (x % 2 ? 0u : 0x00123456u);
            }
        }
        std::vector<std::uint32_t> onWhite = transparent;
        for (std::uint32_t &pixel : onWhite)
            pixel = vek::platform::OnWhite(pixel);

        PageImage page = Image(transparent, width, height);
        page.alpha = vek::platform::PageAlpha::OverWhite;
        RowScaler scaler(page, target.width(), target.height(), 0, target.width(), output);
        RowScaler reference(Image(onWhite, width, height), target.width(), target.height(), 0,
            target.width(), output);
        for (int y = 0; y < target.height(); ++y) {
            QCOMPARE(scaler.rowIsWhite(y), reference.rowIsWhite(y));
            // Outside the columns it says it wrote, the row is left as it was.
            std::vector<std::uint8_t> row(std::size_t(target.width() * scaler.channels()), 0x5a);
            const RowScaler::Span written = scaler.row(y, row.data());
            for (std::size_t i = 0; i < row.size(); ++i) {
                if (int(i) / scaler.channels() < written.first
                    || int(i) / scaler.channels() >= written.end) {
                    QCOMPARE(row[i], 0x5a);
                    row[i] = 0xff;
                }
            }
            std::vector<std::uint8_t> expected(row.size(), 0xff);
            reference.row(y, expected.data());
            QVERIFY2(row == expected, qPrintable(QString("row %1").arg(y)));
        }
    }

    void producesOnlyTheChosenColumns_data()
    {
        QTest::addColumn<int>("targetWidth");
        QTest::addColumn<QList<int>>("reds");
        // Output columns 6..9: source columns 3 and 4, each twice; or 6..9 themselves.
        QTest::newRow("enlarged") << 20 << QList<int> { 60, 60, 80, 80 };
        QTest::newRow("same size") << 10 << QList<int> { 120, 140, 160, 180 };
    }
    void producesOnlyTheChosenColumns()
    {
        QFETCH(int, targetWidth);
        QFETCH(QList<int>, reds);
        auto bits = MakePage(10, 1, [](int x, int) { return std::uint32_t(x * 20) << 16; });
        RowScaler scaler(Image(bits, 10, 1), targetWidth, 1, 6, 10, RowScaler::Output::Rgb);
        std::vector<std::uint8_t> row(4 * 3 + 1, 0xaa);
        scaler.row(0, row.data());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(row[std::size_t(i) * 3], reds[i]);
        QCOMPARE(row[12], 0xaa);
    }
};

QTEST_GUILESS_MAIN(TestLinuxRowScaler)
#include "test_linux_rowscaler.moc"
