#include "platform/credentialseal.h"

#include "platform/windows/localmemory.h"

#include <algorithm>
#include <doctest.h>
#include <windows.h>

#include <dpapi.h>

namespace vek::platform {
namespace {

Bytes ToBytes(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

bool Contains(const Bytes &haystack, const Bytes &needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end())
        != haystack.end();
}

TEST_CASE("A sealed secret unseals to the same bytes and is not stored in the clear")
{
    const Bytes secrets[] = {
        ToBytes("vek-token-0123456789abcdef0123456789abcdef"),
        ToBytes("t\xC3\xB6k\xC3\xA9n \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x94\x91"),
        Bytes { 0x00, 0xFF, 0x00, 0x7F },
        Bytes { 'x' },
    };
    for (const Bytes &secret : secrets) {
        CAPTURE(std::string(secret.begin(), secret.end()));
        const std::optional<Bytes> sealed = SealForCurrentUser(secret, VEK_APP_NAME);
        REQUIRE(sealed.has_value());
        CHECK_FALSE(sealed->empty());
        if (secret.size() >= 4)
            CHECK_FALSE(Contains(*sealed, secret));
        CHECK(UnsealForCurrentUser(*sealed) == secret);
    }
}

TEST_CASE("The sealed blob records the application name as its description")
{
    const std::optional<Bytes> sealed = SealForCurrentUser(ToBytes("token"), VEK_APP_NAME);
    REQUIRE(sealed.has_value());
    DATA_BLOB in { static_cast<DWORD>(sealed->size()), const_cast<BYTE *>(sealed->data()) };
    DATA_BLOB out {};
    wchar_t *description = nullptr;
    REQUIRE(CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out));
    const win::LocalPtr<BYTE> plain(out.pbData);
    const win::LocalPtr<wchar_t> text(description);
    REQUIRE(description != nullptr);
    CHECK(std::wstring(description) == L"" VEK_APP_NAME);
}

TEST_CASE("Damaged, foreign or empty blobs do not unseal")
{
    const Bytes secret = ToBytes("vek-token-to-damage");
    const std::optional<Bytes> sealed = SealForCurrentUser(secret, VEK_APP_NAME);
    REQUIRE(sealed.has_value());
    REQUIRE(sealed->size() > 8);

    SUBCASE("a flipped byte in the encrypted part or the signature")
    {
        for (const std::size_t fromEnd : { std::size_t { 1 }, sealed->size() / 3 }) {
            CAPTURE(fromEnd);
            Bytes damaged = *sealed;
            damaged[damaged.size() - fromEnd] ^= 0x5A;
            CHECK_FALSE(UnsealForCurrentUser(damaged).has_value());
        }
    }
    SUBCASE("a truncated blob")
    {
        const Bytes truncated(sealed->begin(), sealed->end() - 4);
        CHECK_FALSE(UnsealForCurrentUser(truncated).has_value());
    }
    SUBCASE("bytes that were never sealed")
    {
        CHECK_FALSE(UnsealForCurrentUser(secret).has_value());
    }
    SUBCASE("an empty blob")
    {
        CHECK_FALSE(UnsealForCurrentUser({}).has_value());
    }
}

}  // namespace
}  // namespace vek::platform
