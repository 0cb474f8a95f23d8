// CreateProcessW with the full path as the application name, so that no
// search and no splitting of an unquoted path can start another program
// (C:\t\Vek.exe for "C:\t\Vek Print Agent\..."). The child inherits no
// handle and gets no standard handles; it runs in its own directory.

#include "platform/detachedstart.h"

#include "wintext.h"

#include <windows.h>

#include <filesystem>

namespace vek::platform {
namespace {

// One argument as the C runtime's command-line parser reads it back.
void AppendQuoted(std::wstring &line, const std::wstring &argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            line.append(backslashes * 2 + 1, L'\\');
        else
            line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

}  // namespace

bool StartDetached(
    const std::string &program, const std::vector<std::string> &arguments, std::int64_t *processId)
{
    const std::wstring application = win::ToWide(program);
    const std::filesystem::path path(application);
    if (application.empty() || !path.is_absolute())
        return false;
    const std::wstring directory = path.parent_path().wstring();
    std::wstring commandLine;
    AppendQuoted(commandLine, application);
    for (const std::string &argument : arguments) {
        commandLine += L' ';
        AppendQuoted(commandLine, win::ToWide(argument));
    }

    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags &= ~STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = nullptr;
    startup.hStdError = nullptr;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
            DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr,
            directory.c_str(), &startup, &process))
        return false;
    if (processId)
        *processId = process.dwProcessId;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace vek::platform
