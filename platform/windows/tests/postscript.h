#pragma once
// Reads back the images in the PostScript that Wine's printer driver sends
// for GDI pages, so tests can check what a page job drew and where.

#include "sink.h"

#include <string>
#include <vector>

namespace vek::platform::test {

struct PostScriptImage {
    int width = 0;
    int height = 0;
    std::string placement;  // the "x y translate" and "w h scale" lines before it
    std::string matrix;  // the image matrix, which says in which order the rows run
    Bytes rgb;  // width * height pixels of red, green and blue, in the matrix's row order
};

// Every image of the document in order; an image whose data cannot be
// decoded is returned with empty rgb.
std::vector<PostScriptImage> ReadPostScriptImages(const Bytes &document);

}  // namespace vek::platform::test
