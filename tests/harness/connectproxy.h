#pragma once
// An HTTP proxy for tests on 127.0.0.1. It tunnels every CONNECT to the
// requested port of 127.0.0.1, whatever host the client named, and passes a
// plain request in absolute form on the same way, so that a name that does
// not resolve reaches a server on loopback. It records each host and port it
// was asked for. It serves on the thread that starts it, whose event loop
// must run while a client uses it.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>

namespace vek::test {

class ConnectProxy : public QObject {
    Q_OBJECT
public:
    explicit ConnectProxy(QObject *parent = nullptr);
    ~ConnectProxy() override;

    bool start();
    QString url() const;  // "http://127.0.0.1:PORT", as the proxy variables hold it

    // "host:port" as the first request of each connection named it, in order.
    QStringList targets() const { return requested; }

private:
    void accept();
    void record(const QString &target) { requested.append(target); }

    class Relay;
    QTcpServer server;
    QStringList requested;
};

}  // namespace vek::test
