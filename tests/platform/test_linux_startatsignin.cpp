#include "platform/startatsignin.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using vek::platform::IsRunAtSignInEnabled;
using vek::platform::RunAtSignInCommand;
using vek::platform::SetRunAtSignIn;

namespace {

const std::string kProgram = "/opt/vek/VekPrintAgent";

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(content) == content.size();
}

}  // namespace

class TestLinuxStartAtSignIn : public QObject {
    Q_OBJECT

    QTemporaryDir config_;
    QByteArray savedConfigHome_;
    QByteArray savedHome_;

    QString entryPath() const { return config_.path() + "/autostart/VekPrintAgent.desktop"; }

private slots:
    void initTestCase()
    {
        savedConfigHome_ = qgetenv("XDG_CONFIG_HOME");
        savedHome_ = qgetenv("HOME");
        QVERIFY(config_.isValid());
    }
    void init() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path())); }
    void cleanup()
    {
        QDir(config_.path()).removeRecursively();
        QDir().mkpath(config_.path());
        qputenv("HOME", savedHome_);
    }
    void cleanupTestCase()
    {
        if (savedConfigHome_.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", savedConfigHome_);
    }

    void writesAValidEntryThatReadsBack_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("exec");  // the line as it stands in the file
        QTest::newRow("plain") << QString::fromStdString(kProgram)
                               << QByteArray("Exec=\"/opt/vek/VekPrintAgent\"");
        QTest::newRow("spaces") << "/opt/Vek Print Agent/VekPrintAgent"
                                << QByteArray("Exec=\"/opt/Vek Print Agent/VekPrintAgent\"");
        QTest::newRow("double quote")
            << "/opt/a\"b/VekPrintAgent" << QByteArray("Exec=\"/opt/a\\\\\"b/VekPrintAgent\"");
        QTest::newRow("dollar and backquote")
            << "/opt/$HOME/`id`/VekPrintAgent"
            << QByteArray("Exec=\"/opt/\\\\$HOME/\\\\`id\\\\`/VekPrintAgent\"");
        QTest::newRow("backslash")
            << "/opt/a\\b/VekPrintAgent" << QByteArray("Exec=\"/opt/a\\\\\\\\b/VekPrintAgent\"");
        QTest::newRow("percent") << "/opt/100%u/VekPrintAgent"
                                 << QByteArray("Exec=\"/opt/100%%u/VekPrintAgent\"");
        QTest::newRow("everything at once")
            << "/home/Zoë O'Neil/\"x\" $y \\z/VekPrintAgent"
            << QByteArray("Exec=\"/home/Zoë O'Neil/\\\\\"x\\\\\" \\\\$y \\\\\\\\z/VekPrintAgent\"");
    }
    void writesAValidEntryThatReadsBack()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, exec);
        const std::string path = program.toStdString();
        QVERIFY(!IsRunAtSignInEnabled(path));
        QVERIFY(SetRunAtSignIn(true, path));

        const QByteArray content = ReadFile(entryPath());
        QVERIFY2(content.split('\n').contains(exec), content.constData());
        QCOMPARE(QByteArray("Exec=") + QByteArray::fromStdString(RunAtSignInCommand(path)), exec);
        QVERIFY(content.startsWith("[Desktop Entry]\n"));
        QVERIFY(content.contains("\nType=Application\n"));
        QVERIFY(content.contains("\nName=Vek Print Agent\n"));
        QVERIFY(content.contains("\nX-GNOME-Autostart-enabled=true\n"));

        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        QVERIFY2(!validator.isEmpty(), "desktop-file-validate is not installed");
        QProcess validate;
        validate.start(validator, { entryPath() });
        QVERIFY(validate.waitForFinished(30000));
        const QByteArray complaints
            = validate.readAllStandardOutput() + validate.readAllStandardError();
        QVERIFY2(validate.exitCode() == 0 && complaints.isEmpty(), complaints.constData());

        QVERIFY(IsRunAtSignInEnabled(path));
        QVERIFY(!IsRunAtSignInEnabled(path + "x"));
        QVERIFY(SetRunAtSignIn(false, path));
        QVERIFY(!QFile::exists(entryPath()));
        QVERIFY(!IsRunAtSignInEnabled(path));
    }

    void anEntryForAnotherLocationReadsOffUntilReplaced()
    {
        const std::string old = "/media/old copy/VekPrintAgent";
        QVERIFY(SetRunAtSignIn(true, old));
        QVERIFY(!IsRunAtSignInEnabled(kProgram));
        QVERIFY(SetRunAtSignIn(true, kProgram));
        QVERIFY(IsRunAtSignInEnabled(kProgram));
        QVERIFY(!IsRunAtSignInEnabled(old));
    }

    void readsEntriesWrittenByOthers_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("enabled");
        const QByteArray head = "[Desktop Entry]\nType=Application\nName=Vek Print Agent\n";
        QTest::newRow("unquoted path") << head + "Exec=/opt/vek/VekPrintAgent\n" << true;
        QTest::newRow("spaces around =, comments, other groups")
            << "# ours\n" + head + "Exec = \"/opt/vek/VekPrintAgent\"\n[Desktop Action x]\nExec=y\n"
            << true;
        QTest::newRow("Hidden=true") << head + "Exec=/opt/vek/VekPrintAgent\nHidden=true\n"
                                     << false;
        QTest::newRow("Hidden=false") << head + "Exec=/opt/vek/VekPrintAgent\nHidden=false\n"
                                      << true;
        QTest::newRow("switched off in GNOME")
            << head + "Exec=/opt/vek/VekPrintAgent\nX-GNOME-Autostart-enabled=false\n"
            << false;
        QTest::newRow("with an argument") << head + "Exec=/opt/vek/VekPrintAgent --printers\n"
                                          << false;
        QTest::newRow("with a field code") << head + "Exec=/opt/vek/VekPrintAgent %u\n" << false;
        QTest::newRow("Exec only in another group")
            << head + "[Desktop Action x]\nExec=/opt/vek/VekPrintAgent\n"
            << false;
        QTest::newRow("unclosed quote") << head + "Exec=\"/opt/vek/VekPrintAgent\n" << false;
        QTest::newRow("not a desktop entry")
            << QByteArray("Exec=/opt/vek/VekPrintAgent\n") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void readsEntriesWrittenByOthers()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, enabled);
        QVERIFY(WriteFile(entryPath(), entry));
        QCOMPARE(IsRunAtSignInEnabled(kProgram), enabled);
    }

    void switchingOffRemovesOnlyOurEntry()
    {
        QVERIFY(SetRunAtSignIn(false, kProgram));  // nothing there yet
        const QString neighbour = config_.path() + "/autostart/other.desktop";
        QVERIFY(WriteFile(neighbour, "[Desktop Entry]\nType=Application\nName=x\nExec=x\n"));
        QVERIFY(SetRunAtSignIn(true, kProgram));
        QVERIFY(SetRunAtSignIn(false, kProgram));
        QVERIFY(SetRunAtSignIn(false, kProgram));
        QVERIFY(!QFile::exists(entryPath()));
        QVERIFY(QFile::exists(neighbour));
    }

    void failuresAreReported()
    {
        // Root may write anywhere, so the faults are of shape, not permission.
        QVERIFY(WriteFile(config_.path() + "/autostart", "a file where the folder belongs"));
        QVERIFY(!SetRunAtSignIn(true, kProgram));
        QVERIFY(!IsRunAtSignInEnabled(kProgram));
        QVERIFY(QFile::remove(config_.path() + "/autostart"));

        QVERIFY(QDir().mkpath(entryPath() + "/not empty"));
        QVERIFY(!SetRunAtSignIn(true, kProgram));
        QVERIFY(!SetRunAtSignIn(false, kProgram));
        QVERIFY(!IsRunAtSignInEnabled(kProgram));

        QVERIFY(!SetRunAtSignIn(true, ""));
    }

    void configHomeFallsBackToHome_data()
    {
        QTest::addColumn<QByteArray>("configHome");
        QTest::newRow("unset") << QByteArray();
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("relative") << QByteArray("relative/config");
    }
    void configHomeFallsBackToHome()
    {
        QFETCH(QByteArray, configHome);
        QTemporaryDir home;
        qputenv("HOME", QFile::encodeName(home.path()));
        if (configHome.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", configHome);
        QVERIFY(SetRunAtSignIn(true, kProgram));
        QVERIFY(QFile::exists(home.path() + "/.config/autostart/VekPrintAgent.desktop"));
        QVERIFY(IsRunAtSignInEnabled(kProgram));
        QVERIFY(SetRunAtSignIn(false, kProgram));
        QVERIFY(!QFile::exists(home.path() + "/.config/autostart/VekPrintAgent.desktop"));
    }
};

QTEST_GUILESS_MAIN(TestLinuxStartAtSignIn)
#include "test_linux_startatsignin.moc"
