// The printer's own faces as the test-side readers draw them. The face table
// that tools/fontgen writes beside the resident fonts
// (settings/res/device_faces.txt) gives each face its source font; a face is
// found by its PCL typeface number, style and stroke weight (PCL 5) or by
// the PCL XL name of its style (PCL XL), its codes read through the six single-byte symbol
// sets, and its characters drawn with FreeType from the source font.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pclread {

struct DeviceFaceRow {
    std::string face;
    int typeface = 0, style = 0, weight = 0, points = 0;
    std::string symbolSet;  // "-" for a text face printed through the symbol sets
    std::string source;     // the font file
    std::string xlName;     // the PCL XL name of this style of the face
};

// The row closest to a PCL 5 selection: the typeface, then the posture
// (style's low two bits), then the nearest stroke weight; null when no row
// has the typeface.
const DeviceFaceRow* FindDeviceFace(int typeface, int style, int weight);
// The row of a PCL XL font name (trailing blanks ignored): each style of
// a face has a name of its own; null when none has the name.
const DeviceFaceRow* FindDeviceFace(const std::string& xlName);

// The character a code prints in a symbol set (PCL value, e.g. 629 for
// 19U); 0 when the set is none of the six or has no character there.
char32_t SymbolSetCharacter(uint32_t symbolSet, uint8_t code);

// Draws characters of source fonts, each file opened once.
class DeviceFacePainter {
public:
    using PixelFn = std::function<void(int32_t x, int32_t y)>;
    DeviceFacePainter();
    ~DeviceFacePainter();
    // `ch` at `em` pixels with its origin at (x, y), turned by `angle`
    // degrees (PCL XL's character angle); its advance in pixels (unrounded,
    // from the font's design units), or a negative value with `fault` set.
    double Draw(const DeviceFaceRow& face, char32_t ch, double em, int32_t x, int32_t y, const PixelFn& pixel,
                std::string& fault, double angle = 0);
    // The advance of the face's widest common character (the fixed-pitch
    // width) in ems; 0 when unknown.
    double FixedAdvanceEms(const DeviceFaceRow& face);

private:
    struct Fonts;
    std::unique_ptr<Fonts> fonts_;
};

}  // namespace pclread
