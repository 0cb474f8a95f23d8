// The update service end to end on HTTPS on loopback: manifest checks with
// their refusals, downloads of installers built and signed here, and the
// checks right before an installer starts.

#include "signedinstaller.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/harness/testca.h"
#include "tests/harness/threadedrawserver.h"
#include "update/desktopupdateservice.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

using namespace std::chrono_literals;
using vek::DesktopUpdateService;
using vek::UpdateServiceSettings;
using vek::test::Bend;
using vek::test::FakeClinicServer;
using vek::test::InstallerSigner;
using vek::test::ScriptedReply;
using vek::test::ThreadedRawServer;

Q_DECLARE_METATYPE(ScriptedReply)
Q_DECLARE_METATYPE(Bend)
Q_DECLARE_METATYPE(InstallerSigner)

namespace {

const QString kNotTrusted = QStringLiteral("The update service URL is not trusted.");
const QString kTooLarge = QStringLiteral("The update response is too large.");
const QString kManifestPath = QStringLiteral("/latest.json");
const QString kInstallerPath = QStringLiteral("/installer.exe");

UpdateServiceSettings TestSettings()
{
    UpdateServiceSettings settings;
    settings.trustedDomain = QStringLiteral("localhost");
    settings.rootThumbprint = vek::test::CodeSigningCertificatesForProcess().rootSha1.toStdString();
    settings.transferTimeout = 5s;
    settings.checkDeadline = 10s;
    return settings;
}

QString LocalUrl(quint16 port, const QString &path)
{
    return QStringLiteral("https://localhost:%1%2").arg(port).arg(path);
}

QJsonObject Manifest(const QString &version, const QString &url, const QString &sha256,
    const QString &product = QStringLiteral("Vek Print Agent"))
{
    return {
        { "schemaVersion", 1 },
        { "product", product },
        { "platform", "windows-x64" },
        { "installerType", "exe" },
        { "version", version },
        { "url", url },
        { "sha256", sha256 },
        { "signerThumbprint", QString(40, QLatin1Char('0')) },
        { "sizeBytes", 4096 },
    };
}

qint64 PeakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Runs one check and returns the reason of its failure, or "" for an offer
// or "none" for no update.
QString CheckOutcome(DesktopUpdateService &service)
{
    QSignalSpy available(&service, &DesktopUpdateService::UpdateAvailable);
    QSignalSpy none(&service, &DesktopUpdateService::NoUpdateAvailable);
    QSignalSpy failed(&service, &DesktopUpdateService::CheckFailed);
    service.CheckForUpdates();
    if (!QTest::qWaitFor([&] { return available.size() + none.size() + failed.size() > 0; }, 30000))
        return QStringLiteral("no outcome");
    if (!failed.isEmpty())
        return failed.first().first().toString();
    return none.isEmpty() ? QString() : QStringLiteral("none");
}

// Offers installer bytes under the given manifest digest, downloads them, and
// returns the failure reason, or "" when the update became ready.
QString DownloadOutcome(FakeClinicServer &server, DesktopUpdateService &service,
    const QByteArray &installer, const QString &sha256,
    const QString &product = QStringLiteral("Vek Print Agent"))
{
    server.setReply(kManifestPath,
        ScriptedReply::Json(
            200, Manifest("2.0.0", LocalUrl(server.port(), kInstallerPath), sha256, product)));
    server.setReply(kInstallerPath, ScriptedReply::Raw(200, installer));
    const QString check = CheckOutcome(service);
    if (!check.isEmpty())
        return QStringLiteral("check: ") + check;
    QSignalSpy ready(&service, &DesktopUpdateService::UpdateReady);
    QSignalSpy failed(&service, &DesktopUpdateService::UpdateFailed);
    service.DownloadUpdate();
    if (!QTest::qWaitFor([&] { return ready.size() + failed.size() > 0; }, 30000))
        return QStringLiteral("no outcome");
    return failed.isEmpty() ? QString() : failed.first().first().toString();
}

}  // namespace

class DesktopUpdateServiceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void signalsInTheirOrder();
    void untrustedManifestUrlSendsNothing();
    void secondCheckWhileRunning();
    void requestHeaders();
    void checkRefusals_data();
    void checkRefusals();
    void manifestRedirects_data();
    void manifestRedirects();
    void endlessManifestStaysBounded();
    void trickledManifestMeetsTheDeadline();
    void downloads_data();
    void downloads();
    void downloadBeforeOffer();
    void announcedOversizeDownload();
    void stalledDownloadEnds();
    void swappedAfterVerification();
    void staleDownloadsAreRemoved();
    void siblingProductWithoutAgentToPrepare();

private:
    FakeClinicServer *server = nullptr;
};

void DesktopUpdateServiceTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("VekTest"));
    QCoreApplication::setApplicationName(QStringLiteral("test_desktopupdateservice"));
    vek::test::TrustTestCaInDefaultConfiguration();
    // Build the installers once, before any timed wait.
    QString error;
    QVERIFY2(!vek::test::MakeInstaller(QStringLiteral("2.0.0"), InstallerSigner::Trusted, &error)
                  .isEmpty(),
        qPrintable(error));
}

void DesktopUpdateServiceTest::init()
{
    QDir(DesktopUpdateService::UpdatesDirectory()).removeRecursively();
    delete server;
    server = new FakeClinicServer(this);
    QVERIFY(server->start(true));
}

void DesktopUpdateServiceTest::signalsInTheirOrder()
{
    const QMetaObject &meta = DesktopUpdateService::staticMetaObject;
    QCOMPARE(QLatin1String(meta.className()), QLatin1String("vek::DesktopUpdateService"));
    const QStringList expected { "InstallerStarted()", "UpdateAvailable(QString)",
        "NoUpdateAvailable()", "CheckFailed(QString)", "DownloadProgress(qlonglong,qlonglong)",
        "UpdateReady(QString)", "UpdateFailed(QString)" };
    QStringList signalList;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        if (meta.method(i).methodType() == QMetaMethod::Signal)
            signalList << QString::fromLatin1(meta.method(i).methodSignature());
    }
    QCOMPARE(signalList, expected);
    QVERIFY(DesktopUpdateService::IsTrustedUpdateUrl(DesktopUpdateService::DefaultManifestUrl()));
    QVERIFY(DesktopUpdateService::DefaultManifestUrl().path().endsWith(
        QLatin1String("/desktop/windows/x64/print-agent/stable/latest.json")));
    QVERIFY(!DesktopUpdateService::IsTrustedUpdateUrl(QUrl(LocalUrl(443, kManifestPath))));
}

void DesktopUpdateServiceTest::untrustedManifestUrlSendsNothing()
{
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(QStringLiteral("https://127.0.0.1:%1/latest.json").arg(server->port())), nullptr, 1,
        TestSettings());
    QCOMPARE(CheckOutcome(service), kNotTrusted);
    QVERIFY(server->requests().isEmpty());
}

void DesktopUpdateServiceTest::secondCheckWhileRunning()
{
    server->setReply(kManifestPath,
        ScriptedReply::Json(200, Manifest("1.0.38", LocalUrl(1, kInstallerPath), QString(64, 'a')))
            .after(200ms));
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 1, TestSettings());
    QSignalSpy none(&service, &DesktopUpdateService::NoUpdateAvailable);
    QSignalSpy failed(&service, &DesktopUpdateService::CheckFailed);
    service.CheckForUpdates();
    service.CheckForUpdates();
    QVERIFY(QTest::qWaitFor([&] { return none.size() == 1; }, 10000));
    QCoreApplication::processEvents();
    QCOMPARE(server->requestsTo(kManifestPath).size(), 1);
    QCOMPARE(none.size(), 1);
    QVERIFY(failed.isEmpty());
}

void DesktopUpdateServiceTest::requestHeaders()
{
    server->setReply(kManifestPath,
        ScriptedReply::Json(
            200, Manifest("1.0.38", LocalUrl(1, kInstallerPath), QString(64, 'a'))));
    DesktopUpdateService agent(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 1, TestSettings());
    QCOMPARE(CheckOutcome(agent), QStringLiteral("none"));
    const auto request = server->requestsTo(kManifestPath).value(0);
    QCOMPARE(request.headers.value("user-agent"), QByteArray("Vek-Print-Agent/1.0.38"));
    QCOMPARE(request.headers.value("accept"), QByteArray("application/json"));
    DesktopUpdateService viewer(QStringLiteral("4.1.0"), QUrl(), nullptr, 2, TestSettings());
    QCOMPARE(viewer.UserAgent(), QStringLiteral("Vek-Diagnostic-Viewer/4.1.0"));
}

void DesktopUpdateServiceTest::checkRefusals_data()
{
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<QString>("reason");  // "*" any network text
    const QByteArray valid
        = QJsonDocument(Manifest("2.0.0", "https://localhost/i.exe", QString(64, 'a')))
              .toJson(QJsonDocument::Compact);
    QByteArray exact = valid;
    exact.insert(1, QByteArray(65536 - valid.size(), ' '));
    QTest::newRow("65,536 bytes are read") << ScriptedReply::Raw(200, exact) << "";
    QTest::newRow("manifest over 64 KiB") << ScriptedReply::Raw(200, exact + ' ') << kTooLarge;
    QTest::newRow("204") << ScriptedReply::Raw(204, {}) << "*";
    QTest::newRow("404") << ScriptedReply::Raw(404, valid) << "*";
    QTest::newRow("not json") << ScriptedReply::Raw(200, "<html>")
                              << "The update response is invalid.";
    QTest::newRow("untrusted download URL")
        << ScriptedReply::Json(200, Manifest("2.0.0", "https://127.0.0.1/i.exe", QString(64, 'a')))
        << "The update response failed security validation.";
    QTest::newRow("same version") << ScriptedReply::Json(
        200, Manifest("1.0.38", "https://localhost/i.exe", QString(64, 'a')))
                                  << "none";
}

void DesktopUpdateServiceTest::checkRefusals()
{
    QFETCH(ScriptedReply, reply);
    QFETCH(QString, reason);
    server->setReply(kManifestPath, reply);
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 1, TestSettings());
    const QString outcome = CheckOutcome(service);
    if (reason == QLatin1String("*"))
        QVERIFY2(!outcome.isEmpty() && outcome != QLatin1String("none")
                && outcome != QLatin1String("no outcome"),
            qPrintable(outcome));
    else
        QCOMPARE(outcome, reason);
}

void DesktopUpdateServiceTest::manifestRedirects_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");
    QTest::newRow("trusted host") << "https://localhost:%1/moved.json"
                                  << "";
    QTest::newRow("plain http") << "http://localhost:%1/moved.json" << kNotTrusted;
    QTest::newRow("untrusted https host") << "https://127.0.0.1:%1/moved.json" << kNotTrusted;
}

void DesktopUpdateServiceTest::manifestRedirects()
{
    QFETCH(QString, target);
    QFETCH(QString, reason);
    ScriptedReply redirect = ScriptedReply::Raw(302, {});
    redirect.headers.append({ "Location", target.arg(server->port()).toUtf8() });
    server->setReply(kManifestPath, redirect);
    server->setReply(QStringLiteral("/moved.json"),
        ScriptedReply::Json(200, Manifest("2.0.0", "https://localhost/i.exe", QString(64, 'a'))));
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 1, TestSettings());
    QCOMPARE(CheckOutcome(service), reason);
    QCOMPARE(server->requestsTo(QStringLiteral("/moved.json")).isEmpty(), !reason.isEmpty());
}

void DesktopUpdateServiceTest::endlessManifestStaysBounded()
{
    ThreadedRawServer endless;
    endless.setEndlessResponse(
        ThreadedRawServer::Head(200, "Content-Type: application/json\r\n"), QByteArray(16384, ' '));
    QVERIFY(endless.start(true));
    const qint64 peakBefore = PeakResidentKiB();
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(endless.port(), kManifestPath)), nullptr, 1, TestSettings());
    QCOMPARE(CheckOutcome(service), kTooLarge);
    QVERIFY2(PeakResidentKiB() - peakBefore < 16 * 1024, "memory grew while reading the manifest");

    ThreadedRawServer announced;
    announced.setResponse(ThreadedRawServer::Head(200, "Content-Length: 70000\r\n") + "{", true);
    QVERIFY(announced.start(true));
    DesktopUpdateService second(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(announced.port(), kManifestPath)), nullptr, 1, TestSettings());
    QCOMPARE(CheckOutcome(second), kTooLarge);
}

void DesktopUpdateServiceTest::trickledManifestMeetsTheDeadline()
{
    ThreadedRawServer trickle;
    trickle.setEndlessResponse(
        ThreadedRawServer::Head(200, "Content-Length: 60000\r\n"), " ", 20ms);
    QVERIFY(trickle.start(true));
    UpdateServiceSettings settings = TestSettings();
    settings.checkDeadline = 500ms;
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(trickle.port(), kManifestPath)), nullptr, 1, settings);
    QCOMPARE(CheckOutcome(service), QStringLiteral("The update check took too long."));
}

void DesktopUpdateServiceTest::downloads_data()
{
    QTest::addColumn<InstallerSigner>("signer");
    QTest::addColumn<Bend>("bend");
    QTest::addColumn<QString>("fileVersion");
    QTest::addColumn<bool>("publishedDigestMatches");
    QTest::addColumn<QString>("reason");
    const QString rejected = QStringLiteral("The downloaded update was rejected: %1.");
    const QString notVerified = rejected.arg(QLatin1String("signature did not verify"));
    QTest::newRow("verified") << InstallerSigner::Trusted << Bend::None << "2.0.0" << true << "";
    QTest::newRow("checksum field changed")
        << InstallerSigner::Trusted << Bend::ChangeChecksum << "2.0.0" << true << "";
    QTest::newRow("wrong sha256")
        << InstallerSigner::Trusted << Bend::None << "2.0.0" << false
        << "The downloaded update did not match its published checksum and was discarded.";
    QTest::newRow("tampered body")
        << InstallerSigner::Trusted << Bend::FlipBodyByte << "2.0.0" << true << notVerified;
    QTest::newRow("unsigned") << InstallerSigner::Unsigned << Bend::None << "2.0.0" << true
                              << rejected.arg("not signed");
    QTest::newRow("signed under another root")
        << InstallerSigner::OtherRoot << Bend::None << "2.0.0" << true
        << rejected.arg("signed by a different authority");
    QTest::newRow("leaf without code-signing usage")
        << InstallerSigner::WithoutCodeSigningUsage << Bend::None << "2.0.0" << true << notVerified;
    QTest::newRow("junk inside the signature block")
        << InstallerSigner::Trusted << Bend::JunkInsideBlock << "2.0.0" << true << notVerified;
    QTest::newRow("bytes appended after the table")
        << InstallerSigner::Trusted << Bend::AppendAfterTable << "2.0.0" << true << notVerified;
    QTest::newRow("truncated signature")
        << InstallerSigner::Trusted << Bend::TruncateSignature << "2.0.0" << true << notVerified;
    QTest::newRow("version resource older than the manifest")
        << InstallerSigner::Trusted << Bend::None << "1.9.0" << true << notVerified;
}

void DesktopUpdateServiceTest::downloads()
{
    QFETCH(InstallerSigner, signer);
    QFETCH(Bend, bend);
    QFETCH(QString, fileVersion);
    QFETCH(bool, publishedDigestMatches);
    QFETCH(QString, reason);
    QString error;
    const QByteArray made = vek::test::MakeInstaller(fileVersion, signer, &error);
    QVERIFY2(!made.isEmpty(), qPrintable(error));
    const QByteArray installer = vek::test::Bent(made, bend);
    const QString digest
        = vek::test::Sha256Hex(publishedDigestMatches ? installer : installer + 'x');
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 1, TestSettings());
    QSignalSpy progress(&service, &DesktopUpdateService::DownloadProgress);
    QCOMPARE(DownloadOutcome(*server, service, installer, digest), reason);
    const QString folder = DesktopUpdateService::UpdatesDirectory();
    QVERIFY(!QFile::exists(folder + QStringLiteral("/Vek-Diagnostic-Viewer-2.0.0.partial")));
    QCOMPARE(QFile::exists(folder + QStringLiteral("/Vek-Diagnostic-Viewer-2.0.0.exe")),
        reason.isEmpty());
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toLongLong(), qlonglong(installer.size()));
    if (!reason.isEmpty()) {
        QSignalSpy failed(&service, &DesktopUpdateService::UpdateFailed);
        service.InstallUpdate();
        QCOMPARE(
            failed.value(0).value(0).toString(), QStringLiteral("No verified update is ready."));
    }
}

void DesktopUpdateServiceTest::downloadBeforeOffer()
{
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 1, TestSettings());
    QSignalSpy failed(&service, &DesktopUpdateService::UpdateFailed);
    service.DownloadUpdate();
    service.InstallUpdate();
    QCOMPARE(failed.size(), 2);
    QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("No update has been offered yet."));
    QCOMPARE(failed.at(1).at(0).toString(), QStringLiteral("No verified update is ready."));
}

void DesktopUpdateServiceTest::announcedOversizeDownload()
{
    // The length is announced; the body itself never comes.
    ThreadedRawServer big;
    big.setResponse(
        ThreadedRawServer::Head(200, "Content-Length: 536870913\r\n") + QByteArray(1024, 'M'),
        true);
    QVERIFY(big.start(true));
    server->setReply(kManifestPath,
        ScriptedReply::Json(
            200, Manifest("2.0.0", LocalUrl(big.port(), kInstallerPath), QString(64, 'a'))));
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 1, TestSettings());
    QCOMPARE(CheckOutcome(service), QString());
    QSignalSpy failed(&service, &DesktopUpdateService::UpdateFailed);
    service.DownloadUpdate();
    QVERIFY(QTest::qWaitFor([&] { return !failed.isEmpty(); }, 10000));
    QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("The update is larger than expected."));
    QVERIFY(!QFile::exists(service.InstallerPath(false)));
    // The aborted reply's own finish must not report a second failure.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCOMPARE(failed.size(), 1);
}

void DesktopUpdateServiceTest::stalledDownloadEnds()
{
    ThreadedRawServer stall;
    stall.setResponse(
        ThreadedRawServer::Head(200, "Content-Length: 100000\r\n") + QByteArray(100, 'S'), true);
    QVERIFY(stall.start(true));
    server->setReply(kManifestPath,
        ScriptedReply::Json(
            200, Manifest("2.0.0", LocalUrl(stall.port(), kInstallerPath), QString(64, 'a'))));
    UpdateServiceSettings settings = TestSettings();
    settings.transferTimeout = 300ms;
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 1, settings);
    QCOMPARE(CheckOutcome(service), QString());
    QSignalSpy failed(&service, &DesktopUpdateService::UpdateFailed);
    service.DownloadUpdate();
    service.DownloadUpdate();  // already running: nothing happens
    QVERIFY(QTest::qWaitFor([&] { return !failed.isEmpty(); }, 10000));
    QCOMPARE(failed.size(), 1);
    QVERIFY(!failed.at(0).at(0).toString().isEmpty());
    QVERIFY(!QFile::exists(service.InstallerPath(false)));
}

void DesktopUpdateServiceTest::swappedAfterVerification()
{
    const QByteArray installer
        = vek::test::MakeInstaller(QStringLiteral("2.0.0"), InstallerSigner::Trusted);
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 1, TestSettings());
    QCOMPARE(
        DownloadOutcome(*server, service, installer, vek::test::Sha256Hex(installer)), QString());
    const QString ready = service.InstallerPath(true);
    {
        QFile swap(ready);
        QVERIFY(swap.open(QIODevice::WriteOnly | QIODevice::Truncate));
        swap.write("#!/bin/sh\necho swapped\n");
    }
    QSignalSpy failed(&service, &DesktopUpdateService::UpdateFailed);
    QSignalSpy started(&service, &DesktopUpdateService::InstallerStarted);
    service.InstallUpdate();
    service.InstallUpdate();
    QCOMPARE(failed.size(), 2);
    QCOMPARE(failed.at(0).at(0).toString(),
        QStringLiteral("The verified update is no longer available."));
    QCOMPARE(failed.at(1).at(0).toString(), QStringLiteral("No verified update is ready."));
    QVERIFY(started.isEmpty());
    QVERIFY(!QFile::exists(ready));
}

void DesktopUpdateServiceTest::staleDownloadsAreRemoved()
{
    const QDir folder(DesktopUpdateService::UpdatesDirectory());
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    const QStringList removed { "Vek-Diagnostic-Viewer-1.2.3.exe",
        "Vek-Diagnostic-Viewer-x.partial" };
    const QStringList kept { "Vek-Diagnostic-Viewer-", "Vek-Diagnostic-Viewer-1.2.3.EXE",
        "Other-1.2.3.exe", "Vek-Diagnostic-Viewer-1.2.3.msi", ".Vek-Diagnostic-Viewer-1.exe" };
    for (const QString &name : removed + kept) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    DesktopUpdateService::RemoveStaleDownloads();
    for (const QString &name : removed)
        QVERIFY2(!folder.exists(name), qPrintable(name));
    for (const QString &name : kept)
        QVERIFY2(folder.exists(name), qPrintable(name));
    QCOMPARE(DesktopUpdateService::InstallerFileName(QStringLiteral("1.2.3"), false),
        QStringLiteral("Vek-Diagnostic-Viewer-1.2.3.partial"));
    QCOMPARE(DesktopUpdateService::InstallerFileName(QStringLiteral("../é"), true),
        QStringLiteral("Vek-Diagnostic-Viewer-...exe"));
    QCOMPARE(DesktopUpdateService::InstallerFileName(QStringLiteral("/"), true),
        QStringLiteral("Vek-Diagnostic-Viewer-unknown.exe"));
}

// The sibling product first asks the print agent beside it to finish its
// work; with no agent program there, nothing is started.
void DesktopUpdateServiceTest::siblingProductWithoutAgentToPrepare()
{
    QVERIFY(!QFile::exists(
        QCoreApplication::applicationDirPath() + QStringLiteral("/VekPrintAgent.exe")));
    const QByteArray installer
        = vek::test::MakeInstaller(QStringLiteral("2.0.0"), InstallerSigner::Trusted);
    DesktopUpdateService service(QStringLiteral("1.0.38"),
        QUrl(LocalUrl(server->port(), kManifestPath)), nullptr, 2, TestSettings());
    QCOMPARE(DownloadOutcome(*server, service, installer, vek::test::Sha256Hex(installer),
                 QStringLiteral("Vek Diagnostic Viewer")),
        QString());
    QSignalSpy failed(&service, &DesktopUpdateService::UpdateFailed);
    QSignalSpy started(&service, &DesktopUpdateService::InstallerStarted);
    service.InstallUpdate();
    QVERIFY(QTest::qWaitFor([&] { return !failed.isEmpty(); }, 10000));
    QCOMPARE(failed.at(0).at(0).toString(),
        QStringLiteral("Could not prepare Vek Print Agent for the update. Close it from its tray "
                       "menu and try again."));
    QCoreApplication::processEvents();
    QCOMPARE(failed.size(), 1);
    QVERIFY(started.isEmpty());
    // The verified installer stays ready for another attempt.
    QVERIFY(QFile::exists(service.InstallerPath(true)));
}

QTEST_GUILESS_MAIN(DesktopUpdateServiceTest)
#include "test_desktopupdateservice.moc"
