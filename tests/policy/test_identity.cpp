// The workstation identity and its default display name.

#include "agent/identity.h"
#include "platform/linux/systemroot.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace vek::agent;

class TestIdentity : public QObject {
    Q_OBJECT

private slots:
    void deviceId_data();
    void deviceId();
    void deviceIdNeedsOneSource_data();
    void deviceIdNeedsOneSource();
    void deviceIdSameForEquivalentGuids();
    void deriveFromSystem_data();
    void deriveFromSystem();
    void displayName_data();
    void displayName();
    void cleanup() { vek::platform::linuxbackend::SetSystemRootForTesting({}); }
};

void TestIdentity::deviceId_data()
{
    QTest::addColumn<QString>("guid");
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QString>("expected");

    // Digests of "vek-print-agent:v1:<guid>|<volume>" taken with sha256sum.
    QTest::newRow("both sources") << "4c4c4544-0042-3510-8052-b4c04f4d4d32"
                                  << "/dev/sda1"
                                  << "vekpa-b71ea9a5d26a5a8552eb5dc8100bacb7";
    QTest::newRow("no GUID") << ""
                             << "/dev/sda1"
                             << "vekpa-3d2f7fa5c0b74145f92980fdee93b29f";
    QTest::newRow("no volume") << "4c4c4544-0042-3510-8052-b4c04f4d4d32"
                               << ""
                               << "vekpa-2517db497f130053ce2f9b8a8b1abf78";
    QTest::newRow("volume upper case, padded") << "4C4C4544-0042-3510-8052-B4C04F4D4D32"
                                               << "  /DEV/SDA1\t"
                                               << "vekpa-b71ea9a5d26a5a8552eb5dc8100bacb7";
    // A placeholder inside the GUID is text, not a second substitution.
    QTest::newRow("GUID holding %2") << "AB%2CD"
                                     << "vol"
                                     << "vekpa-dc39550a3452a3ac6009654e832c2a85";
}

void TestIdentity::deviceId()
{
    QFETCH(QString, guid);
    QFETCH(QString, volume);
    QFETCH(QString, expected);
    const std::optional<QString> id = DeviceIdFrom(guid, volume);
    QVERIFY(id);
    QCOMPARE(*id, expected);
    QVERIFY(QRegularExpression("^vekpa-[0-9a-f]{32}$").match(*id).hasMatch());
}

void TestIdentity::deviceIdNeedsOneSource_data()
{
    QTest::addColumn<QString>("guid");
    QTest::addColumn<QString>("volume");
    QTest::newRow("both empty") << ""
                                << "";
    QTest::newRow("both blank") << "  \t"
                                << "\r\n ";
}

void TestIdentity::deviceIdNeedsOneSource()
{
    QFETCH(QString, guid);
    QFETCH(QString, volume);
    QVERIFY(!DeviceIdFrom(guid, volume));
}

void TestIdentity::deviceIdSameForEquivalentGuids()
{
    const QString volume = "\\\\?\\Volume{0b1c2d3e-0000-0000-0000-100000000000}\\";
    const auto plain = DeviceIdFrom("4c4c4544-0042-3510-8052-b4c04f4d4d32", volume);
    QVERIFY(plain);
    QCOMPARE(DeviceIdFrom("4C4C4544-0042-3510-8052-B4C04F4D4D32", volume), plain);
    QCOMPARE(DeviceIdFrom("  4c4c4544-0042-3510-8052-b4c04f4d4d32 \n", volume), plain);
    QVERIFY(DeviceIdFrom("4c4c4544-0042-3510-8052-b4c04f4d4d33", volume) != plain);
}

void TestIdentity::deriveFromSystem_data()
{
    QTest::addColumn<QByteArray>("machineIdFile");  // empty: no file
    QTest::addColumn<QString>("guid");  // what the identity is formed from

    QTest::newRow("machine id in capitals, padded") << QByteArray(
        " 4C4C45440042351080528B4C04F4D4D3\t\n") << "4c4c45440042351080528b4c04f4d4d3";
    QTest::newRow("no machine id") << QByteArray() << "";
}

void TestIdentity::deriveFromSystem()
{
    QFETCH(QByteArray, machineIdFile);
    QFETCH(QString, guid);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    if (!machineIdFile.isEmpty()) {
        QVERIFY(QDir(root.path()).mkpath("etc"));
        QFile file(root.filePath("etc/machine-id"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(machineIdFile);
    }
    vek::platform::linuxbackend::SetSystemRootForTesting(root.path().toStdString());

    const std::optional<QString> id = DeriveDeviceId();
    QCOMPARE(id, DeviceIdFrom(guid, SystemVolumeDevice()));
    if (!guid.isEmpty())
        QVERIFY(id && id->size() == 38);
}

void TestIdentity::displayName_data()
{
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "RECEPTION-2"
                           << "RECEPTION-2";
    QTest::newRow("padded") << "  reception-2\n"
                            << "reception-2";
    QTest::newRow("empty") << ""
                           << "Workstation";
    QTest::newRow("blank") << " \t "
                           << "Workstation";
}

void TestIdentity::displayName()
{
    QFETCH(QString, hostName);
    QFETCH(QString, name);
    QCOMPARE(DisplayNameFrom(hostName), name);
    QVERIFY(!DefaultDisplayName().trimmed().isEmpty());
}

QTEST_GUILESS_MAIN(TestIdentity)
#include "test_identity.moc"
