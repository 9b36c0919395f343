// Fills on a monochrome PCL XL page: the logical operation, the pen and
// brush sources (grey levels through the tone curve, no source, raster
// patterns defined once per page) and the grey palette of indexed images.
#pragma once

#include <cstdint>
#include <span>

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

// The grey colour space with the palette of `entries` (red, green, blue per
// entry) through the tone curve, padded with black to `count` entries; sent
// only when it differs from the palette in force.
void XlSetPalette(DeviceRecord& r, std::span<const uint32_t> entries, size_t count);

// The grey colour space without a palette, which a GrayLevel needs.
void XlPlainGrey(DeviceRecord& r);

// The 32 x 32 one-bit pattern (1 = white) of a hatch style, lines every
// eight pixels as the engine draws them.
void HatchPattern(uint32_t style, uint8_t (&bits)[128]);

}  // namespace pclrend
