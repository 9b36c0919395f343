// Kept glyph ink must send exactly what tracing the whole string's ink
// rectangles sends, whatever the glyphs' places: apart, touching,
// overlapping, repeated, near and beyond the edge of the coordinate range.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "render/glyph_ink.h"
#include "render/tests/xl_capture.h"
#include "render/xl_fill.h"

namespace pclrend {
namespace {

// A glyph's bits drawn as rows of '#' (ink) and '.', with its bits' corner
// at (ox, oy) from its origin.
class Glyph {
public:
    Glyph(std::vector<std::string> rows, LONG ox, LONG oy) {
        const LONG cx = static_cast<LONG>(rows.empty() ? 0 : rows[0].size()), cy = static_cast<LONG>(rows.size());
        const size_t stride = (static_cast<size_t>(cx) + 7) / 8;
        storage_.assign(sizeof(GLYPHBITS) + stride * static_cast<size_t>(cy), 0);
        bits_ = reinterpret_cast<GLYPHBITS*>(storage_.data());
        bits_->ptlOrigin = {ox, oy};
        bits_->sizlBitmap = {cx, cy};
        for (size_t y = 0; y < rows.size(); ++y)
            for (size_t x = 0; x < rows[y].size(); ++x)
                if (rows[y][x] == '#') bits_->aj[y * stride + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
        def_.pgb = bits_;
    }
    GLYPHPOS At(LONG x, LONG y) { return GLYPHPOS{0, &def_, {x, y}}; }

private:
    std::vector<uint8_t> storage_;
    GLYPHBITS* bits_ = nullptr;
    GLYPHDEF def_{};
};

// Both ways of sending a string's ink into the path, bytes each.
struct Sent {
    std::vector<uint8_t> kept, traced;
    bool any = false;
};

Sent Send(XlCapture& keeping, std::span<const GLYPHPOS> string) {
    Sent s;
    const PlacedGlyphInk ink = PlaceGlyphInk(keeping.r, string);
    s.any = !ink.Empty();
    if (s.any) XlGlyphInkPath(keeping.r, ink);
    s.kept = keeping.Out();
    XlCapture whole;
    std::vector<RECTL> rects;
    for (const GLYPHPOS& g : string) ForEachGlyphInkRectangle(g, [&](const RECTL& q) { rects.push_back(q); });
    if (!rects.empty()) XlRectanglesPath(whole.r, rects);
    s.traced = whole.Out();
    EXPECT_EQ(s.any, !rects.empty());
    return s;
}

TEST(GlyphInk, KeptInkSendsWhatTracingTheStringSends) {
    Glyph o({".####.", "##..##", "##..##", "##..##", ".####."}, 0, -5);   // a hole
    Glyph quote({"##.##", "##.##", "##.##"}, 1, -9);                      // two parts apart
    Glyph bar({"#", "#", "#", "#", "#", "#", "#"}, 0, -7);
    Glyph stair({"##....", ".##...", "..##..", "...##.", "....##"}, -2, -5);  // starts left of its origin
    Glyph blank({"....", "...."}, 0, -2);
    struct Case {
        const char* what;
        std::vector<GLYPHPOS> string;
    };
    const std::vector<Case> cases = {
        {"apart", {o.At(100, 100), quote.At(120, 100), bar.At(140, 100)}},
        {"the same glyph again", {o.At(100, 100), o.At(110, 100), o.At(300, 57)}},
        {"touching side to side", {o.At(100, 100), o.At(106, 100), bar.At(112, 100)}},
        {"overlapping (kerned)", {o.At(100, 100), o.At(104, 101), stair.At(107, 99)}},
        {"one part of a glyph joins the next", {quote.At(100, 100), bar.At(104, 98), o.At(104, 110)}},
        {"out of order along the line", {bar.At(150, 100), o.At(100, 100), stair.At(101, 103)}},
        {"left of and above the page", {o.At(-3, 2), stair.At(-1, -1), quote.At(-40, -30)}},
        {"at the edge of the coordinate range", {o.At(32761, 32766), bar.At(-32767, 10)}},
        {"beyond the coordinate range", {o.At(32764, 100), quote.At(32700, 32770), bar.At(-32770, -32760)}},
        {"blank glyphs only", {blank.At(10, 10), blank.At(20, 10)}},
        {"blank glyphs among inked", {blank.At(100, 100), o.At(102, 100), blank.At(105, 100)}},
    };
    XlCapture keeping;  // one record for all: later cases meet kept glyphs
    for (int round = 0; round < 2; ++round)
        for (const Case& c : cases) {
            const Sent s = Send(keeping, c.string);
            EXPECT_EQ(s.kept, s.traced) << c.what << (round ? " (kept from before)" : "");
        }
}

TEST(GlyphInk, KeptShapesStayBounded) {
    // Thousands of different glyphs (each a pattern of two rows of eight):
    // the record keeps a bounded number however many the job sets, and still
    // sends each string as tracing it would.
    std::vector<std::unique_ptr<Glyph>> glyphs;
    for (int n = 1; n <= 6000; ++n) {
        std::string top, bottom;
        for (int b = 0; b < 8; ++b) top += (n >> b) & 1 ? '#' : '.', bottom += (n >> (b + 8)) & 1 ? '#' : '.';
        glyphs.push_back(std::make_unique<Glyph>(std::vector<std::string>{top, bottom}, 0, -2));
    }
    XlCapture keeping;
    size_t most = 0;
    for (size_t first = 0; first < glyphs.size(); first += 50) {
        std::vector<GLYPHPOS> string;
        for (size_t k = first; k < first + 50 && k < glyphs.size(); ++k)
            string.push_back(glyphs[k]->At(static_cast<LONG>(10 * (k - first)), 100));
        const Sent s = Send(keeping, string);
        ASSERT_EQ(s.kept, s.traced) << "string at glyph " << first;
        most = std::max(most, KeptGlyphInk(keeping.r));
    }
    EXPECT_LE(most, 4096u + 50u);
}

}  // namespace
}  // namespace pclrend
