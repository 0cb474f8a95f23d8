#pragma once
// What both backends promise about crash report names and pruning, as
// tables that the Linux tests (QtTest) and the Windows tests (doctest under
// Wine) both run. Standard C++ only.

#include <filesystem>
#include <string>
#include <vector>

namespace vek::platform::contract {

struct SanitizeCase {
    std::string name;
    std::string text;
    std::string fallback;
    std::string expected;
};
std::vector<SanitizeCase> SanitizeCases();

struct NameSuffixCase {
    std::string name;
    unsigned long long milliseconds;
    unsigned long long processId;
    std::string expected;
};
std::vector<NameSuffixCase> NameSuffixCases();

struct PruneCase {
    std::string name;
    int keepCount = 3;
    std::vector<std::string> files;
    std::vector<std::string> directories;  // entries that are folders, never touched
    std::vector<std::string> remaining;  // files left afterwards, in any order
};
std::vector<PruneCase> PruneCases();

// Fills folder (which must exist and be empty) with the case's entries,
// prunes it as the agent's crash folder, and returns what differs from the
// expected outcome; empty when the case holds.
std::string RunPruneCase(const PruneCase &c, const std::filesystem::path &folder);

}  // namespace vek::platform::contract
