// The durable replace on Linux: the content arrives whole, the temporary
// name is gone, and a failed replace leaves the old file as it was.

#include "platform/durablefile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool WriteText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray ReadText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TestLinuxDurableFile : public QObject {
    Q_OBJECT

private slots:
    void replacesOldAndNone()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString target = dir.filePath("journal.json");
        const QString temp = dir.filePath("journal.json.tmp");
        for (const QByteArray &text : { QByteArray("first"), QByteArray("second") }) {
            QVERIFY(WriteText(temp, text));
            QVERIFY(vek::platform::ReplaceFileDurably(temp.toStdString(), target.toStdString()));
            QCOMPARE(ReadText(target), text);
            QVERIFY(!QFile::exists(temp));
        }
    }

    void failureKeepsTheOldFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString target = dir.filePath("kept.json");
        QVERIFY(WriteText(target, "old"));
        QVERIFY(!vek::platform::ReplaceFileDurably(
            dir.filePath("absent.tmp").toStdString(), target.toStdString()));
        QCOMPARE(ReadText(target), QByteArray("old"));

        const QString temp = dir.filePath("new.tmp");
        QVERIFY(WriteText(temp, "new"));
        QVERIFY(!vek::platform::ReplaceFileDurably(
            temp.toStdString(), dir.filePath("missing/kept.json").toStdString()));
        QCOMPARE(ReadText(temp), QByteArray("new"));
    }
};

QTEST_GUILESS_MAIN(TestLinuxDurableFile)
#include "test_linux_durablefile.moc"
