// Text output and the machinery under it: the choice of font and path for a
// string, the device-font selection, substitution of TrueType fonts by
// device fonts, and the size and direction arithmetic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "render/driver.h"

namespace pclrend {

// The decision of one DrvTextOut call, handed to the parts that print it.
struct TextRunInfo {
    uint32_t accel = 0;        // the string's flAccel
    uint32_t deviceFont = 0;   // 1-based summary row of the font to print with
    uint32_t substituted = 0;  // a TrueType font printed with a device font
    uint32_t useDevice = 0;    // printed with a device font
    uint32_t reserved = 0;
    uint32_t simBold = 0;      // FO_SIM_BOLD of the font object, or 0
};

BOOL PclTextOut(DeviceRecord& r, SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix);

// A rectangle filled with the current pattern in PCL 5 (band coordinates;
// an all-zero rectangle draws nothing).
void PclFillRectangle(DeviceRecord& r, const RECTL& q);

// A size in hundredths of a point rounded to the nearest quarter point
// (1013 -> 1025, 1012 -> 1000).
int32_t QuarterPoints(int32_t value);
// The height (hundredths of a point, on quarter points) or pitch
// (characters per inch x 100) of a font object; none for a font without an
// em, a width or a transform.
std::optional<uint32_t> FontSizeValue(const DeviceRecord& r, FONTOBJ* pfo, bool pitch, const TextRunInfo& info);
// Sends the device font's selection string unless it is in force.
bool SelectDeviceFont(DeviceRecord& r, FONTOBJ* pfo, const TextRunInfo& info);
// Whether device font `row` is sized by pitch ("#PITCH") rather than height.
bool SizedByPitch(const DeviceRecord& r, uint32_t row);
// Sends device font `row`'s selection string with `value` (hundredths of a
// point, or characters per inch x 100) in its size placeholder, and notes
// the font in force.
void SendDeviceSelection(DeviceRecord& r, uint32_t row, uint32_t value);
// A Unicode character in a kind-1 device font: through the symbol set in
// force when it holds the character, else the first set the font allows
// that does (selected first); a character no such set holds is skipped.
void EmitMappedChar(DeviceRecord& r, uint32_t row, uint32_t ch);
// The one or two bytes (high first) of a character in a double-byte
// character set; empty when the code page has none.
std::string DbcsBytes(uint8_t charSet, uint32_t ch);
// Print direction of a font transform (eM11, eM12, eM21, eM22, ...): 0, 90,
// 180 or 270 degrees, and the command that turns the printer to it (none
// for 0).
int PrintDirection(const float (&m)[6]);
const char* PrintDirectionCommand(int degrees);
// The device font that prints a TrueType font's string, or 0.
uint32_t FindSubstituteFont(const DeviceRecord& r, FONTOBJ* pfo, STROBJ* pstro);
// Whether a character lies in the code ranges a double-byte device font of
// `charSet` prints (`deviceFace` exempts the two faces that need no 949 test).
bool InDbcsRange(uint8_t charSet, char16_t ch, std::string_view deviceFace);

// Integer length: the smallest n not below the larger coordinate with
// n x n >= x x x + y x y.
int64_t IntLength(int64_t x, int64_t y);
double FloatLength(double x, double y);
// PCL XL character angle of a transform (eM11, eM12, eM21, eM22, ...).
int CharAngle(const float (&m)[6]);

}  // namespace pclrend
