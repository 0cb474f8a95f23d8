#include "tests/contract/crashdumpcontract.h"

#include "platform/crashhandler.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace vek::platform::contract {
namespace {

namespace fs = std::filesystem;

std::string Report(const std::string &version, const std::string &time, int pid = 4242)
{
    return "VekPrintAgent-" + version + "-" + time + "-" + std::to_string(pid) + ".dmp";
}

fs::path Utf8Path(const std::string &text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Joined(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : ", ") + name;
    return "[" + text + "]";
}

}  // namespace

std::vector<SanitizeCase> SanitizeCases()
{
    return {
        { "kept as it is", "VekPrintAgent", "vek", "VekPrintAgent" },
        { "dots and dashes stay", "1.0.38-rc.1", "unknown", "1.0.38-rc.1" },
        { "space and underscore become dashes", "Vek Print_Agent!", "vek", "Vek-Print-Agent" },
        { "separators and other bytes dropped", "a/b\\c:d*e?\"<>|", "vek", "abcde" },
        { "non-ASCII bytes dropped", "Zo\xc3\xab", "vek", "Zo" },
        { "empty gives the fallback", "", "unknown", "unknown" },
        { "nothing left gives the fallback", "!?/", "unknown", "unknown" },
    };
}

std::vector<NameSuffixCase> NameSuffixCases()
{
    return {
        { "a clock just after 1970 is padded to 13 digits", 5, 42, "0000000000005-42.dmp" },
        { "today's clock", 1765330000123ULL, 7, "1765330000123-7.dmp" },
        { "a clock past 13 digits is not cut", 12345678901234ULL, 1, "12345678901234-1.dmp" },
        { "the largest values fit", 18446744073709551615ULL, 4294967295ULL,
            "18446744073709551615-4294967295.dmp" },
    };
}

std::vector<PruneCase> PruneCases()
{
    const std::string other = "OtherTool-1.0.38-1700000000000-1.dmp";
    const std::string upperCase = "VekPrintAgent-1.0.38-1700000000000-1.DMP";
    const std::string letterAfterName = "VekPrintAgentX-1.0.38-1700000000000-1.dmp";
    return {
        { "five reports: the three newest stay, other files are never touched", 3,
            { Report("1.0.38", "1700000000001"), Report("1.0.38", "1700000000002"),
                Report("1.0.38", "1700000000003"), Report("1.0.38", "1700000000004"),
                Report("1.0.38", "1700000000005"), other, upperCase, letterAfterName, "notes.txt" },
            { Report("1.0.38", "0000000000000") },
            { Report("1.0.38", "1700000000003"), Report("1.0.38", "1700000000004"),
                Report("1.0.38", "1700000000005"), other, upperCase, letterAfterName,
                "notes.txt" } },
        { "after an update from 1.0.9 to 1.0.10 the newest are kept, not the greatest names", 3,
            { Report("1.0.9", "1700000000001"), Report("1.0.9", "1700000000002"),
                Report("1.0.9", "1700000000003"), Report("1.0.10", "1700000000004"),
                Report("1.0.10", "1700000000005") },
            {},
            { Report("1.0.9", "1700000000003"), Report("1.0.10", "1700000000004"),
                Report("1.0.10", "1700000000005") } },
        { "times compare as numbers, whatever their length or padding", 2,
            { Report("1.0", "0000000000001"), Report("1.0", "9999999999999"),
                Report("1.0", "10000000000000"), Report("1.0", "0999999999999") },
            {}, { Report("1.0", "9999999999999"), Report("1.0", "10000000000000") } },
        { "the same time falls back to the whole name", 1,
            { Report("1.0", "1700000000000", 1), Report("1.0", "1700000000000", 2) }, {},
            { Report("1.0", "1700000000000", 2) } },
        { "names without a readable time count as the oldest, in byte order", 2,
            { "VekPrintAgent-broken.dmp", "VekPrintAgent-1.0-123-1.dmp",
                "VekPrintAgent-1700000000009-1.dmp", Report("1.0", "1700000000001"),
                "VekPrintAgent-zz.dmp" },
            {}, { Report("1.0", "1700000000001"), "VekPrintAgent-zz.dmp" } },
        { "fewer reports than kept: nothing is deleted", 3,
            { Report("1.0", "1700000000001"), Report("1.0", "1700000000002") }, {},
            { Report("1.0", "1700000000001"), Report("1.0", "1700000000002") } },
        { "a negative count keeps none of the agent's reports", -1,
            { Report("1.0", "1700000000001"), Report("1.0", "1700000000002"), other }, {},
            { other } },
    };
}

std::string RunPruneCase(const PruneCase &c, const fs::path &folder)
{
    for (const std::string &name : c.files)
        std::ofstream(folder / Utf8Path(name)) << "report";
    for (const std::string &name : c.directories)
        fs::create_directory(folder / Utf8Path(name));

    CrashDumpConfig config;
    const std::u8string folderText = folder.u8string();
    config.directory.assign(folderText.begin(), folderText.end());
    config.applicationName = "VekPrintAgent";
    config.version = "1.0.38";
    config.keepCount = c.keepCount;
    PruneCrashDumps(config);

    std::vector<std::string> files;
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder, error)) {
        const std::u8string name = entry.path().filename().u8string();
        if (entry.is_directory()) {
            if (std::find(c.directories.begin(), c.directories.end(),
                    std::string(name.begin(), name.end()))
                == c.directories.end())
                return "an unexpected folder appeared";
            continue;
        }
        files.emplace_back(name.begin(), name.end());
    }
    if (error)
        return "the folder could not be listed";
    for (const std::string &name : c.directories) {
        if (!fs::is_directory(folder / Utf8Path(name)))
            return "the folder " + name + " was removed";
    }
    const std::string got = Joined(files);
    const std::string expected = Joined(c.remaining);
    return got == expected ? std::string() : "left " + got + ", expected " + expected;
}

}  // namespace vek::platform::contract
