#pragma once
// Scales a page bitmap to a target size one output row at a time, by area
// averaging: each output pixel is the mean of the source area it covers, so
// shrinking keeps thin lines as grey instead of dropping them, and
// enlarging repeats pixels with blended edges. Holds one row of sums, never
// a whole scaled page. A page with straight alpha is laid on white as its
// pixels are read.

#include "platform/pageoutput.h"

#include <cstdint>
#include <vector>

namespace vek::platform::linuxbackend {

class RowScaler {
public:
    enum class Output { Rgb, Gray };

    // Scales page to width x height; only output columns [firstColumn,
    // endColumn) are ever produced. The page must stay alive meanwhile.
    RowScaler(const PageImage &page, int width, int height, int firstColumn, int endColumn,
        Output output);

    int channels() const { return m_output == Output::Rgb ? 3 : 1; }

    // Output columns [first, end) from the first chosen one.
    struct Span {
        int first = 0;
        int end = 0;
    };
    // Writes the output row's pixels for the chosen columns to out, except
    // where they are white: returns the columns written, outside which the
    // row is white and out was left as it was.
    Span row(int y, std::uint8_t *out);
    // True when output row y is paper white, found without making it.
    bool rowIsWhite(int y);

private:
    struct Tap {
        int index;
        std::uint32_t share;
        bool operator==(const Tap &) const = default;
    };
    struct Ink {
        int first = -1;  // -1 while the row was not looked at
        int end = 0;  // first == end: the row is white
    };
    const Ink &inkOf(int sourceRow);
    void writeColumns(int firstColumn, int endColumn, std::uint8_t *out) const;

    PageImage m_page;
    int m_height;
    Output m_output;
    bool m_overWhite;  // the page has straight alpha, to be laid on white
    bool m_sameSize;
    int m_firstColumn;
    int m_columns;
    // Per output column: its taps are source columns m_tapFirst[c] onward,
    // with shares m_shares[c * m_tapsPerColumn ...], unused ones 0.
    int m_tapsPerColumn = 0;
    std::vector<int> m_tapFirst;
    std::vector<std::uint16_t> m_shares;
    std::vector<std::uint16_t> m_pairs;  // per column, the pairs of shares it uses
    std::vector<std::uint16_t> m_sums;  // one source row of sums, four per pixel
    std::vector<std::uint8_t> m_onWhite;  // one source row laid on white, when scaling
    std::vector<Ink> m_ink;  // per source row, the span that is not white
    std::vector<Tap> m_rowTaps;  // the source rows of the output row being made
    std::vector<Tap> m_lastRowTaps;
    std::vector<std::uint8_t> m_lastRow;  // the previous output row's span, for repeats
    Span m_lastSpan;
    bool m_lastRowValid = false;
};

}  // namespace vek::platform::linuxbackend
