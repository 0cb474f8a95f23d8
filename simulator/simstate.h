#pragma once
// The clinic as the simulator keeps it in memory: workstations, the queues
// and profiles they announced, and orders with every report received. Each
// request of a clinic server becomes one call here that returns the HTTP
// status and JSON body to answer with, so the rules live in one place.

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

namespace vek::sim {

enum class Api { LocalNode, Desktop };

struct Reply {
    int status = 200;
    QJsonObject body;
};

struct Workstation {
    QString deviceId;
    QString displayName;
    QString token;
    Api api = Api::LocalNode;
    bool revoked = false;
    bool checkedIn = false;  // local node: a check-in was accepted
    QHash<QString, QJsonArray> queues;  // by server name: the last check-in or announce
    QHash<QString, QJsonArray> burners;  // by server name
};

struct Report {
    QString outcome;
    QString reason;
    QString spoolJobId;
    int status = 0;  // what the simulator answered
};

enum class OrderState { Queued, Claimed, Started, Finished };

struct Order {
    QString id;
    QString server;  // name of the server that hands it out
    QString queue;  // the print queue's system name
    QString profile;  // desktop: the profile's id or name as asked for
    int copies = 1;
    QByteArray data;  // raw label bytes or the PDF
    OrderState state = OrderState::Queued;
    QString claimedBy;  // deviceId
    QString claimToken;
    qint64 claimedAtMs = 0;
    QList<Report> reports;
};

class SimState : public QObject {
    Q_OBJECT
public:
    explicit SimState(QObject *parent = nullptr);

    // Time in milliseconds, replaceable so that tests can let a lease run out.
    void setClock(std::function<qint64()> clock) { now = std::move(clock); }
    void setLeaseMs(qint64 ms) { leaseMs = ms; }
    void setEnrolmentSecret(const QString &secret) { enrolmentSecret = secret; }
    void addPairingCode(const QString &code) { pairingCodes.append(code); }
    // Desktop servers by name with their base address, in the order enrolment lists them.
    void setDesktopServers(const QList<QPair<QString, QString>> &servers) { desktopList = servers; }

    QString addOrder(const QString &server, const QString &queue, const QByteArray &data,
        const QString &profile = {}, int copies = 1);
    bool revoke(const QString &deviceId);

    // The requests; server is the name of the server that received it.
    Reply localEnrol(const QJsonObject &body);
    Reply localCheckIn(const QString &bearer, const QJsonObject &body);
    Reply localClaim(const QString &bearer, const QJsonObject &body);
    Reply localReport(const QString &bearer, const QJsonObject &body);
    Reply desktopEnrol(const QString &server, const QJsonObject &body);
    Reply desktopServers(const QString &bearer);
    Reply desktopAnnounce(const QString &server, const QString &bearer, const QJsonObject &body);
    Reply desktopClaim(const QString &server, const QString &bearer);
    Reply desktopReport(const QString &server, const QString &bearer, const QJsonObject &body);

    const QList<Workstation> &workstations() const { return stations; }
    const QList<Order> &orders() const { return queue; }
    QJsonObject toJson() const;

signals:
    // One line of what happened, for people and scripts following the run.
    void event(const QString &line);

private:
    Workstation *byToken(const QString &bearer, Api api);
    Workstation *enrolWorkstation(const QJsonObject &body, Api api);
    void expireLeases();
    bool canPrint(const Workstation &station, const Order &order, QJsonObject *profile) const;
    Reply report(Order &order, const Report &report, bool desktop);
    Order *findOrder(const QString &id);

    QList<Workstation> stations;
    QList<Order> queue;
    QList<QPair<QString, QString>> desktopList;
    QStringList pairingCodes;
    QString enrolmentSecret;
    qint64 leaseMs = 30000;
    int nextOrder = 1;
    int nextToken = 1;
    std::function<qint64()> now;
};

QString OrderStateName(OrderState state);

}  // namespace vek::sim
