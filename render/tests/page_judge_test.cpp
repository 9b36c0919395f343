// The page judge of make run: a sheet printed at a printer's resolution
// against a page an outside renderer drew at a lower one.
#include <gtest/gtest.h>

#include "pclread/judge.h"

namespace {

// A 120 x 160 page at 150 dpi: white, a black square and a grey bar.
pclread::Grey ExpectedPage() {
    pclread::Grey g(120, 160);
    for (int32_t y = 0; y < g.height; ++y)
        for (int32_t x = 0; x < g.width; ++x) {
            uint8_t v = 255;
            if (x >= 10 && x < 30 && y >= 12 && y < 40) v = 0;
            if (x >= 50 && x < 110 && y >= 100 && y < 108) v = 96;
            g.v[static_cast<size_t>(y) * g.width + x] = v;
        }
    return g;
}

// The same page printed at `scale` times the resolution, its corner at
// (x, y) of a white sheet.
pclread::Grey Sheet(const pclread::Grey& page, int scale, int32_t x, int32_t y) {
    pclread::Grey big(page.width * scale, page.height * scale);
    for (int32_t py = 0; py < big.height; ++py)
        for (int32_t px = 0; px < big.width; ++px)
            big.v[static_cast<size_t>(py) * big.width + px] = page.At(px / scale, py / scale);
    return pclread::Place(big, big.width + 2 * x + 37, big.height + 2 * y + 41, x, y);
}

// Wherever the printable corner lies, on the 75 dpi grid or not, a page
// printed as expected is judged equal: no ink box moved by the rounding of
// the offset (a quarter inch at 600 dpi is 18.75 pixels at 75 dpi).
TEST(PageJudge, APagePrintedAsExpectedIsEqualAtAnyCorner) {
    const pclread::Grey page = ExpectedPage();
    struct Case {
        int dpi;
        int32_t x, y;
    };
    for (const Case c : {Case{600, 0, 0}, Case{600, 100, 100}, Case{600, 150, 150}, Case{600, 151, 37},
                         Case{300, 75, 50}, Case{300, 0, 3}}) {
        SCOPED_TRACE(std::to_string(c.dpi) + " dpi at " + std::to_string(c.x) + "," + std::to_string(c.y));
        auto f = pclread::JudgeAgainstExpected(Sheet(page, c.dpi / 150, c.x, c.y), c.dpi, c.x, c.y, page, 150);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->meanDiff, 0.0);
        EXPECT_EQ(f->worstBlock, 0.0);
        EXPECT_EQ(f->inkOffMm, 0.0);
        // The square's corner, in 75 dpi pixels from the page's corner.
        EXPECT_EQ(f->printed.left, 5);
        EXPECT_EQ(f->printed.top, 6);
    }
}

TEST(PageJudge, AShiftedPageIsSeenAndBadArgumentsAreRefused) {
    const pclread::Grey page = ExpectedPage();
    // Printed 16 dots (2 pixels at 75 dpi) right of where it was said to be.
    auto f = pclread::JudgeAgainstExpected(Sheet(page, 4, 166, 150), 600, 150, 150, page, 150);
    ASSERT_TRUE(f);
    EXPECT_NEAR(f->inkOffMm, 2 * 25.4 / 75, 1e-9);
    EXPECT_GT(f->meanDiff, 0.0);
    const pclread::Grey sheet = Sheet(page, 4, 150, 150);
    EXPECT_FALSE(pclread::JudgeAgainstExpected(sheet, 600, sheet.width, 0, page, 150));  // corner off the sheet
    EXPECT_FALSE(pclread::JudgeAgainstExpected(sheet, 600, -1, 0, page, 150));
    EXPECT_FALSE(pclread::JudgeAgainstExpected(sheet, 600, 0, 0, page, 450));  // does not divide 600
    EXPECT_FALSE(pclread::JudgeAgainstExpected(sheet, 640, 0, 0, page, 160));  // no multiple of 75
    EXPECT_FALSE(pclread::JudgeAgainstExpected(sheet, 0, 0, 0, page, 150));
}

}  // namespace
