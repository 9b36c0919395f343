// Rectangle arithmetic the drawing hooks share (right and bottom exclusive).
#pragma once

#include <algorithm>

#include "gdi/ddi.h"

namespace pclrend {

// The rectangle with left <= right and top <= bottom.
inline RECTL Ordered(const RECTL& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right), std::max(r.top, r.bottom)};
}

// The part two ordered rectangles share (empty when they don't meet).
inline RECTL Intersection(const RECTL& a, const RECTL& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

inline bool Empty(const RECTL& r) { return r.left >= r.right || r.top >= r.bottom; }

// Whether two ordered rectangles share any pixel.
inline bool Overlap(const RECTL& a, const RECTL& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace pclrend
