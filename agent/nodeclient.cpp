#include "nodeclient.h"

#include "clinicapi.h"
#include "hostrules.h"
#include "systemproxy.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

Q_LOGGING_CATEGORY(lcNode, "vek.node", QtWarningMsg)

namespace vek::agent {

NodeClient::NodeClient(QObject *parent)
    : QObject(parent)
{
    // A redirect would carry the credential to a host that the HTTPS rule
    // below never saw; a 3xx is returned to the caller as it stands.
    network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // Clinics often reach the hosted service only through their proxy. The
    // certificate is checked as on a direct link: the proxy only relays the
    // encrypted stream.
    UseSystemProxySettings();
}

void NodeClient::setBaseUrl(const QString &address)
{
    base = address.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
}

void NodeClient::setToken(const QString &credential)
{
    token = credential.trimmed();
}

NodeReply NodeClient::post(const QString &path, const QJsonObject &body, bool withCredential)
{
    NodeReply result;
    const QUrl url(base + path, QUrl::TolerantMode);
    const QString host = url.host(QUrl::FullyDecoded);
    if (base.isEmpty() || !url.isValid() || host.isEmpty()) {
        result.error = tr("The local node address is not set.");
        return result;
    }
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0
        && !IsLocalNodeHost(host)) {
        result.error
            = tr("Refusing to send this workstation's credential to %1 without HTTPS.").arg(host);
        return result;
    }

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (withCredential && !token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());

    QNetworkReply *reply
        = network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    return awaitReply(reply, path);
}

NodeReply NodeClient::awaitReply(QNetworkReply *reply, const QString &path)
{
    // Why the reply was aborted, if it was: a size over the cap, announced or
    // received, or the wait limit.
    enum class Abort { None, TooLarge, TimedOut };
    Abort aborted = Abort::None;
    auto abortFor = [reply, &aborted](Abort why) {
        if (aborted == Abort::None)
            aborted = why;
        reply->abort();
    };
    // Nothing the clinic sends is worth more than this much memory. The
    // announced length stops a reply before its body; the received count
    // stops one without a length.
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, abortFor] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kMaxReplyBytes)
            abortFor(Abort::TooLarge);
    });
    connect(
        reply, &QNetworkReply::downloadProgress, reply, [abortFor](qint64 received, qint64 total) {
            if (received > kMaxReplyBytes || total > kMaxReplyBytes)
                abortFor(Abort::TooLarge);
        });

    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, reply, [abortFor] { abortFor(Abort::TimedOut); });
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timeout.start(replyTimeout);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    timeout.stop();
    // The handlers above refer to this frame.
    reply->disconnect();

    NodeReply result;
    // The wait also ends when this thread's event loops are told to quit; a
    // reply that has not finished then is no answer.
    if (!reply->isFinished()) {
        reply->abort();
        reply->deleteLater();
        result.error = tr("The request was cancelled before the clinic answered.");
        qCDebug(lcNode) << path << "cancelled";
        return result;
    }

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray bytes = reply->isOpen() ? reply->read(kMaxReplyBytes + 1) : QByteArray();
    const QNetworkReply::NetworkError networkError = reply->error();
    const QString networkErrorText = reply->errorString();
    reply->deleteLater();

    if (aborted == Abort::TooLarge || bytes.size() > kMaxReplyBytes) {
        // Whether the abort landed before the last byte depends on the link;
        // the outcome must not.
        result.error = tr("The clinic's reply was larger than the agent accepts.");
    } else if (aborted == Abort::TimedOut) {
        result.error = tr("The local node did not answer in time.");
    } else if (status != 0) {
        result.status = status;
        const QJsonDocument document = QJsonDocument::fromJson(bytes);
        if (document.isObject())
            result.json = document.object();
        result.ok = status >= 200 && status <= 299;
    } else if (networkError == QNetworkReply::OperationCanceledError) {
        result.error = tr("The request was cancelled before the clinic answered.");
    } else {
        result.error = networkErrorText;
    }
    qCDebug(lcNode) << path << result.status << result.error;
    return result;
}

NodeReply NodeClient::claim(const QString &deviceId)
{
    return post(QLatin1String(clinic::kClaimPath), { { clinic::kDeviceId, deviceId } }, true);
}

NodeReply NodeClient::report(
    const QString &deviceId, const QString &orderId, const QString &outcome, const QString &reason)
{
    QJsonObject body { { clinic::kDeviceId, deviceId }, { clinic::kOrderId, orderId },
        { clinic::kOutcome, outcome } };
    if (!reason.isEmpty())
        body.insert(clinic::kReason, reason);
    return post(QLatin1String(clinic::kReportPath), body, true);
}

NodeReply NodeClient::checkIn(const QString &deviceId, const QString &displayName,
    const QString &appVersion, const QJsonArray &queues, const QJsonArray &burners)
{
    const QJsonObject body { { clinic::kDeviceId, deviceId }, { clinic::kDisplayName, displayName },
        { clinic::kAppVersion, appVersion }, { clinic::kQueues, queues },
        { clinic::kBurners, burners } };
    return post(QLatin1String(clinic::kCheckInPath), body, true);
}

NodeReply NodeClient::enrolWithSecret(const QString &enrolmentSecret, const QString &deviceId,
    const QString &displayName, const QString &appVersion)
{
    const QJsonObject body { { clinic::kEnrolmentSecret, enrolmentSecret },
        { clinic::kDeviceId, deviceId }, { clinic::kDisplayName, displayName },
        { clinic::kAppVersion, appVersion } };
    return post(QLatin1String(clinic::kEnrolPath), body, false);
}

NodeReply NodeClient::postDesktopPrinting(
    const QString &name, const QJsonObject &body, bool withCredential)
{
    return post(QLatin1String(clinic::kDesktopPrintingPrefix) + name, body, withCredential);
}

}  // namespace vek::agent
