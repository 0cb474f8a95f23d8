#include "platform/localpeer.h"

#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>

namespace vek::platform {

bool LocalPeerIsCurrentUser(std::intptr_t descriptor, PeerSide)
{
    // The kernel records the peer's credentials when the connection is made,
    // for both ends alike, so the side does not matter here.
    if (descriptor < 0 || descriptor > INT32_MAX)
        return false;
    ucred peer {};
    socklen_t length = sizeof peer;
    if (getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0
        || length != sizeof peer)
        return false;
    return peer.uid == geteuid();
}

}  // namespace vek::platform
