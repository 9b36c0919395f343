// The drawing hooks' bodies in output mode 4 (render/stream_draw.cpp).
#pragma once

#include "render/driver.h"

namespace pclrend {

// Stroke (pboStroke), fill (pboFill) or both of the engine's path.
BOOL StreamStrokeFill(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pboStroke, const LINEATTRS* la,
                      BRUSHOBJ* pboFill, const POINTL* org, MIX mix, FLONG options);

// A blit that uses the pattern or the destination only: record 108.
BOOL StreamPatternBlit(DeviceRecord& r, CLIPOBJ* pco, const RECTL& dest, BRUSHOBJ* pbo, const POINTL* org, ROP4 rop4);

}  // namespace pclrend
