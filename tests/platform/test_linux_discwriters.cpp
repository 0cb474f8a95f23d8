#include "platform/discwriters.h"
#include "platform/linux/systemroot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using vek::platform::ListDiscWriters;
using vek::platform::linuxbackend::SetSystemRootForTesting;

namespace {

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

QStringList Q(const std::vector<std::string> &texts)
{
    QStringList list;
    for (const auto &text : texts)
        list << Q(text);
    return list;
}

// The kernel lists the newest drive first; sr1 reads only.
constexpr char kCdromInfo[] = "CD-ROM information, Id: cdrom.c 3.20 2003/12/17\n"
                              "\n"
                              "drive name:\t\tsr2\tsr1\tsr0\n"
                              "drive speed:\t\t24\t24\t48\n"
                              "drive # of slots:\t1\t1\t1\n"
                              "Can read DVD:\t\t1\t1\t1\n"
                              "Can write CD-R:\t\t0\t0\t1\n"
                              "Can write CD-RW:\t0\t0\t1\n"
                              "Can write DVD-R:\t\t0\t0\t1\n"
                              "Can write DVD-RAM:\t1\t0\t0\n"
                              "Can read MRW:\t\t1\t1\t1\n"
                              "Can write MRW:\t\t0\t0\t1\n"
                              "\n";

constexpr char kMounts[] = "/dev/sda1 / ext4 rw,relatime 0 0\n"
                           "/dev/sr0 /media/pat/Order\\0402024 iso9660 ro,nosuid 0 0\n"
                           "/dev/sr1 /media/pat/Other iso9660 ro 0 0\n"
                           "/dev/cdrom /mnt/back\\134slash udf ro 0 0\n";

}  // namespace

class TestLinuxDiscWriters : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;

    void put(const QString &path, const QByteArray &content)
    {
        QVERIFY(QDir().mkpath(QFileInfo(m_root.path() + path).path()));
        QFile file(m_root.path() + path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    void link(const QString &path, const QString &target)
    {
        QVERIFY(QDir().mkpath(QFileInfo(m_root.path() + path).path()));
        QVERIFY(QFile::link(target, m_root.path() + path));
    }

private slots:
    void initTestCase()
    {
        put("/proc/sys/dev/cdrom/info", kCdromInfo);
        put("/proc/self/mounts", kMounts);
        put("/sys/block/sr0/device/vendor", "HL-DT-ST\n");
        put("/sys/block/sr0/device/model", "DVDRAM GH24NSD1 \n");
        put("/sys/block/sr1/device/vendor", "TSSTcorp\n");
        put("/sys/block/sr1/device/model", "CDDVDW SH-224DB \n");
        put("/sys/block/sr2/device/vendor", "ACME    \n");
        put("/sys/block/sr2/device/model", "  Writer 9\n");
        // udev's relative links; "usb-" names the drive better than "scsi-", though it sorts later.
        link("/dev/disk/by-id/scsi-35000cca0123", "../../sr0");
        link("/dev/disk/by-id/usb-HL-DT-ST_DVDRAM_GH24NSD1_K1234-0:0", "../../sr0");
        link("/dev/disk/by-id/wwn-0x5001", "/dev/sr0");
        link("/dev/disk/by-id/ata-TSSTcorp_CDDVDW_SH-224DB_R8", "../../sr1");
        link("/dev/disk/by-id/ata-Other_Disk", "../../sda");
        link("/dev/cdrom", "sr0");
    }
    void init() { SetSystemRootForTesting(m_root.path().toStdString()); }
    void cleanup() { SetSystemRootForTesting(""); }

    void describesEachWriter()
    {
        const auto scan = ListDiscWriters(32);
        QCOMPARE(Q(scan.adapter), "LINUX_CDROM");
        QCOMPARE(scan.writers.size(), std::size_t { 2 });

        const auto &first = scan.writers[0];
        QCOMPARE(Q(first.uniqueId), "usb-HL-DT-ST_DVDRAM_GH24NSD1_K1234-0:0");
        QCOMPARE(Q(first.vendorId), "HL-DT-ST");
        QCOMPARE(Q(first.productId), "DVDRAM GH24NSD1 ");
        QCOMPARE(Q(first.volumes), (QStringList { "/media/pat/Order 2024", "/mnt/back\\slash" }));

        // No by-id link: the drive is named by what it reports.
        const auto &second = scan.writers[1];
        QCOMPARE(Q(second.uniqueId), "ACME Writer 9 sr2");
        QCOMPARE(Q(second.vendorId), "ACME    ");
        QCOMPARE(Q(second.productId), "  Writer 9");
        QVERIFY(second.volumes.empty());
    }

    void examinesAtMostMaxDrives_data()
    {
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("writers");
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("sr0") << 1 << 1;
        QTest::newRow("sr0 and the read-only sr1") << 2 << 1;
        QTest::newRow("all") << 3 << 2;
    }
    void examinesAtMostMaxDrives()
    {
        QFETCH(int, max);
        QFETCH(int, writers);
        QCOMPARE(ListDiscWriters(static_cast<std::size_t>(max)).writers.size(),
            static_cast<std::size_t>(writers));
    }

    void noDriverMeansNoWriters()
    {
        QTemporaryDir empty;
        SetSystemRootForTesting(empty.path().toStdString());
        const auto scan = ListDiscWriters(32);
        QCOMPARE(Q(scan.adapter), "LINUX_CDROM");
        QVERIFY(scan.writers.empty());
    }
};

QTEST_GUILESS_MAIN(TestLinuxDiscWriters)
#include "test_linux_discwriters.moc"
