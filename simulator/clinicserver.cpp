#include "clinicserver.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace vek::sim {

namespace {

constexpr char kLocalEnrol[] = "/api/local-node/print-agent/enrol";
constexpr char kLocalCheckIn[] = "/api/local-node/desktop/print/agent";
constexpr char kLocalClaim[] = "/api/local-node/desktop/print/claim";
constexpr char kLocalReport[] = "/api/local-node/desktop/print/report";
constexpr char kDesktopPrefix[] = "/api/desktop/printing/";

}  // namespace

QString FaultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return QStringLiteral("none");
    case Fault::Fail:
        return QStringLiteral("fail");
    case Fault::Hang:
        return QStringLiteral("hang");
    case Fault::Slow:
        return QStringLiteral("slow");
    }
    return {};
}

ClinicServer::ClinicServer(SimState *state, QString name, Api api, QObject *parent)
    : QAbstractHttpServer(parent)
    , state(state)
    , serverName(std::move(name))
    , kind(api)
{
}

bool ClinicServer::start(quint16 port)
{
    listeningPort = listen(QHostAddress::LocalHost, port);
    return listeningPort != 0;
}

bool ClinicServer::startTls(quint16 port, const QSslCertificate &certificate, const QSslKey &key)
{
    if (certificate.isNull() || key.isNull())
        return false;
    sslSetup(certificate, key);
    secure = true;
    return start(port);
}

QString ClinicServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(secure ? "https" : "http").arg(listeningPort);
}

void ClinicServer::setFault(Fault fault, int delayMs)
{
    currentFault = fault;
    slowMs = delayMs;
}

Reply ClinicServer::answer(const QString &path, const QString &bearer, const QJsonObject &body)
{
    if (kind == Api::LocalNode) {
        if (path == QLatin1String(kLocalEnrol))
            return state->localEnrol(body);
        if (path == QLatin1String(kLocalCheckIn))
            return state->localCheckIn(bearer, body);
        if (path == QLatin1String(kLocalClaim))
            return state->localClaim(bearer, body);
        if (path == QLatin1String(kLocalReport))
            return state->localReport(bearer, body);
    } else if (path.startsWith(QLatin1String(kDesktopPrefix))) {
        const QString name = path.mid(int(qstrlen(kDesktopPrefix)));
        if (name == QLatin1String("enrol"))
            return state->desktopEnrol(serverName, body);
        if (name == QLatin1String("servers"))
            return state->desktopServers(bearer);
        if (name == QLatin1String("announce"))
            return state->desktopAnnounce(serverName, bearer, body);
        if (name == QLatin1String("claim"))
            return state->desktopClaim(serverName, bearer);
        if (name == QLatin1String("report"))
            return state->desktopReport(serverName, bearer, body);
    }
    return { 404, { { "error", "No such endpoint on this server." } } };
}

bool ClinicServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    if (currentFault == Fault::Hang)
        return true;  // accepted, never answered

    Reply reply;
    if (currentFault == Fault::Fail) {
        reply = { 500, { { "error", "The simulator was told to fail." } } };
    } else if (request.method() != QHttpServerRequest::Method::Post) {
        reply = { 405, { { "error", "Every request is a POST." } } };
    } else {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(request.body(), &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
            reply = { 400, { { "error", "The body is not a JSON object." } } };
        } else {
            const QString bearer = QString::fromUtf8(request.value("Authorization"));
            reply = answer(request.url().path(), bearer, document.object());
        }
    }

    const QByteArray body = QJsonDocument(reply.body).toJson(QJsonDocument::Compact);
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    auto send = [responder, socket = QPointer<QTcpSocket>(socket), status = reply.status, body] {
        if (!socket)
            return;
        responder->writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(status));
        responder->writeHeader("Content-Type", "application/json");
        responder->writeHeader("Content-Length", QByteArray::number(body.size()));
        responder->writeBody(body);
    };
    if (currentFault == Fault::Slow && slowMs > 0)
        QTimer::singleShot(slowMs, this, send);
    else
        send();
    return true;
}

void ClinicServer::missingHandler(const QHttpServerRequest &, QTcpSocket *) { }

}  // namespace vek::sim
