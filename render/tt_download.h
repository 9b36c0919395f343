// TrueType fonts sent to the printer as soft fonts: outline fonts (PCL 5
// header formats 15 and 16 with user-defined block symbol sets, the PCL XL
// TrueType format with characters of class 0 and 1) or, when outlines cannot
// serve, bitmap fonts of the engine's glyph bits (PCL 5 format 20, PCL XL
// bitmap fonts). Each glyph is sent once per job, the first time text needs
// it; headers and glyphs are charged against the printer's memory estimate.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "render/device_record.h"
#include "render/font_table.h"
#include "render/sfnt.h"

namespace pclrend {

// The font's notional-to-device transform (rows: x' = x m11 + y m21,
// y' = x m12 + y m22, device y down).
struct FontXform {
    float m11 = 1, m12 = 0, m21 = 0, m22 = 1;
};

// A glyph as the engine draws it: the bitmap's top left from the glyph
// origin (y down), its size, rows of (width + 7) / 8 bytes, and the
// advance in quarter dots.
struct BitmapGlyph {
    int32_t left = 0, top = 0;
    uint32_t width = 0, height = 0;
    int32_t advanceQuarterDots = 0;
    std::vector<uint8_t> rows;
};

// What a download reads of a realised TrueType font.
struct TrueTypeSource {
    uint32_t uniq = 0;
    uint32_t ttUniq = 0;
    uint32_t simulations = 0;  // kSimBold, kSimItalic
    std::span<const uint8_t> file;
    std::u16string family;
    uint8_t winCharSet = 0;
    bool fixedPitch = false;
    int16_t aveCharWidth = 0;
    uint16_t breakChar = 32;
    int16_t winAscender = 0, winDescender = 0, maxCharInc = 0, unitsPerEm = 0;  // font units
    FontXform xform;
    std::function<bool(uint32_t glyph, BitmapGlyph& out)> bitmap;
};

enum class FontForm : uint8_t { Outline, Bitmap };

// Character sets whose fonts are sent with two-byte codes.
bool IsDbcsCharSet(uint8_t charSet);

// The font's own file, resolved within a collection, when it can go to the
// printer as outlines; nullopt sends it as a bitmap font.
std::optional<Sfnt> UsableTrueType(std::span<const uint8_t> file, std::u16string_view family);

// Outline or bitmap for a font. `ttMode` 2 always sends bitmaps; a
// double-byte font needs its language's permission; PCL 5 takes outlines
// only under an equal scale turned by a multiple of 90 degrees, PCL XL
// under any transform. The printer scales a PCL 5 outline font by its
// height alone: with the font's em known, the two scales count as equal
// while they differ by less than a pixel over the em (a page fitted to the
// printable area is scaled a hair unevenly, and that must not turn large
// text into bitmaps); without it, when they agree over 1000 units.
struct OutlineChoice {
    uint16_t ttMode = 0;
    bool dbcs = false;
    bool dbcsPcl5 = false;
    bool dbcsXl = false;
    int32_t unitsPerEm = 0;
};
bool UseTrueTypeOutline(Language language, const OutlineChoice& c, bool usable, const FontXform& x);

// Em height in device pixels: the length of the transformed (0, em).
double EmPixels(const FontXform& x, int32_t unitsPerEm);
// Height in hundredths of a point at `resolution`, rounded to a quarter
// point (13 or more hundredths past a quarter round up).
int32_t QuarterPointHeight(double emPixels, uint32_t resolution);

// The "GT" segment body: the rebuilt table directory ("cvt ", "fpgm",
// "gdir", "head", "hhea", "hmtx", "maxp", "prep" as the font has them;
// without "hhea" and "hmtx" when `withMetrics` is false) followed by the
// tables, each padded to 4 bytes.
std::vector<uint8_t> BuildGlobalTrueTypeSegment(const Sfnt& s, bool withMetrics = true);

// The PCL 5 header (descriptor and segments, the bytes after ESC)s#W).
// Format 15 for a single-byte font whose "GT" segment fits 2-byte sizes,
// else format 16; `format` tells which.
std::vector<uint8_t> BuildPcl5TrueTypeHeader(const Sfnt& s, const TrueTypeSource& f, bool dbcs, uint16_t fontId,
                                             int& format);
// The PCL XL font header data (one ReadFontHeader block).
std::vector<uint8_t> BuildXlTrueTypeHeader(const Sfnt& s);

// Glyph `glyph`'s symbol-set value in PCL 5 (one user set per block of 224),
// and the letters that select it: ESC( + value / 32 + letter.
uint16_t BlockSymbolSetValue(uint32_t block);
std::string BlockSymbolSetSelection(uint16_t value);

// Where the printer finds a character.
struct GlyphCode {
    uint16_t fontId = 0;
    uint8_t code = 0;                // byte to print
    uint16_t symbolSet = 0xFFFF;     // PCL 5 outline fonts: the block's set
    uint16_t entry = kNoEntry;
};

// The record's table, made on first use.
DownloadedFonts& Downloads(DeviceRecord& r);

// Sends what is missing for one glyph of a font in the given form: the font
// header (of the glyph's block font where there is one per block), the
// block's symbol set, the glyph and its components. False when it cannot
// be printed as text (no usable font data, the glyph is unreadable, or the
// printer's memory is exhausted: nothing is then marked as sent).
bool EnsureGlyphDownloaded(DeviceRecord& r, const TrueTypeSource& f, FontForm form, uint32_t glyph, GlyphCode& out);

// The outline glyph and every component it needs can be read from the file.
bool GlyphIsSendable(const Sfnt& s, uint32_t glyph);

// Deletes every font of the job from the process (end of the job).
void FreeDownloadedFonts(DeviceRecord& r);
// At the start of a document (fonts of an earlier one are off the printer).
void StartDownloadedFonts(DeviceRecord& r);

}  // namespace pclrend
