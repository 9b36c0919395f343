// The PCL XL drawing bodies called as the engine calls them, on a record
// writing into a capture sink: what each edge case sends, read back with the
// test-side reader where the stream must stay well formed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "gdi/ddi.h"
#include "gdi/ddi_path.h"
#include "gdi/engine.h"
#include "gdi/font.h"
#include "gdi/text.h"
#include "pclread/pclread.h"
#include "render/driver.h"
#include "render/output.h"
#include "render/pclxl.h"
#include "render/tests/capture_sink.h"
#include "render/tests/xl_capture.h"
#include "render/xl_fill.h"
#include "render/xl_page.h"

namespace pclrend {
namespace {

using Bytes = std::vector<uint8_t>;

POINTFIX P(LONG x, LONG y) { return {x * 16, y * 16}; }

size_t Count(const Bytes& b, const Bytes& needle) {
    size_t n = 0;
    for (auto it = b.begin(); (it = std::search(it, b.end(), needle.begin(), needle.end())) != b.end(); ++it) ++n;
    return n;
}

class XlDrawTest : public ::testing::Test, protected XlCapture {
protected:
    void SetUp() override {
        r.resolution = 600;
        line.MoveTo(P(10, 10));
        line.LineTo(P(200, 10));
    }
    // A document of one letter page at 600 dpi around `draw`, read back.
    template <typename Draw>
    pclread::Job OnePage(Draw draw) {
        r.darknessLevel = 4;
        DeviceRecord& d = r;
        d.xl = XlState{};
        d.jobFlags = 0;
        d.stamp = kStampPortrait;
        d.paperSource = 1;
        d.geometry.paperCodeAsked = d.geometry.paperCodeUsed = 1;
        d.geometry.width = d.geometry.usedWidth = 5100;
        d.geometry.length = d.geometry.usedLength = 6600;
        d.pageCount = d.sheetPages = 1;
        XlSessionStart(d);
        XlPagePart(d);
        draw(d);
        XlPageEnd(d);
        XlSessionEnd(d);
        SpoolFlush(d);
        return pclread::Read(sink.bytes);
    }
    zq::gdi::Path line;
    BRUSHOBJ black{0x000000, nullptr, 0};
};

const Bytes kClipReplace = {0xC0, 0x00, 0xF8, 0x53, 0x62};

TEST_F(XlDrawTest, NopMixWritesNothing) {
    EXPECT_TRUE(XlFillPath(r, &line, nullptr, &black, 0x0B0B, FP_WINDINGMODE));
    EXPECT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, nullptr, 0x0B0B));
    EXPECT_TRUE(Out().empty());
}

// The engine hands solid colours as colour values, not realised brushes: on
// a colour page each fills in its own colour (they all filled black).
TEST_F(XlDrawTest, SolidColoursOfTheEngineFillInTheirColourOnAColourPage) {
    r.colour = 1;
    r.devmode = std::make_unique<zq::PrivateDevmode>();
    r.devmode->dm.dmColor = DMCOLOR_COLOR;
    struct Case {
        ULONG colour;  // red in the low byte
        int grey;      // (5 red + 9 green + 2 blue) / 16
    } cases[] = {{0xFFFFFF, 255}, {0x0000FF, 5 * 255 / 16}, {0x00FF00, 9 * 255 / 16}};
    std::vector<zq::gdi::Path> squares(std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const LONG x = 600 + static_cast<LONG>(i) * 1200;
        squares[i].MoveTo(P(x, 600));
        squares[i].LineTo(P(x + 1000, 600));
        squares[i].LineTo(P(x + 1000, 1600));
        squares[i].LineTo(P(x, 1600));
        squares[i].CloseFigure();
    }
    const auto job = OnePage([&](DeviceRecord& d) {
        // Black under everything, so that a white fill shows.
        zq::gdi::Path all;
        all.MoveTo(P(0, 0)), all.LineTo(P(4000, 0)), all.LineTo(P(4000, 2000)), all.LineTo(P(0, 2000));
        all.CloseFigure();
        ASSERT_TRUE(XlFillPath(d, &all, nullptr, &black, 0x0D0D, FP_WINDINGMODE));
        for (size_t i = 0; i < std::size(cases); ++i) {
            BRUSHOBJ solid{cases[i].colour, nullptr, 0};
            ASSERT_TRUE(XlFillPath(d, &squares[i], nullptr, &solid, 0x0D0D, FP_WINDINGMODE));
        }
    });
    ASSERT_TRUE(job.Ok());
    ASSERT_EQ(job.xl.pages.size(), 1u);
    const auto& page = job.xl.pages[0];
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_NEAR(page.At(1100 + static_cast<int>(i) * 1200, 1100), cases[i].grey, 3) << std::hex << cases[i].colour;
}

TEST_F(XlDrawTest, OneRectangularClipServesTwoStrokes) {
    CLIPOBJ clip{};
    clip.iDComplexity = DC_RECT;
    clip.rclBounds = {5, 5, 100, 100};
    ASSERT_TRUE(XlStrokePath(r, &line, &clip, nullptr, &black, nullptr, 0x0D0D));
    ASSERT_TRUE(XlStrokePath(r, &line, &clip, nullptr, &black, nullptr, 0x0D0D));
    const Bytes out = Out();
    EXPECT_EQ(Count(out, kClipReplace), 1u);
    EXPECT_EQ(Count(out, {0x86}), 2u) << "two PaintPath";
    clip.rclBounds.right = 101;
    ASSERT_TRUE(XlStrokePath(r, &line, &clip, nullptr, &black, nullptr, 0x0D0D));
    EXPECT_EQ(Count(Out(), kClipReplace), 1u) << "another rectangle is a new clip";
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, nullptr, 0x0D0D));
    EXPECT_EQ(Count(Out(), {0x69}), 1u) << "no clip: SetClipToPage";
}

TEST_F(XlDrawTest, ComplexClipWithoutIdentityIsSentEveryCall) {
    const RECTL rects[] = {{0, 0, 50, 50}, {60, 60, 90, 90}};
    zq::gdi::EngineClip clip(zq::gdi::Region::FromRects(rects));
    clip.iUniq = 0;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(XlFillPath(r, &line, &clip, &black, 0x0D0D, FP_WINDINGMODE));
    Bytes out = Out();
    EXPECT_EQ(Count(out, kClipReplace), 2u);
    EXPECT_EQ(Count(out, {0xC0, 0x01, 0xF8, 0x54, 0x7F}), 1u) << "even-odd clip mode, once";
    clip.iUniq = 77;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(XlFillPath(r, &line, &clip, &black, 0x0D0D, FP_WINDINGMODE));
    EXPECT_EQ(Count(Out(), kClipReplace), 1u) << "with an identity it is kept";
}

// A complex clip goes as the outline of its region: a ring with a tab and
// an island clips a fill to exactly them, in far fewer bytes than the
// region's rectangles one by one.
TEST_F(XlDrawTest, AComplexClipIsTheOutlineOfItsRegion) {
    const RECTL rects[] = {{100, 100, 500, 150}, {100, 150, 150, 450}, {450, 150, 500, 450}, {100, 450, 500, 500},
                           {250, 250, 350, 350}, {500, 100, 550, 200}};
    zq::gdi::EngineClip clip(zq::gdi::Region::FromRects(rects));
    zq::gdi::Path square;
    square.MoveTo(P(50, 50)), square.LineTo(P(600, 50)), square.LineTo(P(600, 600)), square.LineTo(P(50, 600));
    square.CloseFigure();
    pclread::Job job = OnePage([&](DeviceRecord& d) { ASSERT_TRUE(XlFillPath(d, &square, &clip, &black, 0x0D0D, FP_WINDINGMODE)); });
    std::string errors;
    for (const auto& e : job.errors) errors += e + "\n";
    ASSERT_TRUE(job.Ok()) << errors;
    EXPECT_EQ(job.xl.operatorCounts["LineRelPath"], 1u) << "the ring's outline with its tab";
    EXPECT_EQ(job.xl.operatorCounts["RectanglePath"], 2u) << "the hole and the island";
    ASSERT_EQ(job.xl.pages.size(), 1u);
    const auto& page = job.xl.pages[0];
    int wrong = 0;
    for (LONG y = 60; y < 590; y += 3)
        for (LONG x = 60; x < 590; x += 3) {
            const bool ink = std::any_of(std::begin(rects), std::end(rects), [&](const RECTL& q) {
                return q.left <= x && x < q.right && q.top <= y && y < q.bottom;
            });
            wrong += (page.At(x, y) < 128) != ink;
        }
    EXPECT_EQ(wrong, 0);
}

// A reset hands the printer state over with the caches: a drawing on the
// new record sends no attribute the old one sent; the next page start makes
// it send them all again.
TEST_F(XlDrawTest, AResetHandsTheCachesOverAndThePageStartResendsThem) {
    LINEATTRS wide{};
    wide.fl = LA_GEOMETRIC;
    wide.elWidth.e = 6;
    wide.iEndCap = ENDCAP_ROUND;
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, &wide, 0x0D0D));
    const Bytes first = Out();
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, &wide, 0x0D0D));
    const Bytes again = Out();
    ASSERT_LT(again.size(), first.size());
    DeviceRecord fresh;
    ASSERT_TRUE(AllocateBuffers(fresh, false));
    fresh.sink = &sink;
    fresh.language = Language::PclXl;
    fresh.resolution = r.resolution;
    fresh.darknessLevel = r.darknessLevel;
    ResetBody(r, fresh);
    ASSERT_TRUE(XlStrokePath(fresh, &line, nullptr, nullptr, &black, &wide, 0x0D0D));
    SpoolFlush(fresh);
    EXPECT_EQ(Out(), again) << "the caches came over";
    fresh.xl.PageStart();
    ASSERT_TRUE(XlStrokePath(fresh, &line, nullptr, nullptr, &black, &wide, 0x0D0D));
    SpoolFlush(fresh);
    const Bytes afterPageStart = Out();
    EXPECT_GT(afterPageStart.size(), again.size()) << "a page start forgets what the printer held";
}

TEST_F(XlDrawTest, AlternateCosmeticLineIsADashOfTwelveAt600Dpi) {
    LINEATTRS alternate{};
    alternate.fl = LA_ALTERNATE;
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, &alternate, 0x0D0D));
    EXPECT_EQ(Count(Out(), {0xC9, 0xC0, 0x02, 0x0C, 0x00, 0x0C, 0x00, 0xF8, 0x4A, 0x70}), 1u);
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, &alternate, 0x0D0D));
    EXPECT_EQ(Count(Out(), {0x70}), 0u) << "the dash in force is not sent again";
    LINEATTRS solid{};
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, &solid, 0x0D0D));
    EXPECT_EQ(Count(Out(), {0xC0, 0x00, 0xF8, 0x4E, 0x70}), 1u) << "SolidLine";
}

// A cosmetic line after a wide round pen: butt ends and mitred corners,
// not the caps the wide pen left in force.
TEST_F(XlDrawTest, ACosmeticLineAfterAWidePenHasButtEndsAndMitredCorners) {
    LINEATTRS wide{};
    wide.fl = LA_GEOMETRIC;
    wide.elWidth.e = 8;
    wide.iEndCap = ENDCAP_ROUND;
    wide.iJoin = JOIN_ROUND;
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, &wide, 0x0D0D));
    Out();
    LINEATTRS cosmetic{};
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, &cosmetic, 0x0D0D));
    const Bytes out = Out();
    EXPECT_EQ(Count(out, {0xC0, 0x00, 0xF8, 0x47, 0x71}), 1u) << "butt caps";
    EXPECT_EQ(Count(out, {0xC0, 0x00, 0xF8, 0x48, 0x72}), 1u) << "mitred corners";
}

// Dashes are whole pixels: a style of fractional lengths goes as several
// periods (at most 20 entries) whose edges are rounded where they fall, so
// ten periods end where ten of the engine's do instead of drifting.
TEST_F(XlDrawTest, FractionalDashesDoNotDrift) {
    const FLOAT_LONG style[] = {{.e = 10.25f}, {.e = 5.5f}};
    LINEATTRS dashed{};
    dashed.fl = LA_GEOMETRIC | LA_STYLED;
    dashed.elWidth.e = 2;
    dashed.cstyle = 2;
    dashed.pstyle = const_cast<FLOAT_LONG*>(style);
    ASSERT_TRUE(XlStrokePath(r, &line, nullptr, nullptr, &black, &dashed, 0x0D0D));
    const Bytes out = Out();
    const Bytes head = {0xC9, 0xC0, 20};
    const auto at = std::search(out.begin(), out.end(), head.begin(), head.end());
    ASSERT_NE(at, out.end()) << "a dash of 20 entries";
    const size_t start = static_cast<size_t>(at - out.begin()) + head.size();
    ASSERT_GE(out.size(), start + 40 + 3);
    unsigned sum = 0, on = 0;
    for (size_t i = 0; i < 20; ++i) {
        const unsigned v = out[start + 2 * i] | out[start + 2 * i + 1] << 8u;
        sum += v;
        if (i == 18) on = sum;
    }
    EXPECT_EQ(on, 152u) << "the tenth dash starts at 9 x 15.75 = 141.75 and ends at 152";
    EXPECT_EQ(sum, 158u) << "ten periods of 15.75";
    EXPECT_EQ(out[start + 40], 0xF8);
    EXPECT_EQ(out[start + 41], 0x4A);
}

TEST_F(XlDrawTest, PointsBeyondTheSignedRangeAreCutNotWrapped) {
    zq::gdi::Path far;
    far.MoveTo(P(10, 10));
    far.LineTo(P(40000, 10));
    far.LineTo(P(10, -40000));
    ASSERT_TRUE(XlFillPath(r, &far, nullptr, &black, 0x0D0D, FP_WINDINGMODE));
    const Bytes out = Out();
    EXPECT_EQ(Count(out, {0xFF, 0x7F, 0x0A, 0x00}), 1u) << "x cut to 32767";
    EXPECT_EQ(Count(out, {0x0A, 0x00, 0x01, 0x80}), 1u) << "y cut to -32767";
}

// A run of more points than a record counts goes as several records (a
// count wrapped to 16 bits would misread every byte after it), Béziers in
// whole curves; the outline reads back as the shape it draws: a box whose
// top edge is the long run.
TEST_F(XlDrawTest, RunsOfMoreThan65535PointsSplitIntoRecords) {
    struct Case {
        bool bezier;
        size_t points;
        size_t records;
    };
    for (const Case c : {Case{false, 70000, 2}, Case{true, 66000, 2}, Case{true, 65535, 1}}) {
        sink.bytes.clear();
        taken = 0;
        std::vector<POINTFIX> top(c.points);
        for (size_t i = 0; i < c.points; ++i)
            top[i] = {static_cast<FIX>((100 + (i + 1) * 1000 / c.points) * 16), 100 * 16};
        const std::vector<POINTFIX> back = {P(1100, 600), P(100, 600)};
        const pclread::Job job = OnePage([&](DeviceRecord& d) {
            xl::XlOperator(d, xl::Op::NewPath);
            xl::XlAttrSInt16XY(d, xl::Attr::Point, 100, 100);
            xl::XlOperator(d, xl::Op::SetCursor);
            XlPointRecords(d, c.bezier, top.data(), top.size());
            XlPointRecords(d, false, back.data(), back.size());
            xl::XlOperator(d, xl::Op::CloseSubPath);
            xl::XlOperator(d, xl::Op::PaintPath);
        });
        const std::string what = std::string(c.bezier ? "Béziers, " : "lines, ") + std::to_string(c.points) + " points";
        std::string errors;
        for (const auto& e : job.errors) errors += e + "\n";
        EXPECT_TRUE(job.Ok()) << what << ": " << errors;
        const char* op = c.bezier ? "BezierPath" : "LinePath";
        ASSERT_TRUE(job.xl.operatorCounts.count(op)) << what;
        EXPECT_EQ(job.xl.operatorCounts.at(op), c.records + (c.bezier ? 0 : 1)) << what;
        ASSERT_EQ(job.xl.pages.size(), 1u) << what;
        const auto& page = job.xl.pages[0];
        EXPECT_LT(page.At(600, 350), 64) << what << ": the box is filled";
        EXPECT_LT(page.At(1090, 110), 64) << what << ": up to the run's last point";
        EXPECT_GT(page.At(600, 90), 192) << what << ": nothing above its top";
        EXPECT_GT(page.At(1150, 350), 192) << what << ": nothing right of it";
    }
}

TEST_F(XlDrawTest, ALargeImageGoesInBlocksWithContinuousLines) {
    const SIZEL size{200, 400};
    HBITMAP bitmap = EngCreateBitmap(size, 200, BMF_8BPP, BMF_TOPDOWN, nullptr);
    ASSERT_TRUE(bitmap);
    SURFOBJ* so = EngLockSurface(reinterpret_cast<HSURF>(bitmap));
    ASSERT_TRUE(so);
    for (LONG y = 0; y < 400; ++y)
        for (LONG x = 0; x < 200; ++x) static_cast<uint8_t*>(so->pvScan0)[y * so->lDelta + x] = static_cast<uint8_t>(x);
    const RECTL dest{100, 100, 300, 500};
    const RECTL src{0, 0, 200, 400};
    const pclread::Job job = OnePage([&](DeviceRecord& d) { ASSERT_TRUE(XlBitBlt(d, so, nullptr, nullptr, nullptr, dest, &src, nullptr, 0xCCCC)); });
    std::string errors;
    for (const auto& e : job.errors) errors += e + "\n";
    EXPECT_TRUE(job.Ok()) << errors;
    EXPECT_EQ(job.xl.operatorCounts.at("ReadImage"), 3u) << "150 + 150 + 100 rows of 200 bytes";
    ASSERT_EQ(job.xl.pages.size(), 1u);
    // No margins here: the page's (100, 100) is the sheet's.
    EXPECT_LT(job.xl.pages[0].At(100, 400), 64) << "index 0 at the image's left prints black";
    EXPECT_GT(job.xl.pages[0].At(299, 400), 192) << "other indices print white without a translation";
    EXPECT_GT(job.xl.pages[0].At(300, 400), 192) << "the image ends at its destination";
    EngUnlockSurface(so);
    EngDeleteSurface(reinterpret_cast<HSURF>(bitmap));
}

TEST_F(XlDrawTest, CompressedSourcesAreRefusedWithError2000) {
    SURFOBJ rle{};
    rle.iType = STYPE_BITMAP;
    rle.iBitmapFormat = BMF_8RLE;
    rle.sizlBitmap = {10, 10};
    const RECTL dest{0, 0, 10, 10};
    SetLastError(0);
    EXPECT_FALSE(XlBitBlt(r, &rle, nullptr, nullptr, nullptr, dest, nullptr, nullptr, 0xCCCC));
    EXPECT_EQ(GetLastError(), 2000u);
}

// Indexed sources go at their own depth with a palette of their size, each
// entry the translation of its index; the rows read back through it.
TEST_F(XlDrawTest, IndexedSourcesKeepTheirDepthAndTranslatedPalette) {
    const struct {
        ULONG format;
        uint8_t depth;      // ColorDepth value
        size_t entries;
    } cases[] = {{BMF_1BPP, 0, 2}, {BMF_4BPP, 1, 16}, {BMF_8BPP, 2, 256}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entries);
        sink.bytes.clear();
        const SIZEL size{37, 5};  // rows not a whole number of bytes at one and four bits
        HBITMAP bitmap = EngCreateBitmap(size, 0, c.format, BMF_TOPDOWN, nullptr);
        ASSERT_TRUE(bitmap);
        SURFOBJ* so = EngLockSurface(reinterpret_cast<HSURF>(bitmap));
        ASSERT_TRUE(so);
        auto* bits = static_cast<uint8_t*>(so->pvScan0);
        std::memset(bits, 0, static_cast<size_t>(so->lDelta) * 5);
        // Index 1 in columns 0-9 of every row (0 elsewhere).
        for (LONG y = 0; y < 5; ++y)
            for (LONG x = 0; x < 10; ++x) {
                uint8_t* row = bits + y * so->lDelta;
                if (c.format == BMF_1BPP) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                else if (c.format == BMF_4BPP) row[x / 2] |= static_cast<uint8_t>(x % 2 ? 0x01 : 0x10);
                else row[x] = 1;
            }
        // Index 0 white, index 1 black, the rest white: a palette built from
        // "indices 1 and 0" the wrong way round prints the picture inverted.
        std::vector<ULONG> table(c.entries, 0xFFFFFF);
        table[1] = 0x000000;
        XLATEOBJ xlate{1, XO_TABLE, PAL_INDEXED, PAL_RGB, static_cast<ULONG>(table.size()), table.data()};
        // Source columns 3-36: the left edge not on a byte boundary.
        const RECTL src{3, 0, 37, 5}, dest{600, 600, 600 + 34 * 10, 650};
        const pclread::Job job = OnePage([&](DeviceRecord& d) {
            ASSERT_TRUE(XlBitBlt(d, so, nullptr, nullptr, &xlate, dest, &src, nullptr, 0xCCCC));
        });
        std::string errors;
        for (const auto& e : job.errors) errors += e + "\n";
        EXPECT_TRUE(job.Ok()) << errors;
        EXPECT_EQ(Count(sink.bytes, {0xC0, c.depth, 0xF8, 0x62}), 1u) << "ColorDepth of the source";
        EXPECT_EQ(Count(sink.bytes, {0xC0, 0x01, 0xF8, 0x64}), 1u) << "eIndexedPixel";
        const Bytes paletteData = c.entries < 256 ? Bytes{0xC8, 0xC0, static_cast<uint8_t>(c.entries)}
                                                  : Bytes{0xC8, 0xC1, 0x00, 0x01};
        EXPECT_EQ(Count(sink.bytes, paletteData), 1u) << "a palette of " << c.entries << " entries";
        ASSERT_EQ(job.xl.pages.size(), 1u);
        const auto& page = job.xl.pages[0];
        // Source columns 3-9 (index 1) are black: 7 source pixels of 10 dots.
        EXPECT_LT(page.At(605, 620), 64);
        EXPECT_LT(page.At(665, 620), 64);
        EXPECT_GT(page.At(675, 620), 192) << "index 0 prints white";
        EXPECT_GT(page.At(930, 620), 192) << "the last column prints index 0";
        EngUnlockSurface(so);
        EngDeleteSurface(reinterpret_cast<HSURF>(bitmap));
    }
}

// Text keeps each glyph's outline and ink from its first use and moves them
// to each later place: every string must send exactly what working its
// glyphs out at their places sends, whatever the places (whole pixels, where
// a curve's points fall on halves; parts of glyphs above or left of the page;
// points past the coordinate range, where the string goes in whole pixels),
// the first time and when kept from before.
TEST(XlText, KeptGlyphsSendWhatWorkingThemOutSends) {
    auto serif = zq::gdi::FindFont("Liberation Serif", 400, false);
    auto sans = zq::gdi::FindFont("Liberation Sans", 700, true);
    ASSERT_TRUE(serif && sans);
    struct Font {
        const zq::gdi::FontFace* face;
        double em;
    };
    const Font fonts[] = {{&*serif, 100}, {&*serif, 61}, {&*sans, 250}, {&*serif, 37}};
    const std::u16string text = u"Quick brown fox: 0123 @&% {Jy} ffi W.";
    const std::vector<POINTL> origins = {{300, 400}, {301, 400}, {302, 401}, {303, 403}, {1117, 2291}, {5, 30},
                                         {-40, 20},  {2, 2},     {16300, 500}, {700, 16370}, {-16390, 900}};
    XlCapture kept, workedOut;
    workedOut.r.keepGlyphShapes = false;
    BRUSHOBJ black{0x000000, nullptr, 0};
    std::vector<std::unique_ptr<zq::gdi::EngineFont>> made;
    for (const Font& f : fonts) {
        made.push_back(zq::gdi::EngineFont::Create(*f.face, f.em, 400, false, {600, 600}));
        ASSERT_TRUE(made.back());
    }
    for (int round = 0; round < 2; ++round)
        for (size_t i = 0; i < made.size(); ++i) {
            const Font& f = fonts[i];
            auto& font = made[i];
            std::vector<HGLYPH> glyphs;
            for (char16_t c : text) glyphs.push_back(font->GlyphOf(c));
            for (const POINTL& at : origins) {
                SCOPED_TRACE("em " + std::to_string(f.em) + " at " + std::to_string(at.x) + ", " + std::to_string(at.y) +
                             (round ? ", kept from before" : ""));
                const auto places = zq::gdi::LayOut(*font, glyphs, at);
                zq::gdi::EngineString a(*font, glyphs, places, text, false, false), b(*font, glyphs, places, text, false, false);
                ASSERT_TRUE(XlTextOut(kept.r, &a, font.get(), nullptr, nullptr, nullptr, &black, nullptr, 0x0D0D));
                ASSERT_TRUE(XlTextOut(workedOut.r, &b, font.get(), nullptr, nullptr, nullptr, &black, nullptr, 0x0D0D));
                const Bytes want = workedOut.Out();
                EXPECT_GT(want.size(), 100u);
                EXPECT_TRUE(kept.Out() == want);
            }
        }
}

// The row copier takes its bytes from the row alone: past the row's end it
// reads 0 (a source row that ends its allocation is never over-read; the
// address sanitiser catches a read past it).
TEST(XlRowCopier, ShiftsBitsAndReadsNothingPastTheRow) {
    const struct {
        std::vector<uint8_t> row;
        size_t offset, bits;
        std::vector<uint8_t> want;
    } cases[] = {
        {{0xAB, 0xCD}, 0, 16, {0xAB, 0xCD}},
        {{0xAB, 0xCD}, 4, 12, {0xBC, 0xD0}},
        {{0xFF, 0xFF}, 3, 13, {0xFF, 0xF8}},
        {{0x0F, 0xF0, 0x81}, 9, 15, {0xE1, 0x02}},
        {{0xFF}, 7, 1, {0x80}},
        {{0x12, 0x34}, 1, 11, {0x24, 0x60}},
    };
    for (const auto& c : cases) {
        // The row alone on the heap, so that any read past it is caught.
        auto row = std::make_unique<uint8_t[]>(c.row.size());
        std::memcpy(row.get(), c.row.data(), c.row.size());
        std::vector<uint8_t> out((c.bits + 7) / 8, 0x5A);
        CopyRowBits(row.get(), c.row.size(), c.offset, c.bits, out.data());
        EXPECT_EQ(out, c.want) << "offset " << c.offset << ", " << c.bits << " bits";
    }
}

}  // namespace
}  // namespace pclrend
