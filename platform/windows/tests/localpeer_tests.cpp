#include "platform/localpeer.h"

#include <doctest.h>
#include <string>
#include <windows.h>

namespace vek::platform {
namespace {

struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    ~Handle()
    {
        if (value != INVALID_HANDLE_VALUE && value != nullptr)
            CloseHandle(value);
    }
    std::intptr_t descriptor() const { return reinterpret_cast<std::intptr_t>(value); }
};

TEST_CASE("Both ends of a named pipe in this process see the current user")
{
    const std::wstring name
        = L"\\\\.\\pipe\\vek-peer-test-" + std::to_wstring(GetCurrentProcessId());
    Handle server;
    server.value = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    REQUIRE(server.value != INVALID_HANDLE_VALUE);
    Handle client;
    client.value = CreateFileW(
        name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(client.value != INVALID_HANDLE_VALUE);
    const bool connected = ConnectNamedPipe(server.value, nullptr) != FALSE
        || GetLastError() == ERROR_PIPE_CONNECTED;
    REQUIRE(connected);

    CHECK(LocalPeerIsCurrentUser(client.descriptor(), PeerSide::Server));
    CHECK(LocalPeerIsCurrentUser(server.descriptor(), PeerSide::Client));
}

TEST_CASE("Handles that are not a connected pipe give false")
{
    const std::wstring name
        = L"\\\\.\\pipe\\vek-peer-lonely-" + std::to_wstring(GetCurrentProcessId());
    Handle waiting;
    waiting.value = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    REQUIRE(waiting.value != INVALID_HANDLE_VALUE);
    CHECK_FALSE(LocalPeerIsCurrentUser(waiting.descriptor(), PeerSide::Client));

    CHECK_FALSE(LocalPeerIsCurrentUser(0, PeerSide::Server));
    CHECK_FALSE(LocalPeerIsCurrentUser(-1, PeerSide::Client));
    CHECK_FALSE(LocalPeerIsCurrentUser(0x7ffffff0, PeerSide::Client));

    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    REQUIRE(GetTempPathW(MAX_PATH, folder) != 0);
    REQUIRE(GetTempFileNameW(folder, L"vek", 0, path) != 0);
    Handle file;
    file.value = CreateFileW(
        path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    REQUIRE(file.value != INVALID_HANDLE_VALUE);
    CHECK_FALSE(LocalPeerIsCurrentUser(file.descriptor(), PeerSide::Server));
    CHECK_FALSE(LocalPeerIsCurrentUser(file.descriptor(), PeerSide::Client));
}

}  // namespace
}  // namespace vek::platform
