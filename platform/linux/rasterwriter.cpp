#include "rasterwriter.h"

namespace vek::platform::linuxbackend {
namespace {

// Enough rows in flight that neither side waits on the other row by row,
// few enough to stay well below a page: under 2 MB for an A4 sheet at 300 dpi.
constexpr unsigned kRowsPerBlock = 32;
constexpr unsigned kBlocks = 8;

}  // namespace

RasterWriter::RasterWriter(cups_raster_t *raster, unsigned bytesPerLine)
    : m_raster(raster)
    , m_bytesPerLine(bytesPerLine)
    , m_blocks(kBlocks)
{
    for (Block &block : m_blocks) {
        block.bytes.resize(std::size_t(bytesPerLine) * kRowsPerBlock);
        m_free.push_back(&block);
    }
    m_thread = std::thread([this] { run(); });
}

RasterWriter::~RasterWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
        // Nothing more is written once the owner gives up on the document.
        m_full.clear();
    }
    m_changed.notify_all();
    m_thread.join();
}

bool RasterWriter::takeFreeBlock()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failed || !m_free.empty(); });
    if (m_failed)
        return false;
    m_filling = m_free.back();
    m_free.pop_back();
    m_filling->startsPage = false;
    m_filling->rows = 0;
    return true;
}

bool RasterWriter::handOver()
{
    if (!m_filling)
        return true;
    {
        const std::lock_guard lock(m_mutex);
        if (m_failed)
            return false;
        m_full.push_back(m_filling);
    }
    m_filling = nullptr;
    m_changed.notify_all();
    return true;
}

bool RasterWriter::startPage(const cups_page_header2_t &header)
{
    if (header.cupsBytesPerLine != m_bytesPerLine || !handOver() || !takeFreeBlock())
        return false;
    m_filling->startsPage = true;
    m_filling->header = header;
    return true;
}

std::uint8_t *RasterWriter::nextRow()
{
    if (m_filling && m_filling->rows == kRowsPerBlock && !handOver())
        return nullptr;
    if (!m_filling && !takeFreeBlock())
        return nullptr;
    return m_filling->bytes.data() + std::size_t(m_filling->rows) * m_bytesPerLine;
}

bool RasterWriter::addRow()
{
    if (!m_filling || m_filling->rows == kRowsPerBlock)
        return false;
    ++m_filling->rows;
    return true;
}

bool RasterWriter::finish()
{
    const bool handed = handOver();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failed || (m_full.empty() && !m_writing); });
    return handed && !m_failed;
}

void RasterWriter::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_closing || !m_full.empty(); });
        if (m_full.empty())
            return;
        Block *block = m_full.front();
        m_full.pop_front();
        m_writing = true;
        lock.unlock();

        bool written = !block->startsPage || cupsRasterWriteHeader2(m_raster, &block->header);
        const unsigned length = block->rows * m_bytesPerLine;
        if (written && length > 0)
            written = cupsRasterWritePixels(m_raster, block->bytes.data(), length) == length;

        lock.lock();
        m_writing = false;
        m_free.push_back(block);
        if (!written) {
            m_failed = true;
            m_full.clear();
        }
        m_changed.notify_all();
    }
}

}  // namespace vek::platform::linuxbackend
