#include "rowscaler.h"

#include <algorithm>
#include <cmath>

namespace vek::platform::linuxbackend {
namespace {

// Shares are whole numbers out of kWhole, and each output cell's shares add
// up to exactly kWhole, so white stays exactly white.
constexpr std::uint32_t kWhole = 4096;

// The source cells an output cell covers, with their shares.
template <typename Add> void CoveredCells(int outputIndex, int sourceSize, int outputSize, Add add)
{
    const double scale = double(sourceSize) / outputSize;
    const double start = outputIndex * scale;
    const double end = std::min<double>((outputIndex + 1) * scale, sourceSize);
    const int first = std::clamp(int(std::floor(start)), 0, sourceSize - 1);
    const int last = std::clamp(int(std::ceil(end)) - 1, first, sourceSize - 1);
    const double span = end - start;
    long given = 0;
    double covered = 0;
    for (int i = first; i <= last; ++i) {
        covered += std::max(0.0, std::min<double>(end, i + 1) - std::max<double>(start, i));
        const long upTo = i == last ? long(kWhole) : std::lround(covered / span * kWhole);
        if (upTo > given)
            add(i, std::uint32_t(upTo - given));
        given = std::max(given, upTo);
    }
}

std::uint8_t Luma(std::uint32_t red, std::uint32_t green, std::uint32_t blue)
{
    // BT.709 weights out of 256.
    return std::uint8_t((54 * red + 183 * green + 19 * blue + 128) >> 8);
}

}  // namespace

RowScaler::RowScaler(
    const PageImage &page, int width, int height, int firstColumn, int endColumn, Output output)
    : m_page(page)
    , m_height(height)
    , m_output(output)
    , m_sameSize(width == page.width && height == page.height)
    , m_firstColumn(firstColumn)
{
    m_tapStart.reserve(std::size_t(std::max(0, endColumn - firstColumn)) + 1);
    for (int column = firstColumn; column < endColumn; ++column) {
        m_tapStart.push_back(int(m_taps.size()));
        CoveredCells(column, page.width, width, [this](int index, std::uint32_t share) {
            m_taps.push_back({ index, share });
        });
    }
    m_tapStart.push_back(int(m_taps.size()));
    if (!m_sameSize)
        m_sums.resize(std::size_t(page.width) * 4);
}

void RowScaler::row(int y, std::uint8_t *out)
{
    const int columns = int(m_tapStart.size()) - 1;
    const int step = channels();
    if (m_sameSize) {
        const std::uint8_t *source
            = m_page.bits + std::size_t(y) * m_page.bytesPerLine + std::size_t(m_firstColumn) * 4;
        for (int c = 0; c < columns; ++c, source += 4, out += step) {
            if (m_output == Output::Rgb) {
                out[0] = source[2];
                out[1] = source[1];
                out[2] = source[0];
            } else {
                out[0] = Luma(source[2], source[1], source[0]);
            }
        }
        return;
    }

    // Output rows that cover the same source rows are the same row.
    m_rowTaps.clear();
    CoveredCells(y, m_page.height, m_height, [this](int sourceRow, std::uint32_t share) {
        m_rowTaps.push_back({ sourceRow, share });
    });
    const std::size_t outputBytes = std::size_t(columns) * std::size_t(step);
    if (m_lastRowValid && m_rowTaps == m_lastRowTaps) {
        std::copy(m_lastRow.begin(), m_lastRow.end(), out);
        return;
    }

    // All four bytes of each pixel, so that the loop runs over contiguous memory.
    std::fill(m_sums.begin(), m_sums.end(), 0u);
    const std::size_t sumCount = m_sums.size();
    for (const Tap &tap : m_rowTaps) {
        const std::uint8_t *source = m_page.bits + std::size_t(tap.index) * m_page.bytesPerLine;
        std::uint32_t *sum = m_sums.data();
        const std::uint32_t share = tap.share;
        for (std::size_t i = 0; i < sumCount; ++i)
            sum[i] += share * source[i];
    }

    constexpr std::uint64_t kRound = std::uint64_t(kWhole) * kWhole / 2;
    constexpr std::uint64_t kDivisor = std::uint64_t(kWhole) * kWhole;
    std::uint8_t *const rowStart = out;
    for (int c = 0; c < columns; ++c, out += step) {
        std::uint64_t blue = kRound, green = kRound, red = kRound;
        for (int t = m_tapStart[c]; t < m_tapStart[c + 1]; ++t) {
            const std::uint32_t *sum = &m_sums[std::size_t(m_taps[t].index) * 4];
            const std::uint64_t share = m_taps[t].share;
            blue += share * sum[0];
            green += share * sum[1];
            red += share * sum[2];
        }
        const auto r = std::uint32_t(red / kDivisor);
        const auto g = std::uint32_t(green / kDivisor);
        const auto b = std::uint32_t(blue / kDivisor);
        if (m_output == Output::Rgb) {
            out[0] = std::uint8_t(r);
            out[1] = std::uint8_t(g);
            out[2] = std::uint8_t(b);
        } else {
            out[0] = Luma(r, g, b);
        }
    }
    m_lastRow.assign(rowStart, rowStart + outputBytes);
    std::swap(m_lastRowTaps, m_rowTaps);
    m_lastRowValid = true;
}

}  // namespace vek::platform::linuxbackend
