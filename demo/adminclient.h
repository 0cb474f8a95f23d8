#pragma once
// Blocking calls of the clinic simulator's admin API on loopback.

#include <QJsonObject>
#include <QString>

#include <optional>

namespace vek::demo {

// GET or POST (with a JSON body) on the admin server; the reply's JSON
// object when it answered 200, nothing otherwise (error says why).
std::optional<QJsonObject> AdminGet(const QString &url, QString *error);
std::optional<QJsonObject> AdminPost(const QString &url, const QJsonObject &body, QString *error);

}  // namespace vek::demo
