#include "platform/pageoutput.h"

#include "platform/rawspool.h"
#include "postscript.h"
#include "sink.h"

#include <algorithm>
#include <cstring>
#include <doctest.h>
#include <string_view>
#include <vector>

namespace vek::platform {
namespace {

constexpr const char *kQueue = "VekOffice";

Bytes PrintSettings()
{
    const std::optional<Bytes> settings
        = SettingsForPrinting(kQueue, CaptureDriverSettings(kQueue, 0, false, {}));
    REQUIRE(settings);
    return *settings;
}

// A small test bitmap whose blue, green and red differ, with its rows
// padded by padding bytes; with straight alpha, its coverage runs from
// transparent to opaque.
struct Bitmap {
    std::vector<std::uint8_t> bits;
    PageImage image;
    Bytes rgb;  // the pixels as printed: red, green, blue, unpadded

    Bitmap(int width, int height, std::size_t padding = 0, PageAlpha alpha = PageAlpha::Unused)
    {
        const std::size_t bytesPerLine = std::size_t(width) * 4 + padding;
        bits.assign(bytesPerLine * std::size_t(height), 0xEE);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto ramp = std::uint8_t((x * 7 + y * 31) % 256);
                const std::uint8_t red = 255 - ramp, green = std::uint8_t(40 * y), blue = ramp;
                std::uint8_t *pixel = &bits[std::size_t(y) * bytesPerLine + std::size_t(x) * 4];
                pixel[0] = blue;
                pixel[1] = green;
                pixel[2] = red;
                if (alpha == PageAlpha::OverWhite) {
                    pixel[3] = std::uint8_t(std::min(255, x * 255 / std::max(1, width - 2)));
                    std::uint32_t value;
                    std::memcpy(&value, pixel, sizeof value);
                    value = OnWhite(value);
                    rgb.insert(rgb.end(),
                        { std::uint8_t(value >> 16), std::uint8_t(value >> 8),
                            std::uint8_t(value) });
                } else {
                    rgb.insert(rgb.end(), { red, green, blue });
                }
            }
        }
        image = PageImage { bits.data(), width, height, bytesPerLine, alpha };
    }
};

std::size_t Count(const Bytes &bytes, std::string_view text)
{
    const std::string_view all(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    std::size_t count = 0;
    for (std::size_t at = all.find(text); at != std::string_view::npos;
         at = all.find(text, at + text.size()))
        ++count;
    return count;
}

TEST_CASE("A page job prints every copy of every page in one titled job")
{
    const std::string title = "Vek order-123 " + test::UniqueMarker();
    PageJobStart start = StartPageJob(kQueue, PrintSettings(), title);
    REQUIRE(start.error == PageJobError::None);
    REQUIRE(start.job);
    PageJob &job = *start.job;
    CHECK(job.jobId() != 0);

    const PrintableArea area = job.printableArea();
    CHECK(area.width > 0);
    CHECK(area.height > 0);
    CHECK(area.dpiX > 0);
    CHECK(area.dpiY > 0);

    // The second with padded rows and a background that the renderer left
    // transparent, which comes out on white.
    Bitmap pages[] = { Bitmap(8, 6), Bitmap(5, 4, 12, PageAlpha::OverWhite) };
    for (int copy = 0; copy < 3; ++copy) {
        for (const Bitmap &page : pages) {
            CAPTURE(copy);
            REQUIRE(job.startPage());
            const PagePlacement at { 10, 20, area.width / 2, area.height / 3 };
            REQUIRE(job.drawPage(page.image, at));
            REQUIRE(job.endPage());
        }
    }
    REQUIRE(job.finish());

    // Wine's printer driver hands the pages to the queue as PostScript.
    const std::optional<Bytes> printed = test::WaitForJobContaining(kQueue, title);
    REQUIRE(printed);
    CHECK(Count(*printed, "%%Page:") == 6);
    CHECK(Count(*printed, "%%Title: " + title) == 1);

    // Each page's pixels arrive as drawn, top row first, where they were put.
    const std::vector<test::PostScriptImage> images = test::ReadPostScriptImages(*printed);
    REQUIRE(images.size() == 6);
    const std::string placement = "10 20 translate\n" + std::to_string(area.width / 2) + " "
        + std::to_string(area.height / 3) + " scale";
    for (std::size_t i = 0; i < images.size(); ++i) {
        CAPTURE(i);
        const Bitmap &page = pages[i % 2];
        CHECK(images[i].width == page.image.width);
        CHECK(images[i].height == page.image.height);
        CHECK(images[i].placement == placement);
        // Rows from the top down, as the page was drawn.
        CHECK(images[i].matrix
            == std::to_string(page.image.width) + " 0 0 " + std::to_string(page.image.height)
                + " 0 0");
        CHECK(images[i].rgb == page.rgb);
    }
}

TEST_CASE("A page job that cannot open a device says so")
{
    const Bytes settings = PrintSettings();
    Bytes claimsMore = settings;
    claimsMore.pop_back();  // the block now says it holds one byte more than it does

    struct Case {
        const char *what;
        std::string queue;
        Bytes settings;
    };
    const Case cases[] = {
        { "missing queue", "NoSuchQueue-" + test::UniqueMarker(), settings },
        { "NUL in the queue name", std::string(kQueue) + std::string(1, '\0') + "x", settings },
        { "no settings", kQueue, {} },
        { "settings whose sizes disagree", kQueue, claimsMore },
    };
    for (const Case &c : cases) {
        CAPTURE(c.what);
        const PageJobStart start = StartPageJob(c.queue, c.settings, "Vek order-1");
        CHECK(start.error == PageJobError::CannotOpen);
        CHECK_FALSE(start.job);
    }
}

TEST_CASE("A page job that is aborted or dropped prints nothing")
{
    const std::string aborted = "Vek aborted " + test::UniqueMarker();
    const std::string dropped = "Vek dropped " + test::UniqueMarker();
    const Bitmap page(8, 6);
    for (const std::string &title : { aborted, dropped }) {
        CAPTURE(title);
        PageJobStart start = StartPageJob(kQueue, PrintSettings(), title);
        REQUIRE(start.job);
        REQUIRE(start.job->startPage());
        REQUIRE(start.job->drawPage(page.image, PagePlacement { 0, 0, 80, 60 }));
        // Rows shorter than the width are refused, not read past.
        PageImage shortRows = page.image;
        shortRows.bytesPerLine = 8 * 4 - 1;
        CHECK_FALSE(start.job->drawPage(shortRows, PagePlacement { 0, 0, 80, 60 }));
        if (title == aborted)
            start.job->abort();
    }

    // The queue delivers in order: once a later job arrived, neither came.
    const std::string later = test::UniqueMarker();
    REQUIRE(PrintRaw(kQueue, "later", Bytes(later.begin(), later.end())).status
        == RawPrintStatus::Sent);
    REQUIRE(test::WaitForJobContaining(kQueue, later));
    CHECK_FALSE(test::HasJobContaining(kQueue, aborted));
    CHECK_FALSE(test::HasJobContaining(kQueue, dropped));
}

}  // namespace
}  // namespace vek::platform
