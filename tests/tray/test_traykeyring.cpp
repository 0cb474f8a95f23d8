// The tray with the credential in a locked desktop keyring (a real GNOME
// Keyring on a private bus, tests/harness/keyringsession.sh): it says so
// instead of asking to set the workstation up again, and starts once the
// keyring is unlocked and the user checks for jobs.

#include "agent/clinicapi.h"
#include "agent/configfile.h"
#include "app/applicationidentity.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/harness/keyringcontrol.h"
#include "tray/agenttray.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

using vek::agent::AgentConfig;
using vek::agent::AgentTray;

class TrayKeyringTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        vek::app::ApplyApplicationIdentity(*QCoreApplication::instance());
        vek::agent::RegisterAgentMetaTypes();
    }

    void lockedKeyringAtStartUp()
    {
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
        vek::test::FakeClinicServer server;
        QVERIFY(server.start());
        server.setReply(vek::agent::clinic::kCheckInPath, vek::test::ScriptedReply::Json(200, {}));
        server.setReply(vek::agent::clinic::kClaimPath, vek::test::ScriptedReply::Json(200, {}));
        AgentConfig config;
        config.nodeBaseUrl = server.baseUrl();
        config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
        config.displayName = "Reception";
        config.token = "node-credential";
        QVERIFY(vek::agent::SaveAgentConfig(config));
        QVERIFY(vek::test::LockKeyring());

        AgentTray tray;
        QSignalSpy starts(&tray, &AgentTray::requestStart);
        tray.startUp();
        QVERIFY(!tray.setupDialog());
        QCOMPARE(starts.size(), 0);
        auto *icon = tray.findChild<QSystemTrayIcon *>();
        QVERIFY(icon->toolTip().contains("keyring"));
        QAction *check = nullptr;
        for (QAction *entry : icon->contextMenu()->actions()) {
            if (entry->text() == "Check for jobs now")
                check = entry;
        }
        QVERIFY(check);
        check->trigger();  // still locked
        QCOMPARE(starts.size(), 0);
        QVERIFY(!tray.setupDialog());

        QVERIFY(vek::test::UnlockKeyring());
        check->trigger();
        QCOMPARE(starts.size(), 1);
        QCOMPARE(starts.first().first().value<AgentConfig>().token, config.token);
        QTRY_VERIFY(!server.requestsTo(vek::agent::clinic::kClaimPath).isEmpty());
        QVERIFY(!tray.setupDialog());
    }
};

QTEST_MAIN(TrayKeyringTest)
#include "test_traykeyring.moc"
