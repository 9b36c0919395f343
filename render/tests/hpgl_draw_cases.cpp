// The HP-GL/2 path bodies called as the engine calls them, on a PCL 5 page
// writing into a capture sink; strokes are printed by the independent
// interpreter where the printer's state matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "gdi/ddi.h"
#include "gdi/ddi_path.h"
#include "gdi/engine.h"
#include "render/driver.h"
#include "render/hpgl_mode.h"
#include "render/output.h"
#include "render/tests/gl_capture.h"

namespace pclrend {
namespace {

POINTFIX P(LONG x, LONG y) { return {x * 16, y * 16}; }

size_t Count(const std::string& s, const std::string& needle) {
    size_t n = 0;
    for (size_t at = s.find(needle); at != std::string::npos; at = s.find(needle, at + 1)) ++n;
    return n;
}

// Geometric line attributes: join, cap, mitre limit and width in pixels.
LINEATTRS Geometric(ULONG join, ULONG cap, float miterLimit, float width) {
    LINEATTRS la{};
    la.fl = LA_GEOMETRIC;
    la.iJoin = join;
    la.iEndCap = cap;
    la.eMiterLimit = miterLimit;
    la.elWidth.e = width;
    return la;
}

class Gl2DrawTest : public ::testing::Test, protected GlCapture {
protected:
    void SetUp() override {
        square.MoveTo(P(10, 10));
        square.LineTo(P(100, 10));
        square.LineTo(P(100, 100));
        square.LineTo(P(10, 100));
        square.CloseFigure();
    }
    zq::gdi::Path square;
    BRUSHOBJ black{0x000000, nullptr, 0};
};

TEST_F(Gl2DrawTest, ComplexClipFillsOncePerRectangle) {
    std::vector<RECTL> rects;
    for (LONG i = 0; i < 120; ++i) rects.push_back({i * 4, 0, i * 4 + 2, 200});
    zq::gdi::EngineClip clip(zq::gdi::Region::FromRects(rects));
    ASSERT_EQ(clip.iDComplexity, DC_COMPLEX);
    zq::gdi::Path wide;  // over every rectangle
    wide.MoveTo(P(0, 0));
    wide.LineTo(P(490, 0));
    wide.LineTo(P(490, 200));
    wide.LineTo(P(0, 200));
    wide.CloseFigure();
    ASSERT_TRUE(Gl2FillPath(r, &wide, &clip, &black, 0x0D0D, FP_WINDINGMODE));
    const std::string out = Out();
    EXPECT_EQ(Count(out, "PM0"), 1u) << "the polygon is sent once";
    EXPECT_EQ(Count(out, "IW"), 120u);
    EXPECT_EQ(Count(out, "FP1"), 120u);
    EXPECT_EQ(Count(out, "IW0,199,1,0FP1"), 1u);
    EXPECT_EQ(Count(out, "IW476,199,477,0FP1"), 1u);
}

// Clip rectangles go as far as the polygon can reach: a fill's as far as
// its points, an edge's as far as its pen reaches (a mitre limit times the
// width); the rectangles beyond are not sent, and bands of the same columns
// one under another go as one window.
TEST_F(Gl2DrawTest, ClipRectanglesGoAsFarAsThePolygonReaches) {
    // Columns 20 dots wide every 40 dots; the square spans 10..100.
    std::vector<RECTL> rects;
    for (LONG i = 0; i < 10; ++i) rects.push_back({i * 40, 0, i * 40 + 20, 200});
    zq::gdi::EngineClip clip(zq::gdi::Region::FromRects(rects));
    ASSERT_TRUE(Gl2FillPath(r, &square, &clip, &black, 0x0D0D, FP_WINDINGMODE));
    std::string out = Out();
    EXPECT_EQ(Count(out, "FP1"), 3u) << out;  // 0..20, 40..60, 80..100
    EXPECT_EQ(Count(out, "IW120,"), 0u) << out;
    // A 10-dot pen, mitre limit 2: reaches 20 dots past the square: the
    // column at 120 is in reach, the one at 160 is not.
    LINEATTRS la = Geometric(JOIN_MITER, ENDCAP_SQUARE, 2.0f, 10.0f);
    ASSERT_TRUE(Gl2StrokePath(r, &square, &clip, nullptr, &black, &la, 0x0D0D));
    out = Out();
    EXPECT_EQ(Count(out, "EP"), 4u) << out;
    EXPECT_EQ(Count(out, "IW120,122,122,0EP"), 1u) << out;
    // An ellipse-like clip of one-dot bands, wider than the square in its
    // middle rows: the rows that cover the square's columns join into one
    // window; the narrow rows above and below go one by one.
    std::vector<RECTL> bands;
    for (LONG y = 0; y < 110; ++y) {
        const LONG inset = y < 30 ? 30 - y : 0;
        bands.push_back({inset, y, 200 - inset, y + 1});
    }
    zq::gdi::EngineClip ellipse(zq::gdi::Region::FromRects(bands));
    ASSERT_EQ(ellipse.iDComplexity, DC_COMPLEX);
    ASSERT_TRUE(Gl2FillPath(r, &square, &ellipse, &black, 0x0D0D, FP_WINDINGMODE));
    out = Out();
    // Rows 8..21 reach past the square's left at 10 - 2 and differ; rows
    // 22..102 all run 8..103.
    EXPECT_EQ(Count(out, "IW8,102,102,22FP1"), 1u) << out;
    EXPECT_EQ(Count(out, "FP1"), 15u) << out;
}

TEST_F(Gl2DrawTest, NoBrushSendsThePolygonButPaintsNothing) {
    ASSERT_TRUE(Gl2StrokePath(r, &square, nullptr, nullptr, nullptr, nullptr, 0x0D0D));
    const std::string out = Out();
    EXPECT_EQ(Count(out, "PM2"), 1u);
    EXPECT_EQ(Count(out, "EP"), 0u);
    ASSERT_TRUE(Gl2StrokeAndFillPath(r, &square, nullptr, nullptr, nullptr, nullptr, &black, 0x0D0D, 0));
    const std::string both = Out();
    EXPECT_EQ(Count(both, "FP"), 1u);
    EXPECT_EQ(Count(both, "EP"), 0u);
}

TEST_F(Gl2DrawTest, AnEmptyPathPaintsNotTheOldPolygon) {
    ASSERT_TRUE(Gl2FillPath(r, &square, nullptr, &black, 0x0D0D, 0));
    Out();
    zq::gdi::Path empty;
    ASSERT_TRUE(Gl2FillPath(r, &empty, nullptr, &black, 0x0D0D, 0));
    ASSERT_TRUE(Gl2StrokePath(r, &empty, nullptr, nullptr, &black, nullptr, 0x0D0D));
    const std::string out = Out();
    EXPECT_EQ(Count(out, "FP"), 0u) << out;
    EXPECT_EQ(Count(out, "EP"), 0u) << out;
}

TEST_F(Gl2DrawTest, RectangleFillsPerClipRectangle) {
    const RECTL target{10, 20, 110, 220};
    ASSERT_TRUE(Gl2DrawsBlt(nullptr, 0xF0F0));
    ASSERT_FALSE(Gl2DrawsBlt(nullptr, 0xCCCC)) << "a copy reads its source";
    ASSERT_TRUE(Gl2FillBlt(r, nullptr, target, &black, 0xF0F0));
    std::string out = Out();
    EXPECT_EQ(out.substr(out.size() - 22), "FTPUPA10,220RR100,-200") << out;
    ASSERT_TRUE(Gl2FillBlt(r, nullptr, target, nullptr, 0x0000));
    EXPECT_EQ(Out(), "MC1,0PUPA10,220RR100,-200") << "blackness needs no brush";
    ASSERT_TRUE(Gl2FillBlt(r, nullptr, target, nullptr, 0xF0F0));
    EXPECT_EQ(Out(), "MC1,240") << "a pattern copy without a brush fills nothing";
    const RECTL rects[] = {{0, 0, 50, 50}, {60, 60, 300, 90}};
    zq::gdi::EngineClip clip(zq::gdi::Region::FromRects(rects));
    ASSERT_TRUE(Gl2FillBlt(r, &clip, target, &black, 0xF0F0));
    EXPECT_EQ(Out(), "PUPA10,50RR40,-30PUPA60,90RR50,-30");
}

// The rectangle prints where the engine would fill it: right and bottom
// edges excluded.
TEST_F(Gl2DrawTest, RectangleFillPrintsItsPixels) {
    SpoolWrite(r, "\x1b" "E");
    Gl2PictureFrame(r);
    ASSERT_TRUE(Gl2FillBlt(r, nullptr, RECTL{10, 20, 110, 220}, &black, 0xF0F0));
    SetGlMode(r, false);
    SpoolWrite(r, "\f\x1b" "E");
    Out();
    // In the reader, exactly the engine's pixels, at PCL's origin.
    const auto decoded = DecodeGl(sink.bytes, 400, 400);
    EXPECT_TRUE(decoded.Ok()) << Faults(decoded);
    ASSERT_EQ(decoded.pages.size(), 1u);
    const InkBox ours = InkBoxOf(GreyOf(decoded.pages[0]));
    EXPECT_EQ(ours.left, 10);
    EXPECT_EQ(ours.top, 20);
    EXPECT_EQ(ours.right, 109);
    EXPECT_EQ(ours.bottom, 219);
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    const auto pages = testing::RunGpcl6(gpcl6, sink.bytes, 300, "gl2rect");
    ASSERT_EQ(pages.size(), 1u);
    const InkBox b = InkBoxOf(pages[0]);
    EXPECT_NEAR(b.right - b.left + 1, 100, 1);
    EXPECT_NEAR(b.bottom - b.top + 1, 200, 1);
    EXPECT_NEAR(b.left, 75 + 10, 1);
    EXPECT_NEAR(b.top, 150 + 20, 1);
}

// A wide stroke with a round join and butt caps right after the set-up,
// whose string selects mitre joins and round caps: both must be sent and
// print as asked.
TEST_F(Gl2DrawTest, RoundJoinAndButtCapAfterSetUpPrintAsDrawn) {
    zq::gdi::Path corner;
    corner.MoveTo(P(100, 100));
    corner.LineTo(P(300, 100));
    corner.LineTo(P(300, 300));
    LINEATTRS la = Geometric(JOIN_ROUND, ENDCAP_BUTT, 10, 40);
    SpoolWrite(r, "\x1b" "E");
    Gl2PictureFrame(r);
    ASSERT_TRUE(Gl2StrokePath(r, &corner, nullptr, nullptr, &black, &la, 0x0D0D));
    SetGlMode(r, false);
    SpoolWrite(r, "\f\x1b" "E");
    const std::string out = Out();
    EXPECT_EQ(Count(out, "LA2,4,1,1"), 1u) << out;
    // The reader, then the independent interpreter, print the corner alike.
    const auto decoded = DecodeGl(sink.bytes, 600, 600);
    EXPECT_TRUE(decoded.Ok()) << Faults(decoded);
    ASSERT_EQ(decoded.pages.size(), 1u);
    std::vector<testing::GreyPage> printed = {GreyOf(decoded.pages[0])};
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) std::printf("gpcl6 not found: the corner is checked by the reader only\n");
    else printed.push_back(testing::RunGpcl6(gpcl6, sink.bytes, 300, "gl2corner").at(0));
    for (const auto& p : printed) {
        // The stroke's top-left ink is the butt end's corner at (100, 80).
        const InkBox b = InkBoxOf(p);
        ASSERT_GE(b.right, 0);
        const int ox = b.left - 100, oy = b.top - 80;
        auto ink = [&](int x, int y) { return p.grey[static_cast<size_t>(y + oy) * p.width + x + ox] < 128; };
        EXPECT_TRUE(ink(200, 100));
        EXPECT_TRUE(ink(101, 100)) << "the line reaches its start";
        EXPECT_FALSE(ink(95, 100)) << "a butt cap ends at the start point";
        EXPECT_FALSE(ink(302, 304)) << "a butt cap ends at the end point";
        EXPECT_TRUE(ink(300, 100));
        EXPECT_FALSE(ink(317, 83)) << "a round join leaves the mitre's corner";
        EXPECT_TRUE(ink(312, 88)) << "inside the round join";
    }
}

// A one-bit picture: black in the columns 0-9 of every row, white beyond.
class OneBitSource {
public:
    OneBitSource(LONG width, LONG height) {
        bitmap_ = reinterpret_cast<HSURF>(EngCreateBitmap(SIZEL{width, height}, 0, BMF_1BPP, BMF_TOPDOWN, nullptr));
        so = EngLockSurface(bitmap_);
        auto* bits = static_cast<uint8_t*>(so->pvScan0);
        std::memset(bits, 0xFF, static_cast<size_t>(so->lDelta) * static_cast<size_t>(height));
        for (LONG y = 0; y < height; ++y)
            for (LONG x = 0; x < std::min<LONG>(10, width); ++x) bits[y * so->lDelta + x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
    }
    ~OneBitSource() {
        EngUnlockSurface(so);
        EngDeleteSurface(bitmap_);
    }
    SURFOBJ* so = nullptr;

private:
    HSURF bitmap_ = nullptr;
};

// A copy through a complex clip: the transfer sequence once around one
// raster per clip rectangle, each at its own corner and width, and the
// printer's defaults put back (transparency, ROP 252, the cursor popped).
TEST_F(Gl2DrawTest, ACopyThroughAComplexClipSendsOneRasterPerRectangle) {
    OneBitSource source(40, 30);
    const RECTL rects[] = {{100, 100, 110, 110}, {120, 100, 140, 110}, {100, 120, 140, 130}};
    zq::gdi::EngineClip clip(zq::gdi::Region::FromRects(rects));
    ASSERT_EQ(clip.iDComplexity, DC_COMPLEX);
    Gl2Transfer t;
    t.source = source.so;
    t.clip = &clip;
    t.target = {100, 100, 140, 130};
    t.from = {0, 0, 40, 30};
    r.geometry.printableWidth = r.geometry.printableLength = r.drawnWidth = r.drawnHeight = 1000;
    ASSERT_TRUE(Gl2SourceBlt(r, t));
    const std::string out = Out();
    EXPECT_EQ(Count(out, "\x1b*v1N\x1b&f0S\x1b*v1O\x1b*l204O\x1b*r0F"), 1u) << ::testing::PrintToString(out);
    EXPECT_EQ(Count(out, "\x1b*r1A"), 3u);
    EXPECT_EQ(Count(out, "\x1b*p100x100Y\x1b*r10S"), 1u) << ::testing::PrintToString(out);
    EXPECT_EQ(Count(out, "\x1b*p120x100Y\x1b*r20S"), 1u);
    EXPECT_EQ(Count(out, "\x1b*p100x120Y\x1b*r40S"), 1u);
    EXPECT_EQ(out.substr(out.size() - 23), "\x1b*rC\x1b*v0n0O\x1b*l252O\x1b&f1S");
    EXPECT_EQ(r.ropCache, 252);
}

// A black-and-white source copied at its own size on a page drawn at its
// own size goes straight to the printer: its rows as one raster at the
// target (PCL inks 1 bits, so a source whose bit 0 is black is inverted),
// rows of three bytes or more run-length coded after one ESC*b2M, shorter
// ones as they are. Other colours, a clip of several rectangles or a page
// drawn small take the halftoned picture instead.
TEST_F(Gl2DrawTest, ABlackAndWhiteCopyGoesStraightAsRows) {
    zq::gdi::Palette whiteFirst, blackFirst, redFirst, rgb;
    whiteFirst.mode = blackFirst.mode = redFirst.mode = PAL_INDEXED;
    whiteFirst.entries = {0xFFFFFF, 0x000000};
    blackFirst.entries = {0x000000, 0xFFFFFF};
    redFirst.entries = {0x0000FF, 0xFFFFFF};
    zq::gdi::EngineXlate toWhiteFirst(whiteFirst, rgb), toBlackFirst(blackFirst, rgb), toRedFirst(redFirst, rgb);
    const RECTL two[] = {{200, 300, 210, 304}, {220, 300, 230, 304}};
    zq::gdi::EngineClip complex(zq::gdi::Region::FromRects(two));
    struct Case {
        const char* name;
        LONG width;
        XLATEOBJ* xlate;
        CLIPOBJ* clip;
        bool small;     // the page drawn at half size
        bool direct;
        bool packed;    // rows run-length coded
        uint8_t first;  // the first row's first byte as sent (uncoded rows)
    } const cases[] = {
        {"index 0 white: rows as they are", 16, &toWhiteFirst, nullptr, false, true, false, 0x00},
        {"index 0 black: rows inverted", 16, &toBlackFirst, nullptr, false, true, false, 0xFF},
        {"no translation: bit 0 black", 16, nullptr, nullptr, false, true, false, 0xFF},
        {"rows of 3 bytes are coded", 24, &toBlackFirst, nullptr, false, true, true, 0},
        {"red and white: halftoned", 16, &toRedFirst, nullptr, false, false, false, 0},
        {"complex clip: per rectangle", 40, nullptr, &complex, false, false, false, 0},
        {"page drawn small: scaled", 16, nullptr, nullptr, true, false, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GlCapture g(300, kGlInPcl);
        g.r.geometry.printableWidth = g.r.geometry.printableLength = 1000;
        g.r.drawnWidth = g.r.drawnHeight = c.small ? 500 : 1000;
        OneBitSource source(c.width, 4);
        Gl2Transfer t;
        t.source = source.so;
        t.translation = c.xlate;
        t.clip = c.clip;
        t.target = {200, 300, 200 + c.width, 304};
        t.from = {0, 0, c.width, 4};
        ASSERT_TRUE(Gl2SourceBlt(g.r, t));
        const std::string out = g.Out();
        const std::string start = "\x1b*v1N\x1b&f0S\x1b*v1O\x1b*l204O\x1b*p200x300Y\x1b*r0f" + std::to_string(c.width) + "s1A";
        if (!c.direct) {
            EXPECT_EQ(out.find("\x1b*r0f"), std::string::npos) << ::testing::PrintToString(out);
            continue;
        }
        ASSERT_EQ(out.rfind(start, 0), 0u) << ::testing::PrintToString(out);
        EXPECT_EQ(Count(out, "\x1b*b2M"), c.packed ? 1u : 0u);
        EXPECT_EQ(Count(out, "\x1b*b") - (c.packed ? 1u : 0u), 4u) << "one transfer a row";
        if (!c.packed) {
            const std::string row = "\x1b*b2W";
            const size_t at = out.find(row);
            ASSERT_NE(at, std::string::npos);
            EXPECT_EQ(static_cast<uint8_t>(out[at + row.size()]), c.first);
        }
        EXPECT_EQ(out.substr(out.size() - 23), "\x1b*rC\x1b*v0n0O\x1b*l252O\x1b&f1S");
        // Read back: columns 0-9 hold bit 0, the rest bit 1; black where
        // that bit's colour is black.
        const std::string page = out + "\f";
        const auto job = DecodeGl(std::vector<uint8_t>(page.begin(), page.end()), 1000, 1000);
        ASSERT_TRUE(job.Ok()) << Faults(job);
        ASSERT_EQ(job.pages.size(), 1u);
        for (LONG x = 198; x < 202 + c.width; ++x)
            EXPECT_EQ(job.pages[0].Black(x, 301), x >= 200 && x < 200 + c.width && (x < 210) == (c.xlate != &toWhiteFirst))
                << x;
    }
}

TEST_F(Gl2DrawTest, CompressedSourcesAreRefusedWithError2000) {
    SURFOBJ rle{};
    rle.iType = STYPE_BITMAP;
    rle.iBitmapFormat = BMF_8RLE;
    rle.sizlBitmap = {10, 10};
    Gl2Transfer t;
    t.source = &rle;
    t.target = t.from = {0, 0, 10, 10};
    SetLastError(0);
    EXPECT_FALSE(Gl2SourceBlt(r, t));
    EXPECT_EQ(GetLastError(), 2000u);
    EXPECT_EQ(Out(), "") << "nothing written";
}

// The picture prints where the engine would copy it, black where the
// source is black, in the independent interpreter.
TEST_F(Gl2DrawTest, ACopyPrintsItsBitsInPlace) {
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    OneBitSource source(40, 30);
    r.geometry.printableWidth = r.geometry.printableLength = r.drawnWidth = r.drawnHeight = 1000;
    SpoolWrite(r, "\x1b" "E\x1b*t300R");  // raster at the device's resolution, as the job header sets it
    Gl2PictureFrame(r);
    Gl2Transfer t;
    t.source = source.so;
    t.target = {200, 300, 240, 330};
    t.from = {0, 0, 40, 30};
    ASSERT_TRUE(Gl2SourceBlt(r, t));
    // A fill after the transfer still lands in HP-GL/2's place.
    ASSERT_TRUE(Gl2FillBlt(r, nullptr, RECTL{400, 300, 420, 330}, &black, 0xF0F0));
    SetGlMode(r, false);
    SpoolWrite(r, "\f\x1b" "E");
    Out();
    const auto pages = testing::RunGpcl6(gpcl6, sink.bytes, 300, "gl2copy");
    ASSERT_EQ(pages.size(), 1u);
    const InkBox picture = InkBoxOf(pages[0], 75 + 300);
    EXPECT_EQ(picture.left, 75 + 200);
    EXPECT_EQ(picture.right, 75 + 209) << "columns 0-9 black, the rest white";
    EXPECT_EQ(picture.top, 150 + 300);
    EXPECT_EQ(picture.bottom, 150 + 329);
    const InkBox all = InkBoxOf(pages[0]);
    EXPECT_NEAR(all.right, 75 + 419, 1) << "the fill after it";
}

}  // namespace
}  // namespace pclrend
