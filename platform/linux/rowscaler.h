#pragma once
// Scales a page bitmap to a target size one output row at a time, by area
// averaging: each output pixel is the mean of the source area it covers, so
// shrinking keeps thin lines as grey instead of dropping them, and
// enlarging repeats pixels with blended edges. Holds one row of sums, never
// a whole scaled page.

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

    // Writes the output row's pixels for the chosen columns to out.
    void row(int y, std::uint8_t *out);

private:
    struct Tap {
        int index;
        float weight;
    };
    PageImage m_page;
    int m_height;
    Output m_output;
    bool m_sameSize;
    int m_firstColumn;
    // Per output column: its taps m_taps[m_tapStart[c] .. m_tapStart[c + 1]).
    std::vector<int> m_tapStart;
    std::vector<Tap> m_taps;
    std::vector<float> m_sums;  // one source row of blue, green, red sums
};

}  // namespace vek::platform::linuxbackend
