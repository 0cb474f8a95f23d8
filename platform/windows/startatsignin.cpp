#include "platform/startatsignin.h"

#include "platform/windows/wintext.h"

#include <algorithm>
#include <cwchar>
#include <windows.h>

namespace vek::platform {
namespace {

const wchar_t *const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t *const kValueName = L"VekPrintAgent";

class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    ~RegistryKey()
    {
        if (handle_ != nullptr)
            RegCloseKey(handle_);
    }
    HKEY *out() { return &handle_; }
    HKEY get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

// The Run value as stored, or empty when it is missing or not a string.
std::wstring ReadRunValue()
{
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS)
        return {};
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), kValueName, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(
            key.get(), kValueName, nullptr, &type, reinterpret_cast<BYTE *>(text.data()), &bytes)
        != ERROR_SUCCESS)
        return {};
    // The stored data may or may not end with its terminating zero.
    text.resize(wcsnlen(text.c_str(), std::min<std::size_t>(text.size(), bytes / sizeof(wchar_t))));
    return text;
}

}  // namespace

std::string RunAtSignInCommand(const std::string &programPath)
{
    return "\"" + programPath + "\"";
}

bool IsRunAtSignInEnabled(const std::string &programPath)
{
    const std::wstring stored = ReadRunValue();
    return !stored.empty() && stored == win::ToWide(RunAtSignInCommand(programPath));
}

bool SetRunAtSignIn(bool enabled, const std::string &programPath)
{
    RegistryKey key;
    if (!enabled) {
        const LSTATUS opened
            = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, key.out());
        if (opened == ERROR_FILE_NOT_FOUND)
            return true;
        if (opened != ERROR_SUCCESS)
            return false;
        const LSTATUS removed = RegDeleteValueW(key.get(), kValueName);
        return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
    }
    const std::wstring command = win::ToWide(RunAtSignInCommand(programPath));
    if (programPath.empty() || command.empty())
        return false;
    if (RegCreateKeyExW(
            HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.out(), nullptr)
        != ERROR_SUCCESS)
        return false;
    const auto bytes = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), kValueName, 0, REG_SZ,
               reinterpret_cast<const BYTE *>(command.c_str()), bytes)
        == ERROR_SUCCESS;
}

}  // namespace vek::platform
