// Region calls beyond making, combining and selecting a clip: box, offset,
// hit tests, equality, and painting a region with a brush.
#pragma once

#include "base/types.h"
#include "gdi/dc.h"

extern "C" {

HRGN CreateRectRgnIndirect(const RECT* rect);
BOOL SetRectRgn(HRGN region, int left, int top, int right, int bottom);
// NULLREGION, SIMPLEREGION (one rectangle) or COMPLEXREGION; ERROR_REGION
// for a handle that is not a region.
int GetRgnBox(HRGN region, RECT* box);
int OffsetRgn(HRGN region, int dx, int dy);
BOOL PtInRegion(HRGN region, int x, int y);
BOOL RectInRegion(HRGN region, const RECT* rect);
BOOL EqualRgn(HRGN a, HRGN b);
// Painting in the DC's logical coordinates, each rectangle of the region.
BOOL FillRgn(HDC hdc, HRGN region, HBRUSH brush);
BOOL FrameRgn(HDC hdc, HRGN region, HBRUSH brush, int width, int height);
BOOL InvertRgn(HDC hdc, HRGN region);

}  // extern "C"

namespace zq::gdi {
// The frame of `area`: what of it lies within `w` pixels of its left or right
// side or `h` pixels of its top or bottom.
Region RegionFrame(const Region& area, LONG w, LONG h);
}  // namespace zq::gdi
