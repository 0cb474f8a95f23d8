#pragma once
// Who is at the other end of a local socket: the agent's command channel
// talks only to processes of the same user, in both directions.

#include <cstdint>

namespace vek::platform {

enum class PeerSide {
    Server,  // this process connected; the other end listens
    Client,  // this process listens; the other end connected
};

// descriptor is the connected local socket's native descriptor (a Unix
// socket on Linux, a named-pipe handle on Windows). True only when the
// process at the other end runs as the current user; false when that cannot
// be established.
bool LocalPeerIsCurrentUser(std::intptr_t descriptor, PeerSide otherEnd);

}  // namespace vek::platform
