// Both ends of a command channel for the tests that run them as another user:
//   vek_channelclient ADDRESS BYTES
//     sends BYTES; prints "no connection", "closed" (the agent closed it) or "open"
//   vek_channelclient --listen ADDRESS
//     prints "listening", then what the first caller sent, or "nothing"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3)
        return 2;
    QTextStream out(stdout);
    if (arguments[1] == "--listen") {
        QLocalServer server;
        server.setSocketOptions(QLocalServer::WorldAccessOption);
        if (!server.listen(arguments[2]))
            return 1;
        out << "listening" << Qt::endl;
        if (!server.waitForNewConnection(10000))
            return 1;
        QLocalSocket *caller = server.nextPendingConnection();
        QByteArray received;
        while (caller->waitForReadyRead(2000))
            received += caller->readAll();
        received += caller->readAll();
        out << (received.isEmpty() ? QByteArray("nothing") : received) << Qt::endl;
        return 0;
    }
    QLocalSocket socket;
    socket.connectToServer(arguments[1]);
    if (!socket.waitForConnected(1500)) {
        out << "no connection\n";
        return 0;
    }
    socket.write(arguments[2].toUtf8());
    socket.waitForBytesWritten(1500);
    // The agent closes a refused connection at once; a kept one stays open.
    const bool closed
        = socket.state() != QLocalSocket::ConnectedState || socket.waitForDisconnected(3000);
    out << (closed ? "closed\n" : "open\n");
    return 0;
}
