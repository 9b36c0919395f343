// Fonts of a PCL 5 job, as the test-side reader sees them: soft-font headers
// (TrueType formats 15 and 16, bitmap format 20) and characters with their
// counts and checksums checked, user-defined symbol sets, selection by ID or
// by characteristics (a printer face, through the face table), and printed
// characters drawn: bitmaps as sent, TrueType characters from the font
// rebuilt out of its "GT" segment and the glyphs the job sent, printer faces
// from their source fonts, all with FreeType.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pclread/device_faces.h"

namespace pclread {

struct SoftFont {
    int format = 0;                    // 15, 16 or 20
    std::vector<uint8_t> globals;      // the "GT" segment (TrueType)
    uint16_t unitsPerEm = 0;
    std::map<uint16_t, std::vector<uint8_t>> glyphs;  // glyph index -> outline data
    std::map<uint32_t, uint16_t> codeToGlyph;          // character code -> glyph index (TrueType)
    struct Bitmap {
        int32_t left = 0, top = 0, width = 0, height = 0, deltaX = 0;  // deltaX in quarter dots
        std::vector<uint8_t> rows;
    };
    std::map<uint32_t, Bitmap> bitmaps;                // character code -> bitmap
    size_t glyphDownloads = 0;                         // characters received, repeats included

    // The sfnt of a TrueType soft font: the global tables plus the received
    // glyphs as "glyf" and "loca" (long offsets). Empty when the globals are
    // unusable.
    std::vector<uint8_t> Rebuild() const;
};

// Draws a bitmap character with its origin at (x, y).
void DrawBitmapChar(const SoftFont::Bitmap& b, int32_t x, int32_t y, const std::function<void(int32_t, int32_t)>& pixel);

// Draws glyphs of TrueType soft fonts with FreeType, each font rebuilt once
// (again after it received more glyphs: Forget).
class GlyphPainter {
public:
    using PixelFn = std::function<void(int32_t x, int32_t y)>;
    GlyphPainter();
    ~GlyphPainter();
    // Glyph `glyph` at `em` pixels, its origin at (x, y), turned by `angle`
    // degrees (PCL XL's character angle); an error text, or empty when drawn.
    std::string Draw(uint32_t key, const SoftFont& font, uint16_t glyph, double em, int32_t x, int32_t y,
                     const PixelFn& pixel, double angle = 0);
    void Forget(uint32_t key);
    void Clear();

private:
    struct Faces;
    std::unique_ptr<Faces> faces_;
};

class SoftFonts {
public:
    using ErrorFn = std::function<void(const std::string&)>;
    using PixelFn = std::function<void(int32_t x, int32_t y)>;
    explicit SoftFonts(ErrorFn error);
    ~SoftFonts();

    // The font and symbol-set commands; false when the command is none of them.
    bool Execute(const std::string& prefix, char terminator, const std::string& value,
                 std::span<const uint8_t> payload);
    // Whether a printable byte can be drawn (a soft font or a printer face
    // is selected).
    bool Selected() const;
    // Whether the selected font is a bitmap soft font (its characters print
    // exactly as sent).
    bool SelectedIsBitmap() const;
    // The share of the selected size that its rounding to quarter points
    // (a height) or hundredths (a pitch) may take off.
    double SizeSlack() const;
    // Draws a byte of text at the cursor (x, y on the baseline); the
    // distance the printer moves the cursor by, in dots (0 for soft fonts,
    // whose characters this driver places one by one).
    double Draw(uint8_t code, int32_t x, int32_t y, int32_t resolution, const PixelFn& pixel);
    void Reset();

    const std::map<uint32_t, SoftFont>& Fonts() const { return fonts_; }

private:
    void Header(std::span<const uint8_t> d);
    void Character(std::span<const uint8_t> d);
    void SymbolSet(std::span<const uint8_t> d);

    ErrorFn error_;
    std::map<uint32_t, SoftFont> fonts_;
    std::map<uint32_t, std::vector<uint16_t>> symbolSets_;  // value -> codes from 32
    uint32_t fontId_ = 0, charCode_ = 0, symbolSetId_ = 0;
    int64_t selected_ = -1;
    uint32_t selectedSet_ = 0;
    double height_ = 12;  // points
    double pitch_ = 10;   // characters per inch
    // The printer face the characteristics select (typeface, style, stroke
    // weight), in force while `deviceSelected_`.
    int typeface_ = 0, style_ = 0, weight_ = 0;
    bool proportional_ = true, deviceSelected_ = false;
    DeviceFacePainter devicePainter_;
    std::vector<uint8_t> pendingChar_;  // a character continued over several pieces
    GlyphPainter painter_;
};

}  // namespace pclread
