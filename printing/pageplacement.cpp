#include "printing/pageplacement.h"

#include "printing/pdfprint.h"

#include <algorithm>
#include <cmath>

namespace vek::printing {

namespace {

constexpr double kPointsPerInch = 72.0;

bool IsPositiveSize(double widthPt, double heightPt)
{
    return std::isfinite(widthPt) && std::isfinite(heightPt) && widthPt > 0 && heightPt > 0;
}

}  // namespace

std::optional<QSize> PageBitmapSize(double widthPt, double heightPt)
{
    if (!IsPositiveSize(widthPt, heightPt))
        return std::nullopt;
    const double width = std::ceil(widthPt * kRenderDpi / kPointsPerInch);
    const double height = std::ceil(heightPt * kRenderDpi / kPointsPerInch);
    // Each side is at least 1, so each is below the cap when the product is;
    // comparing in doubles first keeps the conversions defined.
    if (!(width * height <= static_cast<double>(kMaxPagePixels)))
        return std::nullopt;
    return QSize(static_cast<int>(width), static_cast<int>(height));
}

std::optional<platform::PagePlacement> PlacePage(
    double widthPt, double heightPt, const platform::PrintableArea &area)
{
    if (!IsPositiveSize(widthPt, heightPt) || area.width <= 0 || area.height <= 0 || area.dpiX <= 0
        || area.dpiY <= 0)
        return std::nullopt;
    const double targetWidth = widthPt / kPointsPerInch * area.dpiX;
    const double targetHeight = heightPt / kPointsPerInch * area.dpiY;
    if (!std::isfinite(targetWidth) || !std::isfinite(targetHeight))
        return std::nullopt;
    const double scale = std::min({ 1.0, area.width / targetWidth, area.height / targetHeight });
    // Cut to whole pixels inside the area; a sliver of a page still gets one.
    // The tolerance keeps a side scaled to fit the area exactly from losing a
    // pixel to the rounding of the division.
    const auto cut = [](double size, int limit) {
        return static_cast<int>(
            std::clamp(std::floor(size + 1e-6), 1.0, static_cast<double>(limit)));
    };
    platform::PagePlacement at;
    at.width = cut(targetWidth * scale, area.width);
    at.height = cut(targetHeight * scale, area.height);
    at.x = (area.width - at.width) / 2;
    at.y = 0;
    return at;
}

}  // namespace vek::printing
