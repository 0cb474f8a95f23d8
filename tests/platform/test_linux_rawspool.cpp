#include "platform/rawspool.h"
#include "tests/harness/printsink.h"

#include <QProcess>
#include <QTest>
#include <QUuid>

#include <cups/cups.h>

using vek::platform::PrintRaw;
using vek::platform::RawPrintResult;
using vek::platform::RawPrintStatus;

namespace {

constexpr char kLabelQueue[] = "VekLabel";

std::vector<std::uint8_t> ToBytes(const QByteArray &data)
{
    return { data.begin(), data.end() };
}

QByteArray UniqueMarker()
{
    return "VEK-" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
}

// The title the scheduler keeps for a job of the queue.
QString JobTitle(const char *queue, std::uint32_t jobId)
{
    cups_job_t *jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue, 0, CUPS_WHICHJOBS_ALL);
    QString title;
    for (int i = 0; i < count; ++i) {
        if (jobs[i].id == int(jobId))
            title = QString::fromUtf8(jobs[i].title);
    }
    cupsFreeJobs(count, jobs);
    return title;
}

bool RunCupsTool(const QString &tool, const QStringList &arguments)
{
    return QProcess::execute(tool, arguments) == 0;
}

}  // namespace

class TestLinuxRawSpool : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        cupsSetServer(nullptr);  // back to CUPS_SERVER
    }

    void bytesReachThePrinterUnchanged()
    {
        const QByteArray marker = UniqueMarker();
        QByteArray data("^XA\r\n^FO20,20^FD");
        data += marker;
        data += QByteArray("^FS\r\n^XZ\r\n\0\xff\x00\x1b@", 12);
        for (int i = 0; i < 256; ++i)
            data += char(i);

        const RawPrintResult result = PrintRaw(kLabelQueue, "Order 1042 labels", ToBytes(data));
        QCOMPARE(result.status, RawPrintStatus::Sent);
        QCOMPARE(QString::fromStdString(result.message), QString());
        QVERIFY(result.jobId > 0);
        QCOMPARE(vek::test::WaitForSinkJob(kLabelQueue, marker), data);
    }

    void jobTitle_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("title");
        QTest::newRow("named") << "Order 1042 – étiquettes"
                               << "Order 1042 – étiquettes";
        QTest::newRow("unnamed") << "" << vek::platform::kDefaultJobTitle;
        // IPP names hold 255 octets; a longer name is cut, never split inside a character.
        QTest::newRow("long") << QString(100, 'a') + QString(100, QChar(0xE9))
                              << QString(100, 'a') + QString(77, QChar(0xE9));
    }
    void jobTitle()
    {
        QFETCH(QString, document);
        QFETCH(QString, title);
        const QByteArray marker = UniqueMarker();
        const RawPrintResult result
            = PrintRaw(kLabelQueue, document.toStdString(), ToBytes(marker));
        QCOMPARE(result.status, RawPrintStatus::Sent);
        QVERIFY(!vek::test::WaitForSinkJob(kLabelQueue, marker).isEmpty());
        QCOMPARE(JobTitle(kLabelQueue, result.jobId), title);
    }

    void emptyRequestsNeverReachTheScheduler_data()
    {
        QTest::addColumn<QString>("printer");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("no printer name") << "" << QByteArray("data");
        QTest::newRow("nothing to print") << kLabelQueue << QByteArray();
    }
    void emptyRequestsNeverReachTheScheduler()
    {
        QFETCH(QString, printer);
        QFETCH(QByteArray, data);
        // With no scheduler to ask, a call that asked it would fail differently.
        cupsSetServer("/nonexistent/cups.sock");
        const RawPrintResult result = PrintRaw(printer.toStdString(), "doc", ToBytes(data));
        QCOMPARE(result.status, RawPrintStatus::PrinterMissing);
        QCOMPARE(QString::fromStdString(result.message),
            "There is no printer name or nothing to print.");
        QCOMPARE(result.jobId, 0u);
    }

    void missingQueue()
    {
        const RawPrintResult result = PrintRaw("VekRemovedQueue", "doc", ToBytes("data"));
        QCOMPARE(result.status, RawPrintStatus::PrinterMissing);
        QCOMPARE(QString::fromStdString(result.message),
            "The workstation could not open printer 'VekRemovedQueue' (CUPS error 1030: "
            "The printer or class does not exist.)");
        QCOMPARE(result.jobId, 0u);
    }

    void unreachableSchedulerIsNotAMissingQueue()
    {
        cupsSetServer("/nonexistent/cups.sock");
        const RawPrintResult result = PrintRaw(kLabelQueue, "doc", ToBytes("data"));
        QCOMPARE(result.status, RawPrintStatus::StartFailed);
        const QString message = QString::fromStdString(result.message);
        QVERIFY2(
            message.startsWith("The workstation could not open printer 'VekLabel' (CUPS error "),
            qPrintable(message));
        QVERIFY(message.endsWith(")"));
    }

    void queueRefusingJobs()
    {
        QVERIFY(RunCupsTool("cupsreject", { kLabelQueue }));
        const RawPrintResult result = PrintRaw(kLabelQueue, "doc", ToBytes(UniqueMarker()));
        QVERIFY(RunCupsTool("cupsaccept", { kLabelQueue }));

        QCOMPARE(result.status, RawPrintStatus::StartFailed);
        QCOMPARE(result.jobId, 0u);
        const QString message = QString::fromStdString(result.message);
        QVERIFY2(message.startsWith(
                     "The workstation could not start a job on 'VekLabel' (CUPS error 1286"),
            qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestLinuxRawSpool)
#include "test_linux_rawspool.moc"
