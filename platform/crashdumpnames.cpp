#include "platform/crashdumpnames.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace vek::platform {
namespace {

bool IsAsciiLetterOrDigit(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool AllDigits(std::string_view text)
{
    return !text.empty()
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsApplicationsReport(const std::string &name, const std::string &applicationName)
{
    const std::string_view extension = kCrashDumpExtension;
    if (name.size() <= extension.size() || !name.ends_with(extension))
        return false;
    if (applicationName.empty())
        return true;
    return name.size() > applicationName.size() && name.starts_with(applicationName)
        && name[applicationName.size()] == '-';
}

// The time digits of "...-<time>-<pid>.dmp" without leading zeros, read from
// the end so that a version holding '-' does not matter.
std::optional<std::string> TimeInName(std::string_view name, std::size_t headLength)
{
    name.remove_suffix(std::string_view(kCrashDumpExtension).size());
    const std::size_t pidDash = name.rfind('-');
    if (pidDash == std::string_view::npos || !AllDigits(name.substr(pidDash + 1)))
        return std::nullopt;
    const std::string_view rest = name.substr(0, pidDash);
    const std::size_t timeDash = rest.rfind('-');
    if (timeDash == std::string_view::npos || timeDash < headLength)
        return std::nullopt;
    std::string_view time = rest.substr(timeDash + 1);
    if (time.size() < kCrashDumpTimeDigits || !AllDigits(time))
        return std::nullopt;
    time.remove_prefix(std::min(time.find_first_not_of('0'), time.size()));
    return std::string(time);
}

struct Candidate {
    std::string name;
    std::optional<std::string> time;  // without leading zeros
};

// Older first: unreadable times, then by time as a number of any length.
bool Older(const Candidate &a, const Candidate &b)
{
    if (a.time.has_value() != b.time.has_value())
        return !a.time.has_value();
    if (a.time && *a.time != *b.time) {
        if (a.time->size() != b.time->size())
            return a.time->size() < b.time->size();
        return *a.time < *b.time;
    }
    return a.name < b.name;
}

std::filesystem::path PathFromUtf8(const std::string &text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace

std::string SanitizeFileNamePart(const std::string &text, const std::string &fallback)
{
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsAsciiLetterOrDigit(byte) || c == '-' || c == '.')
            result += c;
        else if (c == ' ' || c == '_')
            result += '-';
    }
    return result.empty() ? fallback : result;
}

std::string CrashDumpNamePrefix(const CrashDumpConfig &config)
{
    return SanitizeFileNamePart(config.applicationName, "vek") + "-"
        + SanitizeFileNamePart(config.version, "unknown") + "-";
}

std::vector<std::string> CrashDumpsToDelete(
    std::vector<std::string> names, const std::string &applicationName, int keepCount)
{
    std::vector<Candidate> candidates;
    for (std::string &name : names) {
        if (IsApplicationsReport(name, applicationName))
            candidates.push_back({ std::move(name), std::nullopt });
    }
    const std::size_t keep = keepCount > 0 ? static_cast<std::size_t>(keepCount) : 0;
    if (candidates.size() <= keep)
        return {};
    // The head before the version: "<application>-", or nothing.
    const std::size_t headLength = applicationName.empty() ? 0 : applicationName.size() + 1;
    for (Candidate &candidate : candidates)
        candidate.time = TimeInName(candidate.name, headLength);
    std::sort(candidates.begin(), candidates.end(), Older);
    std::vector<std::string> doomed;
    for (std::size_t i = 0; i + keep < candidates.size(); ++i)
        doomed.push_back(candidates[i].name);
    return doomed;
}

void PruneCrashDumps(const CrashDumpConfig &config)
{
    namespace fs = std::filesystem;
    const fs::path directory = PathFromUtf8(config.directory);
    std::error_code error;
    fs::directory_iterator it(directory, error);
    std::vector<std::string> names;
    // A listing that fails part-way deletes nothing.
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        std::error_code statError;
        if (!it->is_regular_file(statError))
            continue;
        const std::u8string name = it->path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    if (error)
        return;
    // Selected by the name as it is written into report names.
    const std::string application = SanitizeFileNamePart(config.applicationName, "vek");
    for (const std::string &name :
        CrashDumpsToDelete(std::move(names), application, config.keepCount)) {
        std::error_code ignored;
        fs::remove(directory / PathFromUtf8(name), ignored);
    }
}

}  // namespace vek::platform
