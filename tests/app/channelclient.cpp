// A command channel client for the tests that run it as another user:
//   vek_channelclient ADDRESS BYTES
// prints "no connection", "closed" (the agent closed it) or "open".

#include <QCoreApplication>
#include <QLocalSocket>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3)
        return 2;
    QTextStream out(stdout);
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
