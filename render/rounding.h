// Rounding to whole numbers as std::lround does (halves away from zero),
// inline: the glyph outlines and path sides round two numbers a point, and
// the library call cost more than the rest of the point's work.
#pragma once

#include <cmath>
#include <cstdint>

namespace pclrend {

// std::lround(v), exactly: the part below the point is v minus its whole
// part, which a double holds without error for any |v| below 2^62.
inline long RoundHalfAway(double v) {
    if (!(std::fabs(v) < 0x1p62)) return std::lround(v);  // NaN, infinities and the huge: the library's answer
    const auto whole = static_cast<int64_t>(v);             // toward zero
    const double part = v - static_cast<double>(whole);
    return static_cast<long>(whole + (part >= 0.5) - (part <= -0.5));
}

}  // namespace pclrend
