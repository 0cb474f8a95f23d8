// agent.json: what is stored, what loading accepts, and the credential sealed
// into the file where no desktop keyring runs.

#include "agent/configfile.h"
#include "agent/identity.h"
#include "app/applicationidentity.h"
#include "platform/linux/systemroot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using vek::agent::AgentConfig;
using vek::agent::AgentConfigPath;
using vek::agent::ClearStoredToken;
using vek::agent::LoadAgentConfig;
using vek::agent::SaveAgentConfig;

namespace {

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

ino_t Inode(const QString &path)
{
    struct stat status { };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

QJsonObject StoredObject()
{
    return QJsonDocument::fromJson(ReadFile(AgentConfigPath())).object();
}

// A machine of its own for each test: its identifier decides the sealing key.
void UseMachine(const QTemporaryDir &root, const QByteArray &machineId)
{
    WriteFile(root.filePath("etc/machine-id"), machineId + "\n");
    vek::platform::linuxbackend::SetSystemRootForTesting(root.path().toStdString());
}

}  // namespace

class ConfigFileTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The sealed file, as where no keyring runs (no session bus at all).
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        vek::app::ApplyApplicationIdentity(*QCoreApplication::instance());
    }
    void init();
    void cleanup();

    void roundTripSealsTheCredential();
    void loadingFiltersAndDefaults();
    void missingOrMalformedFiles();
    void failedSealLeavesThePreviousFile();
    void clearStoredToken();
    void credentialFromAnotherUserOrMachine();

private:
    AgentConfig sample() const;
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<QTemporaryDir> machine;
};

void ConfigFileTest::init()
{
    home = std::make_unique<QTemporaryDir>();
    machine = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", home->path().toUtf8());
    UseMachine(*machine, "11111111111111111111111111111111");
}

void ConfigFileTest::cleanup()
{
    vek::platform::linuxbackend::SetSystemRootForTesting("");
}

AgentConfig ConfigFileTest::sample() const
{
    AgentConfig config;
    config.nodeBaseUrl = " http://frontdesk:8080 ";
    config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
    config.displayName = "Reception ";
    config.token = "sécret-token";
    config.managed = true;
    config.servers = { "https://branch.vekcloud.example", "http://printroom:8080" };
    return config;
}

void ConfigFileTest::roundTripSealsTheCredential()
{
    QVERIFY(SaveAgentConfig(sample()));
    QVERIFY(AgentConfigPath().startsWith(home->path() + "/Vekworks/Vek Print Agent/"));
    const QByteArray text = ReadFile(AgentConfigPath());
    QVERIFY(!text.contains("token\": \"sécret") && !text.contains("ret-token"));
    QVERIFY(text.contains("\n    \""));  // indented
    QCOMPARE(QFile::permissions(AgentConfigPath()) & 0x0077, QFileDevice::Permissions());

    const QJsonObject stored = StoredObject();
    QCOMPARE(stored.value("nodeBaseUrl").toString(), QString("http://frontdesk:8080"));
    QCOMPARE(stored.value("displayName").toString(), QString("Reception"));
    QCOMPARE(stored.value("managed").toBool(), true);

    const auto loaded = LoadAgentConfig();
    QVERIFY(loaded);
    QCOMPARE(loaded->token, QString("sécret-token"));
    QCOMPARE(loaded->nodeBaseUrl, QString("http://frontdesk:8080"));
    QCOMPARE(loaded->servers, sample().servers);
    QVERIFY(loaded->managed);

    // An empty credential writes no "token" key at all.
    AgentConfig signedOut = sample();
    signedOut.token.clear();
    QVERIFY(SaveAgentConfig(signedOut));
    QVERIFY(!StoredObject().contains("token"));
}

void ConfigFileTest::loadingFiltersAndDefaults()
{
    const QJsonObject stored {
        { "nodeBaseUrl", " https://node.clinic.example " },
        { "managed", "true" },  // a string, not a boolean: false
        { "deviceId", "" },
        { "displayName", "   " },
        { "servers",
            QJsonArray { "HTTP://PrintRoom.Local:8080/api?x=1", "http://printroom.local:8080",
                "ftp://printroom", "http://user@printroom", 42,
                "https://branch.vekcloud.example" } },
    };
    WriteFile(AgentConfigPath(), QJsonDocument(stored).toJson());
    const QByteArray before = ReadFile(AgentConfigPath());

    const auto loaded = LoadAgentConfig();
    QVERIFY(loaded);
    QCOMPARE(loaded->nodeBaseUrl, QString("https://node.clinic.example"));
    QCOMPARE(loaded->managed, false);
    QCOMPARE(loaded->servers,
        (QStringList { "http://printroom.local:8080", "https://branch.vekcloud.example" }));
    QVERIFY(loaded->token.isEmpty());
    QVERIFY(!loaded->isSetUp());
    // Identity and name are filled in memory only.
    QCOMPARE(loaded->deviceId, vek::agent::DeriveDeviceId().value_or(QString()));
    QCOMPARE(loaded->deviceId.size(), 38);
    QCOMPARE(loaded->displayName, vek::agent::DefaultDisplayName());
    QCOMPARE(ReadFile(AgentConfigPath()), before);
}

void ConfigFileTest::missingOrMalformedFiles()
{
    QVERIFY(!LoadAgentConfig());
    for (const QByteArray &content :
        { QByteArray("not json {"), QByteArray("[1,2,3]"), QByteArray() }) {
        qDebug() << "content:" << content;  // names the row when one fails
        WriteFile(AgentConfigPath(), content);
        const auto loaded = LoadAgentConfig();
        QVERIFY(loaded);
        QVERIFY(loaded->nodeBaseUrl.isEmpty());
        QVERIFY(!loaded->managed);
        QVERIFY(!loaded->displayName.isEmpty());
    }
    // A damaged credential loads as empty; the rest survives.
    WriteFile(
        AgentConfigPath(), R"({"nodeBaseUrl":"http://node:1","token":"AAAA####bm90IHNlYWxlZA=="})");
    const auto damaged = LoadAgentConfig();
    QVERIFY(damaged);
    QCOMPARE(damaged->nodeBaseUrl, QString("http://node:1"));
    QVERIFY(damaged->token.isEmpty());
}

void ConfigFileTest::failedSealLeavesThePreviousFile()
{
    // A save commits a new file over the old one instead of truncating it in
    // place, so an interrupted write can never leave half a file behind.
    QVERIFY(SaveAgentConfig(sample()));
    const ino_t firstInode = Inode(AgentConfigPath());
    QVERIFY(SaveAgentConfig(sample()));
    QVERIFY(Inode(AgentConfigPath()) != firstInode);
    const QByteArray before = ReadFile(AgentConfigPath());
    // The sealing key cannot be read or made: a directory stands where it belongs.
    const QString keyPath = QFileInfo(AgentConfigPath()).absolutePath() + "/credential.key";
    QVERIFY(QFile::remove(keyPath));
    QVERIFY(QDir().mkpath(keyPath));

    AgentConfig changed = sample();
    changed.nodeBaseUrl = "http://elsewhere:1";
    changed.token = "new-token";
    QVERIFY(!SaveAgentConfig(changed));
    QCOMPARE(ReadFile(AgentConfigPath()), before);
}

void ConfigFileTest::clearStoredToken()
{
    QVERIFY(ClearStoredToken());
    QVERIFY(!QFile::exists(AgentConfigPath()));

    AgentConfig config = sample();
    config.deviceId.clear();
    config.servers.append("ftp://not-a-server");
    QVERIFY(SaveAgentConfig(config));
    QVERIFY(ClearStoredToken());
    const QJsonObject stored = StoredObject();
    QVERIFY(!stored.contains("token"));
    QCOMPARE(stored.value("nodeBaseUrl").toString(), QString("http://frontdesk:8080"));
    // Written back as loaded: the filtered servers and the derived identity.
    QCOMPARE(stored.value("servers").toArray().size(), 2);
    QCOMPARE(stored.value("deviceId").toString().size(), 38);
}

void ConfigFileTest::credentialFromAnotherUserOrMachine()
{
    QVERIFY(SaveAgentConfig(sample()));
    const QByteArray file = ReadFile(AgentConfigPath());

    // The same file under another user's data directory (another key).
    QTemporaryDir otherHome;
    qputenv("XDG_DATA_HOME", otherHome.path().toUtf8());
    QVERIFY(SaveAgentConfig(AgentConfig {}));  // that user has a key of their own
    WriteFile(AgentConfigPath(), file);
    auto loaded = LoadAgentConfig();
    QVERIFY(loaded);
    QVERIFY(loaded->token.isEmpty());
    QCOMPARE(loaded->nodeBaseUrl, QString("http://frontdesk:8080"));
    QCOMPARE(loaded->displayName, QString("Reception"));

    // The whole data directory on another machine.
    qputenv("XDG_DATA_HOME", home->path().toUtf8());
    QVERIFY(LoadAgentConfig()->token == "sécret-token");
    QTemporaryDir otherMachine;
    UseMachine(otherMachine, "22222222222222222222222222222222");
    loaded = LoadAgentConfig();
    QVERIFY(loaded->token.isEmpty());
    QCOMPARE(loaded->nodeBaseUrl, QString("http://frontdesk:8080"));
}

QTEST_GUILESS_MAIN(ConfigFileTest)
#include "test_configfile.moc"
