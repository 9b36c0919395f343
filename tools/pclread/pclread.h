// Test-side reader of PJL/PCL 5 jobs: splits the job into PJL lines and PCL
// commands, checks every escape sequence for form and every binary payload
// for its count, and decodes raster graphics (compression methods 0, 1, 2, 3,
// 5 and the 16-bit adaptive mode 1008) and rectangle fills into page bitmaps
// at the cursor positions the job sets. Written apart from the renderer so
// that it checks it independently.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pclread/hpgl_reader.h"
#include "pclread/pclxl_reader.h"
#include "pclread/soft_fonts.h"

namespace pclread {

// One page: 1 bit per pixel, 1 = black, leftmost pixel in bit 7, in PCL
// coordinates (x from the logical page's left edge, y from the top margin).
struct Page {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    std::vector<uint8_t> bits;
    // The page in colour, 3 bytes a pixel (red, green, blue; white where
    // nothing printed), once anything other than black or white printed on
    // it (HP-GL/2 colours, greys, patterns); empty before. `bits` then holds
    // the pixels darker than mid-grey.
    std::vector<uint8_t> rgb;

    bool Black(int32_t x, int32_t y) const {
        return (bits[static_cast<size_t>(y) * stride + x / 8] >> (7 - x % 8)) & 1;
    }
    // 0xRRGGBB of a pixel.
    uint32_t Colour(int32_t x, int32_t y) const {
        if (rgb.empty()) return Black(x, y) ? 0 : 0xFFFFFF;
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
    }
    int64_t BlackCount() const;

    // Characters drawn from fonts.
    using TextGlyph = pclread::TextGlyph;
    std::vector<TextGlyph> textGlyphs;

    // The printer's levels of a colour-raster page (vendor colour space
    // 255): one byte a pixel, 0 (no ink) up to 3 or 15; empty until a level
    // block printed. The page's picture shows them as greys.
    std::vector<uint8_t> levels;
    int32_t levelBits = 0;
    uint8_t Level(int32_t x, int32_t y) const {
        return levels.empty() ? 0 : levels[static_cast<size_t>(y) * width + x];
    }
};

// One PCL escape sequence: "*p" "X" with its value, or a two-character
// escape ("E"). Combined sequences appear as one command per parameter.
struct Command {
    std::string prefix;     // parameterised and group characters, e.g. "*p"
    char terminator = 0;    // upper-case parameter character, e.g. 'X'
    std::string value;      // value field as written ("-12", "0.08", "")
    size_t payload = 0;     // bytes of binary data that followed
    size_t offset = 0;      // position of the ESC in the job
};

struct Options {
    int32_t pageWidth = 0;   // logical page in dots; 0 = letter at the job's resolution
    int32_t pageHeight = 0;
    bool keepCommands = true;
    size_t maxPages = 64;
};

struct Job {
    std::vector<std::string> pjl;       // PJL lines without their line feed
    std::vector<Command> commands;
    std::vector<Page> pages;
    std::vector<std::string> errors;    // every form fault, with its offset
    int32_t resolution = 0;             // from ESC&u#D
    size_t formFeeds = 0;
    size_t levelBlocks = 0;     // colour-raster blocks decoded
    size_t levelsOffPage = 0;   // inked levels that fell outside the page
    size_t uelCount = 0;
    XlSession xl;                       // the PCL XL stream, when the job enters PCL XL
    std::vector<GlCommand> gl;          // every HP-GL/2 command (with keepCommands)
    std::vector<VendorArea> vendorAreas;  // FT9/SV9 and ESC*v9T areas, by page
    std::vector<MarkedArea> markedAreas;  // least-width pens and cross-hatches, by page
    std::map<uint32_t, SoftFont> softFonts;  // soft fonts defined at the end of the job (or its last reset)
    bool Ok() const { return errors.empty(); }
};

Job Read(std::span<const uint8_t> bytes, const Options& options = {});

// Decoders of single rows, exposed for tests. Each returns false when the
// data is malformed. `row` is the seed on entry and the decoded row after.
bool DecodePackBits(std::span<const uint8_t> data, std::vector<uint8_t>& row);
bool DecodePackBits16(std::span<const uint8_t> data, std::vector<uint8_t>& row);
bool DecodeDelta(std::span<const uint8_t> data, std::vector<uint8_t>& row);
bool DecodeRunLength(std::span<const uint8_t> data, std::vector<uint8_t>& row);

// A PNG file of rows already filtered (each led by its filter byte).
std::vector<uint8_t> PngBytes(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType,
                              std::span<const uint8_t> filteredRows);

// Writes a page as a PNG (1 bit grey, white background; RGB when the page
// holds colour).
bool WritePng(const Page& page, const std::string& path);

// Reads a PNG (8-bit grey, RGB, with or without alpha, or 1-bit grey; not
// interlaced) as a page: a pixel is black when all its colour samples are 0.
std::optional<Page> ReadPng(const std::string& path);

// An 8-bit grey picture, row after row: 0 black, 255 white.
struct Grey {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> v;
    Grey() = default;
    Grey(int32_t w, int32_t h, uint8_t fill = 255) : width(w), height(h), v(static_cast<size_t>(w) * h, fill) {}
    uint8_t At(int32_t x, int32_t y) const { return v[static_cast<size_t>(y) * width + x]; }
};

// Writes an 8-bit grey picture as a PNG.
bool WriteGreyPng(const Grey& g, const std::string& path);

// Reads a PNG of the forms ReadPng reads as grey (colour as its luminance).
std::optional<Grey> ReadGreyPng(const std::string& path);

// The grey of a 0xRRGGBB colour (0.299, 0.587, 0.114), 0 black.
uint8_t Luminance(uint32_t rgb);

// Reads an 8-bit PNG as ReadPng does, with its colours in `rgb`.
std::optional<Page> ReadRgbPng(const std::string& path);

// The re-screening check of a colour-raster page: each pixel of the
// reference (its `rgb`, white where empty) is screened with `level`, the
// printer's screen at that page position, and compared with the decoded
// levels. Text printed over the raster is judged apart: a level within 2
// pixels of it may differ, and each printed pixel must find a reference
// pixel of its colour within 2 pixels. None when the sizes differ or the
// page holds no levels.
using ScreenFunction = uint8_t (*)(int32_t x, int32_t y, uint8_t red, uint8_t green, uint8_t blue);
struct LevelComparison {
    int64_t differing = 0;   // levels unlike the reference's, away from printed text
    int32_t firstX = -1, firstY = -1;
    int64_t printed = 0;     // pixels printed over the raster
    int64_t printedWrong = 0;  // of those, with no reference pixel of their colour near
    int32_t firstPrintedX = -1, firstPrintedY = -1;
};
// A pixel printed over a colour-raster page's levels (text): its colour is
// not the grey its level shows as.
bool PrintedOverLevels(const Page& page, int32_t x, int32_t y);
std::optional<LevelComparison> CompareLevels(const Page& decoded, const Page& reference, ScreenFunction level);

// Block inflation of the colour raster (method 1009): a zlib stream with a
// 16 KB window (header 68 05 at compression level 1) that inflates to
// exactly `size` bytes. Empty on any fault, with the reason in `why`.
std::optional<std::vector<uint8_t>> InflateBlock(std::span<const uint8_t> data, size_t size, std::string& why);

// Pixels that differ between two pages (colour for colour when both are in
// colour); -1 when their sizes differ.
int64_t Differences(const Page& a, const Page& b);

// A page with printed text against its reference. Text the printer draws
// from fonts may differ in its pixels: around each glyph the reader drew
// from a font, a pixel inked in one page must have ink of the other within
// 2 pixels plus 1% of the glyph's distance from its run's start (ink boxes
// within that tolerance follow). Everywhere else the pages must be the
// same pixel for pixel. Colour pages are judged colour for colour: around
// a glyph, where the pages differ, each page's colour there must lie in the
// other page within the tolerance. nullopt when the sizes differ. A glyph's
// run may also drift by the share of its size lost to the quarter points
// the size is sent in.
struct TextJudgement {
    int64_t outside = 0;   // differing pixels away from any drawn glyph
    int32_t outsideX = -1, outsideY = -1;  // the first of them
    int64_t farInk = 0;    // text pixels beyond their tolerance
    double worst = 0;      // the largest distance to the other page's ink, against its tolerance
    int32_t worstX = 0, worstY = 0;  // where
    bool Passes() const { return outside == 0 && farInk == 0; }
};
std::optional<TextJudgement> JudgeWithText(const Page& decoded, const Page& reference);

}  // namespace pclread
