// The worker killed at every step of a paired print, then started again on
// the same directories with normal replies: the server ends with exactly one
// final outcome per reported order, nothing is printed without an
// acknowledged STARTED, and no journal is left behind.

#include "pairedfixture.h"

#include "agent/printjournal.h"
#include "printing/profilestore.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/printing/testpdf.h"
#include "tests/printing/testprofile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cups/cups.h>

using namespace std::chrono_literals;
using vek::test::DesktopPath;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;

namespace {

constexpr char kQueue[] = "VekDocument";
constexpr auto kWait = 60000;  // ms; a run of the host normally takes a second or two
const QString kAnnounce = DesktopPath("announce");
const QString kClaim = DesktopPath("claim");
const QString kReport = DesktopPath("report");
const QString kServers = DesktopPath("servers");
const QString kDevice = "vekpa-0123456789abcdef0123456789abcdef";

// Where the host stops the first time.
enum class Kill {
    HoldAfterClaim,  // the worker holds at its "claimed order" step
    HoldStartedOnDisk,
    HangStartedReport,  // the server never answers the STARTED report
    WhilePrinting,  // the CUPS job exists
    HoldFinalOnDisk,
    HangFinalReport,
    OtherServerDown,  // no kill: the second server is down with a journal
};

}  // namespace

Q_DECLARE_METATYPE(Kill)

class KillMatrixTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void matrix_data();
    void matrix();

private:
    QList<QJsonObject> reports(const FakeClinicServer &server, const QString &orderId) const;
    QTemporaryDir settings;
    QString profileId;
    QString profileVersion;
};

void KillMatrixTest::initTestCase()
{
    QVERIFY(settings.isValid());
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QCoreApplication::setOrganizationName("Vekworks");
    QCoreApplication::setApplicationName("Vek Print Agent");
    const vek::test::TestProfile profile = vek::test::SaveDefaultProfile(kQueue);
    QVERIFY(!profile.id.isEmpty());
    profileId = profile.id;
    profileVersion = profile.version;
}

QList<QJsonObject> KillMatrixTest::reports(
    const FakeClinicServer &server, const QString &orderId) const
{
    QList<QJsonObject> list;
    for (const auto &request : server.requestsTo(kReport)) {
        if (request.json.value("orderId").toString() == orderId)
            list.append(request.json);
    }
    return list;
}

void KillMatrixTest::matrix_data()
{
    QTest::addColumn<Kill>("kill");
    QTest::addColumn<QString>("expected");  // outcome/reason of each report of the order, in order

    QTest::newRow("after the claim reply, before the STARTED record") << Kill::HoldAfterClaim << "";
    QTest::newRow("STARTED on disk, not yet sent")
        << Kill::HoldStartedOnDisk << "FAILED/PRINT_OUTCOME_UNKNOWN";
    QTest::newRow("STARTED sent, reply not received")
        << Kill::HangStartedReport << "STARTED/ FAILED/PRINT_OUTCOME_UNKNOWN";
    QTest::newRow("printing, the CUPS job exists")
        << Kill::WhilePrinting << "STARTED/ FAILED/PRINT_OUTCOME_UNKNOWN";
    QTest::newRow("final record on disk, not sent") << Kill::HoldFinalOnDisk << "STARTED/ SPOOLED/";
    QTest::newRow("final report sent, reply not received")
        << Kill::HangFinalReport << "STARTED/ SPOOLED/ SPOOLED/";
    QTest::newRow("two servers, one down with a pending journal")
        << Kill::OtherServerDown << "STARTED/ SPOOLED/";
}

void KillMatrixTest::matrix()
{
    QFETCH(Kill, kill);
    QFETCH(QString, expected);

    QTemporaryDir data;
    QVERIFY(data.isValid());
    qputenv("XDG_DATA_HOME", data.path().toUtf8());

    FakeClinicServer primary;
    FakeClinicServer second;
    QVERIFY(primary.start());
    QVERIFY(second.start());
    for (FakeClinicServer *server : { &primary, &second }) {
        server->setReply(kServers, ScriptedReply::Json(200, {}));
        server->setReply(kAnnounce, ScriptedReply::Json(200, {}));
        server->setReply(kClaim, ScriptedReply::Json(200, {}));
        server->setReply(kReport, ScriptedReply::Json(200, {}));
    }
    const bool twoServers = kill == Kill::OtherServerDown;
    primary.setReply(kServers,
        ScriptedReply::Json(200,
            { { "servers",
                twoServers ? QJsonArray { QJsonObject { { "url", second.baseUrl() } } }
                           : QJsonArray {} } }));

    const QString orderId = "kill-" + QString::number(int(kill));
    const QString title = "Vek " + orderId;
    // The worker is held after the first page went to the open job.
    const int pages = kill == Kill::WhilePrinting ? 2 : 1;
    const QByteArray pdf = vek::test::DrawnPdf(QList<QSizeF>(pages, QSizeF(595, 842)));
    primary.queueReply(kClaim,
        ScriptedReply::Json(200,
            { { "order", vek::test::PdfOrder(orderId, pdf, kQueue, profileId, profileVersion) } }));
    const QJsonObject secondPending { { "orderId", "pending-2" }, { "claimToken", "c-2" },
        { "outcome", "SPOOLED" }, { "spoolJobId", "77" } };

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess host;
    host.setProgram(QCoreApplication::applicationDirPath() + "/pairedhost");
    QStringList arguments { primary.baseUrl() };
    if (twoServers) {
        arguments.append(second.baseUrl());
        QVERIFY(vek::agent::WriteJournalAtomically(
            vek::agent::PrintJournalPath(second.baseUrl(), kDevice), secondPending));
        second.setReply(kReport, ScriptedReply::Json(503, {}));
        second.setReply(kAnnounce, ScriptedReply::Json(503, {}));
    }
    host.setArguments(arguments);
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);

    const char *hold = nullptr;
    switch (kill) {
    case Kill::HoldAfterClaim:
        hold = "claimed order";
        break;
    case Kill::HoldStartedOnDisk:
        hold = "STARTED record on disk";
        break;
    case Kill::HoldFinalOnDisk:
        hold = "final record on disk";
        break;
    case Kill::WhilePrinting:
        hold = "page 1 of copy 1 handed to the spooler";
        break;
    case Kill::HangStartedReport:
        primary.queueReply(kReport, ScriptedReply::Hang());
        break;
    case Kill::HangFinalReport:
        primary.queueReply(kReport, ScriptedReply::Json(200, {}));
        primary.queueReply(kReport, ScriptedReply::Hang());
        break;
    case Kill::OtherServerDown:
        break;
    }
    if (hold)
        environment.insert("VEK_HOST_HOLD", hold);
    host.setProcessEnvironment(environment);
    host.start();
    QVERIFY(host.waitForStarted());
    const auto killHost = qScopeGuard([&host] {
        host.kill();
        host.waitForFinished();
    });

    // First run, up to the kill point.
    QByteArray output;
    const auto readOutput = [&] {
        output += host.readAllStandardOutput();
        return output;
    };
    switch (kill) {
    case Kill::HoldAfterClaim:
    case Kill::HoldStartedOnDisk:
    case Kill::HoldFinalOnDisk:
    case Kill::WhilePrinting:
        QTRY_VERIFY_WITH_TIMEOUT(readOutput().contains("held: "), kWait);
        break;
    case Kill::HangStartedReport:
        QTRY_VERIFY_WITH_TIMEOUT(reports(primary, orderId).size() == 1, kWait);
        break;
    case Kill::HangFinalReport:
        QTRY_VERIFY_WITH_TIMEOUT(reports(primary, orderId).size() == 2, kWait);
        break;
    case Kill::OtherServerDown:
        QTRY_VERIFY_WITH_TIMEOUT(readOutput().contains("job " + orderId.toUtf8()), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(
            readOutput().contains("Waiting to report the previous print outcome."), kWait);
        break;
    }
    host.kill();
    QVERIFY(host.waitForFinished());
    // The job cut off by the kill must not hold up the queue for later rows.
    const auto cancelCutJobs = qScopeGuard([&] {
        if (kill == Kill::WhilePrinting) {
            for (const int job : vek::test::CupsJobsTitled(kQueue, title))
                cupsCancelJob2(CUPS_HTTP_DEFAULT, kQueue, job, 0);
        }
    });
    if (kill == Kill::WhilePrinting)
        QCOMPARE(reports(primary, orderId).size(), 1);  // killed before the outcome

    // Second run, normal replies, until each server has been served again.
    environment.remove("VEK_HOST_HOLD");
    host.setProcessEnvironment(environment);
    if (kill == Kill::HangFinalReport)
        primary.queueReply(kReport, ScriptedReply::Json(409, {}));
    second.setReply(kReport, ScriptedReply::Json(200, {}));
    second.setReply(kAnnounce, ScriptedReply::Json(200, {}));
    const qsizetype primaryBefore = primary.requests().size();
    const qsizetype claimsBefore = primary.requestsTo(kClaim).size();
    const qsizetype secondClaimsBefore = second.requestsTo(kClaim).size();
    host.start();
    QVERIFY(host.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(primary.requestsTo(kClaim).size() > claimsBefore, kWait);
    if (twoServers)
        QTRY_VERIFY_WITH_TIMEOUT(second.requestsTo(kClaim).size() > secondClaimsBefore, kWait);
    host.kill();
    QVERIFY(host.waitForFinished());

    QStringList seen;
    for (const QJsonObject &report : reports(primary, orderId))
        seen.append(report.value("outcome").toString() + "/" + report.value("reason").toString());
    QCOMPARE(seen.join(' '), expected);

    // One final outcome per reported order; repeats identical.
    QList<QJsonObject> finals;
    for (const QJsonObject &report : reports(primary, orderId)) {
        if (report.value("outcome").toString() != "STARTED")
            finals.append(report);
    }
    for (const QJsonObject &repeat : finals)
        QCOMPARE(repeat, finals.first());
    QCOMPARE(finals.isEmpty(), expected.isEmpty());

    // Paper only after an acknowledged STARTED, and the job number reported.
    const QList<int> jobs = vek::test::CupsJobsTitled(kQueue, title);
    const bool acknowledged = kill == Kill::WhilePrinting || kill == Kill::HoldFinalOnDisk
        || kill == Kill::HangFinalReport || kill == Kill::OtherServerDown;
    QCOMPARE(jobs.size(), acknowledged ? 1 : 0);
    if (!finals.isEmpty() && finals.first().value("outcome").toString() == "SPOOLED")
        QCOMPARE(finals.first().value("spoolJobId").toString(), QString::number(jobs.value(0)));

    // A STARTED record on disk is settled before anything else is done.
    if (kill == Kill::HoldStartedOnDisk || kill == Kill::HangStartedReport
        || kill == Kill::WhilePrinting || kill == Kill::HoldFinalOnDisk) {
        const auto second_run = primary.requests().mid(primaryBefore);
        QVERIFY(second_run.size() >= 2);
        QCOMPARE(second_run[0].path, kServers);
        QCOMPARE(second_run[1].path, kReport);
    }
    if (twoServers) {
        const QList<QJsonObject> settled = reports(second, "pending-2");
        QVERIFY(!settled.isEmpty());
        QCOMPARE(settled.last(), secondPending);
    }
    const QStringList left = QDir(data.path() + "/Vekworks/Vek Print Agent")
                                 .entryList({ "print-journal-*" }, QDir::Files);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
}

QTEST_MAIN(KillMatrixTest)
#include "test_killmatrix.moc"
