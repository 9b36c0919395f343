#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pclread/pclread.h"
#include "render/halftone.h"
#include "render/output.h"
#include "render/pclxl.h"
#include "render/tests/capture_sink.h"
#include "render/tests/xl_capture.h"
#include "render/tests/gpcl6_run.h"
#include "render/xl_fill.h"
#include "render/xl_page.h"

namespace pclrend {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

RealizedBrush Solid(uint16_t key) {
    RealizedBrush b{};
    b.brushKey = key;
    return b;
}

RealizedBrush Checker(uint8_t phase) {
    RealizedBrush b{};
    b.kind = kBrushPattern;
    b.brushKey = 256;
    for (int y = 0; y < 32; ++y)
        for (int i = 0; i < 4; ++i) b.pattern[y * 4 + i] = static_cast<uint8_t>((y + phase) % 2 ? 0xAA : 0x55);
    return b;
}

// An open page: caches as BeginPage leaves them.
class XlFillTest : public ::testing::Test, protected XlCapture {
protected:
    // The page and session ended, the job read back.
    pclread::Job EndAndRead() {
        XlPageEnd(r);
        XlSessionEnd(r);
        SpoolFlush(r);
        return pclread::Read(sink.bytes);
    }
    static std::string Errors(const pclread::Job& job) {
        std::string errors;
        for (const auto& e : job.errors) errors += e + "\n";
        return errors;
    }
};

Bytes PatternDefinition(uint8_t id, const RealizedBrush& b) {
    return Cat({{0xC0, 0x00, 0xF8, 0x64, 0xC0, 0x00, 0xF8, 0x62, 0xC1, 0x20, 0x00, 0xF8, 0x6C, 0xC1, 0x20, 0x00, 0xF8,
                 0x6B, 0xD1, 0x20, 0x00, 0x20, 0x00, 0xF8, 0x67, 0xC3, id, 0x00, 0xF8, 0x69, 0xC0, 0x01, 0xF8, 0x68, 0xB3,
                 0xC1, 0x00, 0x00, 0xF8, 0x6D, 0xC1, 0x20, 0x00, 0xF8, 0x63, 0xC0, 0x00, 0xF8, 0x65, 0xB4, 0xFA, 0x80,
                 0x00, 0x00, 0x00},
                Bytes(b.pattern, b.pattern + 128),
                {0xB5}});
}

TEST_F(XlFillTest, EachStateIsSentOnlyWhenItChanges) {
    const uint8_t* curve = ToneCurve(r.darknessLevel);
    const RealizedBrush black = Solid(0), grey = Solid(128), a = Checker(0), b = Checker(1);
    struct Step {
        const char* name;
        std::function<void()> act;
        Bytes bytes;
    };
    const std::vector<Step> steps = {
        {"ROP 252", [&] { XlSetRop(r, 252); }, {0xC0, 0xFC, 0xF8, 0x2C, 0x7B}},
        {"ROP 252 again", [&] { XlSetRop(r, 252); }, {}},
        {"black brush", [&] { XlSelectMonoFill(r, &black, XlRole::Brush); }, {0xC0, curve[0], 0xF8, 0x09, 0x63}},
        {"black brush again", [&] { XlSelectMonoFill(r, &black, XlRole::Brush); }, {}},
        {"black pen: already in force at page start", [&] { XlSelectMonoFill(r, &black, XlRole::Pen); }, {}},
        {"grey pen", [&] { XlSelectMonoFill(r, &grey, XlRole::Pen); }, {0xC0, curve[128], 0xF8, 0x09, 0x79}},
        {"no brush", [&] { XlSelectMonoFill(r, nullptr, XlRole::Brush); }, {0xC0, 0x00, 0xF8, 0x04, 0x63}},
        {"a brush the engine will not realise", [&] {
             const RealizedBrush none = Solid(0x300);
             XlSelectMonoFill(r, &none, XlRole::Brush);
         }, {}},
        {"pattern a: defined, then selected", [&] { XlSelectMonoFill(r, &a, XlRole::Brush); },
         Cat({PatternDefinition(1, a), {0xC3, 0x01, 0x00, 0xF8, 0x08, 0x63}})},
        {"pattern a again", [&] { XlSelectMonoFill(r, &a, XlRole::Brush); }, {}},
        {"pattern b: a second identifier", [&] { XlSelectMonoFill(r, &b, XlRole::Brush); },
         Cat({PatternDefinition(2, b), {0xC3, 0x02, 0x00, 0xF8, 0x08, 0x63}})},
        {"pattern a as the pen: selected, not defined again", [&] { XlSelectMonoFill(r, &a, XlRole::Pen); },
         {0xC3, 0x01, 0x00, 0xF8, 0x08, 0x79}},
        {"a palette", [&] {
             const uint32_t entries[] = {0x000000, 0xFFFFFF};
             XlSetPalette(r, entries, 2);
         }, {0xC0, 0x01, 0xF8, 0x03, 0xC0, 0x02, 0xF8, 0x02, 0xC8, 0xC0, 0x02, curve[0], curve[255], 0xF8, 0x06, 0x6A}},
        {"the same palette", [&] {
             const uint32_t entries[] = {0xFF000000, 0x00FFFFFF};  // the fourth byte is not compared
             XlSetPalette(r, entries, 2);
         }, {}},
        {"a grey level leaves the palette first", [&] { XlSelectMonoFill(r, &grey, XlRole::Brush); },
         {0xC0, 0x01, 0xF8, 0x03, 0x6A, 0xC0, curve[128], 0xF8, 0x09, 0x63}},
        {"page start forgets the page's patterns", [&] {
             r.xl.PageStart();
             r.xl.colour.space = 1;
             XlSelectMonoFill(r, &b, XlRole::Brush);
         }, Cat({PatternDefinition(1, b), {0xC3, 0x01, 0x00, 0xF8, 0x08, 0x63}})},
        {"page start forgets the ROP", [&] { XlSetRop(r, 252); }, {0xC0, 0xFC, 0xF8, 0x2C, 0x7B}},
    };
    for (const auto& s : steps) {
        s.act();
        EXPECT_EQ(Out(), s.bytes) << s.name;
    }
}

TEST_F(XlFillTest, OverlayMakesTheNextDrawingResendItsState) {
    const RealizedBrush grey = Solid(100);
    XlSelectMonoFill(r, &grey, XlRole::Brush);
    XlSetRop(r, 0xF0);
    Out();
    r.devmode = std::make_unique<zq::PrivateDevmode>();
    std::strcpy(r.devmode->overlayName1, "F");
    r.devmode->overlayAtPageStart = 1;
    r.pageCount = 1;
    XlPagePart(r);
    Out();
    XlSelectMonoFill(r, &grey, XlRole::Brush);
    XlSetRop(r, 0xF0);
    const Bytes out = Out();
    EXPECT_EQ(out.size(), 10u) << "brush and ROP sent again after the stream ran";
}

TEST(XlHatch, StylesDrawLinesEveryEightPixels) {
    uint8_t bits[128];
    auto black = [&](int x, int y) { return !((bits[y * 4 + x / 8] >> (7 - x % 8)) & 1); };
    HatchPattern(0, bits);
    EXPECT_TRUE(black(5, 12));
    EXPECT_FALSE(black(5, 8));
    HatchPattern(1, bits);
    EXPECT_TRUE(black(20, 3));
    EXPECT_FALSE(black(16, 3));
    HatchPattern(5, bits);
    EXPECT_TRUE(black(3, 3));
    EXPECT_TRUE(black(3, 4));
    EXPECT_FALSE(black(3, 5));
}

// A checker raster pattern as the brush of a rectangle prints as its bits in
// both our reader and the independent interpreter: 1 is white.
// A whole session at 100 dpi with one letter page open (printable area
// from (16, 16)), in colour when asked.
void OpenPage(XlCapture& c, bool colour) {
    DeviceRecord& r = c.r;
    CaptureSink& sink = c.sink;
    r = DeviceRecord{};
    c.taken = 0;
    ASSERT_TRUE(AllocateBuffers(r, false));
    sink = CaptureSink{};
    r.sink = &sink;
    r.jobState = kJobOpen;
    r.language = Language::PclXl;
    r.resolution = 100;
    r.stamp = kStampPortrait;
    r.devmode = std::make_unique<zq::PrivateDevmode>();
    r.paperSource = 1;
    auto& g = r.geometry;
    g.paperCodeAsked = g.paperCodeUsed = 1;
    g.width = g.usedWidth = 850;
    g.length = g.usedLength = 1100;
    g.printableWidth = g.usedPrintableWidth = 818;
    g.printableLength = g.usedPrintableLength = 1068;
    g.leftMargin = g.usedLeftMargin = g.topMargin = g.usedTopMargin = 16;
    r.drawnWidth = 818;
    r.drawnHeight = 1068;
    r.nupCells.reset(new Cell[1]{{0, 0, 818, 1068}});
    r.pageCount = r.sheetPages = 1;
    r.colour = colour ? 1 : 0;
    if (colour) r.devmode->dm.dmColor = DMCOLOR_COLOR;
    XlSessionStart(r);
    XlPagePart(r);
}

TEST_F(XlFillTest, RasterPatternPrintsItsBits) {
    OpenPage(*this, false);
    const RealizedBrush checker = Checker(0);
    XlSelectMonoFill(r, &checker, XlRole::Brush);
    XlSelectMonoFill(r, nullptr, XlRole::Pen);
    XlSetRop(r, 252);
    xl::XlAttrUInt16Box(r, xl::Attr::BoundingBox, 0, 0, 64, 64);
    xl::XlOperator(r, xl::Op::Rectangle);
    const pclread::Job job = EndAndRead();
    ASSERT_TRUE(job.Ok()) << Errors(job);
    ASSERT_EQ(job.xl.pages.size(), 1u);
    // Page (x, y) is sheet (x + 16, y + 16); row y of the pattern is 0x55
    // (white at odd x) on even rows.
    auto expectChecker = [](const auto& page, const char* who) {
        int wrong = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool white = ((x + y) % 2) == 1;
                wrong += (page.At(x + 16, y + 16) > 128) != white;
            }
        EXPECT_EQ(wrong, 0) << who;
        EXPECT_GT(page.At(16 + 65, 16 + 10), 128) << who << ": nothing beyond the rectangle";
    };
    expectChecker(job.xl.pages[0], "reader");
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    const auto pages = testing::RunGpcl6(gpcl6, sink.bytes, 100, "pattern");
    ASSERT_EQ(pages.size(), 1u);
    expectChecker(pages[0], "gpcl6");
}

// Outlines of rectangles in the path: a rectangle as a RectanglePath, other
// outlines from their first corner by relative points of signed bytes (long
// sides cut in equal pieces of at most 127) or of 16-bit numbers where those
// are shorter.
TEST_F(XlFillTest, RectangleOutlinesGoAsRelativePoints) {
    const Bytes cursorAtOrigin = {0xD3, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x4C, 0x6B};
    struct Case {
        const char* name;
        std::vector<RECTL> rects;
        Bytes bytes;
    } cases[] = {
        {"a rectangle", {{10, 20, 30, 40}}, {0xE3, 10, 0, 20, 0, 30, 0, 40, 0, 0xF8, 0x42, 0xA1}},
        {"an L",
         {{0, 0, 2, 6}, {0, 4, 5, 6}},
         Cat({cursorAtOrigin,
              {0xC0, 5, 0xF8, 0x4D, 0xC0, 0x01, 0xF8, 0x50, 0x9D, 0xFB, 10, 2, 0, 0, 4, 3, 0, 0, 2, 0xFB, 0, 0x84}})},
        {"long sides in equal pieces of at most 127",
         {{0, 0, 300, 2}, {0, 0, 2, 5}},
         Cat({cursorAtOrigin, {0xC0, 9, 0xF8, 0x4D, 0xC0, 0x01, 0xF8, 0x50, 0x9D, 0xFB, 18, 100, 0, 100, 0, 100, 0, 0, 2,
                               0x9D, 0, 0x9C, 0, 0x9D, 0, 0, 3, 0xFE, 0, 0x84}})},
        {"16-bit points where shorter",
         {{0, 0, 1000, 1000}, {0, 1000, 500, 1001}},
         Cat({cursorAtOrigin, {0xC0, 5, 0xF8, 0x4D, 0xC0, 0x03, 0xF8, 0x50, 0x9D, 0xFB, 20, 0xE8, 0x03, 0, 0, 0, 0, 0xE8, 0x03,
                               0x0C, 0xFE, 0, 0, 0, 0, 1, 0, 0x0C, 0xFE, 0, 0, 0x84}})},
        {"beyond the 16-bit range: cut to it", {{-40000, 5, 40000, 9}}, {0xE3, 0x01, 0x80, 5, 0, 0xFF, 0x7F, 9, 0, 0xF8, 0x42, 0xA1}},
    };
    for (const auto& c : cases) {
        XlRectanglesPath(r, c.rects);
        EXPECT_EQ(Out(), c.bytes) << c.name;
    }
}

// A path of rectangle outlines filled even-odd prints exactly the union of
// the rectangles, in the reader and in gpcl6: a ring with an island, a
// staircase, crossing bars, sides longer than a signed byte.
TEST_F(XlFillTest, RectangleOutlinesPrintTheUnion) {
    OpenPage(*this, false);
    const std::vector<RECTL> rects = {
        {10, 10, 210, 20},   {10, 80, 210, 90},  {10, 20, 20, 80},  {200, 20, 210, 80},  {100, 40, 120, 60},  // ring, island
        {250, 10, 252, 11},  {250, 11, 255, 12}, {251, 12, 260, 14}, {253, 14, 270, 15},                      // staircase
        {300, 10, 310, 200}, {280, 90, 400, 100},                                                            // crossing bars
        {20, 150, 40, 170},  {40, 170, 60, 190},                                                             // corners touching
    };
    const RealizedBrush black = Solid(0);
    XlSelectMonoFill(r, &black, XlRole::Brush);
    XlSelectMonoFill(r, nullptr, XlRole::Pen);
    xl::XlAttrUByte(r, xl::Attr::FillMode, 1);
    xl::XlOperator(r, xl::Op::SetFillMode);
    xl::XlOperator(r, xl::Op::NewPath);
    XlRectanglesPath(r, rects);
    xl::XlOperator(r, xl::Op::PaintPath);
    const pclread::Job job = EndAndRead();
    ASSERT_TRUE(job.Ok()) << Errors(job);
    ASSERT_EQ(job.xl.pages.size(), 1u);
    // Page (x, y) is sheet (x + 16, y + 16).
    auto expectUnion = [&](const auto& page, const char* who) {
        int wrong = 0;
        for (LONG y = 0; y < 220; ++y)
            for (LONG x = 0; x < 420; ++x) {
                const bool ink = std::any_of(rects.begin(), rects.end(), [&](const RECTL& q) {
                    return q.left <= x && x < q.right && q.top <= y && y < q.bottom;
                });
                wrong += (page.At(x + 16, y + 16) < 128) != ink;
            }
        EXPECT_EQ(wrong, 0) << who;
    };
    expectUnion(job.xl.pages[0], "reader");
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    const auto pages = testing::RunGpcl6(gpcl6, sink.bytes, 100, "outline");
    ASSERT_EQ(pages.size(), 1u);
    expectUnion(pages[0], "gpcl6");
}

// A colour page's sources: solid colours, a two-colour hatch and kept
// patterns of indexed and 24-bit pixels, each filling a rectangle. The
// reader checks every attribute and prints each rectangle in the grey of its
// colours; gpcl6 prints the same greys.
TEST_F(XlFillTest, ColourSourcesPrintTheirColours) {
    OpenPage(*this, true);
    auto solid = [](uint8_t red, uint8_t green, uint8_t blue) {
        RealizedBrush b{};
        b.kind = kBrushSolid;
        b.colour[0] = red, b.colour[1] = green, b.colour[2] = blue;
        b.brushKey = GreyOf(static_cast<uint32_t>(red | green << 8 | blue << 16));
        return b;
    };
    RealizedBrush hatch{};
    hatch.kind = kBrushHatch;
    hatch.brushKey = 512 + 4;  // a cross
    hatch.colour[2] = 255;                                         // blue lines
    hatch.backColour[0] = hatch.backColour[1] = 255;               // on yellow
    // Kept brushes: 8 x 8, left half green, right half white (1 bit with a
    // palette), and a 24-bit one of red and blue columns.
    std::vector<uint32_t> keptIndexed(kKeptBitsOffset / 4 + 8 + 2, 0), kept24(kKeptBitsOffset / 4 + 8 * 8, 0);
    auto* indexed = reinterpret_cast<RealizedBrush*>(keptIndexed.data());
    indexed->kind = kBrushPattern;
    indexed->brushKey = 256;
    indexed->width = indexed->height = 8;
    indexed->format = 1;
    indexed->paletteCount = 2;
    indexed->paletteOffset = static_cast<uint32_t>(kKeptBitsOffset + 8 * KeptRowSize(8, 1));
    auto* bytes = reinterpret_cast<uint8_t*>(keptIndexed.data());
    for (int y = 0; y < 8; ++y) bytes[kKeptBitsOffset + y * KeptRowSize(8, 1)] = 0x0F;
    const uint32_t indexedPalette[2] = {0x00FF00, 0xFFFFFF};
    std::memcpy(bytes + indexed->paletteOffset, indexedPalette, sizeof indexedPalette);
    auto* deep = reinterpret_cast<RealizedBrush*>(kept24.data());
    deep->kind = kBrushPattern;
    deep->brushKey = 256;
    deep->width = deep->height = 8;
    deep->format = 24;
    auto* deepBytes = reinterpret_cast<uint8_t*>(kept24.data()) + kKeptBitsOffset;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) deepBytes[y * 32 + 4 * x + (x % 2 ? 2 : 0)] = 255;  // red, blue, red, ...
    const RealizedBrush red = solid(255, 0, 0), teal = solid(0, 128, 128);
    struct Case {
        const char* name;
        const RealizedBrush* brush;
        double grey;  // the rectangle's mean grey, 0-255
    };
    const Case cases[] = {
        {"red", &red, (5 * 255) / 16.0},
        {"teal", &teal, (9 * 128 + 2 * 128) / 16.0},
        {"blue cross-hatch on yellow", &hatch, -1},
        {"kept 1-bit pattern, green and white", indexed, (9 * 255 + (5 * 255 + 9 * 255 + 2 * 255)) / 32.0},
        {"kept 24-bit pattern, red and blue", deep, (5 * 255 + 2 * 255) / 32.0},
    };
    XlSelectMonoFill(r, nullptr, XlRole::Pen);
    XlSetRop(r, 252);
    for (size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_NE(XlSelectMonoFill(r, cases[i].brush, XlRole::Brush), kXlNoSource) << cases[i].name;
        const uint16_t x = static_cast<uint16_t>(i * 80);
        xl::XlAttrUInt16Box(r, xl::Attr::BoundingBox, x, 0, static_cast<uint16_t>(x + 64), 64);
        xl::XlOperator(r, xl::Op::Rectangle);
    }
    // The same colour again sends nothing.
    Out();
    XlSelectMonoFill(r, cases[std::size(cases) - 1].brush, XlRole::Brush);
    EXPECT_TRUE(Out().empty());
    const pclread::Job job = EndAndRead();
    ASSERT_TRUE(job.Ok()) << Errors(job);
    ASSERT_EQ(job.xl.pages.size(), 1u);
    // Mean grey of rectangle i (page (x, y) is sheet (x + 16, y + 16)).
    auto mean = [](const auto& page, size_t i) {
        double sum = 0;
        for (int y = 8; y < 56; ++y)
            for (int x = 8; x < 56; ++x) sum += page.At(static_cast<int>(16 + i * 80 + x), 16 + y);
        return sum / (48 * 48);
    };
    const auto& ours = job.xl.pages[0];
    for (size_t i = 0; i < std::size(cases); ++i)
        if (cases[i].grey >= 0) {
            EXPECT_NEAR(mean(ours, i), cases[i].grey, 2) << cases[i].name;
        }
    // The hatch: blue lines (grey 2 * 255 / 16) on yellow (14 * 255 / 16).
    int lines = 0, back = 0;
    for (int x = 8; x < 56; ++x) {
        const int v = ours.At(16 + 2 * 80 + x, 16 + 10);
        lines += v < 64;
        back += v > 200;
    }
    EXPECT_GT(lines, 0);
    EXPECT_GT(back, lines);
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    const auto pages = testing::RunGpcl6(gpcl6, sink.bytes, 100, "colour", true);
    ASSERT_EQ(pages.size(), 1u);
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_NEAR(mean(pages[0], i), mean(ours, i), 4) << cases[i].name;
}

}  // namespace
}  // namespace pclrend
