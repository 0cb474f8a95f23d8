#include "rowscaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace vek::platform::linuxbackend {
namespace {

// Shares are whole numbers out of a whole, and each output cell's shares add
// up to exactly the whole, so white stays exactly white. Rows are summed
// first: a source byte times a row share, summed, fits 16 bits; those sums
// times column shares fit 32 bits.
constexpr std::uint32_t kRowWhole = 256;
constexpr std::uint32_t kColumnWhole = 4096;
constexpr int kShift = 20;  // the two wholes multiplied
constexpr std::uint32_t kRound = 1u << (kShift - 1);

// The source cells an output cell covers, with their shares out of kWhole.
template <std::uint32_t kWhole, typename Add>
void CoveredCells(int outputIndex, int sourceSize, int outputSize, Add add)
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

// A pixel is paper when its blue, green and red bytes are white, or, on a
// page with straight alpha, when it is wholly transparent.
bool IsPaper(const std::uint8_t *pixel, bool overWhite)
{
    std::uint32_t value;
    std::memcpy(&value, pixel, sizeof value);
    return (value | 0xff000000u) == 0xffffffffu || (overWhite && value <= 0x00ffffffu);
}

#if defined(__SSE2__)
// The same for four pixels at once; clearIsPaper is all ones on a page with
// straight alpha, else zero.
bool FourArePaper(const std::uint8_t *pixels, __m128i clearIsPaper)
{
    const __m128i alpha = _mm_set1_epi32(std::int32_t(0xff000000u));
    const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels));
    const __m128i white = _mm_cmpeq_epi32(_mm_or_si128(value, alpha), _mm_set1_epi32(-1));
    const __m128i clear = _mm_and_si128(
        _mm_cmpeq_epi32(_mm_and_si128(value, alpha), _mm_setzero_si128()), clearIsPaper);
    return _mm_movemask_epi8(_mm_or_si128(white, clear)) == 0xffff;
}

// Four pixels with straight alpha laid on white: the same arithmetic as
// OnWhite (whose fourth byte this does not keep).
inline __m128i FourOnWhite(__m128i four)
{
    const __m128i full = _mm_set1_epi16(255);
    const auto onWhite = [&](__m128i values) {
        // Each pixel's alpha in all four of its lanes.
        const __m128i alpha = _mm_shufflehi_epi16(
            _mm_shufflelo_epi16(values, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
        __m128i product = _mm_add_epi16(
            _mm_mullo_epi16(_mm_sub_epi16(full, values), alpha), _mm_set1_epi16(128));
        product = _mm_srli_epi16(_mm_add_epi16(product, _mm_srli_epi16(product, 8)), 8);
        return _mm_sub_epi16(full, product);
    };
    return _mm_packus_epi16(onWhite(_mm_unpacklo_epi8(four, _mm_setzero_si128())),
        onWhite(_mm_unpackhi_epi8(four, _mm_setzero_si128())));
}
#endif

// count pixels with straight alpha laid on white, into out.
void LayOnWhite(const std::uint8_t *pixels, int count, std::uint8_t *out)
{
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= count; i += 4) {
        const __m128i four
            = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + std::size_t(i) * 4));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + std::size_t(i) * 4), FourOnWhite(four));
    }
#endif
    for (; i < count; ++i) {
        std::uint32_t value;
        std::memcpy(&value, pixels + std::size_t(i) * 4, sizeof value);
        value = OnWhite(value);
        std::memcpy(out + std::size_t(i) * 4, &value, sizeof value);
    }
}

#if defined(__SSE2__)
// Most pages go through here: pixels to red, green, blue (laid on white
// first on a page with straight alpha), four at a time, in one pass. Needs
// SSSE3 for the byte shuffle; returns how many pixels it did, leaving the
// last few to the caller, since each step stores sixteen bytes.
__attribute__((target("ssse3"))) int FourAtATimeToRgb(
    const std::uint8_t *pixels, int count, bool overWhite, std::uint8_t *out)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    int i = 0;
    for (; i + 6 <= count; i += 4) {
        __m128i four
            = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + std::size_t(i) * 4));
        if (overWhite)
            four = FourOnWhite(four);
        _mm_storeu_si128(
            reinterpret_cast<__m128i *>(out + std::size_t(i) * 3), _mm_shuffle_epi8(four, order));
    }
    return i;
}

bool HasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

// count opaque pixels (blue, green, red and a fourth byte) to red, green,
// blue or to grey, into out.
template <bool Rgb> void ConvertPixels(const std::uint8_t *source, int count, std::uint8_t *out)
{
    if constexpr (Rgb) {
        // Each pixel but the last is stored as four bytes, the fourth of
        // which the next pixel overwrites.
        int c = 0;
        for (; c + 1 < count; ++c, source += 4, out += 3) {
            std::uint32_t bgrx;
            std::memcpy(&bgrx, source, 4);
            const std::uint32_t rgb
                = (bgrx >> 16 & 0xffu) | (bgrx & 0xff00u) | (bgrx & 0xffu) << 16;
            std::memcpy(out, &rgb, 4);
        }
        if (c < count) {
            out[0] = source[2];
            out[1] = source[1];
            out[2] = source[0];
        }
    } else {
        for (int c = 0; c < count; ++c, source += 4, ++out)
            out[0] = Luma(source[2], source[1], source[0]);
    }
}

template <bool Rgb>
void Store(std::uint32_t blue, std::uint32_t green, std::uint32_t red, std::uint8_t *out)
{
    if constexpr (Rgb) {
        out[0] = std::uint8_t(red);
        out[1] = std::uint8_t(green);
        out[2] = std::uint8_t(blue);
    } else {
        out[0] = Luma(red, green, blue);
    }
}

// Output columns [from, to) from a row of sums, each from tapsPerColumn
// shares.
template <bool Rgb>
void SumColumns(const std::uint16_t *sums, const int *tapFirst, const std::uint16_t *shares,
    int tapsPerColumn, int from, int to, std::uint8_t *out)
{
    constexpr int step = Rgb ? 3 : 1;
    const int taps = tapsPerColumn;
    for (int c = from; c < to; ++c, out += step) {
        const std::uint16_t *sum = sums + std::size_t(tapFirst[c]) * 4;
        const std::uint16_t *share = shares + std::size_t(c) * std::size_t(taps);
        std::uint32_t total[4] = { kRound, kRound, kRound, kRound };
        for (int t = 0; t < taps; ++t) {
            for (int k = 0; k < 4; ++k)
                total[k] += std::uint32_t(share[t]) * sum[t * 4 + k];
        }
        Store<Rgb>(total[0] >> kShift, total[1] >> kShift, total[2] >> kShift, out);
    }
}

#if defined(__SSE2__)
// The same with SSE2 (every x86-64 processor has it): the column's taps come
// in pairs, each pair's sums interleaved by channel and multiplied and added
// in one step. The multiply is signed, so the sums (up to 65,280) are offset
// by -32,768 and the offset times the shares' total is added back.
template <bool Rgb>
void SumColumnsSse2(const std::uint16_t *sums, const int *tapFirst, const std::uint16_t *shares,
    const std::uint16_t *pairsOf, int tapsPerColumn, int from, int to, std::uint8_t *out)
{
    constexpr int step = Rgb ? 3 : 1;
    const __m128i flip = _mm_set1_epi16(std::int16_t(0x8000));
    const __m128i back = _mm_set1_epi32(std::int32_t(32768 * kColumnWhole + kRound));
    for (int c = from; c < to; ++c, out += step) {
        const int pairs = pairsOf[c];
        const std::uint16_t *sum = sums + std::size_t(tapFirst[c]) * 4;
        const std::uint16_t *share = shares + std::size_t(c) * std::size_t(tapsPerColumn);
        __m128i total = back;
        for (int p = 0; p < pairs; ++p, sum += 8, share += 2) {
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(sum));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(sum + 4));
            const __m128i pair = _mm_xor_si128(_mm_unpacklo_epi16(a, b), flip);
            std::uint32_t twoShares;
            std::memcpy(&twoShares, share, sizeof twoShares);
            total = _mm_add_epi32(
                total, _mm_madd_epi16(pair, _mm_set1_epi32(std::int32_t(twoShares))));
        }
        total = _mm_srli_epi32(total, kShift);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(total, total), total);
        const std::uint32_t bgrx = std::uint32_t(_mm_cvtsi128_si32(bytes));
        Store<Rgb>(bgrx & 0xff, (bgrx >> 8) & 0xff, (bgrx >> 16) & 0xff, out);
    }
}
#endif

}  // namespace

RowScaler::RowScaler(
    const PageImage &page, int width, int height, int firstColumn, int endColumn, Output output)
    : m_page(page)
    , m_height(height)
    , m_output(output)
    , m_overWhite(page.alpha == PageAlpha::OverWhite)
    , m_sameSize(width == page.width && height == page.height)
    , m_firstColumn(firstColumn)
    , m_columns(std::max(0, endColumn - firstColumn))
{
    m_ink.resize(std::size_t(page.height));
    if (m_overWhite)
        m_onWhite.resize(std::size_t(page.width) * 4);
    if (m_sameSize)
        return;
    // Each column's taps, then its shares laid out by source column from the
    // first it covers.
    std::vector<Tap> taps;
    std::vector<int> tapStart;
    tapStart.reserve(std::size_t(m_columns) + 1);
    m_tapFirst.resize(std::size_t(m_columns));
    for (int c = 0; c < m_columns; ++c) {
        tapStart.push_back(int(taps.size()));
        CoveredCells<kColumnWhole>(
            firstColumn + c, page.width, width, [&](int index, std::uint32_t share) {
                taps.push_back({ index, share });
            });
        m_tapFirst[std::size_t(c)] = taps[std::size_t(tapStart.back())].index;
        m_tapsPerColumn
            = std::max(m_tapsPerColumn, taps.back().index - m_tapFirst[std::size_t(c)] + 1);
    }
    tapStart.push_back(int(taps.size()));
    m_tapsPerColumn += m_tapsPerColumn % 2;  // whole pairs
    m_shares.assign(std::size_t(m_columns) * std::size_t(m_tapsPerColumn), 0);
    m_pairs.resize(std::size_t(m_columns));
    for (int c = 0; c < m_columns; ++c) {
        for (int t = tapStart[std::size_t(c)]; t < tapStart[std::size_t(c) + 1]; ++t) {
            const Tap &tap = taps[std::size_t(t)];
            m_shares[std::size_t(c) * std::size_t(m_tapsPerColumn)
                + std::size_t(tap.index - m_tapFirst[std::size_t(c)])]
                = std::uint16_t(tap.share);
        }
        const int used = taps[std::size_t(tapStart[std::size_t(c) + 1]) - 1].index
            - m_tapFirst[std::size_t(c)] + 1;
        m_pairs[std::size_t(c)] = std::uint16_t((used + 1) / 2);
    }
    // Columns near the right edge read past it with share 0.
    m_sums.assign(std::size_t(page.width + m_tapsPerColumn) * 4, 0);
}

const RowScaler::Ink &RowScaler::inkOf(int sourceRow)
{
    Ink &ink = m_ink[std::size_t(sourceRow)];
    if (ink.first >= 0)
        return ink;
    const std::uint8_t *pixels = m_page.bits + std::size_t(sourceRow) * m_page.bytesPerLine;
    const bool overWhite = m_overWhite;
    int first = 0;
    int end = m_page.width;
#if defined(__SSE2__)
    const __m128i clearIsPaper = overWhite ? _mm_set1_epi32(-1) : _mm_setzero_si128();
    while (first + 4 <= end && FourArePaper(pixels + std::size_t(first) * 4, clearIsPaper))
        first += 4;
#endif
    while (first < end && IsPaper(pixels + std::size_t(first) * 4, overWhite))
        ++first;
#if defined(__SSE2__)
    while (end - 4 >= first && FourArePaper(pixels + std::size_t(end - 4) * 4, clearIsPaper))
        end -= 4;
#endif
    while (end > first && IsPaper(pixels + std::size_t(end - 1) * 4, overWhite))
        --end;
    ink = { first, end };
    return ink;
}

bool RowScaler::rowIsWhite(int y)
{
    if (m_sameSize) {
        const Ink &ink = inkOf(y);
        return ink.first >= ink.end;
    }
    bool white = true;
    CoveredCells<kRowWhole>(y, m_page.height, m_height, [&](int sourceRow, std::uint32_t) {
        const Ink &ink = inkOf(sourceRow);
        white = white && ink.first >= ink.end;
    });
    return white;
}

RowScaler::Span RowScaler::row(int y, std::uint8_t *out)
{
    const int step = channels();
    if (m_sameSize) {
        // Only the inked part of the row is converted; most of a page is paper.
        const Ink &ink = inkOf(y);
        const int first = std::clamp(ink.first, m_firstColumn, m_firstColumn + m_columns);
        const int end = std::clamp(ink.end, first, m_firstColumn + m_columns);
        const std::uint8_t *source
            = m_page.bits + std::size_t(y) * m_page.bytesPerLine + std::size_t(first) * 4;
        std::uint8_t *to = out + std::size_t(first - m_firstColumn) * std::size_t(step);
        int count = end - first;
#if defined(__SSE2__)
        if (m_output == Output::Rgb && HasSsse3()) {
            const int done = FourAtATimeToRgb(source, count, m_overWhite, to);
            source += std::size_t(done) * 4;
            to += std::size_t(done) * 3;
            count -= done;
        }
#endif
        if (m_overWhite) {
            LayOnWhite(source, count, m_onWhite.data());
            source = m_onWhite.data();
        }
        if (m_output == Output::Rgb)
            ConvertPixels<true>(source, count, to);
        else
            ConvertPixels<false>(source, count, to);
        return { first - m_firstColumn, end - m_firstColumn };
    }

    // Output rows that cover the same source rows are the same row.
    m_rowTaps.clear();
    CoveredCells<kRowWhole>(y, m_page.height, m_height, [this](int sourceRow, std::uint32_t share) {
        m_rowTaps.push_back({ sourceRow, share });
    });
    if (m_lastRowValid && m_rowTaps == m_lastRowTaps) {
        std::copy(m_lastRow.begin(), m_lastRow.end(),
            out + std::size_t(m_lastSpan.first) * std::size_t(step));
        return m_lastSpan;
    }

    // Only the part of the row under ink needs sums; the rest is white.
    int inkFirst = m_page.width;
    int inkEnd = 0;
    for (const Tap &tap : m_rowTaps) {
        const Ink &ink = inkOf(tap.index);
        if (ink.first < ink.end) {
            inkFirst = std::min(inkFirst, ink.first);
            inkEnd = std::max(inkEnd, ink.end);
        }
    }
    const auto columnsBegin = m_tapFirst.begin();
    int from = int(std::lower_bound(columnsBegin, m_tapFirst.end(), inkFirst - m_tapsPerColumn + 1)
        - columnsBegin);
    int to = int(std::lower_bound(columnsBegin, m_tapFirst.end(), inkEnd) - columnsBegin);
    if (from < to) {
        const std::size_t sumFirst = std::size_t(m_tapFirst[from]) * 4;
        const std::size_t sumEnd
            = std::size_t(std::min(m_page.width, m_tapFirst[to - 1] + m_tapsPerColumn)) * 4;
        std::uint16_t *const sums = m_sums.data();
        bool firstTap = true;
        for (const Tap &tap : m_rowTaps) {
            const std::uint8_t *source = m_page.bits + std::size_t(tap.index) * m_page.bytesPerLine;
            if (m_overWhite) {
                // The part summed, laid on white first.
                LayOnWhite(
                    source + sumFirst, int((sumEnd - sumFirst) / 4), m_onWhite.data() + sumFirst);
                source = m_onWhite.data();
            }
            const auto share = std::uint16_t(tap.share);
            if (firstTap) {
                for (std::size_t i = sumFirst; i < sumEnd; ++i)
                    sums[i] = std::uint16_t(share * source[i]);
            } else {
                for (std::size_t i = sumFirst; i < sumEnd; ++i)
                    sums[i] = std::uint16_t(sums[i] + share * source[i]);
            }
            firstTap = false;
        }
        writeColumns(from, to, out + std::size_t(from) * std::size_t(step));
    } else {
        from = to = 0;
    }

    if (m_height > m_page.height) {
        m_lastRow.assign(
            out + std::size_t(from) * std::size_t(step), out + std::size_t(to) * std::size_t(step));
        m_lastSpan = { from, to };
        std::swap(m_lastRowTaps, m_rowTaps);
        m_lastRowValid = true;
    }
    return { from, to };
}

void RowScaler::writeColumns(int from, int to, std::uint8_t *out) const
{
    const std::uint16_t *sums = m_sums.data();
    const int *first = m_tapFirst.data();
    const std::uint16_t *shares = m_shares.data();
    const int taps = m_tapsPerColumn;
#if defined(__SSE2__)
    if (m_output == Output::Rgb)
        SumColumnsSse2<true>(sums, first, shares, m_pairs.data(), taps, from, to, out);
    else
        SumColumnsSse2<false>(sums, first, shares, m_pairs.data(), taps, from, to, out);
#else
    if (m_output == Output::Rgb)
        SumColumns<true>(sums, first, shares, taps, from, to, out);
    else
        SumColumns<false>(sums, first, shares, taps, from, to, out);
#endif
}

}  // namespace vek::platform::linuxbackend
