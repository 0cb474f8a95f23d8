// The secret store against a real GNOME Keyring on a private session bus
// (tests/harness/keyringsession.sh): what it keeps, how a locked keyring reads
// back, and a daemon that stops answering.

#include "platform/linux/secretservice.h"
#include "platform/secretstore.h"
#include "tests/harness/keyringcontrol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <cstdio>

using vek::platform::ReadSecret;
using vek::platform::RemoveSecret;
using vek::platform::SecretStoreStatus;
using vek::platform::StoreSecret;

namespace {

const std::string kService = "Vek Print Agent tests";

}  // namespace

namespace vek::platform {
char *toString(SecretStoreStatus status)
{
    static const char *const names[] = { "Done", "NotFound", "NoStore", "Locked", "Failed" };
    return qstrdup(names[int(status)]);
}
}  // namespace vek::platform

class TestLinuxSecretStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(vek::platform::HasSecretStore()); }

    void storeReadReplaceRemove()
    {
        QCOMPARE(ReadSecret(kService, "round trip").status, SecretStoreStatus::NotFound);
        QCOMPARE(
            StoreSecret(kService, "round trip", "first sécret").status, SecretStoreStatus::Done);
        QCOMPARE(StoreSecret(kService, "other", "other secret").status, SecretStoreStatus::Done);
        auto read = ReadSecret(kService, "round trip");
        QCOMPARE(read.status, SecretStoreStatus::Done);
        QCOMPARE(read.secret, std::string("first sécret"));

        QCOMPARE(StoreSecret(kService, "round trip", "second").status, SecretStoreStatus::Done);
        QCOMPARE(ReadSecret(kService, "round trip").secret, std::string("second"));
        // Another service's entry of the same key is another secret.
        QCOMPARE(ReadSecret("Another program", "round trip").status, SecretStoreStatus::NotFound);

        QCOMPARE(RemoveSecret(kService, "round trip").status, SecretStoreStatus::Done);
        QCOMPARE(ReadSecret(kService, "round trip").status, SecretStoreStatus::NotFound);
        QCOMPARE(RemoveSecret(kService, "round trip").status, SecretStoreStatus::Done);
        QCOMPARE(ReadSecret(kService, "other").secret, std::string("other secret"));
        QCOMPARE(RemoveSecret(kService, "other").status, SecretStoreStatus::Done);
    }

    // A locked keyring gives back nothing for an entry it holds, as if the
    // entry were missing; the store tells the two apart.
    void lockedKeyringIsNotAMissingEntry()
    {
        QCOMPARE(StoreSecret(kService, "locked", "kept").status, SecretStoreStatus::Done);
        QVERIFY(vek::test::LockKeyring());
        QCOMPARE(ReadSecret(kService, "locked").status, SecretStoreStatus::Locked);
        QCOMPARE(ReadSecret(kService, "never stored").status, SecretStoreStatus::NotFound);
        QCOMPARE(StoreSecret(kService, "locked", "replaced").status, SecretStoreStatus::Locked);
        // A locked keyring answers a removal without removing anything.
        QCOMPARE(RemoveSecret(kService, "locked").status, SecretStoreStatus::Locked);

        QVERIFY(vek::test::UnlockKeyring());
        const auto read = ReadSecret(kService, "locked");
        QCOMPARE(read.status, SecretStoreStatus::Done);
        QCOMPARE(read.secret, std::string("kept"));
        QCOMPARE(RemoveSecret(kService, "locked").status, SecretStoreStatus::Done);
        // Whatever failed above left no copy of either secret in clear anywhere.
        QCOMPARE(vek::test::FilesContaining(QDir::homePath(), "kept"), QStringList());
        QCOMPARE(vek::test::FilesContaining(QDir::homePath(), "replaced"), QStringList());
    }

    // A daemon that holds its bus name but never answers costs a bounded wait.
    void keyringThatDoesNotAnswer()
    {
        QCOMPARE(StoreSecret(kService, "hung", "before").status, SecretStoreStatus::Done);
        vek::platform::linuxbackend::SetSecretServiceTimeoutForTesting(
            std::chrono::milliseconds(300));
        QVERIFY(vek::test::PauseKeyring());
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ReadSecret(kService, "hung").status, SecretStoreStatus::Failed);
        QCOMPARE(StoreSecret(kService, "hung", "during").status, SecretStoreStatus::Failed);
        QVERIFY2(clock.elapsed() < 5000, QByteArray::number(clock.elapsed()));
        QVERIFY(vek::test::ResumeKeyring());
        vek::platform::linuxbackend::SetSecretServiceTimeoutForTesting(
            std::chrono::milliseconds(0));

        // The calls left waiting finish once it answers, in order, and the
        // store serves again.
        QCOMPARE(ReadSecret(kService, "hung").status, SecretStoreStatus::Done);
        QCOMPARE(StoreSecret(kService, "hung", "after").status, SecretStoreStatus::Done);
        QCOMPARE(ReadSecret(kService, "hung").secret, std::string("after"));
        QCOMPARE(RemoveSecret(kService, "hung").status, SecretStoreStatus::Done);
        QCOMPARE(vek::test::FilesContaining(QDir::homePath(), "during"), QStringList());
    }

    // No Secret Service on the bus, or no bus at all: there is no store, and
    // nothing is written anywhere in its place.
    void noSecretService_data()
    {
        QTest::addColumn<QByteArray>("bus");
        QTest::newRow("empty bus") << qgetenv("VEK_TEST_EMPTY_BUS");
        QTest::newRow("no bus") << QByteArray("disabled:");
    }
    void noSecretService()
    {
        QFETCH(QByteArray, bus);
        // The session bus of a process is chosen once, so a child asks.
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(bus));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), { "--child" });
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.readAllStandardOutput(), QByteArray("NoStore NoStore NoStore NoStore\n"));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(vek::test::FilesContaining(QDir::homePath(), "child secret"), QStringList());
    }
};

// What a process without a Secret Service gets from each call.
static int RunChild()
{
    const auto name = [](SecretStoreStatus status) {
        char *text = vek::platform::toString(status);
        const QByteArray copy(text);
        delete[] text;
        return copy;
    };
    const QByteArray line = QByteArray(vek::platform::HasSecretStore() ? "Store" : "NoStore") + ' '
        + name(StoreSecret(kService, "child", "child secret").status) + ' '
        + name(ReadSecret(kService, "child").status) + ' '
        + name(RemoveSecret(kService, "child").status) + '\n';
    return std::fputs(line.constData(), stdout) >= 0 ? 0 : 1;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().contains("--child"))
        return RunChild();
    TestLinuxSecretStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_linux_secretstore.moc"
