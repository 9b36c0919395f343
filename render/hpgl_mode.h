// HP-GL/2 inside PCL 5: entering and leaving it (with the page's one-time
// set-up), the logical operation, the input window, and the monochrome fills
// of areas and lines, in HP-GL/2 and as PCL area-fill patterns.
#pragma once

#include <cstdint>

#include "render/brush.h"
#include "render/device_record.h"

namespace pclrend {

// `glState` values.
inline constexpr uint16_t kGlUnused = 0;
inline constexpr uint16_t kGlInGl2 = 1;
inline constexpr uint16_t kGlInPcl = 2;
inline constexpr uint16_t kGlNotSetUp = 0xFFFF;

// Enters (true) or leaves (false) HP-GL/2. True only when the page's full
// set-up was written by this call.
bool SetGlMode(DeviceRecord& r, bool enter);

// Ends HP-GL/2 at a page's end (restart: the next entry repeats the set-up)
// or before PCL output that must not inherit its logical operation.
void ResetGlMode(DeviceRecord& r, bool restart);

// The logical operation, as a ROP3 or as a binary raster operation (1-16),
// sent in HP-GL/2 (MC) or PCL XL when it differs from the one in force.
void SetRop(DeviceRecord& r, bool isRop3, uint32_t rop);
// The PCL form (ESC*l#O), sharing the HP-GL/2 cache.
void SetPclRop(DeviceRecord& r, uint8_t rop3);

// The HP-GL/2 input window (left, top, right, bottom in device pixels), or
// none for the whole page.
void SetInputWindow(DeviceRecord& r, const int32_t* rect);

enum class GlRole : uint8_t { Area, Line };

// Selects the HP-GL/2 fill of a monochrome brush for areas (FT) or lines
// (SV). Returns the brushKey selected (256 for patterns, kNoBrush when
// nothing will be painted).
uint32_t SelectMonoFill(DeviceRecord& r, const RealizedBrush* brush, GlRole role);

// The PCL area fill of a brush (for rectangle fills and raster): pattern
// ID and pattern type. `opaque` asks for opaque white areas.
void SelectPclPattern(DeviceRecord& r, const RealizedBrush& brush, bool opaque);

// An 8 x 8 one-bit pattern (rows top first, 1 = white unless `inkIsSet`)
// as a PCL user pattern scaled to the device resolution; `bottomUp` takes
// the rows from the last to the first. Returns the pattern's side in pixels.
uint32_t DownloadScaledPattern(DeviceRecord& r, const uint8_t (&rows)[8], bool inkIsSet, bool bottomUp);

// The 32 x 32 user pattern of a brush (1 = white) as pattern `id`.
void DownloadUserPattern(DeviceRecord& r, const uint8_t (&bits)[128], uint32_t id);

// The page part of a PCL 5 page that draws in HP-GL/2: the picture frame
// (the page, or its n-up cell with the page scaled into it by the plot
// size) and the HP-GL/2 set-up, entered and left again.
void Gl2PictureFrame(DeviceRecord& r);

// The PCL cross-hatch number of an engine hatch style 0-5.
uint32_t PclHatchNumber(uint32_t style);

}  // namespace pclrend
