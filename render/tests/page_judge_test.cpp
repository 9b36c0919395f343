// The page judge of make run: a sheet printed at a printer's resolution
// against a page an outside renderer drew at a lower one.
#include <gtest/gtest.h>

#include "pclread/judge.h"
#include "pclread/pclread.h"

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


// Colour pages: blue text on a yellow fill, judged colour for colour. Text
// within its tolerance passes whatever lies under it; text of another
// colour, a fill of another colour away from the text, or text beyond its
// tolerance fails.
TEST(TextJudge, ColourPagesAreJudgedColourForColour) {
    constexpr uint32_t kBlue = 0x0000C8, kYellow = 0xFFE600, kRed = 0xC80000;
    auto page = [](int32_t glyphX, uint32_t text, uint32_t fill) {
        pclread::Page p;
        p.width = 400;
        p.height = 60;
        p.stride = (p.width + 7) / 8;
        p.bits.assign(static_cast<size_t>(p.stride) * p.height, 0);
        p.rgb.assign(static_cast<size_t>(p.width) * p.height * 3, 255);
        auto set = [&](int32_t x, int32_t y, uint32_t c) {
            uint8_t* o = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
            o[0] = static_cast<uint8_t>(c >> 16), o[1] = static_cast<uint8_t>(c >> 8), o[2] = static_cast<uint8_t>(c);
        };
        for (int32_t y = 5; y < 30; ++y)
            for (int32_t x = 250; x < 380; ++x) set(x, y, fill);
        for (int32_t y = 10; y < 20; ++y)
            for (int32_t x = glyphX; x < glyphX + 6; ++x) set(x, y, text);
        return p;
    };
    struct Case {
        int32_t shift;
        uint32_t text, fill;
        bool passes;
        const char* what;
    };
    const Case cases[] = {
        {0, kBlue, kYellow, true, "the same page"},
        {4, kBlue, kYellow, true, "4 pixels off on the fill, about 300 along the run: within 2 + 3"},
        {-4, kBlue, kYellow, true, "4 pixels the other way"},
        {6, kBlue, kYellow, false, "6 pixels off: beyond 2 + 3"},
        {0, kRed, kYellow, false, "text of another colour"},
        {0, kBlue, kRed, false, "a fill of another colour away from the text"},
    };
    for (const Case& c : cases) {
        pclread::Page decoded = page(300 + c.shift, c.text, c.fill);
        const pclread::Page reference = page(300, kBlue, kYellow);
        decoded.textGlyphs.push_back({300 + c.shift, 10, 306 + c.shift, 20, 10, 15, 0});
        const auto j = pclread::JudgeWithText(decoded, reference);
        ASSERT_TRUE(j) << c.what;
        EXPECT_EQ(j->Passes(), c.passes) << c.what << ": " << j->outside << " outside, " << j->farInk << " far";
    }
}

}  // namespace

// Printed text against its reference: a glyph drawn from a font may lie off
// by 2 pixels plus 1% of its distance from its run's start (and the share
// of its size lost to quarter points); anything else must match pixel for
// pixel.
TEST(TextJudge, GlyphsWithinTheirToleranceAndPixelsElsewhere) {
    // A 400 x 60 page: a "glyph" (a 6 x 10 block) 300 pixels along a run
    // that starts at x 10, and a rule below the text.
    auto page = [](int32_t glyphX, bool rule, bool stray) {
        pclread::Page p;
        p.width = 400;
        p.height = 60;
        p.stride = (p.width + 7) / 8;
        p.bits.assign(static_cast<size_t>(p.stride) * p.height, 0);
        auto set = [&](int32_t x, int32_t y) { p.bits[static_cast<size_t>(y) * p.stride + x / 8] |= 0x80 >> (x % 8); };
        for (int32_t y = 10; y < 20; ++y)
            for (int32_t x = glyphX; x < glyphX + 6; ++x) set(x, y);
        if (rule)
            for (int32_t x = 0; x < 400; ++x) set(x, 50);
        if (stray) set(100, 40);
        return p;
    };
    struct Case {
        int32_t shift;      // of the decoded glyph against the reference
        double sizeSlack;   // of the glyph's size
        bool stray;         // a pixel away from the text in the decoded page
        bool passes;
        const char* what;
    };
    const Case cases[] = {
        {0, 0, false, true, "the same page"},
        {4, 0, false, true, "4 pixels off, about 300 along the run: within 2 + 3"},
        {6, 0, false, false, "6 pixels off: beyond 2 + 3"},
        {8, 0.0125, false, true, "8 pixels off with a size rounded by 1.25%: within 2 + 6.75"},
        {-6, 0, false, false, "6 pixels the other way"},
        {0, 0, true, false, "a pixel away from any glyph"},
    };
    for (const Case& c : cases) {
        pclread::Page decoded = page(300 + c.shift, true, c.stray);
        const pclread::Page reference = page(300, true, false);
        decoded.textGlyphs.push_back({300 + c.shift, 10, 306 + c.shift, 20, 10, 15, c.sizeSlack});
        const auto j = pclread::JudgeWithText(decoded, reference);
        ASSERT_TRUE(j) << c.what;
        EXPECT_EQ(j->Passes(), c.passes) << c.what << ": " << j->outside << " outside, " << j->farInk << " far";
        if (c.shift == 0) {
            EXPECT_EQ(j->outside, c.stray ? 1 : 0) << c.what;
        }
    }
    pclread::Page small = page(300, false, false);
    small.width = 100;
    EXPECT_FALSE(pclread::JudgeWithText(small, page(300, false, false))) << "pages of two sizes";
}
