// Server lists come from the network: every address kept must be canonical,
// allowed, unique and not the primary.

#include "agent/serveraddress.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString primary = QStringLiteral("http://frontdesk:8080");
    const QStringList servers
        = vek::agent::ParseServerList(QJsonDocument::fromJson(bytes).object(), primary);
    QSet<QString> seen;
    for (const QString &server : servers) {
        if (server.isEmpty() || server == primary || seen.contains(server)
            || vek::agent::NormaliseServerUrl(server) != server
            || !vek::agent::IsAllowedServerUrl(server))
            __builtin_trap();
        seen.insert(server);
    }
    const QString text = QString::fromUtf8(bytes);
    const QString canonical = vek::agent::NormaliseServerUrl(text);
    if (!canonical.isEmpty() && vek::agent::NormaliseServerUrl(canonical) != canonical)
        __builtin_trap();
    return 0;
}
