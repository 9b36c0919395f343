// Regions and clip enumeration: batches fill the caller's buffer, in the
// order asked for, and together give every rectangle once.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "gdi/engine.h"

using namespace zq::gdi;

namespace {

// 12 columns x 10 rows of 10 x 10 squares with gaps: no two merge.
Region Grid() {
    std::vector<RECTL> rects;
    for (LONG row = 0; row < 10; ++row)
        for (LONG col = 0; col < 12; ++col) rects.push_back({col * 20, row * 15, col * 20 + 10, row * 15 + 10});
    return Region::FromRects(rects);
}

bool SameRect(const RECTL& a, const RECTL& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class ClipBatches : public ::testing::TestWithParam<size_t> {};

TEST_P(ClipBatches, FillTheBufferInOrderAndComplete) {
    const size_t capacity = GetParam();
    Region grid = Grid();
    ASSERT_EQ(grid.Rects().size(), 120u);
    EngineClip clip(grid);
    EXPECT_EQ(clip.iDComplexity, DC_COMPLEX);
    ASSERT_EQ(CLIPOBJ_cEnumStart(&clip, FALSE, CT_RECTANGLES, CD_RIGHTDOWN, 0), 120u);

    const ULONG bytes = static_cast<ULONG>(offsetof(ENUMRECTS, arcl) + capacity * sizeof(RECTL));
    std::vector<ULONG> buffer(bytes / sizeof(ULONG) + 1);
    auto* er = reinterpret_cast<ENUMRECTS*>(buffer.data());
    std::vector<RECTL> seen;
    std::vector<ULONG> batches;
    BOOL more;
    do {
        more = CLIPOBJ_bEnum(&clip, bytes, buffer.data());
        batches.push_back(er->c);
        for (ULONG i = 0; i < er->c; ++i) seen.push_back(er->arcl[i]);
    } while (more);

    ASSERT_EQ(seen.size(), 120u);
    for (size_t i = 0; i < seen.size(); ++i) {
        LONG row = static_cast<LONG>(i / 12), col = static_cast<LONG>(i % 12);
        EXPECT_TRUE(SameRect(seen[i], {col * 20, row * 15, col * 20 + 10, row * 15 + 10})) << i;
    }
    for (size_t i = 0; i < batches.size(); ++i)
        EXPECT_EQ(batches[i], i + 1 < batches.size() ? capacity : 120 - capacity * (batches.size() - 1)) << i;
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, ClipBatches, ::testing::Values(1u, 7u, 50u, 119u, 120u, 500u));

TEST(ClipEnum, DirectionsOrderBandsAndRectangles) {
    EngineClip clip(Grid());
    ASSERT_EQ(CLIPOBJ_cEnumStart(&clip, TRUE, CT_RECTANGLES, CD_LEFTUP, 0), 120u);
    std::vector<ULONG> buffer(2 + 4 * 200);
    auto* er = reinterpret_cast<ENUMRECTS*>(buffer.data());
    EXPECT_FALSE(CLIPOBJ_bEnum(&clip, static_cast<ULONG>(buffer.size() * 4), buffer.data()));
    ASSERT_EQ(er->c, 120u);
    EXPECT_TRUE(SameRect(er->arcl[0], {220, 135, 230, 145}));    // bottom row, rightmost
    EXPECT_TRUE(SameRect(er->arcl[119], {0, 0, 10, 10}));         // top row, leftmost
}

TEST(ClipEnum, LimitBelowCountAnswersAllOnes) {
    EngineClip clip(Grid());
    EXPECT_EQ(CLIPOBJ_cEnumStart(&clip, FALSE, CT_RECTANGLES, CD_ANY, 10), 0xFFFFFFFFu);
}

TEST(ClipEnum, BufferWithoutRoomForOneRectangleEndsTheEnumeration) {
    EngineClip clip(Grid());
    CLIPOBJ_cEnumStart(&clip, FALSE, CT_RECTANGLES, CD_ANY, 0);
    ULONG small[3] = {99, 0, 0};
    EXPECT_FALSE(CLIPOBJ_bEnum(&clip, 8, small));
    EXPECT_EQ(small[0], 0u);
}

TEST(ClipEnum, RectangleClipEnumeratesItsBounds) {
    EngineClip clip(Region(RECTL{5, 6, 7, 8}));
    EXPECT_EQ(clip.iDComplexity, DC_RECT);
    EXPECT_EQ(CLIPOBJ_cEnumStart(&clip, FALSE, CT_RECTANGLES, CD_ANY, 0), 1u);
    ULONG buffer[8];
    EXPECT_FALSE(CLIPOBJ_bEnum(&clip, sizeof buffer, buffer));
    auto* er = reinterpret_cast<ENUMRECTS*>(buffer);
    ASSERT_EQ(er->c, 1u);
    EXPECT_TRUE(SameRect(er->arcl[0], {5, 6, 7, 8}));
}

// Region operations against a pixel-by-pixel model.
TEST(RegionOps, MatchPointwiseSetOperations) {
    Region a = Region::FromRects(std::vector<RECTL>{{0, 0, 30, 20}, {10, 10, 50, 40}});
    Region b = Region::FromRects(std::vector<RECTL>{{5, 5, 25, 35}, {40, 0, 45, 60}});
    Region andR = a.Intersect(b), orR = a.Union(b), diff = a.Subtract(b);
    for (LONG y = -2; y < 62; ++y)
        for (LONG x = -2; x < 62; ++x) {
            bool ia = a.Contains(x, y), ib = b.Contains(x, y);
            ASSERT_EQ(andR.Contains(x, y), ia && ib) << x << "," << y;
            ASSERT_EQ(orR.Contains(x, y), ia || ib) << x << "," << y;
            ASSERT_EQ(diff.Contains(x, y), ia && !ib) << x << "," << y;
        }
    // Rectangles never overlap and are sorted top to bottom, left to right.
    auto rs = orR.Rects();
    for (size_t i = 1; i < rs.size(); ++i)
        EXPECT_TRUE(rs[i - 1].top < rs[i].top || (rs[i - 1].top == rs[i].top && rs[i - 1].right <= rs[i].left));
}

// Rectangles in bands (one-row runs of rasterised glyphs, in any order,
// overlapping and touching; rows of runs lengthened down as coverage gives
// them) are joined without the general sweep; the region must be the very
// rectangles the sweep makes, rectangle by rectangle, and rectangles that
// are not so banded still come out right.
TEST(RegionOps, RunsInBandsGiveTheSweepsRectangles) {
    struct Case {
        const char* what;
        std::vector<RECTL> rects;
    };
    std::vector<Case> cases = {
        {"overlapping and touching runs of one row, out of order",
         {{5, 3, 9, 4}, {0, 2, 4, 3}, {4, 2, 6, 3}, {7, 3, 12, 4}, {1, 3, 2, 4}, {20, 2, 21, 3}, {0, 2, 3, 3}}},
        {"alike rows merge, a row between them or a gap keeps them apart",
         {{0, 0, 5, 1}, {0, 1, 5, 2}, {0, 2, 3, 3}, {0, 3, 5, 4}, {0, 5, 5, 6}, {0, 6, 5, 7}}},
        {"rows lengthened down, bands of different heights",
         {{0, 0, 4, 3}, {6, 0, 9, 3}, {0, 3, 4, 4}, {6, 3, 9, 4}, {2, 4, 7, 10}, {-3, 12, 1, 13}}},
        {"bands that overlap: not banded", {{0, 0, 10, 5}, {5, 3, 15, 8}, {0, 4, 3, 5}}},
        {"one top, two bottoms: not banded", {{0, 0, 10, 5}, {20, 0, 30, 6}}},
    };
    std::mt19937 random(11);
    for (int n = 0; n < 12; ++n) {
        Case c{"random glyph runs", {}};
        for (int k = 0; k < 120; ++k) {
            const LONG x = static_cast<LONG>(random() % 60), y = static_cast<LONG>(random() % 40);
            c.rects.push_back({x, y, x + 1 + static_cast<LONG>(random() % 12), y + 1});
        }
        cases.push_back(std::move(c));
    }
    for (const Case& c : cases) {
        Region swept;
        for (const RECTL& r : c.rects) swept = swept.Union(Region(r));
        const Region joined = Region::FromRects(c.rects);
        EXPECT_TRUE(joined == swept) << c.what;
        // Pixel by pixel, from the rectangles themselves.
        std::vector<bool> in(49 * 84, false);
        for (const RECTL& r : c.rects)
            for (LONG y = r.top; y < r.bottom; ++y)
                for (LONG x = r.left; x < r.right; ++x) in[static_cast<size_t>((y + 4) * 84 + x + 4)] = true;
        for (LONG y = -4; y < 45; ++y)
            for (LONG x = -4; x < 80; ++x)
                ASSERT_EQ(joined.Contains(x, y), in[static_cast<size_t>((y + 4) * 84 + x + 4)]) << c.what << ": " << x << "," << y;
    }
}

// Cutting a region to a rectangle gives the pixels of both, in the same
// rectangles as the general sweep makes: bands that become alike merge, rows
// with nothing in them keep the bands around them apart.
TEST(RegionOps, CutToRectangleKeepsTheOneFormOfRegions) {
    const Region shape = Region::FromRects(std::vector<RECTL>{
        {0, 0, 10, 10}, {20, 0, 30, 10}, {0, 10, 10, 20}, {20, 10, 40, 20}, {0, 25, 10, 30}, {0, 30, 35, 32}});
    const RECTL boxes[] = {
        {0, 0, 30, 40},    // the two top bands become alike; the gap at 20..25 stays
        {5, 5, 25, 31},    // cuts every band on all sides
        {12, 0, 18, 40},   // between the runs: nothing
        {-5, 31, 100, 60}, // the last row only
        {0, 12, 9, 28},    // a lone column across the gap
        {100, 100, 120, 120},
    };
    for (const RECTL& box : boxes) {
        const Region cut = shape.Intersect(Region(box)), swept = shape.Subtract(shape.Subtract(Region(box)));
        EXPECT_TRUE(cut == swept) << box.left << "," << box.top << "," << box.right << "," << box.bottom;
        EXPECT_TRUE(Region(box).Intersect(shape) == swept);
        for (LONG y = -2; y < 45; ++y)
            for (LONG x = -2; x < 45; ++x)
                ASSERT_EQ(cut.Contains(x, y), shape.Contains(x, y) && x >= box.left && x < box.right && y >= box.top &&
                                                  y < box.bottom)
                    << x << "," << y;
    }
}

// Cutting a region to one rectangle (a band, a transfer's destination) takes
// a shortcut past the general sweep; it must give the very rectangles the
// sweep gives (a \ (a \ r)), whichever side the rectangle is on: rows cut
// at the rectangle's edges, rows emptied by its columns dropped, and rows
// that come out alike merged, with or without a gap between them.
TEST(RegionOps, CutToARectangleGivesTheSweepsRectangles) {
    std::vector<Region> regions;
    // A disc of one-row steps: a row of rectangles for every scan line.
    std::vector<RECTL> disc;
    for (LONG y = 0; y < 80; ++y) {
        const LONG half = static_cast<LONG>(std::lround(std::sqrt(1600.0 - (y - 39.5) * (y - 39.5))));
        disc.push_back({40 - half, y, 40 + half, y + 1});
    }
    regions.push_back(Region::FromRects(disc));
    // Two columns over rows of different widths, with a gap of rows.
    regions.push_back(Region::FromRects(std::vector<RECTL>{{0, 0, 10, 5}, {20, 0, 30, 5}, {0, 5, 12, 9},
                                                           {18, 5, 30, 9}, {0, 12, 10, 20}, {20, 12, 30, 20}}));
    std::mt19937 random(7);
    for (int n = 0; n < 20; ++n) {
        std::vector<RECTL> rs;
        for (int k = 0; k < 12; ++k) {
            LONG x = static_cast<LONG>(random() % 70), y = static_cast<LONG>(random() % 70);
            rs.push_back({x, y, x + 1 + static_cast<LONG>(random() % 25), y + 1 + static_cast<LONG>(random() % 25)});
        }
        regions.push_back(Region::FromRects(rs));
    }
    const RECTL cuts[] = {
        {0, 0, 100, 16},   {0, 16, 100, 32}, {-5, 70, 100, 200},  // bands
        {4, 3, 6, 40},                                            // columns only the wide rows reach
        {-10, -10, 200, 200},                                     // holds everything
        {12, 0, 18, 100},                                         // falls between the columns
        {0, 5, 10, 15},    {25, 2, 26, 3},   {90, 0, 95, 10},    // beyond on the right
        {3, 3, 3, 50},                                            // empty
    };
    for (size_t i = 0; i < regions.size(); ++i)
        for (const RECTL& c : cuts) {
            const Region& a = regions[i];
            const Region cut(c);
            const Region swept = a.Subtract(a.Subtract(cut));
            const Region left = a.Intersect(cut), right = cut.Intersect(a);
            EXPECT_TRUE(left == swept) << "region " << i << " cut " << c.left << "," << c.top << "," << c.right << "," << c.bottom;
            EXPECT_TRUE(right == swept) << "region " << i << " cut " << c.left << "," << c.top << "," << c.right << "," << c.bottom;
            for (LONG y = -2; y < 100; y += 3)
                for (LONG x = -2; x < 100; x += 3)
                    ASSERT_EQ(left.Contains(x, y), a.Contains(x, y) && cut.Contains(x, y)) << i << ": " << x << "," << y;
        }
}

}  // namespace
