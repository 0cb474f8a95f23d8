#pragma once
// The simulator in this process, with a clock the test moves, and a blocking
// JSON client that waits in an event loop so the servers keep answering.

#include "adminserver.h"
#include "clinicserver.h"
#include "simstate.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace vek::test {

struct HttpAnswer {
    int status = 0;  // 0: no HTTP answer
    QJsonObject json;
    QByteArray body;
};

inline HttpAnswer Send(const QString &url, const QByteArray &method, const QJsonObject &body = {},
    const QString &token = {}, int timeoutMs = 5000)
{
    static QNetworkAccessManager *network = new QNetworkAccessManager;
    QNetworkRequest request { QUrl(url) };
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.setTransferTimeout(timeoutMs);
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QNetworkReply *reply = method == "GET"
        ? network->get(request)
        : network->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(timeoutMs + 5000);
    HttpAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    answer.json = QJsonDocument::fromJson(answer.body).object();
    reply->deleteLater();
    return answer;
}

class SimFixture {
public:
    SimFixture()
    {
        state.setClock([this] { return nowMs; });
        state.setLeaseMs(30000);
        state.setEnrolmentSecret(QStringLiteral("secret"));
        state.addPairingCode(QStringLiteral("PAIR-1"));
        local = new sim::ClinicServer(&state, QStringLiteral("local"), sim::Api::LocalNode, &state);
        desktop1
            = new sim::ClinicServer(&state, QStringLiteral("desktop1"), sim::Api::Desktop, &state);
        desktop2
            = new sim::ClinicServer(&state, QStringLiteral("desktop2"), sim::Api::Desktop, &state);
        started = local->start(0) && desktop1->start(0) && desktop2->start(0);
        state.setDesktopServers({ { desktop1->name(), desktop1->baseUrl() },
            { desktop2->name(), desktop2->baseUrl() } });
        admin = std::make_unique<sim::AdminServer>(
            &state, QList<sim::ClinicServer *> { local, desktop1, desktop2 });
        started = started && admin->start(0);
    }

    HttpAnswer localPost(const QString &path, const QJsonObject &body, const QString &token = {})
    {
        return Send(local->baseUrl() + path, "POST", body, token);
    }
    HttpAnswer desktopPost(sim::ClinicServer *server, const QString &name, const QJsonObject &body,
        const QString &token)
    {
        return Send(server->baseUrl() + QStringLiteral("/api/desktop/printing/") + name, "POST",
            body, token);
    }
    HttpAnswer adminPost(const QString &path, const QJsonObject &body)
    {
        return Send(admin->baseUrl() + path, "POST", body);
    }

    // A local-node workstation enrolled and checked in with one label queue.
    QString enrolLocal(const QString &deviceId, const QString &queue = QStringLiteral("Labels"))
    {
        const QString token = localPost(QStringLiteral("/api/local-node/print-agent/enrol"),
            { { "enrolmentSecret", "secret" }, { "deviceId", deviceId },
                { "displayName", deviceId + " desk" }, { "appVersion", "1.0.38" } })
                                  .json.value("token")
                                  .toString();
        const QJsonArray queues { QJsonObject {
            { "systemName", queue }, { "name", queue }, { "kind", "LABEL" } } };
        localPost(QStringLiteral("/api/local-node/desktop/print/agent"),
            { { "deviceId", deviceId }, { "displayName", deviceId + " desk" },
                { "appVersion", "1.0.38" }, { "queues", queues }, { "burners", QJsonArray() } },
            token);
        return token;
    }

    // A paired workstation that announced queue "Office" with the profile "A4 plain" on both
    // servers.
    QString enrolDesktop(const QString &deviceId, const QString &code = QStringLiteral("PAIR-1"))
    {
        const QString token = desktopPost(desktop1, QStringLiteral("enrol"),
            { { "code", code }, { "deviceId", deviceId }, { "displayName", deviceId + " desk" } },
            {})
                                  .json.value("token")
                                  .toString();
        for (sim::ClinicServer *server : { desktop1, desktop2 })
            desktopPost(server, QStringLiteral("announce"), AnnounceBody(), token);
        return token;
    }

    static QJsonObject AnnounceBody()
    {
        const QJsonObject profile { { "id", "0b5e2c2e-1111-4c4c-9d9d-000000000001" },
            { "name", "A4 plain" }, { "version", QString(64, u'a') }, { "widthMm", 210 },
            { "heightMm", 297 }, { "ready", true } };
        const QJsonObject queue { { "localQueueId", "7d1e2c2e-2222-4c4c-9d9d-000000000002" },
            { "systemName", "Office" }, { "name", "Office" }, { "status", "UNKNOWN" },
            { "enabled", true }, { "profiles", QJsonArray { profile } } };
        return { { "displayName", "desk" }, { "appVersion", "1.0.38" }, { "protocol", 2 },
            { "queues", QJsonArray { queue } }, { "burners", QJsonArray() } };
    }

    sim::SimState state;
    qint64 nowMs = 1000000;
    sim::ClinicServer *local = nullptr;
    sim::ClinicServer *desktop1 = nullptr;
    sim::ClinicServer *desktop2 = nullptr;
    std::unique_ptr<sim::AdminServer> admin;
    bool started = false;
};

}  // namespace vek::test
