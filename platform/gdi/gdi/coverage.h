// Which pixels a path covers when it is filled or stroked: rasterised by
// cairo with antialiasing off, so every pixel is either in or out. Colours,
// raster operations and dithering are applied afterwards by the engine.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "gdi/ddi_path.h"
#include "gdi/engine.h"

namespace zq::gdi {

struct Coverage {
    RECTL area{0, 0, 0, 0};     // pixels considered, device coordinates
    std::vector<uint8_t> cells; // one byte a pixel, non-zero: covered
    size_t stride = 0;          // bytes from a row of cells to the next (padding cells stay 0)
    // A fill that is one upright rectangle: exactly these pixels (inside
    // `area`) are covered and `cells` stays empty.
    std::optional<RECTL> box;
    LONG Width() const { return area.right - area.left; }
    bool At(LONG x, LONG y) const;
    size_t Count() const;
    // The covered pixels as non-overlapping rectangles (runs of each row).
    Region ToRegion() const;
};

// Pixels whose centres lie inside the path (FP_ALTERNATEMODE: even-odd,
// FP_WINDINGMODE: non-zero).
Coverage FillCoverage(const Path& path, const RECTL& area, FLONG fillMode);

// Pixels a pen covers along the path. Cosmetic lines (no LA_GEOMETRIC) are
// one pixel wide in device space; geometric lines are `elWidth.e` wide in
// world space, their pen shaped by `xform` (null: identity), with the joins,
// caps, miter limit and style of `attrs`.
Coverage StrokeCoverage(const Path& path, const RECTL& area, const XFORML* xform, const LINEATTRS& attrs);

// Paints the pixels of a region with a brush and a ROP4: on engine bitmaps
// by EngBitBlt, on surfaces the driver keeps by its DrvBitBlt.
BOOL PaintRegion(SURFOBJ* pso, const Region& region, BRUSHOBJ* pbo, POINTL* brushOrg, ROP4 rop4);

// Paints the pixels set in a one-bit `mask` whose pixel (0, 0) lies at
// `area`'s top-left corner, inside `clip`, with a brush and a ROP3 (the
// pixels the mask leaves out stay as they are): the same pixels as
// PaintRegion of the mask's pixels cut to the clip, without building that
// region. Engine bitmaps only.
BOOL PaintMask(SURFOBJ* pso, SURFOBJ* mask, const RECTL& area, const Region& clip, BRUSHOBJ* pbo, POINTL* brushOrg,
               ULONG rop3);

// EngStrokePath and EngFillPath on an engine path (the DC calls use them).
BOOL StrokeOnto(SURFOBJ* pso, const Path& path, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, POINTL* org,
                LINEATTRS* la, MIX mix);
BOOL FillOnto(SURFOBJ* pso, const Path& path, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* org, MIX mix, FLONG options);

}  // namespace zq::gdi
