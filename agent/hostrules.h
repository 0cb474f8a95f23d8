#pragma once
// Which hosts count as local or private, for the plain-HTTP rules of the
// node client and of learned server addresses.

#include <QString>

namespace vek::agent {

// The node client's rule for plain HTTP: "localhost", 127.0.0.1, IPv4
// literals in 10/8, 172.16/12 and 192.168/16, single-label names, and the
// IPv6 loopback, unique-local and link-local addresses. host is the URL's
// fully decoded host (IPv6 literals without brackets).
bool IsLocalNodeHost(const QString &host);

// The rule for learned server addresses: IPv4 literals in 10/8, 127/8,
// 172.16/12, 192.168/16 and 100.64/10; "localhost", names ending in ".local"
// or in the mesh suffix, single-label names; and the IPv6 loopback,
// unique-local and link-local addresses. Expects a lower-case host without
// brackets or port.
bool IsPrivateNetworkHost(const QString &host);

}  // namespace vek::agent
