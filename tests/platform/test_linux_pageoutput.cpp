#include "platform/linux/driveroptions.h"
#include "platform/pageoutput.h"
#include "tests/harness/cupsjobs.h"
#include "tests/harness/printsink.h"
#include "tests/harness/pwgraster.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRect>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QUuid>

#include <cups/cups.h>
#include <cups/raster.h>

#include <cstring>

using namespace vek::platform;
using vek::test::PwgPage;

namespace {

constexpr char kDocumentQueue[] = "VekDocument";
constexpr std::int64_t kWhite = 0xffffff;

// A white page bitmap with one rectangle of colour (0xRRGGBB).
class MarkedPage {
public:
    MarkedPage(int width, int height, QRect mark, std::uint32_t colour)
        : m_width(width)
        , m_height(height)
        , m_bits(std::size_t(width) * height, 0xffffffffu)
    {
        for (int y = mark.top(); y <= mark.bottom(); ++y) {
            for (int x = mark.left(); x <= mark.right(); ++x)
                m_bits[std::size_t(y) * width + x] = 0xff000000u | colour;
        }
    }
    PageImage image()
    {
        return { reinterpret_cast<std::uint8_t *>(m_bits.data()), m_width, m_height,
            std::size_t(m_width) * 4 };
    }

private:
    int m_width;
    int m_height;
    std::vector<std::uint32_t> m_bits;  // little-endian 0xffRRGGBB is blue, green, red, unused
};

int JobCount(const char *queue)
{
    return int(vek::test::SinkJobs(queue).size());
}

// The job the sink receives after it had received `before` jobs.
QByteArray NextSinkJob(const char *queue, int before)
{
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        const auto jobs = vek::test::SinkJobs(queue);
        if (jobs.size() > before)
            return jobs.at(before);
        QThread::msleep(10);
    }
    return {};
}

ipp_jstate_t JobState(const char *queue, std::uint32_t jobId)
{
    const auto job = vek::test::FindCupsJob(queue, int(jobId));
    return job ? ipp_jstate_t(job->state) : ipp_jstate_t(0);
}

// Every pixel of the page white.
bool AllWhite(const PwgPage &page)
{
    return page.pixels.count(char(0xff)) == page.pixels.size();
}

// The sheet pixels of rect are colour, and the pixels just outside each edge white.
QString CheckMark(const PwgPage &page, QRect rect, std::int64_t colour)
{
    const QList<QPoint> inside { rect.topLeft(), rect.topRight(), rect.bottomLeft(),
        rect.bottomRight(), rect.center() };
    const QList<QPoint> outside { rect.topLeft() - QPoint(1, 0), rect.topLeft() - QPoint(0, 1),
        rect.bottomRight() + QPoint(1, 0), rect.bottomRight() + QPoint(0, 1) };
    for (const QPoint &p : inside) {
        if (page.pixel(p.x(), p.y()) != colour)
            return QString("(%1,%2) is %3")
                .arg(p.x())
                .arg(p.y())
                .arg(page.pixel(p.x(), p.y()), 6, 16);
    }
    for (const QPoint &p : outside) {
        if (page.pixel(p.x(), p.y()) != kWhite)
            return QString("(%1,%2) outside is %3")
                .arg(p.x())
                .arg(p.y())
                .arg(page.pixel(p.x(), p.y()), 6, 16);
    }
    return {};
}

bool RunCupsTool(const QString &tool, const QStringList &arguments)
{
    return QProcess::execute(tool, arguments) == 0;
}

}  // namespace

class TestLinuxPageOutput : public QObject {
    Q_OBJECT

private slots:
    void sheetAndMark_data()
    {
        QTest::addColumn<cups::OptionValues>("options");
        QTest::addColumn<QSize>("sheet");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<QPoint>("margin");
        QTest::addColumn<int>("colourSpace");
        QTest::addColumn<QRect>("placement");
        QTest::addColumn<QRect>("mark");  // in the 600 x 400 page bitmap
        QTest::addColumn<QRect>("expected");  // on the sheet
        QTest::addColumn<qint64>("colour");

        const QRect mark(100, 50, 20, 10);
        // A4 is 210 x 297 mm with 5 mm margins: 59 pixels at 300 dpi.
        QTest::newRow("A4 at 300 dpi")
            << cups::OptionValues {} << QSize(2480, 3507) << 300 << QPoint(59, 59)
            << int(CUPS_CSPACE_SRGB) << QRect(40, 30, 600, 400) << mark
            << QRect(59 + 40 + 100, 59 + 30 + 50, 20, 10) << qint64(0xff0000);
        QTest::newRow("A4 at 600 dpi")
            << cups::OptionValues { { "Resolution", "600dpi" } } << QSize(4960, 7015) << 600
            << QPoint(118, 118) << int(CUPS_CSPACE_SRGB) << QRect(80, 60, 1200, 800) << mark
            << QRect(118 + 80 + 200, 118 + 60 + 100, 40, 20) << qint64(0xff0000);
        QTest::newRow("shrunk to half")
            << cups::OptionValues {} << QSize(2480, 3507) << 300 << QPoint(59, 59)
            << int(CUPS_CSPACE_SRGB) << QRect(0, 0, 300, 200) << mark
            << QRect(59 + 50, 59 + 25, 10, 5) << qint64(0xff0000);
        QTest::newRow("label without margins")
            << cups::OptionValues { { "media", "custom_50x25mm_50x25mm" } } << QSize(590, 295)
            << 300 << QPoint(0, 0) << int(CUPS_CSPACE_SRGB) << QRect(10, 0, 300, 200) << mark
            << QRect(10 + 50, 25, 10, 5) << qint64(0xff0000);
        // Red in grey: 0.2126 x 255.
        QTest::newRow("monochrome")
            << cups::OptionValues { { "print-color-mode", "monochrome" } } << QSize(2480, 3507)
            << 300 << QPoint(59, 59) << int(CUPS_CSPACE_SW) << QRect(40, 30, 600, 400) << mark
            << QRect(59 + 40 + 100, 59 + 30 + 50, 20, 10) << qint64(0x363636);
    }
    void sheetAndMark()
    {
        QFETCH(cups::OptionValues, options);
        QFETCH(QSize, sheet);
        QFETCH(int, dpi);
        QFETCH(QPoint, margin);
        QFETCH(int, colourSpace);
        QFETCH(QRect, placement);
        QFETCH(QRect, mark);
        QFETCH(QRect, expected);
        QFETCH(qint64, colour);

        const Bytes settings = cups::MakeDriverSettings(kDocumentQueue, options);
        QVERIFY(!settings.empty());
        const int before = JobCount(kDocumentQueue);
        PageJobStart start = StartPageJob(kDocumentQueue, settings, "Vek sheet test");
        QCOMPARE(start.error, PageJobError::None);
        PageJob &job = *start.job;
        const PrintableArea area = job.printableArea();
        QCOMPARE(area.width, sheet.width() - 2 * margin.x());
        QCOMPARE(area.height, sheet.height() - 2 * margin.y());
        QCOMPARE(area.dpiX, dpi);
        QCOMPARE(area.dpiY, dpi);

        MarkedPage page(600, 400, mark, 0xff0000);
        QVERIFY(job.startPage());
        QVERIFY(job.drawPage(
            page.image(), { placement.x(), placement.y(), placement.width(), placement.height() }));
        QVERIFY(job.endPage());
        QVERIFY(job.finish());

        const auto pages = vek::test::ReadPwgRaster(NextSinkJob(kDocumentQueue, before));
        QCOMPARE(pages.size(), 1);
        const PwgPage &printed = pages.first();
        QCOMPARE(QSize(printed.widthPixels, printed.heightPixels), sheet);
        QCOMPARE(printed.dpiX, dpi);
        QCOMPARE(printed.dpiY, dpi);
        QCOMPARE(printed.colorSpace, colourSpace);
        const QString fault = CheckMark(printed, expected, colour);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QCOMPARE(printed.pixel(0, 0), kWhite);
        QCOMPARE(printed.pixel(sheet.width() - 1, sheet.height() - 1), kWhite);
        QCOMPARE(printed.pixel(margin.x() + placement.x(), margin.y() + placement.y()), kWhite);
    }

    void pagesInOrder()
    {
        const Bytes settings = cups::MakeDriverSettings(kDocumentQueue, {});
        const int before = JobCount(kDocumentQueue);
        const QString title = "Vek " + QUuid::createUuid().toString(QUuid::WithoutBraces);
        PageJobStart start = StartPageJob(kDocumentQueue, settings, title.toStdString());
        QCOMPARE(start.error, PageJobError::None);
        PageJob &job = *start.job;
        QVERIFY(job.jobId() != 0);

        MarkedPage first(600, 400, QRect(0, 0, 10, 10), 0x000000);
        MarkedPage second(600, 400, QRect(590, 390, 10, 10), 0x000000);
        QVERIFY(job.startPage());
        QVERIFY(job.drawPage(first.image(), { 0, 0, 600, 400 }));
        QVERIFY(job.endPage());
        QVERIFY(job.startPage());
        QVERIFY(job.drawPage(second.image(), { 0, 0, 600, 400 }));
        QVERIFY(job.endPage());
        // A page started and ended without a drawing comes out blank.
        QVERIFY(job.startPage());
        QVERIFY(job.endPage());
        QVERIFY(job.finish());

        const auto pages = vek::test::ReadPwgRaster(NextSinkJob(kDocumentQueue, before));
        QCOMPARE(pages.size(), 3);
        for (const PwgPage &page : pages) {
            QCOMPARE(page.widthPoints, 595);
            QCOMPARE(page.heightPoints, 841);
            QCOMPARE(page.mediaName, "iso_a4_210x297mm");
        }
        QVERIFY(CheckMark(pages[0], QRect(59, 59, 10, 10), 0).isEmpty());
        QCOMPARE(pages[0].pixel(59 + 595, 59 + 395), kWhite);
        QVERIFY(CheckMark(pages[1], QRect(59 + 590, 59 + 390, 10, 10), 0).isEmpty());
        QCOMPARE(pages[1].pixel(59, 59), kWhite);
        QVERIFY(AllWhite(pages[2]));
        QCOMPARE(vek::test::FindCupsJob(kDocumentQueue, int(job.jobId()))->title, title);
        QCOMPARE(JobState(kDocumentQueue, job.jobId()), IPP_JSTATE_COMPLETED);
    }

    void placementOutsideThePrintableAreaIsCut()
    {
        const Bytes settings = cups::MakeDriverSettings(kDocumentQueue, {});
        const int before = JobCount(kDocumentQueue);
        PageJobStart start = StartPageJob(kDocumentQueue, settings, "Vek cut test");
        QCOMPARE(start.error, PageJobError::None);
        const PrintableArea area = start.job->printableArea();
        MarkedPage page(100, 100, QRect(0, 0, 100, 100), 0x000000);
        QVERIFY(start.job->startPage());
        // Hangs over the right and bottom edges of the printable area.
        QVERIFY(start.job->drawPage(page.image(), { area.width - 50, area.height - 50, 100, 100 }));
        QVERIFY(start.job->endPage());
        QVERIFY(start.job->finish());

        const auto pages = vek::test::ReadPwgRaster(NextSinkJob(kDocumentQueue, before));
        QCOMPARE(pages.size(), 1);
        const int right = 59 + area.width;
        const int bottom = 59 + area.height;
        QCOMPARE(pages[0].pixel(right - 1, bottom - 1), 0);
        QCOMPARE(pages[0].pixel(right - 50, bottom - 50), 0);
        QCOMPARE(pages[0].pixel(right, bottom - 1), kWhite);
        QCOMPARE(pages[0].pixel(right - 1, bottom), kWhite);
    }

    void unfinishedJobIsCancelled_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("abort") << false;
        QTest::newRow("destroyed") << true;
    }
    void unfinishedJobIsCancelled()
    {
        QFETCH(bool, destroy);
        const Bytes settings = cups::MakeDriverSettings(kDocumentQueue, {});
        const int before = JobCount(kDocumentQueue);
        PageJobStart start = StartPageJob(kDocumentQueue, settings, "Vek abort test");
        QCOMPARE(start.error, PageJobError::None);
        const std::uint32_t jobId = start.job->jobId();
        MarkedPage page(600, 400, QRect(0, 0, 10, 10), 0x000000);
        QVERIFY(start.job->startPage());
        QVERIFY(start.job->drawPage(page.image(), { 0, 0, 600, 400 }));
        if (destroy) {
            start.job.reset();
        } else {
            start.job->abort();
            start.job->abort();
        }

        QCOMPARE(JobState(kDocumentQueue, jobId), IPP_JSTATE_CANCELED);
        // A cancelled job is over: the scheduler sends nothing more of it.
        QCOMPARE(JobCount(kDocumentQueue), before);
    }

    void queueRefusingRasterFailsAtTheFinish()
    {
        const Bytes settings = cups::MakeDriverSettings("VekNoRaster", {});
        QVERIFY(!settings.empty());
        PageJobStart start = StartPageJob("VekNoRaster", settings, "Vek refused test");
        QCOMPARE(start.error, PageJobError::None);
        MarkedPage page(600, 400, QRect(0, 0, 10, 10), 0x000000);
        QVERIFY(start.job->startPage());
        QVERIFY(start.job->drawPage(page.image(), { 0, 0, 600, 400 }));
        QVERIFY(start.job->endPage());
        QVERIFY(!start.job->finish());
        QCOMPARE(JobState("VekNoRaster", start.job->jobId()), IPP_JSTATE_CANCELED);
    }

    void startFails_data()
    {
        QTest::addColumn<QByteArray>("queue");
        QTest::addColumn<Bytes>("settings");
        QTest::addColumn<PageJobError>("error");
        const Bytes document = cups::MakeDriverSettings(kDocumentQueue, {});
        QTest::newRow("missing queue")
            << QByteArray("VekNoSuchQueue") << document << PageJobError::CannotOpen;
        QTest::newRow("another queue's settings")
            << QByteArray("VekLabel") << document << PageJobError::CannotOpen;
        QTest::newRow("no settings")
            << QByteArray(kDocumentQueue) << Bytes() << PageJobError::CannotOpen;
        QTest::newRow("NUL in the name")
            << QByteArray("VekDocument\0x", 13) << document << PageJobError::CannotOpen;
    }
    void startFails()
    {
        QFETCH(QByteArray, queue);
        QFETCH(Bytes, settings);
        QFETCH(PageJobError, error);
        const PageJobStart start = StartPageJob(queue.toStdString(), settings, "Vek start test");
        QCOMPARE(start.error, error);
        QVERIFY(!start.job);
    }

    void queueRefusingJobsRejectsTheStart()
    {
        const Bytes settings = cups::MakeDriverSettings(kDocumentQueue, {});
        QVERIFY(RunCupsTool("cupsreject", { kDocumentQueue }));
        const auto acceptAgain = qScopeGuard([] { RunCupsTool("cupsaccept", { kDocumentQueue }); });
        const PageJobStart start = StartPageJob(kDocumentQueue, settings, "Vek rejected test");
        QCOMPARE(start.error, PageJobError::Rejected);
        QVERIFY(!start.job);
    }

    void drawingRefusesBadInput_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bytesPerLine");
        QTest::addColumn<QRect>("placement");
        QTest::newRow("no pixels") << 0 << 10 << 0 << QRect(0, 0, 10, 10);
        QTest::newRow("short rows") << 10 << 10 << 39 << QRect(0, 0, 10, 10);
        QTest::newRow("empty placement") << 10 << 10 << 40 << QRect(0, 0, 0, 10);
        QTest::newRow("negative placement") << 10 << 10 << 40 << QRect(0, 0, 10, -5);
    }
    void drawingRefusesBadInput()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bytesPerLine);
        QFETCH(QRect, placement);
        PageJobStart start = StartPageJob(
            kDocumentQueue, cups::MakeDriverSettings(kDocumentQueue, {}), "Vek bad input");
        QCOMPARE(start.error, PageJobError::None);
        std::vector<std::uint8_t> bits(
            std::size_t(std::max(1, height * std::max(bytesPerLine, 1))), 0);
        QVERIFY(start.job->startPage());
        QVERIFY(!start.job->drawPage({ bits.data(), width, height, std::size_t(bytesPerLine) },
            { placement.x(), placement.y(), placement.width(), placement.height() }));
        QVERIFY(!start.job->endPage());
        QVERIFY(!start.job->finish());
        QCOMPARE(JobState(kDocumentQueue, start.job->jobId()), IPP_JSTATE_CANCELED);
    }
};

QTEST_GUILESS_MAIN(TestLinuxPageOutput)
#include "test_linux_pageoutput.moc"
