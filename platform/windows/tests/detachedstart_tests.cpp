#include "platform/detachedstart.h"
#include "platform/windows/wintext.h"

#include <windows.h>

#include <doctest.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vek::platform {
namespace {

std::wstring ThisFolder()
{
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L'\\'));
}

bool WaitForFile(const std::wstring &path)
{
    for (int i = 0; i < 1000; ++i) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(10);  // polls for the child's report; no fixed wait decides the outcome
    }
    return false;
}

std::string ReadAll(const std::wstring &path)
{
    std::ifstream file { std::filesystem::path(path) };
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_CASE("StartDetached starts the exact program, in its folder, with nothing inherited")
{
    const std::wstring reporter = ThisFolder() + L"\\vek_startreporter.exe";
    CreateDirectoryW(L"C:\\t", nullptr);
    CreateDirectoryW(L"C:\\t\\Vek Print Agent", nullptr);
    const std::wstring planted = L"C:\\t\\Vek.exe";
    const std::wstring program = L"C:\\t\\Vek Print Agent\\setup.exe";
    const std::wstring report = L"C:\\t\\report.txt";
    for (const std::wstring &stale : { planted + L".ran", program + L".ran", report })
        DeleteFileW(stale.c_str());
    REQUIRE(CopyFileW(reporter.c_str(), planted.c_str(), FALSE));
    REQUIRE(CopyFileW(reporter.c_str(), program.c_str(), FALSE));

    // An inheritable handle of this process, as a lock file would be.
    SECURITY_ATTRIBUTES inheritable { sizeof inheritable, nullptr, TRUE };
    const HANDLE lock = CreateFileW(L"C:\\t\\lock", GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(lock != INVALID_HANDLE_VALUE);

    std::int64_t id = 0;
    REQUIRE(StartDetached(
        win::ToUtf8(program), { win::ToUtf8(report), "/SILENT", "two words", "say \"hi\"" }, &id));
    CHECK(id > 0);
    REQUIRE(WaitForFile(report));
    CloseHandle(lock);
    const std::string text = ReadAll(report);
    CAPTURE(text);
    CHECK(text.find("std none\nstd none\nstd none\n") != std::string::npos);
    CHECK(text.find("cwd C:\\t\\Vek Print Agent\n") != std::string::npos);
    CHECK(text.find("arg /SILENT\narg two words\narg say \"hi\"\n") != std::string::npos);
    // The planted program would have run had the path been split at a space.
    CHECK(GetFileAttributesW((planted + L".ran").c_str()) == INVALID_FILE_ATTRIBUTES);
    // The lock file could be reopened only because no child holds a copy.
    const HANDLE reopened = CreateFileW(
        L"C:\\t\\lock", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(reopened != INVALID_HANDLE_VALUE);
    if (reopened != INVALID_HANDLE_VALUE)
        CloseHandle(reopened);
}

TEST_CASE("StartDetached fails for a relative or missing program")
{
    CHECK_FALSE(StartDetached("setup.exe", {}, nullptr));
    CHECK_FALSE(StartDetached("C:\\t\\absent\\setup.exe", {}, nullptr));
}

}  // namespace
}  // namespace vek::platform
