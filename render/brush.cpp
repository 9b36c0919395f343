// Brush realisation on a monochrome page: every colour, hatch and pattern
// becomes a 32 x 32 one-bit pattern made with the renderer's own halftone.
#include <algorithm>
#include <array>
#include <cstring>

#include "base/error.h"
#include "render/brush.h"
#include "render/driver.h"
#include "render/halftone.h"
#include "render/stream_draw.h"
#include "render/xl_fill.h"

namespace pclrend {

uint32_t PixelAt(const SURFOBJ* so, LONG x, LONG y) {
    const auto* row = static_cast<const uint8_t*>(so->pvScan0) + static_cast<ptrdiff_t>(y) * so->lDelta;
    switch (so->iBitmapFormat) {
    case BMF_1BPP: return (row[x / 8] >> (7 - x % 8)) & 1;
    case BMF_4BPP: return (row[x / 2] >> (x % 2 ? 0 : 4)) & 0xF;
    case BMF_8BPP: return row[x];
    case BMF_16BPP: return static_cast<uint32_t>(row[2 * x] | row[2 * x + 1] << 8);
    case BMF_24BPP: return static_cast<uint32_t>(row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16);
    default: return static_cast<uint32_t>(row[4 * x] | row[4 * x + 1] << 8 | row[4 * x + 2] << 16);
    }
}

extern "C" {

ULONG DrvDitherColor(DHPDEV dhpdev, ULONG, ULONG rgb, ULONG* pul) {
    DeviceRecord* r = CheckedRecord(dhpdev);
    if (!r || !pul) return DCR_HALFTONE;
    Pattern p;
    DitherColour(*r, rgb, p);
    std::memcpy(pul, p.data(), p.size());
    return DCR_DRIVER;
}

BOOL DrvRealizeBrush(BRUSHOBJ* pbo, SURFOBJ* psoTarget, SURFOBJ* psoPattern, SURFOBJ*, XLATEOBJ* pxlo, ULONG iHatch) {
    DeviceRecord* r = RecordOfSurface(psoTarget);
    if (!r || !pbo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (r->outputMode == 4) return StreamRealizeBrush(*r, pbo, psoPattern, pxlo, iHatch);
    if (iHatch & RB_DITHERCOLOR) {
        auto* rb = static_cast<RealizedBrush*>(BRUSHOBJ_pvAllocRbrush(pbo, sizeof(RealizedBrush)));
        if (!rb) return FALSE;
        *rb = RealizedBrush{};
        const uint32_t rgb = iHatch & 0xFFFFFF;
        rb->kind = kBrushSolid;
        rb->colour[0] = static_cast<uint8_t>(rgb);
        rb->colour[1] = static_cast<uint8_t>(rgb >> 8);
        rb->colour[2] = static_cast<uint8_t>(rgb >> 16);
        rb->brushKey = GreyOf(rgb);
        const uint32_t sum = 5 * (rgb & 0xFF) + 9 * ((rgb >> 8) & 0xFF) + 2 * ((rgb >> 16) & 0xFF);
        if (r->colour || sum < 16 || rb->brushKey == 255) return TRUE;
        Pattern p;
        DitherColour(*r, rgb, p);
        std::memcpy(rb->pattern, p.data(), p.size());
        return TRUE;
    }
    // PCL XL keeps a pattern's own bits: the printer halftones them.
    if (r->language == Language::PclXl && iHatch >= HS_DDI_MAX) return RealizeKeptBrush(pbo, psoPattern, pxlo);
    if (iHatch < HS_DDI_MAX) {
        auto* rb = static_cast<RealizedBrush*>(BRUSHOBJ_pvAllocRbrush(pbo, sizeof(RealizedBrush)));
        if (!rb) return FALSE;
        *rb = RealizedBrush{};
        rb->kind = kBrushHatch;
        rb->brushKey = static_cast<uint16_t>(512 + iHatch);
        const ULONG fore = pxlo ? XLATEOBJ_iXlate(pxlo, 1) : 0, back = pxlo ? XLATEOBJ_iXlate(pxlo, 0) : 0xFFFFFF;
        for (int i = 0; i < 3; ++i) {
            rb->colour[i] = static_cast<uint8_t>(fore >> (8 * i));
            rb->backColour[i] = static_cast<uint8_t>(back >> (8 * i));
        }
        return TRUE;
    }
    if (!psoPattern || psoPattern->iBitmapFormat < BMF_1BPP || psoPattern->iBitmapFormat > BMF_32BPP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* rb = static_cast<RealizedBrush*>(BRUSHOBJ_pvAllocRbrush(pbo, sizeof(RealizedBrush)));
    if (!rb) return FALSE;
    *rb = RealizedBrush{};
    rb->kind = kBrushPattern;
    rb->brushKey = 256;
    std::memset(rb->pattern, 0xFF, sizeof rb->pattern);
    const ULONG format = psoPattern->iBitmapFormat;
    LONG w = psoPattern->sizlBitmap.cx, h = psoPattern->sizlBitmap.cy;
    LONG scaleX = 1, scaleY = 1;
    if (r->language == Language::Pcl5Gl2 && w == 8 && h == 8) {
        const LONG size = std::min<LONG>(32, (r->resolution * 8 + 75) / 150);
        scaleX = scaleY = std::max<LONG>(1, size / 8);
        w = h = size;
    } else {
        w = std::min<LONG>(w, 32);
        h = std::min<LONG>(h, 32);
    }
    rb->width = static_cast<uint32_t>(w);
    rb->height = static_cast<uint32_t>(h);
    const uint8_t* curve = ToneCurve(r->darknessLevel);
    const uint8_t* cell = ThresholdCellFor(*r);
    std::array<uint8_t, 256> levels{};
    if (format <= BMF_8BPP) {
        ULONG palette[256] = {};
        const ULONG n = pxlo ? XLATEOBJ_cGetPalette(pxlo, XO_SRCPALETTE, 256, palette) : 0;
        for (ULONG i = 0; i < 256; ++i) levels[i] = curve[GreyOf(i < n ? palette[i] : (i ? 0xFFFFFF : 0))];
    }
    if (w <= 0 || h <= 0) return TRUE;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const LONG sx = (x % w) / scaleX, sy = (y % h) / scaleY;
            const uint32_t p = PixelAt(psoPattern, sx, sy);
            const uint8_t level = format <= BMF_8BPP ? levels[p & 0xFF] : curve[GreyOf(DeepPixelToRgb(pxlo, format, p))];
            const uint8_t t = cell[(x % 16) * 16 + y % 16];
            if (level == 0 || (level < 255 && level < t)) rb->pattern[y * 4 + x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
        }
    return TRUE;
}

}  // extern "C"

}  // namespace pclrend
