// Enrolment in both forms against a fake clinic server: the request bodies,
// every refusal sentence, the learned servers, and the queuing rules.

#include "manualscheduler.h"

#include "agent/agentworker.h"
#include "agent/clinicapi.h"
#include "tests/harness/fakeclinicserver.h"

#include <QtTest>

using namespace std::chrono_literals;
using vek::agent::AgentConfig;
using vek::agent::AgentWorker;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;
namespace clinic = vek::agent::clinic;

namespace {
const QString kPairingPath = QString(clinic::kDesktopPrintingPrefix) + clinic::kDesktopEnrol;
}

class EnrolmentTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { vek::agent::RegisterAgentMetaTypes(); }
    void init();
    void cleanup();

    void outcomes_data();
    void outcomes();
    void requestBodies();
    void pairingLearnsServersBeforeFinishing();
    void enrolmentDuringTickRunsAfterIt();
    void noEnrolmentAfterShutdownWhenIdle();
    void shutdownWaitsForEnrolment();

private:
    AgentConfig configFor(bool managed) const;
    // Every signal of interest, in the order emitted: "servers:..." or "finished:ok|detail|token".
    QStringList events;
    std::unique_ptr<FakeClinicServer> server;
    std::unique_ptr<AgentWorker> worker;
    ManualScheduler *scheduler = nullptr;
};

void EnrolmentTest::init()
{
    server = std::make_unique<FakeClinicServer>();
    QVERIFY(server->start());
    auto manual = std::make_unique<ManualScheduler>();
    scheduler = manual.get();
    worker = std::make_unique<AgentWorker>(std::move(manual));
    events.clear();
    connect(worker.get(), &AgentWorker::serversLearned, this,
        [this](const QStringList &servers) { events.append("servers:" + servers.join(',')); });
    connect(worker.get(), &AgentWorker::enrolmentFinished, this,
        [this](bool ok, const QString &detail, const QString &token) {
            events.append(QString("finished:%1|%2|%3").arg(ok).arg(detail, token));
        });
}

void EnrolmentTest::cleanup()
{
    worker.reset();
    server.reset();
}

AgentConfig EnrolmentTest::configFor(bool managed) const
{
    AgentConfig config;
    config.nodeBaseUrl = server->baseUrl() + "/";  // sentences quote it as configured
    config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
    config.displayName = "Reception";
    config.managed = managed;
    return config;
}

void EnrolmentTest::outcomes_data()
{
    QTest::addColumn<bool>("managed");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");  // %1 stands for the configured address

    const QString expired = "%1 did not accept this code. A code works once, for 10 minutes, and "
                            "only on the server that made it. "
                            "Make a new code in Organization settings > Printing on %1, or enter "
                            "the address of the server where you "
                            "made the code (https://vekcloud.example for Vek Cloud).";
    QTest::newRow("pairing code expired")
        << true << 403 << QByteArray(R"({"error":"PRINT_PAIRING_EXPIRED"})")
        << "finished:0|" + expired + "|";
    QTest::newRow("pairing not offered")
        << true << 400 << QByteArray(R"({"error":"PRINT_MODE_UNAVAILABLE"})")
        << "finished:0|%1 does not accept pairing codes. Enter the address of Vek "
           "Cloud or of your Local Node.|";
    QTest::newRow("local node shows the code itself")
        << false << 403 << QByteArray(R"({"error":"PRINT_PAIRING_EXPIRED"})")
        << "finished:0|PRINT_PAIRING_EXPIRED|";
    QTest::newRow("codes compare exactly")
        << true << 403 << QByteArray(R"({"error":"print_pairing_expired"})")
        << "finished:0|print_pairing_expired|";
    QTest::newRow("refusal with text")
        << false << 401 << QByteArray(R"({"error":"That secret has been used."})")
        << "finished:0|That secret has been used.|";
    QTest::newRow("refusal without body")
        << true << 410 << QByteArray() << "finished:0|The clinic refused this workstation.|";
    QTest::newRow("server error, not JSON")
        << false << 502 << QByteArray("<html>bad gateway</html>")
        << "finished:0|The clinic refused this workstation.|";
    QTest::newRow("accepted without token")
        << false << 200 << QByteArray(R"({"token":""})")
        << "finished:0|The clinic accepted this workstation but issued no credential.|";
    QTest::newRow("token of the wrong type")
        << true << 201 << QByteArray(R"({"token":42,"servers":[]})")
        << "finished:0|The clinic accepted this workstation but issued no credential.|";
    QTest::newRow("local node success") << false << 200 << QByteArray(R"({"token":"tok-1"})")
                                        << "finished:1|This workstation is now enrolled.|tok-1";
}

void EnrolmentTest::outcomes()
{
    QFETCH(bool, managed);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    server->setReply(
        managed ? kPairingPath : QString(clinic::kEnrolPath), ScriptedReply::Raw(status, body));
    const AgentConfig config = configFor(managed);
    worker->enrol(config, "secret");
    QCOMPARE(events, QStringList { expected.replace("%1", config.nodeBaseUrl) });
}

void EnrolmentTest::requestBodies()
{
    server->setReply(clinic::kEnrolPath, ScriptedReply::Json(200, { { "token", "t" } }));
    server->setReply(kPairingPath, ScriptedReply::Json(200, { { "token", "t" } }));
    AgentConfig local = configFor(false);
    local.token = "old-credential";  // never sent with an enrolment
    worker->enrol(local, "enrol-secret");
    worker->enrol(configFor(true), "ABCD-1234");

    const auto requests = server->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].path, QString(clinic::kEnrolPath));
    QCOMPARE(requests[0].json,
        QJsonObject({ { "enrolmentSecret", "enrol-secret" }, { "deviceId", local.deviceId },
            { "displayName", "Reception" }, { "appVersion", "1.0.38" } }));
    QCOMPARE(requests[1].path, kPairingPath);
    QCOMPARE(requests[1].json,
        QJsonObject({ { "code", "ABCD-1234" }, { "deviceId", local.deviceId },
            { "displayName", "Reception" } }));
    for (const auto &request : requests)
        QVERIFY(!request.headers.contains("authorization"));

    // No address, or plain HTTP to a public host: the node client's sentence, nothing sent.
    AgentConfig nowhere = configFor(false);
    nowhere.nodeBaseUrl.clear();
    worker->enrol(nowhere, "s");
    nowhere.nodeBaseUrl = "http://clinic.example.com";
    worker->enrol(nowhere, "s");
    QCOMPARE(events.mid(3),
        (QStringList { "finished:0|The local node address is not set.|",
            "finished:0|Refusing to send this workstation's credential to "
            "clinic.example.com without HTTPS.|" }));
    QCOMPARE(server->requests().size(), 2);
}

void EnrolmentTest::pairingLearnsServersBeforeFinishing()
{
    const AgentConfig config = configFor(true);
    const QJsonArray servers {
        QJsonObject { { "url", config.nodeBaseUrl.toUpper() + "api/" } },  // the primary again
        QJsonObject { { "url", "https://Branch.Vekcloud.Example/path" } },
        QJsonObject { { "url", "https://branch.vekcloud.example" } },  // a repeat
        QJsonObject { { "url", "http://8.8.8.8" } },  // refused by the address policy
        QJsonObject { { "name", "no url" } }, QJsonObject { { "url", "http://printroom:8080" } }
    };
    server->queueReply(
        kPairingPath, ScriptedReply::Json(200, { { "token", "t1" }, { "servers", servers } }));
    server->queueReply(
        kPairingPath, ScriptedReply::Json(200, { { "token", "t2" }, { "servers", QJsonArray() } }));
    worker->enrol(config, "code");
    worker->enrol(config, "code");
    QCOMPARE(events,
        (QStringList { "servers:https://branch.vekcloud.example,http://printroom:8080",
            "finished:1|This workstation is now enrolled.|t1",
            "servers:", "finished:1|This workstation is now enrolled.|t2" }));
}

void EnrolmentTest::enrolmentDuringTickRunsAfterIt()
{
    server->setReply(clinic::kCheckInPath, ScriptedReply::Json(200, {}));
    server->setReply(clinic::kClaimPath, ScriptedReply::Json(200, {}).after(50ms));
    server->setReply(clinic::kEnrolPath, ScriptedReply::Json(200, { { "token", "new" } }));
    AgentConfig running = configFor(false);
    running.token = "tok";
    worker->start(running);
    connect(server.get(), &FakeClinicServer::requestReceived, this, [this](const QString &path) {
        if (path == clinic::kClaimPath && server->requestsTo(clinic::kEnrolPath).isEmpty())
            worker->enrol(configFor(false), "secret");
    });
    scheduler->fireNext();  // the tick; the enrolment arrives while it waits for the claim
    QVERIFY(events.isEmpty());
    QCOMPARE(scheduler->pendingDelays().first(), 100ms);

    scheduler->fireNext();
    QCOMPARE(events, QStringList { "finished:1|This workstation is now enrolled.|new" });
    QCOMPARE(server->paths().last(), QString(clinic::kEnrolPath));
}

void EnrolmentTest::noEnrolmentAfterShutdownWhenIdle()
{
    server->setReply(clinic::kEnrolPath, ScriptedReply::Json(200, { { "token", "t" } }));
    worker->shutdownWhenIdle();
    worker->enrol(configFor(false), "secret");
    while (scheduler->fireNext()) { }
    QVERIFY(events.isEmpty());
    QVERIFY(server->requests().isEmpty());
}

void EnrolmentTest::shutdownWaitsForEnrolment()
{
    // The clinic has spent the one-time code once it answers: a drain that
    // arrives while the enrolment waits lets the credential reach the tray first.
    server->setReply(
        clinic::kEnrolPath, ScriptedReply::Json(200, { { "token", "t" } }).after(50ms));
    connect(worker.get(), &AgentWorker::shutdownReady, this, [this] { events.append("ready"); });
    connect(server.get(), &FakeClinicServer::requestReceived, this, [this] {
        worker->shutdownWhenIdle();
        events.append("drain asked");
    });
    worker->enrol(configFor(false), "secret");
    QCOMPARE(events,
        (QStringList { "drain asked", "finished:1|This workstation is now enrolled.|t", "ready" }));
}

QTEST_GUILESS_MAIN(EnrolmentTest)
#include "test_enrolment.moc"
