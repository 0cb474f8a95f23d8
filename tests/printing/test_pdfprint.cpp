#include "platform/driversettings.h"
#include "printing/pdfprint.h"
#include "printing/profilestore.h"
#include "printing/systemtexts.h"
#include "tests/harness/cupsjobs.h"
#include "tests/harness/printsink.h"
#include "tests/harness/pwgraster.h"
#include "tests/printing/testpdf.h"
#include "tests/printing/testprofile.h"

#include <QCoreApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <cups/cups.h>

#include <memory>

using namespace vek::printing;
using vek::test::DrawnPdf;
using vek::test::kMarkSizePt;
using vek::test::MarkOrigin;

namespace {

constexpr const char *kDocumentQueue = "VekDocument";
constexpr const char *kNoRasterQueue = "VekNoRaster";
constexpr const char *kLabelQueue = "VekLabel";

constexpr const char *kProfileChanged = "Printer disabled or profile changed";
constexpr const char *kDriverChanged = "Printer driver changed; save the profile again";
constexpr const char *kInterrupted
    = "Print transmission interrupted; check output before reprinting";

const QSizeF kA4(595, 842);
const QSizeF kA5(420, 595);

QString NewId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

using vek::test::CupsJob;

QList<CupsJob> Jobs(const char *queue)
{
    return vek::test::CupsJobs(queue);
}

std::optional<CupsJob> Job(const char *queue, int id)
{
    return vek::test::FindCupsJob(queue, id);
}

bool IsDark(std::int64_t colour)
{
    return colour >= 0 && qGray(QRgb(colour)) < 64;
}

bool IsWhite(std::int64_t colour)
{
    return colour >= 0 && qGray(QRgb(colour)) > 224;
}

}  // namespace

class TestPdfPrint : public QObject {
    Q_OBJECT

private:
    QTemporaryDir config_;
    QString documentProfile_;

private slots:
    void initTestCase()
    {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        QCoreApplication::setOrganizationName(QStringLiteral("Vekworks"));
        QCoreApplication::setApplicationName(QStringLiteral("Vek Print Agent"));
        documentProfile_ = vek::test::SaveDefaultProfile(kDocumentQueue).id;
        QVERIFY2(!documentProfile_.isEmpty(), "the document queue's settings were captured");
    }

    // Every refusal before a job exists: status 2, no job number, the exact
    // text, and nothing created on the queue.
    void refusals_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("error");

        QTest::newRow("one byte over the size limit") << "oversized"
                                                      << "Invalid or oversized PDF";
        QTest::newRow("not a PDF") << "text"
                                   << "Invalid or oversized PDF";
        QTest::newRow("damaged PDF") << "damaged"
                                     << "Unreadable, encrypted or oversized PDF";
        QTest::newRow("101 pages") << "101 pages"
                                   << "Unreadable, encrypted or oversized PDF";
        QTest::newRow("encrypted") << "encrypted"
                                   << "Unreadable, encrypted or oversized PDF";
        QTest::newRow("second page over the pixel cap") << "huge page"
                                                        << "Unreadable, encrypted or oversized PDF";
        QTest::newRow("queue not allowed") << "disabled" << kProfileChanged;
        QTest::newRow("other version expected") << "wrong version" << kProfileChanged;
        QTest::newRow("0 copies") << "0 copies" << kProfileChanged;
        QTest::newRow("11 copies") << "11 copies" << kProfileChanged;
        QTest::newRow("settings changed under their version") << "tampered" << kProfileChanged;
        QTest::newRow("profile id in upper case") << "upper-case id" << kProfileChanged;
        QTest::newRow("profile id as a path") << "path id" << kProfileChanged;
        QTest::newRow("unknown profile") << "unknown id" << kProfileChanged;
        QTest::newRow("settings never saved") << "no settings" << kDriverChanged;
        QTest::newRow("another queue's settings") << "foreign settings" << kDriverChanged;
    }

    void refusals()
    {
        QFETCH(QString, fault);
        QFETCH(QString, error);

        QString queue = QString::fromLatin1(kDocumentQueue);
        QString profileId = documentProfile_;
        QString version = ReadProfile(queue, profileId).version;
        QByteArray pdf = DrawnPdf({ kA4, kA5 });
        int copies = 1;
        const auto restoreEnabled = qScopeGuard([] { SetQueueEnabled(kDocumentQueue, true); });

        if (fault == "oversized") {
            pdf += '%' + QByteArray(kMaxPdfBytes - pdf.size(), 'x');
        } else if (fault == "text") {
            pdf = "Hello, printer\n";
        } else if (fault == "damaged") {
            pdf = pdf.left(pdf.size() / 3);
        } else if (fault == "101 pages") {
            pdf = vek::test::WrittenPdf(QList<QSizeF>(101, kA4));
        } else if (fault == "encrypted") {
            QString why;
            pdf = vek::test::EncryptedPdf(pdf, &why);
            QVERIFY2(!pdf.isEmpty(), qPrintable(why));
        } else if (fault == "huge page") {
            pdf = DrawnPdf({ kA4, QSizeF(1200, 1921) });
        } else if (fault == "disabled") {
            SetQueueEnabled(kDocumentQueue, false);
        } else if (fault == "wrong version") {
            version = SettingsVersion("other settings");
        } else if (fault == "0 copies") {
            copies = 0;
        } else if (fault == "11 copies") {
            copies = 11;
        } else if (fault == "tampered") {
            profileId = vek::test::SaveDefaultProfile(kDocumentQueue).id;
            QSettings settings;
            const QString key = QueueSettingsKey(queue) + "/profiles/" + profileId + "/devmode";
            settings.setValue(key, settings.value(key).toByteArray() + "option Darkness=15\n");
            settings.sync();
            QCOMPARE(ReadProfile(queue, profileId).version, version);
        } else if (fault == "upper-case id") {
            profileId = profileId.toUpper();
            QSettings().setValue(
                QueueSettingsKey(queue) + "/profiles/" + profileId + "/version", version);
        } else if (fault == "path id") {
            profileId = "../profiles/" + profileId;
        } else if (fault == "unknown id") {
            profileId = NewId();
        } else if (fault == "no settings") {
            profileId = NewId();
            QVERIFY(WriteProfile(queue, profileId, QStringLiteral("Empty"), {}, 210, 297));
            version = SettingsVersion({});
        } else if (fault == "foreign settings") {
            profileId = NewId();
            const QByteArray label = vek::test::CapturedSettings(kLabelQueue);
            QVERIFY(!label.isEmpty());
            QVERIFY(WriteProfile(queue, profileId, QStringLiteral("Label"), label, 50, 25));
            version = SettingsVersion(label);
        } else {
            QFAIL("unknown fault");
        }

        const auto jobsBefore = Jobs(kDocumentQueue).size();
        const PdfPrintResult result = PrintPdfWithProfile(
            queue, profileId, version, pdf, copies, QStringLiteral("order-1"));
        QCOMPARE(QString::fromStdString(result.error), error);
        QCOMPARE(result.status, std::int32_t(PdfPrintResult::Refused));
        QCOMPARE(result.spoolJobId, 0u);
        QCOMPARE(Jobs(kDocumentQueue).size(), jobsBefore);
    }

    void printsCopiesOutsidePagesInside()
    {
        // Page 1 (A5) fits the printable area and keeps its size; page 2 (A4)
        // is larger than the area of A4 paper with 5 mm margins and shrinks.
        const QByteArray pdf = DrawnPdf({ kA5, kA4 });
        const QString version = ReadProfile(kDocumentQueue, documentProfile_).version;
        const QString orderId
            = QStringLiteral("order-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
        const auto sheetsBefore = vek::test::SinkJobs(kDocumentQueue).size();

        const PdfPrintResult result
            = PrintPdfWithProfile(kDocumentQueue, documentProfile_, version, pdf, 3, orderId);
        QCOMPARE(result.error, std::string());
        QCOMPARE(result.status, std::int32_t(PdfPrintResult::Spooled));
        QVERIFY(result.spoolJobId != 0);
        const auto job = Job(kDocumentQueue, int(result.spoolJobId));
        QVERIFY(job);
        QCOMPARE(job->title, "Vek " + orderId);

        QTRY_COMPARE_WITH_TIMEOUT(
            vek::test::SinkJobs(kDocumentQueue).size(), sheetsBefore + 1, 30000);
        const QByteArray stream = vek::test::SinkJobs(kDocumentQueue).last();

        // The A4 sheet (210 × 297 mm) at 300 dpi is 2480 × 3507 whole pixels;
        // the 5 mm margins are 59 pixels.
        constexpr int kMargin = 59;
        constexpr int kAreaWidth = 2480 - 2 * kMargin;
        const auto px = [](double points) { return points * 300 / 72; };
        // Page 1 at its physical size, centred across the area.
        const int page1Left = kMargin + (kAreaWidth - int(px(kA5.width()))) / 2;
        const QPoint mark1(page1Left + int(px(MarkOrigin(1).x() + kMarkSizePt / 2)),
            kMargin + int(px(MarkOrigin(1).y() + kMarkSizePt / 2)));
        // Page 2 shrunk to the area's width.
        const double scale = kAreaWidth / px(kA4.width());
        const QPoint mark2(kMargin + int(px(MarkOrigin(2).x() + kMarkSizePt / 2) * scale),
            kMargin + int(px(MarkOrigin(2).y() + kMarkSizePt / 2) * scale));
        // Just left of page 1, and just below page 2's bottom edge.
        const QPoint beside1(page1Left - 20, mark1.y());
        const QPoint below2(1240, kMargin + int(px(kA4.height()) * scale) + 20);
        // Inside both pages, away from the marks: the page's own background,
        // which the renderer leaves transparent, is paper white.
        const QPoint inside(1240, 1600);

        const QList<vek::test::PwgPage> sheets = vek::test::ReadPwgRaster(stream);
        QCOMPARE(sheets.size(), 6);
        for (qsizetype i = 0; i < sheets.size(); ++i) {
            const vek::test::PwgPage &sheet = sheets.at(i);
            const bool first = i % 2 == 0;
            const QByteArray where = "sheet " + QByteArray::number(i + 1);
            QCOMPARE(QSize(sheet.widthPixels, sheet.heightPixels), QSize(2480, 3507));
            QCOMPARE(QSize(sheet.dpiX, sheet.dpiY), QSize(300, 300));
            const auto at = [&](QPoint p) { return sheet.pixel(p.x(), p.y()); };
            QVERIFY2(IsDark(at(first ? mark1 : mark2)), where + " has its page's mark");
            QVERIFY2(IsWhite(at(first ? mark2 : mark1)), where + " lacks the other page's mark");
            QVERIFY2(
                IsWhite(at(beside1)) && IsWhite(at(below2)), where + " is white around the page");
            QVERIFY2(IsWhite(at(inside)), where + " is white inside the page");
        }
    }

    void jobTitleKeepsToTheSpoolersLimit()
    {
        // An order id with a line break, long enough to reach the title limit
        // in the middle of a two-byte character.
        const QString orderId = "line\nbreak" + QString(300, QChar(0x00e9));
        const PdfPrintResult result = PrintPdfWithProfile(kDocumentQueue, documentProfile_,
            ReadProfile(kDocumentQueue, documentProfile_).version, DrawnPdf({ kA5 }), 1, orderId);
        QCOMPARE(result.status, std::int32_t(PdfPrintResult::Spooled));
        const auto job = Job(kDocumentQueue, int(result.spoolJobId));
        QVERIFY(job);
        // "Vek line break" is 14 bytes; 120 whole characters fill 240 of the
        // remaining 241 bytes.
        QCOMPARE(job->title, "Vek line break" + QString(120, QChar(0x00e9)));
    }

    void driverChangedUnderSavedProfile()
    {
        const QString id = vek::test::SaveDefaultProfile(kDocumentQueue).id;
        QVERIFY(!id.isEmpty());
        const QString version = ReadProfile(kDocumentQueue, id).version;

        // The queue gets another driver; the saved settings no longer fit it.
        const QString harness = QStringLiteral(VEK_TEST_HARNESS_DIR);
        const auto setDriver = [](const QString &ppd) {
            return QProcess::execute(QStringLiteral("lpadmin"),
                { QStringLiteral("-p"), QString::fromLatin1(kDocumentQueue), QStringLiteral("-P"),
                    ppd });
        };
        const auto restore = qScopeGuard([&] { setDriver(harness + "/document-printer.ppd"); });
        QCOMPARE(setDriver(harness + "/label-printer.ppd"), 0);

        const auto jobsBefore = Jobs(kDocumentQueue).size();
        const PdfPrintResult result = PrintPdfWithProfile(
            kDocumentQueue, id, version, DrawnPdf({ kA4 }), 1, QStringLiteral("order-2"));
        QCOMPARE(QString::fromStdString(result.error), QString::fromLatin1(kDriverChanged));
        QCOMPARE(result.status, std::int32_t(PdfPrintResult::Refused));
        QCOMPARE(result.spoolJobId, 0u);
        QCOMPARE(Jobs(kDocumentQueue).size(), jobsBefore);
    }

    void queueRefusingRasterAtTheFinish()
    {
        const QString id = vek::test::SaveDefaultProfile(kNoRasterQueue).id;
        QVERIFY(!id.isEmpty());
        const PdfPrintResult result
            = PrintPdfWithProfile(kNoRasterQueue, id, ReadProfile(kNoRasterQueue, id).version,
                DrawnPdf({ kA4, kA5 }), 2, QStringLiteral("order-3"));
        QCOMPARE(QString::fromStdString(result.error), QString::fromLatin1(kInterrupted));
        QCOMPARE(result.status, std::int32_t(PdfPrintResult::Interrupted));
        QVERIFY(result.spoolJobId != 0);
        // The job the spooler would not take does not stay queued to print later.
        const auto job = Job(kNoRasterQueue, int(result.spoolJobId));
        QVERIFY(job);
        QVERIFY2(job->state >= IPP_JSTATE_STOPPED && job->state != IPP_JSTATE_COMPLETED,
            qPrintable(QString::number(job->state)));
    }
};

QTEST_MAIN(TestPdfPrint)
#include "test_pdfprint.moc"
