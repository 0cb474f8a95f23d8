// Turns the secret or pairing code typed in setup into the workstation's
// credential. The secret is sent once and never stored.

#include "agentworker.h"
#include "clinicapi.h"
#include "serveraddress.h"

#include "vek/product.h"

namespace vek::agent {

namespace {

QString RefusalDetail(const AgentConfig &config, const QString &error)
{
    if (config.managed && error == QLatin1String(clinic::kPairingExpired)) {
        // One pass fills both: an address that contains "%2" stays as typed.
        return AgentWorker::tr(
            "%1 did not accept this code. A code works once, for 10 minutes, and only on the "
            "server that made it. Make a new code in Organization settings > Printing on %1, "
            "or enter the address of the server where you made the code (%2 for Vek Cloud).")
            .arg(config.nodeBaseUrl, QString::fromUtf8(product::kCloudAddress));
    }
    if (config.managed && error == QLatin1String(clinic::kPairingUnavailable)) {
        return AgentWorker::tr("%1 does not accept pairing codes. Enter the address of Vek Cloud "
                               "or of your Local Node.")
            .arg(config.nodeBaseUrl);
    }
    return error.isEmpty() ? AgentWorker::tr("The clinic refused this workstation.") : error;
}

}  // namespace

void AgentWorker::runEnrolment(const QString &enrolmentSecret)
{
    const QString appVersion = QString::fromUtf8(product::kVersion);
    const NodeReply reply = config.managed
        ? node.postDesktopPrinting(QLatin1String(clinic::kDesktopEnrol),
            { { clinic::kCode, enrolmentSecret }, { clinic::kDeviceId, config.deviceId },
                { clinic::kDisplayName, config.displayName } },
            false)
        : node.enrolWithSecret(enrolmentSecret, config.deviceId, config.displayName, appVersion);

    if (!reply.error.isEmpty()) {
        emit enrolmentFinished(false, reply.error, QString());
        return;
    }
    if (!reply.ok) {
        emit enrolmentFinished(
            false, RefusalDetail(config, reply.json.value(clinic::kError).toString()), QString());
        return;
    }
    const QString token = reply.json.value(clinic::kToken).toString();
    if (token.isEmpty()) {
        emit enrolmentFinished(
            false, tr("The clinic accepted this workstation but issued no credential."), QString());
        return;
    }
    if (config.managed)
        emit serversLearned(ParseServerList(reply.json, config.nodeBaseUrl));
    emit enrolmentFinished(true, tr("This workstation is now enrolled."), token);
}

}  // namespace vek::agent
