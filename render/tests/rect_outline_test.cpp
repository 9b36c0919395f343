#include "render/rect_outline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace pclrend {
namespace {

// The winding number of the pixel centre (x + 0.5, y + 0.5): the signed
// crossings of the vertical sides to its right (down counts +1, the way an
// outer boundary runs clockwise on a y-down page).
int Winding(const std::vector<std::vector<POINTL>>& contours, LONG x, LONG y) {
    int w = 0;
    for (const auto& c : contours)
        for (size_t k = 0; k < c.size(); ++k) {
            const POINTL a = c[k], b = c[(k + 1) % c.size()];
            if (a.x != b.x || a.x <= x) continue;
            if (a.y <= y && y < b.y) ++w;
            if (b.y <= y && y < a.y) --w;
        }
    return w;
}

struct Case {
    const char* name;
    std::vector<RECTL> rects;
    size_t contours;  // outlines expected
};

TEST(RectangleOutline, InsideIsExactlyTheUnionUnderBothRules) {
    const Case cases[] = {
        {"nothing", {}, 0},
        {"empty rectangles count for nothing", {{5, 5, 5, 9}, {3, 4, 8, 4}}, 0},
        {"one rectangle", {{2, 3, 9, 7}}, 1},
        {"side by side: one outline", {{0, 0, 4, 4}, {4, 0, 9, 4}}, 1},
        {"stacked: one outline", {{0, 0, 4, 3}, {0, 3, 4, 8}}, 1},
        {"overlapping cross", {{4, 0, 7, 12}, {0, 4, 12, 7}}, 1},
        {"the same twice", {{1, 1, 6, 6}, {1, 1, 6, 6}}, 1},
        {"a ring: outline and hole", {{0, 0, 10, 2}, {0, 8, 10, 10}, {0, 2, 2, 8}, {8, 2, 10, 8}}, 2},
        {"corners touching only", {{0, 0, 3, 3}, {3, 3, 6, 6}}, 2},
        {"a staircase of runs", {{0, 0, 2, 1}, {0, 1, 3, 2}, {1, 2, 5, 3}, {2, 3, 7, 4}}, 1},
        {"apart across the page", {{0, 0, 3, 3}, {10, 1, 14, 2}, {20, -4, 22, 9}}, 3},
        {"negative coordinates", {{-9, -9, -2, -3}, {-4, -5, 3, 1}}, 1},
        {"groups touching at a side", {{0, 0, 5, 5}, {5, 2, 9, 9}}, 1},
        {"a hole with an island", {{0, 0, 12, 3}, {0, 9, 12, 12}, {0, 3, 3, 9}, {9, 3, 12, 9}, {5, 5, 7, 7}}, 3},
    };
    for (const auto& c : cases) {
        const auto contours = OutlineOfRectangles(c.rects);
        EXPECT_EQ(contours.size(), c.contours) << c.name;
        int wrong = 0;
        for (LONG y = -12; y < 16; ++y)
            for (LONG x = -12; x < 26; ++x) {
                const bool inside = std::any_of(c.rects.begin(), c.rects.end(), [&](const RECTL& q) {
                    return q.left <= x && x < q.right && q.top <= y && y < q.bottom;
                });
                const int w = Winding(contours, x, y);
                wrong += (w != 0) != inside;       // non-zero rule
                wrong += ((w & 1) != 0) != inside;  // even-odd rule
            }
        EXPECT_EQ(wrong, 0) << c.name;
        for (const auto& contour : contours) {
            ASSERT_GE(contour.size(), 4u) << c.name;
            for (size_t k = 0; k < contour.size(); ++k) {
                const POINTL a = contour[k], b = contour[(k + 1) % contour.size()], d = contour[(k + 2) % contour.size()];
                EXPECT_TRUE(a.x == b.x || a.y == b.y) << c.name << ": sides along the axes";
                EXPECT_FALSE((a.x == b.x && b.x == d.x) || (a.y == b.y && b.y == d.y)) << c.name << ": a straight corner";
            }
        }
    }
}

}  // namespace
}  // namespace pclrend
