#include "platform/durablefile.h"
#include "platform/windows/wintext.h"

#include <doctest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vek::platform {
namespace {

std::string TempDirectory()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    REQUIRE(length > 0);
    std::wstring path(buffer, length);
    path += L"vek-durable-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path.c_str(), nullptr);
    return win::ToUtf8(path);
}

void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream out(std::filesystem::path(win::ToWide(path)), std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ReadText(const std::string &path)
{
    std::ifstream in(std::filesystem::path(win::ToWide(path)), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string &path)
{
    return GetFileAttributesW(win::ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST_CASE("ReplaceFileDurably puts the new content in place of the old and of none")
{
    const std::string dir = TempDirectory();
    const std::string target = dir + "\\journal.json";
    const std::string temp = dir + "\\journal.json.tmp";
    DeleteFileW(win::ToWide(target).c_str());

    WriteText(temp, "first");
    REQUIRE(ReplaceFileDurably(temp, target));
    CHECK(ReadText(target) == "first");
    CHECK_FALSE(Exists(temp));

    WriteText(temp, "second");
    REQUIRE(ReplaceFileDurably(temp, target));
    CHECK(ReadText(target) == "second");
    CHECK_FALSE(Exists(temp));

    DeleteFileW(win::ToWide(target).c_str());
    RemoveDirectoryW(win::ToWide(dir).c_str());
}

TEST_CASE("ReplaceFileDurably fails and keeps the old file when the new one is missing")
{
    const std::string dir = TempDirectory();
    const std::string target = dir + "\\kept.json";
    WriteText(target, "old");
    CHECK_FALSE(ReplaceFileDurably(dir + "\\absent.tmp", target));
    CHECK(ReadText(target) == "old");
    CHECK_FALSE(ReplaceFileDurably(dir + "\\absent.tmp", dir + "\\no-such-dir\\x.json"));
    DeleteFileW(win::ToWide(target).c_str());
    RemoveDirectoryW(win::ToWide(dir).c_str());
}

}  // namespace
}  // namespace vek::platform
