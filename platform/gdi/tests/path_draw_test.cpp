// The engine's drawing fallbacks on real surfaces: strokes, fills and text
// with brush, raster operation and clip, on 1-bit and 24-bit bitmaps.
#include <gtest/gtest.h>

#include <algorithm>

#include "gdi/coverage.h"
#include "gdi/engine.h"
#include "gdi/font.h"
#include "gdi/text.h"

namespace zq::gdi {
namespace {

size_t CountPixels(const Surface& s, ULONG value) {
    size_t n = 0;
    for (LONG y = 0; y < s.sizlBitmap.cy; ++y)
        for (LONG x = 0; x < s.sizlBitmap.cx; ++x) n += s.Pixel(x, y) == value;
    return n;
}

struct Target {
    Target(ULONG format, ULONG white) : bitmap(64, 64, format) {
        RECTL all{0, 0, 64, 64};
        EngEraseSurface(bitmap.Object(), &all, white);
    }
    Bitmap bitmap;
    Surface& S() { return *bitmap.Get(); }
};

std::unique_ptr<Path> Square(LONG l, LONG t, LONG r, LONG b) {
    auto p = std::make_unique<Path>();
    p->AddRect({LTOFX(l), LTOFX(t), LTOFX(r), LTOFX(b)});
    return p;
}

TEST(EngPaths, FillWithBrushMixAndClip) {
    struct Case {
        ULONG format;
        ULONG white;
        ULONG painted;  // pixel value the brush paints
    };
    const Case cases[] = {{BMF_24BPP, 0xFFFFFF, 0xFF0000}, {BMF_1BPP, 1, 0}};
    for (const Case& c : cases) {
        Target t(c.format, c.white);
        LogicalBrush lb;
        lb.color = c.format == BMF_24BPP ? RGB(255, 0, 0) : RGB(0, 0, 0);
        EngineBrush brush(lb, t.bitmap.Get());
        auto square = Square(10, 10, 30, 30);
        ASSERT_TRUE(EngFillPath(t.bitmap.Object(), square.get(), nullptr, &brush, nullptr, 0x0D0D, FP_ALTERNATEMODE));
        EXPECT_EQ(CountPixels(t.S(), c.painted), 400u) << c.format;
        // R2_NOT inverts what the path covers, whatever the brush: white
        // turns black.
        auto other = Square(40, 40, 50, 50);
        ASSERT_TRUE(EngFillPath(t.bitmap.Object(), other.get(), nullptr, &brush, nullptr, 0x0606, FP_ALTERNATEMODE));
        EXPECT_EQ(CountPixels(t.S(), 0), c.format == BMF_1BPP ? 500u : 100u) << c.format;
        // R2_NOP leaves everything as it was.
        ASSERT_TRUE(EngFillPath(t.bitmap.Object(), other.get(), nullptr, &brush, nullptr, 0x0B0B, FP_ALTERNATEMODE));
        EXPECT_EQ(CountPixels(t.S(), c.white), 64u * 64u - 500u) << c.format;
        // A clip of one rectangle cuts the fill.
        Target fresh(c.format, c.white);
        EngineBrush freshBrush(lb, fresh.bitmap.Get());
        EngineClip clip(Region(RECTL{0, 0, 20, 64}));
        ASSERT_TRUE(EngFillPath(fresh.bitmap.Object(), square.get(), &clip, &freshBrush, nullptr, 0x0D0D,
                                FP_ALTERNATEMODE));
        EXPECT_EQ(CountPixels(fresh.S(), c.painted), 200u) << c.format;
    }
}

TEST(EngPaths, StrokeCosmeticAndWide) {
    Target t(BMF_24BPP, 0xFFFFFF);
    LogicalBrush lb;
    lb.color = RGB(0, 0, 255);
    EngineBrush brush(lb, t.bitmap.Get());
    Path line;
    line.MoveTo({LTOFX(4), LTOFX(8)});
    line.LineTo({LTOFX(54), LTOFX(8)});
    LINEATTRS cosmetic{0, JOIN_MITER, ENDCAP_BUTT, {}, 10.0f, 0, nullptr, {}};
    ASSERT_TRUE(EngStrokePath(t.bitmap.Object(), &line, nullptr, nullptr, &brush, nullptr, &cosmetic, 0x0D0D));
    EXPECT_EQ(CountPixels(t.S(), 0x0000FF), 50u);
    LINEATTRS wide{LA_GEOMETRIC, JOIN_MITER, ENDCAP_SQUARE, {}, 10.0f, 0, nullptr, {}};
    wide.elWidth.e = 6;
    Path line2;
    line2.MoveTo({LTOFX(10), LTOFX(40)});
    line2.LineTo({LTOFX(40), LTOFX(40)});
    ASSERT_TRUE(EngStrokePath(t.bitmap.Object(), &line2, nullptr, nullptr, &brush, nullptr, &wide, 0x0D0D));
    EXPECT_EQ(CountPixels(t.S(), 0x0000FF), 50u + 36u * 6u);
    // Stroke and fill: the fill under the outline.
    Target t2(BMF_24BPP, 0xFFFFFF);
    LogicalBrush fillBrush;
    fillBrush.color = RGB(0, 255, 0);
    EngineBrush green(fillBrush, t2.bitmap.Get()), blue(lb, t2.bitmap.Get());
    auto square = Square(10, 10, 30, 30);
    ASSERT_TRUE(EngStrokeAndFillPath(t2.bitmap.Object(), square.get(), nullptr, nullptr, &blue, &cosmetic, &green,
                                     nullptr, 0x0D0D, FP_WINDINGMODE));
    size_t outline = CountPixels(t2.S(), 0x0000FF), inside = CountPixels(t2.S(), 0x00FF00);
    EXPECT_EQ(outline + inside, 21u * 21u);  // the outline reaches the closing edge's pixels
    EXPECT_EQ(inside, 19u * 19u);
}

// A one-bit target takes a shape's pixels through a mask of its coverage;
// a 24-bit one through the region of its rows' runs. Both must paint the
// same pixels, wherever the shape starts against the target's bytes and
// through a clip of two rectangles.
TEST(EngPaths, OneBitFillsAndStrokesPaintTheSamePixelsAsDeepOnesAtEveryByteOffset) {
    const std::vector<RECTL> clipRects = {{0, 0, 90, 64}, {100, 5, 140, 60}};
    for (LONG dx = 0; dx < 9; ++dx) {
        SCOPED_TRACE("shape at x + " + std::to_string(dx));
        Path shape;  // a triangle and a curve, not an upright box
        shape.MoveTo({LTOFX(3 + dx), LTOFX(50)});
        shape.LineTo({LTOFX(70 + dx), LTOFX(4)});
        shape.BezierTo({LTOFX(120 + dx), LTOFX(10)}, {LTOFX(60 + dx), LTOFX(70)}, {LTOFX(131 + dx), LTOFX(58)});
        shape.CloseFigure();
        for (bool stroke : {false, true}) {
            for (bool clipped : {false, true}) {
                Bitmap one(140, 64, BMF_1BPP), deep(140, 64, BMF_24BPP);
                ASSERT_TRUE(one && deep);
                RECTL all{0, 0, 140, 64};
                EngEraseSurface(one.Object(), &all, 1);
                EngEraseSurface(deep.Object(), &all, 0xFFFFFF);
                LogicalBrush black;
                EngineBrush oneBrush(black, one.Get()), deepBrush(black, deep.Get());
                EngineClip clip(Region::FromRects(clipRects));
                CLIPOBJ* pco = clipped ? &clip : nullptr;
                LINEATTRS wide{};
                wide.fl = LA_GEOMETRIC;
                wide.elWidth.e = 5.0f;
                wide.eMiterLimit = 10.0f;
                if (stroke) {
                    ASSERT_TRUE(EngStrokePath(one.Object(), &shape, pco, nullptr, &oneBrush, nullptr, &wide, 0x0D0D));
                    ASSERT_TRUE(EngStrokePath(deep.Object(), &shape, pco, nullptr, &deepBrush, nullptr, &wide, 0x0D0D));
                } else {
                    ASSERT_TRUE(EngFillPath(one.Object(), &shape, pco, &oneBrush, nullptr, 0x0D0D, FP_WINDINGMODE));
                    ASSERT_TRUE(EngFillPath(deep.Object(), &shape, pco, &deepBrush, nullptr, 0x0D0D, FP_WINDINGMODE));
                }
                size_t painted = 0, differ = 0;
                for (LONG y = 0; y < 64; ++y)
                    for (LONG x = 0; x < 140; ++x) {
                        const bool a = one.Get()->Pixel(x, y) == 0, b = deep.Get()->Pixel(x, y) == 0;
                        painted += a;
                        differ += a != b;
                    }
                EXPECT_GT(painted, 200u) << (stroke ? "stroke" : "fill");
                EXPECT_EQ(differ, 0u) << (stroke ? "stroke" : "fill") << (clipped ? ", clipped" : "");
            }
        }
    }
}

TEST(EngText, GlyphsOpaqueAndExtraRectangles) {
    auto face = FindFont("Liberation Sans", 400, false);
    ASSERT_TRUE(face);
    auto font = EngineFont::Create(*face, 30, 400, false, {300, 300});
    ASSERT_TRUE(font);
    Target t(BMF_1BPP, 1);
    LogicalBrush black, white;
    white.color = RGB(255, 255, 255);
    EngineBrush fore(black, t.bitmap.Get()), back(white, t.bitmap.Get());
    std::vector<HGLYPH> glyphs = {font->GlyphOf(u'H')};
    EngineString str(*font, glyphs, LayOut(*font, glyphs, {10, 40}), u"H", true, false);
    ASSERT_TRUE(EngTextOut(t.bitmap.Object(), &str, font.get(), nullptr, nullptr, nullptr, &fore, nullptr, nullptr,
                           0x0D0D));
    GLYPHDATA* gd = font->Glyph(glyphs[0], FO_GLYPHBITS);
    const GLYPHBITS* gb = gd->gdf.pgb;
    size_t ink = 0;
    size_t rowBytes = (gb->sizlBitmap.cx + 7) / 8;
    for (LONG y = 0; y < gb->sizlBitmap.cy; ++y)
        for (LONG x = 0; x < gb->sizlBitmap.cx; ++x) ink += (gb->aj[rowBytes * y + x / 8] >> (7 - x % 8)) & 1;
    EXPECT_GT(ink, 50u);
    EXPECT_EQ(CountPixels(t.S(), 0), ink);
    EXPECT_EQ(t.S().Pixel(10 + gb->ptlOrigin.x, 40 + gb->ptlOrigin.y), 0u);  // the H's top-left stem

    // An extra (underline) rectangle, clipped; the list ends with a zero one.
    Target t2(BMF_1BPP, 1);
    RECTL extra[] = {{0, 50, 40, 52}, {0, 0, 0, 0}};
    EngineClip clip(Region(RECTL{0, 0, 30, 64}));
    RECTL opaque{0, 0, 5, 5};
    ASSERT_TRUE(EngTextOut(t2.bitmap.Object(), &str, font.get(), &clip, extra, &opaque, &fore, &fore, nullptr,
                           0x0D0D));
    EXPECT_EQ(CountPixels(t2.S(), 0), ink + 30u * 2u + 25u);
}

// Overlapping glyphs, some past the surface's edges, through a clip of two
// rectangles: exactly the union of their pixels inside the clip changes,
// each pixel once (an inverting mix would undo a pixel painted twice),
// whatever the glyphs' width and their places against the target's bytes.
TEST(EngText, TheGlyphsUnionInsideTheClipIsPaintedOnce) {
    auto face = FindFont("Liberation Sans", 400, false);
    ASSERT_TRUE(face);
    struct Case {
        const char* what;
        double em;
        std::vector<POINTL> at;
    };
    const Case cases[] = {
        {"small glyphs overlapping, one past the left edge", 30, {{-7, 40}, {3, 40}, {9, 42}, {137, 30}}},
        {"glyphs wider than seven bytes, past the right and bottom edges", 160, {{13, 120}, {61, 118}, {109, 160}}},
        // Glyphs many times the target's size are rasterised only where they
        // reach into the clip: what lands must be their whole bits' pixels.
        {"glyphs far larger than the target, each reaching in at another edge", 1300,
         {{-1000, 600}, {-300, 1000}, {120, 90}, {-1107, 35}}},
    };
    const std::vector<RECTL> clipRects = {{0, 0, 70, 140}, {90, 10, 151, 100}};
    const Region clipRegion = Region::FromRects(clipRects);
    for (const Case& c : cases) {
        auto font = EngineFont::Create(*face, c.em, 400, false, {300, 300});
        ASSERT_TRUE(font);
        std::vector<HGLYPH> glyphs;
        for (size_t i = 0; i < c.at.size(); ++i) glyphs.push_back(font->GlyphOf(u"WAVM"[i % 4]));
        for (ULONG format : {ULONG{BMF_1BPP}, ULONG{BMF_24BPP}}) {
            for (MIX mix : {MIX{0x0D0D}, MIX{0x0606}}) {  // copy the pen; invert the target
                SCOPED_TRACE(std::string(c.what) + (format == BMF_1BPP ? ", 1-bit" : ", 24-bit") +
                             (mix == 0x0D0D ? ", copy" : ", invert"));
                const ULONG white = format == BMF_1BPP ? 1 : 0xFFFFFF, other = format == BMF_1BPP ? 0 : 0x808080;
                Bitmap target(151, 140, format);
                ASSERT_TRUE(target);
                std::vector<ULONG> before;
                for (LONG y = 0; y < 140; ++y)
                    for (LONG x = 0; x < 151; ++x) {
                        target.Get()->SetPixel(x, y, (x / 3 + y / 5) % 2 ? white : other);
                        before.push_back(target.Get()->Pixel(x, y));
                    }
                LogicalBrush black;
                EngineBrush fore(black, target.Get());
                EngineString str(*font, glyphs, c.at, u"WAVM", false, false);
                EngineClip clip(clipRegion);
                ASSERT_TRUE(EngTextOut(target.Object(), &str, font.get(), &clip, nullptr, nullptr, &fore, nullptr,
                                       nullptr, mix));
                // The union of the glyphs' pixels, worked out from their bits.
                std::vector<bool> inked(151 * 140, false);
                for (size_t i = 0; i < glyphs.size(); ++i) {
                    const GLYPHBITS* gb = font->Glyph(glyphs[i], FO_GLYPHBITS)->gdf.pgb;
                    const size_t rowBytes = (gb->sizlBitmap.cx + 7) / 8;
                    // The glyph's rows and columns that land on the target.
                    const LONG ox = c.at[i].x + gb->ptlOrigin.x, oy = c.at[i].y + gb->ptlOrigin.y;
                    for (LONG y = std::max(LONG{0}, -oy); y < std::min(gb->sizlBitmap.cy, 140 - oy); ++y)
                        for (LONG x = std::max(LONG{0}, -ox); x < std::min(gb->sizlBitmap.cx, 151 - ox); ++x) {
                            const LONG px = ox + x, py = oy + y;
                            if (((gb->aj[rowBytes * y + x / 8] >> (7 - x % 8)) & 1) && clipRegion.Contains(px, py))
                                inked[static_cast<size_t>(py * 151 + px)] = true;
                        }
                }
                size_t changed = 0, wrong = 0;
                for (LONG y = 0; y < 140; ++y)
                    for (LONG x = 0; x < 151; ++x) {
                        const size_t k = static_cast<size_t>(y * 151 + x);
                        const ULONG was = before[k];
                        const ULONG want = !inked[k] ? was : mix == 0x0D0D ? 0 : (~was & white);
                        wrong += target.Get()->Pixel(x, y) != want;
                        changed += inked[k];
                    }
                EXPECT_GT(changed, 100u);
                EXPECT_EQ(wrong, 0u);
            }
        }
    }
}

// One clip rectangle on a one-bit target: every ROP of a black or a white
// pen changes exactly the pixels of the glyphs' union inside the rectangle,
// each as the ROP's truth table says (the pen, the pixel) once, glyphs
// overlapping, crossing the rectangle's sides and the surface's right edge
// (rows of 151 and of 64 pixels, the rectangle reaching the last byte).
TEST(EngText, EveryRopOfASolidPenInsideOneClipRectangle) {
    auto face = FindFont("Liberation Sans", 400, false);
    ASSERT_TRUE(face);
    auto font = EngineFont::Create(*face, 60, 400, false, {300, 300});
    ASSERT_TRUE(font);
    struct Case {
        LONG width;
        RECTL clip;
        std::vector<POINTL> at;
    };
    const Case cases[] = {
        {151, {3, 5, 151, 120}, {{-9, 50}, {13, 52}, {27, 50}, {118, 70}, {131, 100}}},
        {64, {0, 0, 64, 64}, {{1, 40}, {9, 41}, {41, 45}, {50, 60}}},
        {151, {17, 33, 90, 61}, {{5, 50}, {19, 49}, {33, 50}, {61, 52}, {80, 50}}},
    };
    for (const Case& c : cases) {
        std::vector<HGLYPH> glyphs;
        for (size_t i = 0; i < c.at.size(); ++i) glyphs.push_back(font->GlyphOf(u"WAVMg"[i % 5]));
        // The union of the glyphs' pixels inside the rectangle, from their bits.
        std::vector<bool> inked(static_cast<size_t>(c.width) * 140, false);
        for (size_t i = 0; i < glyphs.size(); ++i) {
            const GLYPHBITS* gb = font->Glyph(glyphs[i], FO_GLYPHBITS)->gdf.pgb;
            const size_t rowBytes = (gb->sizlBitmap.cx + 7) / 8;
            for (LONG y = 0; y < gb->sizlBitmap.cy; ++y)
                for (LONG x = 0; x < gb->sizlBitmap.cx; ++x) {
                    const LONG px = c.at[i].x + gb->ptlOrigin.x + x, py = c.at[i].y + gb->ptlOrigin.y + y;
                    if (((gb->aj[rowBytes * y + x / 8] >> (7 - x % 8)) & 1) && px >= c.clip.left && px < c.clip.right &&
                        py >= c.clip.top && py < c.clip.bottom)
                        inked[static_cast<size_t>(py * c.width + px)] = true;
                }
        }
        for (ULONG pen : {ULONG{0}, ULONG{1}}) {
            for (MIX rop2 = 1; rop2 <= 16; ++rop2) {
                SCOPED_TRACE("width " + std::to_string(c.width) + ", pen " + std::to_string(pen) + ", ROP2 " +
                             std::to_string(rop2));
                Bitmap target(c.width, 140, BMF_1BPP);
                ASSERT_TRUE(target);
                for (LONG y = 0; y < 140; ++y)
                    for (LONG x = 0; x < c.width; ++x) target.Get()->SetPixel(x, y, (x / 3 + y / 5) % 2);
                LogicalBrush brush;
                brush.color = pen ? RGB(255, 255, 255) : RGB(0, 0, 0);
                EngineBrush fore(brush, target.Get());
                EngineString str(*font, glyphs, c.at, u"WAVMg", false, false);
                EngineClip clip(Region(c.clip));
                ASSERT_TRUE(EngTextOut(target.Object(), &str, font.get(), &clip, nullptr, nullptr, &fore, nullptr, nullptr,
                                       rop2 | rop2 << 8));
                size_t wrong = 0;
                for (LONG y = 0; y < 140; ++y)
                    for (LONG x = 0; x < c.width; ++x) {
                        const ULONG was = static_cast<ULONG>((x / 3 + y / 5) % 2);
                        // ROP2 n's result for pen P and pixel D is bit 2P + D of n - 1.
                        const ULONG want = inked[static_cast<size_t>(y * c.width + x)] ? ((rop2 - 1) >> (2 * pen + was)) & 1 : was;
                        wrong += target.Get()->Pixel(x, y) != want;
                    }
                EXPECT_EQ(wrong, 0u);
            }
        }
    }
}

}  // namespace
}  // namespace zq::gdi
