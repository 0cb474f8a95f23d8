#pragma once
// Writes a PWG raster document on a thread of its own, so that coding the
// rows and sending them to the scheduler overlap the rendering of the next
// page. The rows travel in blocks; white rows travel as a count. The rows
// held at a time are bounded well below a page bitmap.

#include "pwgencoder.h"

#include <cups/raster.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vek::platform::linuxbackend {

class RasterWriter {
public:
    // The stream's writer, as libcups calls it: the bytes written, or -1.
    using Send = ssize_t (*)(void *context, unsigned char *bytes, size_t length);

    // raster writes the page headers (through send, as it was opened with);
    // the rows, of bytesPerLine bytes of bytesPerPixel-byte pixels, are coded
    // here and go through send with context. raster must outlive the writer.
    RasterWriter(cups_raster_t *raster, Send send, void *context, unsigned bytesPerPixel,
        unsigned bytesPerLine);
    ~RasterWriter();
    RasterWriter(const RasterWriter &) = delete;
    RasterWriter &operator=(const RasterWriter &) = delete;

    // Starts a page with header; its rows follow.
    bool startPage(const cups_page_header2_t &header);
    // The buffer of the next row, to be filled and then added with addRow();
    // null once writing has failed.
    std::uint8_t *nextRow();
    // Adds the row whose bytes [first, end) were written; the rest of the row
    // is white and need not be written.
    bool addRow(unsigned first, unsigned end);
    // Adds count rows of white (every byte 0xff) without a buffer.
    bool addWhiteRows(unsigned count);
    // Waits until everything added was written; false when any write failed.
    bool finish();

private:
    // Written in this order: whiteBefore white rows, the header if the block
    // starts a page, then its rows.
    struct Span {
        unsigned first = 0;
        unsigned end = 0;
    };
    struct Block {
        unsigned whiteBefore = 0;
        bool startsPage = false;
        cups_page_header2_t header {};
        unsigned rows = 0;
        std::vector<std::uint8_t> bytes;
        std::vector<Span> written;  // per row, the bytes that are not white
    };

    void run();
    bool handOver();
    bool takeFreeBlock();
    bool write(Block &block);
    bool sendCoded();

    cups_raster_t *m_raster;
    Send m_send;
    void *m_context;
    unsigned m_bytesPerLine;
    PwgEncoder m_encoder;  // the writing thread's
    unsigned m_maxBlocks;
    std::vector<std::unique_ptr<Block>> m_blocks;
    Block *m_filling = nullptr;
    unsigned m_pendingWhite = 0;  // white rows after everything handed over

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block *> m_full;  // in the order they were filled
    std::vector<Block *> m_free;
    bool m_closing = false;
    bool m_failed = false;
    bool m_writing = false;  // the thread holds a block
    std::thread m_thread;
};

}  // namespace vek::platform::linuxbackend
