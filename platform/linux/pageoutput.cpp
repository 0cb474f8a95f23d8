// Page bitmaps to a CUPS queue as one PWG raster document: one raster page
// per sheet, the whole sheet of the settings' media at the raster
// resolution, streamed to the scheduler one row at a time.

#include "platform/pageoutput.h"

#include "cupsobjects.h"
#include "queuecapabilities.h"
#include "rasterwriter.h"
#include "rowscaler.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <malloc.h>
#include <mutex>
#include <optional>
#include <string_view>

namespace vek::platform {
namespace {

using linuxbackend::ConnectToScheduler;
using linuxbackend::HttpPtr;
using linuxbackend::MediaSize;
using linuxbackend::OptionArray;
using linuxbackend::QueueCapabilities;
using linuxbackend::RasterPtr;
using linuxbackend::RasterWriter;
using linuxbackend::RowScaler;
using linuxbackend::SettingsBlock;

constexpr int kDefaultDpi = 300;
// Beyond these the sheet is not a sheet a printer takes.
constexpr int kMinDpi = 72;
constexpr int kMaxDpi = 2400;
constexpr unsigned kMaxSheetPixels = 200000;

std::string OptionOf(const SettingsBlock &block, const char *keyword)
{
    const auto it = block.options.find(keyword);
    return it == block.options.end() ? std::string() : it->second;
}

std::optional<int> Dots(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < kMinDpi
        || value > kMaxDpi)
        return std::nullopt;
    return value;
}

// A PPD resolution choice, "600dpi" or "600x300dpi"; the default for anything else.
std::pair<int, int> RasterResolution(const SettingsBlock &block)
{
    const std::string resolution = OptionOf(block, "Resolution");
    constexpr std::string_view kUnit = "dpi";
    if (!resolution.ends_with(kUnit))
        return { kDefaultDpi, kDefaultDpi };
    const std::string_view dots
        = std::string_view(resolution).substr(0, resolution.size() - kUnit.size());
    const std::size_t cross = dots.find('x');
    const std::optional<int> x = Dots(dots.substr(0, cross));
    const std::optional<int> y = cross == std::string_view::npos ? x : Dots(dots.substr(cross + 1));
    if (!x || !y)
        return { kDefaultDpi, kDefaultDpi };
    return { *x, *y };
}

int MarginPixels(int hundredthsMm, int dpi)
{
    return int(std::lround(std::max(0, hundredthsMm) * double(dpi) / 2540.0));
}

// The raster page every sheet of the job gets, and where its printable area lies.
struct SheetLayout {
    cups_page_header2_t header {};
    RowScaler::Output output = RowScaler::Output::Rgb;
    int left = 0;
    int top = 0;
    PrintableArea printable;
};

// Grey when the settings ask for it, or when the queue takes grey raster but
// not colour.
bool GrayRaster(const SettingsBlock &block, const QueueCapabilities &caps)
{
    if (OptionOf(block, "print-color-mode") == "monochrome")
        return true;
    const std::vector<std::string> types = caps.supported("pwg-raster-document-type");
    auto has = [&](const char *type) {
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    return has("sgray_8") && !has("srgb_8");
}

std::optional<SheetLayout> LayOutSheet(
    const SettingsBlock &block, const MediaSize &media, bool gray)
{
    const auto [dpiX, dpiY] = RasterResolution(block);
    std::string sides = OptionOf(block, "sides");
    if (sides.empty())
        sides = "one-sided";
    SheetLayout layout;
    layout.output = gray ? RowScaler::Output::Gray : RowScaler::Output::Rgb;
    pwg_media_t pwg { media.name.c_str(), nullptr, nullptr, media.width, media.length };
    if (media.width <= 0 || media.length <= 0
        || !cupsRasterInitPWGHeader(
            &layout.header, &pwg, gray ? "sgray_8" : "srgb_8", dpiX, dpiY, sides.c_str(), nullptr))
        return std::nullopt;
    const cups_page_header2_t &header = layout.header;
    if (header.cupsWidth < 1 || header.cupsHeight < 1 || header.cupsWidth > kMaxSheetPixels
        || header.cupsHeight > kMaxSheetPixels)
        return std::nullopt;

    layout.left = MarginPixels(media.left, dpiX);
    layout.top = MarginPixels(media.top, dpiY);
    const int right = MarginPixels(media.right, dpiX);
    const int bottom = MarginPixels(media.bottom, dpiY);
    layout.printable = { int(header.cupsWidth) - layout.left - right,
        int(header.cupsHeight) - layout.top - bottom, dpiX, dpiY };
    if (layout.printable.width < 1 || layout.printable.height < 1)
        return std::nullopt;
    return layout;
}

// The raster stream's writer: every byte goes into the open document.
ssize_t WriteToScheduler(void *context, unsigned char *bytes, size_t length)
{
    return cupsWriteRequestData(
               static_cast<http_t *>(context), reinterpret_cast<const char *>(bytes), length)
            == HTTP_STATUS_CONTINUE
        ? ssize_t(length)
        : -1;
}

void CancelJob(const std::string &queue, int job)
{
    // The job's own connection may be in the middle of a document.
    const HttpPtr http = ConnectToScheduler();
    if (http)
        cupsCancelJob2(http.get(), queue.c_str(), job, 0);
}

class CupsPageJob final : public PageJob {
public:
    CupsPageJob(std::string queue, HttpPtr http, int job, RasterPtr raster, SheetLayout layout)
        : m_queue(std::move(queue))
        , m_http(std::move(http))
        , m_job(job)
        , m_raster(std::move(raster))
        , m_writer(std::make_unique<RasterWriter>(m_raster.get(), WriteToScheduler, m_http.get(),
              layout.header.cupsBitsPerPixel / 8, layout.header.cupsBytesPerLine))
        , m_layout(layout)
    {
    }
    ~CupsPageJob() override { abort(); }

    std::uint32_t jobId() const override { return static_cast<std::uint32_t>(m_job); }
    PrintableArea printableArea() const override { return m_layout.printable; }

    bool startPage() override
    {
        if (m_state != State::BetweenPages)
            return fail();
        if (!m_writer->startPage(m_layout.header))
            return fail();
        m_rowsWritten = 0;
        m_state = State::InPage;
        return true;
    }

    bool drawPage(const PageImage &page, const PagePlacement &at) override
    {
        if (m_state != State::InPage || m_rowsWritten != 0)
            return fail();
        if (!page.bits || page.width < 1 || page.height < 1 || at.width < 1 || at.height < 1
            || page.bytesPerLine < std::size_t(page.width) * 4)
            return fail();
        const PrintableArea &area = m_layout.printable;
        // The drawn part, in sheet pixels, cut to the printable area.
        const long long left = (long long)m_layout.left + at.x;
        const long long top = (long long)m_layout.top + at.y;
        const long long firstX = std::max<long long>(left, m_layout.left);
        const long long endX = std::min<long long>(left + at.width, m_layout.left + area.width);
        const long long firstY = std::max<long long>(top, m_layout.top);
        const long long endY = std::min<long long>(top + at.height, m_layout.top + area.height);
        if (firstX >= endX || firstY >= endY)
            return writeWhiteRows(m_layout.header.cupsHeight) || fail();

        RowScaler scaler(
            page, at.width, at.height, int(firstX - left), int(endX - left), m_layout.output);
        const std::size_t channels = std::size_t(scaler.channels());
        const std::size_t drawnFirst = std::size_t(firstX) * channels;
        if (!writeWhiteRows(unsigned(firstY)))
            return fail();
        for (long long y = firstY; y < endY; ++y) {
            if (scaler.rowIsWhite(int(y - top))) {
                if (!addWhiteRows(1))
                    return fail();
                continue;
            }
            std::uint8_t *row = m_writer->nextRow();
            if (!row)
                return fail();
            // Only the inked columns are written; the writer makes the rest white.
            const RowScaler::Span inked = scaler.row(int(y - top), row + drawnFirst);
            if (!addRow(unsigned(drawnFirst + std::size_t(inked.first) * channels),
                    unsigned(drawnFirst + std::size_t(inked.end) * channels)))
                return fail();
        }
        return writeWhiteRows(m_layout.header.cupsHeight) || fail();
    }

    bool endPage() override
    {
        if (m_state != State::InPage)
            return fail();
        // A page that was started but not drawn comes out blank.
        if (!writeWhiteRows(m_layout.header.cupsHeight))
            return fail();
        m_state = State::BetweenPages;
        return true;
    }

    bool finish() override
    {
        if (m_state != State::BetweenPages) {
            abort();
            return false;
        }
        const bool written = m_writer->finish();
        m_writer.reset();
        m_raster.reset();
        if (!written) {
            abort();
            return false;
        }
        // A queue that cannot take the format refuses it only here, once it has the document.
        const ipp_status_t status = cupsFinishDocument(m_http.get(), m_queue.c_str());
        if (status > IPP_STATUS_OK_EVENTS_COMPLETE) {
            abort();
            return false;
        }
        m_http.reset();
        m_state = State::Done;
        return true;
    }

    void abort() override
    {
        if (m_state == State::Done)
            return;
        m_state = State::Done;
        m_writer.reset();
        m_raster.reset();
        m_http.reset();
        CancelJob(m_queue, m_job);
    }

private:
    enum class State { BetweenPages, InPage, Failed, Done };

    bool fail()
    {
        if (m_state != State::Done)
            m_state = State::Failed;
        return false;
    }

    bool addRow(unsigned first, unsigned end)
    {
        if (!m_writer->addRow(first, end))
            return false;
        ++m_rowsWritten;
        return true;
    }

    bool addWhiteRows(unsigned count)
    {
        if (!m_writer->addWhiteRows(count))
            return false;
        m_rowsWritten += count;
        return true;
    }

    // White rows up to (not including) row end.
    bool writeWhiteRows(unsigned end)
    {
        return m_rowsWritten >= end || addWhiteRows(end - m_rowsWritten);
    }

    std::string m_queue;
    HttpPtr m_http;
    int m_job;
    RasterPtr m_raster;
    std::unique_ptr<RasterWriter> m_writer;  // writes the document on a thread of its own
    SheetLayout m_layout;
    unsigned m_rowsWritten = 0;
    State m_state = State::BetweenPages;
};

// Page bitmaps are tens of megabytes and differ in size from page to page.
// The C library's allocator raises its threshold for serving blocks from the
// system after each large one is freed, and then keeps the next bitmaps in
// its heap, which does not shrink: a long job would hold several pages'
// worth of freed memory. A fixed threshold returns every bitmap when freed.
void ReturnPageBitmapsToTheSystem()
{
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 1 << 20); });
}

PageJobStart Failure(PageJobError error)
{
    return { nullptr, error };
}

}  // namespace

PageJobStart StartPageJob(
    const std::string &systemName, const Bytes &settings, const std::string &title)
{
    ReturnPageBitmapsToTheSystem();
    std::optional<SheetLayout> layout;
    OptionArray options;
    {
        const auto caps = QueueCapabilities::Open(systemName);
        const auto block = caps ? caps->accept(settings) : std::nullopt;
        const auto media = block ? caps->mediaSize(*block) : std::nullopt;
        if (media)
            layout = LayOutSheet(*block, *media, GrayRaster(*block, *caps));
        if (!layout)
            return Failure(PageJobError::CannotOpen);
        for (const auto &[keyword, value] : block->options)
            options.add(keyword, value);
        // Copies are made by the caller, page by page.
        options.add("copies", "1");
    }

    HttpPtr http = ConnectToScheduler();
    if (!http)
        return Failure(PageJobError::CannotOpen);
    const int job = cupsCreateJob(
        http.get(), systemName.c_str(), title.c_str(), options.count(), options.data());
    if (job <= 0)
        return Failure(PageJobError::Rejected);
    if (cupsStartDocument(http.get(), systemName.c_str(), job, title.c_str(), "image/pwg-raster", 1)
        != HTTP_STATUS_CONTINUE) {
        http.reset();
        CancelJob(systemName, job);
        return Failure(PageJobError::Rejected);
    }
    RasterPtr raster(cupsRasterOpenIO(WriteToScheduler, http.get(), CUPS_RASTER_WRITE_PWG));
    if (!raster) {
        http.reset();
        CancelJob(systemName, job);
        return Failure(PageJobError::Rejected);
    }
    return { std::make_unique<CupsPageJob>(
                 systemName, std::move(http), job, std::move(raster), *layout),
        PageJobError::None };
}

}  // namespace vek::platform
