#pragma once
// A clinic server for tests, on 127.0.0.1 over HTTP or HTTPS: scripted
// replies per path (status, body, delay, or a connection that is accepted and
// never answered), and a log of every request it received.

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QQueue>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <chrono>
#include <memory>

namespace vek::test {

struct ScriptedReply {
    int status = 200;
    QByteArray body;
    std::chrono::milliseconds delay { 0 };
    bool hang = false;  // accept the request and never answer
    QList<QPair<QByteArray, QByteArray>> headers;  // sent besides the content headers

    static ScriptedReply Json(int status, const QJsonObject &body);
    static ScriptedReply Raw(int status, const QByteArray &body);
    static ScriptedReply Hang();
    ScriptedReply after(std::chrono::milliseconds wait) const;
};

struct ReceivedRequest {
    QString path;
    QHash<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
    QJsonObject json;  // the body when it is a JSON object
};

class FakeClinicServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    explicit FakeClinicServer(QObject *parent = nullptr);
    ~FakeClinicServer() override;

    // Listens on a free port of 127.0.0.1; with https, presents a certificate
    // for 127.0.0.1 and localhost issued by a test CA, which this process's
    // default TLS configuration is made to trust when trustCa is set.
    bool start(bool https = false, bool trustCa = true);
    // Presented over https instead of the certificate for 127.0.0.1 and
    // localhost; set before start.
    void presentCertificate(const QSslCertificate &certificate, const QSslKey &key);
    QString baseUrl() const;  // e.g. "http://127.0.0.1:40123"
    quint16 port() const { return listeningPort; }

    // The answer for path until changed; unknown paths get 404.
    void setReply(const QString &path, const ScriptedReply &reply);
    // One-shot answers, used in order before the standing one.
    void queueReply(const QString &path, const ScriptedReply &reply);

    QList<ReceivedRequest> requests() const { return received; }
    QList<ReceivedRequest> requestsTo(const QString &path) const;
    QStringList paths() const;

signals:
    void requestReceived(const QString &path);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    QHash<QString, ScriptedReply> standing;
    QHash<QString, QQueue<ScriptedReply>> queued;
    QList<ReceivedRequest> received;
    quint16 listeningPort = 0;
    bool secure = false;
    QSslCertificate presented;
    QSslKey presentedKey;
};

}  // namespace vek::test
