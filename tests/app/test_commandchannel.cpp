// The command channel with real local sockets in this process: the command
// rows, the tray's drain for installers, the lock, the installer's side with
// its exit codes, and connections from another user.

#include "app/applicationidentity.h"
#include "app/commandchannel.h"
#include "app/updatepreparation.h"
#include "tray/agenttray.h"

#include <QAction>
#include <QLocalSocket>
#include <QLockFile>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using vek::agent::AgentTray;
using vek::app::CommandChannel;

class CommandChannelTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void nameAndAddress();
    void commands_data();
    void commands();
    void installers();
    void lock();
    void prepareForUpdate_data();
    void prepareForUpdate();
    void anotherUsersConnectionRefused_data();
    void anotherUsersConnectionRefused();
    void anotherUsersChannelGetsNothing();

private:
    // Returns once the channel has handled everything sent on earlier
    // connections: a later command needs an accept and a read of its own.
    // The probe is an installer that leaves at once.
    void flushChannel();
    QLocalSocket *connectClient();
    QString dataDirectory() const { return home->filePath("data/agent"); }

    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<CommandChannel> channel;
    std::unique_ptr<QSignalSpy> setups;
    QString address;
    QList<QLocalSocket *> clients;
};

void CommandChannelTest::initTestCase()
{
    vek::app::ApplyApplicationIdentity(*QCoreApplication::instance());
}

void CommandChannelTest::init()
{
    // Short: a socket path has a limit of 107 bytes.
    home = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vekXXXXXX");
    QVERIFY(QDir(home->path()).mkpath("runtime"));
    QVERIFY(QFile::setPermissions(
        home->filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", home->filePath("runtime").toUtf8());
    qputenv("XDG_DATA_HOME", home->filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", home->filePath("config").toUtf8());
    QDir().mkpath(dataDirectory());
    address = vek::app::CommandChannelAddress(dataDirectory());
    channel = std::make_unique<CommandChannel>();
    QVERIFY(channel->listen(address));
    setups = std::make_unique<QSignalSpy>(channel.get(), &CommandChannel::setupRequested);
}

void CommandChannelTest::cleanup()
{
    qDeleteAll(clients);
    clients.clear();
    channel.reset();
    setups.reset();
}

QLocalSocket *CommandChannelTest::connectClient()
{
    auto *socket = new QLocalSocket;
    clients.append(socket);
    socket->connectToServer(address);
    if (!socket->waitForConnected(1500))
        qWarning() << "no connection:" << socket->errorString();
    return socket;
}

void CommandChannelTest::flushChannel()
{
    QLocalSocket probe;
    probe.connectToServer(address);
    QVERIFY(probe.waitForConnected(1500));
    probe.write("shutdown-for-update\n");
    QVERIFY(probe.waitForBytesWritten(1500));
    QTRY_COMPARE(probe.bytesAvailable(), qint64(9));
    QCoreApplication::processEvents();
}

void CommandChannelTest::nameAndAddress()
{
    QCOMPARE(vek::app::CommandChannelName("C:/Users/Ana/AppData/Local/Vekworks/Vek Print Agent"),
        QString("vek-print-")
            + QCryptographicHash::hash(
                "C:/Users/Ana/AppData/Local/Vekworks/Vek Print Agent", QCryptographicHash::Sha256)
                  .toHex());
    QVERIFY(vek::app::CommandChannelName("/home/a") != vek::app::CommandChannelName("/home/b"));
    // A full path in this user's runtime folder, never the abstract namespace.
    QCOMPARE(address, home->filePath("runtime/") + vek::app::CommandChannelName(dataDirectory()));
    struct stat status { };
    QCOMPARE(::stat(QFile::encodeName(address).constData(), &status), 0);
    QVERIFY(S_ISSOCK(status.st_mode));
    QCOMPARE(status.st_mode & 077, 0u);

    // A runtime folder of another user is no place for the channel.
    if (::geteuid() == 0) {
        QCOMPARE(
            ::chown(QFile::encodeName(home->filePath("runtime")).constData(), 65534, 65534), 0);
        QVERIFY(vek::app::CommandChannelAddress(dataDirectory()).isEmpty());
    }
}

void CommandChannelTest::commands_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("setups");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("setup") << QList<QByteArray> { "setup" } << 1 << true << QByteArray();
    QTest::newRow("setup in two pieces")
        << QList<QByteArray> { "se", "tup" } << 1 << true << QByteArray();
    QTest::newRow("setup and a newline")
        << QList<QByteArray> { "setup\n" } << 0 << true << QByteArray();
    QTest::newRow("64 bytes") << QList<QByteArray> { QByteArray(64, 'x') } << 0 << true
                              << QByteArray();
    QTest::newRow("63 bytes, then one more")
        << QList<QByteArray> { QByteArray(63, 'x'), "x" } << 0 << true << QByteArray();
    QTest::newRow("10 bytes without newline kept")
        << QList<QByteArray> { "setupsetup" } << 0 << false << QByteArray();
    QTest::newRow("unknown line") << QList<QByteArray> { "hello\n" } << 0 << true << QByteArray();
    QTest::newRow("setup after other bytes")
        << QList<QByteArray> { "xy", "setup" } << 0 << false << QByteArray();
}

void CommandChannelTest::commands()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, setups);
    QFETCH(bool, closed);
    QLocalSocket *client = connectClient();
    QSignalSpy disconnected(client, &QLocalSocket::disconnected);
    for (const QByteArray &piece : pieces) {
        QVERIFY(disconnected.isEmpty());
        client->write(piece);
        QVERIFY(client->waitForBytesWritten(1500));
        flushChannel();
    }
    QCOMPARE(this->setups->size(), setups);
    if (closed)
        QTRY_COMPARE(disconnected.size(), 1);
    else
        QCOMPARE(client->state(), QLocalSocket::ConnectedState);
    QVERIFY(client->readAll().isEmpty());  // no command but the installer's gets a reply
}

void CommandChannelTest::installers()
{
    AgentTray tray;
    connect(channel.get(), &CommandChannel::drainRequested, &tray, &AgentTray::beginInstallerDrain);
    QSignalSpy shutdowns(&tray, &AgentTray::requestUpdateShutdown);
    QSignalSpy cancels(&tray, &AgentTray::cancelUpdateShutdown);
    QSignalSpy starts(&tray, &AgentTray::requestStart);
    QSignalSpy quits(&tray, &AgentTray::quitRequested);
    QMenu *menu = tray.findChild<QSystemTrayIcon *>()->contextMenu();

    // The first installer is drained for; the worker is idle, so the agent
    // is ready to end at once.
    QLocalSocket *first = connectClient();
    first->write("shutdown-for-");
    QVERIFY(first->waitForBytesWritten(1500));
    first->write("update\n");
    QTRY_COMPARE(first->bytesAvailable(), qint64(9));
    QCOMPARE(first->readAll(), QByteArray("draining\n"));
    QCOMPARE(shutdowns.size(), 1);
    QVERIFY(!menu->isEnabled());
    QCOMPARE(tray.findChild<QSystemTrayIcon *>()->toolTip(),
        QString("Finishing the current print job before updating Vek…"));
    QTRY_COMPARE(quits.size(), 1);

    // A second installer hears the same answer and changes nothing.
    QLocalSocket *second = connectClient();
    second->write("shutdown-for-update\n");
    QTRY_COMPARE(second->bytesAvailable(), qint64(9));
    QCOMPARE(second->readAll(), QByteArray("draining\n"));
    QCOMPARE(shutdowns.size(), 1);
    QCOMPARE(second->state(), QLocalSocket::ConnectedState);

    // The second leaving is not the first leaving.
    second->disconnectFromServer();
    flushChannel();
    QCOMPARE(cancels.size(), 0);

    // The first installer leaves: the agent resumes.
    first->disconnectFromServer();
    QTRY_COMPARE(cancels.size(), 1);
    QCOMPARE(starts.size(), 1);
    QVERIFY(menu->isEnabled());

    // Bytes after the command end the connection, which also counts as leaving.
    QLocalSocket *third = connectClient();
    third->write("shutdown-for-update\n");
    QTRY_COMPARE(third->bytesAvailable(), qint64(9));
    QCOMPARE(third->readAll(), QByteArray("draining\n"));
    QCOMPARE(shutdowns.size(), 2);
    third->write("more\n");
    QTRY_COMPARE(cancels.size(), 2);
    QCOMPARE(third->state(), QLocalSocket::UnconnectedState);
}

void CommandChannelTest::lock()
{
    using vek::app::LockResult;
    QLockFile agent(vek::app::AgentLockPath(dataDirectory()));
    agent.setStaleLockTime(0);
    QCOMPARE(vek::app::TryAgentLock(agent), LockResult::Taken);
    QLockFile second(vek::app::AgentLockPath(dataDirectory()));
    second.setStaleLockTime(0);
    QCOMPARE(vek::app::TryAgentLock(second), LockResult::HeldByAgent);

    // A data folder that cannot be written (a file in its place stops root too).
    QFile blocker(home->filePath("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QLockFile unwritable(vek::app::AgentLockPath(home->filePath("blocked")));
    unwritable.setStaleLockTime(0);
    QCOMPARE(vek::app::TryAgentLock(unwritable), LockResult::Failed);
}

void CommandChannelTest::prepareForUpdate_data()
{
    QTest::addColumn<QString>("agent");  // none, drains, stays, silent, unwritable
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<int>("expected");
    QTest::newRow("no agent") << "none" << 90000 << 0;
    QTest::newRow("agent drains and ends") << "drains" << 90000 << 10;
    QTest::newRow("agent still printing at the limit") << "stays" << 300 << 20;
    QTest::newRow("agent without a channel") << "silent" << 90000 << 21;
    QTest::newRow("lock cannot be written") << "unwritable" << 90000 << 21;
}

void CommandChannelTest::prepareForUpdate()
{
    QFETCH(QString, agent);
    QFETCH(int, limitMs);
    QFETCH(int, expected);

    QString directory = dataDirectory();
    if (agent == "unwritable") {
        QFile blocker(home->filePath("blocked"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        directory = blocker.fileName() + "/agent";
    }
    QLockFile agentLock(vek::app::AgentLockPath(dataDirectory()));
    agentLock.setStaleLockTime(0);
    std::unique_ptr<AgentTray> tray;
    if (agent != "none" && agent != "unwritable")
        QVERIFY(agentLock.tryLock(0));
    if (agent == "silent")
        channel->close();
    if (agent == "drains" || agent == "stays") {
        tray = std::make_unique<AgentTray>();
        connect(channel.get(), &CommandChannel::drainRequested, tray.get(),
            &AgentTray::beginInstallerDrain);
        if (agent == "drains")
            connect(tray.get(), &AgentTray::quitRequested, this, [&] { agentLock.unlock(); });
    }

    int result = -1;
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QThread> installer(QThread::create([&] {
        result = vek::app::PrepareForUpdate(directory, std::chrono::milliseconds(limitMs));
    }));
    installer->start();
    QTRY_VERIFY_WITH_TIMEOUT(installer->isFinished(), 10000);
    installer->wait();
    QCOMPARE(result, expected);
    if (agent == "none")
        QVERIFY(timer.elapsed() < 1000);
    // The installer does not keep the lock.
    QLockFile after(vek::app::AgentLockPath(dataDirectory()));
    after.setStaleLockTime(0);
    QCOMPARE(after.tryLock(0), agent != "stays" && agent != "silent");
}

void CommandChannelTest::anotherUsersConnectionRefused_data()
{
    QTest::addColumn<bool>("openToEveryone");
    QTest::newRow("the channel in this user's runtime folder") << false;
    // Should the socket ever be reachable, the channel still asks who is calling.
    QTest::newRow("a socket anyone may reach") << true;
}

void CommandChannelTest::anotherUsersConnectionRefused()
{
    QFETCH(bool, openToEveryone);
    if (::geteuid() != 0)
        QSKIP("running a client as another user needs root");
    const QString client = QCoreApplication::applicationDirPath() + "/vek_channelclient";
    const QString shared = home->filePath("shared");
    QVERIFY(QDir().mkpath(shared));
    const auto everyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
        | QFile::WriteOther | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup;
    // The helper itself must be reachable by the other user.
    QVERIFY(QFile::copy(client, shared + "/vek_channelclient"));
    QVERIFY(QFile::setPermissions(shared + "/vek_channelclient", everyone));
    QVERIFY(QFile::setPermissions(shared, everyone));
    QVERIFY(
        QFile::setPermissions(home->path(), QFile::permissions(home->path()) | QFile::ExeOther));
    QString target = address;
    if (openToEveryone) {
        channel->close();
        target = shared + "/channel";
        QVERIFY(channel->listen(target));
        QVERIFY(QFile::setPermissions(target, everyone | QFile::WriteGroup));
    }

    QProcess intruder;
    intruder.start("setpriv",
        { "--reuid=nobody", "--regid=nogroup", "--clear-groups", shared + "/vek_channelclient",
            target, "setup" });
    QVERIFY(intruder.waitForStarted());
    // The channel runs in this thread: keep serving it while the intruder tries.
    QTRY_COMPARE_WITH_TIMEOUT(intruder.state(), QProcess::NotRunning, 10000);
    QCOMPARE(intruder.exitCode(), 0);
    QCOMPARE(intruder.readAllStandardOutput(),
        openToEveryone ? QByteArray("closed\n") : QByteArray("no connection\n"));
    if (openToEveryone)
        address = target;
    flushChannel();
    QCOMPARE(setups->size(), 0);
}

void CommandChannelTest::anotherUsersChannelGetsNothing()
{
    if (::geteuid() != 0)
        QSKIP("running a listener as another user needs root");
    const QString shared = home->filePath("shared");
    QVERIFY(QDir().mkpath(shared));
    const auto everyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
        | QFile::WriteOther | QFile::ExeOther | QFile::ReadGroup | QFile::WriteGroup
        | QFile::ExeGroup;
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/vek_channelclient",
        shared + "/vek_channelclient"));
    QVERIFY(QFile::setPermissions(shared + "/vek_channelclient", everyone));
    QVERIFY(QFile::setPermissions(shared, everyone));
    QVERIFY(
        QFile::setPermissions(home->path(), QFile::permissions(home->path()) | QFile::ExeOther));

    // A squatter of another user listens where the agent's channel would be.
    QProcess squatter;
    squatter.start("setpriv",
        { "--reuid=nobody", "--regid=nogroup", "--clear-groups", shared + "/vek_channelclient",
            "--listen", shared + "/channel" });
    QVERIFY(squatter.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(squatter.canReadLine(), 10000);
    QCOMPARE(squatter.readLine(), QByteArray("listening\n"));

    QVERIFY(!vek::app::ForwardSetup(shared + "/channel"));
    QVERIFY(squatter.waitForFinished(10000));
    QCOMPARE(squatter.readAllStandardOutput(), QByteArray("nothing\n"));
}

QTEST_MAIN(CommandChannelTest)
#include "test_commandchannel.moc"
