#include "agentworker.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcWorker, "vek.worker", QtWarningMsg)

namespace vek::agent {

namespace {
// start and enrol that arrive during a tick are tried again after this long.
constexpr std::chrono::milliseconds kBusyRetry { 100 };
constexpr std::chrono::milliseconds kLongestBackoff { 15000 };
}  // namespace

AgentWorker::AgentWorker(QObject *parent)
    : AgentWorker(MakeTimerScheduler(), parent)
{
}

AgentWorker::AgentWorker(std::unique_ptr<TickScheduler> tickScheduler, QObject *parent)
    : QObject(parent)
    , scheduler(std::move(tickScheduler))
{
}

AgentWorker::~AgentWorker() = default;

void AgentWorker::setReplyTimeout(std::chrono::milliseconds timeout)
{
    replyTimeout = timeout;
    node.setReplyTimeout(timeout);
    for (const ServerEntry &entry : servers) {
        if (entry.client)
            entry.client->setReplyTimeout(timeout);
    }
}

std::chrono::milliseconds AgentWorker::backoffDelay(int failures)
{
    if (failures <= 0)
        return std::chrono::milliseconds { 0 };
    std::chrono::milliseconds delay { 1000 };
    for (int i = 1; i < failures && delay < kLongestBackoff; ++i)
        delay *= 2;
    return std::min(delay, kLongestBackoff);
}

void AgentWorker::start(AgentConfig newConfig)
{
    if (shutdownRequested)
        return;
    if (busy) {
        scheduler->schedule(this, kBusyRetry, [this, newConfig] { start(newConfig); });
        return;
    }
    config = newConfig;
    node.setBaseUrl(config.nodeBaseUrl);
    node.setToken(config.token);
    applyServerList(config.managed ? config.servers : QStringList());
    lastServerListRefresh.reset();
    failureCount = 0;
    checkInCountdown = 4;
    lastQueuesFingerprint.clear();

    if (config.nodeBaseUrl.isEmpty()) {
        running = false;
        emit stateChanged(AgentState::NotConfigured, tr("No local node address has been set."));
        return;
    }
    if (config.token.isEmpty()) {
        running = false;
        emit stateChanged(
            AgentState::NotEnrolled, tr("This workstation has not been enrolled yet."));
        return;
    }
    running = true;
    emit stateChanged(AgentState::Connecting, tr("Connecting to the clinic…"));
    scheduleTick(std::chrono::milliseconds { 0 });
}

void AgentWorker::stop()
{
    running = false;
}

void AgentWorker::shutdownWhenIdle()
{
    shutdownRequested = true;
    finishShutdownIfIdle();
}

void AgentWorker::finishShutdownIfIdle()
{
    // An enrolment in progress counts as work: its one-time code is spent
    // on the clinic, so the credential it brings back must reach the tray.
    if (!shutdownRequested || busy || enrolling)
        return;
    running = false;
    emit shutdownReady();
}

void AgentWorker::cancelUpdateShutdown()
{
    shutdownRequested = false;
}

void AgentWorker::enrol(AgentConfig newConfig, QString enrolmentSecret)
{
    if (shutdownRequested)
        return;
    if (busy) {
        scheduler->schedule(this, kBusyRetry,
            [this, newConfig, enrolmentSecret] { enrol(newConfig, enrolmentSecret); });
        return;
    }
    config = newConfig;
    node.setBaseUrl(config.nodeBaseUrl);
    node.setToken(QString());
    enrolling = true;
    runEnrolment(enrolmentSecret);
    enrolling = false;
    finishShutdownIfIdle();
}

void AgentWorker::pollNow()
{
    if (!running)
        return;
    failureCount = 0;
    scheduleTick(std::chrono::milliseconds { 0 });
}

void AgentWorker::pollTick()
{
    // A tick that fires while another waits for the clinic ends here and
    // schedules nothing: the running tick schedules the successor.
    if (shutdownRequested || !running || busy)
        return;
    busy = true;
    if (config.managed)
        pollServers();
    else
        runLocalNodeCycle();
    busy = false;
    finishShutdownIfIdle();
}

void AgentWorker::scheduleNextPoll()
{
    if (!running)
        return;
    scheduleTick(backoffDelay(failureCount));
}

void AgentWorker::scheduleTick(std::chrono::milliseconds delay)
{
    qCDebug(lcWorker) << "next tick in" << delay.count() << "ms";
    scheduler->schedule(this, delay, [this] { pollTick(); });
}

}  // namespace vek::agent
