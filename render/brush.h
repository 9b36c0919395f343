// The realized brush record kept by the engine for the drawing bodies.
#pragma once

#include <cstdint>

namespace pclrend {

constexpr uint8_t kBrushSolid = 0;
constexpr uint8_t kBrushHatch = 2;
constexpr uint8_t kBrushPattern = 3;

// 0-255 grey, 256 a pattern, 512 + style a hatch, 0x300 no brush.
constexpr uint16_t kNoBrush = 0x300;

struct RealizedBrush {
    uint8_t pattern[128];  // 32 x 32, 4 bytes a row, leftmost pixel in bit 7, 1 = white
    uint8_t kind;
    uint16_t brushKey;
    uint8_t colour[3];      // red, green, blue
    uint8_t backColour[3];
    uint32_t isPattern;
    uint32_t ownerValue;
    uint32_t width;
    uint32_t height;
    uint32_t format;
    uint32_t flags;
    uint32_t paletteCount;
    uint32_t paletteOffset;
};
static_assert(sizeof(RealizedBrush) <= 176);

}  // namespace pclrend
