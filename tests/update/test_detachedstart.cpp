// The detached start of a verified installer: it inherits no descriptor and
// no standard stream, and runs in its own directory and session.

#include "update/detachedupdate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class DetachedStartTest : public QObject {
    Q_OBJECT
private slots:
    void inheritsNothing();
    void missingProgramFails();
};

void DetachedStartTest::inheritsNothing()
{
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString directory = temporary.filePath(QStringLiteral("dir with spaces"));
    QVERIFY(QDir().mkpath(directory));
    const QString program = directory + QStringLiteral("/reporter");
    QVERIFY(QFile::copy(QStringLiteral(VEK_TEST_START_REPORTER), program));
    const QString report = temporary.filePath(QStringLiteral("report.txt"));

    // Descriptors this program holds without close-on-exec, as a lock file
    // or an inherited socket would be.
    const int lockFile
        = ::open(temporary.filePath(QStringLiteral("lock")).toLocal8Bit().constData(),
            O_CREAT | O_RDWR, 0600);
    int channel[2] = { -1, -1 };
    QVERIFY(lockFile >= 0);
    QVERIFY(::pipe(channel) == 0);
    const auto closeAll = qScopeGuard([&] {
        ::close(lockFile);
        ::close(channel[0]);
        ::close(channel[1]);
    });

    const QStringList arguments { report, QStringLiteral("/SILENT"), QStringLiteral("two words"),
        QStringLiteral("\"quoted\"") };
    qint64 processId = 0;
    QVERIFY(vek::update::StartDetachedUpdate(program, arguments, &processId));
    QVERIFY(processId > 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(report), 10000);

    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList descriptors;
    QStringList passed;
    QString cwd;
    int session = -1;
    for (const QString &line :
        QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("fd ")))
            descriptors << line.mid(3);
        else if (line.startsWith(QLatin1String("arg ")))
            passed << line.mid(4);
        else if (line.startsWith(QLatin1String("cwd ")))
            cwd = line.mid(4);
        else if (line.startsWith(QLatin1String("session ")))
            session = line.mid(8).toInt();
    }
    QCOMPARE(descriptors, QStringList({ "0 /dev/null", "1 /dev/null", "2 /dev/null" }));
    QCOMPARE(passed, arguments.mid(1));
    QCOMPARE(QDir(cwd).canonicalPath(), QDir(directory).canonicalPath());
    QVERIFY(session > 0);
    QVERIFY(session != int(::getsid(0)));
}

void DetachedStartTest::missingProgramFails()
{
    QTemporaryDir temporary;
    QVERIFY(!vek::update::StartDetachedUpdate(
        temporary.filePath(QStringLiteral("absent")), {}, nullptr));
    QFile notProgram(temporary.filePath(QStringLiteral("data.bin")));
    QVERIFY(notProgram.open(QIODevice::WriteOnly));
    notProgram.write("not a program");
    notProgram.close();
    QVERIFY(!vek::update::StartDetachedUpdate(notProgram.fileName(), {}, nullptr));
    QVERIFY(!vek::update::StartDetachedUpdate(QStringLiteral("relative/program"), {}, nullptr));
}

QTEST_GUILESS_MAIN(DetachedStartTest)
#include "test_detachedstart.moc"
