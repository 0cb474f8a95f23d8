#include "connectproxy.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QUrl>

#include <utility>

namespace vek::test {
namespace {

constexpr qsizetype kMaxHead = 64 * 1024;

}  // namespace

// One client connection: its request head, then the bytes of both ways.
class ConnectProxy::Relay : public QObject {
public:
    Relay(QTcpSocket *client, ConnectProxy *proxy)
        : QObject(proxy)
        , proxy(proxy)
        , client(client)
    {
        client->setParent(this);
        connect(client, &QTcpSocket::readyRead, this, &Relay::fromClient);
        connect(client, &QTcpSocket::disconnected, this, &Relay::closeBoth);
        fromClient();
    }

private:
    void fromClient()
    {
        if (linked) {
            upstream->write(client->readAll());
            return;
        }
        pending.append(client->readAll());
        if (upstream)
            return;  // still connecting; sent once connected
        const qsizetype headEnd = pending.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (pending.size() > kMaxHead)
                refuse("431 Request Header Fields Too Large");
            return;
        }
        const QByteArray head = pending.left(headEnd + 4);
        pending.remove(0, headEnd + 4);
        openFor(head);
    }

    // CONNECT host:port is answered 200 once the tunnel stands; a request in
    // absolute form goes on in origin form, and the bytes after it unchanged.
    void openFor(const QByteArray &head)
    {
        QList<QByteArray> lines = head.left(head.size() - 4).split('\n');
        const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
        if (requestLine.size() != 3) {
            refuse("400 Bad Request");
            return;
        }
        const QByteArray &method = requestLine[0];
        const QByteArray &target = requestLine[1];
        const QByteArray &version = requestLine[2];
        QString host;
        int port = -1;
        QByteArray forward;
        if (method == "CONNECT") {
            const qsizetype colon = target.lastIndexOf(':');
            host = QString::fromLatin1(target.left(colon));
            port = colon > 0 ? target.mid(colon + 1).toInt() : -1;
            tunnel = true;
        } else if (target.startsWith("http://")) {
            const QUrl url(QString::fromLatin1(target));
            host = url.host();
            port = url.port(80);
            forward = method + ' ' + url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) + ' '
                + version + "\r\n";
            for (const QByteArray &line : lines) {
                if (!line.toLower().startsWith("proxy-"))
                    forward += line.trimmed() + "\r\n";
            }
            forward += "\r\n";
        }
        if (host.isEmpty() || port <= 0 || port > 65535) {
            refuse("405 Method Not Allowed");
            return;
        }
        proxy->record(host + QLatin1Char(':') + QString::number(port));

        upstream = new QTcpSocket(this);
        upstream->setProxy(QNetworkProxy::NoProxy);
        connect(upstream, &QTcpSocket::connected, this, [this, forward] {
            linked = true;
            if (tunnel)
                client->write("HTTP/1.1 200 Connection established\r\n\r\n");
            upstream->write(forward + std::exchange(pending, {}));
        });
        connect(
            upstream, &QTcpSocket::readyRead, this, [this] { client->write(upstream->readAll()); });
        connect(upstream, &QTcpSocket::errorOccurred, this, [this] {
            if (linked)
                closeBoth();
            else
                refuse("502 Bad Gateway");
        });
        connect(upstream, &QTcpSocket::disconnected, this, &Relay::closeBoth);
        upstream->connectToHost(QHostAddress::LocalHost, quint16(port));
    }

    void refuse(const char *status)
    {
        client->write(QByteArray("HTTP/1.1 ") + status
            + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        closeBoth();
    }

    // Pending bytes are flushed before each side closes.
    void closeBoth()
    {
        client->disconnectFromHost();
        if (upstream)
            upstream->disconnectFromHost();
        if (client->state() == QAbstractSocket::UnconnectedState
            && (!upstream || upstream->state() == QAbstractSocket::UnconnectedState))
            deleteLater();
    }

    ConnectProxy *proxy;
    QTcpSocket *client;
    QTcpSocket *upstream = nullptr;
    QByteArray pending;
    bool tunnel = false;
    bool linked = false;  // upstream connected and the head passed on
};

ConnectProxy::ConnectProxy(QObject *parent)
    : QObject(parent)
{
    server.setProxy(QNetworkProxy::NoProxy);
    connect(&server, &QTcpServer::newConnection, this, &ConnectProxy::accept);
}

ConnectProxy::~ConnectProxy() = default;

bool ConnectProxy::start()
{
    return server.listen(QHostAddress::LocalHost, 0);
}

QString ConnectProxy::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
}

void ConnectProxy::accept()
{
    while (QTcpSocket *client = server.nextPendingConnection())
        new Relay(client, this);
}

}  // namespace vek::test
