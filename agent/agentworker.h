#pragma once
// The object that does all network and printing work of the agent. It lives
// on a thread of its own; the tray talks to it only through queued
// signal-slot connections. One poll tick runs at a time, each started by a
// single-shot delay, with back-off over idle or failed ticks.

#include "agentconfig.h"
#include "nodeclient.h"
#include "pairedservers.h"
#include "tickscheduler.h"

#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace vek::agent {

class AgentWorker : public QObject {
    Q_OBJECT
public:
    explicit AgentWorker(QObject *parent = nullptr);
    // Tests pass a scheduler that records and drives the delays.
    explicit AgentWorker(std::unique_ptr<TickScheduler> scheduler, QObject *parent = nullptr);
    ~AgentWorker() override;

    // 0, then 1000 ms doubling per consecutive idle or failed tick, at most 15000 ms.
    static std::chrono::milliseconds backoffDelay(int failures);

    // Tests shorten the node client's wait for a silent server.
    void setReplyTimeout(std::chrono::milliseconds timeout);

signals:
    void serversLearned(QStringList servers);
    void serversReported(QStringList lines);
    void shutdownReady();
    void stateChanged(vek::agent::AgentState state, QString detail);
    void jobFinished(QString orderId, bool printed, QString detail);
    void enrolmentFinished(bool ok, QString detail, QString token);
    void printersReported(int count);

public slots:
    void start(AgentConfig config);
    void stop();
    void shutdownWhenIdle();
    void cancelUpdateShutdown();
    void enrol(AgentConfig config, QString enrolmentSecret);
    void pollNow();

private:
    void pollTick();
    void runLocalNodeCycle();
    bool checkIn();
    void handleClaimReply(const QJsonObject &claimReply);
    void pollServers();
    void applyServerList(const QStringList &urls);
    void refreshServerList();
    void emitServerLines(const QString &primaryText);
    ServeResult serveServer(NodeClient &client, const QString &serverUrl, ServeNote &note);
    ServeResult settleJournal(NodeClient &client, const QString &serverUrl, ServeNote &note);
    void scheduleNextPoll();
    void scheduleTick(std::chrono::milliseconds delay);
    void runEnrolment(const QString &enrolmentSecret);
    void finishShutdownIfIdle();

    std::vector<ServerEntry> servers;  // the further paired servers, in list order
    std::optional<std::chrono::milliseconds> lastServerListRefresh;  // on the scheduler's clock
    QJsonArray serverStates;  // sent with every announce
    bool busy = false;
    bool shutdownRequested = false;
    bool enrolling = false;  // an enrolment waits for the clinic; a drain waits for it
    NodeClient node { this };  // a child, so it moves with the worker to its thread
    AgentConfig config;
    bool running = false;
    int failureCount = 0;
    int checkInCountdown = 0;
    QString lastQueuesFingerprint;
    std::unique_ptr<TickScheduler> scheduler;
    std::chrono::milliseconds replyTimeout = NodeClient::kReplyTimeout;
};

}  // namespace vek::agent
