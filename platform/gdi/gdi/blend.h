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

struct BLENDFUNCTION {
    BYTE BlendOp;              // AC_SRC_OVER
    BYTE BlendFlags;           // 0
    BYTE SourceConstantAlpha;  // 255: the source's own alpha only
    BYTE AlphaFormat;          // AC_SRC_ALPHA: 32-bit pixels with premultiplied alpha
};
static_assert(sizeof(BLENDFUNCTION) == 4);
constexpr BYTE AC_SRC_OVER = 0, AC_SRC_ALPHA = 1;

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

// Where the one-bit `mask` holds 1, the foreground raster operation of
// `rop4` (the low byte of its high word); where it holds 0, the background
// operation (the high byte). Any two ternary operations; the source may be
// null when neither reads it.
BOOL MaskBlt(HDC dest, int xDest, int yDest, int width, int height, HDC src, int xSrc, int ySrc, HBITMAP mask,
             int xMask, int yMask, DWORD rop4);

// Copies the source rectangle onto the parallelogram whose first three
// corners are given (the source's top left, top right and bottom left),
// leaving out the pixels where the optional one-bit `mask` holds 0.
BOOL PlgBlt(HDC dest, const POINT* corners, HDC src, int xSrc, int ySrc, int width, int height, HBITMAP mask,
            int xMask, int yMask);

// Blends the source over the destination by its alpha (premultiplied, with
// AC_SRC_ALPHA) times the constant alpha. Where the destination's pixels
// cannot be read back (a printer's page), it is taken as white paper and
// pixels less than half opaque leave it as it is.
BOOL AlphaBlend(HDC dest, int xDest, int yDest, int wDest, int hDest, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                BLENDFUNCTION blend);

}  // extern "C"
