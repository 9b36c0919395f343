// The ink of PCL XL text drawn from the engine's glyph bits, as the outline
// of the bits' rectangles. A document sets the same few glyphs again and
// again, page after page: the walk of a glyph's bits into rectangles and the
// tracing of their outline are kept by the glyph's bits, and only placed on
// each later use.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "gdi/ddi.h"

namespace pclrend {

struct DeviceRecord;
struct GlyphInkShape;  // one glyph's kept ink

// The ink of a string's glyphs, each kept shape at its place.
struct PlacedGlyphInk {
    struct Glyph {
        const GlyphInkShape* shape;
        LONG dx, dy;  // where the corner of its bits lies
    };
    std::vector<Glyph> glyphs;  // the glyphs with ink
    bool inRange = true;        // every point within the signed 16-bit range
    bool Empty() const { return glyphs.empty(); }
};

// Looks up (or makes and keeps) the ink of each of `glyphs` in the record's
// cache. The shapes stay valid until the next call.
PlacedGlyphInk PlaceGlyphInk(DeviceRecord& r, std::span<const GLYPHPOS> glyphs);

// Adds the placed ink to the open path: exactly what XlRectanglesPath makes
// of all the glyphs' ink rectangles (ForEachGlyphInkRectangle) together,
// glyphs that touch or overlap traced as one outline.
void XlGlyphInkPath(DeviceRecord& r, const PlacedGlyphInk& ink);

// The number of glyph shapes the record keeps (the cache stays bounded).
size_t KeptGlyphInk(const DeviceRecord& r);

}  // namespace pclrend
