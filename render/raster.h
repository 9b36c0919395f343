// Monochrome raster output: one band of a one-bit surface becomes PCL raster
// rows in adaptive compression (method 5): delta rows against the row above,
// duplicate-row records, and run-length rows.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "render/device_record.h"

namespace pclrend {

// Delta-row coding (method 3) of `row` against `seed` over `length` bytes.
// Returns the coded length (0 when the rows are equal) or -1 when `out` is too
// small. Bytes of `out` past the coded length may be written too.
int32_t DeltaRow(std::span<const uint8_t> row, std::span<const uint8_t> seed, std::span<uint8_t> out);

// Run-length coding (method 2, PackBits). Returns the coded length or -1 when
// `out` is too small.
int32_t PackBits(std::span<const uint8_t> row, std::span<uint8_t> out);

// The 16-bit variant: the same control bytes, with 16-bit units in place of
// bytes. `row` must have an even length.
int32_t PackBits16(std::span<const uint8_t> row, std::span<uint8_t> out);

// Worst-case coded size reserved for one row of `rowBytes` bytes.
constexpr int32_t WorstCaseRow(int32_t rowBytes) {
    const int32_t n = (rowBytes * 5 + 3) / 4;
    return n + (n & 1);
}

struct MonoBandOptions {
    bool continuing = false;      // an earlier band of this page already sent ESC*r0F
    bool sixteenBit = false;      // model asks for the 16-bit run-length mode
    bool alwaysPackBits = false;  // every row run-length coded
    bool uninverted = false;      // rows already hold 1 for black
};

// The band heights tried for a page, largest first: page height / n for
// n = 1 .. page height / 128 + 1, keeping those whose rows fit the budget.
// The first that can be made wins.
struct BandChoice {
    int32_t rows = 0;
    int32_t count = 0;
};
std::vector<BandChoice> BandChoices(int32_t pageHeight, uint32_t rowBytes, uint64_t budget);

// Sends one band at the cursor (SendMonoBand without the scaling copy). The
// band is read as it stands: only bits past its width in a row's last byte
// may be made white.
void SendMonoBand(DeviceRecord& r, const MonoBand& band, const MonoBandOptions& options);

// Widest strip of a 24-bit band sent as one raster: its worst-case row
// record fits a block below 32767 bytes.
constexpr int32_t kRgbStripPixels = 8192;

// Sends one band of 24-bit rows (red, green, blue bytes; `width` in pixels)
// with its top left corner at (x, y) in PCL dots: 24-bit direct colour,
// ANDed onto the page (logical operation 136) in adaptive compression.
void SendRgbBand(DeviceRecord& r, const MonoBand& band, int32_t x, int32_t y);

}  // namespace pclrend
