#include "platform/windows/winerror.h"

#include "platform/windows/localmemory.h"
#include "platform/windows/wintext.h"

#include <string_view>
#include <windows.h>

namespace vek::platform::win {

namespace {

std::string SystemText(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
        | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length
        = FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    const LocalPtr<wchar_t> owner(buffer);
    if (length == 0 || buffer == nullptr)
        return {};
    std::string text = ToUtf8(std::wstring_view(buffer, length));
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text;
}

}  // namespace

std::string FormatWindowsError(const std::string &prefix)
{
    return FormatWindowsError(prefix, GetLastError());
}

std::string FormatWindowsError(const std::string &prefix, std::uint32_t code)
{
    const std::string text = SystemText(code);
    std::string message = prefix + " (Windows error " + std::to_string(code);
    if (!text.empty())
        message += ": " + text;
    return message + ")";
}

}  // namespace vek::platform::win
