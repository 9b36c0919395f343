// Paths, transforms and their rasterisation: enumeration flags drivers rely
// on, and fill rules, dashes and wide lines checked by pixel counts.
#include <gtest/gtest.h>

#include "gdi/coverage.h"
#include "gdi/ddi_path.h"

namespace zq::gdi {
namespace {

POINTFIX P(LONG x, LONG y) { return {LTOFX(x), LTOFX(y)}; }

TEST(PathObj, EnumeratesSubpathsWithTheirFlags) {
    Path path;
    path.MoveTo(P(0, 0));
    path.LineTo(P(10, 0));
    path.LineTo(P(10, 10));
    path.BezierTo(P(5, 15), P(0, 15), P(0, 10));
    path.CloseFigure();
    path.MoveTo(P(50, 50));  // a lone MoveTo draws nothing and is not enumerated
    path.MoveTo(P(20, 20));
    path.LineTo(P(30, 20));

    struct Rec { FLONG flags; ULONG count; LONG firstX; };
    std::vector<Rec> seen;
    PATHOBJ_vEnumStart(&path);
    PATHDATA pd;
    BOOL more;
    do {
        more = PATHOBJ_bEnum(&path, &pd);
        seen.push_back({pd.flags, pd.count, pd.count ? FXTOL(pd.pptfx[0].x) : -1});
    } while (more);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].flags, PD_BEGINSUBPATH);
    EXPECT_EQ(seen[0].count, 3u);  // the start point and two line ends
    EXPECT_EQ(seen[1].flags, PD_BEZIERS | PD_ENDSUBPATH | PD_CLOSEFIGURE);
    EXPECT_EQ(seen[1].count, 3u);
    EXPECT_EQ(seen[1].firstX, 5);
    EXPECT_EQ(seen[2].flags, PD_BEGINSUBPATH | PD_ENDSUBPATH);
    EXPECT_EQ(seen[2].firstX, 20);
    EXPECT_TRUE(path.fl & PO_BEZIERS);

    RECTFX b;
    PATHOBJ_vGetBounds(&path, &b);
    EXPECT_EQ(b.xLeft, 0);
    EXPECT_EQ(b.xRight, LTOFX(30));
    EXPECT_EQ(b.yBottom, LTOFX(20));
}

TEST(PathObj, LongRecordsAreSplitBelowSixteenBitCounts) {
    Path path;
    path.MoveTo(P(0, 0));
    for (int i = 1; i <= 70000; ++i) path.LineTo(P(i % 100, i / 100));
    PATHOBJ_vEnumStart(&path);
    PATHDATA pd;
    size_t total = 0, records = 0;
    BOOL more;
    do {
        more = PATHOBJ_bEnum(&path, &pd);
        EXPECT_LE(pd.count, 65535u);
        total += pd.count;
        ++records;
    } while (more);
    EXPECT_EQ(total, 70001u);
    EXPECT_GT(records, 1u);
    EXPECT_EQ(pd.flags & PD_ENDSUBPATH, PD_ENDSUBPATH);
}

TEST(XformObj, AppliesAndInverts) {
    Xform xo(XFORML{2, 0, 0, 3, 10, 20});
    XFORML m;
    EXPECT_EQ(XFORMOBJ_iGetXform(&xo, &m), GX_SCALE);
    EXPECT_EQ(m.eDy, 20);
    POINTL in[] = {{1, 1}, {-5, 2}}, out[2];
    ASSERT_TRUE(XFORMOBJ_bApplyXform(&xo, XF_LTOL, 2, in, out));
    EXPECT_EQ(out[0].x, 12);
    EXPECT_EQ(out[1].y, 26);
    POINTL back[2];
    ASSERT_TRUE(XFORMOBJ_bApplyXform(&xo, XF_INV_LTOL, 2, out, back));
    EXPECT_EQ(back[1].x, -5);
    ASSERT_TRUE(XFORMOBJ_bApplyXform(&xo, XF_LTOFX, 1, in, out));
    EXPECT_EQ(out[0].x, 12 * 16);

    Xform singular(XFORML{1, 1, 1, 1, 0, 0});
    EXPECT_EQ(XFORMOBJ_iGetXform(&singular, nullptr), GX_GENERAL);
    EXPECT_FALSE(XFORMOBJ_bApplyXform(&singular, XF_INV_LTOL, 1, in, out));
    Xform identity;
    EXPECT_EQ(XFORMOBJ_iGetXform(&identity, nullptr), GX_IDENTITY);
}

// An upright rectangle is covered without a mask: the same pixels as the
// same rectangle with one more corner on its first edge (which the
// rasteriser draws), at every sixteenth of a pixel of its edges, in both
// directions of travel, clipped by the area asked for.
TEST(Coverage, UprightRectanglesCoverWhatTheRasteriserCovers) {
    const RECTL area{-3, 2, 21, 19};
    for (FIX left = -40; left < 40; left += 5)
        for (FIX width = 0; width < 200; width += 7)
            for (bool backwards : {false, true}) {
                const FIX x0 = left, x1 = left + width, y0 = left + 45, y1 = y0 + width / 2 + 3;
                Path box, drawn;
                const POINTFIX corners[] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
                auto corner = [&](int i) { return corners[backwards ? (4 - i) % 4 : i]; };
                box.MoveTo(corner(0));
                drawn.MoveTo(corner(0));
                drawn.LineTo({(corner(0).x + corner(1).x) / 2, (corner(0).y + corner(1).y) / 2});  // on the first edge
                for (int i = 1; i < 4; ++i) box.LineTo(corner(i)), drawn.LineTo(corner(i));
                box.CloseFigure();
                drawn.CloseFigure();
                const auto fast = FillCoverage(box, area, FP_ALTERNATEMODE);
                const auto slow = FillCoverage(drawn, area, FP_WINDINGMODE);
                ASSERT_TRUE(fast.box.has_value());
                ASSERT_FALSE(slow.box.has_value());
                for (LONG y = area.top - 1; y <= area.bottom; ++y)
                    for (LONG x = area.left - 1; x <= area.right; ++x)
                        ASSERT_EQ(fast.At(x, y), slow.At(x, y)) << x0 << "," << y0 << " - " << x1 << "," << y1 << " at " << x << "," << y;
                ASSERT_EQ(fast.Count(), slow.Count());
                ASSERT_TRUE(fast.ToRegion() == slow.ToRegion() || (fast.ToRegion().Empty() && slow.ToRegion().Empty()));
            }
}

// Two squares, the inner one drawn in the same direction: winding fills
// the hole, alternate leaves it empty.
TEST(Coverage, FillRules) {
    Path path;
    path.AddRect({LTOFX(0), LTOFX(0), LTOFX(40), LTOFX(40)});
    path.AddRect({LTOFX(10), LTOFX(10), LTOFX(30), LTOFX(30)});
    RECTL area{0, 0, 64, 64};
    EXPECT_EQ(FillCoverage(path, area, FP_WINDINGMODE).Count(), 40u * 40u);
    EXPECT_EQ(FillCoverage(path, area, FP_ALTERNATEMODE).Count(), 40u * 40u - 20u * 20u);
    // Right and bottom edges are outside, as for rectangles of the DC calls.
    auto c = FillCoverage(path, area, FP_WINDINGMODE);
    EXPECT_TRUE(c.At(39, 39));
    EXPECT_FALSE(c.At(40, 0));
    // The region of the coverage holds the same pixels.
    size_t regionPixels = 0;
    Region region = c.ToRegion();
    for (auto& r : region.Rects()) regionPixels += static_cast<size_t>((r.right - r.left) * (r.bottom - r.top));
    EXPECT_EQ(regionPixels, 1600u);
}

LINEATTRS Cosmetic() { return LINEATTRS{0, JOIN_MITER, ENDCAP_BUTT, {}, 10.0f, 0, nullptr, {}}; }

TEST(Coverage, CosmeticLinesAndStyles) {
    Path line;
    line.MoveTo(P(0, 5));
    line.LineTo(P(100, 5));
    RECTL area{0, 0, 128, 16};
    LINEATTRS la = Cosmetic();
    auto solid = StrokeCoverage(line, area, nullptr, la);
    EXPECT_EQ(solid.Count(), 100u);  // the last point is not drawn
    EXPECT_TRUE(solid.At(0, 5));
    EXPECT_FALSE(solid.At(0, 4));

    la.fl = LA_ALTERNATE;
    EXPECT_EQ(StrokeCoverage(line, area, nullptr, la).Count(), 50u);

    FLOAT_LONG dash[2];
    dash[0].l = 6;
    dash[1].l = 4;
    la.fl = LA_STYLED;
    la.cstyle = 2;
    la.pstyle = dash;
    auto dashed = StrokeCoverage(line, area, nullptr, la);
    EXPECT_EQ(dashed.Count(), 60u);  // ten periods of 6 on, 4 off
    EXPECT_TRUE(dashed.At(5, 5));
    EXPECT_FALSE(dashed.At(6, 5));
    la.fl |= LA_STARTGAP;
    EXPECT_FALSE(StrokeCoverage(line, area, nullptr, la).At(0, 5));
}

TEST(Coverage, WideLinesCapsJoinsAndTransform) {
    Path line;
    line.MoveTo(P(20, 20));
    line.LineTo(P(80, 20));
    RECTL area{0, 0, 128, 64};
    LINEATTRS la{LA_GEOMETRIC, JOIN_MITER, ENDCAP_BUTT, {}, 10.0f, 0, nullptr, {}};
    la.elWidth.e = 10;
    // Butt: 60 x 10; square: 70 x 10; round: between the two.
    EXPECT_EQ(StrokeCoverage(line, area, nullptr, la).Count(), 600u);
    la.iEndCap = ENDCAP_SQUARE;
    EXPECT_EQ(StrokeCoverage(line, area, nullptr, la).Count(), 700u);
    la.iEndCap = ENDCAP_ROUND;
    size_t round = StrokeCoverage(line, area, nullptr, la).Count();
    EXPECT_GT(round, 650u);
    EXPECT_LT(round, 700u);

    // The pen follows the transform: scaling y by 2 doubles a horizontal
    // line's thickness.
    la.iEndCap = ENDCAP_BUTT;
    XFORML tall{1, 0, 0, 2, 0, 0};
    EXPECT_EQ(StrokeCoverage(line, area, &tall, la).Count(), 1200u);

    // A right-angle corner 20 wide: a miter join fills the 10 x 10 corner
    // square, a bevel cuts it in half.
    la.elWidth.e = 20;
    Path corner;
    corner.MoveTo(P(10, 50));
    corner.LineTo(P(50, 50));
    corner.LineTo(P(50, 10));
    la.iJoin = JOIN_MITER;
    size_t miter = StrokeCoverage(corner, area, nullptr, la).Count();
    la.iJoin = JOIN_BEVEL;
    size_t bevel = StrokeCoverage(corner, area, nullptr, la).Count();
    EXPECT_NEAR(static_cast<double>(miter - bevel), 40.0, 10.0);  // pixel centres of a 50-pixel triangle
    // A miter limit below the corner's ratio (sqrt 2) bevels it.
    la.iJoin = JOIN_MITER;
    la.eMiterLimit = 1.0f;
    EXPECT_EQ(StrokeCoverage(corner, area, nullptr, la).Count(), bevel);
}

}  // namespace
}  // namespace zq::gdi
