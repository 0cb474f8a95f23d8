#pragma once
// Crash reports: installed once at start-up, written by the process as it
// dies (a minidump on Windows, a small report from a signal handler on
// Linux), into a crash folder of its own that keeps only the newest few.

#include <cstdint>
#include <string>

namespace vek::platform {

struct CrashDumpConfig {
    std::string directory;  // UTF-8; created with its parents
    std::string applicationName;  // first part of report names; selects them for pruning
    std::string version;  // second part of report names
    std::int32_t dumpKind = 0;  // what a Windows minidump holds
    std::int32_t keepCount = 3;  // reports that survive pruning; negative counts as 0
};

// Prunes old reports and installs the handlers; false when nothing was
// installed (the program runs on without crash reports).
bool InstallCrashHandler(const CrashDumpConfig &config);

// ASCII letters, digits, '-' and '.' stay; ' ' and '_' become '-'; every
// other byte is dropped; fallback when nothing remains.
std::string SanitizeFileNamePart(const std::string &text, const std::string &fallback);

// Keeps the keepCount newest reports of the application (by the time in
// their names) and deletes the older ones; other files are never touched.
void PruneCrashDumps(const CrashDumpConfig &config);

}  // namespace vek::platform
