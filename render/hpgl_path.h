// Paths in HP-GL/2: the engine's path as a polygon-mode polygon (PE
// encoded lines, BZ Béziers), edged and filled once per clip rectangle,
// and the line attributes of strokes (joins, caps, mitre limit, width in
// millimetres, dashes).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "gdi/ddi.h"
#include "gdi/ddi_path.h"
#include "render/device_record.h"

namespace pclrend {

// The PE (polyline encoded) form of one number, base 64, least significant
// digit first, the last digit marked; at most 6 bytes at `out`, returns
// the end.
inline char* PeEncodeTo(int32_t v, char* out) {
    uint32_t u = v >= 0 ? 2u * static_cast<uint32_t>(v) : 2u * static_cast<uint32_t>(-static_cast<int64_t>(v)) + 1u;
    while (u >= 64) {
        *out++ = static_cast<char>((u & 63) + 63);
        u >>= 6;
    }
    *out++ = static_cast<char>(u + 63 + 128);
    return out;
}
void PeEncode(int32_t v, std::string& out);

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

// The polygon sent, edged (EP) and/or filled (FP, FP1 with winding) in each
// rectangle of the clip: none for the whole page.
void Gl2DrawPolygonIn(DeviceRecord& r, const RECTL* clip, bool winding, bool edge, bool fill);

// One rectangle (left, top, right, bottom) filled with the area fill in
// force, from its bottom-left corner.
void Gl2FillRectangle(DeviceRecord& r, const RECTL& rect);

// Line attributes of a stroke; `m21`, `m22` the transform's second column
// (for geometric widths and dashes).
void Gl2SetLineAttributes(DeviceRecord& r, LINEATTRS& la, float m21, float m22);

// The user line type 8 of the dash lengths (at most 20; two are written
// twice).
void Gl2DefineDash(DeviceRecord& r, std::span<const uint32_t> lengths);

// Millimetres with five decimals: whole and the fraction in 1/100000 mm.
void Gl2WriteMillimetres(DeviceRecord& r, int32_t whole, int32_t fraction);

// The device width of a geometric line (or dash element) of `width`.
int32_t Gl2DeviceWidth(float width, float m21, float m22);

}  // namespace pclrend
