#pragma once
// The simulator's own control surface on 127.0.0.1: a small JSON API to add
// orders, read the state, revoke workstations and switch server faults, and
// a status page that refreshes itself.

#include "clinicserver.h"

#include <QAbstractHttpServer>
#include <QList>

namespace vek::sim {

class AdminServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    AdminServer(SimState *state, QList<ClinicServer *> servers, QObject *parent = nullptr);

    bool start(quint16 port);
    QString baseUrl() const;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    Reply post(const QString &path, const QJsonObject &body);
    QJsonObject stateJson() const;
    ClinicServer *server(const QString &name) const;

    SimState *state;
    QList<ClinicServer *> servers;
    quint16 listeningPort = 0;
};

// The status page: workstations, their printers, and each order with its reports.
QByteArray StatusPage(const SimState &state, const QList<ClinicServer *> &servers);

}  // namespace vek::sim
