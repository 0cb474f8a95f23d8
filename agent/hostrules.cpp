#include "agent/hostrules.h"

#include "vek/product.h"

#include <QHostAddress>
#include <QStringList>

#include <array>
#include <optional>

namespace vek::agent {
namespace {

using Ipv4 = std::array<int, 4>;

// Four dotted decimal numbers of at most 255, each written in its plain form:
// leading zeros, signs and blanks disqualify a part.
std::optional<Ipv4> ParseIpv4Literal(const QString &host)
{
    const QStringList parts = host.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 4)
        return std::nullopt;
    Ipv4 numbers {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int value = parts[i].toInt(&ok, 10);
        if (!ok || value < 0 || value > 255 || QString::number(value) != parts[i])
            return std::nullopt;
        numbers[i] = value;
    }
    return numbers;
}

bool IsIpv6Literal(const QString &host)
{
    return host.contains(QLatin1Char(':'));
}

// Only addresses that cannot leave the machine or the local link, or that
// belong to a private (unique-local) network, count; a global IPv6 address
// is a host on the internet however it is written.
bool IsLocalIpv6Literal(const QString &host)
{
    QHostAddress address;
    if (!address.setAddress(host) || address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    const bool uniqueLocal = (bytes[0] & 0xfe) == 0xfc;  // fc00::/7
    const bool linkLocal = bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80;  // fe80::/10
    bool loopback = bytes[15] == 1;  // ::1
    for (int i = 0; i < 15 && loopback; ++i)
        loopback = bytes[i] == 0;
    return uniqueLocal || linkLocal || loopback;
}

}  // namespace

bool IsLocalNodeHost(const QString &host)
{
    if (host.isEmpty())
        return false;
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    if (host == QLatin1String("127.0.0.1"))
        return true;
    if (IsIpv6Literal(host))
        return IsLocalIpv6Literal(host);
    if (const auto ip = ParseIpv4Literal(host)) {
        const int a = (*ip)[0];
        const int b = (*ip)[1];
        return a == 10 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168);
    }
    return !host.contains(QLatin1Char('.'));
}

bool IsPrivateNetworkHost(const QString &host)
{
    if (host.isEmpty())
        return false;
    if (IsIpv6Literal(host))
        return IsLocalIpv6Literal(host);
    if (const auto ip = ParseIpv4Literal(host)) {
        const int a = (*ip)[0];
        const int b = (*ip)[1];
        return a == 10 || a == 127 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168)
            || (a == 100 && b >= 64 && b <= 127);
    }
    const QLatin1String meshSuffix(vek::product::kMeshSuffix);
    return host == QLatin1String("localhost") || host.endsWith(QLatin1String(".local"))
        || (!meshSuffix.isEmpty() && host.endsWith(meshSuffix)) || !host.contains(QLatin1Char('.'));
}

}  // namespace vek::agent
