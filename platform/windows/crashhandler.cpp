#include "platform/crashhandler.h"

#include "platform/crashdumpnames.h"
#include "platform/windows/crashdump.h"
#include "platform/windows/wintext.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <dbghelp.h>
#include <exception>
#include <filesystem>
#include <system_error>

namespace vek::platform {
namespace win {
namespace {

using MiniDumpWriteDumpFunction
    = BOOL(WINAPI *)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
        PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

// Written by InstallCrashHandler before the handlers go in; read-only after.
struct CrashState {
    bool installed = false;
    MiniDumpWriteDumpFunction writeDump = nullptr;
    wchar_t prefix[kCrashDumpPathCapacity] = {};
    std::size_t prefixLength = 0;
    DWORD flags = 0;
};
CrashState g_crash;

// The thread writing a dump. A second crashing thread waits for the process
// to end; the same thread crashing again inside the dump writer gives up.
std::atomic<DWORD> g_writingThread { 0 };
static_assert(std::atomic<DWORD>::is_always_lock_free);

constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;  // 100 ns units

std::uint64_t MillisecondsSince1970()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks
        = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks < kUnixEpochAsFileTime ? 0 : (ticks - kUnixEpochAsFileTime) / 10000;
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS *exception)
{
    WriteCrashDump(exception);
    return EXCEPTION_EXECUTE_HANDLER;
}

void OnInvalidParameter(const wchar_t *, const wchar_t *, const wchar_t *, unsigned, uintptr_t)
{
    EndAfterRuntimeFailure();
}

}  // namespace

std::optional<std::wstring> CrashDumpPathPrefix(const CrashDumpConfig &config)
{
    std::wstring prefix = ToWide(config.directory);
    if (prefix.empty())
        return std::nullopt;
    if (prefix.back() != L'\\' && prefix.back() != L'/')
        prefix += L'\\';
    prefix += ToWide(CrashDumpNamePrefix(config));
    if (prefix.size() + kCrashDumpNameRoom >= kCrashDumpPathCapacity)
        return std::nullopt;
    return prefix;
}

DWORD CrashDumpFlags(std::int32_t dumpKind)
{
    switch (dumpKind) {
    case 1:
        return MiniDumpWithFullMemory | MiniDumpWithHandleData | MiniDumpWithUnloadedModules
            | MiniDumpWithThreadInfo;
    case 2:
        return MiniDumpWithThreadInfo;
    default:
        return MiniDumpScanMemory | MiniDumpWithUnloadedModules
            | MiniDumpWithIndirectlyReferencedMemory | MiniDumpWithThreadInfo;
    }
}

void WriteCrashDump(EXCEPTION_POINTERS *exception)
{
    if (!g_crash.installed || g_crash.writeDump == nullptr)
        return;
    const DWORD thread = GetCurrentThreadId();
    DWORD idle = 0;
    if (!g_writingThread.compare_exchange_strong(idle, thread)) {
        if (idle == thread)
            return;
        Sleep(INFINITE);
    }

    wchar_t path[kCrashDumpPathCapacity];
    std::size_t length = 0;
    for (; length < g_crash.prefixLength; ++length)
        path[length] = g_crash.prefix[length];
    length
        += WriteCrashDumpNameSuffix(path + length, MillisecondsSince1970(), GetCurrentProcessId());
    path[length] = L'\0';

    // Plain handles here: the crash path runs no destructors it can avoid.
    const HANDLE file = CreateFileW(
        path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    MINIDUMP_EXCEPTION_INFORMATION information;
    information.ThreadId = thread;
    information.ExceptionPointers = exception;
    information.ClientPointers = FALSE;
    g_crash.writeDump(GetCurrentProcess(), GetCurrentProcessId(), file,
        static_cast<MINIDUMP_TYPE>(g_crash.flags), exception != nullptr ? &information : nullptr,
        nullptr, nullptr);
    CloseHandle(file);
}

void EndAfterRuntimeFailure()
{
    WriteCrashDump(nullptr);
    TerminateProcess(GetCurrentProcess(), 3);
    ExitProcess(3);
}

}  // namespace win

bool InstallCrashHandler(const CrashDumpConfig &config)
{
    // The name's length is known before anything is created.
    const std::optional<std::wstring> prefix = win::CrashDumpPathPrefix(config);
    if (!prefix)
        return false;
    std::error_code error;
    const std::filesystem::path directory(win::ToWide(config.directory));
    std::filesystem::create_directories(directory, error);
    if (error || !std::filesystem::is_directory(directory, error))
        return false;

    // Looked up at run time, so the program starts where dbghelp is missing.
    const HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    if (dbghelp == nullptr)
        return false;
    const FARPROC writeDump = GetProcAddress(dbghelp, "MiniDumpWriteDump");
    if (writeDump == nullptr)
        return false;

    win::g_crash.writeDump
        = reinterpret_cast<win::MiniDumpWriteDumpFunction>(reinterpret_cast<void *>(writeDump));
    prefix->copy(win::g_crash.prefix, prefix->size());
    win::g_crash.prefixLength = prefix->size();
    win::g_crash.flags = win::CrashDumpFlags(config.dumpKind);
    win::g_crash.installed = true;

    PruneCrashDumps(config);

    SetUnhandledExceptionFilter(win::OnUnhandledException);
    std::set_terminate(win::EndAfterRuntimeFailure);
    _set_purecall_handler(win::EndAfterRuntimeFailure);
    _set_invalid_parameter_handler(win::OnInvalidParameter);
    return true;
}

}  // namespace vek::platform
