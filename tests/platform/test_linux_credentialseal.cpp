#include "platform/credentialseal.h"
#include "platform/linux/systemroot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <future>

#include <sys/stat.h>

using vek::platform::Bytes;
using vek::platform::SealForCurrentUser;
using vek::platform::UnsealForCurrentUser;
using vek::platform::linuxbackend::SetSystemRootForTesting;

namespace {

Bytes ToBytes(const QByteArray &data)
{
    return Bytes(data.begin(), data.end());
}

QString KeyFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + "/credential.key";
}

int Mode(const QString &path)
{
    struct stat info { };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

}  // namespace

// Each test runs as a user with a fresh home directory on a machine with a
// known identifier; switching HOME or the system root plays another account
// or another computer.
class TestLinuxCredentialSeal : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    int m_case = 0;

    QString makeHome()
    {
        const QString home = m_tmp.filePath(QString("home%1").arg(++m_case));
        QDir().mkpath(home);
        return home;
    }
    void useHome(const QString &home) { qputenv("HOME", QFile::encodeName(home)); }
    void useMachine(const QByteArray &machineId)
    {
        const QString root = m_tmp.filePath("machine-" + machineId);
        QDir().mkpath(root + "/etc");
        QFile file(root + "/etc/machine-id");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(machineId + '\n');
        SetSystemRootForTesting(root.toStdString());
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName("Vekworks");
        QCoreApplication::setApplicationName("Vek Print Agent");
        QStandardPaths::setTestModeEnabled(true);
    }
    void init()
    {
        useHome(makeHome());
        useMachine("5f0c8e2b9a4d4c7e8f1a2b3c4d5e6f70");
    }
    void cleanupTestCase() { SetSystemRootForTesting(""); }

    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QByteArray binary;
        for (int i = 0; i < 256; ++i)
            binary.append(char(i));
        QTest::newRow("token") << QByteArray("tok_3f9a8c7e-secret");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("every byte") << binary;
        QTest::newRow("large") << QByteArray(300000, 'x');
    }
    void roundTrip()
    {
        QFETCH(QByteArray, plain);
        const auto sealed = SealForCurrentUser(ToBytes(plain), "Vek Print Agent");
        QVERIFY(sealed);
        const QByteArray blob(
            reinterpret_cast<const char *>(sealed->data()), qsizetype(sealed->size()));
        if (plain.size() > 4)
            QVERIFY(!blob.contains(plain));
        QCOMPARE(UnsealForCurrentUser(*sealed), ToBytes(plain));
        // A fresh nonce each time: equal secrets give unrelated blobs.
        QVERIFY(SealForCurrentUser(ToBytes(plain), "Vek Print Agent") != sealed);
    }

    void keyFileIsPrivate()
    {
        QVERIFY(SealForCurrentUser(ToBytes("secret"), "Vek Print Agent"));
        QCOMPARE(Mode(KeyFile()), 0600);
        QCOMPARE(Mode(QFileInfo(KeyFile()).path()), 0700);
        QCOMPARE(QFileInfo(KeyFile()).size(), 32);
    }

    void damagedBlobIsRefused_data()
    {
        QTest::addColumn<int>("flip");  // byte to change; -1 cuts the tag short, -2 appends
        QTest::newRow("header") << 3;
        QTest::newRow("nonce") << 4;
        QTest::newRow("ciphertext") << 17;
        QTest::newRow("tag") << 30;
        QTest::newRow("truncated") << -1;
        QTest::newRow("extended") << -2;
    }
    void damagedBlobIsRefused()
    {
        QFETCH(int, flip);
        auto sealed = SealForCurrentUser(ToBytes("secret"), "Vek Print Agent");
        QVERIFY(sealed);
        if (flip == -1)
            sealed->pop_back();
        else if (flip == -2)
            sealed->push_back(0);
        else
            sealed->at(std::size_t(flip)) ^= 0x01;
        QCOMPARE(UnsealForCurrentUser(*sealed), std::nullopt);
        QCOMPARE(UnsealForCurrentUser({}), std::nullopt);
    }

    void anotherAccountCannotUnseal()
    {
        const QString owner = qEnvironmentVariable("HOME");
        const auto sealed = SealForCurrentUser(ToBytes("secret"), "Vek Print Agent");
        QVERIFY(sealed);

        useHome(makeHome());
        QCOMPARE(UnsealForCurrentUser(*sealed), std::nullopt);
        QVERIFY2(!QFile::exists(KeyFile()), "unsealing must not create a key");
        QVERIFY(SealForCurrentUser(ToBytes("other"), "Vek Print Agent"));  // this account's own key
        QCOMPARE(UnsealForCurrentUser(*sealed), std::nullopt);

        useHome(owner);
        QCOMPARE(UnsealForCurrentUser(*sealed), ToBytes("secret"));
    }

    void anotherMachineCannotUnseal()
    {
        const auto sealed = SealForCurrentUser(ToBytes("secret"), "Vek Print Agent");
        QVERIFY(sealed);
        // The same home directory (key file included) on a machine with another identifier.
        useMachine("0d1e2f3a4b5c6d7e8f9a0b1c2d3e4f50");
        QCOMPARE(UnsealForCurrentUser(*sealed), std::nullopt);
        useMachine("5f0c8e2b9a4d4c7e8f1a2b3c4d5e6f70");
        QCOMPARE(UnsealForCurrentUser(*sealed), ToBytes("secret"));
    }

    void unusableKeyFileIsRefused_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("size");
        QTest::newRow("readable by the group") << 0640 << 32;
        QTest::newRow("readable by everyone") << 0604 << 32;
        QTest::newRow("truncated") << 0600 << 16;
    }
    void unusableKeyFileIsRefused()
    {
        QFETCH(int, mode);
        QFETCH(int, size);
        const auto sealed = SealForCurrentUser(ToBytes("secret"), "Vek Print Agent");
        QVERIFY(sealed);
        QVERIFY(::truncate(QFile::encodeName(KeyFile()).constData(), size) == 0);
        QVERIFY(::chmod(QFile::encodeName(KeyFile()).constData(), mode_t(mode)) == 0);

        QCOMPARE(UnsealForCurrentUser(*sealed), std::nullopt);
        QCOMPARE(SealForCurrentUser(ToBytes("secret"), "Vek Print Agent"), std::nullopt);
        QCOMPARE(QFileInfo(KeyFile()).size(), size);  // never replaced behind the user's back
    }

    void sealFailsWithoutKeyDirectory()
    {
        // A file where the data directory's parent should be.
        QFile blocker(qEnvironmentVariable("HOME") + "/.qttest");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QCOMPARE(SealForCurrentUser(ToBytes("secret"), "Vek Print Agent"), std::nullopt);
    }

    void concurrentFirstSealsShareOneKey()
    {
        // Processes starting together must not each install a key of their own.
        std::vector<std::future<std::optional<Bytes>>> seals;
        for (int i = 0; i < 8; ++i)
            seals.push_back(std::async(std::launch::async,
                [] { return SealForCurrentUser(ToBytes("secret"), "Vek Print Agent"); }));
        for (auto &seal : seals) {
            const auto sealed = seal.get();
            QVERIFY(sealed);
            QCOMPARE(UnsealForCurrentUser(*sealed), ToBytes("secret"));
        }
        const QStringList leftovers = QDir(QFileInfo(KeyFile()).path()).entryList(QDir::Files);
        QCOMPARE(leftovers, QStringList { "credential.key" });
    }
};

QTEST_GUILESS_MAIN(TestLinuxCredentialSeal)
#include "test_linux_credentialseal.moc"
