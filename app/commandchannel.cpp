#include "commandchannel.h"

#include "platform/localpeer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QLoggingCategory>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcChannel, "vek.channel", QtWarningMsg)

namespace vek::app {

namespace {
constexpr QByteArrayView kSetup = "setup";
constexpr QByteArrayView kShutdownForUpdate = "shutdown-for-update\n";
constexpr QByteArrayView kDraining = "draining\n";
constexpr qsizetype kLongestCommand = 64;
constexpr std::chrono::milliseconds kForwardTimeout { 1500 };

// Owned by whoever owns the data directory (this user), entered by nobody else.
bool IsPrivateDirectory(const QString &path, const QString &dataDirectory)
{
    const QFileInfo info(path);
    if (info.ownerId() != QFileInfo(dataDirectory).ownerId())
        return false;
    constexpr QFile::Permissions kOthers = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    return info.isDir() && info.isWritable() && !(info.permissions() & kOthers);
}
}  // namespace

QString CommandChannelName(const QString &dataDirectory)
{
    return "vek-print-"
        + QString::fromLatin1(
            QCryptographicHash::hash(dataDirectory.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString CommandChannelAddress(const QString &dataDirectory)
{
#ifdef Q_OS_WIN
    // A pipe name; the server restricts the pipe to this user.
    return CommandChannelName(dataDirectory);
#else
    // A full path, so never the abstract namespace, and in the session's own
    // runtime directory that only this user can enter, so nobody else can
    // take the name first. The framework's stand-in below the shared
    // temporary folder does not count.
    const QString session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (session.isEmpty() || runtime.isEmpty()
        || QFileInfo(session).canonicalFilePath() != QFileInfo(runtime).canonicalFilePath()
        || !IsPrivateDirectory(runtime, dataDirectory))
        return {};
    return runtime + '/' + CommandChannelName(dataDirectory);
#endif
}

QString AgentLockPath(const QString &dataDirectory)
{
    return dataDirectory + "/agent.lock";
}

LockResult TryAgentLock(QLockFile &lock)
{
    if (lock.tryLock(0))
        return LockResult::Taken;
    return lock.error() == QLockFile::LockFailedError ? LockResult::HeldByAgent
                                                      : LockResult::Failed;
}

bool ConnectToAgent(QLocalSocket &socket, const QString &address, std::chrono::milliseconds timeout)
{
    if (address.isEmpty())
        return false;
    socket.connectToServer(address, QIODevice::ReadWrite);
    if (!socket.waitForConnected(int(timeout.count())))
        return false;
    if (!platform::LocalPeerIsCurrentUser(socket.socketDescriptor(), platform::PeerSide::Server)) {
        qCWarning(lcChannel) << "the command channel belongs to another user";
        socket.abort();
        return false;
    }
    return true;
}

bool ForwardSetup(const QString &address)
{
    QLocalSocket socket;
    if (!ConnectToAgent(socket, address, kForwardTimeout))
        return false;
    socket.write(kSetup.data(), kSetup.size());
    return socket.waitForBytesWritten(int(kForwardTimeout.count()));
}

CommandChannel::CommandChannel(QObject *parent)
    : QObject(parent)
{
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, &CommandChannel::acceptConnections);
}

bool CommandChannel::listen(const QString &address)
{
    if (address.isEmpty())
        return false;
    QLocalServer::removeServer(address);
    if (server.listen(address))
        return true;
    qCWarning(lcChannel) << "cannot listen:" << server.errorString();
    return false;
}

void CommandChannel::close()
{
    server.close();
}

void CommandChannel::acceptConnections()
{
    while (QLocalSocket *socket = server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!platform::LocalPeerIsCurrentUser(
                socket->socketDescriptor(), platform::PeerSide::Client)) {
            qCWarning(lcChannel) << "refused a connection from another user";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Each connection keeps its own bytes between arrivals.
        connect(socket, &QLocalSocket::readyRead, this,
            [this, socket, buffer = QByteArray()]() mutable {
                buffer += socket->readAll();
                qCDebug(lcChannel) << "received" << buffer;
                if (buffer == kSetup) {
                    emit setupRequested();
                    socket->disconnectFromServer();
                    return;
                }
                if (buffer == kShutdownForUpdate) {
                    socket->write(kDraining.data(), kDraining.size());
                    socket->flush();
                    emit drainRequested(socket);
                    return;
                }
                if (buffer.size() < kLongestCommand && !buffer.contains('\n'))
                    return;
                socket->disconnectFromServer();
            });
    }
}

}  // namespace vek::app
