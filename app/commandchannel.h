#pragma once
// One agent per user. The running agent holds a lock file in the user's
// data directory and listens on a local channel that only the same user can
// reach. Two commands arrive over it: "setup" from a second start of the
// program, and "shutdown-for-update\n" from an installer, answered with
// "draining\n".

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <chrono>

class QLocalSocket;
class QLockFile;

namespace vek::app {

// "vek-print-" and the SHA-256 of the data directory's UTF-8 bytes.
QString CommandChannelName(const QString &dataDirectory);

// Where the channel listens: a socket file in the user's own runtime
// directory on Linux, a pipe name on Windows. Empty when there is no
// private place for it; the agent then runs without a channel.
QString CommandChannelAddress(const QString &dataDirectory);

enum class LockResult {
    Taken,  // this process is the agent
    HeldByAgent,  // another process of this user is the agent
    Failed,  // the lock file cannot be written: nobody can tell
};
// Tries once, without waiting.
LockResult TryAgentLock(QLockFile &lock);
QString AgentLockPath(const QString &dataDirectory);

// Connects to the agent at address within timeout; false when nothing
// answers or the listener is not of this user. The socket is aborted then.
bool ConnectToAgent(
    QLocalSocket &socket, const QString &address, std::chrono::milliseconds timeout);

// A second start: asks the running agent to open its setup dialog. Best
// effort; false when the command could not be handed over.
bool ForwardSetup(const QString &address);

class CommandChannel : public QObject {
    Q_OBJECT
public:
    explicit CommandChannel(QObject *parent = nullptr);

    // Only the lock holder listens: it removes a leftover socket of its own
    // first. False when it cannot listen (the agent then runs without one).
    bool listen(const QString &address);
    void close();

signals:
    void setupRequested();
    // The connection stays open; its disconnection means the installer left.
    // It is disposed of when the installer disconnects.
    void drainRequested(QLocalSocket *installer);

private:
    void acceptConnections();

    QLocalServer server;
};

}  // namespace vek::app
