#include "updatepreparation.h"

#include "commandchannel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

namespace vek::app {

namespace {
using std::chrono::milliseconds;
constexpr milliseconds kConnectTimeout { 1500 };
constexpr milliseconds kWriteTimeout { 1500 };
constexpr milliseconds kAnswerTimeout { 3000 };
constexpr milliseconds kLockRetry { 50 };
constexpr milliseconds kReadSlice { 250 };

bool Elapsed(const QElapsedTimer &timer, milliseconds limit)
{
    return timer.elapsed() >= limit.count();
}
}  // namespace

int WaitForAgentLock(QLockFile &lock, milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    if (Elapsed(timer, timeout))
        return kAgentNotEnded;
    while (!lock.tryLock(0)) {
        if (Elapsed(timer, timeout))
            return kAgentNotEnded;
        QThread::msleep(kLockRetry.count());
    }
    return kNoAgent;
}

int PrepareForUpdate(const QString &dataDirectory, milliseconds limit)
{
    QDir().mkpath(dataDirectory);
    QLockFile lock(AgentLockPath(dataDirectory));
    lock.setStaleLockTime(0);
    if (lock.tryLock(0))
        return kNoAgent;

    QLocalSocket socket;
    if (!ConnectToAgent(socket, CommandChannelAddress(dataDirectory), kConnectTimeout))
        return WaitForAgentLock(lock, kAnswerTimeout);

    const QByteArray command = "shutdown-for-update\n";
    socket.write(command);
    if (!socket.waitForBytesWritten(int(kWriteTimeout.count())))
        return WaitForAgentLock(lock, kAnswerTimeout);

    QElapsedTimer timer;
    timer.start();
    QByteArray reply;
    while (!reply.contains('\n') && !Elapsed(timer, kAnswerTimeout)
        && socket.state() == QLocalSocket::ConnectedState) {
        socket.waitForReadyRead(int(kReadSlice.count()));
        reply += socket.readAll();
    }
    if (reply != "draining\n")
        return WaitForAgentLock(lock, kAnswerTimeout);

    while (!Elapsed(timer, limit)) {
        if (lock.tryLock(0))
            return kAgentDrained;
        QThread::msleep(kLockRetry.count());
    }
    return kAgentStillPrinting;
}

}  // namespace vek::app
