// Burner records built from the disc writers that the platform reports.

#include "agent/discburners.h"
#include "platform/linux/systemroot.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace vek::agent;
using vek::platform::DiscWriter;
using vek::platform::DiscWriterScan;

namespace {

DiscWriter Writer(std::string id, std::string vendor = "HL-DT-ST", std::string product = "DVDRAM",
    std::vector<std::string> volumes = {})
{
    return { std::move(id), std::move(vendor), std::move(product), std::move(volumes) };
}

bool WriteFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

}  // namespace

class TestDiscBurners : public QObject {
    Q_OBJECT

private slots:
    void recordOfOneWriter();
    void name_data();
    void name();
    void skipsWritersWithoutId();
    void atMostMaxWriters();
    void enumeratesThroughPlatform();
    void noWritersOnThisSystem();
    void cleanup() { vek::platform::linuxbackend::SetSystemRootForTesting({}); }
};

void TestDiscBurners::recordOfOneWriter()
{
    const std::string id = "\\\\?\\ide#cdromvendor_product\\5&1234";
    const DiscWriterScan scan { "WINDOWS_IMAPI2",
        { Writer(id, "HL-DT-ST", "DVDRAM GH24NSD1", { "E:\\", "F:\\" }) } };
    const QJsonArray records = BurnerRecords(scan);
    QCOMPARE(records.size(), 1);
    const QJsonObject record = records.first().toObject();

    QCOMPARE(record.keys(),
        (QStringList { "adapter", "code", "destinationKey", "name", "recorderId",
            "volumes" }));  // keys() is sorted
    QCOMPARE(record["recorderId"].toString(), QString::fromStdString(id));
    // sha256sum of the identifier's UTF-8 bytes.
    QCOMPARE(record["destinationKey"].toString(),
        "imapi2:81530bbdac14fd87e4f81d7cee55c3170ebbe4f3488c78027030abfd11524055");
    QCOMPARE(record["code"].toString(), "burner-81530bbdac14fd87e4f81d7c");
    QCOMPARE(record["code"].toString().size(), 31);
    QCOMPARE(record["name"].toString(), "HL-DT-ST DVDRAM GH24NSD1");
    QCOMPARE(record["volumes"].toArray(), (QJsonArray { "E:\\", "F:\\" }));
    QCOMPARE(record["adapter"].toString(), "WINDOWS_IMAPI2");

    // The same writer keeps its key and code from call to call.
    QCOMPARE(BurnerRecords(scan), records);
}

void TestDiscBurners::name_data()
{
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("name");

    // The spaces between the two stay: 2 + 1 + 2.
    QTest::newRow("padded both ways") << "TSSTcorp  "
                                      << "  CDDVDW SH-224DB  "
                                      << "TSSTcorp     CDDVDW SH-224DB";
    QTest::newRow("vendor only") << "ASUS    "
                                 << ""
                                 << "ASUS";
    QTest::newRow("product only") << ""
                                  << "  DRW-24D5MT"
                                  << "DRW-24D5MT";
    QTest::newRow("both empty") << ""
                                << ""
                                << "CD/DVD writer";
    QTest::newRow("both blank") << "   "
                                << "\t "
                                << "CD/DVD writer";
}

void TestDiscBurners::name()
{
    QFETCH(QString, vendor);
    QFETCH(QString, product);
    QFETCH(QString, name);
    const QJsonArray records = BurnerRecords(
        { "WINDOWS_IMAPI2", { Writer("id-1", vendor.toStdString(), product.toStdString()) } });
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().toObject()["name"].toString(), name);
    QCOMPARE(records.first().toObject()["volumes"].toArray(), QJsonArray());
}

void TestDiscBurners::skipsWritersWithoutId()
{
    const QJsonArray records
        = BurnerRecords({ "WINDOWS_IMAPI2", { Writer(""), Writer("scsi-0:0:0:0"), Writer("") } });
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().toObject()["code"].toString(), "burner-d54a9fdba323cf20c03ffb6b");
}

void TestDiscBurners::atMostMaxWriters()
{
    DiscWriterScan scan { "WINDOWS_IMAPI2", {} };
    for (int i = 0; i < 40; ++i)
        scan.writers.push_back(Writer("writer-" + std::to_string(i)));
    const QJsonArray records = BurnerRecords(scan);
    QCOMPARE(records.size(), qsizetype(kMaxDiscWriters));
    QCOMPARE(records.first().toObject()["recorderId"].toString(), "writer-0");
    QCOMPARE(records.last().toObject()["recorderId"].toString(), "writer-31");
    QSet<QString> codes;
    for (const QJsonValue &record : records)
        codes.insert(record.toObject()["code"].toString());
    QCOMPARE(codes.size(), records.size());
}

void TestDiscBurners::enumeratesThroughPlatform()
{
    // A system tree with one writable drive, mounted once.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(WriteFile(root.filePath("proc/sys/dev/cdrom/info"),
        "CD-ROM information, Id: cdrom.c 3.20 2003/12/17\n\n"
        "drive name:\t\tsr0\n"
        "Can write CD-R:\t\t1\n"));
    QVERIFY(WriteFile(root.filePath("sys/block/sr0/device/vendor"), "HL-DT-ST\n"));
    QVERIFY(WriteFile(root.filePath("sys/block/sr0/device/model"), "DVDRAM GH24NSD1 \n"));
    QVERIFY(WriteFile(
        root.filePath("proc/self/mounts"), "/dev/sr0 /media/disc iso9660 ro,nosuid 0 0\n"));
    vek::platform::linuxbackend::SetSystemRootForTesting(root.path().toStdString());

    const QJsonArray records = EnumerateDiscBurners();
    QCOMPARE(records.size(), 1);
    const QJsonObject record = records.first().toObject();
    QCOMPARE(record["name"].toString(), "HL-DT-ST DVDRAM GH24NSD1");
    QCOMPARE(record["volumes"].toArray(), QJsonArray { "/media/disc" });
    QVERIFY(!record["recorderId"].toString().isEmpty());
    QVERIFY(record["destinationKey"].toString().startsWith("imapi2:"));
    QVERIFY(!record["adapter"].toString().isEmpty());
}

void TestDiscBurners::noWritersOnThisSystem()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    vek::platform::linuxbackend::SetSystemRootForTesting(root.path().toStdString());
    QCOMPARE(EnumerateDiscBurners(), QJsonArray());
}

QTEST_GUILESS_MAIN(TestDiscBurners)
#include "test_discburners.moc"
