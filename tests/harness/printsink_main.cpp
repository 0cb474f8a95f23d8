// A TCP printer for the tests: one listening port per queue on 127.0.0.1;
// every connection is one job, written atomically to DIR/<queue>/<seq>.job
// once the sender has finished.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

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
            auto *job = new QByteArray;
            connect(socket, &QTcpSocket::readyRead, socket,
                [socket, job] { job->append(socket->readAll()); });
            // The sender half-closes when it is done and then waits for us to close.
            auto finish = [this, socket, job] {
                if (socket->property("written").toBool())
                    return;
                socket->setProperty("written", true);
                job->append(socket->readAll());
                store(*job);
                delete job;
                socket->disconnectFromHost();
                socket->deleteLater();
            };
            connect(socket, &QTcpSocket::readChannelFinished, socket, finish);
            connect(socket, &QTcpSocket::disconnected, socket, finish);
        }
    }

    void store(const QByteArray &job)
    {
        QSaveFile file(
            QStringLiteral("%1/%2.job").arg(directory).arg(++sequence, 6, 10, QLatin1Char('0')));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(job);
            file.commit();
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
