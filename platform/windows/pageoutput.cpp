#include "platform/pageoutput.h"

#include "platform/windows/devcontext.h"
#include "platform/windows/wintext.h"

#include <cstring>
#include <vector>

namespace vek::platform {

namespace {

constexpr std::size_t kBytesPerPixel = 4;

// The driver takes opaque pixels: a page with a transparent background is
// laid on white paper where it lies.
void LayOnWhite(const PageImage &page)
{
    if (page.alpha != PageAlpha::OverWhite)
        return;
    for (std::size_t y = 0; y < std::size_t(page.height); ++y) {
        std::uint8_t *pixel = page.bits + y * page.bytesPerLine;
        for (int x = 0; x < page.width; ++x, pixel += kBytesPerPixel) {
            std::uint32_t value;
            std::memcpy(&value, pixel, sizeof value);
            value = OnWhite(value);
            std::memcpy(pixel, &value, sizeof value);
        }
    }
}

// StretchDIBits takes rows of exactly width * 4 bytes of opaque pixels.
// Padded rows are copied into such a buffer; rows shorter than a pixel row
// are refused.
bool PackedRows(const PageImage &page, std::vector<std::uint8_t> &packed, const void *&bits)
{
    if (page.bits == nullptr || page.width < 1 || page.height < 1)
        return false;
    const std::size_t row = std::size_t(page.width) * kBytesPerPixel;
    if (page.bytesPerLine < row)
        return false;
    LayOnWhite(page);
    bits = page.bits;
    if (page.bytesPerLine == row)
        return true;
    packed.resize(row * std::size_t(page.height));
    for (std::size_t y = 0; y < std::size_t(page.height); ++y)
        std::memcpy(packed.data() + y * row, page.bits + y * page.bytesPerLine, row);
    bits = packed.data();
    return true;
}

class WindowsPageJob final : public PageJob {
public:
    WindowsPageJob(win::DeviceContext device, int jobId)
        : device_(std::move(device))
        , jobId_(std::uint32_t(jobId))
    {
    }
    ~WindowsPageJob() override { abort(); }

    std::uint32_t jobId() const override { return jobId_; }

    PrintableArea printableArea() const override
    {
        const HDC dc = device_.get();
        return PrintableArea { GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES),
            GetDeviceCaps(dc, LOGPIXELSX), GetDeviceCaps(dc, LOGPIXELSY) };
    }

    bool startPage() override { return StartPage(device_.get()) > 0; }

    bool drawPage(const PageImage &page, const PagePlacement &at) override
    {
        std::vector<std::uint8_t> packed;
        const void *bits = nullptr;
        if (!PackedRows(page, packed, bits))
            return false;
        BITMAPINFO info {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = page.width;
        info.bmiHeader.biHeight = -page.height;  // rows from the top down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        const HDC dc = device_.get();
        // HALFTONE needs the brush origin set again after choosing it.
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        const int lines = StretchDIBits(dc, at.x, at.y, at.width, at.height, 0, 0, page.width,
            page.height, bits, &info, DIB_RGB_COLORS, SRCCOPY);
        return lines != 0 && lines != static_cast<int>(GDI_ERROR);
    }

    bool endPage() override { return EndPage(device_.get()) > 0; }

    bool finish() override
    {
        if (ended_)
            return false;
        ended_ = true;
        return EndDoc(device_.get()) > 0;
    }

    void abort() override
    {
        if (ended_)
            return;
        ended_ = true;
        AbortDoc(device_.get());
    }

private:
    win::DeviceContext device_;
    std::uint32_t jobId_;
    bool ended_ = false;
};

}  // namespace

PageJobStart StartPageJob(
    const std::string &systemName, const Bytes &settings, const std::string &title)
{
    win::DeviceContext device = win::OpenPrinterDevice(systemName, settings);
    if (!device)
        return { nullptr, PageJobError::CannotOpen };

    const std::wstring documentName = win::ToWide(title);
    DOCINFOW info {};
    info.cbSize = sizeof(DOCINFOW);
    info.lpszDocName = documentName.c_str();
    const int jobId = StartDocW(device.get(), &info);
    if (jobId <= 0)
        return { nullptr, PageJobError::Rejected };
    return { std::make_unique<WindowsPageJob>(std::move(device), jobId), PageJobError::None };
}

}  // namespace vek::platform
