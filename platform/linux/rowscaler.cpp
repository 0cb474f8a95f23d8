#include "rowscaler.h"

#include <algorithm>
#include <cmath>

namespace vek::platform::linuxbackend {
namespace {

// The source cells [start, end) an output cell covers, with their shares.
template <typename Add> void CoveredCells(int outputIndex, int sourceSize, int outputSize, Add add)
{
    const double scale = double(sourceSize) / outputSize;
    const double start = outputIndex * scale;
    const double end = std::min<double>((outputIndex + 1) * scale, sourceSize);
    const int first = std::clamp(int(std::floor(start)), 0, sourceSize - 1);
    const int last = std::clamp(int(std::ceil(end)) - 1, first, sourceSize - 1);
    const double span = end - start;
    for (int i = first; i <= last; ++i) {
        const double covered = std::min<double>(end, i + 1) - std::max<double>(start, i);
        if (covered > 0)
            add(i, float(covered / span));
    }
}

std::uint8_t ToByte(float value)
{
    return static_cast<std::uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f));
}

std::uint8_t Luma(float blue, float green, float red)
{
    return ToByte(0.2126f * red + 0.7152f * green + 0.0722f * blue);
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
        CoveredCells(column, page.width, width, [this](int index, float weight) {
            m_taps.push_back({ index, weight });
        });
    }
    m_tapStart.push_back(int(m_taps.size()));
    if (!m_sameSize)
        m_sums.resize(std::size_t(page.width) * 3);
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
                out[0] = Luma(source[0], source[1], source[2]);
            }
        }
        return;
    }

    std::fill(m_sums.begin(), m_sums.end(), 0.0f);
    CoveredCells(y, m_page.height, m_height, [this](int sourceRow, float weight) {
        const std::uint8_t *source = m_page.bits + std::size_t(sourceRow) * m_page.bytesPerLine;
        float *sum = m_sums.data();
        for (int x = 0; x < m_page.width; ++x, source += 4, sum += 3) {
            sum[0] += weight * source[0];
            sum[1] += weight * source[1];
            sum[2] += weight * source[2];
        }
    });
    for (int c = 0; c < columns; ++c, out += step) {
        float blue = 0, green = 0, red = 0;
        for (int t = m_tapStart[c]; t < m_tapStart[c + 1]; ++t) {
            const float *sum = &m_sums[std::size_t(m_taps[t].index) * 3];
            blue += m_taps[t].weight * sum[0];
            green += m_taps[t].weight * sum[1];
            red += m_taps[t].weight * sum[2];
        }
        if (m_output == Output::Rgb) {
            out[0] = ToByte(red);
            out[1] = ToByte(green);
            out[2] = ToByte(blue);
        } else {
            out[0] = Luma(blue, green, red);
        }
    }
}

}  // namespace vek::platform::linuxbackend
