// Fills on a monochrome PCL XL page: the logical operation, the pen and
// brush sources (grey levels through the tone curve, no source, raster
// patterns defined once per page) and the grey palette of indexed images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "gdi/ddi_font.h"
#include "render/brush.h"
#include "render/device_record.h"

namespace pclrend {

// The ROP3 in force; sent only when it differs.
void XlSetRop(DeviceRecord& r, uint8_t rop3);

enum class XlRole : uint8_t { Brush, Pen };

// Selects a realised brush as the brush or pen source (no brush: NullBrush
// or NullPen). Returns the brushKey selected; kXlNoSource means nothing will
// be painted with it.
uint32_t XlSelectMonoFill(DeviceRecord& r, const RealizedBrush* brush, XlRole role);

// The colour sources of a colour page: solid colours as RGBColor in the RGB
// colour space, hatches as two-colour raster patterns (lines in the brush
// colour over its background), one-bit patterns in black and white, kept
// brushes in their own colours (indexed through an RGB palette, or red,
// green, blue per pixel). XlSelectMonoFill hands colour pages here.
uint32_t XlSelectColourFill(DeviceRecord& r, const RealizedBrush* brush, XlRole role);

// The grey colour space with the palette of `entries` (red, green, blue per
// entry) through the tone curve, padded with black to `count` entries; sent
// only when it differs from the palette in force.
void XlSetPalette(DeviceRecord& r, std::span<const uint32_t> entries, size_t count);

// The RGB colour space with the palette `entries` (red low) padded with
// black to `count` (none when 0: what an RGBColor or direct RGB pixels
// need); sent only when it differs from the one in force.
void XlSetRgbPalette(DeviceRecord& r, std::span<const uint32_t> entries, size_t count);

// The grey colour space without a palette, which a GrayLevel needs.
void XlPlainGrey(DeviceRecord& r);

// The bitmap-kept brush of PCL XL: the pattern's own bits (1, 4 or 8 bits
// per pixel with the translated palette behind them; deeper patterns as
// red, green, blue, 0 per pixel, format 24) behind the brush record, for
// the printer to halftone as a raster pattern of the pattern's own size.
// Patterns larger than kKeptSide a side are cut to their top-left corner.
constexpr uint32_t kKeptSide = 256;
constexpr size_t kKeptBitsOffset = 176;
BOOL RealizeKeptBrush(BRUSHOBJ* pbo, SURFOBJ* pattern, XLATEOBJ* pxlo);
// Bytes of a kept row (rows padded to 32 bits; format 24 is 32 bits a pixel).
inline size_t KeptRowSize(uint32_t width, uint32_t format) {
    return (static_cast<size_t>(width) * (format == 24 ? 32 : format) + 31) / 32 * 4;
}

// Copies `bits` bits of a packed source row, from bit `offset` on, into
// whole bytes at `out` ((bits + 7) / 8 of them). Bytes at or past
// `rowBytes` read as 0, so a row is never read beyond its end; bits past
// `bits` in the last byte are cleared.
void CopyRowBits(const uint8_t* row, size_t rowBytes, size_t offset, size_t bits, uint8_t* out);

// A glyph's ink (its bits at its position) as rectangles: the runs of each
// row, a run carried down while the rows below repeat it exactly (stems and
// bars become one rectangle each).
void ForEachGlyphInkRectangle(const GLYPHPOS& pos, const std::function<void(const RECTL&)>& out);

// Adds the closed polygon `corners` to the open path: from its first corner
// (a SetCursor) by relative points, each side a point of signed bytes (long
// sides cut in equal pieces) or, where that takes fewer bytes, of 16-bit
// numbers; records of at most 65535 points; CloseSubPath. Coordinates are
// cut to the signed 16-bit range first.
void XlClosedOutline(DeviceRecord& r, std::span<const POINTL> corners);

// What XlClosedOutline sends after its SetCursor (the sides as LineRelPath
// records, and CloseSubPath), appended to `out`: the same for an outline
// wherever it lies, while no corner is cut to the coordinate range.
void XlOutlineSides(std::span<const POINTL> corners, std::vector<uint8_t>& out);

// An outline kept as its XlOutlineSides, added to the open path from its
// first corner `first` (within the coordinate range).
void XlOutlineFrom(DeviceRecord& r, POINTL first, std::span<const uint8_t> sides);

// Adds the union of `rects` to the open path as its outline (see
// OutlineOfRectangles), for the even-odd rule: a four-cornered outline as a
// RectanglePath, any other by XlClosedOutline. Coordinates are cut to the
// signed 16-bit range first.
void XlRectanglesPath(DeviceRecord& r, std::span<const RECTL> rects);

// One outline of OutlineOfRectangles added to the open path: four corners
// as a RectanglePath, any other by XlClosedOutline.
void XlRectilinearOutline(DeviceRecord& r, std::span<const POINTL> corners);

// The 32 x 32 one-bit pattern (1 = white) of a hatch style, lines every
// eight pixels as the engine draws them.
void HatchPattern(uint32_t style, uint8_t (&bits)[128]);

}  // namespace pclrend
