#include "adminserver.h"

namespace vek::sim {

namespace {

QString Escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString Printers(const Workstation &station)
{
    QStringList lines;
    for (auto it = station.queues.constBegin(); it != station.queues.constEnd(); ++it) {
        for (const QJsonValue &value : it.value()) {
            const QJsonObject queue = value.toObject();
            QStringList profiles;
            for (const QJsonValue &profile : queue.value("profiles").toArray())
                profiles.append(Escaped(profile.toObject().value("name").toString()));
            QString line
                = QStringLiteral("<li class=\"printer\">%1: %2")
                      .arg(Escaped(it.key()), Escaped(queue.value("systemName").toString()));
            if (!profiles.isEmpty())
                line += QStringLiteral(" (profiles: %1)").arg(profiles.join(QStringLiteral(", ")));
            lines.append(line + QStringLiteral("</li>"));
        }
    }
    return QStringLiteral("<ul>%1</ul>").arg(lines.join(QString()));
}

}  // namespace

QByteArray StatusPage(const SimState &state, const QList<ClinicServer *> &servers)
{
    QString html
        = QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><meta "
                         "http-equiv=\"refresh\" content=\"2\">"
                         "<title>Clinic simulator</title></head><body><h1>Clinic simulator</h1>");

    html += QStringLiteral("<h2>Servers</h2><table "
                           "id=\"servers\"><tr><th>Name</th><th>Address</th><th>Fault</th></tr>");
    for (const ClinicServer *server : servers)
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                    .arg(Escaped(server->name()), Escaped(server->baseUrl()),
                        FaultName(server->fault()));
    html += QStringLiteral("</table>");

    html += QStringLiteral(
        "<h2>Workstations</h2><table id=\"workstations\"><tr><th>Device</th><th>Name</th>"
        "<th>State</th><th>Printers</th></tr>");
    for (const Workstation &station : state.workstations())
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>")
                    .arg(Escaped(station.deviceId), Escaped(station.displayName),
                        station.revoked ? QStringLiteral("revoked") : QStringLiteral("enrolled"),
                        Printers(station));
    html += QStringLiteral("</table>");

    html += QStringLiteral(
        "<h2>Orders</h2><table id=\"orders\"><tr><th>Order</th><th>Server</th><th>Queue</th>"
        "<th>State</th><th>Workstation</th><th>Reports</th></tr>");
    for (const Order &order : state.orders()) {
        QStringList reports;
        for (const Report &report : order.reports) {
            QString text = Escaped(report.outcome);
            if (!report.reason.isEmpty())
                text += QStringLiteral(" (%1)").arg(Escaped(report.reason));
            reports.append(QStringLiteral("<li class=\"report\">%1 &rarr; %2</li>")
                               .arg(text)
                               .arg(report.status));
        }
        html += QStringLiteral("<tr "
                               "id=\"%1\"><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</"
                               "td><td><ol>%6</ol></td></tr>")
                    .arg(Escaped(order.id), Escaped(order.server), Escaped(order.queue),
                        OrderStateName(order.state), Escaped(order.claimedBy),
                        reports.join(QString()));
    }
    html += QStringLiteral("</table></body></html>");
    return html.toUtf8();
}

}  // namespace vek::sim
