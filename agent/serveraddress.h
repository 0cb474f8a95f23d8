#pragma once
// Canonical form and acceptance test for server addresses learned from the
// network: the hosted clinic service over https, or hosts of the clinic's
// own private network over http or https.

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace vek::agent {

// Lower-case "scheme://host[:port]"; empty when the address has no host,
// carries user information or does not parse.
QString NormaliseServerUrl(const QString &address);

// True when the address may be contacted as a server.
bool IsAllowedServerUrl(const QString &address);

// The canonical, accepted addresses of the reply's "servers" array, in order,
// without repeats and without the primary server itself.
QStringList ParseServerList(const QJsonObject &reply, const QString &primaryUrl);

}  // namespace vek::agent
