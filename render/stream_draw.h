// The drawing hooks' bodies in output mode 4 (render/stream_draw.cpp).
#pragma once

#include "render/driver.h"

namespace pclrend {

// Stroke (pboStroke), fill (pboFill) or both of the engine's path; a
// geometric pen's width is in world units of `pxo`.
BOOL StreamStrokeFill(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pboStroke, const LINEATTRS* la,
                      BRUSHOBJ* pboFill, const POINTL* org, MIX mix, FLONG options, XFORMOBJ* pxo = nullptr);

// A blit that uses the pattern or the destination only: record 108.
BOOL StreamPatternBlit(DeviceRecord& r, CLIPOBJ* pco, const RECTL& dest, BRUSHOBJ* pbo, const POINTL* org, ROP4 rop4);

// Realises a dithered colour, a hatch or a pattern for the stream; hatches
// and patterns get an identity of their own for the brush cache.
BOOL StreamRealizeBrush(DeviceRecord& r, BRUSHOBJ* pbo, SURFOBJ* pattern, XLATEOBJ* pxlo, ULONG iHatch);

// A blit: record 76 with the source's pixels, or 108 without a source.
BOOL StreamBitBlt(DeviceRecord& r, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, const RECTL& dest,
                  const POINTL* srcPoint, BRUSHOBJ* pbo, const POINTL* org, ROP4 rop4);
BOOL StreamCopyBits(DeviceRecord& r, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* pxlo, const RECTL& dest, const POINTL* srcPoint);
// A stretched image: record 81 (`rop4` 0xCCCC for StretchBlt).
BOOL StreamStretchBlt(DeviceRecord& r, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                      const COLORADJUSTMENT* pca, const POINTL* htOrigin, const RECTL& dest, const RECTL* srcRect,
                      ULONG mode, BRUSHOBJ* pbo, ROP4 rop4);
// Text: glyphs defined once per font (records 82 and 111), then record 84.
BOOL StreamTextOut(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
                   BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque);

}  // namespace pclrend
