// A TCP printer for the tests: one listening port per queue on 127.0.0.1;
// every connection is one job. Its bytes are written to DIR/<queue>/<seq>.part
// as they arrive, and the file is renamed to <seq>.job once the sender has
// finished, so a .job file is always whole. Nothing is forced to disk: the
// files are read back on this machine, and a flush would be measured as the
// printer's time.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

namespace {

// Moves what the socket holds to the file, through one buffer.
void Drain(QTcpSocket &socket, QFile &file)
{
    static std::vector<char> buffer(1 << 20);
    for (qint64 read; (read = socket.read(buffer.data(), qint64(buffer.size()))) > 0;)
        file.write(buffer.data(), read);
}

class QueueSink : public QObject {
public:
    QueueSink(const QString &directory, QObject *parent)
        : QObject(parent)
        , directory(directory)
    {
        QDir().mkpath(directory);
        connect(&server, &QTcpServer::newConnection, this, &QueueSink::accept);
    }

    quint16 listen() { return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0; }

private:
    void accept()
    {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            const QString name
                = QStringLiteral("%1/%2").arg(directory).arg(++sequence, 6, 10, QLatin1Char('0'));
            auto file = std::make_shared<QFile>(name + QStringLiteral(".part"));
            if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
                qWarning("cannot write %s", qPrintable(file->fileName()));
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(
                socket, &QTcpSocket::readyRead, socket, [socket, file] { Drain(*socket, *file); });
            // The sender half-closes when it is done and then waits for us to close.
            auto finish = [socket, file, name] {
                if (!file->isOpen())
                    return;
                Drain(*socket, *file);
                file->close();
                if (!file->rename(name + QStringLiteral(".job")))
                    qWarning("cannot store %s", qPrintable(name));
                socket->disconnectFromHost();
                socket->deleteLater();
            };
            connect(socket, &QTcpSocket::readChannelFinished, socket, finish);
            connect(socket, &QTcpSocket::disconnected, socket, finish);
        }
    }

    QTcpServer server;
    QString directory;
    int sequence = 0;
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({ "dir", "Where jobs are written.", "dir" });
    parser.addOption({ "queues", "Comma-separated queue names.", "names" });
    parser.addOption({ "ports-file", "Receives one 'queue port' line per queue.", "file" });
    parser.process(app);

    QByteArray ports;
    for (const QString &queue : parser.value("queues").split(',', Qt::SkipEmptyParts)) {
        auto *sink = new QueueSink(parser.value("dir") + '/' + queue, &app);
        const quint16 port = sink->listen();
        if (port == 0)
            return 1;
        ports += queue.toUtf8() + ' ' + QByteArray::number(port) + '\n';
    }
    QSaveFile portsFile(parser.value("ports-file"));
    if (!portsFile.open(QIODevice::WriteOnly) || portsFile.write(ports) != ports.size()
        || !portsFile.commit())
        return 1;
    return app.exec();
}
