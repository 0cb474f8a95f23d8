// The clinic HTTP client against a fake clinic server on loopback.

#include "agent/clinicapi.h"
#include "agent/nodeclient.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/harness/threadedrawserver.h"

#include <QtTest>

using namespace std::chrono_literals;
using vek::agent::NodeClient;
using vek::agent::NodeReply;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;
using vek::test::ThreadedRawServer;

Q_DECLARE_METATYPE(ScriptedReply)

class NodeClientTest : public QObject {
    Q_OBJECT
private slots:
    void plainHttpRule_data();
    void plainHttpRule();
    void trailingSlashesAreRemoved();
    void repliesAndStatuses_data();
    void repliesAndStatuses();
    void silentServerTimesOut_data();
    void silentServerTimesOut();
    void oversizedReplyIsRefused_data();
    void oversizedReplyIsRefused();
    void threadQuitCancelsTheWait();
    void credentialHeader();
    void reportOmitsEmptyReason();
    void httpsWithTrustedCa();
    void redirectIsNotFollowed();
};

// Addresses that must not receive the credential over plain HTTP are refused
// before any connection is made. The allowed rows point at the test server on
// loopback; the host rule table itself is tested on its own, without traffic
// to other networks.
void NodeClientTest::plainHttpRule_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("refusedHost");  // empty: the request goes out
    QTest::newRow("loopback") << "http://127.0.0.1:%1"
                              << "";
    QTest::newRow("localhost any case") << "http://LocalHost:%1"
                                        << "";
    QTest::newRow("capital scheme is https") << "HTTPS://127.0.0.1:%1"
                                             << "";
    QTest::newRow("172.32") << "http://172.32.0.4:%1"
                            << "172.32.0.4";
    QTest::newRow("public name") << "http://clinic.example.com"
                                 << "clinic.example.com";
    // Mended: the private ranges are IPv4 literals, not name prefixes, and a
    // public IPv6 literal is not local.
    QTest::newRow("name that starts like 10.") << "http://10.example.com"
                                               << "10.example.com";
    QTest::newRow("name that starts like 192.168.") << "http://192.168.example.com:%1"
                                                    << "192.168.example.com";
    QTest::newRow("public ipv6") << "http://[2001:db8::1]:%1"
                                 << "2001:db8::1";
}

void NodeClientTest::plainHttpRule()
{
    QFETCH(QString, base);
    QFETCH(QString, refusedHost);
    FakeClinicServer server;
    QVERIFY(server.start());
    server.setReply(vek::agent::clinic::kClaimPath, ScriptedReply::Json(200, {}));
    NodeClient client;
    client.setBaseUrl(base.contains("%1") ? base.arg(server.port()) : base);
    client.setToken("secret");
    const NodeReply reply = client.claim("vekpa-1");
    if (refusedHost.isEmpty()) {
        QVERIFY(!reply.error.startsWith("Refusing"));
        QVERIFY(reply.ok || base.startsWith("HTTPS"));  // no TLS on this server
    } else {
        QCOMPARE(reply.status, 0);
        QCOMPARE(reply.error,
            QString("Refusing to send this workstation's credential to %1 without HTTPS.")
                .arg(refusedHost));
        QVERIFY(server.requests().isEmpty());
    }
}

void NodeClientTest::trailingSlashesAreRemoved()
{
    FakeClinicServer server;
    QVERIFY(server.start());
    server.setReply(vek::agent::clinic::kClaimPath, ScriptedReply::Json(200, {}));
    NodeClient client;
    for (const char *suffix : { "/", "///", "//  " }) {
        client.setBaseUrl("  " + server.baseUrl() + QLatin1String(suffix));
        QVERIFY(client.claim("d").ok);
    }
    QCOMPARE(server.paths(), QStringList(3, vek::agent::clinic::kClaimPath));

    client.setBaseUrl("  ");
    QCOMPARE(client.claim("d").error, QString("The local node address is not set."));
}

void NodeClientTest::repliesAndStatuses_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QJsonObject>("json");
    const QJsonObject refusal { { "error", "Nope." } };
    const QByteArray refusalText = QJsonDocument(refusal).toJson(QJsonDocument::Compact);
    QTest::newRow("200 with an object") << 200 << QByteArray(R"({"order":null})") << true
                                        << QJsonObject { { "order", QJsonValue::Null } };
    QTest::newRow("200 not json") << 200 << QByteArray("not json") << true << QJsonObject();
    QTest::newRow("200 with an array") << 200 << QByteArray("[1,2]") << true << QJsonObject();
    QTest::newRow("401 empty") << 401 << QByteArray() << false << QJsonObject();
    QTest::newRow("409 with an error") << 409 << refusalText << false << refusal;
    QTest::newRow("500 with an error") << 500 << refusalText << false << refusal;
}

void NodeClientTest::repliesAndStatuses()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QJsonObject, json);
    FakeClinicServer server;
    QVERIFY(server.start());
    server.setReply("/x", ScriptedReply::Raw(status, body));
    NodeClient client;
    client.setBaseUrl(server.baseUrl());
    const NodeReply reply = client.post("/x", {}, true);
    QCOMPARE(reply.ok, ok);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.json, json);
    QVERIFY(reply.error.isEmpty());
}

void NodeClientTest::silentServerTimesOut_data()
{
    QTest::addColumn<ScriptedReply>("scripted");
    QTest::newRow("never answers") << ScriptedReply::Hang();
    QTest::newRow("answers too late") << ScriptedReply::Json(200, {}).after(2s);
}

void NodeClientTest::silentServerTimesOut()
{
    QFETCH(ScriptedReply, scripted);
    FakeClinicServer server;
    QVERIFY(server.start());
    server.setReply("/slow", scripted);
    NodeClient client;
    client.setBaseUrl(server.baseUrl());
    QCOMPARE(NodeClient::kReplyTimeout, 20000ms);
    client.setReplyTimeout(200ms);
    const NodeReply reply = client.post("/slow", {}, true);
    QCOMPARE(reply.status, 0);
    QCOMPARE(reply.error, QString("The local node did not answer in time."));
}

// The cap holds whatever the link's speed: the replies come from a server on
// its own thread, as fast as loopback carries them.
void NodeClientTest::oversizedReplyIsRefused_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("keepOpen");
    QTest::addColumn<bool>("accepted");
    const qint64 cap = NodeClient::kMaxReplyBytes;
    const auto jsonOfSize
        = [](qint64 size) { return "{\"pad\":\"" + QByteArray(size - 10, 'a') + "\"}"; };
    const QByteArray over = jsonOfSize(cap + 10);
    const QByteArray exact = jsonOfSize(cap);
    const auto head = [](const QByteArray &headers) {
        return ThreadedRawServer::Head(200, "Content-Type: application/json\r\n" + headers);
    };
    QTest::newRow("over the cap, with its length")
        << head("Content-Length: " + QByteArray::number(over.size()) + "\r\n") + over << false
        << false;
    QTest::newRow("over the cap, without a length")
        << head("Connection: close\r\n") + over << false << false;
    QTest::newRow("announced over the cap, never sent")
        << head("Content-Length: 17000000\r\n") << true << false;
    QTest::newRow("exactly the cap")
        << head("Content-Length: " + QByteArray::number(exact.size()) + "\r\n") + exact << false
        << true;
}

void NodeClientTest::oversizedReplyIsRefused()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, keepOpen);
    QFETCH(bool, accepted);
    ThreadedRawServer server;
    QVERIFY(server.start());
    server.setResponse(response, keepOpen);
    NodeClient client;  // the full wait: a refusal must not wait for it
    client.setBaseUrl(server.baseUrl());

    const NodeReply reply = client.post("/big", {}, true);
    if (accepted) {
        QVERIFY2(reply.error.isEmpty(), qPrintable(reply.error));
        QVERIFY(reply.ok);
        QCOMPARE(reply.json.value("pad").toString().size(), NodeClient::kMaxReplyBytes - 10);
    } else {
        QCOMPARE(reply.error, QString("The clinic's reply was larger than the agent accepts."));
        QCOMPARE(reply.status, 0);
        QVERIFY(!reply.ok);
        QVERIFY(reply.json.isEmpty());
    }
}

// A quit of the client's thread ends its wait; what arrived so far is no answer.
void NodeClientTest::threadQuitCancelsTheWait()
{
    ThreadedRawServer server;
    QVERIFY(server.start());
    server.setResponse(
        ThreadedRawServer::Head(200, "Content-Length: 1000\r\n") + "{\"order\":null,\"pad\":\"",
        /*keepOpen=*/true);
    QThread thread;
    auto *client = new NodeClient;
    client->setBaseUrl(server.baseUrl());
    client->moveToThread(&thread);
    thread.start();

    QSignalSpy written(&server, &ThreadedRawServer::responseWritten);
    NodeReply reply;
    QMetaObject::invokeMethod(
        client, [client, &reply] { reply = client->post("/claim", {}, true); });
    QVERIFY(written.wait());
    thread.quit();
    QVERIFY(thread.wait(10000));
    delete client;

    QCOMPARE(reply.status, 0);
    QVERIFY(!reply.ok);
    QVERIFY(reply.json.isEmpty());
    QCOMPARE(reply.error, QString("The request was cancelled before the clinic answered."));
}

void NodeClientTest::credentialHeader()
{
    FakeClinicServer server;
    QVERIFY(server.start());
    server.setReply("/p", ScriptedReply::Json(200, {}));
    NodeClient client;
    client.setBaseUrl(server.baseUrl());

    client.setToken("  secret-token \n");
    client.post("/p", { { "a", 1 } }, true);
    client.post("/p", {}, false);
    client.setToken("");
    client.post("/p", {}, true);

    const auto requests = server.requests();
    QCOMPARE(requests.size(), 3);
    QCOMPARE(requests[0].headers.value("authorization"), QByteArray("Bearer secret-token"));
    QCOMPARE(requests[0].headers.value("content-type"), QByteArray("application/json"));
    QCOMPARE(requests[0].json, QJsonObject({ { "a", 1 } }));
    QVERIFY(!requests[1].headers.contains("authorization"));
    QVERIFY(!requests[2].headers.contains("authorization"));
}

void NodeClientTest::reportOmitsEmptyReason()
{
    FakeClinicServer server;
    QVERIFY(server.start());
    NodeClient client;
    client.setBaseUrl(server.baseUrl());
    client.report("dev", "o-1", "COMPLETED", "");
    client.report("dev", "o-2", "FAILED", "Jammed.");
    const auto reports = server.requestsTo(vek::agent::clinic::kReportPath);
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports[0].json,
        QJsonObject({ { "deviceId", "dev" }, { "orderId", "o-1" }, { "outcome", "COMPLETED" } }));
    QCOMPARE(reports[1].json.value("reason").toString(), QString("Jammed."));
}

void NodeClientTest::httpsWithTrustedCa()
{
    // Default certificate verification: an unknown CA is refused...
    FakeClinicServer untrusted;
    QVERIFY(untrusted.start(/*https=*/true, /*trustCa=*/false));
    untrusted.setReply("/secure", ScriptedReply::Json(200, { { "token", "t" } }));
    NodeClient client;
    client.setBaseUrl(untrusted.baseUrl());
    const NodeReply refused = client.post("/secure", {}, false);
    QCOMPARE(refused.status, 0);
    QVERIFY(!refused.error.isEmpty());
    QVERIFY(untrusted.requests().isEmpty());

    // ...and the clinic's own CA, once the workstation trusts it, is accepted.
    FakeClinicServer server;
    QVERIFY(server.start(/*https=*/true));
    server.setReply("/secure", ScriptedReply::Json(200, { { "token", "t" } }));
    client.setBaseUrl(server.baseUrl());
    const NodeReply reply = client.post("/secure", {}, false);
    QVERIFY2(reply.error.isEmpty(), qPrintable(reply.error));
    QCOMPARE(reply.json.value("token").toString(), QString("t"));
}

void NodeClientTest::redirectIsNotFollowed()
{
    FakeClinicServer server;
    QVERIFY(server.start());
    NodeClient client;
    client.setBaseUrl(server.baseUrl());
    client.setToken("secret");
    ScriptedReply moved = ScriptedReply::Raw(307, "");
    moved.headers = { { "Location", (server.baseUrl() + "/elsewhere").toUtf8() } };
    server.setReply("/moved", moved);
    const NodeReply reply = client.post("/moved", {}, true);
    QCOMPARE(reply.status, 307);
    QVERIFY(!reply.ok);
    QCOMPARE(server.requests().size(), 1);
}

QTEST_GUILESS_MAIN(NodeClientTest)
#include "test_nodeclient.moc"
