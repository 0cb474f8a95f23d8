#pragma once
// The agent's HTTP client for the clinic server API: JSON POSTs under one
// base address, answered synchronously with one NodeReply each.

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

class QNetworkReply;

#include <chrono>

namespace vek::agent {

struct NodeReply {
    bool ok = false;  // an HTTP status from 200 to 299
    int status = 0;  // 0 when no HTTP answer came
    QJsonObject json;  // the body when it is a JSON object
    QString error;  // why no HTTP status was obtained; empty otherwise
};

class NodeClient : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kReplyTimeout { 20000 };
    static constexpr qint64 kMaxReplyBytes = 16 * 1024 * 1024;

    explicit NodeClient(QObject *parent = nullptr);

    void setBaseUrl(const QString &address);
    QString baseUrl() const { return base; }
    void setToken(const QString &credential);
    // Tests shorten the wait for a silent server.
    void setReplyTimeout(std::chrono::milliseconds timeout) { replyTimeout = timeout; }

    // Blocks in a local event loop, so queued calls of this thread run meanwhile.
    NodeReply post(const QString &path, const QJsonObject &body, bool withCredential);

    NodeReply claim(const QString &deviceId);
    NodeReply report(const QString &deviceId, const QString &orderId, const QString &outcome,
        const QString &reason);
    NodeReply checkIn(const QString &deviceId, const QString &displayName,
        const QString &appVersion, const QJsonArray &queues, const QJsonArray &burners);
    NodeReply enrolWithSecret(const QString &enrolmentSecret, const QString &deviceId,
        const QString &displayName, const QString &appVersion);
    NodeReply postDesktopPrinting(
        const QString &name, const QJsonObject &body, bool withCredential);

private:
    NodeReply awaitReply(QNetworkReply *reply, const QString &path);

    QNetworkAccessManager network { this };  // a child, so it moves with the client to its thread
    QString base;
    QString token;
    std::chrono::milliseconds replyTimeout = kReplyTimeout;
};

}  // namespace vek::agent
