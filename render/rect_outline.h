// The outline of a set of rectangles: the closed polygons whose inside is
// exactly their union, for a printer that fills paths more cheaply than it
// takes one rectangle at a time (glyph ink, clip regions).
#pragma once

#include <span>
#include <vector>

#include "gdi/ddi.h"

namespace pclrend {

// Closed rectilinear polygons, each as its corners in order (the last joins
// the first). Their inside under the even-odd rule, and under the non-zero
// rule, is exactly the union of `rects` (rectangles may overlap or touch;
// empty ones count for nothing). Outer boundaries run clockwise on the page
// (y down), holes the other way; no two corners of a polygon follow each
// other on one straight line.
std::vector<std::vector<POINTL>> OutlineOfRectangles(std::span<const RECTL> rects);

}  // namespace pclrend
