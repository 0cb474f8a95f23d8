#include "platform/installersignature.h"

#include <windows.h>

#include <doctest.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vek::platform {
namespace {

// The folder of installers signed at test time (a Linux path, reached
// through Wine's Z: drive).
std::wstring InstallersFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"VEK_TEST_INSTALLERS", buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    std::wstring folder = L"Z:" + std::wstring(buffer, length);
    for (wchar_t &c : folder) {
        if (c == L'/')
            c = L'\\';
    }
    return folder + L"\\";
}

std::string ReadPin(const std::wstring &name)
{
    std::ifstream file(std::filesystem::path(InstallersFolder() + name));
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST_CASE("VerifyInstallerSignature refuses every bent or foreign installer")
{
    const std::wstring folder = InstallersFolder();
    REQUIRE_MESSAGE(!folder.empty(), "VEK_TEST_INSTALLERS names the signed installers");
    const std::string pin = ReadPin(L"root.sha1");
    REQUIRE(pin.size() == 40);
    struct Row {
        const wchar_t *file;
        SignatureVerdict expected;
    };
    const Row rows[] = {
        { L"trusted.exe", SignatureVerdict::Accepted },
        { L"checksum-changed.exe", SignatureVerdict::Accepted },
        { L"tampered.exe", SignatureVerdict::NotVerified },
        { L"unsigned.exe", SignatureVerdict::NotSigned },
        // Wine trusts any root; the pin is what refuses this one.
        { L"other-root.exe", SignatureVerdict::WrongAuthority },
        { L"no-code-signing.exe", SignatureVerdict::NotVerified },
        { L"junk-in-block.exe", SignatureVerdict::NotVerified },
        { L"appended.exe", SignatureVerdict::NotVerified },
        { L"truncated.exe", SignatureVerdict::NotVerified },
        { L"second-entry.exe", SignatureVerdict::NotVerified },
        { L"missing.exe", SignatureVerdict::Uncheckable },
    };
    for (const Row &row : rows) {
        CAPTURE(std::string(row.file, row.file + wcslen(row.file)));
        CHECK(VerifyInstallerSignature(folder + row.file, pin) == row.expected);
    }
}

TEST_CASE("Only the pinned root accepts, whatever the pin's spelling")
{
    const std::wstring trusted = InstallersFolder() + L"trusted.exe";
    std::string spelled;
    for (const char c : ReadPin(L"root.sha1"))
        spelled += std::string(1, char(std::toupper(static_cast<unsigned char>(c)))) + " ";
    CHECK(VerifyInstallerSignature(trusted, spelled) == SignatureVerdict::Accepted);
    CHECK(VerifyInstallerSignature(trusted, "") == SignatureVerdict::WrongAuthority);
    CHECK(VerifyInstallerSignature(trusted, ReadPin(L"other-root.sha1"))
        == SignatureVerdict::WrongAuthority);
}

}  // namespace
}  // namespace vek::platform
