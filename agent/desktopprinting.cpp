// Serving one paired server once: settle what its journal still owes it,
// announce this workstation, claim at most one order, and print it as a PDF
// behind the journal, so that the server learns the outcome of every print
// that may have put paper out, even across a crash.

#include "agentworker.h"
#include "clinicapi.h"
#include "desktoporder.h"
#include "discburners.h"
#include "printjournal.h"

#include "printing/pdfprint.h"
#include "printing/profilestore.h"
#include "vek/product.h"

#include <QFile>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcDesktop, "vek.desktop", QtWarningMsg)

namespace vek::agent {

namespace {

constexpr int kProtocol = 2;

NodeReply Post(NodeClient &client, const char *name, const QJsonObject &body)
{
    return client.postDesktopPrinting(QLatin1String(name), body, true);
}

}  // namespace

ServeResult AgentWorker::settleJournal(
    NodeClient &client, const QString &serverUrl, ServeNote &note)
{
    const QString path = PrintJournalPath(serverUrl, config.deviceId);
    const JournalRecord pending = ReadJournal(path);
    switch (pending.kind) {
    case JournalRecord::Absent:
        return ServeResult::Idle;
    case JournalRecord::Unreadable:
        note = { tr("Cannot read print recovery journal."), true };
        return ServeResult::Failed;
    case JournalRecord::Damaged:
        note = { tr("Print recovery journal is damaged. Check paper output before recovery."),
            true };
        return ServeResult::Failed;
    case JournalRecord::Report:
        break;
    }
    qCDebug(lcDesktop) << "reporting the journal's record for"
                       << pending.report.value(clinic::kOrderId).toString() << "to" << serverUrl;
    const NodeReply reply = Post(client, clinic::kDesktopReport, pending.report);
    if (reply.status == 401) {
        // A revoked credential: waiting would never end.
        note = { tr("Cannot connect to the print service."), false };
        return ServeResult::Unauthorized;
    }
    // 404 and 409: the server knows the order's end already, or not the order.
    if (!reply.ok && reply.status != 404 && reply.status != 409) {
        note = { tr("Waiting to report the previous print outcome."), true };
        return ServeResult::Failed;
    }
    if (!QFile::remove(path)) {
        note = { tr("Cannot finish print recovery."), true };
        return ServeResult::Failed;
    }
    return ServeResult::Idle;
}

ServeResult AgentWorker::serveServer(NodeClient &client, const QString &serverUrl, ServeNote &note)
{
    const ServeResult recovery = settleJournal(client, serverUrl, note);
    if (recovery != ServeResult::Idle)
        return recovery;

    QJsonObject announce { { clinic::kDisplayName, config.displayName },
        { clinic::kAppVersion, QString::fromUtf8(product::kVersion) },
        { clinic::kProtocol, kProtocol }, { clinic::kQueues, printing::BuildQueueDescriptions() },
        { clinic::kBurners, EnumerateDiscBurners() } };
    if (!serverStates.isEmpty())
        announce.insert(clinic::kServers, serverStates);
    NodeReply reply = Post(client, clinic::kDesktopAnnounce, announce);
    if (!reply.ok && reply.status == 400) {
        // Older servers refuse the keys they do not know.
        announce.remove(clinic::kBurners);
        announce.remove(clinic::kServers);
        reply = Post(client, clinic::kDesktopAnnounce, announce);
    }
    if (!reply.ok) {
        note.message = tr("Cannot connect to the print service.");
        return reply.status == 401 ? ServeResult::Unauthorized : ServeResult::Failed;
    }
    if (!running)
        return ServeResult::Idle;

    reply = Post(client, clinic::kDesktopClaim, {});
    if (!reply.ok) {
        note.message = tr("Could not receive print orders.");
        return ServeResult::Failed;
    }
    const std::optional<DesktopOrder> order = ReadDesktopOrder(reply.json);
    if (!order)
        return ServeResult::Idle;
    qCDebug(lcDesktop) << "claimed order" << order->id << "from" << serverUrl;

    // The intent to print is on the disk before the untrusted document is
    // parsed and before anything reaches the spooler: whatever happens from
    // here on, a later call reports this order.
    const QString path = PrintJournalPath(serverUrl, config.deviceId);
    QJsonObject record { { clinic::kOrderId, order->id },
        { clinic::kClaimToken, order->claimToken },
        { clinic::kOutcome, QLatin1String(clinic::kStarted) } };
    if (!WriteJournalAtomically(path, record)) {
        note.message = tr("Cannot persist print recovery state.");
        return ServeResult::Failed;
    }
    qCDebug(lcDesktop) << "STARTED record on disk for" << order->id;
    if (!running)
        return ServeResult::Idle;

    reply = Post(client, clinic::kDesktopReport, record);
    // A stop that came while the acknowledgement was awaited prints nothing.
    if (!running)
        return ServeResult::Idle;
    if (!reply.ok) {
        note.message = tr("Print start was not acknowledged; nothing was sent.");
        return ServeResult::Failed;
    }
    qCDebug(lcDesktop) << "STARTED acknowledged for" << order->id;

    emit stateChanged(AgentState::Printing, QString());
    std::string invalid;
    const bool documentValid
        = order->hashMatches && printing::ValidatePdf(order->document, &invalid);
    printing::PdfPrintResult result;
    if (documentValid) {
        result = printing::PrintPdfWithProfile(order->systemName, order->profileId,
            order->profileVersion, order->document, order->copies, order->id);
    } else {
        result.status = printing::PdfPrintResult::Interrupted;
        result.spoolJobId = 0;
        result.error = clinic::kDocumentInvalid;
    }
    const QString error = QString::fromStdString(result.error);

    const bool spooled = result.status == printing::PdfPrintResult::Spooled;
    record.insert(clinic::kOutcome, QLatin1String(spooled ? clinic::kSpooled : clinic::kFailed));
    record.insert(clinic::kSpoolJobId, QString::number(result.spoolJobId));
    if (!spooled) {
        // A job that reached the spooler may have printed in part.
        record.insert(clinic::kReason,
            result.spoolJobId != 0 ? QLatin1String(clinic::kOutcomeUnknown) : error);
    }
    if (WriteJournalAtomically(path, record)) {
        qCDebug(lcDesktop) << "final record on disk for" << order->id;
        if (Post(client, clinic::kDesktopReport, record).ok)
            QFile::remove(path);
    } else {
        // The STARTED record stays and is reported as an unknown outcome.
        qCWarning(lcDesktop) << "the outcome of" << order->id << "could not be persisted";
    }
    emit jobFinished(order->id, spooled, spooled ? order->systemName : error);
    return ServeResult::Printed;
}

}  // namespace vek::agent
