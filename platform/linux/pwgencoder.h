#pragma once
// Codes the rows of a PWG raster page as the format defines: a repeat count
// for identical consecutive lines, then runs of equal pixels and runs of
// differing ones. The same coding libcups writes, without a call per pixel:
// the equal neighbours of a line are found sixteen bytes at a time, and runs
// are measured by counting bits. Appended to the caller's buffer, so that it
// goes out in large writes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vek::platform::linuxbackend {

class PwgEncoder {
public:
    // Lines of bytesPerLine bytes of bytesPerPixel-byte pixels.
    PwgEncoder(unsigned bytesPerPixel, unsigned bytesPerLine);

    // The buffer the next line is written into before addLine(); its
    // contents are undefined until written.
    std::uint8_t *line() { return m_next.data(); }
    // Adds the line written into line(), coding whatever lines are complete.
    void addLine();
    // Codes the lines still held back; call at the end of each page.
    void endPage();

    // Bytes that belong in the stream as they are, such as a page header.
    void append(const std::uint8_t *bytes, std::size_t length);
    // The stream so far, and taking it out.
    const std::uint8_t *coded() const { return m_out.data(); }
    std::size_t codedSize() const { return m_used; }
    void clearCoded() { m_used = 0; }

private:
    void codeLine();
    std::uint8_t *reserve(std::size_t length);

    unsigned m_bytesPerPixel;
    unsigned m_bytesPerLine;
    std::vector<std::uint8_t> m_next;
    std::vector<std::uint8_t> m_held;  // the line that repeats m_count times
    std::vector<std::uint64_t> m_equal;  // per pixel of m_held, whether the next is the same
    unsigned m_count = 0;
    std::vector<std::uint8_t> m_out;
    std::size_t m_used = 0;
};

}  // namespace vek::platform::linuxbackend
