#include "platform/crashdumpnames.h"
#include "platform/crashhandler.h"
#include "platform/windows/crashdump.h"
#include "platform/windows/wintext.h"
#include "tests/contract/crashdumpcontract.h"

#include <algorithm>
#include <dbghelp.h>
#include <doctest.h>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>
#include <windows.h>

namespace vek::platform {
namespace {

namespace fs = std::filesystem;

// A fresh, empty folder under the temporary folder, removed afterwards.
struct TemporaryFolder {
    fs::path path;
    TemporaryFolder()
    {
        static int counter = 0;
        path = fs::temp_directory_path()
            / ("vek-crash-test-" + std::to_string(GetCurrentProcessId()) + "-"
                + std::to_string(++counter));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string utf8() const
    {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    }
};

struct ChildEnd {
    DWORD exitCode = 0;
    DWORD processId = 0;
};

std::optional<ChildEnd> RunChild(const TemporaryFolder &folder, const std::string &mode)
{
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return std::nullopt;
    const fs::path child = fs::path(self).parent_path() / L"vek_crashchild.exe";
    std::wstring command
        = L"\"" + child.wstring() + L"\" \"" + folder.path.wstring() + L"\" " + win::ToWide(mode);
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    // No inherited handles: the child's dying words stay out of this output.
    if (!CreateProcessW(child.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
            nullptr, nullptr, &startup, &process))
        return std::nullopt;
    CloseHandle(process.hThread);
    ChildEnd end;
    end.processId = process.dwProcessId;
    const bool finished = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0
        && GetExitCodeProcess(process.hProcess, &end.exitCode);
    if (!finished)
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    return finished ? std::optional(end) : std::nullopt;
}

std::vector<std::string> FileNames(const fs::path &folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder))
        names.push_back(win::ToUtf8(entry.path().filename().wstring()));
    return names;
}

// A read-only view of a whole file.
class MappedFile {
public:
    explicit MappedFile(const fs::path &path)
    {
        file_ = CreateFileW(
            path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file_ == INVALID_HANDLE_VALUE)
            return;
        mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping_ != nullptr)
            view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
    }
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;
    ~MappedFile()
    {
        if (view_ != nullptr)
            UnmapViewOfFile(view_);
        if (mapping_ != nullptr)
            CloseHandle(mapping_);
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    void *view() const { return view_; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    void *view_ = nullptr;
};

TEST_CASE("Report name parts are sanitised")
{
    for (const contract::SanitizeCase &c : contract::SanitizeCases()) {
        CAPTURE(c.name);
        CHECK(SanitizeFileNamePart(c.text, c.fallback) == c.expected);
    }
}

TEST_CASE("The time and process id complete a report's name")
{
    for (const contract::NameSuffixCase &c : contract::NameSuffixCases()) {
        CAPTURE(c.name);
        wchar_t name[48];
        const std::size_t length = WriteCrashDumpNameSuffix(name, c.milliseconds, c.processId);
        CHECK(win::ToUtf8(std::wstring_view(name, length)) == c.expected);
    }
}

TEST_CASE("Pruning keeps the newest reports by the time in their names")
{
    for (const contract::PruneCase &c : contract::PruneCases()) {
        CAPTURE(c.name);
        TemporaryFolder folder;
        CHECK(contract::RunPruneCase(c, folder.path) == "");
    }
}

TEST_CASE("A path prefix must leave 32 units for the rest of the name")
{
    CrashDumpConfig config;
    config.applicationName = "Vek Print_Agent!";
    config.version = "";
    config.directory = "C:\\crashes";
    CHECK(win::CrashDumpPathPrefix(config) == L"C:\\crashes\\Vek-Print-Agent-unknown-");
    config.directory = "C:/crashes/";
    CHECK(win::CrashDumpPathPrefix(config) == L"C:/crashes/Vek-Print-Agent-unknown-");
    config.directory.clear();
    CHECK_FALSE(win::CrashDumpPathPrefix(config).has_value());

    // "C:\" + folder + "\" + "VekPrintAgent-1.0.38-" (21 units)
    config.applicationName = "VekPrintAgent";
    config.version = "1.0.38";
    const auto directoryOfPrefix = [](std::size_t prefixLength) {
        return "C:\\" + std::string(prefixLength - 3 - 1 - 21, 'd');
    };
    config.directory = directoryOfPrefix(991);
    REQUIRE(win::CrashDumpPathPrefix(config).has_value());
    CHECK(win::CrashDumpPathPrefix(config)->size() == 991);
    config.directory = directoryOfPrefix(992);
    CHECK_FALSE(win::CrashDumpPathPrefix(config).has_value());
    CHECK_FALSE(InstallCrashHandler(config));
}

TEST_CASE("The dump flags follow the dump kind")
{
    CHECK(win::CrashDumpFlags(0) == 0x1070);
    CHECK(win::CrashDumpFlags(1) == 0x1026);
    CHECK(win::CrashDumpFlags(2) == 0x1000);
    CHECK(win::CrashDumpFlags(7) == 0x1070);
}

TEST_CASE("Installation prunes the crash folder")
{
    TemporaryFolder folder;
    for (int i = 1; i <= 5; ++i) {
        const std::string name = "VekPrintAgent-1.0." + std::to_string(i) + "-170000000000"
            + std::to_string(i) + "-9.dmp";
        CloseHandle(CreateFileW(
            (folder.path / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    }
    const std::optional<ChildEnd> end = RunChild(folder, "install");
    REQUIRE(end.has_value());
    CHECK(end->exitCode == 0);
    std::vector<std::string> names = FileNames(folder.path);
    std::sort(names.begin(), names.end());
    CHECK(names
        == std::vector<std::string> { "VekPrintAgent-1.0.3-1700000000003-9.dmp",
            "VekPrintAgent-1.0.4-1700000000004-9.dmp", "VekPrintAgent-1.0.5-1700000000005-9.dmp" });
}

TEST_CASE("A crash leaves a minidump named after the program, its time and its process")
{
    struct Case {
        const char *mode;
        bool hasException;
        DWORD exitCode;
    };
    const Case cases[] = {
        { "access-violation", true, EXCEPTION_ACCESS_VIOLATION },
        { "terminate", false, 3 },
        { "throw", false, 3 },
        { "runtime-failure", false, 3 },
        { "invalid-parameter", false, 3 },
    };
    for (const Case &c : cases) {
        CAPTURE(c.mode);
        TemporaryFolder folder;
        const std::optional<ChildEnd> end = RunChild(folder, c.mode);
        REQUIRE(end.has_value());
        CHECK(end->exitCode == c.exitCode);

        const std::vector<std::string> names = FileNames(folder.path);
        REQUIRE(names.size() == 1);
        const std::regex pattern(
            "VekPrintAgent-1\\.0\\.38-\\d{13,}-" + std::to_string(end->processId) + "\\.dmp");
        CHECK_MESSAGE(std::regex_match(names.front(), pattern), names.front());

        const MappedFile dump(folder.path / names.front());
        REQUIRE(dump.view() != nullptr);
        MINIDUMP_DIRECTORY *directory = nullptr;
        void *stream = nullptr;
        ULONG size = 0;
        CHECK(MiniDumpReadDumpStream(dump.view(), ThreadListStream, &directory, &stream, &size));
        const bool hasException
            = MiniDumpReadDumpStream(dump.view(), ExceptionStream, &directory, &stream, &size);
        CHECK(hasException == c.hasException);
        if (hasException && c.hasException) {
            const auto *exception = static_cast<const MINIDUMP_EXCEPTION_STREAM *>(stream);
            CHECK(exception->ExceptionRecord.ExceptionCode == EXCEPTION_ACCESS_VIOLATION);
        }
    }
}

}  // namespace
}  // namespace vek::platform
