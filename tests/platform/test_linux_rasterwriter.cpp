#include "platform/linux/rasterwriter.h"

#include <QTest>

#include <algorithm>
#include <cstring>

using vek::platform::linuxbackend::RasterWriter;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Where the raster stream goes: memory, refusing every write once limit
// bytes were taken.
struct Sink {
    Bytes bytes;
    std::size_t limit = SIZE_MAX;
};

ssize_t Take(void *context, unsigned char *data, size_t length)
{
    auto *sink = static_cast<Sink *>(context);
    if (sink->bytes.size() + length > sink->limit)
        return -1;
    sink->bytes.insert(sink->bytes.end(), data, data + length);
    return ssize_t(length);
}

cups_page_header2_t Header(unsigned width, unsigned height)
{
    cups_page_header2_t header {};
    pwg_media_t media { "custom", nullptr, nullptr, int(width * 2540 / 300),
        int(height * 2540 / 300) };
    cupsRasterInitPWGHeader(&header, &media, "srgb_8", 300, 300, "one-sided", nullptr);
    header.cupsWidth = width;
    header.cupsHeight = height;
    header.cupsBytesPerLine = width * 3;
    return header;
}

// Rows that differ from page to page and from row to row, with repeats, and
// runs of white ones: at the start and end of each page and in between.
bool IsWhiteRow(int page, unsigned y)
{
    return y < unsigned(page) * 40 || y >= 290 || y % 50 < 12;
}

Bytes Row(int page, unsigned y, unsigned bytesPerLine)
{
    Bytes row(bytesPerLine, 0xff);
    if (IsWhiteRow(page, y))
        return row;
    for (unsigned x = (y * 7 + unsigned(page)) % 13; x < bytesPerLine; x += 17 + y % 5)
        row[x] = std::uint8_t(y / 3 + unsigned(page) * 40);
    return row;
}

constexpr unsigned kWidth = 200;
constexpr unsigned kHeight = 301;  // not a whole number of the writer's blocks
constexpr int kPages = 3;

Bytes WrittenByLibcups()
{
    Sink sink;
    cups_raster_t *raster = cupsRasterOpenIO(Take, &sink, CUPS_RASTER_WRITE_PWG);
    cups_page_header2_t header = Header(kWidth, kHeight);
    for (int page = 0; page < kPages; ++page) {
        cupsRasterWriteHeader2(raster, &header);
        for (unsigned y = 0; y < kHeight; ++y) {
            Bytes row = Row(page, y, header.cupsBytesPerLine);
            cupsRasterWritePixels(raster, row.data(), unsigned(row.size()));
        }
    }
    cupsRasterClose(raster);
    return sink.bytes;
}

// Writes the pages through a writer; false as soon as the writer refuses.
bool WriteAll(RasterWriter &writer)
{
    const cups_page_header2_t header = Header(kWidth, kHeight);
    for (int page = 0; page < kPages; ++page) {
        if (!writer.startPage(header))
            return false;
        for (unsigned y = 0; y < kHeight; ++y) {
            if (IsWhiteRow(page, y)) {
                if (!writer.addWhiteRows(1))
                    return false;
                continue;
            }
            std::uint8_t *row = writer.nextRow();
            if (!row)
                return false;
            // Only the part that is not white is written, over bytes left
            // from other rows.
            const Bytes content = Row(page, y, header.cupsBytesPerLine);
            const auto isInk = [](std::uint8_t byte) { return byte != 0xff; };
            const auto first = std::find_if(content.begin(), content.end(), isInk);
            const auto end = std::find_if(content.rbegin(), content.rend(), isInk).base();
            std::memset(row, 0x5a, content.size());
            std::copy(first, std::max(first, end), row + (first - content.begin()));
            if (!writer.addRow(unsigned(first - content.begin()),
                    unsigned(std::max(first, end) - content.begin())))
                return false;
        }
    }
    return writer.finish();
}

}  // namespace

class TestLinuxRasterWriter : public QObject {
    Q_OBJECT

private slots:
    // The writer's thread writes exactly the stream libcups writes when
    // called row by row: the same headers, rows and order.
    void writesTheSameStreamAsDirectCalls()
    {
        Sink sink;
        cups_raster_t *raster = cupsRasterOpenIO(Take, &sink, CUPS_RASTER_WRITE_PWG);
        {
            RasterWriter writer(raster, Take, &sink, 3, kWidth * 3);
            QVERIFY(WriteAll(writer));
        }
        cupsRasterClose(raster);
        const Bytes expected = WrittenByLibcups();
        QVERIFY(expected.size() > 3 * 1796);
        QVERIFY(sink.bytes == expected);
    }

    // A refused write is reported to the side that adds rows, wherever it
    // happens, and never leaves either side waiting.
    void reportsAFailedWrite_data()
    {
        QTest::addColumn<int>("limit");
        QTest::newRow("the first header") << 10;
        QTest::newRow("inside the first page") << 3000;
        QTest::newRow("inside the last page") << int(WrittenByLibcups().size()) - 100;
    }
    void reportsAFailedWrite()
    {
        QFETCH(int, limit);
        Sink sink;
        sink.limit = std::size_t(limit);
        cups_raster_t *raster = cupsRasterOpenIO(Take, &sink, CUPS_RASTER_WRITE_PWG);
        {
            RasterWriter writer(raster, Take, &sink, 3, kWidth * 3);
            QVERIFY(!WriteAll(writer));
            QVERIFY(!writer.finish());
        }
        cupsRasterClose(raster);
    }

    // Giving up part way through a page stops the thread without writing on.
    void abandonedPartWay()
    {
        Sink sink;
        cups_raster_t *raster = cupsRasterOpenIO(Take, &sink, CUPS_RASTER_WRITE_PWG);
        {
            RasterWriter writer(raster, Take, &sink, 3, kWidth * 3);
            QVERIFY(writer.startPage(Header(kWidth, kHeight)));
            for (int y = 0; y < 100; ++y) {
                QVERIFY(writer.nextRow());
                QVERIFY(writer.addRow(0, kWidth * 3));
            }
        }
        cupsRasterClose(raster);
        QVERIFY(sink.bytes.size() < WrittenByLibcups().size() / kPages);
    }

    void refusesARowOfAnotherLength()
    {
        Sink sink;
        cups_raster_t *raster = cupsRasterOpenIO(Take, &sink, CUPS_RASTER_WRITE_PWG);
        {
            RasterWriter writer(raster, Take, &sink, 3, kWidth * 3);
            QVERIFY(!writer.startPage(Header(kWidth + 1, kHeight)));
            // Nor a row said to be written outside its length.
            QVERIFY(writer.startPage(Header(kWidth, kHeight)));
            QVERIFY(writer.nextRow());
            QVERIFY(!writer.addRow(0, kWidth * 3 + 1));
            QVERIFY(!writer.addRow(5, 4));
            QVERIFY(writer.addRow(5, 5));
        }
        cupsRasterClose(raster);
    }
};

QTEST_GUILESS_MAIN(TestLinuxRasterWriter)
#include "test_linux_rasterwriter.moc"
