#include "adminserver.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>

namespace vek::sim {

AdminServer::AdminServer(SimState *state, QList<ClinicServer *> servers, QObject *parent)
    : QAbstractHttpServer(parent)
    , state(state)
    , servers(std::move(servers))
{
}

bool AdminServer::start(quint16 port)
{
    listeningPort = listen(QHostAddress::LocalHost, port);
    return listeningPort != 0;
}

QString AdminServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(listeningPort);
}

ClinicServer *AdminServer::server(const QString &name) const
{
    for (ClinicServer *candidate : servers) {
        if (candidate->name() == name)
            return candidate;
    }
    return nullptr;
}

QJsonObject AdminServer::stateJson() const
{
    QJsonObject json = state->toJson();
    QJsonArray serverArray;
    for (const ClinicServer *clinic : servers) {
        serverArray.append(QJsonObject {
            { "name", clinic->name() },
            { "api", clinic->api() == Api::LocalNode ? "local-node" : "desktop" },
            { "url", clinic->baseUrl() },
            { "fault", FaultName(clinic->fault()) },
        });
    }
    json.insert("servers", serverArray);
    return json;
}

Reply AdminServer::post(const QString &path, const QJsonObject &body)
{
    if (path == QLatin1String("/admin/orders")) {
        ClinicServer *target = server(body.value("server").toString());
        if (!target)
            return { 404, { { "error", "No such server." } } };
        const QString queue = body.value("queue").toString();
        const QString profile = body.value("profile").toString();
        const QByteArray data
            = QByteArray::fromBase64(body.value("dataBase64").toString().toLatin1());
        if (queue.isEmpty() || data.isEmpty()
            || (target->api() == Api::Desktop && profile.isEmpty()))
            return { 400,
                { { "error",
                    "An order needs a queue, dataBase64 and, on a desktop server, a profile." } } };
        const int count = qBound(1, body.value("count").toInt(1), 1000);
        QJsonArray ids;
        for (int i = 0; i < count; ++i)
            ids.append(state->addOrder(
                target->name(), queue, data, profile, body.value("copies").toInt(1)));
        return { 200, { { "orders", ids } } };
    }
    if (path == QLatin1String("/admin/revoke")) {
        if (!state->revoke(body.value("deviceId").toString()))
            return { 404, { { "error", "No such workstation." } } };
        return { 200, {} };
    }
    if (path == QLatin1String("/admin/fault")) {
        ClinicServer *target = server(body.value("server").toString());
        if (!target)
            return { 404, { { "error", "No such server." } } };
        const QString mode = body.value("mode").toString();
        const QList<Fault> faults { Fault::None, Fault::Fail, Fault::Hang, Fault::Slow };
        for (Fault fault : faults) {
            if (FaultName(fault) == mode) {
                target->setFault(fault, body.value("delayMs").toInt(0));
                emit state->event(QStringLiteral("server %1 fault %2").arg(target->name(), mode));
                return { 200, {} };
            }
        }
        return { 400, { { "error", "The mode is one of none, fail, hang, slow." } } };
    }
    if (path == QLatin1String("/admin/pairing-codes")) {
        const QString code = body.value("code").toString();
        if (code.isEmpty())
            return { 400, { { "error", "No code." } } };
        state->addPairingCode(code);
        return { 200, {} };
    }
    return { 404, { { "error", "No such endpoint." } } };
}

bool AdminServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString path = request.url().path();
    QByteArray body;
    QByteArray contentType = "application/json";
    int status = 200;
    if (request.method() == QHttpServerRequest::Method::Get && path == QLatin1String("/")) {
        body = StatusPage(*state, servers);
        contentType = "text/html; charset=utf-8";
    } else if (request.method() == QHttpServerRequest::Method::Get
        && path == QLatin1String("/admin/state")) {
        body = QJsonDocument(stateJson()).toJson(QJsonDocument::Compact);
    } else if (request.method() == QHttpServerRequest::Method::Post) {
        const QJsonObject json = QJsonDocument::fromJson(request.body()).object();
        const Reply reply = post(path, json);
        status = reply.status;
        body = QJsonDocument(reply.body).toJson(QJsonDocument::Compact);
    } else {
        status = 404;
        body = R"({"error":"No such endpoint."})";
    }
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(status));
    responder.writeHeader("Content-Type", contentType);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeBody(body);
    return true;
}

void AdminServer::missingHandler(const QHttpServerRequest &, QTcpSocket *) { }

}  // namespace vek::sim
