#pragma once
// The Windows crash handler's pieces that its tests reach directly.

#include "platform/crashhandler.h"

#include <optional>
#include <string>
#include <windows.h>

namespace vek::platform::win {

// Room for a dump's full path; the prefix must leave 32 units for the time,
// the process id and the extension.
inline constexpr std::size_t kCrashDumpPathCapacity = 1024;
inline constexpr std::size_t kCrashDumpNameRoom = 32;

// "<directory>\<application>-<version>-" as a wide path; empty when the
// directory is empty or not UTF-8, or when no room is left for the rest of a
// name.
std::optional<std::wstring> CrashDumpPathPrefix(const CrashDumpConfig &config);

// MiniDumpWriteDump flags for a CrashDumpConfig::dumpKind.
DWORD CrashDumpFlags(std::int32_t dumpKind);

// Writes a minidump, with the exception when there is one. Only stack
// memory and state prepared by InstallCrashHandler are used.
void WriteCrashDump(EXCEPTION_POINTERS *exception);

// The termination, pure-call and invalid-parameter handler: writes a dump
// without exception information and ends the process with exit code 3.
[[noreturn]] void EndAfterRuntimeFailure();

}  // namespace vek::platform::win
