#include "platform/rawspool.h"
#include "tests/contract/rawspoolcontract.h"
#include "tests/harness/cupsjobs.h"
#include "tests/harness/printsink.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QUuid>

#include <cups/cups.h>

using vek::platform::PrintRaw;
using vek::platform::RawPrintResult;
using vek::platform::RawPrintStatus;

namespace {

constexpr char kLabelQueue[] = "VekLabel";
constexpr char kOfficeQueue[] = "VekOffice";

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
    const auto job = vek::test::FindCupsJob(queue, int(jobId));
    return job ? job->title : QString();
}

// The highest job number the scheduler has seen for the queue, 0 for none.
int LastJobOf(const char *queue)
{
    int last = 0;
    for (const auto &job : vek::test::CupsJobs(queue))
        last = std::max(last, job.id);
    return last;
}

bool RunCupsTool(const QString &tool, const QStringList &arguments)
{
    return QProcess::execute(tool, arguments) == 0;
}

}  // namespace

class TestLinuxRawSpool : public QObject {
    Q_OBJECT

    const std::string marker = UniqueMarker().toStdString();
    int lastOfficeJob = 0;

private slots:
    void init() { lastOfficeJob = LastJobOf(kOfficeQueue); }
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

    // The promises both backends keep; the Windows tests run the same table.
    void contract_data()
    {
        QTest::addColumn<int>("row");
        const auto cases = vek::platform::contract::RawSpoolCases(kOfficeQueue, marker);
        for (std::size_t i = 0; i < cases.size(); ++i)
            QTest::newRow(cases[i].name.c_str()) << int(i);
    }
    void contract()
    {
        QFETCH(int, row);
        const auto c = vek::platform::contract::RawSpoolCases(kOfficeQueue, marker).at(row);
        const RawPrintResult result = PrintRaw(c.printer, c.document, c.data);
        const std::string broken = vek::platform::contract::CheckRawSpoolResult(c, result);
        QVERIFY2(broken.empty(), broken.c_str());
        if (c.status == RawPrintStatus::Sent) {
            const QByteArray data(reinterpret_cast<const char *>(c.data.data()), c.data.size());
            QCOMPARE(vek::test::WaitForSinkJob(kOfficeQueue, data), data);
            QCOMPARE(JobTitle(kOfficeQueue, result.jobId), QString::fromStdString(c.title));
        } else {
            // Nothing may reach the queue named before the NUL.
            QCOMPARE(LastJobOf(kOfficeQueue), lastOfficeJob);
        }
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
        const auto acceptAgain = qScopeGuard([] { RunCupsTool("cupsaccept", { kLabelQueue }); });
        const RawPrintResult result = PrintRaw(kLabelQueue, "doc", ToBytes(UniqueMarker()));

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
