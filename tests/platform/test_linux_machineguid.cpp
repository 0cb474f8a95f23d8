#include "platform/linux/systemroot.h"
#include "platform/machineguid.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using vek::platform::MachineGuid;
using vek::platform::linuxbackend::SetSystemRootForTesting;

class TestLinuxMachineGuid : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetSystemRootForTesting(""); }

    void readsTheFirstAvailableFile_data()
    {
        QTest::addColumn<QByteArray>("etc");  // "-" means the file is absent
        QTest::addColumn<QByteArray>("dbus");
        QTest::addColumn<QString>("expected");
        QTest::newRow("systemd") << QByteArray("0123abcd\n") << QByteArray("ffff\n") << "0123abcd";
        QTest::newRow("dbus only") << QByteArray("-") << QByteArray("ffff\n") << "ffff";
        QTest::newRow("empty systemd file") << QByteArray("") << QByteArray("ffff") << "ffff";
        QTest::newRow("first line only, untrimmed")
            << QByteArray(" 0123abcd \nsecond\n") << QByteArray("-") << " 0123abcd ";
        QTest::newRow("neither") << QByteArray("-") << QByteArray("-") << "";
    }
    void readsTheFirstAvailableFile()
    {
        QFETCH(QByteArray, etc);
        QFETCH(QByteArray, dbus);
        QFETCH(QString, expected);
        QTemporaryDir root;
        const auto put = [&](const QString &path, const QByteArray &content) {
            if (content == "-")
                return;
            QVERIFY(QDir(root.path()).mkpath(QFileInfo(root.path() + path).path()));
            QFile file(root.path() + path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        };
        put("/etc/machine-id", etc);
        put("/var/lib/dbus/machine-id", dbus);
        SetSystemRootForTesting(root.path().toStdString());
        QCOMPARE(QString::fromStdString(MachineGuid()), expected);
    }
};

QTEST_GUILESS_MAIN(TestLinuxMachineGuid)
#include "test_linux_machineguid.moc"
