// Paths in HP-GL/2: the engine's path as a polygon-mode polygon (PE
// encoded lines, BZ Béziers), edged and filled once per clip rectangle,
// and the line attributes of strokes (joins, caps, mitre limit, width in
// millimetres, dashes).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string>

#include "gdi/ddi.h"
#include "gdi/ddi_path.h"
#include "render/device_record.h"

namespace pclrend {

// Two base-64 digits of 12 bits, each plus 63, low digit in the low byte.
// By a number's bit width: its count of digits and the mark (128) on the
// byte of its last digit.
struct PeDigitPairs {
    uint16_t pair[4096];
    uint8_t digits[33];
    uint64_t mark[33];
    constexpr PeDigitPairs() : pair(), digits(), mark() {
        for (uint32_t v = 0; v < 4096; ++v) pair[v] = static_cast<uint16_t>(((v & 63) + 63) | ((v >> 6) + 63) << 8);
        for (int bits = 0; bits <= 32; ++bits) {
            digits[bits] = static_cast<uint8_t>(bits <= 6 ? 1 : (bits + 5) / 6);
            mark[bits] = uint64_t{0x80} << (8 * (digits[bits] - 1));
        }
    }
};
inline constexpr PeDigitPairs kPeDigitPairs;

// The PE (polyline encoded) form of one number, base 64, least significant
// digit first, the last digit marked; returns the end of its bytes. Writes
// 6 bytes at `out` whatever the length (the caller has room for the
// longest): the digits, two at a time from a table, are gathered into one
// word and stored at once.
inline char* PeEncodeTo(int32_t v, char* out) {
    // Twice the magnitude, plus one when negative, without a branch (signs
    // of a path's steps come in no order a predictor can learn).
    const uint32_t sign = static_cast<uint32_t>(v >> 31);
    const uint32_t u = (((static_cast<uint32_t>(v) ^ sign) - sign) << 1) | (sign & 1u);
    const int bits = std::bit_width(u);
    // The bytes past the last digit (zero digits) are left for the next
    // number to overwrite.
    const uint64_t w = (kPeDigitPairs.pair[u & 4095] | uint64_t{kPeDigitPairs.pair[(u >> 12) & 4095]} << 16 |
                        uint64_t{kPeDigitPairs.pair[u >> 24]} << 32) +
                       kPeDigitPairs.mark[bits];
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &w, 6);
    } else {
        for (int i = 0; i < 6; ++i) out[i] = static_cast<char>(w >> (8 * i));
    }
    return out + kPeDigitPairs.digits[bits];
}
void PeEncode(int32_t v, std::string& out);

// The whole pixel nearest to an engine coordinate (1/16 pixel), a half
// going down. The printer takes a coordinate as the middle of its pixel,
// where the engine puts the path point itself, so the nearest pixel, not
// the one below, keeps a vector where the engine draws it: dropping the
// fraction moved every vector up to a pixel up and left, and put a wide
// pen's far edge two dots from the engine's. A point on a pixel's edge
// (a half) belongs to the pixel before, as the engine fills and strokes
// it: a pixel whose middle lies on an edge is inked from the top and left.
inline int32_t NearestPixel(FIX v) { return static_cast<int32_t>((int64_t{v} + 7) >> 4); }

// "PE=" with the pair (and "<" for pen up); or the pair relative to the
// previous point, continuing an open PE instruction.
void PeWriteAbsolute(DeviceRecord& r, int32_t x, int32_t y, bool penUp);
void PeWriteRelative(DeviceRecord& r, int32_t x, int32_t y, int32_t px, int32_t py);

// One record of a path as the engine enumerates it.
struct PathPiece {
    FLONG flags = 0;
    const POINTFIX* points = nullptr;
    ULONG count = 0;
};
// Fills the next record; false when it is the last.
using PathSource = std::function<bool(PathPiece&)>;

// The path as an HP-GL/2 polygon (polygon mode 0 ... 2). False on a Bézier
// record whose points do not make whole curves (the polygon is closed). The
// engine's points (1/16 pixel) are written as whole pixels plus `offset`.
bool Gl2EmitPath(DeviceRecord& r, const PathSource& next, bool* drew = nullptr, POINTL offset = {0, 0});

// The box outside which the polygon last sent, edged or filled, paints
// nothing.
RECTL Gl2PolygonReach(const DeviceRecord& r, bool edge);

// The polygon sent, edged (EP) and/or filled (FP, FP1 with winding) in each
// rectangle of the clip: none for the whole page.
void Gl2DrawPolygonIn(DeviceRecord& r, const RECTL* clip, bool winding, bool edge, bool fill);

// One rectangle (left, top, right, bottom) filled with the area fill in
// force, from its bottom-left corner.
void Gl2FillRectangle(DeviceRecord& r, const RECTL& rect);

// Line attributes of a stroke; `m21`, `m22` the transform's second column
// (for geometric widths); `dashScale` what the transform makes of a
// geometric dash length, the square root of its determinant's size (a
// page fitted a little narrower than tall draws its dashes along x that
// much shorter than the y scale would: 0.26% put the last dash of a line
// 6 pixels off at 600 dpi); by default the second column's length.
void Gl2SetLineAttributes(DeviceRecord& r, LINEATTRS& la, float m21, float m22, double dashScale = -1);

// The user line type 8 of the dash lengths in hundredths of a pixel (at
// most 20; two are written twice), its pattern as long as they together.
void Gl2DefineDash(DeviceRecord& r, std::span<const uint32_t> lengths);

// The device length of a geometric dash element through `scale`, in
// hundredths of a pixel.
uint32_t DashHundredths(float length, double scale);

// Millimetres with five decimals: whole and the fraction in 1/100000 mm.
void Gl2WriteMillimetres(DeviceRecord& r, int32_t whole, int32_t fraction);

// The device width of a geometric line (or dash element) of `width`, in
// whole pixels to the nearest.
int32_t Gl2DeviceWidth(float width, float m21, float m22);

}  // namespace pclrend
