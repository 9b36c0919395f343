// The spool stream's drawing bodies called as the engine calls them: the
// record sequences each case writes, read back with the stream walker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "gdi/ddi.h"
#include "gdi/ddi_path.h"
#include "gdi/engine.h"
#include "base/error.h"
#include "render/brush.h"
#include "render/output.h"
#include "render/spool_stream.h"
#include "render/stream_draw.h"
#include "render/tests/capture_sink.h"
#include "vemfread/vemfread.h"

namespace pclrend {
namespace {

namespace vemf = zq::vemf;

POINTFIX P(LONG x, LONG y) { return {x * 16, y * 16}; }

class StreamDrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        zq::PrivateDevmode dm{};
        dm.privateVersion = zq::kPrivateDevmodeVersion;
        dm.dm.dmPrintQuality = 300;
        dm.dm.dmCopies = 1;
        dm.dm.dmDuplex = DMDUP_SIMPLEX;
        dm.printerLanguage = 4;
        auto& g = dm.paperFormats[0];
        g.width = 850, g.length = 1100, g.printableWidth = 800, g.printableLength = 1050;
        dm.paperFormats[1] = g;
        ASSERT_TRUE(RecordFromDevmode(r, dm));
        DecideOutputMode(r, dm);
        ASSERT_TRUE(StreamEnable(r, 1));
        r.sink = &sink;
        ASSERT_TRUE(StreamStartDoc(r, u"d"));
        ASSERT_TRUE(StreamStartPage(r));
        line.MoveTo(P(10, 10));
        line.LineTo(P(200, 10));
    }
    // The drawing records of page 1, after its nine state records.
    std::vector<vemfread::Record> Drawn() {
        EXPECT_TRUE(StreamSendPage(r));
        EXPECT_TRUE(StreamEndDoc(r));
        walked = vemfread::Walk(sink.bytes);
        EXPECT_TRUE(walked.ok) << walked.error;
        std::vector<vemfread::Record> out;
        if (walked.pages.empty()) return out;
        const auto& recs = walked.pages[0].records;
        size_t start = 0;
        while (start < recs.size() && recs[start].type != vemf::kPageRecord) ++start;
        for (size_t i = start + 10; i + 1 < recs.size(); ++i) out.push_back(recs[i]);
        return out;
    }
    static std::vector<uint32_t> Types(const std::vector<vemfread::Record>& recs) {
        std::vector<uint32_t> t;
        for (const auto& rec : recs) t.push_back(rec.type);
        return t;
    }
    static size_t Count(const std::vector<uint32_t>& types, uint32_t type) {
        return static_cast<size_t>(std::count(types.begin(), types.end(), type));
    }
    DeviceRecord r;
    CaptureSink sink;
    zq::gdi::Path line;
    vemfread::Stream walked;
};

TEST_F(StreamDrawTest, SameBrushTwiceIsCreatedOnceAndSelectedTwice) {
    BRUSHOBJ red{0x0000FF, nullptr, 0};
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &red, nullptr, 0x0D0D, 0));
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &red, nullptr, 0x0D0D, 0));
    const auto types = Types(Drawn());
    EXPECT_EQ(Count(types, vemf::kCreateBrush), 1u);
    EXPECT_EQ(Count(types, vemf::kSelectObject), 2u);
    EXPECT_EQ(Count(types, vemf::kFillPath), 2u);
    // State records only on change: the opaque background once.
    EXPECT_EQ(Count(types, vemf::kSetBkMode), 1u);
    EXPECT_EQ(Count(types, vemf::kSetRop2), 0u);
    // A red brush makes the page a colour page.
    EXPECT_EQ(walked.pages[0].entry.summary[2], 0u);
}

TEST_F(StreamDrawTest, The65thSolidBrushDeletesTheOldestFirst) {
    std::vector<BRUSHOBJ> brushes;
    for (uint32_t i = 0; i < 65; ++i) brushes.push_back({i * 0x010101u, nullptr, 0});
    for (auto& b : brushes) ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &b, nullptr, 0x0D0D, 0));
    const auto recs = Drawn();
    size_t del = 0;
    while (del < recs.size() && recs[del].type != vemf::kDeleteObject) ++del;
    ASSERT_LT(del + 1, recs.size());
    // The first brush's handle goes, then the 65th brush is created.
    EXPECT_EQ(recs[del].U32(8), 1u);
    EXPECT_EQ(recs[del + 1].type, vemf::kCreateBrush);
    EXPECT_EQ(recs[del + 1].U32(8), 65u);
}

TEST_F(StreamDrawTest, AnEqualRectangularClipWritesNoClipRecords) {
    BRUSHOBJ black{0, nullptr, 0};
    CLIPOBJ clip{};
    clip.iDComplexity = DC_RECT;
    clip.rclBounds = {5, 5, 100, 100};
    ASSERT_TRUE(StreamStrokeFill(r, &line, &clip, nullptr, nullptr, &black, nullptr, 0x0D0D, 0));
    ASSERT_TRUE(StreamStrokeFill(r, &line, &clip, nullptr, nullptr, &black, nullptr, 0x0D0D, 0));
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &black, nullptr, 0x0D0D, 0));
    const auto types = Types(Drawn());
    EXPECT_EQ(Count(types, vemf::kSelectClipPath), 1u);
    EXPECT_EQ(Count(types, vemf::kExtSelectClipRgn), 1u) << "no clip: back to the page";
}

// The figures of the first clip path written: each its start and corners.
std::vector<std::vector<POINTL>> ClipFigures(const std::vector<vemfread::Record>& recs) {
    std::vector<std::vector<POINTL>> figures;
    auto at = [](const vemfread::Record& rec, size_t i) { return static_cast<LONG>(rec.U32(i)); };
    for (const auto& rec : recs) {
        if (rec.type == vemf::kSelectClipPath) break;
        if (rec.type == vemf::kMoveTo) figures.push_back({{at(rec, 8), at(rec, 12)}});
        if (rec.type == vemf::kPolylineTo && !figures.empty())
            for (uint32_t i = 0; i < rec.U32(24); ++i) figures.back().push_back({at(rec, 28 + 8 * i), at(rec, 32 + 8 * i)});
    }
    return figures;
}

// Whether the centre of pixel (x, y) lies inside the figures by the
// alternate rule: an odd number of edges crossed to its right.
bool InsideAlternate(const std::vector<std::vector<POINTL>>& figures, LONG x, LONG y) {
    const double px = x + 0.5, py = y + 0.5;
    bool inside = false;
    for (const auto& f : figures)
        for (size_t i = 0; i < f.size(); ++i) {
            const POINTL& a = f[i];
            const POINTL& b = f[(i + 1) % f.size()];
            if ((a.y > py) == (b.y > py)) continue;
            const double cx = a.x + (py - a.y) * (b.x - a.x) / static_cast<double>(b.y - a.y);
            if (cx > px) inside = !inside;
        }
    return inside;
}

// A complex clip goes as the outline of its region: one figure for each run
// of rectangles that overlap down the page, corners only, from the top left
// down the left side and up the right side.
TEST_F(StreamDrawTest, AComplexClipIsTheOutlineOfItsRegion) {
    const RECTL rects[] = {{10, 10, 30, 12}, {8, 12, 32, 14}, {8, 14, 30, 16}, {50, 10, 60, 16}};
    zq::gdi::EngineClip clip(zq::gdi::Region::FromRects(rects));
    ASSERT_EQ(clip.iDComplexity, DC_COMPLEX);
    BRUSHOBJ black{0, nullptr, 0};
    ASSERT_TRUE(StreamStrokeFill(r, &line, &clip, nullptr, nullptr, &black, nullptr, 0x0D0D, 0));
    const auto figures = ClipFigures(Drawn());
    const std::vector<std::vector<POINTL>> expected = {
        {{10, 10}, {10, 12}, {8, 12}, {8, 16}, {30, 16}, {30, 14}, {32, 14}, {32, 12}, {30, 12}, {30, 10}},
        {{50, 10}, {50, 16}, {60, 16}, {60, 10}}};
    ASSERT_EQ(figures.size(), expected.size());
    for (size_t f = 0; f < expected.size(); ++f) {
        ASSERT_EQ(figures[f].size(), expected[f].size()) << "figure " << f;
        for (size_t i = 0; i < expected[f].size(); ++i) {
            EXPECT_EQ(figures[f][i].x, expected[f][i].x) << "figure " << f << " corner " << i;
            EXPECT_EQ(figures[f][i].y, expected[f][i].y) << "figure " << f << " corner " << i;
        }
    }
}

// A ring (two spans a row through its middle, forks and joins) and a few
// scattered dots: the figures cover exactly the region's pixels.
TEST_F(StreamDrawTest, AComplexClipsOutlineCoversExactlyItsRegion) {
    std::vector<RECTL> rects;
    for (LONG y = 0; y < 80; ++y) {
        const double dy = y + 0.5 - 40;
        const LONG outer = static_cast<LONG>(std::sqrt(std::max(0.0, 1600 - dy * dy)));
        const LONG inner = static_cast<LONG>(std::sqrt(std::max(0.0, 400 - dy * dy)));
        if (inner > 0) {
            rects.push_back({100 - outer, y, 100 - inner, y + 1});
            rects.push_back({100 + inner, y, 100 + outer, y + 1});
        } else if (outer > 0) {
            rects.push_back({100 - outer, y, 100 + outer, y + 1});
        }
    }
    for (LONG i = 0; i < 6; ++i) rects.push_back({150 + 3 * i, 5 + 7 * i, 152 + 3 * i, 6 + 7 * i});
    const auto region = zq::gdi::Region::FromRects(rects);
    zq::gdi::EngineClip clip(region);
    ASSERT_EQ(clip.iDComplexity, DC_COMPLEX);
    BRUSHOBJ black{0, nullptr, 0};
    ASSERT_TRUE(StreamStrokeFill(r, &line, &clip, nullptr, nullptr, &black, nullptr, 0x0D0D, 0));
    const auto figures = ClipFigures(Drawn());
    EXPECT_LE(figures.size(), 3u + 6u) << "the ring is a few figures, not one a row";
    for (LONG y = -2; y < 90; ++y)
        for (LONG x = 50; x < 175; ++x)
            ASSERT_EQ(InsideAlternate(figures, x, y), region.Contains(x, y)) << x << "," << y;
}

// (The engine drops a figure that is only a start point before it reaches
// the driver, so the empty run of that case cannot be made here.)
TEST_F(StreamDrawTest, AStrokeWritesItsStateObjectsPathAndStroke) {
    BRUSHOBJ black{0, nullptr, 0};
    zq::gdi::Path closed;
    closed.MoveTo(P(30, 40));
    closed.LineTo(P(50, 40));
    closed.LineTo(P(50, 60));
    closed.CloseFigure();
    ASSERT_TRUE(StreamStrokeFill(r, &closed, nullptr, &black, nullptr, nullptr, nullptr, 0x0D06, 0));
    const auto recs = Drawn();
    const std::vector<uint32_t> expected = {vemf::kSetBkMode,  vemf::kSetRop2,    vemf::kSetBrushOrg, vemf::kCreatePen,
                                            vemf::kSelectObject, vemf::kBeginPath, vemf::kMoveTo,      vemf::kPolylineTo,
                                            vemf::kCloseFigure, vemf::kEndPath,   vemf::kStrokePath,   vemf::kDeleteObject};
    EXPECT_EQ(Types(recs), expected);
    ASSERT_EQ(recs.size(), expected.size());
    EXPECT_EQ(recs[1].U32(8), 6u);   // the mix's foreground
    EXPECT_EQ(recs[6].U32(8), 30u);  // the figure's start
    EXPECT_EQ(recs[7].U32(24), 2u);  // two more points
    EXPECT_EQ(recs[7].bytes.size(), 28u + 16);
    EXPECT_EQ(walked.pages[0].entry.summary[0], 1u) << "mix 6 is not a plain operation";
}

TEST_F(StreamDrawTest, PatternBlitsAndRasterOperationFlags) {
    BRUSHOBJ black{0, nullptr, 0};
    const RECTL dest{10, 20, 60, 90};
    ASSERT_TRUE(StreamPatternBlit(r, nullptr, dest, &black, nullptr, 0xF0F0));
    ASSERT_TRUE(StreamPatternBlit(r, nullptr, dest, nullptr, nullptr, 0x5555));  // destination only
    EXPECT_FALSE(StreamPatternBlit(r, nullptr, dest, nullptr, nullptr, 0x5A5A));  // a pattern without a brush
    const auto recs = Drawn();
    std::vector<const vemfread::Record*> blits;
    for (const auto& rec : recs)
        if (rec.type == vemf::kPatternBlit) blits.push_back(&rec);
    ASSERT_EQ(blits.size(), 2u);
    EXPECT_EQ(blits[0]->U32(24), 10u);
    EXPECT_EQ(blits[0]->U32(32), 50u);
    EXPECT_EQ(blits[0]->U32(40), 0xF0u);
    EXPECT_EQ(walked.pages[0].entry.summary[0], 1u) << "ROP3 0x55 is not a plain operation";
}


// A bitmap source the blit bodies read: rows top first, `depth` bits a pixel.
struct Source {
    Source(LONG w, LONG h, ULONG format, size_t stride) : bytes(stride * static_cast<size_t>(h)) {
        so.sizlBitmap = {w, h};
        so.iBitmapFormat = format;
        so.iType = STYPE_BITMAP;
        so.lDelta = static_cast<LONG>(stride);
        so.pvScan0 = bytes.data();
    }
    std::vector<uint8_t> bytes;
    SURFOBJ so{};
};

TEST_F(StreamDrawTest, BlitsWithASourceCarryItsPixelsCutToTheBitmap) {
    // 1 bit a pixel, 12 x 2: row 0 alternates, row 1 all ink.
    Source src(12, 2, BMF_1BPP, 4);
    src.bytes = {0xAA, 0xA0, 0, 0, 0xFF, 0xF0, 0, 0};
    src.so.pvScan0 = src.bytes.data();
    // From source x 3; the destination runs 5 pixels past the bitmap's right.
    const RECTL dest{100, 50, 114, 52};
    const POINTL at{3, 0};
    ASSERT_TRUE(StreamBitBlt(r, &src.so, nullptr, nullptr, nullptr, dest, &at, nullptr, nullptr, 0xCCCC));
    // A compressed source cannot be carried.
    Source rle(4, 4, BMF_8RLE, 4);
    SetLastError(0);
    EXPECT_FALSE(StreamBitBlt(r, &rle.so, nullptr, nullptr, nullptr, dest, &at, nullptr, nullptr, 0xCCCC));
    EXPECT_EQ(GetLastError(), 2000u);
    const auto recs = Drawn();
    const vemfread::Record* blt = nullptr;
    for (const auto& rec : recs)
        if (rec.type == vemf::kBitBlt) blt = &rec;
    ASSERT_NE(blt, nullptr);
    EXPECT_EQ(blt->U32(24), 100u);
    EXPECT_EQ(blt->U32(32), 9u) << "12 - 3 source pixels";
    EXPECT_EQ(blt->U32(36), 2u);
    EXPECT_EQ(blt->U32(40), 204u);
    EXPECT_EQ(blt->U32(84), 104u);               // header offset
    EXPECT_EQ(blt->U32(88), 40u + 8);            // header and two colours
    EXPECT_EQ(blt->U32(92), 104u + 48);          // bits offset
    EXPECT_EQ(blt->U32(96), 8u);                 // two rows of 4 bytes
    EXPECT_EQ(blt->bytes.size(), 104u + 48 + 8);
    EXPECT_EQ(blt->U32(104 + 8), 2u);            // height: bottom-up rows
    // Bottom-up: row 1 (all ink) first; row 0 from bit 3: 0101 0101 0...
    EXPECT_EQ(blt->bytes[152], 0xFF);
    EXPECT_EQ(blt->bytes[153], 0x80);
    EXPECT_EQ(blt->bytes[156], 0x55);
    EXPECT_EQ(blt->bytes[157], 0x00);
}

TEST_F(StreamDrawTest, AReversedStretchIsMirroredAndCountsItsImage) {
    // 24 bits, 2 x 1: red then blue (blue, green, red bytes).
    Source src(2, 1, BMF_24BPP, 8);
    src.bytes = {0, 0, 255, 255, 0, 0, 0, 0};
    src.so.pvScan0 = src.bytes.data();
    const RECTL dest{40, 10, 20, 30};  // right before left: mirrored
    ASSERT_TRUE(StreamStretchBlt(r, &src.so, nullptr, nullptr, nullptr, nullptr, nullptr, dest, nullptr, COLORONCOLOR,
                                 nullptr, 0xCCCC));
    const auto recs = Drawn();
    const vemfread::Record* img = nullptr;
    for (const auto& rec : recs)
        if (rec.type == vemf::kStretchDIBits) img = &rec;
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->U32(24), 20u);  // x dest, ordered
    EXPECT_EQ(img->U32(76), 20u);  // width dest
    EXPECT_EQ(img->U32(72), 204u);
    // Bits after the 84-byte head and 40-byte header, no colour table: the
    // blue pixel now comes first.
    ASSERT_GE(img->bytes.size(), 84u + 40 + 8);
    EXPECT_EQ(img->bytes[124], 255);
    EXPECT_EQ(img->bytes[126], 0);
    EXPECT_EQ(img->bytes[129], 255);
    EXPECT_EQ(walked.pages[0].entry.summary[4], 2u) << "image area";
    EXPECT_EQ(walked.pages[0].entry.summary[1], 1u) << "a stretched image";
    EXPECT_EQ(walked.pages[0].entry.summary[2], 0u) << "24 bits: a colour page";
}

TEST_F(StreamDrawTest, CopyBitsFromTheDeviceWhitensTheArea) {
    SURFOBJ device{};
    device.iType = STYPE_DEVICE;
    ASSERT_TRUE(StreamCopyBits(r, &device, nullptr, nullptr, RECTL{5, 6, 25, 16}, nullptr));
    const auto recs = Drawn();
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs[0].type, vemf::kPatternBlit);
    EXPECT_EQ(recs[0].U32(40), 255u);
}

TEST_F(StreamDrawTest, StyledPensAreCreatedAgainOnlyWhenTheyChange) {
    BRUSHOBJ blue{0xFF0000, nullptr, 0};
    FLOAT_LONG dashes[2];
    dashes[0].l = 6, dashes[1].l = 2;
    LINEATTRS styled{};
    styled.fl = LA_STYLED;
    styled.cstyle = 2;
    styled.pstyle = dashes;
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, &blue, &styled, nullptr, nullptr, 0x0D0D, 0));
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, &blue, &styled, nullptr, nullptr, 0x0D0D, 0));
    LINEATTRS wide{};
    wide.fl = LA_GEOMETRIC;
    wide.elWidth.e = 4.0f;
    wide.iEndCap = ENDCAP_BUTT;
    wide.iJoin = JOIN_MITER;
    wide.eMiterLimit = 4.0f;
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, &blue, &wide, nullptr, nullptr, 0x0D0D, 0));
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, &blue, nullptr, nullptr, nullptr, 0x0D0D, 0));
    const auto recs = Drawn();
    std::vector<const vemfread::Record*> pens;
    std::vector<uint32_t> order;
    for (const auto& rec : recs) {
        if (rec.type == vemf::kExtCreatePen) pens.push_back(&rec);
        if (rec.type == vemf::kExtCreatePen || rec.type == vemf::kDeleteObject || rec.type == vemf::kCreatePen ||
            rec.type == vemf::kSetMiterLimit)
            order.push_back(rec.type);
    }
    ASSERT_EQ(pens.size(), 2u);
    EXPECT_EQ(pens[0]->U32(28), vemf::kPenUserStyle);
    EXPECT_EQ(pens[0]->U32(48), 2u);
    EXPECT_EQ(pens[0]->U32(52), 6u);
    EXPECT_EQ(pens[1]->U32(28), vemf::kPenGeometric | vemf::kPenCapFlat | vemf::kPenJoinMiter);
    EXPECT_EQ(pens[1]->U32(32), 4u);
    // The dashed pen goes when the wide one comes; the wide one when a plain
    // pen is selected; the page's own plain pen at the page end.
    const std::vector<uint32_t> expected = {vemf::kExtCreatePen, vemf::kSetMiterLimit, vemf::kDeleteObject,
                                            vemf::kExtCreatePen, vemf::kCreatePen, vemf::kDeleteObject,
                                            vemf::kDeleteObject};
    EXPECT_EQ(order, expected);
}

TEST_F(StreamDrawTest, HatchBrushesAreCachedByTheirOwnIdentity) {
    RealizedBrush hatch{};
    hatch.kind = kBrushHatch;
    hatch.brushKey = 512 + HS_CROSS;
    hatch.colour[2] = 200;                                         // blue foreground
    hatch.backColour[0] = hatch.backColour[1] = hatch.backColour[2] = 255;  // white background
    hatch.ownerValue = 7;
    BRUSHOBJ brush{BR_NOT_SOLID, &hatch, 0};
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &brush, nullptr, 0x0D0D, 0));
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &brush, nullptr, 0x0D0D, 0));
    RealizedBrush other = hatch;
    other.ownerValue = 8;
    other.backColour[1] = 0;
    BRUSHOBJ second{BR_NOT_SOLID, &other, 0};
    ASSERT_TRUE(StreamStrokeFill(r, &line, nullptr, nullptr, nullptr, &second, nullptr, 0x0D0D, 0));
    const auto recs = Drawn();
    std::vector<const vemfread::Record*> created;
    size_t backgrounds = 0;
    for (const auto& rec : recs) {
        if (rec.type == vemf::kCreateBrush) created.push_back(&rec);
        backgrounds += rec.type == vemf::kSetBkColor;
    }
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[0]->U32(12), 2u);          // hatched
    EXPECT_EQ(created[0]->U32(16), 0xC80000u);   // foreground
    EXPECT_EQ(created[0]->U32(20), uint32_t{HS_CROSS});
    EXPECT_EQ(backgrounds, 1u) << "white is the page's background already; magenta is not";
}

}  // namespace
}  // namespace pclrend
