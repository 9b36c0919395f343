// Byte images of the PCL soft-font records the renderer sends: the font
// descriptors of header formats 15/16 (TrueType) and 20 (resolution-bound
// bitmap), the user-defined symbol set header and the bitmap character
// descriptor. Every multi-byte field is big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pclrend {

struct BeU16 {
    uint8_t b[2];
    void Set(uint32_t v) {
        b[0] = static_cast<uint8_t>(v >> 8);
        b[1] = static_cast<uint8_t>(v);
    }
    uint16_t Get() const { return static_cast<uint16_t>(b[0] << 8 | b[1]); }
};
struct BeU32 {
    uint8_t b[4];
    void Set(uint32_t v) {
        for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
    uint32_t Get() const { return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]; }
};
static_assert(sizeof(BeU16) == 2 && sizeof(BeU32) == 4);

// The 64 bytes every PCL font descriptor starts with.
struct PclFontDescriptor {
    BeU16 size;
    uint8_t format;
    uint8_t fontType;
    uint8_t styleMsb;
    uint8_t reserved5;
    BeU16 baseline;
    BeU16 cellWidth;
    BeU16 cellHeight;
    uint8_t orientation;
    uint8_t spacing;
    BeU16 symbolSet;
    BeU16 pitch;
    BeU16 height;
    BeU16 xHeight;
    uint8_t widthType;
    uint8_t styleLsb;
    uint8_t strokeWeight;
    uint8_t typefaceLsb;
    uint8_t typefaceMsb;
    uint8_t serifStyle;
    uint8_t quality;
    uint8_t placement;
    uint8_t underlinePosition;
    uint8_t underlineThickness;
    BeU16 textHeight;
    BeU16 textWidth;
    BeU16 firstCode;
    BeU16 lastCode;
    uint8_t pitchExtended;
    uint8_t heightExtended;
    BeU16 capHeight;
    BeU32 fontNumber;
    char fontName[16];
};
static_assert(sizeof(PclFontDescriptor) == 64);
static_assert(offsetof(PclFontDescriptor, symbolSet) == 14 && offsetof(PclFontDescriptor, pitch) == 16);
static_assert(offsetof(PclFontDescriptor, strokeWeight) == 24 && offsetof(PclFontDescriptor, typefaceLsb) == 25);
static_assert(offsetof(PclFontDescriptor, textHeight) == 32 && offsetof(PclFontDescriptor, lastCode) == 38);
static_assert(offsetof(PclFontDescriptor, capHeight) == 42 && offsetof(PclFontDescriptor, fontName) == 48);

// Formats 15 and 16: the scalable TrueType descriptor.
struct TrueTypeFontDescriptor {
    PclFontDescriptor common;
    BeU16 scaleFactor;           // 64: units per em
    BeU16 masterUnderlinePosition;
    BeU16 masterUnderlineThickness;
    uint8_t scalingTechnology;   // 1: TrueType
    uint8_t variety;
};
static_assert(sizeof(TrueTypeFontDescriptor) == 72);
static_assert(offsetof(TrueTypeFontDescriptor, scaleFactor) == 64 && offsetof(TrueTypeFontDescriptor, scalingTechnology) == 70);

// Format 20: a bitmap font bound to a resolution.
struct BitmapFontDescriptor {
    PclFontDescriptor common;
    BeU16 xResolution;
    BeU16 yResolution;
};
static_assert(sizeof(BitmapFontDescriptor) == 68 && offsetof(BitmapFontDescriptor, xResolution) == 64);

// ESC(f#W: a user-defined symbol set's header (its code values follow).
struct SymbolSetHeader {
    BeU16 size;
    BeU16 value;
    uint8_t format;
    uint8_t type;
    BeU16 firstCode;
    BeU16 lastCode;
    uint8_t requirements[8];
};
static_assert(sizeof(SymbolSetHeader) == 18 && offsetof(SymbolSetHeader, requirements) == 10);

// The descriptor of a bitmap character (format 4, class 1).
struct BitmapCharDescriptor {
    uint8_t format;
    uint8_t continuation;
    uint8_t descriptorSize;
    uint8_t charClass;
    uint8_t orientation;
    uint8_t reserved;
    BeU16 leftOffset;
    BeU16 topOffset;
    BeU16 width;
    BeU16 height;
    BeU16 deltaX;  // quarter dots
};
static_assert(sizeof(BitmapCharDescriptor) == 16 && offsetof(BitmapCharDescriptor, deltaX) == 14);

}  // namespace pclrend
