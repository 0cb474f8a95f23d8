#pragma once
// Names of crash reports, shared by both backends:
//   <application>-<version>-<milliseconds since 1970, 13+ digits>-<pid>.dmp
// The crash-time helpers here touch only the caller's buffers, so a signal
// handler or an exception filter may use them.

#include "platform/crashhandler.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vek::platform {

inline constexpr char kCrashDumpExtension[] = ".dmp";
inline constexpr std::size_t kCrashDumpTimeDigits = 13;

// "<sanitised application>-<sanitised version>-", the part of a report's
// name that is known before the crash.
std::string CrashDumpNamePrefix(const CrashDumpConfig &config);

// Of the file names in a crash folder, those PruneCrashDumps deletes: the
// application's reports beyond the keepCount newest. Newest means the
// greatest time in the name; names whose time cannot be read count as older
// than any that can, in byte order among themselves.
std::vector<std::string> CrashDumpsToDelete(
    std::vector<std::string> names, const std::string &applicationName, int keepCount);

// Writes value in decimal, left-padded with zeros to minDigits, and returns
// the number of characters written (at most 20 or minDigits). No allocation.
template <typename Char>
std::size_t WriteDecimal(Char *out, std::uint64_t value, std::size_t minDigits = 1)
{
    Char reversed[24];
    std::size_t count = 0;
    do {
        reversed[count++] = static_cast<Char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::size_t written = 0;
    for (; count + written < minDigits; ++written)
        out[written] = static_cast<Char>('0');
    while (count > 0)
        out[written++] = reversed[--count];
    return written;
}

// Appends "<time>-<pid>.dmp" to a report's precomputed prefix; out must
// have room for 48 characters. Returns the characters written.
template <typename Char>
std::size_t WriteCrashDumpNameSuffix(
    Char *out, std::uint64_t millisecondsSince1970, std::uint64_t processId)
{
    std::size_t length = WriteDecimal(out, millisecondsSince1970, kCrashDumpTimeDigits);
    out[length++] = static_cast<Char>('-');
    length += WriteDecimal(out + length, processId);
    for (const char *c = kCrashDumpExtension; *c != '\0'; ++c)
        out[length++] = static_cast<Char>(*c);
    return length;
}

}  // namespace vek::platform
