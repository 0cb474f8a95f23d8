#include "threadedrawserver.h"

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

namespace vek::test {

class ThreadedRawServer::Listener : public QTcpServer {
public:
    explicit Listener(ThreadedRawServer *owner)
        : owner(owner)
    {
        connect(this, &QTcpServer::newConnection, this, &Listener::accept);
    }

    void setResponse(const QByteArray &bytes, bool keep)
    {
        QMutexLocker lock(&mutex);
        response = bytes;
        keepOpen = keep;
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket,
                [this, socket, received = std::make_shared<QByteArray>()] {
                    received->append(socket->readAll());
                    if (RequestComplete(*received))
                        answer(socket);
                });
        }
    }

    // The head has ended and as many body bytes as it announced arrived.
    static bool RequestComplete(const QByteArray &received)
    {
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return false;
        qsizetype length = 0;
        for (const QByteArray &line : received.left(headEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        return received.size() >= headEnd + 4 + length;
    }

    void answer(QTcpSocket *socket)
    {
        QByteArray bytes;
        bool keep = false;
        {
            QMutexLocker lock(&mutex);
            bytes = response;
            keep = keepOpen;
        }
        socket->disconnect(this);
        socket->write(bytes);
        if (!keep)
            socket->disconnectFromHost();  // after the bytes are flushed
        emit owner->responseWritten();
    }

    ThreadedRawServer *owner;
    QMutex mutex;
    QByteArray response;
    bool keepOpen = false;
};

ThreadedRawServer::ThreadedRawServer()
{
    listener = new Listener(this);
    listener->moveToThread(&thread);
    connect(&thread, &QThread::finished, listener, &QObject::deleteLater);
    thread.start();
}

ThreadedRawServer::~ThreadedRawServer()
{
    thread.quit();
    thread.wait();
}

void ThreadedRawServer::setResponse(const QByteArray &bytes, bool keepOpen)
{
    listener->setResponse(bytes, keepOpen);
}

bool ThreadedRawServer::start()
{
    bool listening = false;
    QMetaObject::invokeMethod(
        listener, [this] { return listener->listen(QHostAddress::LocalHost, 0); },
        Qt::BlockingQueuedConnection, &listening);
    return listening;
}

QString ThreadedRawServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(listener->serverPort());
}

QByteArray ThreadedRawServer::Head(int status, const QByteArray &headers)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n" + headers + "\r\n";
}

}  // namespace vek::test
