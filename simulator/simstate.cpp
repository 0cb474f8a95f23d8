#include "simstate.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QUuid>

namespace vek::sim {

namespace {

QString NewSecret()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString BearerToken(const QString &header)
{
    return header.startsWith(QLatin1String("Bearer ")) ? header.mid(7).trimmed() : QString();
}

Reply Error(int status, const QString &text)
{
    return { status, { { "error", text } } };
}

}  // namespace

QString OrderStateName(OrderState state)
{
    switch (state) {
    case OrderState::Queued:
        return QStringLiteral("queued");
    case OrderState::Claimed:
        return QStringLiteral("claimed");
    case OrderState::Started:
        return QStringLiteral("started");
    case OrderState::Finished:
        return QStringLiteral("finished");
    }
    return {};
}

SimState::SimState(QObject *parent)
    : QObject(parent)
    , now([] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

QString SimState::addOrder(const QString &server, const QString &queueName, const QByteArray &data,
    const QString &profile, int copies)
{
    Order order;
    order.id = QStringLiteral("order-%1").arg(nextOrder++);
    order.server = server;
    order.queue = queueName;
    order.profile = profile;
    order.copies = copies;
    order.data = data;
    queue.append(order);
    emit event(QStringLiteral("order %1 queued on %2 for %3 (%4 bytes)")
                   .arg(order.id, server, queueName)
                   .arg(data.size()));
    return order.id;
}

bool SimState::revoke(const QString &deviceId)
{
    bool found = false;
    for (Workstation &station : stations) {
        if (station.deviceId == deviceId && !station.revoked) {
            station.revoked = true;
            found = true;
        }
    }
    if (found)
        emit event(QStringLiteral("workstation %1 revoked").arg(deviceId));
    return found;
}

Workstation *SimState::byToken(const QString &bearer, Api api)
{
    const QString token = BearerToken(bearer);
    if (token.isEmpty())
        return nullptr;
    for (Workstation &station : stations) {
        if (station.token == token)
            return station.revoked || station.api != api ? nullptr : &station;
    }
    return nullptr;
}

Workstation *SimState::enrolWorkstation(const QJsonObject &body, Api api)
{
    // Enrolling again replaces the earlier credential of the same device.
    const QString deviceId = body.value("deviceId").toString();
    Workstation *station = nullptr;
    for (Workstation &existing : stations) {
        if (existing.deviceId == deviceId && existing.api == api)
            station = &existing;
    }
    if (!station) {
        stations.append(Workstation {});
        station = &stations.last();
    }
    station->deviceId = deviceId;
    station->displayName = body.value("displayName").toString();
    station->api = api;
    station->token = NewSecret();
    station->revoked = false;
    station->checkedIn = false;
    return station;
}

Order *SimState::findOrder(const QString &id)
{
    for (Order &order : queue) {
        if (order.id == id)
            return &order;
    }
    return nullptr;
}

void SimState::expireLeases()
{
    const qint64 time = now();
    for (Order &order : queue) {
        if (order.state == OrderState::Claimed && time - order.claimedAtMs >= leaseMs) {
            emit event(QStringLiteral("order %1 lease expired; %2 did not start it")
                           .arg(order.id, order.claimedBy));
            order.state = OrderState::Queued;
            order.claimedBy.clear();
            order.claimToken.clear();
        }
    }
}

bool SimState::canPrint(const Workstation &station, const Order &order, QJsonObject *profile) const
{
    for (const QJsonValue &queueValue : station.queues.value(order.server)) {
        const QJsonObject described = queueValue.toObject();
        if (described.value("systemName").toString() != order.queue)
            continue;
        if (station.api == Api::LocalNode)
            return true;
        for (const QJsonValue &profileValue : described.value("profiles").toArray()) {
            const QJsonObject saved = profileValue.toObject();
            if (saved.value("id").toString() == order.profile
                || saved.value("name").toString() == order.profile) {
                *profile = saved;
                return true;
            }
        }
    }
    return false;
}

Reply SimState::localEnrol(const QJsonObject &body)
{
    if (enrolmentSecret.isEmpty() || body.value("enrolmentSecret").toString() != enrolmentSecret)
        return Error(403, QStringLiteral("The enrolment secret is not valid."));
    if (body.value("deviceId").toString().isEmpty())
        return Error(400, QStringLiteral("The request has no deviceId."));
    const Workstation *station = enrolWorkstation(body, Api::LocalNode);
    emit event(QStringLiteral("workstation %1 enrolled on local").arg(station->deviceId));
    return { 200, { { "token", station->token } } };
}

Reply SimState::localCheckIn(const QString &bearer, const QJsonObject &body)
{
    Workstation *station = byToken(bearer, Api::LocalNode);
    if (!station)
        return Error(401, QStringLiteral("Unknown credential."));
    if (body.value("deviceId").toString() != station->deviceId)
        return Error(403, QStringLiteral("The deviceId does not belong to this credential."));
    station->displayName = body.value("displayName").toString(station->displayName);
    station->queues.insert(QStringLiteral("local"), body.value("queues").toArray());
    station->burners.insert(QStringLiteral("local"), body.value("burners").toArray());
    station->checkedIn = true;
    emit event(QStringLiteral("workstation %1 checked in on local with %2 queues")
                   .arg(station->deviceId)
                   .arg(body.value("queues").toArray().size()));
    return { 200, {} };
}

Reply SimState::localClaim(const QString &bearer, const QJsonObject &body)
{
    Workstation *station = byToken(bearer, Api::LocalNode);
    if (!station)
        return Error(401, QStringLiteral("Unknown credential."));
    if (body.value("deviceId").toString() != station->deviceId)
        return Error(403, QStringLiteral("The deviceId does not belong to this credential."));
    if (!station->checkedIn)
        return Error(409, QStringLiteral("Check in first."));
    expireLeases();
    for (Order &order : queue) {
        QJsonObject unused;
        if (order.server != QLatin1String("local") || order.state != OrderState::Queued
            || !canPrint(*station, order, &unused))
            continue;
        order.state = OrderState::Claimed;
        order.claimedBy = station->deviceId;
        order.claimedAtMs = now();
        emit event(
            QStringLiteral("order %1 claimed by %2 on local").arg(order.id, station->deviceId));
        const QJsonObject printer { { "transport", "SYSTEM" }, { "name", order.queue },
            { "systemName", order.queue } };
        const QJsonObject spool { { "datatype", "RAW" },
            { "dataBase64", QString::fromLatin1(order.data.toBase64()) },
            { "documentName", order.id } };
        return { 200,
            { { "order",
                QJsonObject { { "id", order.id }, { "kind", "LABEL" }, { "printer", printer },
                    { "spool", spool } } } } };
    }
    return { 200, { { "order", QJsonValue::Null } } };
}

Reply SimState::localReport(const QString &bearer, const QJsonObject &body)
{
    Workstation *station = byToken(bearer, Api::LocalNode);
    if (!station)
        return Error(401, QStringLiteral("Unknown credential."));
    expireLeases();
    Order *order = findOrder(body.value("orderId").toString());
    if (!order || order->server != QLatin1String("local"))
        return Error(404, QStringLiteral("No such order."));
    if (order->claimedBy != station->deviceId || order->state == OrderState::Queued)
        return Error(409, QStringLiteral("This workstation does not hold the order."));
    Report received { body.value("outcome").toString(), body.value("reason").toString(), {}, 0 };
    return report(*order, received, false);
}

Reply SimState::desktopEnrol(const QString &server, const QJsonObject &body)
{
    const QString code = body.value("code").toString();
    if (!pairingCodes.contains(code))
        return Error(403, QStringLiteral("PRINT_PAIRING_EXPIRED"));
    if (body.value("deviceId").toString().isEmpty())
        return Error(400, QStringLiteral("The request has no deviceId."));
    pairingCodes.removeOne(code);  // a code works once
    const Workstation *station = enrolWorkstation(body, Api::Desktop);
    emit event(QStringLiteral("workstation %1 enrolled on %2").arg(station->deviceId, server));
    QJsonObject reply = desktopServers(QStringLiteral("Bearer ") + station->token).body;
    reply.insert("token", station->token);
    return { 200, reply };
}

Reply SimState::desktopServers(const QString &bearer)
{
    if (!byToken(bearer, Api::Desktop))
        return Error(401, QStringLiteral("Unknown credential."));
    QJsonArray servers;
    for (const auto &[name, url] : desktopList)
        servers.append(QJsonObject { { "url", url } });
    return { 200, { { "servers", servers } } };
}

Reply SimState::desktopAnnounce(
    const QString &server, const QString &bearer, const QJsonObject &body)
{
    Workstation *station = byToken(bearer, Api::Desktop);
    if (!station)
        return Error(401, QStringLiteral("Unknown credential."));
    if (!body.value("queues").isArray())
        return Error(400, QStringLiteral("The announce has no queues."));
    station->displayName = body.value("displayName").toString(station->displayName);
    const bool changed = station->queues.value(server) != body.value("queues").toArray();
    station->queues.insert(server, body.value("queues").toArray());
    station->burners.insert(server, body.value("burners").toArray());
    if (changed)
        emit event(QStringLiteral("workstation %1 announced %2 queues on %3")
                       .arg(station->deviceId)
                       .arg(body.value("queues").toArray().size())
                       .arg(server));
    return { 200, {} };
}

Reply SimState::desktopClaim(const QString &server, const QString &bearer)
{
    Workstation *station = byToken(bearer, Api::Desktop);
    if (!station)
        return Error(401, QStringLiteral("Unknown credential."));
    expireLeases();
    for (Order &order : queue) {
        QJsonObject profile;
        if (order.server != server || order.state != OrderState::Queued
            || !canPrint(*station, order, &profile))
            continue;
        order.state = OrderState::Claimed;
        order.claimedBy = station->deviceId;
        order.claimedAtMs = now();
        order.claimToken = NewSecret();
        emit event(QStringLiteral("order %1 claimed by %2 on %3")
                       .arg(order.id, station->deviceId, server));
        const QString hash = QString::fromLatin1(
            QCryptographicHash::hash(order.data, QCryptographicHash::Sha256).toHex());
        const QJsonObject wanted { { "id", profile.value("id") },
            { "version", profile.value("version") }, { "copies", order.copies } };
        return { 200,
            { { "order",
                QJsonObject {
                    { "id", order.id },
                    { "claimToken", order.claimToken },
                    { "kind", "DOCUMENT" },
                    { "printer",
                        QJsonObject { { "systemName", order.queue }, { "name", order.queue } } },
                    { "profile", wanted },
                    { "documentBase64", QString::fromLatin1(order.data.toBase64()) },
                    { "contentHash", hash },
                } } } };
    }
    return { 200, { { "order", QJsonValue::Null } } };
}

Reply SimState::desktopReport(const QString &server, const QString &bearer, const QJsonObject &body)
{
    Workstation *station = byToken(bearer, Api::Desktop);
    if (!station)
        return Error(401, QStringLiteral("Unknown credential."));
    expireLeases();
    Order *order = findOrder(body.value("orderId").toString());
    if (!order || order->server != server)
        return Error(404, QStringLiteral("No such order."));
    // A token from a claim that expired, or from another workstation, no longer holds the order.
    if (order->claimToken.isEmpty() || body.value("claimToken").toString() != order->claimToken
        || order->claimedBy != station->deviceId)
        return Error(409, QStringLiteral("The claim token does not hold this order."));
    Report received { body.value("outcome").toString(), body.value("reason").toString(),
        body.value("spoolJobId").toString(), 0 };
    return report(*order, received, true);
}

Reply SimState::report(Order &order, const Report &received, bool desktop)
{
    const QString success = desktop ? QStringLiteral("SPOOLED") : QStringLiteral("COMPLETED");
    Reply reply { 200, {} };
    if (received.outcome != QLatin1String("STARTED") && received.outcome != success
        && received.outcome != QLatin1String("FAILED"))
        reply = Error(400, QStringLiteral("Unknown outcome."));
    else if (order.state == OrderState::Finished)
        reply = Error(409, QStringLiteral("The order already has its outcome."));
    else if (received.outcome == QLatin1String("STARTED"))
        order.state = OrderState::Started;
    else if (received.outcome == success && order.state != OrderState::Started)
        reply = Error(409, QStringLiteral("Report STARTED before the outcome."));
    else
        order.state = OrderState::Finished;  // FAILED may come without STARTED: nothing was printed

    Report logged = received;
    logged.status = reply.status;
    order.reports.append(logged);
    emit event(QStringLiteral("report %1 %2%3 answered %4")
                   .arg(order.id, received.outcome,
                       received.reason.isEmpty() ? QString()
                                                 : QStringLiteral(" (%1)").arg(received.reason))
                   .arg(reply.status));
    return reply;
}

QJsonObject SimState::toJson() const
{
    QJsonArray workstationArray;
    for (const Workstation &station : stations) {
        QJsonObject queues;
        for (auto it = station.queues.constBegin(); it != station.queues.constEnd(); ++it)
            queues.insert(it.key(), it.value());
        workstationArray.append(QJsonObject {
            { "deviceId", station.deviceId },
            { "displayName", station.displayName },
            { "api", station.api == Api::LocalNode ? "local-node" : "desktop" },
            { "revoked", station.revoked },
            { "checkedIn", station.checkedIn },
            { "queues", queues },
        });
    }
    QJsonArray orderArray;
    for (const Order &order : queue) {
        QJsonArray reports;
        for (const Report &logged : order.reports) {
            QJsonObject entry { { "outcome", logged.outcome }, { "status", logged.status } };
            if (!logged.reason.isEmpty())
                entry.insert("reason", logged.reason);
            if (!logged.spoolJobId.isEmpty())
                entry.insert("spoolJobId", logged.spoolJobId);
            reports.append(entry);
        }
        orderArray.append(QJsonObject {
            { "id", order.id },
            { "server", order.server },
            { "queue", order.queue },
            { "profile", order.profile },
            { "bytes", order.data.size() },
            { "state", OrderStateName(order.state) },
            { "claimedBy", order.claimedBy },
            { "claimedAtMs", order.claimedAtMs },  // the last claim, milliseconds since 1970
            { "reports", reports },
        });
    }
    return { { "workstations", workstationArray }, { "orders", orderArray } };
}

}  // namespace vek::sim
