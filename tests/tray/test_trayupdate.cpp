// The tray's self-update flow offscreen, switched on as a Windows build has
// it, against HTTPS on loopback with an installer built and signed here:
// timed and requested checks, the question, progress, the drain, the
// hand-off and quit, the failures, and the drain shared with an outside
// installer.

#include "agent/configfile.h"
#include "app/applicationidentity.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/harness/testca.h"
#include "tests/update/signedinstaller.h"
#include "tray/agenttray.h"
#include "tray/notices.h"
#include "trayworld.h"
#include "update/desktopupdateservice.h"
#include "update/detachedupdate.h"

#include <QAction>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;
using vek::DesktopUpdateService;
using vek::agent::AgentConfig;
using vek::agent::AgentState;
using vek::agent::AgentTray;
using vek::agent::Notice;
using vek::test::FakeClinicServer;
using vek::test::InstallerSigner;
using vek::test::ScriptedReply;

namespace {

// The installer hand-off is observed here instead of starting a Windows
// program: the update service's detached start records each call.
struct DetachedStarts {
    QList<QStringList> calls;  // program, then arguments
    bool succeed = true;
};

DetachedStarts &Starts()
{
    static DetachedStarts starts;
    return starts;
}

const QString kManifestPath = QStringLiteral("/latest.json");
const QString kInstallerPath = QStringLiteral("/installer.exe");
const QString kFinishing = QStringLiteral("Finishing the current print job before updating…");

vek::UpdateServiceSettings TestSettings()
{
    vek::UpdateServiceSettings settings;
    settings.trustedDomain = QStringLiteral("localhost");
    settings.rootThumbprint = vek::test::CodeSigningCertificatesForProcess().rootSha1.toStdString();
    settings.transferTimeout = 5s;
    settings.checkDeadline = 10s;
    // A signed Windows installer cannot run here: its start is recorded.
    settings.startDetached = [](const QString &program, const QStringList &arguments) {
        Starts().calls.append(QStringList { program } + arguments);
        return Starts().succeed;
    };
    return settings;
}

QByteArray Installer()
{
    return vek::test::MakeInstaller(QStringLiteral("2.0.0"), InstallerSigner::Trusted);
}

}  // namespace

class TrayUpdateTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noUpdatesWhereTheyComeFromOutside_data();
    void noUpdatesWhereTheyComeFromOutside();
    void offerDownloadDrainInstallAndQuit();
    void eachVersionAnnouncedOnce();
    void checks_data();
    void checks();
    void failedDownloadShowsTheLastState();
    void installerThatCannotStartResumesPrinting();
    void oneDrainTwoReasons_data();
    void oneDrainTwoReasons();

private:
    // A tray with the flow switched on; a stored config is started, and the
    // worker is stopped first when the test plays its part itself.
    AgentTray &makeTray(const AgentConfig *stored, bool stopWorker, bool updates = true);
    void offer(const QString &version, const QByteArray &installer, const QString &sha256);
    QSystemTrayIcon *icon() const { return tray->findChild<QSystemTrayIcon *>(); }
    QMenu *menu() const { return icon()->contextMenu(); }
    QAction *updateAction() const { return menu()->actions().value(9); }
    QTimer *updateTimer() const { return tray->findChild<QTimer *>("updateCheckTimer"); }
    DesktopUpdateService *service() const { return tray->findChild<DesktopUpdateService *>(); }
    void fireTimer() { QVERIFY(QMetaObject::invokeMethod(updateTimer(), "timeout")); }
    AgentConfig enrolledConfig() const;

    vek::test::TrayWorld world;
    std::unique_ptr<AgentTray> tray;
};

void TrayUpdateTest::initTestCase()
{
    vek::app::ApplyApplicationIdentity(*QCoreApplication::instance());
    vek::agent::RegisterAgentMetaTypes();
    vek::test::TrustTestCaInDefaultConfiguration();
    QString error;
    QVERIFY2(!vek::test::MakeInstaller(QStringLiteral("2.0.0"), InstallerSigner::Trusted, &error)
                  .isEmpty(),
        qPrintable(error));
}

void TrayUpdateTest::init()
{
    QVERIFY(world.setUp(true));
    Starts() = {};
}

void TrayUpdateTest::cleanup()
{
    tray.reset();
    world.tearDown();
}

AgentTray &TrayUpdateTest::makeTray(const AgentConfig *stored, bool stopWorker, bool updates)
{
    if (stored)
        vek::agent::SaveAgentConfig(*stored);
    tray = std::make_unique<AgentTray>();
    if (stopWorker)
        tray->stopWorker(std::chrono::milliseconds::max());
    if (updates) {
        tray->enableUpdatesForTesting(QUrl(QStringLiteral("https://localhost:%1%2")
                                               .arg(world.server->port())
                                               .arg(kManifestPath)),
            TestSettings());
    }
    tray->startUp();
    return *tray;
}

void TrayUpdateTest::offer(
    const QString &version, const QByteArray &installer, const QString &sha256)
{
    world.server->setReply(kManifestPath,
        ScriptedReply::Json(200,
            { { "schemaVersion", 1 }, { "product", "Vek Print Agent" },
                { "platform", "windows-x64" }, { "installerType", "exe" }, { "version", version },
                { "url",
                    QStringLiteral("https://localhost:%1%2")
                        .arg(world.server->port())
                        .arg(kInstallerPath) },
                { "sha256", sha256 }, { "signerThumbprint", QString(40, '0') },
                { "sizeBytes", installer.size() } }));
    world.server->setReply(kInstallerPath, ScriptedReply::Raw(200, installer));
}

AgentConfig TrayUpdateTest::enrolledConfig() const
{
    return vek::test::EnrolledConfig("http://127.0.0.1:9");
}

void TrayUpdateTest::noUpdatesWhereTheyComeFromOutside_data()
{
    QTest::addColumn<bool>("switchedOn");
    QTest::addColumn<bool>("sibling");
    QTest::newRow("this build by default") << false << false;
    QTest::newRow("sibling program beside the agent") << true << true;
}

void TrayUpdateTest::noUpdatesWhereTheyComeFromOutside()
{
    QFETCH(bool, switchedOn);
    QFETCH(bool, sibling);
    const QString siblingPath = QCoreApplication::applicationDirPath() + "/VekWorkstation.exe";
    const auto removeSibling = qScopeGuard([&] { QFile::remove(siblingPath); });
    if (sibling) {
        QFile file(siblingPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    makeTray(nullptr, true, switchedOn);
    QStringList texts;
    for (const QAction *entry : menu()->actions())
        texts.append(entry->isSeparator() ? "--" : entry->text());
    QCOMPARE(texts.size(), 11);
    QCOMPARE(texts.mid(8), (QStringList { "Sign this workstation out", "--", "Quit" }));
    QVERIFY(!service());
    QVERIFY(!updateTimer() || !updateTimer()->isActive());
}

void TrayUpdateTest::offerDownloadDrainInstallAndQuit()
{
    const QByteArray installer = Installer();
    offer("2.0.0", installer, vek::test::Sha256Hex(installer));
    makeTray(nullptr, false);  // the real worker, idle, drains at once
    QCOMPARE(updateAction()->text(), QString("Check for updates"));
    QCOMPARE(menu()->actions().value(10)->isSeparator(), true);
    QVERIFY(updateTimer()->isActive());
    QCOMPARE(updateTimer()->interval(), 60000);

    QSignalSpy offers(service(), &DesktopUpdateService::UpdateAvailable);
    fireTimer();
    QTRY_COMPARE(offers.size(), 1);
    QCOMPARE(updateTimer()->interval(), 21600000);
    QCOMPARE(updateAction()->text(), QString("Update to version 2.0.0…"));
    const QString balloon
        = "5|Vek Print Agent|Version 2.0.0 is available. Choose Update in this icon's menu.|10000";
    QCOMPARE(world.notices, QStringList { balloon });
    fireTimer();  // the same version again: announced once per run
    QTRY_COMPARE(offers.size(), 2);
    QCOMPARE(world.notices, QStringList { balloon });

    QStringList toolTips;
    connect(service(), &DesktopUpdateService::DownloadProgress, this,
        [&] { toolTips.append(icon()->toolTip()); });
    QSignalSpy shutdowns(tray.get(), &AgentTray::requestUpdateShutdown);
    QSignalSpy quits(tray.get(), &AgentTray::quitRequested);
    world.answerYes = true;
    updateAction()->trigger();  // a known version: straight to the question
    QCOMPARE(world.notices.value(1),
        QString("2|Update Vek Print Agent|Version 2.0.0 will be downloaded and checked, then "
                "installed after the current print job. Windows asks for permission, and the "
                "agent starts again by itself.|0"));
    QCOMPARE(icon()->toolTip(), QString("Downloading the update…"));
    QVERIFY(!updateAction()->isEnabled());
    emit service()->DownloadProgress(10, -1);  // no total known: no change
    QCOMPARE(icon()->toolTip(), QString("Downloading the update…"));
    toolTips.clear();

    QTRY_COMPARE(quits.size(), 1);
    QVERIFY(!toolTips.isEmpty());
    QCOMPARE(toolTips.last(), QString("Downloading the update… 100%"));
    for (const QString &tip : toolTips)
        QVERIFY2(tip.startsWith("Downloading the update… ") && tip.endsWith('%'), qPrintable(tip));
    QCOMPARE(shutdowns.size(), 1);
    QVERIFY(!menu()->isEnabled());
    QCOMPARE(icon()->toolTip(), kFinishing);
    QCOMPARE(Starts().calls,
        (QList<QStringList> { { service()->InstallerPath(true), "/SILENT", "/NORESTART",
            "/NORESTARTAPPLICATIONS", "/VEKRESTARTAGENT=1", "/LOG" } }));
    QCOMPARE(world.notices.size(), 2);

    // Draining, no timed check runs.
    const int manifestRequests = world.server->requestsTo(kManifestPath).size();
    fireTimer();
    QCoreApplication::processEvents();
    QCOMPARE(world.server->requestsTo(kManifestPath).size(), manifestRequests);
}

void TrayUpdateTest::eachVersionAnnouncedOnce()
{
    makeTray(nullptr, true);
    for (const char *version : { "2.0.0", "2.0.0", "2.0.1", "2.0.1" })
        emit service()->UpdateAvailable(version);
    QCOMPARE(world.notices,
        (QStringList {
            "5|Vek Print Agent|Version 2.0.0 is available. Choose Update in this icon's "
            "menu.|10000",
            "5|Vek Print Agent|Version 2.0.1 is available. Choose Update in this icon's "
            "menu.|10000",
        }));
    QCOMPARE(updateAction()->text(), QString("Update to version 2.0.1…"));
}

void TrayUpdateTest::checks_data()
{
    QTest::addColumn<bool>("requested");
    QTest::addColumn<QString>("version");  // empty: the manifest is missing
    QTest::addColumn<QString>("notice");  // a prefix
    const QString latest = "4|Vek Print Agent|This is the latest version (1.0.38).|0";
    const QString failed = "0|Vek Print Agent|Could not check for updates.\n\n";
    QTest::newRow("requested, latest") << true << "1.0.38" << latest;
    QTest::newRow("requested, failure") << true << "" << failed;
    QTest::newRow("requested, newer: the question")
        << true << "2.0.0"
        << "2|Update Vek Print Agent|Version 2.0.0 will be downloaded";
    QTest::newRow("silent, latest") << false << "1.0.38"
                                    << "";
    QTest::newRow("silent, failure") << false << ""
                                     << "";
}

void TrayUpdateTest::checks()
{
    QFETCH(bool, requested);
    QFETCH(QString, version);
    QFETCH(QString, notice);
    const QByteArray installer = Installer();
    if (!version.isEmpty())
        offer(version, installer, vek::test::Sha256Hex(installer));
    makeTray(nullptr, true);
    QSignalSpy available(service(), &DesktopUpdateService::UpdateAvailable);
    QSignalSpy none(service(), &DesktopUpdateService::NoUpdateAvailable);
    QSignalSpy failed(service(), &DesktopUpdateService::CheckFailed);
    if (requested)
        updateAction()->trigger();
    else
        fireTimer();
    QTRY_COMPARE(available.size() + none.size() + failed.size(), 1);
    if (notice.isEmpty()) {
        QCOMPARE(world.notices, QStringList());
    } else {
        QCOMPARE(world.notices.size(), 1);
        QVERIFY2(world.notices[0].startsWith(notice), qPrintable(world.notices[0]));
        if (!notice.endsWith("|0"))
            QVERIFY(
                world.notices[0].size() > notice.size() + 2);  // a reason or the rest of the text
    }
    // The answer was No (or nothing was offered): nothing downloads.
    QVERIFY(world.server->requestsTo(kInstallerPath).isEmpty());
    QVERIFY(updateAction()->isEnabled());
}

void TrayUpdateTest::failedDownloadShowsTheLastState()
{
    const QByteArray installer = Installer();
    offer("2.0.0", installer, vek::test::Sha256Hex(installer + 'x'));
    makeTray(nullptr, true);
    QVERIFY(QMetaObject::invokeMethod(tray.get(), "onStateChanged",
        Q_ARG(vek::agent::AgentState, AgentState::Ready), Q_ARG(QString, "")));
    QSignalSpy cancels(tray.get(), &AgentTray::cancelUpdateShutdown);
    QSignalSpy failed(service(), &DesktopUpdateService::UpdateFailed);
    world.answerYes = true;
    updateAction()->trigger();  // check, then the question at once
    QTRY_COMPARE(failed.size(), 1);
    const QString reason = failed[0][0].toString();
    QVERIFY(!reason.isEmpty());
    QCOMPARE(world.notices.last(),
        "3|The update was not installed|This version keeps running unchanged.\n" + reason
            + "|10000");
    QCOMPARE(icon()->toolTip(), QString("Printing is ready"));
    QCOMPARE(icon()->icon().pixmap(64).toImage().pixel(32, 32), QColor(22, 163, 74).rgba());
    QCOMPARE(menu()->actions().first()->text(), QString("Printing is ready"));
    QVERIFY(updateAction()->isEnabled());
    QCOMPARE(updateAction()->text(), QString("Update to version 2.0.0…"));
    QVERIFY(menu()->isEnabled());
    QCOMPARE(cancels.size(), 0);  // no drain had begun
}

void TrayUpdateTest::installerThatCannotStartResumesPrinting()
{
    const QByteArray installer = Installer();
    offer("2.0.0", installer, vek::test::Sha256Hex(installer));
    const AgentConfig config = enrolledConfig();
    makeTray(&config, true);
    QVERIFY(QMetaObject::invokeMethod(tray.get(), "onStateChanged",
        Q_ARG(vek::agent::AgentState, AgentState::Printing), Q_ARG(QString, "")));
    QSignalSpy shutdowns(tray.get(), &AgentTray::requestUpdateShutdown);
    QSignalSpy cancels(tray.get(), &AgentTray::cancelUpdateShutdown);
    QSignalSpy starts(tray.get(), &AgentTray::requestStart);
    QSignalSpy quits(tray.get(), &AgentTray::quitRequested);
    world.answerYes = true;
    updateAction()->trigger();
    QTRY_COMPARE(shutdowns.size(), 1);
    QVERIFY(!menu()->isEnabled());
    QCOMPARE(icon()->toolTip(), kFinishing);

    Starts().succeed = false;
    QVERIFY(QMetaObject::invokeMethod(tray.get(), "onShutdownReady"));
    QCOMPARE(Starts().calls.size(), 1);
    QCOMPARE(quits.size(), 0);
    QCOMPARE(cancels.size(), 1);
    QCOMPARE(starts.size(), 1);
    QCOMPARE(starts[0][0].value<AgentConfig>().token, config.token);
    QVERIFY(menu()->isEnabled());
    QVERIFY(updateAction()->isEnabled());
    QCOMPARE(icon()->toolTip(), QString("Printing…"));
    QCOMPARE(world.notices.last(),
        QString("3|The update was not installed|This version keeps running unchanged.\nThe "
                "update could not start. The installed version is unchanged.|10000"));
}

void TrayUpdateTest::oneDrainTwoReasons_data()
{
    QTest::addColumn<bool>("updateFirst");
    QTest::addColumn<bool>("updateEndsFirst");
    QTest::newRow("update, installer; update ends first") << true << true;
    QTest::newRow("update, installer; installer leaves first") << true << false;
    QTest::newRow("installer, update; update ends first") << false << true;
    QTest::newRow("installer, update; installer leaves first") << false << false;
}

void TrayUpdateTest::oneDrainTwoReasons()
{
    QFETCH(bool, updateFirst);
    QFETCH(bool, updateEndsFirst);
    const AgentConfig config = enrolledConfig();
    makeTray(&config, true);
    QSignalSpy shutdowns(tray.get(), &AgentTray::requestUpdateShutdown);
    QSignalSpy cancels(tray.get(), &AgentTray::cancelUpdateShutdown);
    QSignalSpy starts(tray.get(), &AgentTray::requestStart);
    QSignalSpy quits(tray.get(), &AgentTray::quitRequested);

    QLocalServer local;
    QVERIFY(local.listen(QString("vek-trayupdate-%1").arg(QCoreApplication::applicationPid())));
    QLocalSocket client;
    client.connectToServer(local.serverName());
    QVERIFY(local.waitForNewConnection(5000));
    QLocalSocket *installer = local.nextPendingConnection();
    QVERIFY(client.waitForConnected(5000));
    QSignalSpy left(installer, &QLocalSocket::disconnected);

    auto beginUpdate = [&] { emit service()->UpdateReady("2.0.0"); };
    auto beginInstaller = [&] { tray->beginInstallerDrain(installer); };
    auto endUpdate = [&] { emit service()->UpdateFailed("Refused."); };
    auto endInstaller = [&] {
        client.disconnectFromServer();
        QTRY_COMPARE(left.size(), 1);
    };
    if (updateFirst) {
        beginUpdate();
        beginInstaller();
    } else {
        beginInstaller();
        beginUpdate();
    }
    QCOMPARE(shutdowns.size(), 1);
    QVERIFY(!menu()->isEnabled());

    // The worker is ready: the installer already waiting goes first.
    QVERIFY(QMetaObject::invokeMethod(tray.get(), "onShutdownReady"));
    QCOMPARE(quits.size(), 1);
    QVERIFY(Starts().calls.isEmpty());

    if (updateEndsFirst) {
        endUpdate();
        QCOMPARE(
            icon()->toolTip(), QString("Finishing the current print job before updating Vek…"));
    } else {
        endInstaller();
        QCOMPARE(icon()->toolTip(), kFinishing);
    }
    QCOMPARE(cancels.size(), 0);  // the other reason still holds the worker
    QCOMPARE(starts.size(), 0);
    QVERIFY(!menu()->isEnabled());

    if (updateEndsFirst)
        endInstaller();
    else
        endUpdate();
    QCOMPARE(cancels.size(), 1);
    QCOMPARE(starts.size(), 1);
    QVERIFY(menu()->isEnabled());
    QCOMPARE(shutdowns.size(), 1);
}

QTEST_MAIN(TrayUpdateTest)
#include "test_trayupdate.moc"
