#include "threadedrawserver.h"

#include "testca.h"

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

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
        endless = false;
    }

    void setEndless(
        const QByteArray &head, const QByteArray &chunk, std::chrono::milliseconds every)
    {
        QMutexLocker lock(&mutex);
        response = head;
        endlessChunk = chunk;
        interval = every;
        keepOpen = true;
        endless = true;
    }

    bool https = false;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (!https) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        const TestCertificates &certificates = TestCertificatesForProcess();
        socket->setLocalCertificate(certificates.server);
        socket->setPrivateKey(certificates.serverKey);
        addPendingConnection(socket);
        socket->startServerEncryption();
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
        bool neverEnds = false;
        QByteArray chunk;
        std::chrono::milliseconds every {};
        {
            QMutexLocker lock(&mutex);
            bytes = response;
            keep = keepOpen;
            neverEnds = endless;
            chunk = endlessChunk;
            every = interval;
        }
        socket->disconnect(this);
        socket->write(bytes);
        if (neverEnds)
            writeForever(socket, chunk, every);
        else if (!keep)
            socket->disconnectFromHost();  // after the bytes are flushed
        emit owner->responseWritten();
    }

    // Keeps a little data queued, so memory on this side stays bounded too.
    static void writeForever(
        QTcpSocket *socket, const QByteArray &chunk, std::chrono::milliseconds every)
    {
        if (every.count() > 0) {
            auto *timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [socket, chunk] { socket->write(chunk); });
            timer->start(every);
            return;
        }
        // One chunk more whenever the network has taken bytes and little is
        // queued. A TLS socket reports bytesWritten as soon as it encrypts,
        // so there only bytes that reached the network count.
        auto *secure = qobject_cast<QSslSocket *>(socket);
        const auto refill = [socket, secure, chunk] {
            const qint64 queued = secure ? secure->encryptedBytesToWrite() : socket->bytesToWrite();
            if (socket->state() == QAbstractSocket::ConnectedState && queued < 4 * chunk.size())
                socket->write(chunk);
        };
        if (secure)
            connect(secure, &QSslSocket::encryptedBytesWritten, socket, refill);
        else
            connect(socket, &QTcpSocket::bytesWritten, socket, refill);
        for (int i = 0; i < 4; ++i)
            socket->write(chunk);
    }

    ThreadedRawServer *owner;
    QMutex mutex;
    QByteArray response;
    bool keepOpen = false;
    bool endless = false;
    QByteArray endlessChunk;
    std::chrono::milliseconds interval {};
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

void ThreadedRawServer::setEndlessResponse(
    const QByteArray &head, const QByteArray &chunk, std::chrono::milliseconds interval)
{
    listener->setEndless(head, chunk, interval);
}

bool ThreadedRawServer::start(bool https)
{
    listener->https = https;
    bool listening = false;
    QMetaObject::invokeMethod(
        listener, [this] { return listener->listen(QHostAddress::LocalHost, 0); },
        Qt::BlockingQueuedConnection, &listening);
    return listening;
}

QString ThreadedRawServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(listener->https ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(listener->serverPort());
}

quint16 ThreadedRawServer::port() const
{
    return listener->serverPort();
}

QByteArray ThreadedRawServer::Head(int status, const QByteArray &headers)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n" + headers + "\r\n";
}

}  // namespace vek::test
