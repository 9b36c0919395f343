// Halftoning: grey of a colour, nine tone curves chosen by the darkness
// setting, and 16 x 16 threshold cells chosen by screen, resolution and
// dither class; the 32 x 32 one-bit patterns made from them.
//
// The tables are ours, generated at first use from a few documented dither
// generators (see halftone.cpp): a recursive Bayer matrix for the fine class,
// clustered round dots at 0 and 45 degrees for the others, and a line screen.
#pragma once

#include <array>
#include <cstdint>

#include "render/device_record.h"

namespace pclrend {

constexpr int kToneCurves = 9;
constexpr int kNeutralCurve = 4;
constexpr int kThresholdCells = 274;
constexpr int kScreens = 40;
constexpr int kCellSelectorEntries = kScreens * 3 * 3;

struct HalftoneTables {
    std::array<std::array<uint8_t, 256>, kToneCurves> curves;
    // Stored column by column: the threshold of column x, row y is
    // cell[(x % 16) * 16 + y % 16].
    std::array<std::array<uint8_t, 256>, kThresholdCells> cells;
    std::array<uint16_t, kCellSelectorEntries> selector;
};

const HalftoneTables& Halftone();

// The recursive Bayer matrix of order 16 (0-255), the dispersed ordered
// dither; screens break ties of their spot functions with it.
int BayerIndex(int x, int y);

// (5 red + 9 green + 2 blue) / 16, red in the low byte; 255 is white.
constexpr uint8_t GreyOf(uint32_t rgb) {
    const uint32_t r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
    return static_cast<uint8_t>((5 * r + 9 * g + 2 * b) >> 4);
}

// 0 at 1200 dpi, 1 at 600, 2 otherwise.
constexpr int ResolutionClass(int dpi) { return dpi == 1200 ? 0 : dpi == 600 ? 1 : 2; }

const uint8_t* ToneCurve(int darkness);
const uint8_t* ThresholdCell(int screen, int resolutionClass, int ditherClass);
const uint8_t* ThresholdCellFor(const DeviceRecord& r);

// 128 bytes: 32 rows of 4 bytes, leftmost pixel in bit 7, 1 = white.
using Pattern = std::array<uint8_t, 128>;

// Ordered dither of one printed level.
void DitherLevel(uint8_t level, const uint8_t* cell, Pattern& out);

// The pattern of a colour for the record: grey, tone curve, dither.
void DitherColour(const DeviceRecord& r, uint32_t rgb, Pattern& out);

}  // namespace pclrend
