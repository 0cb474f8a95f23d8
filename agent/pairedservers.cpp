// The paired-servers pass: the list of further servers learned from the
// primary, one cycle over the primary and every further server that is due,
// per-server back-off, and the status lines for the tray.

#include "agentworker.h"
#include "clinicapi.h"
#include "serveraddress.h"

#include "vek/product.h"

#include <QUrl>

#include <algorithm>

namespace vek::agent {

namespace {

constexpr std::chrono::milliseconds kServerListInterval = std::chrono::minutes(30);
constexpr std::chrono::milliseconds kFirstServerBackoff = std::chrono::seconds(15);
constexpr std::chrono::milliseconds kLongestServerBackoff = std::chrono::seconds(240);
constexpr int kMaxServerFailures = 5;

constexpr char kConnected[] = "connected";
constexpr char kUnreachable[] = "unreachable";
constexpr char kWaiting[] = "waiting";

std::chrono::milliseconds ServerBackoff(int failures)
{
    std::chrono::milliseconds wait = kFirstServerBackoff;
    for (int i = 1; i < failures && wait < kLongestServerBackoff; ++i)
        wait *= 2;
    return std::min(wait, kLongestServerBackoff);
}

}  // namespace

QString ServerLabel(const QString &url)
{
    const QUrl parsed(url);
    const QString host = parsed.host().toLower();
    const QString domain = QString::fromUtf8(product::kCloudDomain).toLower();
    if (host == domain || host.endsWith(QLatin1Char('.') + domain))
        return QStringLiteral("Vek Cloud");
    return parsed.authority();
}

void AgentWorker::applyServerList(const QStringList &urls)
{
    const QString primary = NormaliseServerUrl(config.nodeBaseUrl);
    std::vector<ServerEntry> fresh;
    for (const QString &url : urls) {
        if (!IsAllowedServerUrl(url) || NormaliseServerUrl(url) == primary)
            continue;
        // A hand-edited list may repeat an address; it is served once.
        if (std::any_of(
                fresh.begin(), fresh.end(), [&](const ServerEntry &e) { return e.url == url; }))
            continue;
        const auto old = std::find_if(servers.begin(), servers.end(),
            [&](const ServerEntry &e) { return e.url == url && e.client; });
        if (old != servers.end()) {
            old->client->setToken(config.token);
            fresh.push_back(*old);
            old->client.clear();  // moved
            continue;
        }
        ServerEntry entry;
        entry.url = url;
        entry.client = new NodeClient(this);
        entry.client->setBaseUrl(url);
        entry.client->setToken(config.token);
        entry.client->setReplyTimeout(replyTimeout);
        entry.statusText = tr("connecting…");
        entry.state = QLatin1String(kUnreachable);
        fresh.push_back(entry);
    }
    for (const ServerEntry &gone : servers) {
        if (gone.client)
            gone.client->deleteLater();
    }
    servers = std::move(fresh);
    config.servers.clear();
    for (const ServerEntry &entry : servers)
        config.servers.append(entry.url);
}

void AgentWorker::refreshServerList()
{
    const std::chrono::milliseconds now = scheduler->now();
    if (lastServerListRefresh && now - *lastServerListRefresh < kServerListInterval)
        return;
    // Set before asking, so that a failed request also waits the full interval.
    lastServerListRefresh = now;
    const NodeReply reply
        = node.postDesktopPrinting(QLatin1String(clinic::kDesktopServers), {}, true);
    if (!reply.ok)
        return;
    const QStringList list = ParseServerList(reply.json, config.nodeBaseUrl);
    if (list == config.servers)
        return;
    applyServerList(list);
    emit serversLearned(config.servers);
}

void AgentWorker::pollServers()
{
    refreshServerList();
    ServeNote primaryNote;
    const ServeResult primaryResult = serveServer(node, config.nodeBaseUrl, primaryNote);
    if (primaryResult == ServeResult::Unauthorized) {
        running = false;
        emitServerLines(tr("signed out"));
        emit stateChanged(AgentState::SignedOut,
            tr("The clinic no longer recognises this workstation. Set it up again."));
        return;
    }
    bool printed = primaryResult == ServeResult::Printed;
    bool reachable = primaryResult != ServeResult::Failed;
    QString primaryText = reachable ? tr("connected") : tr("not reachable");
    // What the user must check shows even while another server is reachable.
    if (primaryNote.journalHeld)
        primaryText = primaryNote.message;

    const std::chrono::milliseconds now = scheduler->now();
    for (ServerEntry &entry : servers) {
        if (!running)
            return;
        if (now < entry.nextAttempt || !entry.client)
            continue;
        ServeNote note;
        const ServeResult r = serveServer(*entry.client, entry.url, note);
        if (r == ServeResult::Failed || r == ServeResult::Unauthorized) {
            entry.failures = std::min(entry.failures + 1, kMaxServerFailures);
            entry.nextAttempt = now + ServerBackoff(entry.failures);
            if (r == ServeResult::Unauthorized) {
                entry.statusText = tr("waiting for this server to learn this computer");
                entry.state = QLatin1String(kWaiting);
            } else {
                entry.statusText = note.journalHeld ? note.message : tr("not reachable");
                entry.state = QLatin1String(kUnreachable);
            }
        } else {
            entry.failures = 0;
            entry.nextAttempt = std::chrono::milliseconds { 0 };
            entry.statusText = tr("connected");
            entry.state = QLatin1String(kConnected);
            reachable = true;
            printed = printed || r == ServeResult::Printed;
        }
    }

    emitServerLines(primaryText);
    serverStates = QJsonArray();
    if (!servers.empty()) {
        serverStates.append(QJsonObject { { clinic::kUrl, NormaliseServerUrl(config.nodeBaseUrl) },
            { clinic::kState,
                QLatin1String(
                    primaryResult == ServeResult::Failed ? kUnreachable : kConnected) } });
        for (const ServerEntry &entry : servers)
            serverStates.append(
                QJsonObject { { clinic::kUrl, entry.url }, { clinic::kState, entry.state } });
    }
    if (printed) {
        failureCount = 0;
    } else {
        ++failureCount;
        if (reachable)
            emit stateChanged(AgentState::Ready, QString());
        else
            emit stateChanged(AgentState::Unreachable, primaryNote.message);
    }
    scheduleNextPoll();
}

void AgentWorker::emitServerLines(const QString &primaryText)
{
    QStringList lines { QStringLiteral("%1: %2").arg(
        ServerLabel(config.nodeBaseUrl), primaryText) };
    for (const ServerEntry &entry : servers)
        lines.append(QStringLiteral("%1: %2").arg(ServerLabel(entry.url), entry.statusText));
    emit serversReported(lines);
}

}  // namespace vek::agent
