#include "platform/windows/winerror.h"

#include <doctest.h>
#include <windows.h>

namespace vek::platform::win {
namespace {

TEST_CASE("FormatWindowsError appends the code and the system text without line breaks")
{
    const DWORD codes[] = { ERROR_INVALID_PRINTER_NAME, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND };
    for (const DWORD code : codes) {
        CAPTURE(code);
        SetLastError(code);
        const std::string message = FormatWindowsError("Could not print");
        const std::string head = "Could not print (Windows error " + std::to_string(code) + ": ";
        REQUIRE(message.rfind(head, 0) == 0);
        CHECK(message.size() > head.size() + 1);  // some system text
        CHECK(message.back() == ')');
        CHECK(message.find_first_of("\r\n") == std::string::npos);
    }
}

TEST_CASE("FormatWindowsError leaves out the text when the system has none")
{
    const DWORD unknown = 0x20003039;  // application-defined: no system text
    SetLastError(unknown);
    CHECK(FormatWindowsError("Failed") == "Failed (Windows error 536883257)");
    CHECK(FormatWindowsError("", unknown) == " (Windows error 536883257)");
}

TEST_CASE("FormatWindowsError quotes the code it is given, not a later one")
{
    SetLastError(ERROR_ACCESS_DENIED);
    const std::string message = FormatWindowsError("Open", ERROR_INVALID_PRINTER_NAME);
    CHECK(message.rfind("Open (Windows error 1801: ", 0) == 0);
}

}  // namespace
}  // namespace vek::platform::win
