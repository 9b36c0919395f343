// The realized brush record kept by the engine for the drawing bodies.
#pragma once

#include <cstdint>

#include "gdi/ddi.h"

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

// A pixel of a 16, 24 or 32 bits per pixel pattern as a colour, red in the
// low byte. Sources whose palette is plain RGB or BGR are read as they are
// (nothing is lost to the target's palette); any other (16-bit bit fields
// of whatever layout) goes through the colour translation, whose answer is
// read by the target's palette: RGB, BGR, or an index into its entries.
// Without a translation the pixel is read as the engine lays out its deep
// formats (16 bits as 5-5-5).
inline uint32_t DeepPixelToRgb(XLATEOBJ* pxlo, ULONG format, uint32_t pixel) {
    auto swapped = [](uint32_t p) { return ((p >> 16) & 0xFF) | (p & 0xFF00) | (p & 0xFF) << 16; };
    if (!pxlo) {
        if (format == BMF_16BPP) {
            const uint32_t r = (pixel >> 10) & 31, g = (pixel >> 5) & 31, b = pixel & 31;
            return (r * 255 / 31) | (g * 255 / 31) << 8 | (b * 255 / 31) << 16;
        }
        return swapped(pixel);
    }
    if (pxlo->iSrcType == PAL_RGB) return pixel & 0xFFFFFF;
    if (pxlo->iSrcType == PAL_BGR) return swapped(pixel);
    const ULONG t = XLATEOBJ_iXlate(pxlo, pixel);
    if (pxlo->iDstType == PAL_BGR) return swapped(t);
    if (pxlo->iDstType == PAL_INDEXED) {
        ULONG entries[256] = {};
        const ULONG n = XLATEOBJ_cGetPalette(pxlo, XO_DESTPALETTE, 256, entries);
        return t < n ? entries[t] & 0xFFFFFF : 0;
    }
    return t & 0xFFFFFF;
}

}  // namespace pclrend
