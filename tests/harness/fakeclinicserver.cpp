#include "fakeclinicserver.h"

#include "testca.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpSocket>
#include <QTimer>

namespace vek::test {

ScriptedReply ScriptedReply::Json(int status, const QJsonObject &body)
{
    return Raw(status, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

ScriptedReply ScriptedReply::Raw(int status, const QByteArray &body)
{
    ScriptedReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

ScriptedReply ScriptedReply::Hang()
{
    ScriptedReply reply;
    reply.hang = true;
    return reply;
}

ScriptedReply ScriptedReply::after(std::chrono::milliseconds wait) const
{
    ScriptedReply copy = *this;
    copy.delay = wait;
    return copy;
}

FakeClinicServer::FakeClinicServer(QObject *parent)
    : QAbstractHttpServer(parent)
{
}

FakeClinicServer::~FakeClinicServer() = default;

bool FakeClinicServer::start(bool https, bool trustCa)
{
    if (https) {
        const TestCertificates &certificates = TestCertificatesForProcess();
        if (certificates.server.isNull())
            return false;
        if (presented.isNull())
            sslSetup(certificates.server, certificates.serverKey);
        else
            sslSetup(presented, presentedKey);
        if (trustCa)
            TrustTestCaInDefaultConfiguration();
    }
    secure = https;
    listeningPort = listen(QHostAddress::LocalHost, 0);
    return listeningPort != 0;
}

void FakeClinicServer::presentCertificate(const QSslCertificate &certificate, const QSslKey &key)
{
    presented = certificate;
    presentedKey = key;
}

QString FakeClinicServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(secure ? "https" : "http").arg(listeningPort);
}

void FakeClinicServer::setReply(const QString &path, const ScriptedReply &reply)
{
    standing.insert(path, reply);
}

void FakeClinicServer::queueReply(const QString &path, const ScriptedReply &reply)
{
    queued[path].enqueue(reply);
}

QList<ReceivedRequest> FakeClinicServer::requestsTo(const QString &path) const
{
    QList<ReceivedRequest> matching;
    for (const ReceivedRequest &request : received) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

QStringList FakeClinicServer::paths() const
{
    QStringList all;
    for (const ReceivedRequest &request : received)
        all.append(request.path);
    return all;
}

bool FakeClinicServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    ReceivedRequest logged;
    logged.path = request.url().path();
    for (const auto &[name, value] : request.headers())
        logged.headers.insert(name.toLower(), value);
    logged.body = request.body();
    logged.json = QJsonDocument::fromJson(logged.body).object();
    received.append(logged);

    ScriptedReply reply;
    if (auto it = queued.find(logged.path); it != queued.end() && !it->isEmpty())
        reply = it->dequeue();
    else if (auto standingIt = standing.constFind(logged.path); standingIt != standing.constEnd())
        reply = *standingIt;
    else
        reply = ScriptedReply::Json(404, { { "error", "No such path on the test server." } });

    emit requestReceived(logged.path);
    if (reply.hang)
        return true;  // the connection stays open and is never answered

    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    auto answer = [responder, socket = QPointer<QTcpSocket>(socket), reply] {
        if (!socket)
            return;
        responder->writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
        responder->writeHeader("Content-Type", "application/json");
        responder->writeHeader("Content-Length", QByteArray::number(reply.body.size()));
        for (const auto &[name, value] : reply.headers)
            responder->writeHeader(name, value);
        responder->writeBody(reply.body);
    };
    if (reply.delay.count() > 0)
        QTimer::singleShot(reply.delay, this, answer);
    else
        answer();
    return true;
}

void FakeClinicServer::missingHandler(const QHttpServerRequest &, QTcpSocket *) { }

}  // namespace vek::test
