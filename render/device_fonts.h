// Device fonts: the job's font summary as the engine sees it. Each summary
// font is offered once for every symbol set both it and the job allow, so
// one stored font can be several faces; these operations turn face numbers
// into fonts and symbol-set rows, read widths and kerning pairs, and keep
// the font state of a job (use counts, printer memory, substitutions).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/font_summary_format.h"

namespace pclrend {

struct DeviceRecord;

// One row of the symbol-set variant table: the Windows character set a face
// of that set reports, the PCL set, its character table (resource type 273)
// and the mask bits that allow it.
struct SymbolSetVariant {
    uint8_t charSet;
    uint16_t value;       // number x 32 + letter - 64
    uint32_t ordinal;
    uint32_t mask1;
    uint32_t mask2;
    const char* suffix;   // appended to the face name: "Face (W1)"
    const char* name;     // sent after ESC (
};
extern const std::array<SymbolSetVariant, 10> kSymbolSetVariants;
constexpr uint16_t kNoVariant = 0xFFFF;
constexpr uint16_t kSymbolSetTableType = 273;

bool IsDbcsCharset(uint8_t charSet);

// Font state of one device record: the summary and what the job keeps
// about its fonts.
struct FontState {
    std::vector<uint8_t> summary;     // the job's font summary (empty: none)
    std::vector<uint8_t> use;         // faces each summary font contributes
    uint32_t masks[2] = {0, 0};       // the job's symbol-set masks
    bool deviceFontsOn = false;
    bool substituteFonts = false;
    bool substituteDbcs = false;
    bool trackMemory = false;
    bool hasDbcsFonts = false;
    bool memoryExhausted = false;
    // Printer memory in bytes, signed: a record that asks for 0 megabytes
    // has no figure (and no tracking), not a wrapped huge one.
    int64_t printerMemory = 0;
    int64_t freeMemory = 0;
    uint32_t dbcsFontMemory = 0;
    // "FontSubstitutes" as NUL-separated names (TrueType family, device
    // face, ...), ended by an empty name.
    std::vector<char> substituteList;
    uint16_t fontsUsedCount = 0;

    // Text caches: the last text font's transform (eM11, eM12, eM21, eM22,
    // eDx, eDy), its em, the size value of the current text and the PCL XL
    // italic simulation in force.
    float xform[6] = {0, 0, 0, 0, 0, 0};
    bool xformKnown = false;
    uint16_t unitsPerEm = 0;
    uint32_t heightValue = 0;
    bool xlSimItalic = false;
    int32_t xlCharSize = -1;          // PCL XL: size, set and row of the font in force
    uint16_t xlSymbolSet = 0xFFFF;
    uint32_t xlRow = 0;
};

// The summary's parts, all bounded by the block.
struct SummaryView {
    std::span<const uint8_t> block;
    std::span<const zq::FontSummaryEntry> entries;
    std::span<const uint8_t> names, data, kerning;
};
SummaryView ViewSummary(std::span<const uint8_t> summary);

// 1-based summary row, null when out of range.
const zq::FontSummaryEntry* FontRow(const DeviceRecord& r, uint32_t row);
std::string FontFaceName(const DeviceRecord& r, uint32_t row);
// The font's PCL selection string (at most 80 bytes).
std::string FontSelection(const DeviceRecord& r, uint32_t row);
// A data block of `size` bytes at `offset` of the data area, empty when it
// does not lie inside it or the slot is empty.
std::span<const uint8_t> FontData(const DeviceRecord& r, uint32_t offset, size_t size);
// The font's two symbol-set masks (bytes 16-23 of its symbol-set block).
std::array<uint32_t, 2> FontMasks(const DeviceRecord& r, uint32_t row);

// Faces over all fonts, face number to 1-based font, to variant row.
uint32_t CountFaces(const DeviceRecord& r);
uint32_t FaceToFont(const DeviceRecord& r, uint32_t face);
uint16_t FaceSymbolSet(const DeviceRecord& r, uint32_t face);
// The faces a font contributes under the job's masks (at least 1).
uint8_t VariantCount(const std::array<uint32_t, 2>& fontMasks, const uint32_t (&jobMasks)[2]);

// Width of `code` through a character map (segments of end codes, start
// codes and deltas) and a width table of `glyphs` entries; a code below its
// segment's start, or outside the table, gets glyph 0's width.
int16_t GlyphWidth(std::span<const uint8_t> charMap, std::span<const uint8_t> widths, uint32_t code);
// The glyph a code prints through the character map (0 when none).
uint32_t GlyphOfCode(std::span<const uint8_t> charMap, uint32_t code);
// The character map of font `row` (empty when it has none).
std::span<const uint8_t> FontCharMap(const DeviceRecord& r, uint32_t row);
// The character map's runs (start, count), closing segment left out.
std::vector<std::pair<uint16_t, uint16_t>> CharMapRuns(std::span<const uint8_t> charMap);
// Width of a glyph handle of font `row` in font units (fixed pitch: the
// average, doubled for a double-byte handle with a second byte).
int32_t HandleWidth(const DeviceRecord& r, uint32_t row, uint32_t handle);

// Equivalent family names of a face, in order; empty when it has none.
std::span<const char* const> FamilyEquivalents(std::string_view face);

// Stored kerning pair (8 bytes) and its order: by second code, then first.
struct StoredKerningPair {
    uint16_t first, second;
    int16_t amount;
    uint16_t unused;
};
static_assert(sizeof(StoredKerningPair) == 8);
void SortKerningPairs(std::span<StoredKerningPair> pairs);

// The font just used gets age 0 (and the first time its used mark and a
// count); every other font ages by one. Fonts without a resident record
// (word 28 all ones) are left alone.
void MarkFontUsed(DeviceRecord& r, uint32_t row);

// Printer memory from the record's megabytes: MB x 921600 - 462848, 0 for
// no figure.
int64_t PrinterMemoryOf(uint16_t megabytes);
// StartDoc: the resident-font reservation and the 50000-byte check.
bool ReserveFontMemory(DeviceRecord& r);
// Start of every page: the fonts' use marks are cleared.
void PageFontReset(DeviceRecord& r);

// The job's masks and the face counts of every font (enable).
void CountVariants(DeviceRecord& r);
// "FontSubstitutes" text ("a=b;c=d;") as the NUL-separated list, with its
// closing empty name.
std::vector<char> ParseSubstitutes(std::span<const uint8_t> value);
// The device face "FontSubstitutes" names for a TrueType family, else none.
std::string_view SubstituteFor(const DeviceRecord& r, std::string_view family);
// "DBCSpfm" names (split at ';'); an empty value counts none.
size_t CountDbcsNames(std::string_view value);

}  // namespace pclrend
