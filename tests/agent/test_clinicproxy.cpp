// Clinic and update requests through the clinic's proxy: a proxy on loopback
// that connects every tunnel to 127.0.0.1, and a clinic name that does not
// resolve, so only a request that went through the proxy can reach the server.

#include "agent/clinicapi.h"
#include "agent/nodeclient.h"
#include "tests/harness/connectproxy.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/harness/testca.h"
#include "update/desktopupdateservice.h"
#include "update/updatemanifest.h"

#include <QNetworkProxyFactory>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace std::chrono_literals;
using vek::DesktopUpdateService;
using vek::agent::NodeClient;
using vek::agent::NodeReply;
using vek::test::ConnectProxy;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;

namespace {

enum class Road { LocalNodeCheckIn, DesktopClaim, UpdateManifest };
enum class Certificate { ForProxiedName, ForLoopback, FromStranger };

const QString kProxiedHost = QString::fromLatin1(vek::test::kProxiedHost);
const QString kManifestPath = QStringLiteral("/latest.json");
const QString kDesktopClaimPath
    = QLatin1String(vek::agent::clinic::kDesktopPrintingPrefix) + QStringLiteral("claim");
constexpr char kVersion[] = "1.0.38";

const char *const kProxyVariables[]
    = { "http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY" };

// The proxy as the usual variables name it, for one test; the framework
// reads them for each new connection.
void ConfigureProxy(const QString &url)
{
    qputenv("http_proxy", url.toLatin1());
    qputenv("https_proxy", url.toLatin1());
}

void ClearProxy()
{
    for (const char *name : kProxyVariables)
        qunsetenv(name);
}

// A clinic server on loopback with the chosen certificate, or plain HTTP.
std::unique_ptr<FakeClinicServer> StartServer(bool https, Certificate certificate)
{
    const vek::test::TestCertificates &certificates = vek::test::TestCertificatesForProcess();
    auto server = std::make_unique<FakeClinicServer>();
    if (certificate == Certificate::ForProxiedName)
        server->presentCertificate(certificates.proxiedServer, certificates.proxiedServerKey);
    else if (certificate == Certificate::FromStranger)
        server->presentCertificate(certificates.strangerServer, certificates.strangerServerKey);
    if (!server->start(https))
        return nullptr;
    const QJsonObject manifest {
        { "schemaVersion", 1 },
        { "product", "Vek Print Agent" },
        { "platform", "windows-x64" },
        { "installerType", "exe" },
        { "version", kVersion },
        { "url", QStringLiteral("https://%1/installer.exe").arg(kProxiedHost) },
        { "sha256", QString(64, QLatin1Char('0')) },
        { "signerThumbprint", QString(40, QLatin1Char('0')) },
        { "sizeBytes", 4096 },
    };
    server->setReply(kManifestPath, ScriptedReply::Json(200, manifest));
    server->setReply(QLatin1String(vek::agent::clinic::kCheckInPath),
        ScriptedReply::Json(200, { { "ok", true } }));
    server->setReply(kDesktopClaimPath, ScriptedReply::Raw(204, {}));
    return server;
}

struct Outcome {
    bool answered = false;  // an HTTP answer, or the update check's verdict
    QString error;  // the text the agent reports otherwise
};

// One request of the agent's own: the clinic client's or the update check.
Outcome Send(Road road, const QString &base)
{
    Outcome outcome;
    if (road == Road::UpdateManifest) {
        vek::UpdateServiceSettings settings;
        settings.trustedDomain = kProxiedHost;
        settings.transferTimeout = 10s;
        settings.checkDeadline = 10s;
        DesktopUpdateService service(QString::fromLatin1(kVersion), QUrl(base + kManifestPath),
            nullptr, vek::update::kPrintAgentProduct, settings);
        QSignalSpy none(&service, &DesktopUpdateService::NoUpdateAvailable);
        QSignalSpy failed(&service, &DesktopUpdateService::CheckFailed);
        service.CheckForUpdates();
        if (!QTest::qWaitFor([&] { return none.size() + failed.size() > 0; }, 20000))
            outcome.error = QStringLiteral("no outcome");
        outcome.answered = !none.isEmpty();
        if (!failed.isEmpty())
            outcome.error = failed.first().first().toString();
        return outcome;
    }
    NodeClient client;
    client.setBaseUrl(base);
    client.setToken(QStringLiteral("workstation-credential"));
    client.setReplyTimeout(10s);
    const NodeReply reply = road == Road::LocalNodeCheckIn
        ? client.checkIn(
            QStringLiteral("device"), QStringLiteral("Desk"), QString::fromLatin1(kVersion), {}, {})
        : client.postDesktopPrinting(QStringLiteral("claim"), {}, true);
    outcome.answered = reply.status != 0;
    outcome.error = reply.error;
    return outcome;
}

QString PathOf(Road road)
{
    switch (road) {
    case Road::LocalNodeCheckIn:
        return QLatin1String(vek::agent::clinic::kCheckInPath);
    case Road::DesktopClaim:
        return kDesktopClaimPath;
    case Road::UpdateManifest:
        return kManifestPath;
    }
    return {};
}

}  // namespace

Q_DECLARE_METATYPE(Road)
Q_DECLARE_METATYPE(Certificate)

class ClinicProxyTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void throughTheProxy_data();
    void throughTheProxy();
    void withoutAProxyTheNameDoesNotResolve_data();
    void withoutAProxyTheNameDoesNotResolve();
    void certificateIsCheckedThroughTheProxy_data();
    void certificateIsCheckedThroughTheProxy();
    void settingIsReadForEachConnection();

private:
    std::unique_ptr<ConnectProxy> proxy;
};

void ClinicProxyTest::initTestCase()
{
    vek::test::TrustTestCaInDefaultConfiguration();
}

void ClinicProxyTest::init()
{
    // As a build of the framework that uses no proxy unless told: each owner
    // of the agent's requests must turn the system's settings on itself.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    ClearProxy();
    proxy = std::make_unique<ConnectProxy>();
    QVERIFY(proxy->start());
}

void ClinicProxyTest::cleanup()
{
    ClearProxy();
    proxy.reset();
}

void ClinicProxyTest::throughTheProxy_data()
{
    QTest::addColumn<Road>("road");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("https");
    QTest::addColumn<Certificate>("certificate");
    QTest::addColumn<bool>("proxied");
    QTest::newRow("local-node check-in")
        << Road::LocalNodeCheckIn << kProxiedHost << true << Certificate::ForProxiedName << true;
    QTest::newRow("desktop server claim")
        << Road::DesktopClaim << kProxiedHost << true << Certificate::ForProxiedName << true;
    QTest::newRow("update manifest")
        << Road::UpdateManifest << kProxiedHost << true << Certificate::ForProxiedName << true;
    // Plain HTTP is allowed to a single-label name on the clinic's network;
    // through a proxy it goes as a request in absolute form.
    QTest::newRow("plain http to a local node name")
        << Road::LocalNodeCheckIn << QStringLiteral("clinicnode") << false
        << Certificate::ForLoopback << true;
    QTest::newRow("loopback goes direct") << Road::LocalNodeCheckIn << QStringLiteral("127.0.0.1")
                                          << true << Certificate::ForLoopback << false;
}

void ClinicProxyTest::throughTheProxy()
{
    QFETCH(Road, road);
    QFETCH(QString, host);
    QFETCH(bool, https);
    QFETCH(Certificate, certificate);
    QFETCH(bool, proxied);
    const auto server = StartServer(https, certificate);
    QVERIFY(server);
    ConfigureProxy(proxy->url());

    const QString target = QStringLiteral("%1:%2").arg(host).arg(server->port());
    const Outcome outcome
        = Send(road, QStringLiteral("%1://%2").arg(https ? "https" : "http", target));
    QCOMPARE(outcome.error, QString());
    QVERIFY(outcome.answered);
    QCOMPARE(server->paths(), QStringList { PathOf(road) });
    QCOMPARE(proxy->targets(), proxied ? QStringList { target } : QStringList());
    if (road != Road::UpdateManifest) {
        QCOMPARE(server->requests().first().headers.value("authorization"),
            QByteArray("Bearer workstation-credential"));
    }
}

void ClinicProxyTest::withoutAProxyTheNameDoesNotResolve_data()
{
    QTest::addColumn<Road>("road");
    QTest::newRow("local-node check-in") << Road::LocalNodeCheckIn;
    QTest::newRow("update manifest") << Road::UpdateManifest;
}

void ClinicProxyTest::withoutAProxyTheNameDoesNotResolve()
{
    QFETCH(Road, road);
    const auto server = StartServer(true, Certificate::ForProxiedName);
    QVERIFY(server);

    const Outcome outcome
        = Send(road, QStringLiteral("https://%1:%2").arg(kProxiedHost).arg(server->port()));
    QVERIFY(!outcome.answered);
    QCOMPARE(outcome.error, QStringLiteral("Host %1 not found").arg(kProxiedHost));
    QVERIFY(server->requests().isEmpty());
    QVERIFY(proxy->targets().isEmpty());
}

// The proxy only relays the encrypted stream: a certificate for another name,
// or from an authority the workstation does not trust, is refused as on a
// direct link, and nothing reaches the server.
void ClinicProxyTest::certificateIsCheckedThroughTheProxy_data()
{
    QTest::addColumn<Road>("road");
    QTest::addColumn<Certificate>("certificate");
    QTest::addColumn<QString>("reason");
    const QString otherName
        = QStringLiteral("The host name did not match any of the valid hosts for this certificate");
    const QString unknownAuthority = QStringLiteral(
        "The issuer certificate of a locally looked up certificate could not be found");
    QTest::newRow("clinic client, other name")
        << Road::DesktopClaim << Certificate::ForLoopback << otherName;
    QTest::newRow("clinic client, unknown authority")
        << Road::DesktopClaim << Certificate::FromStranger << unknownAuthority;
    QTest::newRow("update check, other name")
        << Road::UpdateManifest << Certificate::ForLoopback << otherName;
    QTest::newRow("update check, unknown authority")
        << Road::UpdateManifest << Certificate::FromStranger << unknownAuthority;
}

void ClinicProxyTest::certificateIsCheckedThroughTheProxy()
{
    QFETCH(Road, road);
    QFETCH(Certificate, certificate);
    QFETCH(QString, reason);
    const auto server = StartServer(true, certificate);
    QVERIFY(server);
    ConfigureProxy(proxy->url());

    const QString target = QStringLiteral("%1:%2").arg(kProxiedHost).arg(server->port());
    const Outcome outcome = Send(road, QStringLiteral("https://") + target);
    QVERIFY(!outcome.answered);
    QVERIFY2(outcome.error.contains(reason), qPrintable(outcome.error));
    QCOMPARE(proxy->targets(), QStringList { target });
    QVERIFY(server->requests().isEmpty());
}

// A running agent follows a proxy set after its client was made, as the
// worker's client lives as long as the worker.
void ClinicProxyTest::settingIsReadForEachConnection()
{
    const auto server = StartServer(true, Certificate::ForProxiedName);
    QVERIFY(server);
    NodeClient client;
    client.setBaseUrl(QStringLiteral("https://%1:%2").arg(kProxiedHost).arg(server->port()));
    client.setReplyTimeout(10s);

    QCOMPARE(client.claim(QStringLiteral("device")).error,
        QStringLiteral("Host %1 not found").arg(kProxiedHost));
    ConfigureProxy(proxy->url());
    server->setReply(QLatin1String(vek::agent::clinic::kClaimPath), ScriptedReply::Raw(204, {}));
    const NodeReply reply = client.claim(QStringLiteral("device"));
    QCOMPARE(reply.error, QString());
    QCOMPARE(reply.status, 204);
    QCOMPARE(proxy->targets().size(), 1);
}

QTEST_GUILESS_MAIN(ClinicProxyTest)
#include "test_clinicproxy.moc"
