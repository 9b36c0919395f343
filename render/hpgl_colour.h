// The colour state of colour pages in PCL 5 and HP-GL/2: PCL palettes kept
// in the printer's palette slots (reused while they match, the oldest given
// up when a kind runs out), the colour-rendering commands, and the colour
// fills of areas and lines.
#pragma once

#include <cstdint>
#include <span>

#include "render/brush.h"
#include "render/device_record.h"
#include "render/hpgl_mode.h"

namespace pclrend {

struct PaletteKind {
    uint8_t firstSlot;
    uint8_t slots;
    uint16_t bytes;  // bytes of colours one slot stores (0: none)
};
const PaletteKind& PaletteKindOf(int kind);

// Makes the palette of `colours` (red, green, blue and a fourth byte; all
// four compared) the selected one, reusing a stored slot of the kind when it
// matches. `inGl2`: the caller draws in HP-GL/2 and returns to it;
// `stayInPcl`: the caller goes on in PCL. Returns the slot selected.
int SelectPalette(DeviceRecord& r, int kind, std::span<const uint32_t> colours, bool inGl2, bool stayInPcl,
                  uint8_t rop);

// Slots selected on the printer become merely stored (a macro or another
// palette took over); a run of slots is given up.
void MarkSlotsUsed(DeviceRecord& r);
void FreeSlots(DeviceRecord& r, int first, int count);

// The colour-rendering commands of one kind of object (0-2).
void SendRenderSettings(DeviceRecord& r, int kind);

// Restores PCL's colour state after a drawing changed it.
void ResetPclColor(DeviceRecord& r);

// A colour brush's palette (kind 1); returns true when the brush is two
// coloured (its pattern bits then index the palette).
bool SelectBrushPalette(DeviceRecord& r, const RealizedBrush& brush, bool inGl2, uint32_t mode);

// Colour fills in HP-GL/2: solid colours as pen 1 of a two-entry palette
// (white, colour), hatches in their two colours, patterns through the
// brush's palette. Returns the brushKey selected (kNoBrush: nothing).
uint32_t SelectColourFill(DeviceRecord& r, const RealizedBrush* brush, GlRole role, uint32_t mode);

// A colour hatch (brushKey 512-517) for areas or lines.
void SelectColourHatch(DeviceRecord& r, const RealizedBrush& brush, GlRole role, uint32_t mode);

// The 16 x 16 bitmap of a hatch style, rows top first, 1 = ink.
void HatchBitmap16(uint32_t style, uint8_t (&bits)[32]);

}  // namespace pclrend
