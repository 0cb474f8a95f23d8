#pragma once
// A desktop print order as read from a claim reply of a paired server.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace vek::agent {

struct DesktopOrder {
    QString id;
    QString claimToken;
    QString systemName;  // the print queue
    QString profileId;
    QString profileVersion;
    int copies = 1;
    QByteArray document;  // decoded from Base64
    bool hashMatches = false;  // the document's SHA-256 equals "contentHash" exactly
};

// The reply's "order"; nothing when there is none or it lacks an id or a
// claim token (such an order is dropped without a report). Never fails on
// malformed values: they read as empty, and "copies" as 1 unless it is a
// whole number.
std::optional<DesktopOrder> ReadDesktopOrder(const QJsonObject &claimReply);

}  // namespace vek::agent
