// The whole road of local-node mode: the real worker on its own thread,
// a fake clinic node on loopback, and the private CUPS daemon whose queues
// deliver to a sink printer.

#include "agent/agentworker.h"
#include "agent/clinicapi.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/harness/printsink.h"
#include "tests/harness/threadedworker.h"

#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

using namespace std::chrono_literals;
using vek::agent::AgentConfig;
using vek::agent::AgentState;
using vek::agent::AgentWorker;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;
namespace clinic = vek::agent::clinic;

namespace {

QJsonObject Order(const QString &id, const QJsonObject &printer, const QJsonValue &spool)
{
    QJsonObject order { { "id", id }, { "kind", "LABEL" }, { "printer", printer } };
    if (!spool.isUndefined())
        order.insert("spool", spool);
    return { { "order", order } };
}

QJsonObject SystemPrinter(const QString &queue)
{
    return { { "transport", "SYSTEM" }, { "name", "Front desk labels" }, { "systemName", queue } };
}

QJsonObject RawSpool(const QByteArray &data, const QString &documentName = "Label")
{
    return { { "datatype", "RAW" }, { "dataBase64", QString::fromLatin1(data.toBase64()) },
        { "documentName", documentName } };
}

QByteArray UniqueJob(const QByteArray &name)
{
    QByteArray job = "^XA^FO50,50^FD" + name + "-"
        + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + "^FS";
    for (int byte = 0; byte < 256; ++byte)
        job.append(char(byte));
    return job + "\r\n^XZ";
}

}  // namespace

class LocalNodePrintingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void labelOrderReachesThePrinter();
    void refusedOrdersAreReportedAndTheNextClaimFollows();
    void failingStartedReportDoesNotStopThePrint();
    void conflictMakesTheNextTickCheckInFirst();
    void unauthorizedSignsOutAndStopsPolling();
    void printersAreReportedOnlyWhenTheyChange();
    void shutdownForUpdateLetsThePrintFinish();

private:
    void startWorker();
    QStringList reportOutcomes() const;

    std::unique_ptr<FakeClinicServer> server;
    std::unique_ptr<vek::test::ThreadedWorker> road;
    AgentWorker *worker = nullptr;
};

void LocalNodePrintingTest::initTestCase()
{
    vek::agent::RegisterAgentMetaTypes();
    QVERIFY2(!vek::test::CupsServer().isEmpty(), "the tests print through the private CUPS daemon");
}

void LocalNodePrintingTest::init()
{
    server = std::make_unique<FakeClinicServer>();
    QVERIFY(server->start());
    server->setReply(clinic::kCheckInPath, ScriptedReply::Json(200, {}));
    server->setReply(
        clinic::kClaimPath, ScriptedReply::Json(200, { { "order", QJsonValue::Null } }));
    server->setReply(clinic::kReportPath, ScriptedReply::Json(200, {}));

    road = std::make_unique<vek::test::ThreadedWorker>();
    worker = road->worker();
}

void LocalNodePrintingTest::cleanup()
{
    road.reset();
    server.reset();
}

void LocalNodePrintingTest::startWorker()
{
    road->start(vek::test::ThreadedWorker::EnrolledConfig(server->baseUrl()));
}

QStringList LocalNodePrintingTest::reportOutcomes() const
{
    QStringList outcomes;
    for (const auto &report : server->requestsTo(clinic::kReportPath))
        outcomes.append(report.json.value("outcome").toString());
    return outcomes;
}

void LocalNodePrintingTest::labelOrderReachesThePrinter()
{
    const QByteArray job = UniqueJob("label");
    server->queueReply(clinic::kClaimPath,
        ScriptedReply::Json(200, Order("o-1", SystemPrinter("VekLabel"), RawSpool(job))));
    QSignalSpy finished(worker, &AgentWorker::jobFinished);
    startWorker();

    QVERIFY(finished.wait(20000));
    QCOMPARE(finished[0][0].toString(), QString("o-1"));
    QCOMPARE(finished[0][1].toBool(), true);
    QCOMPARE(finished[0][2].toString(), QString("VekLabel"));
    QCOMPARE(vek::test::WaitForSinkJob("VekLabel", job.left(30)), job);

    const QString in = clinic::kCheckInPath, claim = clinic::kClaimPath,
                  report = clinic::kReportPath;
    QTRY_VERIFY(server->paths().size() >= 5);
    QCOMPARE(server->paths().mid(0, 5), (QStringList { in, claim, report, report, claim }));
    QCOMPARE(reportOutcomes(), (QStringList { "STARTED", "COMPLETED" }));
    const QJsonObject completed = server->requestsTo(report)[1].json;
    QCOMPARE(completed,
        QJsonObject({ { "deviceId", "vekpa-0123456789abcdef0123456789abcdef" },
            { "orderId", "o-1" }, { "outcome", "COMPLETED" } }));

    // The check-in lists the queues with their kinds, and the disc writers.
    const QJsonObject checkIn = server->requestsTo(in)[0].json;
    QCOMPARE(checkIn.value("appVersion").toString(), QString("1.0.38"));
    QCOMPARE(checkIn.value("displayName").toString(), QString("Reception"));
    QVERIFY(checkIn.value("burners").isArray());
    const QJsonArray queues = checkIn.value("queues").toArray();
    QVERIFY(queues.contains(
        QJsonObject { { "systemName", "VekLabel" }, { "name", "VekLabel" }, { "kind", "LABEL" } }));
    QVERIFY(queues.contains(QJsonObject {
        { "systemName", "VekOffice" }, { "name", "VekOffice" }, { "kind", "DOCUMENT" } }));
    QCOMPARE(server->requestsTo(claim)[0].headers.value("authorization"),
        QByteArray("Bearer node-credential"));
    // The order made the next claim immediate.
    QCOMPARE(road->scheduler().delays().mid(0, 2), (QList<std::chrono::milliseconds> { 0ms, 0ms }));
}

void LocalNodePrintingTest::refusedOrdersAreReportedAndTheNextClaimFollows()
{
    const QJsonObject spool = RawSpool("^XA^XZ");
    const QJsonObject zplWithoutQueue { { "transport", "ZPL_TCP" }, { "host", "printer.local" },
        { "port", 9100 } };
    struct Refusal {
        QJsonObject envelope;
        QString reason;
    };
    QJsonObject wrongKind = Order("r-kind", SystemPrinter("VekLabel"), spool);
    QJsonObject order = wrongKind["order"].toObject();
    order["kind"] = "label";
    wrongKind["order"] = order;
    const Refusal refusals[] = {
        { wrongKind, "This workstation does not understand the job type." },
        { { { "order", QJsonObject { { "id", "r-printer" }, { "kind", "LABEL" } } } },
            "The order arrived without a printer." },
        { Order("r-transport", { { "transport", "USB" } }, spool),
            "This workstation does not support that printer connection." },
        { Order("r-queue", { { "transport", "SYSTEM" } }, spool),
            "The printer has no queue name on this workstation." },
        { Order("r-zpl", { { "transport", "ZPL_TCP" }, { "host", "p" }, { "port", 0 } }, spool),
            "The label printer has no usable address." },
        { Order("r-film", { { "transport", "DICOM_SCU" }, { "port", 104 }, { "aeTitle", "FILM" } },
              spool),
            "The film printer has no usable address." },
        { Order("r-ae", { { "transport", "DICOM_SCU" }, { "host", "f" }, { "port", 104 } }, spool),
            "The film printer has no called AE title." },
        { Order("r-nospool", SystemPrinter("VekLabel"), QJsonValue()),
            "This job arrived without anything to send to the printer." },
        { Order("r-datatype", SystemPrinter("VekLabel"),
              QJsonObject { { "datatype", "raw" }, { "dataBase64", "QUJD" } }),
            "This workstation does not understand how the job was prepared." },
        { Order("r-empty", SystemPrinter("VekLabel"),
              QJsonObject { { "datatype", "RAW" }, { "dataBase64", "" } }),
            "The job arrived with nothing to print." },
        { Order("r-base64", SystemPrinter("VekLabel"),
              QJsonObject { { "datatype", "RAW" }, { "dataBase64", "QUJD-" } }),
            "The job's data could not be read." },
        { Order("r-large", SystemPrinter("VekLabel"), RawSpool(QByteArray(262145, 'x'))),
            "The job is too large for this workstation to spool." },
        { Order("r-missing", SystemPrinter("NoSuchQueue"), spool),
            "That printer no longer exists on this workstation." },
        { Order("r-zpl-noqueue", zplWithoutQueue, spool),
            "That printer no longer exists on this workstation." },
    };
    for (const Refusal &refusal : refusals)
        server->queueReply(clinic::kClaimPath, ScriptedReply::Json(200, refusal.envelope));
    QSignalSpy finished(worker, &AgentWorker::jobFinished);
    startWorker();

    const int count = int(std::size(refusals));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), count, 30000);
    // Orders that pass the checks are STARTED before the spooler refuses them.
    QList<vek::test::ReceivedRequest> reports;
    for (const auto &report : server->requestsTo(clinic::kReportPath)) {
        if (report.json.value("outcome") != "STARTED")
            reports.append(report);
    }
    QCOMPARE(reportOutcomes().count("STARTED"), 2);
    QCOMPARE(reports.size(), count);
    for (int i = 0; i < count; ++i) {
        const QString id = refusals[i].envelope["order"]["id"].toString();
        QCOMPARE(reports[i].json,
            QJsonObject({ { "deviceId", "vekpa-0123456789abcdef0123456789abcdef" },
                { "orderId", id }, { "outcome", "FAILED" }, { "reason", refusals[i].reason } }));
        QCOMPARE(finished[i][0].toString(), id);
        QCOMPARE(finished[i][1].toBool(), false);
        QCOMPARE(finished[i][2].toString(), refusals[i].reason);
    }
    // Each refusal was followed by an immediate claim.
    QCOMPARE(road->scheduler().delays().mid(0, count + 1),
        QList<std::chrono::milliseconds>(count + 1, 0ms));
}

void LocalNodePrintingTest::failingStartedReportDoesNotStopThePrint()
{
    const QByteArray job = UniqueJob("started-fails");
    server->queueReply(clinic::kClaimPath,
        ScriptedReply::Json(200, Order("o-2", SystemPrinter("VekOffice"), RawSpool(job, ""))));
    server->queueReply(clinic::kReportPath, ScriptedReply::Hang());
    QSignalSpy finished(worker, &AgentWorker::jobFinished);
    startWorker();

    QVERIFY(finished.wait(20000));
    QCOMPARE(finished[0][1].toBool(), true);
    QCOMPARE(vek::test::WaitForSinkJob("VekOffice", job.left(30)), job);
    QCOMPARE(reportOutcomes(), (QStringList { "STARTED", "COMPLETED" }));
}

void LocalNodePrintingTest::conflictMakesTheNextTickCheckInFirst()
{
    server->queueReply(
        clinic::kClaimPath, ScriptedReply::Json(409, { { "error", "Check in first." } }));
    startWorker();
    QTRY_VERIFY(server->paths().size() >= 4);
    const QString in = clinic::kCheckInPath, claim = clinic::kClaimPath;
    QCOMPARE(server->paths().mid(0, 4), (QStringList { in, claim, in, claim }));
    QCOMPARE(
        road->scheduler().delays().mid(0, 2), (QList<std::chrono::milliseconds> { 0ms, 1000ms }));
}

void LocalNodePrintingTest::unauthorizedSignsOutAndStopsPolling()
{
    server->setReply(clinic::kClaimPath, ScriptedReply::Raw(401, ""));
    QSignalSpy states(worker, &AgentWorker::stateChanged);
    startWorker();
    QTRY_COMPARE(states.size(), 2);
    QCOMPARE(states[1][0].value<AgentState>(), AgentState::SignedOut);
    QCOMPARE(states[1][1].toString(),
        QString("The clinic no longer recognises this workstation. Enrol it again."));
    // Nothing further was scheduled: only the tick that start asked for.
    QCOMPARE(road->scheduler().delays(), QList<std::chrono::milliseconds> { 0ms });
    QCOMPARE(server->requestsTo(clinic::kClaimPath).size(), 1);
}

void LocalNodePrintingTest::printersAreReportedOnlyWhenTheyChange()
{
    QSignalSpy reported(worker, &AgentWorker::printersReported);
    startWorker();
    QTRY_COMPARE_WITH_TIMEOUT(server->requestsTo(clinic::kCheckInPath).size(), 2, 20000);
    QCOMPARE(reported.size(), 1);
    const int printers = reported[0][0].toInt();
    QCOMPARE(printers,
        server->requestsTo(clinic::kCheckInPath)[0].json.value("queues").toArray().size());

    // A new queue is reported at the next check-in.
    QCOMPARE(QProcess::execute(
                 "lpadmin", { "-p", "VekExtra", "-E", "-v", "socket://127.0.0.1:9", "-m", "raw" }),
        0);
    const auto removeQueue = qScopeGuard([] {
        QProcess::execute("lpadmin", { "-x", "VekExtra" });
    });
    QTRY_COMPARE_WITH_TIMEOUT(reported.size(), 2, 20000);
    QCOMPARE(reported[1][0].toInt(), printers + 1);
}

void LocalNodePrintingTest::shutdownForUpdateLetsThePrintFinish()
{
    const QByteArray job = UniqueJob("update");
    server->queueReply(clinic::kClaimPath,
        ScriptedReply::Json(200, Order("o-3", SystemPrinter("VekLabel"), RawSpool(job))));
    // The update asks to shut down while the worker waits for the answer to STARTED.
    server->queueReply(clinic::kReportPath, ScriptedReply::Json(200, {}).after(100ms));
    connect(server.get(), &FakeClinicServer::requestReceived, this, [this](const QString &path) {
        if (path == clinic::kReportPath && server->requestsTo(path).size() == 1)
            road->shutdownWhenIdle();
    });
    QSignalSpy ready(worker, &AgentWorker::shutdownReady);
    QSignalSpy finished(worker, &AgentWorker::jobFinished);
    startWorker();

    QVERIFY(ready.wait(20000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][1].toBool(), true);
    QCOMPARE(vek::test::WaitForSinkJob("VekLabel", job.left(30)), job);
    QCOMPARE(reportOutcomes(), (QStringList { "STARTED", "COMPLETED" }));
    // The successor the tick scheduled (an immediate one) finds the shutdown
    // and claims nothing; neither does a start.
    startWorker();
    road->flush();
    QCOMPARE(server->requestsTo(clinic::kClaimPath).size(), 1);
    QCOMPARE(ready.size(), 1);
}

QTEST_GUILESS_MAIN(LocalNodePrintingTest)
#include "test_localnodeprinting.moc"
