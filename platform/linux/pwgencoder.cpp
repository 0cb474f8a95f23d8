#include "pwgencoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vek::platform::linuxbackend {
namespace {

constexpr unsigned kMaxRun = 128;
constexpr unsigned kMaxLineRepeat = 256;
// Lines are read up to this many bytes past their end, so that whole steps
// of sixteen bytes can be compared; those bytes are allocated but unused.
constexpr unsigned kReadPast = 64;

#if defined(__SSE2__)
// Bit 16 * k + j of the result: bytes k * 16 + j at a and b are equal.
std::uint64_t EqualBytes(const std::uint8_t *a, const std::uint8_t *b, int steps)
{
    std::uint64_t mask = 0;
    for (int k = 0; k < steps; ++k) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + 16 * k));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + 16 * k));
        mask |= std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)))) << (16 * k);
    }
    return mask;
}

// Bits 0, 3, 6, ... 45 of x moved to bits 0 to 15.
std::uint64_t EveryThirdBit(std::uint64_t x)
{
    x &= 0x1249249249249249u;
    x = (x ^ (x >> 2)) & 0x10c30c30c30c30c3u;
    x = (x ^ (x >> 4)) & 0x100f00f00f00f00fu;
    x = (x ^ (x >> 8)) & 0x001f0000ff0000ffu;
    x = (x ^ (x >> 16)) & 0x001f00000000ffffu;
    x = (x ^ (x >> 32)) & 0x00000000001fffffu;
    return x;
}
#endif

// For each pixel of a line, whether it equals the next: bit i % 64 of word
// i / 64. The bits from the last pixel on are clear. line must be readable
// kReadPast bytes past its pixels.
void FindEqualNeighbours(
    const std::uint8_t *line, unsigned pixels, unsigned bpp, std::vector<std::uint64_t> &equal)
{
    equal.assign(pixels / 64 + 1, 0);
    unsigned i = 0;
#if defined(__SSE2__)
    if (bpp == 3) {
        // Sixteen pixels a step: a pixel equals the next when its three bytes
        // equal the three after them.
        for (; i < pixels; i += 16) {
            const std::uint8_t *at = line + std::size_t(i) * 3;
            const std::uint64_t bytes = EqualBytes(at, at + 3, 3);
            equal[i / 64] |= EveryThirdBit(bytes & bytes >> 1 & bytes >> 2) << (i % 64);
        }
    } else if (bpp == 1) {
        for (; i < pixels; i += 64)
            equal[i / 64] = EqualBytes(line + i, line + i + 1, 4);
    }
#endif
    for (; i + 1 < pixels; ++i) {
        if (std::memcmp(line + std::size_t(i) * bpp, line + std::size_t(i + 1) * bpp, bpp) == 0)
            equal[i / 64] |= std::uint64_t(1) << (i % 64);
    }
    // Nothing follows the last pixel.
    const unsigned last = pixels - 1;
    equal[last / 64] &= (std::uint64_t(1) << (last % 64)) - 1;
    for (std::size_t word = last / 64 + 1; word < equal.size(); ++word)
        equal[word] = 0;
}

// The first pixel from i on (before limit) whose bit is set, or clear when
// set is false; limit when there is none.
unsigned NextWith(const std::vector<std::uint64_t> &bits, unsigned i, bool set, unsigned limit)
{
    while (i < limit) {
        std::uint64_t word = bits[i / 64];
        if (!set)
            word = ~word;
        word >>= i % 64;
        if (word != 0)
            return std::min(limit, i + unsigned(std::countr_zero(word)));
        i = (i | 63) + 1;
    }
    return limit;
}

// One line's pixels: a byte n up to 127 repeats the next pixel n + 1 times;
// a byte 257 - n above 128 is followed by n pixels as they are. A run of
// equal pixels is as long as it can be, up to 128; pixels that differ from
// their next go as they are, up to 128 at a time, and a last pixel that
// would be left alone joins them.
std::uint8_t *CodePixels(const std::uint8_t *line, unsigned pixels, unsigned bpp,
    const std::vector<std::uint64_t> &equal, std::uint8_t *write)
{
    const unsigned last = pixels - 1;
    unsigned i = 0;
    while (i < pixels) {
        const std::uint8_t *start = line + std::size_t(i) * bpp;
        if (i == last) {
            *write++ = 0;
            std::memcpy(write, start, bpp);
            write += bpp;
            ++i;
        } else if (equal[i / 64] >> (i % 64) & 1) {
            const unsigned count = std::min(NextWith(equal, i, false, last) - i + 1, kMaxRun);
            *write++ = std::uint8_t(count - 1);
            std::memcpy(write, start, bpp);
            write += bpp;
            i += count;
        } else {
            unsigned count = std::min(NextWith(equal, i + 1, true, last) - i, kMaxRun);
            if (i + count == last && count < kMaxRun)
                ++count;
            *write++ = std::uint8_t(257 - count);
            std::memcpy(write, start, std::size_t(count) * bpp);
            write += std::size_t(count) * bpp;
            i += count;
        }
    }
    return write;
}

}  // namespace

PwgEncoder::PwgEncoder(unsigned bytesPerPixel, unsigned bytesPerLine)
    : m_bytesPerPixel(bytesPerPixel)
    , m_bytesPerLine(bytesPerLine)
    , m_next(bytesPerLine + kReadPast)
    , m_held(bytesPerLine + kReadPast)
{
}

void PwgEncoder::addLine()
{
    if (m_count > 0 && std::memcmp(m_next.data(), m_held.data(), m_bytesPerLine) == 0) {
        if (++m_count == kMaxLineRepeat) {
            codeLine();
            m_count = 0;
        }
        return;
    }
    if (m_count > 0)
        codeLine();
    std::swap(m_next, m_held);
    m_count = 1;
}

void PwgEncoder::endPage()
{
    if (m_count > 0)
        codeLine();
    m_count = 0;
}

void PwgEncoder::append(const std::uint8_t *bytes, std::size_t length)
{
    std::memcpy(reserve(length), bytes, length);
    m_used += length;
}

std::uint8_t *PwgEncoder::reserve(std::size_t length)
{
    if (m_out.size() - m_used < length)
        m_out.resize(m_used + std::max(length, m_out.size()));
    return m_out.data() + m_used;
}

void PwgEncoder::codeLine()
{
    // At worst every pixel is a run of its own: a byte more per pixel.
    std::uint8_t *const start
        = reserve(1 + std::size_t(m_bytesPerLine) + m_bytesPerLine / m_bytesPerPixel + 1);
    std::uint8_t *write = start;
    *write++ = std::uint8_t(m_count - 1);
    const unsigned pixels = m_bytesPerLine / m_bytesPerPixel;
    if (pixels == 0) {
        m_used += std::size_t(write - start);
        return;
    }
    FindEqualNeighbours(m_held.data(), pixels, m_bytesPerPixel, m_equal);
    write = CodePixels(m_held.data(), pixels, m_bytesPerPixel, m_equal, write);
    m_used += std::size_t(write - start);
}

}  // namespace vek::platform::linuxbackend
