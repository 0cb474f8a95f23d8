// The clinic simulator's endpoints and the protocol rules it keeps, driven
// over HTTP on loopback.

#include "simfixture.h"
#include "tests/harness/testca.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

using namespace vek::test;

namespace {

const QByteArray kLabel = "^XA^FO50,50^FDVEK^FS^XZ";
const QByteArray kPdf = "%PDF-1.4 stand-in document";
const QString kProfileId = QStringLiteral("0b5e2c2e-1111-4c4c-9d9d-000000000001");

QJsonObject DesktopReport(
    const QJsonObject &order, const QString &outcome, const QString &token = {})
{
    QJsonObject body { { "orderId", order.value("id") },
        { "claimToken", token.isEmpty() ? order.value("claimToken").toString() : token },
        { "outcome", outcome } };
    if (outcome != QLatin1String("STARTED"))
        body.insert("spoolJobId", "17");
    if (outcome == QLatin1String("FAILED"))
        body.insert("reason", "PRINT_OUTCOME_UNKNOWN");
    return body;
}

}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT
private slots:
    void localNodeEndpoints();
    void desktopEndpoints();
    void desktopReportRules_data();
    void desktopReportRules();
    void localReportRules();
    void claimLease();
    void refusedCredentials_data();
    void refusedCredentials();
    void adminOrdersAndState();
    void serverFaults();
    void commandLineOverHttps();
};

void TestSimulator::localNodeEndpoints()
{
    SimFixture sim;
    QVERIFY(sim.started);
    const QString orderId = sim.state.addOrder("local", "Labels", kLabel);

    const HttpAnswer refused = sim.localPost("/api/local-node/print-agent/enrol",
        { { "enrolmentSecret", "wrong" }, { "deviceId", "ws-1" } });
    QCOMPARE(refused.status, 403);
    QVERIFY(!refused.json.value("error").toString().isEmpty());

    const HttpAnswer enrolled = sim.localPost("/api/local-node/print-agent/enrol",
        { { "enrolmentSecret", "secret" }, { "deviceId", "ws-1" }, { "displayName", "Front desk" },
            { "appVersion", "1.0.38" } });
    QCOMPARE(enrolled.status, 200);
    const QString token = enrolled.json.value("token").toString();
    QVERIFY(!token.isEmpty());

    // The agent checks in again when a claim is answered 409.
    QCOMPARE(sim.localPost("/api/local-node/desktop/print/claim", { { "deviceId", "ws-1" } }, token)
                 .status,
        409);
    const QJsonArray queues { QJsonObject {
        { "systemName", "Labels" }, { "name", "Labels" }, { "kind", "LABEL" } } };
    QCOMPARE(
        sim.localPost("/api/local-node/desktop/print/agent",
               { { "deviceId", "ws-1" }, { "displayName", "Front desk" },
                   { "appVersion", "1.0.38" }, { "queues", queues }, { "burners", QJsonArray() } },
               token)
            .status,
        200);

    const HttpAnswer claim
        = sim.localPost("/api/local-node/desktop/print/claim", { { "deviceId", "ws-1" } }, token);
    QCOMPARE(claim.status, 200);
    const QJsonObject order = claim.json.value("order").toObject();
    QCOMPARE(order.value("id").toString(), orderId);
    QCOMPARE(order.value("kind").toString(), "LABEL");
    QCOMPARE(order.value("printer").toObject().value("transport").toString(), "SYSTEM");
    QCOMPARE(order.value("printer").toObject().value("systemName").toString(), "Labels");
    const QJsonObject spool = order.value("spool").toObject();
    QCOMPARE(spool.value("datatype").toString(), "RAW");
    QCOMPARE(QByteArray::fromBase64(spool.value("dataBase64").toString().toLatin1()), kLabel);

    // One claim per order: the next claim finds nothing.
    const HttpAnswer empty
        = sim.localPost("/api/local-node/desktop/print/claim", { { "deviceId", "ws-1" } }, token);
    QCOMPARE(empty.status, 200);
    QVERIFY(empty.json.value("order").isNull());

    for (const char *outcome : { "STARTED", "COMPLETED" })
        QCOMPARE(sim.localPost("/api/local-node/desktop/print/report",
                        { { "deviceId", "ws-1" }, { "orderId", orderId }, { "outcome", outcome } },
                        token)
                     .status,
            200);
    const vek::sim::Order &done = sim.state.orders().constFirst();
    QCOMPARE(done.state, vek::sim::OrderState::Finished);
    QCOMPARE(done.reports.size(), 2);
    QCOMPARE(done.reports[1].outcome, "COMPLETED");
}

void TestSimulator::desktopEndpoints()
{
    SimFixture sim;
    QVERIFY(sim.started);
    sim.state.addOrder("desktop1", "Office", kPdf, "A4 plain", 2);

    const HttpAnswer expired = sim.desktopPost(
        sim.desktop1, "enrol", { { "code", "NOPE" }, { "deviceId", "ws-2" } }, {});
    QCOMPARE(expired.status, 403);
    QCOMPARE(expired.json.value("error").toString(), "PRINT_PAIRING_EXPIRED");

    const HttpAnswer enrolled = sim.desktopPost(sim.desktop1, "enrol",
        { { "code", "PAIR-1" }, { "deviceId", "ws-2" }, { "displayName", "Radiology" } }, {});
    QCOMPARE(enrolled.status, 200);
    const QString token = enrolled.json.value("token").toString();
    QVERIFY(!token.isEmpty());
    const QJsonArray expectedServers { QJsonObject { { "url", sim.desktop1->baseUrl() } },
        QJsonObject { { "url", sim.desktop2->baseUrl() } } };
    QCOMPARE(enrolled.json.value("servers").toArray(), expectedServers);
    // A code works once.
    QCOMPARE(
        sim.desktopPost(sim.desktop1, "enrol", { { "code", "PAIR-1" }, { "deviceId", "ws-3" } }, {})
            .status,
        403);

    const HttpAnswer servers = sim.desktopPost(sim.desktop2, "servers", {}, token);
    QCOMPARE(servers.status, 200);
    QCOMPARE(servers.json.value("servers").toArray(), expectedServers);

    // Before the announce the profile is unknown, so the order waits.
    QVERIFY(sim.desktopPost(sim.desktop1, "claim", {}, token).json.value("order").isNull());
    QCOMPARE(
        sim.desktopPost(sim.desktop1, "announce", SimFixture::AnnounceBody(), token).status, 200);
    QCOMPARE(
        sim.desktopPost(sim.desktop1, "announce", { { "displayName", "no queues" } }, token).status,
        400);
    QCOMPARE(
        sim.desktopPost(sim.desktop2, "announce", SimFixture::AnnounceBody(), token).status, 200);
    QVERIFY(sim.desktopPost(sim.desktop2, "claim", {}, token).json.value("order").isNull());

    const HttpAnswer claim = sim.desktopPost(sim.desktop1, "claim", {}, token);
    QCOMPARE(claim.status, 200);
    const QJsonObject order = claim.json.value("order").toObject();
    QVERIFY(!order.value("id").toString().isEmpty());
    QVERIFY(!order.value("claimToken").toString().isEmpty());
    QCOMPARE(order.value("printer").toObject().value("systemName").toString(), "Office");
    const QJsonObject profile = order.value("profile").toObject();
    QCOMPARE(profile.value("id").toString(), kProfileId);
    QCOMPARE(profile.value("version").toString(), QString(64, u'a'));
    QCOMPARE(profile.value("copies").toInt(), 2);
    const QByteArray document
        = QByteArray::fromBase64(order.value("documentBase64").toString().toLatin1());
    QCOMPARE(document, kPdf);
    QCOMPARE(order.value("contentHash").toString(),
        QString::fromLatin1(QCryptographicHash::hash(kPdf, QCryptographicHash::Sha256).toHex()));

    QCOMPARE(sim.desktopPost(sim.desktop1, "report", DesktopReport(order, "STARTED"), token).status,
        200);
    QCOMPARE(sim.desktopPost(sim.desktop1, "report", DesktopReport(order, "SPOOLED"), token).status,
        200);
    // The report belongs to the server that handed the order out.
    QCOMPARE(sim.desktopPost(sim.desktop2, "report", DesktopReport(order, "SPOOLED"), token).status,
        404);
    const vek::sim::Order &done = sim.state.orders().constFirst();
    QCOMPARE(done.state, vek::sim::OrderState::Finished);
    QCOMPARE(done.reports.last().spoolJobId, "17");
}

void TestSimulator::desktopReportRules_data()
{
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<bool>("wrongToken");
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<int>("finalState");

    const int started = int(vek::sim::OrderState::Started);
    const int finished = int(vek::sim::OrderState::Finished);
    QTest::newRow("started then spooled")
        << QStringList { "STARTED", "SPOOLED" } << false << QList<int> { 200, 200 } << finished;
    QTest::newRow("spooled before started")
        << QStringList { "SPOOLED" } << false << QList<int> { 409 }
        << int(vek::sim::OrderState::Claimed);
    QTest::newRow("failed before started: nothing printed")
        << QStringList { "FAILED" } << false << QList<int> { 200 } << finished;
    QTest::newRow("repeated final report") << QStringList { "STARTED", "SPOOLED", "SPOOLED" }
                                           << false << QList<int> { 200, 200, 409 } << finished;
    QTest::newRow("other outcome after the final one")
        << QStringList { "STARTED", "FAILED", "SPOOLED" } << false << QList<int> { 200, 200, 409 }
        << finished;
    QTest::newRow("repeated STARTED")
        << QStringList { "STARTED", "STARTED" } << false << QList<int> { 200, 200 } << started;
    QTest::newRow("claim token of another claim")
        << QStringList { "STARTED" } << true << QList<int> { 409 }
        << int(vek::sim::OrderState::Claimed);
    QTest::newRow("unknown outcome") << QStringList { "PRINTED" } << false << QList<int> { 400 }
                                     << int(vek::sim::OrderState::Claimed);
}

void TestSimulator::desktopReportRules()
{
    QFETCH(QStringList, outcomes);
    QFETCH(bool, wrongToken);
    QFETCH(QList<int>, statuses);
    QFETCH(int, finalState);

    SimFixture sim;
    QVERIFY(sim.started);
    sim.state.addOrder("desktop1", "Office", kPdf, kProfileId);
    const QString token = sim.enrolDesktop("ws-1");
    const QJsonObject order
        = sim.desktopPost(sim.desktop1, "claim", {}, token).json.value("order").toObject();
    QVERIFY(!order.isEmpty());

    for (int i = 0; i < outcomes.size(); ++i) {
        const QJsonObject body = DesktopReport(
            order, outcomes[i], wrongToken ? QStringLiteral("not-the-token") : QString());
        QCOMPARE(sim.desktopPost(sim.desktop1, "report", body, token).status, statuses[i]);
    }
    QCOMPARE(int(sim.state.orders().constFirst().state), finalState);
    // Every report is kept, refused ones too, with the answer it got.
    QCOMPARE(sim.state.orders().constFirst().reports.size(), wrongToken ? 0 : outcomes.size());
    QCOMPARE(sim.desktopPost(sim.desktop1, "report",
                    { { "orderId", "order-999" }, { "claimToken", "x" }, { "outcome", "STARTED" } },
                    token)
                 .status,
        404);
}

void TestSimulator::localReportRules()
{
    SimFixture sim;
    QVERIFY(sim.started);
    const QString first = sim.state.addOrder("local", "Labels", kLabel);
    const QString second = sim.state.addOrder("local", "Labels", kLabel);
    const QString token = sim.enrolLocal("ws-1");
    const QString other = sim.enrolLocal("ws-2");
    auto report = [&](const QString &orderId, const char *outcome, const QString &deviceId,
                      const QString &credential) {
        return sim
            .localPost("/api/local-node/desktop/print/report",
                { { "deviceId", deviceId }, { "orderId", orderId }, { "outcome", outcome } },
                credential)
            .status;
    };
    QCOMPARE(sim.localPost("/api/local-node/desktop/print/claim", { { "deviceId", "ws-1" } }, token)
                 .json.value("order")
                 .toObject()
                 .value("id")
                 .toString(),
        first);

    QCOMPARE(report(first, "COMPLETED", "ws-1", token), 409);  // STARTED first
    QCOMPARE(report(first, "STARTED", "ws-2", other), 409);  // not the claimant
    QCOMPARE(report(second, "STARTED", "ws-1", token), 409);  // not claimed at all
    QCOMPARE(report(first, "STARTED", "ws-1", token), 200);
    QCOMPARE(report(first, "COMPLETED", "ws-1", token), 200);
    QCOMPARE(report(first, "COMPLETED", "ws-1", token), 409);
    QCOMPARE(report(first, "FAILED", "ws-1", token), 409);
    QCOMPARE(report("order-999", "STARTED", "ws-1", token), 404);

    // An order that fails its checks on the workstation is reported FAILED without STARTED.
    QCOMPARE(sim.localPost("/api/local-node/desktop/print/claim", { { "deviceId", "ws-2" } }, other)
                 .json.value("order")
                 .toObject()
                 .value("id")
                 .toString(),
        second);
    QCOMPARE(report(second, "FAILED", "ws-2", other), 200);
    QCOMPARE(sim.state.orders()[1].state, vek::sim::OrderState::Finished);
}

void TestSimulator::claimLease()
{
    SimFixture sim;
    QVERIFY(sim.started);
    sim.state.addOrder("desktop1", "Office", kPdf, "A4 plain");
    sim.state.addOrder("local", "Labels", kLabel);
    sim.state.addPairingCode("PAIR-2");
    const QString first = sim.enrolDesktop("ws-1");
    const QString second = sim.enrolDesktop("ws-2", "PAIR-2");
    const QString localToken = sim.enrolLocal("ws-3");
    const QString localOther = sim.enrolLocal("ws-4");

    const QJsonObject claimed
        = sim.desktopPost(sim.desktop1, "claim", {}, first).json.value("order").toObject();
    QVERIFY(!claimed.isEmpty());
    QVERIFY(
        sim.localPost("/api/local-node/desktop/print/claim", { { "deviceId", "ws-3" } }, localToken)
            .json.value("order")
            .isObject());

    // Within the lease the order stays with its claimant.
    sim.nowMs += 29999;
    QVERIFY(sim.desktopPost(sim.desktop1, "claim", {}, second).json.value("order").isNull());
    QVERIFY(
        sim.localPost("/api/local-node/desktop/print/claim", { { "deviceId", "ws-4" } }, localOther)
            .json.value("order")
            .isNull());

    // Not started when the lease ends: back in the queue, and the old claim no longer counts.
    sim.nowMs += 1;
    const QJsonObject reclaimed
        = sim.desktopPost(sim.desktop1, "claim", {}, second).json.value("order").toObject();
    QCOMPARE(reclaimed.value("id"), claimed.value("id"));
    QVERIFY(reclaimed.value("claimToken") != claimed.value("claimToken"));
    QCOMPARE(
        sim.desktopPost(sim.desktop1, "report", DesktopReport(claimed, "STARTED"), first).status,
        409);
    QVERIFY(
        sim.localPost("/api/local-node/desktop/print/claim", { { "deviceId", "ws-4" } }, localOther)
            .json.value("order")
            .isObject());
    QCOMPARE(sim.localPost("/api/local-node/desktop/print/report",
                    { { "deviceId", "ws-3" }, { "orderId", "order-2" }, { "outcome", "STARTED" } },
                    localToken)
                 .status,
        409);

    // Once STARTED, no lease runs out: printing may take long.
    QCOMPARE(
        sim.desktopPost(sim.desktop1, "report", DesktopReport(reclaimed, "STARTED"), second).status,
        200);
    sim.nowMs += 10 * 30000;
    QVERIFY(sim.desktopPost(sim.desktop1, "claim", {}, first).json.value("order").isNull());
    QCOMPARE(
        sim.desktopPost(sim.desktop1, "report", DesktopReport(reclaimed, "SPOOLED"), second).status,
        200);
}

void TestSimulator::refusedCredentials_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("path");

    QTest::newRow("local check-in") << "local"
                                    << "/api/local-node/desktop/print/agent";
    QTest::newRow("local claim") << "local"
                                 << "/api/local-node/desktop/print/claim";
    QTest::newRow("local report") << "local"
                                  << "/api/local-node/desktop/print/report";
    for (const char *name : { "servers", "announce", "claim", "report" })
        QTest::addRow("desktop %s", name)
            << "desktop2" << QStringLiteral("/api/desktop/printing/") + name;
}

void TestSimulator::refusedCredentials()
{
    QFETCH(QString, server);
    QFETCH(QString, path);

    SimFixture sim;
    QVERIFY(sim.started);
    const QString url
        = (server == QLatin1String("local") ? sim.local : sim.desktop2)->baseUrl() + path;
    const QString localToken = sim.enrolLocal("ws-1");
    const QString desktopToken = sim.enrolDesktop("ws-2");
    const QString ownToken = server == QLatin1String("local") ? localToken : desktopToken;
    const QString foreignToken = server == QLatin1String("local") ? desktopToken : localToken;
    const QString deviceId
        = server == QLatin1String("local") ? QStringLiteral("ws-1") : QStringLiteral("ws-2");
    const QJsonObject body = SimFixture::AnnounceBody();
    QJsonObject withDevice = body;
    withDevice.insert("deviceId", deviceId);

    QCOMPARE(Send(url, "POST", withDevice).status, 401);
    QCOMPARE(Send(url, "POST", withDevice, QStringLiteral("unknown-token")).status, 401);
    QCOMPARE(Send(url, "POST", withDevice, foreignToken).status, 401);
    QVERIFY(Send(url, "POST", withDevice, ownToken).status != 401);

    QCOMPARE(sim.adminPost("/admin/revoke", { { "deviceId", deviceId } }).status, 200);
    QCOMPARE(Send(url, "POST", withDevice, ownToken).status, 401);
}

void TestSimulator::adminOrdersAndState()
{
    SimFixture sim;
    QVERIFY(sim.started);
    const HttpAnswer added = sim.adminPost("/admin/orders",
        { { "server", "desktop2" }, { "queue", "Office" }, { "profile", "A4 plain" },
            { "dataBase64", QString::fromLatin1(kPdf.toBase64()) }, { "count", 3 } });
    QCOMPARE(added.status, 200);
    QCOMPARE(added.json.value("orders").toArray().size(), 3);
    QCOMPARE(sim.adminPost("/admin/orders",
                    { { "server", "local" }, { "queue", "Labels" },
                        { "dataBase64", QString::fromLatin1(kLabel.toBase64()) } })
                 .status,
        200);
    QCOMPARE(sim.adminPost("/admin/orders",
                    { { "server", "desktop1" }, { "queue", "Office" },
                        { "dataBase64", QString::fromLatin1(kPdf.toBase64()) } })
                 .status,
        400);  // a PDF order names its profile
    QCOMPARE(
        sim.adminPost("/admin/orders", { { "server", "desktop9" }, { "queue", "Office" } }).status,
        404);
    QCOMPARE(sim.adminPost("/admin/revoke", { { "deviceId", "nobody" } }).status, 404);

    const QString token = sim.enrolDesktop("ws-1");
    const QJsonObject order
        = sim.desktopPost(sim.desktop2, "claim", {}, token).json.value("order").toObject();
    sim.desktopPost(sim.desktop2, "report", DesktopReport(order, "STARTED"), token);

    const HttpAnswer state = Send(sim.admin->baseUrl() + "/admin/state", "GET");
    QCOMPARE(state.status, 200);
    const QJsonArray orders = state.json.value("orders").toArray();
    QCOMPARE(orders.size(), 4);
    QCOMPARE(orders[0].toObject().value("state").toString(), "started");
    QCOMPARE(orders[0].toObject().value("claimedBy").toString(), "ws-1");
    QCOMPARE(
        orders[0].toObject().value("reports").toArray()[0].toObject().value("outcome").toString(),
        "STARTED");
    QCOMPARE(orders[3].toObject().value("server").toString(), "local");
    const QJsonArray workstations = state.json.value("workstations").toArray();
    QCOMPARE(workstations.size(), 1);
    QCOMPARE(workstations[0]
                 .toObject()
                 .value("queues")
                 .toObject()
                 .value("desktop2")
                 .toArray()[0]
                 .toObject()
                 .value("systemName")
                 .toString(),
        "Office");
    QCOMPARE(state.json.value("servers").toArray().size(), 3);
}

void TestSimulator::serverFaults()
{
    SimFixture sim;
    QVERIFY(sim.started);
    const QString token = sim.enrolDesktop("ws-1");

    QCOMPARE(sim.adminPost("/admin/fault", { { "server", "desktop2" }, { "mode", "fail" } }).status,
        200);
    QCOMPARE(sim.desktopPost(sim.desktop2, "claim", {}, token).status, 500);
    QCOMPARE(sim.desktopPost(sim.desktop1, "claim", {}, token).status,
        200);  // the other server is unaffected

    QCOMPARE(sim.adminPost("/admin/fault", { { "server", "desktop2" }, { "mode", "hang" } }).status,
        200);
    QCOMPARE(Send(sim.desktop2->baseUrl() + "/api/desktop/printing/claim", "POST", {}, token, 300)
                 .status,
        0);

    QCOMPARE(sim.adminPost("/admin/fault",
                    { { "server", "desktop2" }, { "mode", "slow" }, { "delayMs", 400 } })
                 .status,
        200);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(sim.desktopPost(sim.desktop2, "claim", {}, token).status, 200);
    QVERIFY(timer.elapsed() >= 400);

    QCOMPARE(
        sim.adminPost("/admin/fault", { { "server", "desktop2" }, { "mode", "sideways" } }).status,
        400);
    QCOMPARE(sim.adminPost("/admin/fault", { { "server", "desktop2" }, { "mode", "none" } }).status,
        200);
    QCOMPARE(sim.desktopPost(sim.desktop2, "claim", {}, token).status, 200);
}

void TestSimulator::commandLineOverHttps()
{
    // The program itself: servers over HTTPS from certificate files, orders
    // from its command line, and one line on stdout per event.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const TestCertificates &certificates = TestCertificatesForProcess();
    TrustTestCaInDefaultConfiguration();
    auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write("cert.pem", certificates.server.toPem()));
    QVERIFY(write("key.pem", certificates.serverKey.toPem()));
    QVERIFY(write("label.zpl", kLabel));
    QVERIFY(write("doc.pdf", kPdf));

    QProcess simulator;
    simulator.start(VEK_SIMULATOR_EXE,
        { "--local-node", "https:0", "--desktop", "https:0", "--desktop", "0", "--cert",
            dir.filePath("cert.pem"), "--key", dir.filePath("key.pem"), "--secret", "s3", "--label",
            "Labels=" + dir.filePath("label.zpl") + "x2", "--pdf",
            "desktop2/Office:A4 plain=" + dir.filePath("doc.pdf") });
    auto guard = qScopeGuard([&] {
        simulator.kill();
        simulator.waitForFinished();
    });
    QHash<QString, QString> urls;
    QStringList lines;
    auto readLines = [&] {
        while (simulator.canReadLine()) {
            const QString line = QString::fromUtf8(simulator.readLine()).trimmed();
            lines.append(line);
            const QStringList words = line.split(u' ');
            if (words.size() == 3 && words[0] == QLatin1String("server"))
                urls.insert(words[1], words[2]);
            if (words.size() == 2 && words[0] == QLatin1String("admin"))
                urls.insert("admin", words[1]);
        }
    };
    QTRY_VERIFY_WITH_TIMEOUT((readLines(), urls.contains("admin")), 10000);
    QVERIFY(urls.value("local").startsWith("https://"));
    QVERIFY(urls.value("desktop1").startsWith("https://"));
    QVERIFY(urls.value("desktop2").startsWith("http://"));

    const HttpAnswer enrolled = Send(urls["local"] + "/api/local-node/print-agent/enrol", "POST",
        { { "enrolmentSecret", "s3" }, { "deviceId", "ws-1" }, { "displayName", "Desk" } });
    QCOMPARE(enrolled.status, 200);
    const QJsonArray orders
        = Send(urls["admin"] + "/admin/state", "GET").json.value("orders").toArray();
    QCOMPARE(orders.size(), 3);
    QCOMPARE(orders[1].toObject().value("queue").toString(), "Labels");
    QCOMPARE(orders[2].toObject().value("server").toString(), "desktop2");
    QCOMPARE(orders[2].toObject().value("profile").toString(), "A4 plain");
    QTRY_VERIFY((readLines(), lines.contains("workstation ws-1 enrolled on local")));
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
