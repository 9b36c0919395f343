// The colour-raster decoder on arbitrary blocks: the first bytes choose the
// depth, the print direction, the method and the raster size; the rest is
// the block, sent inside a colour-raster page. The reader must refuse what
// is malformed without reading or writing outside its buffers, and a block
// that inflates must fill exactly its raster.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <zlib.h>

#include "pclread/pclread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int bits = data[0] & 1 ? 4 : 2;
    const int direction = (data[0] >> 1 & 3) * 90;
    const bool deflated = data[0] & 8;
    const int rows = 1 + data[1] % 130, width = 1 + (data[2] | (data[3] & 3) << 8);
    const std::vector<uint8_t> block(data + 4, data + size);

    std::string job = "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n\x1b" "E\x1b&u600D\x1b&p20i6c20S\x1b*v6W";
    job += std::string("\xff\x03\x00", 3) + static_cast<char>(bits) + std::string(2, '\0');
    job += "\x1b*p-300x-300Y\x1b&a" + std::to_string(direction) + "P\x1b*r" + std::to_string(rows) + "t" +
           std::to_string(width) + "S\x1b*r1A\x1b*b" + (deflated ? "1009" : "0") + "M\x1b*b" +
           std::to_string(block.size()) + "W";
    job.append(block.begin(), block.end());
    job += "\x1b*rB\x1b&a0P\f\x1b%-12345X";
    pclread::Options o;
    o.pageWidth = 400;
    o.pageHeight = 400;
    const auto read = pclread::Read({reinterpret_cast<const uint8_t*>(job.data()), job.size()}, o);

    // What the reader takes as a block is exactly what inflates (or lies
    // raw) to the raster's size.
    const size_t want = (static_cast<size_t>(width) * bits + 7) / 8 * static_cast<size_t>(rows);
    std::string why;
    const bool whole = deflated ? pclread::InflateBlock(block, want, why).has_value() : block.size() == want;
    if (whole != (read.levelBlocks == 1)) std::abort();
    if (deflated && whole) {
        // zlib agrees.
        std::vector<uint8_t> out(want);
        uLongf n = static_cast<uLongf>(want);
        if (uncompress(out.data(), &n, block.data(), static_cast<uLong>(block.size())) != Z_OK || n != want) std::abort();
    }
    return 0;
}
