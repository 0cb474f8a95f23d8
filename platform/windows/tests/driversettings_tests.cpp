#include "platform/driversettings.h"

#include "platform/windows/printerhandle.h"
#include "platform/windows/wintext.h"
#include "sink.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <doctest.h>

namespace vek::platform {
namespace {

constexpr const char *kQueue = "VekOffice";

template <typename T> T Field(const Bytes &block, std::size_t offset)
{
    T value {};
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

template <typename T> void SetField(Bytes &block, std::size_t offset, T value)
{
    std::memcpy(block.data() + offset, &value, sizeof value);
}

// The size the driver itself reports for its settings block.
long DriverBlockSize(const std::string &queue)
{
    std::wstring name = win::ToWide(queue);
    win::PrinterHandle printer;
    REQUIRE(OpenPrinterW(name.data(), printer.receive(), nullptr));
    return DocumentPropertiesW(nullptr, printer.get(), name.data(), nullptr, nullptr, 0);
}

Bytes Defaults()
{
    const Bytes block = CaptureDriverSettings(kQueue, 0, false, {});
    REQUIRE(block.size() >= sizeof(DEVMODEW));
    return block;
}

TEST_CASE("CaptureDriverSettings returns the driver's block, the same on every call")
{
    const Bytes first = Defaults();
    CHECK(long(first.size()) == DriverBlockSize(kQueue));
    CHECK(Field<WORD>(first, offsetof(DEVMODEW, dmSize))
            + Field<WORD>(first, offsetof(DEVMODEW, dmDriverExtra))
        == first.size());
    CHECK(CaptureDriverSettings(kQueue, 0, false, {}) == first);

    CHECK(CaptureDriverSettings("NoSuchQueue-" + test::UniqueMarker(), 0, false, {}).empty());
    // A NUL would cut the name short at the spooler, naming the test queue.
    CHECK(CaptureDriverSettings(std::string(kQueue) + std::string(1, '\0') + "x", 0, false, {})
              .empty());
}

TEST_CASE("CaptureDriverSettings starts from a seed only when it has the driver's shape")
{
    const Bytes defaults = Defaults();
    const short other
        = Field<short>(defaults, offsetof(DEVMODEW, dmOrientation)) == DMORIENT_LANDSCAPE
        ? DMORIENT_PORTRAIT
        : DMORIENT_LANDSCAPE;
    Bytes turned = defaults;
    SetField<DWORD>(turned, offsetof(DEVMODEW, dmFields),
        Field<DWORD>(turned, offsetof(DEVMODEW, dmFields)) | DM_ORIENTATION);
    SetField<short>(turned, offsetof(DEVMODEW, dmOrientation), other);

    SUBCASE("a seed of the driver's shape is used")
    {
        // Wine's driver keeps the seed as this process's defaults (Windows
        // keeps them only when asked to update), so put the defaults back.
        struct Restore {
            const Bytes &defaults;
            ~Restore() { CaptureDriverSettings(kQueue, 0, false, defaults); }
        } restore { defaults };
        const Bytes captured = CaptureDriverSettings(kQueue, 0, false, turned);
        REQUIRE(captured.size() == defaults.size());
        CHECK(Field<short>(captured, offsetof(DEVMODEW, dmOrientation)) == other);
    }
    SUBCASE("a seed of another size is ignored")
    {
        Bytes longer = turned;
        longer.push_back(0);
        SetField<WORD>(longer, offsetof(DEVMODEW, dmDriverExtra),
            WORD(Field<WORD>(longer, offsetof(DEVMODEW, dmDriverExtra)) + 1));
        CHECK(CaptureDriverSettings(kQueue, 0, false, longer) == defaults);
        Bytes shorter(turned.begin(), turned.end() - 1);
        CHECK(CaptureDriverSettings(kQueue, 0, false, shorter) == defaults);
    }
    SUBCASE("a seed whose own sizes disagree is ignored")
    {
        // The driver would read past the block's end.
        Bytes claimsMore = turned;
        SetField<WORD>(claimsMore, offsetof(DEVMODEW, dmDriverExtra),
            WORD(Field<WORD>(claimsMore, offsetof(DEVMODEW, dmDriverExtra)) + 64));
        CHECK(CaptureDriverSettings(kQueue, 0, false, claimsMore) == defaults);
        // The right total, split otherwise than the driver splits it.
        Bytes moved = turned;
        SetField<WORD>(moved, offsetof(DEVMODEW, dmSize),
            WORD(Field<WORD>(moved, offsetof(DEVMODEW, dmSize)) - 2));
        SetField<WORD>(moved, offsetof(DEVMODEW, dmDriverExtra),
            WORD(Field<WORD>(moved, offsetof(DEVMODEW, dmDriverExtra)) + 2));
        CHECK(CaptureDriverSettings(kQueue, 0, false, moved) == defaults);
    }
}

TEST_CASE("SettingsForPrinting takes a block of the installed driver and prints one copy")
{
    const Bytes defaults = Defaults();
    Bytes saved = defaults;
    SetField<DWORD>(saved, offsetof(DEVMODEW, dmFields),
        Field<DWORD>(saved, offsetof(DEVMODEW, dmFields)) & ~DWORD(DM_COPIES));
    SetField<short>(saved, offsetof(DEVMODEW, dmCopies), 5);

    const std::optional<Bytes> settings = SettingsForPrinting(kQueue, saved);
    REQUIRE(settings);
    CHECK((Field<DWORD>(*settings, offsetof(DEVMODEW, dmFields)) & DM_COPIES) != 0);
    CHECK(Field<short>(*settings, offsetof(DEVMODEW, dmCopies)) == 1);
    // Nothing else changes.
    Bytes expected = saved;
    std::memcpy(expected.data() + offsetof(DEVMODEW, dmFields),
        settings->data() + offsetof(DEVMODEW, dmFields), sizeof(DWORD));
    std::memcpy(expected.data() + offsetof(DEVMODEW, dmCopies),
        settings->data() + offsetof(DEVMODEW, dmCopies), sizeof(short));
    CHECK(*settings == expected);
}

TEST_CASE("SettingsForPrinting refuses a block the installed driver did not make")
{
    const Bytes defaults = Defaults();
    const auto changed = [&](std::size_t offset, int delta) {
        Bytes block = defaults;
        SetField<WORD>(block, offset, WORD(Field<WORD>(block, offset) + delta));
        return block;
    };
    Bytes resized = changed(offsetof(DEVMODEW, dmDriverExtra), 4);
    resized.resize(resized.size() + 4);
    Bytes moved = changed(offsetof(DEVMODEW, dmSize), -2);
    SetField<WORD>(moved, offsetof(DEVMODEW, dmDriverExtra),
        WORD(Field<WORD>(moved, offsetof(DEVMODEW, dmDriverExtra)) + 2));

    struct Case {
        const char *what;
        Bytes block;
    };
    const Case cases[] = {
        { "empty", {} },
        { "shorter than a DEVMODEW", Bytes(defaults.begin(), defaults.begin() + 219) },
        { "another size, consistent inside", resized },
        { "another dmSpecVersion", changed(offsetof(DEVMODEW, dmSpecVersion), 1) },
        { "another driver version", changed(offsetof(DEVMODEW, dmDriverVersion), 1) },
        { "private part claims more than the block",
            changed(offsetof(DEVMODEW, dmDriverExtra), 8) },
        { "public part claims more than the block", changed(offsetof(DEVMODEW, dmSize), 8) },
        { "same total, split otherwise", moved },
    };
    for (const Case &c : cases) {
        CAPTURE(c.what);
        CHECK_FALSE(SettingsForPrinting(kQueue, c.block));
    }
    CHECK_FALSE(SettingsForPrinting("NoSuchQueue-" + test::UniqueMarker(), defaults));
}

TEST_CASE("PhysicalPaperSize reads the sheet from a device made with the settings")
{
    const Bytes defaults = Defaults();
    const PaperSize size = PhysicalPaperSize(kQueue, defaults);
    CHECK(size.deviceOpened);
    const auto closeTo
        = [](double value, double expected) { return std::abs(value - expected) < 1; };
    const bool a4 = closeTo(size.widthMm, 210) && closeTo(size.heightMm, 297);
    const bool letter = closeTo(size.widthMm, 215.9) && closeTo(size.heightMm, 279.4);
    CAPTURE(size.widthMm);
    CAPTURE(size.heightMm);
    CHECK((a4 || letter));

    CHECK_FALSE(PhysicalPaperSize("NoSuchQueue-" + test::UniqueMarker(), defaults).deviceOpened);
    Bytes claimsMore = defaults;
    SetField<WORD>(claimsMore, offsetof(DEVMODEW, dmDriverExtra),
        WORD(Field<WORD>(claimsMore, offsetof(DEVMODEW, dmDriverExtra)) + 64));
    CHECK_FALSE(PhysicalPaperSize(kQueue, claimsMore).deviceOpened);
}

}  // namespace
}  // namespace vek::platform
