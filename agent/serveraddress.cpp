#include "agent/serveraddress.h"

#include "agent/hostrules.h"
#include "vek/product.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QUrl>

namespace vek::agent {
namespace {

bool IsCloudHost(const QString &host)
{
    const QString domain = QString::fromLatin1(vek::product::kCloudDomain).toLower();
    if (domain.isEmpty())
        return false;
    return host == domain || host.endsWith(QLatin1Char('.') + domain);
}

}  // namespace

QString NormaliseServerUrl(const QString &address)
{
    QUrl url(address.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || url.host(QUrl::FullyDecoded).isEmpty() || !url.userInfo().isEmpty())
        return {};
    // A bare "@" before the host is an empty user information that QUrl
    // would still render; the canonical form has none.
    url.setUserInfo(QString());
    url.setPath(QString());
    url.setQuery(QString());
    url.setFragment(QString());
    return url.toString(QUrl::StripTrailingSlash).toLower();
}

bool IsAllowedServerUrl(const QString &address)
{
    const QUrl url(address, QUrl::TolerantMode);
    if (!url.isValid())
        return false;
    if (!url.userInfo().isEmpty() || !url.query().isEmpty() || !url.fragment().isEmpty())
        return false;
    const QString host = url.host(QUrl::FullyDecoded).toLower();
    const QString scheme = url.scheme().toLower();
    if (host.isEmpty())
        return false;
    if (scheme == QLatin1String("https") && IsCloudHost(host))
        return true;
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return IsPrivateNetworkHost(host);
    return false;
}

QStringList ParseServerList(const QJsonObject &reply, const QString &primaryUrl)
{
    const QString primary = NormaliseServerUrl(primaryUrl);
    QStringList result;
    const QJsonArray servers = reply.value(QLatin1String("servers")).toArray();
    for (const QJsonValue &entry : servers) {
        const QString url = entry.toObject().value(QLatin1String("url")).toString();
        const QString canonical = NormaliseServerUrl(url);
        if (canonical.isEmpty() || canonical == primary || result.contains(canonical)
            || !IsAllowedServerUrl(canonical))
            continue;
        result.append(canonical);
    }
    return result;
}

}  // namespace vek::agent
