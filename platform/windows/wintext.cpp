#include "platform/windows/wintext.h"

#include <climits>
#include <windows.h>

namespace vek::platform::win {

std::wstring ToWide(std::string_view utf8)
{
    if (utf8.empty() || utf8.size() > INT_MAX)
        return {};
    const int inLength = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, wide.data(), length) != length)
        return {};
    return wide;
}

std::string ToUtf8(std::wstring_view utf16)
{
    if (utf16.empty() || utf16.size() > INT_MAX)
        return {};
    const int inLength = static_cast<int>(utf16.size());
    const int length
        = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string utf8(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(
            CP_UTF8, 0, utf16.data(), inLength, utf8.data(), length, nullptr, nullptr)
        != length)
        return {};
    return utf8;
}

}  // namespace vek::platform::win
