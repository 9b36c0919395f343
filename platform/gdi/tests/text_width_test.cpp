// Glyph widths: a width asked for in the font (lfWidth) and a mapping that
// stretches x against y both widen or narrow the glyphs, not their height.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "gdi/dc_draw.h"
#include "test_support.h"

namespace {

LOGFONTW Sans(LONG height) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    const char16_t face[] = u"Liberation Sans";
    std::copy(std::begin(face), std::end(face), lf.lfFaceName);
    return lf;
}

HFONT Font(LONG height, LONG width) {
    LOGFONTW lf = Sans(height);
    lf.lfWidth = width;
    return CreateFontIndirectW(&lf);
}

// The ink box of a word drawn at (10, 10) in `font` on a fresh page set up
// by `setup`.
RECTL Ink(HFONT font, const std::function<void(HDC)>& setup = {}) {
    MemoryPage page(600, 200);
    if (setup) setup(page.dc);
    HGDIOBJ old = SelectObject(page.dc, font);
    TextOutW(page.dc, 10, 10, reinterpret_cast<LPCWSTR>(u"Zelquor"), 7);
    SelectObject(page.dc, old);
    return page.InkBox();
}

TEST(TextWidth, AskedWidthAndStretchedMappingsScaleTheGlyphsAlongTheBaseline) {
    HFONT natural = Font(-40, 0);
    const RECTL n = Ink(natural);
    TEXTMETRICW tm{};
    {
        MemoryPage page(10, 10);
        HGDIOBJ old = SelectObject(page.dc, natural);
        GetTextMetricsW(page.dc, &tm);
        SelectObject(page.dc, old);
    }
    ASSERT_GT(tm.tmAveCharWidth, 0);
    // Half the face's average width: half as wide, as tall as before.
    HFONT narrow = Font(-40, tm.tmAveCharWidth / 2);
    const RECTL h = Ink(narrow);
    EXPECT_NEAR(double(h.right - h.left) / (n.right - n.left), 0.5, 0.06);
    EXPECT_NEAR(h.bottom - h.top, n.bottom - n.top, 1);
    // A mapping that doubles x only: twice as wide, as tall.
    const RECTL s = Ink(natural, [](HDC dc) {
        SetMapMode(dc, MM_ANISOTROPIC);
        SetWindowExtEx(dc, 100, 100, nullptr);
        SetViewportExtEx(dc, 200, 100, nullptr);
    });
    EXPECT_NEAR(double(s.right - s.left) / (n.right - n.left), 2.0, 0.1);
    EXPECT_NEAR(s.bottom - s.top, n.bottom - n.top, 1);
    // The measured extent follows the drawn width.
    MemoryPage page(10, 10);
    HGDIOBJ old = SelectObject(page.dc, narrow);
    SIZE ext{};
    GetTextExtentPoint32W(page.dc, reinterpret_cast<LPCWSTR>(u"Zelquor"), 7, &ext);
    SelectObject(page.dc, old);
    EXPECT_NEAR(ext.cx, h.right - h.left, 6);
    DeleteObject(natural);
    DeleteObject(narrow);
}

// In the advanced graphics mode a font's orientation turns its glyphs apart
// from the escapement that turns its baseline; in the compatible mode the
// escapement turns both.
TEST(TextOrientation, GlyphsTurnByTheOrientationInTheAdvancedMode) {
    auto ink = [](int mode, LONG escapement, LONG orientation, const char16_t* text) {
        LOGFONTW lf = Sans(-60);
        lf.lfEscapement = escapement;
        lf.lfOrientation = orientation;
        HFONT font = CreateFontIndirectW(&lf);
        RECTL box;
        {
            MemoryPage page(400, 400);
            SetGraphicsMode(page.dc, mode);
            HGDIOBJ old = SelectObject(page.dc, font);
            TextOutW(page.dc, 200, 200, reinterpret_cast<LPCWSTR>(text), static_cast<int>(std::char_traits<char16_t>::length(text)));
            SelectObject(page.dc, old);
            box = page.InkBox();
        }
        DeleteObject(font);
        return box;
    };
    auto wide = [](const RECTL& r) { return r.right - r.left > r.bottom - r.top; };
    // One tall, thin glyph.
    EXPECT_FALSE(wide(ink(GM_ADVANCED, 0, 0, u"l")));
    EXPECT_TRUE(wide(ink(GM_ADVANCED, 0, 900, u"l"))) << "turned on a level baseline";
    EXPECT_FALSE(wide(ink(GM_COMPATIBLE, 0, 900, u"l"))) << "the compatible mode keeps it upright";
    // A row of them on a baseline going up, each upright: taller than wide,
    // and each glyph's ink is thin (a column of short dashes, not one bar).
    const RECTL up = ink(GM_ADVANCED, 900, 0, u"llll");
    EXPECT_FALSE(wide(up));
    EXPECT_LT(up.right - up.left, 30);
}

// Turned text keeps its underline and its opaque background, turned with
// the baseline.
TEST(TextOrientation, TurnedTextKeepsItsLinesAndBackground) {
    struct Drawn {
        size_t ink = 0, grey = 0;
        RECTL greyBox{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    };
    auto draw = [](bool underline, bool opaque) {
        LOGFONTW lf = Sans(-40);
        lf.lfEscapement = 900;  // the baseline goes up
        lf.lfUnderline = underline;
        HFONT font = CreateFontIndirectW(&lf);
        Drawn d;
        {
            MemoryPage page(300, 300);
            HGDIOBJ old = SelectObject(page.dc, font);
            SetBkMode(page.dc, opaque ? OPAQUE : TRANSPARENT);
            SetBkColor(page.dc, RGB(200, 200, 200));
            TextOutW(page.dc, 150, 250, reinterpret_cast<LPCWSTR>(u"Zelquor"), 7);
            SelectObject(page.dc, old);
            d.ink = page.NotWhite();
            for (LONG y = 0; y < 300; ++y)
                for (LONG x = 0; x < 300; ++x)
                    if (page.At(x, y) == RGB(200, 200, 200)) {
                        ++d.grey;
                        d.greyBox = {std::min(d.greyBox.left, x), std::min(d.greyBox.top, y),
                                     std::max(d.greyBox.right, x + 1), std::max(d.greyBox.bottom, y + 1)};
                    }
        }
        DeleteObject(font);
        return d;
    };
    const Drawn plain = draw(false, false), lined = draw(true, false), filled = draw(false, true);
    EXPECT_GT(lined.ink, plain.ink + 100) << "an underline as long as the text";
    EXPECT_EQ(plain.grey, 0u);
    ASSERT_GT(filled.grey, 1000u) << "the background behind the turned text";
    EXPECT_GT(filled.greyBox.bottom - filled.greyBox.top, 2 * (filled.greyBox.right - filled.greyBox.left))
        << "turned with the baseline";
}

}  // namespace
