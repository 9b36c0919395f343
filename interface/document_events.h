// The printing road of the interface driver: the document events GDI raises
// on a printer DC, the job DEVMODE made when a DC is created or reset, the
// renderer check, the first page's account step and control records, the
// watermark passes around each page, the instruction page at the document's
// end and the escape that saves an application's settings.
#pragma once

#include <cstdint>
#include <span>

#include "base/types.h"
#include "settings/devmode.h"
#include "store/driver_ui.h"

extern "C" int DrvDocumentEvent(HANDLE printer, HDC hdc, int event, ULONG inSize, void* in, ULONG outSize, void* out);

namespace zq {

// The driver level below which the renderer is refused.
inline constexpr uint32_t kLowestRendererLevel = 560;

// Makes the job DEVMODE: the printer's merged with the application's, with
// its paper formats, memory and resolved modes. The record (GlobalAlloc'd)
// is published in *out only when filled; 1, or -1 (ERROR_INVALID_DATA when
// the record could not be built).
int PrepareDocumentDevmode(HANDLE printer, DEVMODEW** out, const char16_t* deviceName, const DEVMODEW* application);

// Draws the watermark a drawing request names; 1 when drawn.
int DrawWatermark(HDC hdc, HANDLE printer, std::span<const uint8_t, 36> request);

// The three lines of the instruction page, upside down; 1 when drawn.
int DrawEndDocText(HDC hdc, HMODULE dialogLibrary, int resolution, int width, int height);

// The watermark's colour at a lightness percentage (0 keeps it, 100 white).
uint32_t LightenColour(uint32_t colour, int percent);

// Where the watermark text starts, in device units, for a text of cx x cy
// at `angle` degrees on a page of right x bottom with offsets ox, oy.
POINT WatermarkOrigin(int cx, int cy, int angle, int right, int bottom, int ox, int oy);

}  // namespace zq
