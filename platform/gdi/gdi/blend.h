// Gradient fills and transparent copies on any DC. Both are made of the DC
// calls (images, clipping, raster operations), so a printer's driver draws
// them like any other image.
#pragma once

#include "base/types.h"
#include "gdi/dc.h"

using COLOR16 = USHORT;

// A vertex: a point in logical units and its colour, 16 bits a channel
// (only the high 8 bits count).
struct TRIVERTEX {
    LONG x;
    LONG y;
    COLOR16 Red;
    COLOR16 Green;
    COLOR16 Blue;
    COLOR16 Alpha;
};
static_assert(sizeof(TRIVERTEX) == 16);
static_assert(offsetof(TRIVERTEX, Red) == 8);

struct GRADIENT_RECT {
    ULONG UpperLeft;
    ULONG LowerRight;
};
static_assert(sizeof(GRADIENT_RECT) == 8);

struct GRADIENT_TRIANGLE {
    ULONG Vertex1;
    ULONG Vertex2;
    ULONG Vertex3;
};
static_assert(sizeof(GRADIENT_TRIANGLE) == 12);

constexpr ULONG GRADIENT_FILL_RECT_H = 0, GRADIENT_FILL_RECT_V = 1, GRADIENT_FILL_TRIANGLE = 2;

extern "C" {

// Fills each rectangle (modes RECT_H, RECT_V: colours run across or down
// from its first vertex's to its second's) or each triangle (colours
// interpolated between its corners). FALSE, with nothing drawn, when a mesh
// names a vertex that is not there or an area is too large to draw.
BOOL GradientFill(HDC hdc, const TRIVERTEX* vertices, ULONG vertexCount, const void* mesh, ULONG meshCount,
                  ULONG mode);

// Copies the source rectangle, stretched to the destination, leaving out
// the pixels of colour `transparent`.
BOOL TransparentBlt(HDC dest, int xDest, int yDest, int wDest, int hDest, HDC src, int xSrc, int ySrc, int wSrc,
                    int hSrc, UINT transparent);

}  // extern "C"
