// Test-side reader of PCL XL streams (the little-endian binding): checks the
// stream header, every data type tag, attribute and operator (an operator's
// attributes against the public format's list for it), embedded data lengths
// and the image and pattern blocks, and renders each page into an 8-bit grey
// picture of the whole sheet at the session's units. Written from the public
// format, apart from the renderer.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace pclread {

// A character the reader drew from a font rather than from bits the job
// sent (printer faces, outline soft fonts): its ink box and the start of its
// run (where the job last placed the cursor), in dots.
struct TextGlyph {
    int32_t left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    int32_t runX = 0, runY = 0;
    // The share of its size by which the printer's size may lie off the
    // drawing's (sizes go to the printer in quarter points).
    double sizeSlack = 0;
    // 2 pixels plus 1% of the distance from the run's start, and the slack.
    double Tolerance() const;
};

// One sheet side: 0 black, 255 white, rows top to bottom.
struct GreyPage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> grey;
    std::vector<TextGlyph> textGlyphs;
    uint8_t At(int32_t x, int32_t y) const { return grey[static_cast<size_t>(y) * width + x]; }
};

// A page placed on a sheet at a scale (an n-up cell): the sheet's index and
// the transformation SetPageScale left in force.
struct XlPlacement {
    size_t sheet = 0;
    double originX = 0, originY = 0, scaleX = 1, scaleY = 1;
};

struct XlSession {
    bool present = false;
    std::string protocol;          // "1;1" from the stream header
    int32_t unitsX = 0, unitsY = 0;  // units per inch of the session
    std::vector<GreyPage> pages;
    std::map<std::string, size_t> operatorCounts;  // by operator name
    std::vector<XlPlacement> placements;
    std::vector<std::string> notes;  // what a printer accepts but a test may want to know
    int64_t maxPixels = 300000000;   // larger sheets are a fault, not rendered
    // Streams may replay sixteen times the job's bytes, and at least this many.
    size_t minStreamReplay = size_t{64} << 10;
    // Paths may fill and stroke this many points (dash pieces and outline
    // polygons counted too) for each byte of the job, and at least the
    // minimum: a replayed stream that paints a long path again and again
    // would otherwise take without bound.
    int64_t paintPointsPerByte = 4096;
    int64_t minPaintPoints = int64_t{1} << 24;
};

// Reads the PCL XL stream at the start of `bytes` (its stream header first)
// up to the universal exit or the end; returns the bytes it took. Every fault
// of form is appended to `errors` with its offset.
size_t ReadXl(std::span<const uint8_t> bytes, size_t baseOffset, size_t maxPages, XlSession& session,
              std::vector<std::string>& errors);

// The run-length decoder of XL image and pattern rows (the PackBits form):
// false when the data is malformed.
bool DecodeXlRle(std::span<const uint8_t> data, std::vector<uint8_t>& out);

}  // namespace pclread
