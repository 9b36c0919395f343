// Region calls and the ANSI text calls, on a memory page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/locale.h"
#include "base/text.h"
#include "gdi/regions.h"
#include "gdi/text_ansi.h"
#include "test_support.h"

namespace {

// A region of two rectangles that touch at no side: box, kind, hits.
TEST(Regions, BoxOffsetHitsAndEquality) {
    HRGN r = CreateRectRgn(10, 10, 30, 20);
    HRGN b = CreateRectRgn(40, 15, 50, 40);
    ASSERT_EQ(CombineRgn(r, r, b, RGN_OR), COMPLEXREGION);
    RECT box{};
    EXPECT_EQ(GetRgnBox(r, &box), COMPLEXREGION);
    EXPECT_EQ(box.left, 10);
    EXPECT_EQ(box.top, 10);
    EXPECT_EQ(box.right, 50);
    EXPECT_EQ(box.bottom, 40);
    EXPECT_TRUE(PtInRegion(r, 10, 10));
    EXPECT_FALSE(PtInRegion(r, 30, 10)) << "right edge is outside";
    EXPECT_FALSE(PtInRegion(r, 35, 17)) << "between the rectangles";
    const RECT gap{31, 11, 39, 14}, over{28, 18, 42, 19};
    EXPECT_FALSE(RectInRegion(r, &gap));
    EXPECT_TRUE(RectInRegion(r, &over));
    EXPECT_EQ(OffsetRgn(r, -10, 5), COMPLEXREGION);
    EXPECT_TRUE(PtInRegion(r, 0, 15));
    HRGN same = CreateRectRgn(0, 15, 20, 25);
    HRGN other = CreateRectRgn(30, 20, 40, 45);
    CombineRgn(same, same, other, RGN_OR);
    EXPECT_TRUE(EqualRgn(r, same));
    SetRectRgn(same, 5, 5, 1, 1);  // given the wrong way round
    EXPECT_EQ(GetRgnBox(same, &box), SIMPLEREGION);
    EXPECT_EQ(box.left, 1);
    EXPECT_EQ(box.right, 5);
    SetRectRgn(same, 0, 0, 0, 0);
    EXPECT_EQ(GetRgnBox(same, &box), NULLREGION);
    EXPECT_FALSE(EqualRgn(r, same));
    // Handles of other kinds are refused.
    HBRUSH brush = CreateSolidBrush(0);
    EXPECT_EQ(GetRgnBox(reinterpret_cast<HRGN>(brush), &box), ERROR_REGION);
    EXPECT_FALSE(PtInRegion(reinterpret_cast<HRGN>(brush), 0, 0));
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(r), static_cast<HGDIOBJ>(same), static_cast<HGDIOBJ>(b),
                      static_cast<HGDIOBJ>(other), static_cast<HGDIOBJ>(brush)})
        DeleteObject(o);
}

TEST(Regions, FillFrameAndInvertPaintOnlyTheRegion) {
    MemoryPage page(60, 60);
    HRGN r = CreateRectRgn(10, 10, 30, 30);
    HRGN hole = CreateRectRgn(15, 15, 25, 25);
    CombineRgn(r, r, hole, RGN_DIFF);  // a square ring 5 pixels wide
    HBRUSH black = CreateSolidBrush(0);
    ASSERT_TRUE(FillRgn(page.dc, r, black));
    EXPECT_EQ(page.NotWhite(), 400u - 100u);
    EXPECT_EQ(page.At(20, 20), RGB(255, 255, 255)) << "the hole stays";
    ASSERT_TRUE(InvertRgn(page.dc, r));
    EXPECT_EQ(page.NotWhite(), 0u);
    // A frame 2 x 1 pixels round the ring: its outer and inner borders.
    ASSERT_TRUE(FrameRgn(page.dc, r, black, 2, 1));
    EXPECT_EQ(page.At(10, 20), RGB(0, 0, 0));
    EXPECT_EQ(page.At(11, 20), RGB(0, 0, 0));
    EXPECT_EQ(page.At(12, 20), RGB(255, 255, 255));
    EXPECT_EQ(page.At(14, 20), RGB(0, 0, 0)) << "the border of the hole";
    EXPECT_EQ(page.At(20, 10), RGB(0, 0, 0));
    EXPECT_EQ(page.At(20, 11), RGB(255, 255, 255));
    EXPECT_EQ(page.At(20, 20), RGB(255, 255, 255));
    EXPECT_FALSE(FrameRgn(page.dc, r, black, 0, 1));
    DeleteObject(black);
    DeleteObject(hole);
    DeleteObject(r);
}

// The ANSI calls draw what the wide calls draw with the converted text;
// advances given per byte apply per character.
TEST(AnsiText, DrawsAsTheWideCalls) {
    LOGFONTA la{};
    la.lfHeight = -20;
    std::strcpy(la.lfFaceName, "Liberation Sans");
    HFONT fa = CreateFontIndirectA(&la);
    LOGFONTW lw{};
    lw.lfHeight = -20;
    const char16_t face[] = u"Liberation Sans";
    std::copy(std::begin(face), std::end(face), lw.lfFaceName);
    HFONT fw = CreateFontIndirectW(&lw);
    {
        MemoryPage a(200, 40), w(200, 40);
        SelectObject(a.dc, fa);
        SelectObject(w.dc, fw);
        ASSERT_TRUE(TextOutA(a.dc, 5, 5, "Caf\xe9 Zel", 8));  // code page 1252
        ASSERT_TRUE(TextOutW(w.dc, 5, 5, reinterpret_cast<LPCWSTR>(u"Caf\u00e9 Zel"), 8));
        EXPECT_GT(a.NotWhite(), 0u);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 200; ++x) ASSERT_EQ(a.At(x, y), w.At(x, y)) << x << "," << y;
        SIZE sa{}, sw{};
        EXPECT_TRUE(GetTextExtentPoint32A(a.dc, "Caf\xe9 Zel", 8, &sa));
        EXPECT_TRUE(GetTextExtentPoint32W(w.dc, reinterpret_cast<LPCWSTR>(u"Caf\u00e9 Zel"), 8, &sw));
        EXPECT_EQ(sa.cx, sw.cx);
        EXPECT_EQ(sa.cy, sw.cy);
        EXPECT_FALSE(GetTextExtentPoint32A(a.dc, nullptr, 3, &sa));
    }  // the pages let go of the fonts
    DeleteObject(fa);
    DeleteObject(fw);
}

TEST(AnsiText, DoubleByteAdvancesAddUp) {
    zq::LocaleSettings japanese = zq::CurrentLocaleSettings();
    japanese.ansiCodePage = 932;
    zq::ScopedLocaleSettings locale(japanese);
    LOGFONTW lw{};
    lw.lfHeight = -20;
    const char16_t face[] = u"Liberation Sans";
    std::copy(std::begin(face), std::end(face), lw.lfFaceName);
    HFONT f = CreateFontIndirectW(&lw);
    {
        MemoryPage a(200, 40), w(200, 40);
        SelectObject(a.dc, f);
        SelectObject(w.dc, f);
        // "A", a double-byte character (U+3042), "B": four bytes, three characters.
        const char text[] =
            "A\x82\xa0"
            "B";
        const INT byteDx[] = {30, 20, 25, 10};
        ASSERT_TRUE(ExtTextOutA(a.dc, 5, 5, 0, nullptr, text, 4, byteDx));
        const INT charDx[] = {30, 45, 10};
        ASSERT_TRUE(ExtTextOutW(w.dc, 5, 5, 0, nullptr, reinterpret_cast<LPCWSTR>(u"A\u3042B"), 3, charDx));
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 200; ++x) ASSERT_EQ(a.At(x, y), w.At(x, y)) << x << "," << y;
    }
    DeleteObject(f);
}

}  // namespace
