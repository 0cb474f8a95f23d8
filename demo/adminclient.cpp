#include "adminclient.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace vek::demo {

namespace {

constexpr int kTimeoutMs = 10000;

std::optional<QJsonObject> Call(const QString &url, const QJsonObject *body, QString *error)
{
    QNetworkAccessManager network;
    QNetworkRequest request { QUrl(url) };
    request.setTransferTimeout(kTimeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply
        = body ? network.post(request, QJsonDocument(*body).toJson()) : network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray bytes = reply->readAll();
    const QString networkError = reply->errorString();
    reply->deleteLater();
    if (status != 200) {
        *error = status ? QStringLiteral("%1 answered %2: %3")
                              .arg(url)
                              .arg(status)
                              .arg(QString::fromUtf8(bytes))
                        : QStringLiteral("%1: %2").arg(url, networkError);
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject()) {
        *error = url + QStringLiteral(" did not answer a JSON object");
        return std::nullopt;
    }
    return document.object();
}

}  // namespace

std::optional<QJsonObject> AdminGet(const QString &url, QString *error)
{
    return Call(url, nullptr, error);
}

std::optional<QJsonObject> AdminPost(const QString &url, const QJsonObject &body, QString *error)
{
    return Call(url, &body, error);
}

}  // namespace vek::demo
