#pragma once
// One clinic server on 127.0.0.1: a local node or a desktop printing server,
// answering from the shared SimState. Faults can be switched on per server.

#include "simstate.h"

#include <QAbstractHttpServer>
#include <QSslCertificate>
#include <QSslKey>

namespace vek::sim {

enum class Fault { None, Fail, Hang, Slow };

class ClinicServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    ClinicServer(SimState *state, QString name, Api api, QObject *parent = nullptr);

    // Port 0 picks a free one. Returns false when it cannot listen.
    bool start(quint16 port);
    bool startTls(quint16 port, const QSslCertificate &certificate, const QSslKey &key);
    QString name() const { return serverName; }
    Api api() const { return kind; }
    QString baseUrl() const;

    void setFault(Fault fault, int delayMs = 0);
    Fault fault() const { return currentFault; }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    Reply answer(const QString &path, const QString &bearer, const QJsonObject &body);

    SimState *state;
    QString serverName;
    Api kind;
    quint16 listeningPort = 0;
    bool secure = false;
    Fault currentFault = Fault::None;
    int slowMs = 0;
};

QString FaultName(Fault fault);

}  // namespace vek::sim
