#include "platform/machineguid.h"

#include "platform/windows/wintext.h"

#include <cwchar>
#include <windows.h>

namespace vek::platform {

std::string MachineGuid()
{
    const wchar_t *const key = L"SOFTWARE\\Microsoft\\Cryptography";
    const wchar_t *const value = L"MachineGuid";
    // The 64-bit view: a 32-bit process would otherwise read a redirected key.
    const DWORD flags = RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY;
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, flags, nullptr, nullptr, &bytes)
        != ERROR_SUCCESS)
        return {};
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, flags, nullptr, text.data(), &bytes)
        != ERROR_SUCCESS)
        return {};
    text.resize(wcsnlen(text.c_str(), text.size()));
    return win::ToUtf8(text);
}

}  // namespace vek::platform
