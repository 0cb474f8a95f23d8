// Started detached by the tests: writes what it received (standard handles,
// working directory, arguments) to the file named by its first argument,
// and always leaves "<its own path>.ran" so a test can see that it ran.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

int wmain()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (FILE *ran = _wfopen((std::wstring(self) + L".ran").c_str(), L"w"))
        fclose(ran);
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 2)
        return 2;
    const std::wstring target = arguments[1];
    const std::wstring partial = target + L".part";
    FILE *out = _wfopen(partial.c_str(), L"w, ccs=UTF-8");
    if (!out)
        return 3;
    const DWORD handles[] = { STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE };
    for (const DWORD which : handles) {
        const HANDLE handle = GetStdHandle(which);
        fwprintf(out, L"std %ls\n",
            handle == nullptr || handle == INVALID_HANDLE_VALUE ? L"none" : L"set");
    }
    wchar_t directory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    fwprintf(out, L"cwd %ls\n", directory);
    for (int i = 2; i < count; ++i)
        fwprintf(out, L"arg %ls\n", arguments[i]);
    fclose(out);
    LocalFree(arguments);
    return MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
