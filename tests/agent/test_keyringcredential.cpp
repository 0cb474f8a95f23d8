// agent.json with the credential in a real GNOME Keyring on a private session
// bus (tests/harness/keyringsession.sh): the file keeps only a marker, a
// locked or silent keyring leaves the enrolment as it was, sign-out removes
// the entry, and without a Secret Service the sealed file serves, across a
// restart too.

#include "agent/configfile.h"
#include "app/applicationidentity.h"
#include "platform/linux/secretservice.h"
#include "platform/secretstore.h"
#include "tests/harness/keyringcontrol.h"
#include "vek/product.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using vek::agent::AgentConfig;
using vek::agent::AgentConfigPath;
using vek::agent::ClearStoredToken;
using vek::agent::LoadAgentConfig;
using vek::agent::SaveAgentConfig;
using vek::platform::SecretStoreStatus;

namespace {

const QString kToken = QStringLiteral("kéyring-credential-7f3a");

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject StoredObject()
{
    return QJsonDocument::fromJson(ReadFile(AgentConfigPath())).object();
}

vek::platform::SecretStoreResult KeyringEntry()
{
    return vek::platform::ReadSecret(vek::product::kAppName, AgentConfigPath().toStdString());
}

// Locks the keyring, or stops it answering within a short wait.
bool PutKeyringOutOfReach(bool locked)
{
    if (locked)
        return vek::test::LockKeyring();
    vek::platform::linuxbackend::SetSecretServiceTimeoutForTesting(std::chrono::milliseconds(300));
    return vek::test::PauseKeyring();
}

// Undoes either: the keyring answers, unlocked, with the usual wait.
bool BringKeyringBack()
{
    const bool resumed = vek::test::ResumeKeyring();
    vek::platform::linuxbackend::SetSecretServiceTimeoutForTesting(std::chrono::milliseconds(0));
    return vek::test::UnlockKeyring() && resumed;
}

AgentConfig Sample()
{
    AgentConfig config;
    config.nodeBaseUrl = "http://frontdesk:8080";
    config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
    config.displayName = "Reception";
    config.token = kToken;
    config.servers = { "http://printroom:8080" };
    return config;
}

// The helper program on the given bus: a restarted agent.
struct HostRun {
    int exitCode = -1;
    QString output;
};

HostRun RunHost(const QByteArray &bus, const QStringList &arguments)
{
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(bus));
    host.setProcessEnvironment(environment);
    host.start(QStringLiteral(VEK_CREDENTIAL_HOST), arguments);
    if (!host.waitForFinished(30000))
        return {};
    return { host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1,
        QString::fromUtf8(host.readAllStandardOutput()) };
}

}  // namespace

class KeyringCredentialTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        vek::app::ApplyApplicationIdentity(*QCoreApplication::instance());
        QVERIFY(vek::platform::HasSecretStore());
    }
    void init()
    {
        home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", home->path().toUtf8());
    }
    void cleanup() { BringKeyringBack(); }

    void fileKeepsOnlyAMarker()
    {
        QVERIFY(SaveAgentConfig(Sample()));
        const QJsonObject stored = StoredObject();
        QCOMPARE(stored.value("tokenStore").toString(), QString("keyring"));
        QVERIFY(!stored.contains("token"));
        QCOMPARE(stored.value("nodeBaseUrl").toString(), QString("http://frontdesk:8080"));
        QCOMPARE(vek::test::FilesContaining(QDir::homePath(), kToken.toUtf8()), QStringList());
        QCOMPARE(vek::test::FilesContaining(home->path(), kToken.toUtf8()), QStringList());
        QCOMPARE(QString::fromStdString(KeyringEntry().secret), kToken);

        QString problem;
        const auto loaded = LoadAgentConfig(&problem);
        QVERIFY(loaded);
        QCOMPARE(loaded->token, kToken);
        QVERIFY(problem.isEmpty());
        // A restarted agent finds it too.
        const HostRun restarted = RunHost(qgetenv("DBUS_SESSION_BUS_ADDRESS"), { "load" });
        QCOMPARE(restarted.exitCode, 0);
        QCOMPARE(restarted.output, "token=" + kToken + "\nproblem=\n");

        // Saving again (servers learned) keeps it there.
        AgentConfig learned = *loaded;
        learned.servers.append("http://branch:8080");
        QVERIFY(SaveAgentConfig(learned));
        QCOMPARE(StoredObject().value("tokenStore").toString(), QString("keyring"));
        QCOMPARE(LoadAgentConfig()->token, kToken);
    }

    // A keyring that holds the credential but cannot give it now leaves the
    // workstation enrolled: nothing is wiped, and the file stays as it was.
    void keyringOutOfReachKeepsTheEnrolment_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("locked") << true;
        QTest::newRow("not answering") << false;
    }
    void keyringOutOfReachKeepsTheEnrolment()
    {
        QFETCH(bool, locked);
        QVERIFY(SaveAgentConfig(Sample()));
        const QByteArray before = ReadFile(AgentConfigPath());
        QVERIFY(PutKeyringOutOfReach(locked));

        QString problem;
        const auto loaded = LoadAgentConfig(&problem);
        QVERIFY(loaded);
        QVERIFY(loaded->token.isEmpty());
        QCOMPARE(loaded->nodeBaseUrl, QString("http://frontdesk:8080"));
        QVERIFY(!problem.isEmpty());
        QCOMPARE(problem.contains("locked"), locked);
        QCOMPARE(ReadFile(AgentConfigPath()), before);

        QVERIFY(BringKeyringBack());
        problem.clear();
        QCOMPARE(LoadAgentConfig(&problem)->token, kToken);
        QVERIFY(problem.isEmpty());
    }

    // A save while the keyring refuses the credential seals it into the file
    // rather than losing the enrolment; never in clear.
    void keyringThatRefusesLeavesTheSealedFile_data() { keyringOutOfReachKeepsTheEnrolment_data(); }
    void keyringThatRefusesLeavesTheSealedFile()
    {
        QFETCH(bool, locked);
        QVERIFY(PutKeyringOutOfReach(locked));
        QVERIFY(SaveAgentConfig(Sample()));
        const QJsonObject stored = StoredObject();
        QVERIFY(!stored.contains("tokenStore"));
        QVERIFY(!stored.value("token").toString().isEmpty());
        QCOMPARE(vek::test::FilesContaining(home->path(), kToken.toUtf8()), QStringList());
        QString problem;
        QCOMPARE(LoadAgentConfig(&problem)->token, kToken);
        QVERIFY(problem.isEmpty());
    }

    // An entry gone from the keyring (removed by the user) is no problem to
    // wait out: the workstation is simply not enrolled.
    void missingEntryMeansNotEnrolled()
    {
        QVERIFY(SaveAgentConfig(Sample()));
        QCOMPARE(
            vek::platform::RemoveSecret(vek::product::kAppName, AgentConfigPath().toStdString())
                .status,
            SecretStoreStatus::Done);
        QString problem;
        QVERIFY(LoadAgentConfig(&problem)->token.isEmpty());
        QVERIFY(problem.isEmpty());
    }

    void signOutRemovesTheEntry()
    {
        QVERIFY(SaveAgentConfig(Sample()));
        QVERIFY(ClearStoredToken());
        QCOMPARE(KeyringEntry().status, SecretStoreStatus::NotFound);
        const QJsonObject stored = StoredObject();
        QVERIFY(!stored.contains("tokenStore") && !stored.contains("token"));
        QCOMPARE(stored.value("nodeBaseUrl").toString(), QString("http://frontdesk:8080"));

        // Signed out while the keyring is locked: the file lets go of the
        // credential all the same, and says the entry could not be removed.
        QVERIFY(SaveAgentConfig(Sample()));
        QVERIFY(vek::test::LockKeyring());
        QVERIFY(!ClearStoredToken());
        QString problem;
        QVERIFY(LoadAgentConfig(&problem)->token.isEmpty());
        QVERIFY(problem.isEmpty());
        QVERIFY(vek::test::UnlockKeyring());
        QCOMPARE(LoadAgentConfig()->token, QString());
    }

    // Without a Secret Service the credential is sealed into the file, and a
    // workstation enrolled so still works after a restart.
    void sealedFileWithoutSecretService_data()
    {
        QTest::addColumn<QByteArray>("bus");
        QTest::newRow("empty bus") << qgetenv("VEK_TEST_EMPTY_BUS");
        QTest::newRow("no bus") << QByteArray("disabled:");
    }
    void sealedFileWithoutSecretService()
    {
        QFETCH(QByteArray, bus);
        QCOMPARE(RunHost(bus, { "save", "http://frontdesk:8080", kToken }).exitCode, 0);
        const QJsonObject stored = StoredObject();
        QVERIFY(!stored.contains("tokenStore"));
        QVERIFY(!stored.value("token").toString().isEmpty());
        QCOMPARE(vek::test::FilesContaining(home->path(), kToken.toUtf8()), QStringList());
        QCOMPARE(KeyringEntry().status, SecretStoreStatus::NotFound);

        const HostRun restarted = RunHost(bus, { "load" });
        QCOMPARE(restarted.exitCode, 0);
        QCOMPARE(restarted.output, "token=" + kToken + "\nproblem=\n");
        QCOMPARE(RunHost(bus, { "clear" }).exitCode, 0);
        QVERIFY(!StoredObject().contains("token"));
    }

private:
    std::unique_ptr<QTemporaryDir> home;
};

QTEST_GUILESS_MAIN(KeyringCredentialTest)
#include "test_keyringcredential.moc"
