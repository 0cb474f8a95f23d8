#include "pwgencoder.h"

#include <algorithm>
#include <cstring>

namespace vek::platform::linuxbackend {
namespace {

constexpr unsigned kMaxRun = 128;
constexpr unsigned kMaxLineRepeat = 256;

// One line's pixels: a byte n up to 127 repeats the next pixel n + 1 times;
// a byte 257 - n above 128 is followed by n pixels as they are. Pixel is the
// pixel size when the compiler should know it, else 0.
template <unsigned Pixel>
std::uint8_t *CodePixels(
    const std::uint8_t *pixels, unsigned pixelSize, unsigned bytes, std::uint8_t *write)
{
    const unsigned bpp = Pixel ? Pixel : pixelSize;
    auto same = [bpp](const std::uint8_t *a, const std::uint8_t *b) {
        return std::memcmp(a, b, Pixel ? Pixel : bpp) == 0;
    };
    const std::uint8_t *const end = pixels + bytes;
    const std::uint8_t *const last = end - bpp;
    const std::uint8_t *at = pixels;
    while (at < end) {
        const std::uint8_t *start = at;
        at += bpp;
        if (at == end) {
            *write++ = 0;
            std::memcpy(write, start, bpp);
            write += bpp;
        } else if (same(start, at)) {
            unsigned count = 2;
            for (; count < kMaxRun && at < last; ++count, at += bpp) {
                if (!same(at, at + bpp))
                    break;
            }
            *write++ = std::uint8_t(count - 1);
            std::memcpy(write, at, bpp);
            write += bpp;
            at += bpp;
        } else {
            unsigned count = 1;
            for (; count < kMaxRun && at < last; ++count, at += bpp) {
                if (same(at, at + bpp))
                    break;
            }
            if (at >= last && count < kMaxRun) {
                ++count;
                at += bpp;
            }
            *write++ = std::uint8_t(257 - count);
            std::memcpy(write, start, std::size_t(count) * bpp);
            write += std::size_t(count) * bpp;
        }
    }
    return write;
}

}  // namespace

PwgEncoder::PwgEncoder(unsigned bytesPerPixel, unsigned bytesPerLine)
    : m_bytesPerPixel(bytesPerPixel)
    , m_bytesPerLine(bytesPerLine)
    , m_next(bytesPerLine)
    , m_held(bytesPerLine)
{
}

void PwgEncoder::addLine()
{
    if (m_count > 0 && m_next == m_held) {
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
    const std::uint8_t *pixels = m_held.data();
    switch (m_bytesPerPixel) {
    case 1:
        write = CodePixels<1>(pixels, 1, m_bytesPerLine, write);
        break;
    case 3:
        write = CodePixels<3>(pixels, 3, m_bytesPerLine, write);
        break;
    default:
        write = CodePixels<0>(pixels, m_bytesPerPixel, m_bytesPerLine, write);
        break;
    }
    m_used += std::size_t(write - start);
}

}  // namespace vek::platform::linuxbackend
