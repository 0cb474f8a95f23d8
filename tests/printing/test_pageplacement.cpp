#include "printing/pageplacement.h"

#include <QTest>

#include <limits>

using vek::platform::PrintableArea;
using vek::printing::PageBitmapSize;
using vek::printing::PlacePage;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
}  // namespace

class TestPagePlacement : public QObject {
    Q_OBJECT

private slots:
    void bitmapSize_data()
    {
        QTest::addColumn<double>("widthPt");
        QTest::addColumn<double>("heightPt");
        QTest::addColumn<QSize>("expected");  // invalid: refused

        QTest::newRow("A4") << 595.0 << 842.0 << QSize(2480, 3509);
        QTest::newRow("whole inch") << 72.0 << 144.0 << QSize(300, 600);
        QTest::newRow("sliver rounds up") << 0.001 << 0.001 << QSize(1, 1);
        // 40,000,000 pixels exactly: 5000 × 8000.
        QTest::newRow("at the cap") << 1200.0 << 1920.0 << QSize(5000, 8000);
        QTest::newRow("one row over the cap") << 1200.0 << 1920.1 << QSize();
        QTest::newRow("huge") << 1e300 << 1e300 << QSize();
        QTest::newRow("long and thin over the cap") << 0.01 << 1e9 << QSize();
        QTest::newRow("zero width") << 0.0 << 842.0 << QSize();
        QTest::newRow("negative height") << 595.0 << -842.0 << QSize();
        QTest::newRow("NaN") << kNaN << 842.0 << QSize();
        QTest::newRow("infinite") << 595.0 << kInfinity << QSize();
    }

    void bitmapSize()
    {
        QFETCH(double, widthPt);
        QFETCH(double, heightPt);
        QFETCH(QSize, expected);
        const auto size = PageBitmapSize(widthPt, heightPt);
        QCOMPARE(size.has_value(), expected.isValid());
        if (size)
            QCOMPARE(*size, expected);
    }

    void placement_data()
    {
        QTest::addColumn<double>("widthPt");
        QTest::addColumn<double>("heightPt");
        QTest::addColumn<int>("areaWidth");
        QTest::addColumn<int>("areaHeight");
        QTest::addColumn<int>("dpiX");
        QTest::addColumn<int>("dpiY");
        QTest::addColumn<QRect>("expected");  // null: refused

        // 2380 × 3408: a 300 dpi device's printable part of A4 with wide margins.
        QTest::newRow("A4 page on A4 area shrinks evenly")
            << 595.0 << 842.0 << 2380 << 3408 << 300 << 300 << QRect(0, 0, 2380, 3368);
        QTest::newRow("label page keeps its physical size, centred")
            << 141.73 << 70.87 << 2380 << 3408 << 300 << 300 << QRect(895, 0, 590, 295);
        QTest::newRow("A3 page on A4 area, limited by width")
            << 842.0 << 1191.0 << 2380 << 3408 << 300 << 300 << QRect(0, 0, 2380, 3366);
        QTest::newRow("wide page limited by height, centred")
            << 1440.0 << 72.0 << 10000 << 100 << 300 << 300 << QRect(4000, 0, 2000, 100);
        QTest::newRow("different resolutions across and down")
            << 72.0 << 72.0 << 2000 << 2000 << 600 << 300 << QRect(700, 0, 600, 300);
        QTest::newRow("sliver still gets a pixel")
            << 0.01 << 0.01 << 2000 << 2000 << 300 << 300 << QRect(999, 0, 1, 1);
        QTest::newRow("odd spare width rounds toward zero")
            << 72.0 << 72.0 << 301 << 400 << 300 << 300 << QRect(0, 0, 300, 300);
        QTest::newRow("zero dpi") << 595.0 << 842.0 << 2380 << 3408 << 0 << 300 << QRect();
        QTest::newRow("negative dpi") << 595.0 << 842.0 << 2380 << 3408 << 300 << -1 << QRect();
        QTest::newRow("empty area") << 595.0 << 842.0 << 0 << 3408 << 300 << 300 << QRect();
        QTest::newRow("NaN page") << kNaN << 842.0 << 2380 << 3408 << 300 << 300 << QRect();
        QTest::newRow("zero page") << 595.0 << 0.0 << 2380 << 3408 << 300 << 300 << QRect();
        QTest::newRow("huge page") << 1e308 << 1e308 << 2380 << 3408 << 300 << 300 << QRect();
    }

    void placement()
    {
        QFETCH(double, widthPt);
        QFETCH(double, heightPt);
        QFETCH(int, areaWidth);
        QFETCH(int, areaHeight);
        QFETCH(int, dpiX);
        QFETCH(int, dpiY);
        QFETCH(QRect, expected);
        const auto at
            = PlacePage(widthPt, heightPt, PrintableArea { areaWidth, areaHeight, dpiX, dpiY });
        QCOMPARE(at.has_value(), !expected.isNull());
        if (at)
            QCOMPARE(QRect(at->x, at->y, at->width, at->height), expected);
    }
};

QTEST_GUILESS_MAIN(TestPagePlacement)
#include "test_pageplacement.moc"
