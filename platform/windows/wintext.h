#pragma once
// UTF-8 <-> UTF-16 for the wide-character Windows interfaces.

#include <string>
#include <string_view>

namespace vek::platform::win {

// Empty text, or text the system cannot convert, gives an empty result.
std::wstring ToWide(std::string_view utf8);
std::string ToUtf8(std::wstring_view utf16);

}  // namespace vek::platform::win
