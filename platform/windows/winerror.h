#pragma once
// Windows error codes as text appended to an English sentence.

#include <cstdint>
#include <string>

namespace vek::platform::win {

// prefix + " (Windows error <code>: <system text>)", or " (Windows error <code>)"
// when the system has no text. This overload reads GetLastError() itself.
std::string FormatWindowsError(const std::string &prefix);

// For callers that captured the code before making other calls.
std::string FormatWindowsError(const std::string &prefix, std::uint32_t code);

}  // namespace vek::platform::win
