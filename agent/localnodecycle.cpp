// One poll tick of a workstation served by a single local node: check in
// with the printer inventory every fourth tick, claim at most one order,
// check it, print it raw and report the outcome.

#include "agentworker.h"
#include "claimreply.h"
#include "clinicapi.h"
#include "discburners.h"
#include "printerinventory.h"

#include "platform/rawspool.h"
#include "vek/product.h"

namespace vek::agent {

namespace {

constexpr int kCheckInEvery = 4;

QString SignedOutDetail()
{
    return AgentWorker::tr("The clinic no longer recognises this workstation. Enrol it again.");
}

}  // namespace

bool AgentWorker::checkIn()
{
    const QJsonArray queues = BuildQueueList();
    const QString fingerprint = InventoryFingerprint(queues);
    const NodeReply reply = node.checkIn(config.deviceId, config.displayName,
        QString::fromUtf8(product::kVersion), queues, EnumerateDiscBurners());
    if (!reply.error.isEmpty()) {
        emit stateChanged(AgentState::Unreachable, reply.error);
        return false;
    }
    if (reply.status == 401) {
        emit stateChanged(AgentState::SignedOut, SignedOutDetail());
        running = false;
        return false;
    }
    if (reply.ok) {
        if (fingerprint != lastQueuesFingerprint) {
            lastQueuesFingerprint = fingerprint;
            emit printersReported(int(queues.size()));
        }
        checkInCountdown = 0;
        return true;
    }
    QString detail = reply.json.value(clinic::kError).toString();
    if (detail.isEmpty())
        detail = tr("The clinic refused the check-in.");
    emit stateChanged(AgentState::Unreachable, detail);
    return false;
}

void AgentWorker::runLocalNodeCycle()
{
    if (checkInCountdown >= kCheckInEvery && !checkIn()) {
        ++failureCount;
        scheduleNextPoll();
        return;
    }

    ++checkInCountdown;
    const NodeReply reply = node.claim(config.deviceId);
    if (!reply.error.isEmpty()) {
        emit stateChanged(AgentState::Unreachable, reply.error);
        ++failureCount;
        scheduleNextPoll();
        return;
    }
    if (reply.status == 401) {
        emit stateChanged(AgentState::SignedOut, SignedOutDetail());
        running = false;
        return;
    }
    if (reply.status == 409) {
        // The node wants to hear from this workstation before it hands out orders.
        checkInCountdown = kCheckInEvery;
        ++failureCount;
        scheduleNextPoll();
        return;
    }
    handleClaimReply(reply.json);
}

void AgentWorker::handleClaimReply(const QJsonObject &claimReply)
{
    const ClaimOutcome outcome = ReadClaimReply(claimReply);
    if (std::holds_alternative<NoOrder>(outcome)) {
        ++failureCount;
        emit stateChanged(AgentState::Ready, tr("Ready."));
        scheduleNextPoll();
        return;
    }

    const QString deviceId = config.deviceId;
    auto fail = [&](const QString &orderId, const QString &reason) {
        node.report(deviceId, orderId, QLatin1String(clinic::kFailed), reason);
        emit jobFinished(orderId, false, reason);
    };

    if (const auto *refusal = std::get_if<OrderRefusal>(&outcome)) {
        fail(QString::fromStdString(refusal->orderId), QString::fromStdString(refusal->message));
    } else {
        const auto &[order, spool] = std::get<RawPrintOrder>(outcome);
        const QString orderId = QString::fromStdString(order.id);
        emit stateChanged(AgentState::Printing, tr("Printing…"));
        // The answer to STARTED does not matter: the print goes ahead.
        node.report(deviceId, orderId, QLatin1String(clinic::kStarted), QString());

        const platform::RawPrintResult result
            = platform::PrintRaw(order.systemName, spool.documentName, spool.data);
        if (result.status == platform::RawPrintStatus::Sent) {
            node.report(deviceId, orderId, QLatin1String(clinic::kCompleted), QString());
            emit jobFinished(orderId, true, QString::fromStdString(order.systemName));
        } else {
            fail(orderId,
                result.status == platform::RawPrintStatus::PrinterMissing
                    ? tr("That printer no longer exists on this workstation.")
                    : QString::fromStdString(result.message));
        }
    }
    // An order was handled, printed or not: the next claim follows at once.
    failureCount = 0;
    scheduleNextPoll();
}

}  // namespace vek::agent
