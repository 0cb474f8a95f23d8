#include "platform/localpeer.h"

#include <memory>
#include <type_traits>
#include <vector>
#include <windows.h>

namespace vek::platform {
namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// The TOKEN_USER of a process's token; empty when it cannot be read.
std::vector<unsigned char> ProcessUser(HANDLE process)
{
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &rawToken))
        return {};
    const OwnedHandle token(rawToken);
    DWORD bytes = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &bytes);
    if (bytes < sizeof(TOKEN_USER))
        return {};
    std::vector<unsigned char> user(bytes);
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), bytes, &bytes))
        return {};
    return user;
}

PSID UserSid(std::vector<unsigned char> &user)
{
    return reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
}

}  // namespace

bool LocalPeerIsCurrentUser(std::intptr_t descriptor, PeerSide otherEnd)
{
    const auto pipe = reinterpret_cast<HANDLE>(descriptor);
    if (pipe == nullptr || pipe == INVALID_HANDLE_VALUE)
        return false;
    ULONG processId = 0;
    const BOOL known = otherEnd == PeerSide::Server ? GetNamedPipeServerProcessId(pipe, &processId)
                                                    : GetNamedPipeClientProcessId(pipe, &processId);
    if (!known || processId == 0)
        return false;
    const OwnedHandle peer(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!peer)
        return false;
    std::vector<unsigned char> peerUser = ProcessUser(peer.get());
    std::vector<unsigned char> ownUser = ProcessUser(GetCurrentProcess());
    if (peerUser.empty() || ownUser.empty())
        return false;
    return EqualSid(UserSid(peerUser), UserSid(ownUser)) != FALSE;
}

}  // namespace vek::platform
