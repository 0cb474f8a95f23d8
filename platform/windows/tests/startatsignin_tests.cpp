#include "platform/startatsignin.h"

#include "platform/windows/wintext.h"

#include <doctest.h>
#include <optional>
#include <windows.h>

namespace vek::platform {
namespace {

const wchar_t *const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t *const kValueName = L"VekPrintAgent";

std::optional<std::wstring> StoredValue()
{
    DWORD bytes = 0;
    if (RegGetValueW(
            HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, nullptr, &bytes)
        != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(
            HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, text.data(), &bytes)
        != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

void Store(const std::optional<std::wstring> &value)
{
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(
                HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)
        == ERROR_SUCCESS);
    if (value) {
        RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(value->c_str()),
            static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, kValueName);
    }
    RegCloseKey(key);
}

// Puts back whatever the Run value held before the test, on every path.
struct RunValueRestorer {
    std::optional<std::wstring> saved = StoredValue();
    ~RunValueRestorer() { Store(saved); }
};

const std::string kProgram = "C:\\Program Files\\Vek Print Agent\\VekPrintAgent.exe";

TEST_CASE("The Run value holds the program's path in quotes, unchanged")
{
    RunValueRestorer restorer;
    Store(std::nullopt);
    const std::string paths[] = {
        kProgram,
        "C:\\Vek\\VekPrintAgent.exe",
        "C:\\Users\\Zo\xC3\xAB M\xC3\xBCller\\AppData\\Local\\Vek\\VekPrintAgent.exe",
    };
    for (const std::string &path : paths) {
        CAPTURE(path);
        CHECK(RunAtSignInCommand(path) == "\"" + path + "\"");
        CHECK_FALSE(IsRunAtSignInEnabled(path));
        REQUIRE(SetRunAtSignIn(true, path));
        CHECK(StoredValue() == L"\"" + win::ToWide(path) + L"\"");
        CHECK(IsRunAtSignInEnabled(path));
        REQUIRE(SetRunAtSignIn(false, path));
        CHECK_FALSE(StoredValue().has_value());
        CHECK_FALSE(IsRunAtSignInEnabled(path));
    }
}

TEST_CASE("An entry for another location reads as off until it is replaced")
{
    RunValueRestorer restorer;
    const char *const stale[] = {
        "\"D:\\Old copy\\VekPrintAgent.exe\"",
        "C:\\Program Files\\Vek Print Agent\\VekPrintAgent.exe",  // unquoted
        "\"c:\\program files\\vek print agent\\vekprintagent.exe\"",  // other case
        "\"C:\\Program Files\\Vek Print Agent\\VekPrintAgent.exe\" --printers",
        "",
    };
    for (const char *entry : stale) {
        CAPTURE(entry);
        Store(win::ToWide(entry));
        CHECK_FALSE(IsRunAtSignInEnabled(kProgram));
        REQUIRE(SetRunAtSignIn(true, kProgram));
        CHECK(StoredValue() == L"\"" + win::ToWide(kProgram) + L"\"");
        CHECK(IsRunAtSignInEnabled(kProgram));
    }
}

TEST_CASE("Switching off succeeds when there is nothing to remove")
{
    RunValueRestorer restorer;
    Store(std::nullopt);
    CHECK(SetRunAtSignIn(false, kProgram));
    CHECK(SetRunAtSignIn(false, kProgram));
    CHECK_FALSE(StoredValue().has_value());
}

}  // namespace
}  // namespace vek::platform
