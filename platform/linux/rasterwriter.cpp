#include "rasterwriter.h"

#include <algorithm>
#include <cstring>

namespace vek::platform::linuxbackend {
namespace {

constexpr unsigned kRowsPerBlock = 32;
// The rows held waiting, at most: enough for the inked rows of a typical
// document page, so that its writing overlaps the rendering of the next page
// instead of holding it up, and under half of an A4 page bitmap at 300 dpi.
constexpr std::size_t kMaxHeldBytes = 16u << 20;
// The coded stream goes to the scheduler in writes of about this size.
constexpr std::size_t kSendChunk = 256 * 1024;

}  // namespace

RasterWriter::RasterWriter(
    cups_raster_t *raster, Send send, void *context, unsigned bytesPerPixel, unsigned bytesPerLine)
    : m_raster(raster)
    , m_send(send)
    , m_context(context)
    , m_bytesPerLine(bytesPerLine)
    , m_encoder(std::max(1u, bytesPerPixel), bytesPerLine)
    , m_maxBlocks(unsigned(std::max<std::size_t>(
          2, kMaxHeldBytes / (std::max(1u, bytesPerLine) * std::size_t(kRowsPerBlock)))))
{
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
    if (m_free.empty() && m_blocks.size() < m_maxBlocks && !m_failed) {
        m_blocks.push_back(std::make_unique<Block>());
        m_blocks.back()->bytes.resize(std::size_t(m_bytesPerLine) * kRowsPerBlock);
        m_blocks.back()->written.resize(kRowsPerBlock);
        m_free.push_back(m_blocks.back().get());
    }
    m_changed.wait(lock, [this] { return m_failed || !m_free.empty(); });
    if (m_failed)
        return false;
    m_filling = m_free.back();
    m_free.pop_back();
    m_filling->whiteBefore = m_pendingWhite;
    m_filling->startsPage = false;
    m_filling->rows = 0;
    m_pendingWhite = 0;
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
    if (m_filling && (m_filling->rows == kRowsPerBlock || m_pendingWhite > 0) && !handOver())
        return nullptr;
    if (!m_filling && !takeFreeBlock())
        return nullptr;
    return m_filling->bytes.data() + std::size_t(m_filling->rows) * m_bytesPerLine;
}

bool RasterWriter::addRow(unsigned first, unsigned end)
{
    if (!m_filling || m_filling->rows == kRowsPerBlock || m_pendingWhite > 0 || first > end
        || end > m_bytesPerLine)
        return false;
    m_filling->written[m_filling->rows++] = { first, end };
    return true;
}

bool RasterWriter::addWhiteRows(unsigned count)
{
    // White rows come after the rows already added: those go first.
    if (m_filling && m_filling->rows > 0 && !handOver())
        return false;
    m_pendingWhite += count;
    return true;
}

bool RasterWriter::finish()
{
    bool handed = handOver();
    if (handed && m_pendingWhite > 0)
        handed = takeFreeBlock() && handOver();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failed || (m_full.empty() && !m_writing); });
    if (!handed || m_failed)
        return false;
    // The thread is idle: the lines still held are coded and sent from here.
    m_encoder.endPage();
    m_failed = !sendCoded();
    return !m_failed;
}

bool RasterWriter::sendCoded()
{
    const std::size_t length = m_encoder.codedSize();
    if (length == 0)
        return true;
    const bool sent = m_send(m_context, const_cast<std::uint8_t *>(m_encoder.coded()), length)
        == ssize_t(length);
    m_encoder.clearCoded();
    return sent;
}

// libcups codes rows one pixel comparison call at a time, which made the
// writing thread the slower of the two; the rows are coded here in the same
// format and bytes, and only the headers go through libcups.
bool RasterWriter::write(Block &block)
{
    for (unsigned i = 0; i < block.whiteBefore; ++i) {
        std::memset(m_encoder.line(), 0xff, m_bytesPerLine);
        m_encoder.addLine();
    }
    if (block.startsPage) {
        m_encoder.endPage();
        if (!sendCoded() || !cupsRasterWriteHeader2(m_raster, &block.header))
            return false;
    }
    for (unsigned row = 0; row < block.rows; ++row) {
        const auto [first, end] = block.written[row];
        std::uint8_t *line = m_encoder.line();
        std::memset(line, 0xff, first);
        std::memcpy(line + first, block.bytes.data() + std::size_t(row) * m_bytesPerLine + first,
            end - first);
        std::memset(line + end, 0xff, m_bytesPerLine - end);
        m_encoder.addLine();
        if (m_encoder.codedSize() >= kSendChunk && !sendCoded())
            return false;
    }
    return m_encoder.codedSize() < kSendChunk || sendCoded();
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

        const bool written = write(*block);

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
