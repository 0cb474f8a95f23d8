#pragma once
// Prints page bitmaps through a queue's driver, with a saved driver settings
// block, as one spool job. The caller renders each page and decides where it
// goes inside the printable area; the backend scales it there (halftoning
// where the system offers it) and hands the pages to the spooler.

#include "platform/driversettings.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vek::platform {

// The drawable part of the sheet in device pixels, and the device's
// resolution in dots per inch.
struct PrintableArea {
    int width = 0;
    int height = 0;
    int dpiX = 0;
    int dpiY = 0;
};

// Where a page lands, in device pixels from the printable area's top-left
// corner.
struct PagePlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// What the fourth byte of a page bitmap's pixels means.
enum class PageAlpha {
    Unused,  // every pixel is opaque
    // The pixel's coverage (straight, not premultiplied); what it leaves
    // uncovered is white paper. A renderer leaves a page's background
    // transparent; laying it on white is left to the backend, which does it
    // where it reads the pixels rather than in a pass over the whole page.
    OverWhite,
};

// A page bitmap: 32 bits per pixel, each pixel the bytes blue, green, red and
// a fourth byte (a little-endian 0xAARRGGBB), rows from the top down. The
// backend may rewrite the pixels in place while it draws the page.
struct PageImage {
    std::uint8_t *bits = nullptr;
    int width = 0;
    int height = 0;
    std::size_t bytesPerLine = 0;
    PageAlpha alpha = PageAlpha::Unused;
};

// A pixel with straight alpha laid on white paper, as an opaque pixel with
// the fourth byte 0xff. Each colour byte c becomes 255 - (255 - c) * a / 255,
// rounded to the nearest; the same as premultiplying and adding the white
// that the alpha leaves uncovered.
constexpr std::uint32_t OnWhite(std::uint32_t pixel)
{
    const std::uint32_t alpha = pixel >> 24;
    if (alpha == 0xff)
        return pixel;
    if (alpha == 0)
        return 0xffffffffu;
    std::uint32_t opaque = 0xff000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const std::uint32_t product = (255u - ((pixel >> shift) & 0xffu)) * alpha + 128u;
        opaque |= (255u - ((product + (product >> 8)) >> 8)) << shift;
    }
    return opaque;
}

// One open spool job. Destroying a job that was neither finished nor aborted
// aborts it.
class PageJob {
public:
    virtual ~PageJob() = default;
    // The spooler's job number; never 0 for a started job.
    virtual std::uint32_t jobId() const = 0;
    virtual PrintableArea printableArea() const = 0;
    // Each returns false when the device or spooler failed; the job should
    // then be aborted.
    virtual bool startPage() = 0;
    virtual bool drawPage(const PageImage &page, const PagePlacement &at) = 0;
    virtual bool endPage() = 0;
    // Ends the document; true only when the spooler took the whole job.
    virtual bool finish() = 0;
    // Removes what was spooled of the job, as far as the spooler allows.
    virtual void abort() = 0;
};

enum class PageJobError {
    None = 0,
    CannotOpen = 1,  // no device for the queue with these settings
    Rejected = 2,  // the device opened, but the spooler refused to start a job
};

struct PageJobStart {
    std::unique_ptr<PageJob> job;  // set exactly when error is None
    PageJobError error = PageJobError::None;
};

// Opens a device for the queue with the settings (as returned by
// SettingsForPrinting) and starts a job titled title (already cut to the
// spooler's limit).
PageJobStart StartPageJob(
    const std::string &systemName, const Bytes &settings, const std::string &title);

}  // namespace vek::platform
