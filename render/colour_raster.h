// Colour raster output (language 5): the engine draws each band of a colour
// page in 24-bit colour; every pixel is reduced to its darkness, screened to
// 2 or 4 bits against the product line's screens, packed into blocks of 128
// printer rows of 512 pixels and sent deflate-compressed (method 1009) or,
// where that does not pay, raw (method 0), turned with the page's raster angle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "render/device_record.h"
#include "render/raster.h"

namespace pclrend {

// ---- Screens ---------------------------------------------------------------

// One screen of the line as a byte table.
//   Depth 2 (`LevelScreen`): rows h, columns w, thresholds T (h x w, 1-255),
//   index matrix I (h x w: offsets into the pool), then the pool of level
//   lists {count n, n levels 1-3}.
//   Depth 4 (`ThresholdStack`): rows h, columns w, then four threshold
//   matrices of h x w (levels 1 to 4).
struct ColourScreen {
    int depth = 2;
    std::vector<uint8_t> bytes;

    int Rows() const { return bytes[0]; }
    int Columns() const { return bytes[1]; }
    const uint8_t* Thresholds(int level = 0) const {
        return bytes.data() + 2 + static_cast<size_t>(level) * Rows() * Columns();
    }
    const uint8_t* Index() const { return Thresholds(1); }
    const uint8_t* Pool() const { return Thresholds(2); }
};

// The product code whose screens the colour raster uses. The product is
// built as "QJF"; tests reach the other codes' screens by changing it.
std::string& ScreenProductCode();

// The depth-2 screen and depth-4 stack of a product code (compared without
// case); nullptr where the line has none.
const ColourScreen* LevelScreenOf(std::string_view product);
const ColourScreen* ThresholdStackOf(std::string_view product);

// The depth a record's bands are sent at: 4 for class values 7 and 9 when
// the product has a depth-4 stack, else 2 (a missing stack never drops the
// band). The kind-10 palette configures that depth; 0 here means a record
// whose class asks for no configuration (class values other than 5, 7, 9).
int ColourRasterDepth(const DeviceRecord& r);
int ColourRasterConfiguredBits(const DeviceRecord& r);

// Level of one pixel at page position (x, y): 0-3 at depth 2, 0-15 at depth
// 4. `inked` is set when the pixel reaches its first threshold.
uint8_t ScreenLevel(const ColourScreen& s, int32_t x, int32_t y, uint8_t red, uint8_t green, uint8_t blue, bool& inked);

// ---- Band geometry -----------------------------------------------------------

// Pixels up to and including the last pixel that is not white (3 bytes a
// pixel), 0 when all are white; the strided form steps `stride` bytes.
int32_t TrimWhite(const uint8_t* pixels, int32_t count);
int32_t TrimWhiteStrided(const uint8_t* pixels, int32_t count, ptrdiff_t stride);

// The grid remainder at the page's bottom: h = paperHeight - rasterOffsetY
// - printableTop, n = 128 (vertical) or 512; a value from -(n - 1) to 0.
int32_t MarginRemainder(const DeviceRecord& r, bool vertical);

// The raster angle of the page after the envelope turn (feature byte 574
// bit value 8 with paper codes 19-38): -2 = 90, -1 = 180, 2 = 270 degrees,
// anything else 0.
int16_t ColourAngle(const DeviceRecord& r);
int ColourAngleDegrees(int16_t angle);

// How a page's bands lie on the raster grid. Grid rows are `unit` rows high
// (128, or 512 at 90 and 270 degrees) and start at `gridTop` (never below
// row 0's side: 0 or negative); `margin` = -gridTop rows lie above the page;
// `remainder` is their alignment remainder, the extra rows every band after
// the first starts above its first grid row, which keeps band tops on
// multiples of 32.
struct ColourBandLayout {
    int16_t angle = 0;
    int32_t unit = 128;
    int32_t gridTop = 0;
    int32_t margin = 0;
    int32_t remainder = 0;
    uint32_t stride = 0;       // bytes of a 24-bit band row
    uint64_t minimumBudget = 0;
};
ColourBandLayout ColourLayout(const DeviceRecord& r);

// Band heights to try, largest first (the first that can be made wins):
// the whole page, then whole grid-row multiples plus the remainder.
std::vector<BandChoice> ColourBandChoices(const DeviceRecord& r, uint64_t budget);

// The page row of band `index` (1-based) of bands `height` rows high.
int32_t ColourBandTop(const DeviceRecord& r, int32_t index, int32_t height);

// ---- Sending ---------------------------------------------------------------

// A 24-bit band: red, green, blue a pixel, row 0 at page row `top`.
struct ColourBand {
    const uint8_t* pixels = nullptr;
    int32_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Sends the grid rows of the page that lie wholly (as far as they lie on the
// page) in this band. False when the page cannot be sent (a block buffer
// could not be allocated): the page must not be reported as printed.
bool SendColourBand(DeviceRecord& r, const ColourBand& band, int32_t bandX, int32_t bandY);

// The buffers of a band come from here (fixed memory, released with free);
// tests replace it to make an allocation fail.
using ColourBufferAlloc = void* (*)(size_t bytes);
ColourBufferAlloc& ColourBufferAllocator();

// An area a drawing covers, in band pixels: drawing on a language-5 page
// first renders the text queued under it (render/text_queue.h).
struct DrawnArea {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

}  // namespace pclrend
