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

// One sheet side: 0 black, 255 white, rows top to bottom.
struct GreyPage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> grey;
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
