#include "platform/windows/wintext.h"

#include <doctest.h>

namespace vek::platform::win {
namespace {

TEST_CASE("Text converts between UTF-8 and UTF-16 without loss")
{
    struct Case {
        std::string utf8;
        std::wstring utf16;
    };
    const Case cases[] = {
        { "", L"" },
        { "VekLabel", L"VekLabel" },
        { "\xC3\x89tiquette", L"\u00C9tiquette" },
        { "\xE6\x9D\xB1\xE4\xBA\xAC", L"\u6771\u4EAC" },
        { "\xF0\x9F\x94\x91", L"\xD83D\xDD11" },  // outside the BMP: a surrogate pair
        { std::string("a\0b", 3), std::wstring(L"a\0b", 3) },
    };
    for (const Case &c : cases) {
        CAPTURE(c.utf8);
        CHECK(ToWide(c.utf8) == c.utf16);
        CHECK(ToUtf8(c.utf16) == c.utf8);
    }
}

}  // namespace
}  // namespace vek::platform::win
