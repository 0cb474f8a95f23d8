#include "platform/crashdumpnames.h"
#include "platform/crashhandler.h"
#include "tests/contract/crashdumpcontract.h"
#include "tests/platform/crashchild.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace contract = vek::platform::contract;

namespace {

int Mode(const QString &path)
{
    struct stat info { };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

struct ChildEnd {
    bool signalled = false;
    int code = -1;  // the signal, or the exit code
};

// Runs the crash child to its end, with a password in its environment.
ChildEnd RunChild(const QString &folder, const char *mode, pid_t *pid)
{
    const QByteArray path = QFile::encodeName(folder);
    char *argv[] = { const_cast<char *>(VEK_CRASH_CHILD), const_cast<char *>(path.constData()),
        const_cast<char *>(mode), nullptr };
    QByteArray proxy = QByteArray("https_proxy=http://user:") + kCrashChildEnvironmentSecret
        + "@proxy.example:3128";
    std::vector<char *> environment;
    for (char **variable = environ; *variable != nullptr; ++variable)
        environment.push_back(*variable);
    environment.push_back(proxy.data());
    environment.push_back(nullptr);
    if (posix_spawn(pid, VEK_CRASH_CHILD, nullptr, nullptr, argv, environment.data()) != 0)
        return {};
    int status = 0;
    if (waitpid(*pid, &status, 0) != *pid)
        return {};
    if (WIFSIGNALED(status))
        return { true, WTERMSIG(status) };
    return { false, WIFEXITED(status) ? WEXITSTATUS(status) : -1 };
}

}  // namespace

class TestLinuxCrashHandler : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The children's deaths are expected: no core files from them.
        const rlimit none { 0, 0 };
        QCOMPARE(setrlimit(RLIMIT_CORE, &none), 0);
    }

    void sanitize_data()
    {
        QTest::addColumn<int>("row");
        const auto cases = contract::SanitizeCases();
        for (int row = 0; row < int(cases.size()); ++row)
            QTest::newRow(cases[row].name.c_str()) << row;
    }
    void sanitize()
    {
        QFETCH(int, row);
        const auto c = contract::SanitizeCases().at(row);
        QCOMPARE(vek::platform::SanitizeFileNamePart(c.text, c.fallback), c.expected);
    }

    void nameSuffix_data()
    {
        QTest::addColumn<int>("row");
        const auto cases = contract::NameSuffixCases();
        for (int row = 0; row < int(cases.size()); ++row)
            QTest::newRow(cases[row].name.c_str()) << row;
    }
    void nameSuffix()
    {
        QFETCH(int, row);
        const auto c = contract::NameSuffixCases().at(row);
        char name[48];
        const std::size_t length
            = vek::platform::WriteCrashDumpNameSuffix(name, c.milliseconds, c.processId);
        QCOMPARE(std::string(name, length), c.expected);
    }

    void prune_data()
    {
        QTest::addColumn<int>("row");
        const auto cases = contract::PruneCases();
        for (int row = 0; row < int(cases.size()); ++row)
            QTest::newRow(cases[row].name.c_str()) << row;
    }
    void prune()
    {
        QFETCH(int, row);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const std::string broken
            = contract::RunPruneCase(contract::PruneCases().at(row), folder.path().toStdString());
        QVERIFY2(broken.empty(), broken.c_str());
    }

    void installationPrunesAndLocksTheFolder()
    {
        QTemporaryDir root;
        const QString folder = root.path() + "/config/crashes";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder,
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                | QFile::ExeOther));
        for (int i = 1; i <= 5; ++i) {
            QFile old(folder + QString("/VekPrintAgent-1.0.%1-170000000000%1-9.dmp").arg(i));
            QVERIFY(old.open(QIODevice::WriteOnly));
        }
        pid_t pid = 0;
        const ChildEnd end = RunChild(folder, "install", &pid);
        QVERIFY(!end.signalled);
        QCOMPARE(end.code, 0);
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
            QStringList({ "VekPrintAgent-1.0.3-1700000000003-9.dmp",
                "VekPrintAgent-1.0.4-1700000000004-9.dmp",
                "VekPrintAgent-1.0.5-1700000000005-9.dmp" }));
        QCOMPARE(Mode(folder), 0700);
    }

    void unusableFolderInstallsNothing()
    {
        QTemporaryDir root;
        QFile blocker(root.path() + "/crashes");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        vek::platform::CrashDumpConfig config;
        config.directory = blocker.fileName().toStdString();
        config.applicationName = "VekPrintAgent";
        QVERIFY(!vek::platform::InstallCrashHandler(config));
        // A folder that exists but leaves no room for a report's name in a path.
        QString deep = root.path();
        while (deep.size() < 4040)
            deep += "/" + QString(200, 'd');
        QVERIFY(QDir().mkpath(deep));
        config.directory = deep.toStdString();
        QVERIFY(!vek::platform::InstallCrashHandler(config));
    }

    void crashLeavesAReport_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<bool>("signalled");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        // After an overflow the stack pointer may lie outside any mapping.
        QTest::addColumn<bool>("stackBytes");
        QTest::newRow("segmentation fault") << QByteArray("segv") << true << SIGSEGV
                                            << "reason: signal 11 (SIGSEGV)\ncode: 1\n"
                                               "address: 0x0000000000000010\nregisters:\n"
                                            << true;
        QTest::newRow("stack overflow, reported from the alternate stack")
            << QByteArray("overflow") << true << SIGSEGV << "reason: signal 11 (SIGSEGV)\n"
            << false;
        QTest::newRow("abort") << QByteArray("abort") << true << SIGABRT
                               << "reason: signal 6 (SIGABRT)\n"
                               << true;
        QTest::newRow("terminate") << QByteArray("terminate") << false << 3 << "reason: terminate\n"
                                   << true;
        QTest::newRow("uncaught exception")
            << QByteArray("throw") << false << 3 << "reason: terminate\n"
            << true;
    }
    void crashLeavesAReport()
    {
        QFETCH(QByteArray, mode);
        QFETCH(bool, signalled);
        QFETCH(int, code);
        QFETCH(QString, reason);
        QFETCH(bool, stackBytes);
        QTemporaryDir root;
        const QString folder = root.path() + "/crashes";

        pid_t pid = 0;
        const ChildEnd end = RunChild(folder, mode.constData(), &pid);
        QCOMPARE(end.signalled, signalled);
        QCOMPARE(end.code, code);

        const QStringList reports = QDir(folder).entryList(QDir::Files);
        QCOMPARE(reports.size(), 1);
        const QRegularExpression name(
            QString("^VekPrintAgent-1\\.0\\.38-\\d{13,}-%1\\.dmp$").arg(pid));
        QVERIFY2(name.match(reports.first()).hasMatch(), qPrintable(reports.first()));
        const QString path = folder + "/" + reports.first();
        QCOMPARE(Mode(path), 0600);
        QCOMPARE(Mode(folder), 0700);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString report = QString::fromUtf8(file.readAll());
        QVERIFY2(report.startsWith("Crash report of VekPrintAgent 1.0.38\n"), qPrintable(report));
        QVERIFY2(report.contains(reason), qPrintable(report.left(600)));
        // The memory map names the program, the backtrace has frames and
        // the stack section has bytes.
        QVERIFY(report.contains("memory map:\n"));
        QVERIFY(report.contains(QString(" %1\n").arg(VEK_CRASH_CHILD)));
        const QString backtrace = report.section("backtrace:\n", 1).section("memory map:\n", 0, 0);
        QVERIFY2(backtrace.count('\n') >= 3, qPrintable(backtrace));
        QVERIFY(report.contains("\nstack:\n"));
        if (stackBytes)
            QVERIFY(QRegularExpression("\nstack:\n[0-9a-f]{16} [0-9a-f]{64}\n")
                        .match(report)
                        .hasMatch());
        QVERIFY(report.section("\nstack:\n", 1).count('\n') <= 16 * 1024 / 32);

        // Neither the heap nor the environment above the stack is copied,
        // as text or as stack bytes.
        QString stackHex;
        for (const QString &line : report.section("\nstack:\n", 1).split('\n'))
            stackHex += line.section(' ', 1);
        for (const char *secretText : { kCrashChildSecret, kCrashChildEnvironmentSecret }) {
            const QByteArray secret(secretText);
            QVERIFY(!report.contains(QString::fromLatin1(secret)));
            QVERIFY(!stackHex.contains(QString::fromLatin1(secret.toHex())));
        }
    }
};

QTEST_GUILESS_MAIN(TestLinuxCrashHandler)
#include "test_linux_crashhandler.moc"
