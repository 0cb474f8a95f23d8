#pragma once
// The arithmetic of putting a PDF page on paper, shared by every backend: the
// size of the page's bitmap at the rendering resolution, and where the page
// lands in the printable area at its physical size.

#include "platform/pageoutput.h"

#include <QSize>

#include <optional>

namespace vek::printing {

// The bitmap of a page of width × height points (1/72 inch) at kRenderDpi,
// each side rounded up. Empty for a size that is not finite or not positive,
// or a bitmap over kMaxPagePixels.
std::optional<QSize> PageBitmapSize(double widthPt, double heightPt);

// The page at its physical size on the device, reduced evenly when it does
// not fit and never enlarged, at the top of the area and centred across it.
// Empty for an invalid page size or an area without size or resolution.
std::optional<platform::PagePlacement> PlacePage(
    double widthPt, double heightPt, const platform::PrintableArea &area);

}  // namespace vek::printing
