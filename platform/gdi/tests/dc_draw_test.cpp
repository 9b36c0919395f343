// The DC calls of vector drawing and text on a memory DC: shapes with pens
// and brushes, paths and clip paths, mapping modes and world transforms,
// SaveDC/RestoreDC, text extents and font enumeration.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "gdi/dc_draw.h"

namespace {

using zq::gdi::DeviceContext;

class MemoryDc : public ::testing::Test {
protected:
    void SetUp() override {
        dc = CreateCompatibleDC(nullptr);
        ASSERT_TRUE(dc);
        bmp = CreateBitmap(100, 100, 1, 24, nullptr);
        ASSERT_TRUE(bmp);
        SelectObject(dc, bmp);
        PatBlt(dc, 0, 0, 100, 100, WHITENESS);
    }
    void TearDown() override {
        DeleteDC(dc);
        DeleteObject(bmp);
    }
    // Pixels of one colour (COLORREF).
    size_t Count(COLORREF c) {
        auto* d = DeviceContext::FromHandle(dc);
        const zq::gdi::Surface* s = d->bitmap->bitmap->Get();
        ULONG want = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
        size_t n = 0;
        for (LONG y = 0; y < 100; ++y)
            for (LONG x = 0; x < 100; ++x) n += s->Pixel(x, y) == want;
        return n;
    }
    COLORREF At(int x, int y) {
        auto* d = DeviceContext::FromHandle(dc);
        ULONG v = d->bitmap->bitmap->Get()->Pixel(x, y);
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
};

constexpr COLORREF kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255);

TEST_F(MemoryDc, RectangleFillsInsideItsOutline) {
    HPEN pen = CreatePen(PS_SOLID, 0, kBlue);
    HBRUSH brush = CreateSolidBrush(kRed);
    SelectObject(dc, pen);
    SelectObject(dc, brush);
    ASSERT_TRUE(Rectangle(dc, 10, 10, 30, 40));
    // The figure spans 10..29 by 10..39: a one-pixel outline, red inside.
    EXPECT_EQ(Count(kBlue), 2u * 20 + 2u * 28);
    EXPECT_EQ(Count(kRed), 18u * 28);
    EXPECT_EQ(At(30, 20), RGB(255, 255, 255));
    // A null pen leaves the fill only; a null brush the outline only.
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    SelectObject(dc, zq::gdi::StockDrawObject(BLACK_PEN)->Handle());
    ASSERT_TRUE(Ellipse(dc, 50, 50, 90, 90));
    size_t ring = Count(RGB(0, 0, 0));
    EXPECT_GT(ring, 100u);
    EXPECT_LT(ring, 160u);  // about the circumference, 40 x pi
    EXPECT_EQ(At(70, 70), RGB(255, 255, 255));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(brush);
    SelectObject(dc, zq::gdi::StockDrawObject(BLACK_PEN)->Handle());
    DeleteObject(pen);
}

TEST_F(MemoryDc, PathsFillRulesAndClipPaths) {
    SelectObject(dc, GetStockObject(NULL_PEN));
    HBRUSH brush = CreateSolidBrush(kRed);
    SelectObject(dc, brush);
    // Two squares the same way round: winding fills the hole.
    const POINT outer[] = {{0, 0}, {40, 0}, {40, 40}, {0, 40}}, inner[] = {{10, 10}, {30, 10}, {30, 30}, {10, 30}};
    ASSERT_TRUE(BeginPath(dc));
    Polygon(dc, outer, 4);
    Polygon(dc, inner, 4);
    ASSERT_TRUE(EndPath(dc));
    SetPolyFillMode(dc, WINDING);
    ASSERT_TRUE(FillPath(dc));
    EXPECT_EQ(Count(kRed), 1600u);
    EXPECT_FALSE(FillPath(dc));  // the path was used up
    PatBlt(dc, 0, 0, 100, 100, WHITENESS);
    ASSERT_TRUE(BeginPath(dc));
    Polygon(dc, outer, 4);
    Polygon(dc, inner, 4);
    EndPath(dc);
    SetPolyFillMode(dc, ALTERNATE);
    FillPath(dc);
    EXPECT_EQ(Count(kRed), 1600u - 400u);

    // A clip path limits later drawing, and RestoreDC takes it back.
    PatBlt(dc, 0, 0, 100, 100, WHITENESS);
    int saved = SaveDC(dc);
    ASSERT_EQ(saved, 1);
    BeginPath(dc);
    Ellipse(dc, 0, 0, 100, 100);
    EndPath(dc);
    ASSERT_TRUE(SelectClipPath(dc, RGN_COPY));
    PatBlt(dc, 0, 0, 100, 100, PATCOPY);
    size_t disc = Count(kRed);
    EXPECT_NEAR(static_cast<double>(disc), 3.14159 * 50 * 50, 150.0);
    ASSERT_TRUE(RestoreDC(dc, -1));
    PatBlt(dc, 0, 0, 100, 100, PATCOPY);
    EXPECT_EQ(Count(kRed), 10000u);
    EXPECT_FALSE(RestoreDC(dc, 1));  // nothing saved any more
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(brush);
}

TEST_F(MemoryDc, MappingModesAndWorldTransforms) {
    // MM_LOMETRIC at 96 dpi: 254 units an inch, y up.
    SetMapMode(dc, MM_LOMETRIC);
    POINT p{254, -254};
    ASSERT_TRUE(LPtoDP(dc, &p, 1));
    EXPECT_EQ(p.x, 96);
    EXPECT_EQ(p.y, 96);
    ASSERT_TRUE(DPtoLP(dc, &p, 1));
    EXPECT_EQ(p.x, 254);
    EXPECT_EQ(p.y, -254);
    // Anisotropic: the window maps onto the viewport.
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowExtEx(dc, 1000, 1000, nullptr);
    SetViewportExtEx(dc, 100, 50, nullptr);
    SetViewportOrgEx(dc, 10, 10, nullptr);
    POINT q{500, 500};
    LPtoDP(dc, &q, 1);
    EXPECT_EQ(q.x, 60);
    EXPECT_EQ(q.y, 35);
    EXPECT_FALSE(SetWindowExtEx(dc, 0, 10, nullptr));
    SetMapMode(dc, MM_TEXT);
    SetViewportOrgEx(dc, 0, 0, nullptr);
    // A world transform needs the advanced mode, and scales drawing.
    XFORM twice{2, 0, 0, 2, 5, 0};
    EXPECT_FALSE(SetWorldTransform(dc, &twice));
    SetGraphicsMode(dc, GM_ADVANCED);
    ASSERT_TRUE(SetWorldTransform(dc, &twice));
    SelectObject(dc, GetStockObject(NULL_PEN));
    HBRUSH brush = CreateSolidBrush(kBlue);
    SelectObject(dc, brush);
    Rectangle(dc, 0, 0, 10, 10);
    EXPECT_EQ(Count(kBlue), 400u);
    EXPECT_EQ(At(5, 0), kBlue);
    EXPECT_EQ(At(4, 0), RGB(255, 255, 255));
    XFORM singular{1, 1, 1, 1, 0, 0};
    EXPECT_FALSE(SetWorldTransform(dc, &singular));
    ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(brush);
}

// The bit-block and clip calls take logical coordinates like the drawing
// calls: each drawn under a world transform lands where the same call in
// device pixels lands on an untransformed DC.
TEST_F(MemoryDc, BitCallsAndClipRectanglesFollowTheTransform) {
    HDC source = CreateCompatibleDC(nullptr);
    HBITMAP sourceBits = CreateBitmap(10, 10, 1, 24, nullptr);
    SelectObject(source, sourceBits);
    HBRUSH red = CreateSolidBrush(kRed);
    FillRect(source, std::data({RECT{0, 0, 10, 10}}), red);
    HBRUSH blue = CreateSolidBrush(kBlue);
    SelectObject(source, blue);
    PatBlt(source, 2, 2, 4, 7, PATCOPY);
    BYTE dibBytes[sizeof(BITMAPINFOHEADER) + 16] = {};
    auto* dib = reinterpret_cast<BITMAPINFO*>(dibBytes);
    dib->bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const BYTE pixels[16] = {0, 0, 255, 255, 0, 0, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0};
    // Logical (4, 5)-(14, 20) is device (11, 15)-(31, 45) under x2 and (3, 5).
    const XFORM world{2, 0, 0, 2, 3, 5};
    struct Case {
        const char* call;
        std::function<void(HDC, RECT)> draw;  // draws into the rectangle given
    };
    const Case cases[] = {
        {"PatBlt", [](HDC h, RECT r) { PatBlt(h, r.left, r.top, r.right - r.left, r.bottom - r.top, BLACKNESS); }},
        {"FillRect", [&](HDC h, RECT r) { FillRect(h, &r, red); }},
        {"BitBlt", [&](HDC h, RECT r) {
             // Under the transform the same call stretches; the check draws
             // the stretch in device pixels.
             if (r.right - r.left == 10) BitBlt(h, r.left, r.top, 10, 15, source, 0, 0, SRCCOPY);
             else StretchBlt(h, r.left, r.top, r.right - r.left, r.bottom - r.top, source, 0, 0, 10, 15, SRCCOPY);
         }},
        {"StretchBlt", [&](HDC h, RECT r) {
             StretchBlt(h, r.left, r.top, r.right - r.left, r.bottom - r.top, source, 1, 1, 5, 5, SRCCOPY);
         }},
        {"StretchDIBits", [&](HDC h, RECT r) {
             StretchDIBits(h, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, 2, 2, pixels, dib,
                           DIB_RGB_COLORS, SRCCOPY);
         }},
        {"IntersectClipRect", [](HDC h, RECT r) {
             IntersectClipRect(h, r.left, r.top, r.right, r.bottom);
             SetGraphicsMode(h, GM_ADVANCED);
             ModifyWorldTransform(h, nullptr, MWT_IDENTITY);
             PatBlt(h, 0, 0, 100, 100, BLACKNESS);
         }},
        {"ExcludeClipRect", [](HDC h, RECT r) {
             ExcludeClipRect(h, r.left, r.top, r.right, r.bottom);
             SetGraphicsMode(h, GM_ADVANCED);
             ModifyWorldTransform(h, nullptr, MWT_IDENTITY);
             PatBlt(h, 0, 0, 100, 100, BLACKNESS);
         }},
    };
    HDC expected = CreateCompatibleDC(nullptr);
    HBITMAP expectedBits = CreateBitmap(100, 100, 1, 24, nullptr);
    SelectObject(expected, expectedBits);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        for (HDC h : {dc, expected}) {
            SelectClipRgn(h, nullptr);
            ModifyWorldTransform(h, nullptr, MWT_IDENTITY);
            PatBlt(h, 0, 0, 100, 100, WHITENESS);
        }
        SetGraphicsMode(dc, GM_ADVANCED);
        ASSERT_TRUE(SetWorldTransform(dc, &world));
        c.draw(dc, RECT{4, 5, 14, 20});
        c.draw(expected, RECT{11, 15, 31, 45});
        const zq::gdi::Surface* got = DeviceContext::FromHandle(dc)->bitmap->bitmap->Get();
        const zq::gdi::Surface* want = DeviceContext::FromHandle(expected)->bitmap->bitmap->Get();
        size_t differ = 0, drawn = 0;
        for (LONG y = 0; y < 100; ++y)
            for (LONG x = 0; x < 100; ++x) {
                differ += got->Pixel(x, y) != want->Pixel(x, y);
                drawn += want->Pixel(x, y) != 0xFFFFFF;
            }
        EXPECT_EQ(differ, 0u);
        EXPECT_GT(drawn, 0u);
    }
    SelectClipRgn(dc, nullptr);
    ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
    DeleteDC(expected);
    DeleteObject(expectedBits);
    DeleteDC(source);
    DeleteObject(sourceBits);
    DeleteObject(red);
    DeleteObject(blue);
}

// Stock pens and fonts, and what a memory DC says about its resolution.
TEST_F(MemoryDc, StockObjectsAndScreenResolution) {
    struct Case {
        int index;
        bool pen, font;
    };
    const Case cases[] = {{WHITE_BRUSH, false, false}, {NULL_BRUSH, false, false}, {WHITE_PEN, true, false},
                          {BLACK_PEN, true, false},    {NULL_PEN, true, false},    {OEM_FIXED_FONT, false, true},
                          {ANSI_FIXED_FONT, false, true}, {ANSI_VAR_FONT, false, true}, {SYSTEM_FONT, false, true},
                          {DEVICE_DEFAULT_FONT, false, true}, {SYSTEM_FIXED_FONT, false, true},
                          {DEFAULT_GUI_FONT, false, true}};
    for (const Case& c : cases) {
        HGDIOBJ o = GetStockObject(c.index);
        ASSERT_NE(o, nullptr) << c.index;
        EXPECT_EQ(zq::gdi::ObjectAs<zq::gdi::PenObject>(o) != nullptr, c.pen) << c.index;
        EXPECT_EQ(zq::gdi::ObjectAs<zq::gdi::FontObject>(o) != nullptr, c.font) << c.index;
        EXPECT_EQ(GetStockObject(c.index), o) << c.index;  // one object each
        DeleteObject(o);  // stock objects stay
        EXPECT_EQ(zq::gdi::ObjectFromHandle(o), o) << c.index;
    }
    for (int unused : {9, 15, 18, -1}) EXPECT_EQ(GetStockObject(unused), nullptr) << unused;
    // The stock pen draws once selected.
    SelectObject(dc, GetStockObject(BLACK_PEN));
    MoveToEx(dc, 0, 50, nullptr);
    LineTo(dc, 100, 50);
    EXPECT_EQ(Count(RGB(0, 0, 0)), 100u);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 96);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 96);
}

// Objects still selected when their DC is deleted, now or in a saved
// state, can be deleted afterwards.
TEST(DeleteDc, ReleasesSelectedPensFontsAndBrushes) {
    HDC dc = CreateCompatibleDC(nullptr);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed), savedPen = CreatePen(PS_DASH, 1, kBlue);
    LOGFONTW lf{};
    lf.lfHeight = -12;
    HFONT font = CreateFontIndirectW(&lf);
    HBRUSH savedBrush = CreateSolidBrush(kBlue);
    SelectObject(dc, savedPen);
    SelectObject(dc, savedBrush);
    ASSERT_GT(SaveDC(dc), 0);
    SelectObject(dc, pen);
    SelectObject(dc, font);
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    EXPECT_FALSE(DeleteObject(pen));  // still selected
    ASSERT_TRUE(DeleteDC(dc));
    for (HGDIOBJ o : {HGDIOBJ(pen), HGDIOBJ(savedPen), HGDIOBJ(font), HGDIOBJ(savedBrush)}) {
        EXPECT_TRUE(DeleteObject(o));
        EXPECT_EQ(zq::gdi::ObjectFromHandle(o), nullptr);
    }
}

TEST_F(MemoryDc, WideAndDashedPens) {
    LOGBRUSH lb{BS_SOLID, kBlue, 0};
    HPEN wide = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT, 6, &lb, 0, nullptr);
    ASSERT_TRUE(wide);
    SelectObject(dc, wide);
    MoveToEx(dc, 10, 20, nullptr);
    LineTo(dc, 60, 20);
    EXPECT_EQ(Count(kBlue), 50u * 6);
    const DWORD dashes[] = {5, 5};
    HPEN user = ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT, 2, &lb, 2, dashes);
    ASSERT_TRUE(user);
    EXPECT_EQ(ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE, 2, &lb, 0, nullptr), nullptr);
    SelectObject(dc, user);
    PatBlt(dc, 0, 0, 100, 100, WHITENESS);
    MoveToEx(dc, 0, 50, nullptr);
    LineTo(dc, 100, 50);
    EXPECT_EQ(Count(kBlue), 50u * 2);
    SelectObject(dc, zq::gdi::StockDrawObject(BLACK_PEN)->Handle());
    DeleteObject(wide);
    DeleteObject(user);
}

TEST_F(MemoryDc, TextExtentsAlignmentAndEnumeration) {
    LOGFONTW lf{};
    lf.lfHeight = -20;
    lf.lfWeight = FW_NORMAL;
    const char16_t face[] = u"Liberation Sans";
    std::copy(std::begin(face), std::end(face), lf.lfFaceName);
    HFONT font = CreateFontIndirectW(&lf);
    SelectObject(dc, font);
    SIZE one{}, two{};
    ASSERT_TRUE(GetTextExtentPoint32W(dc, u"Hello", 5, &one));
    EXPECT_GT(one.cx, 30);
    EXPECT_LT(one.cx, 60);
    SetTextCharacterExtra(dc, 3);
    GetTextExtentPoint32W(dc, u"Hello", 5, &two);
    EXPECT_EQ(two.cx, one.cx + 15);
    SetTextCharacterExtra(dc, 0);
    TEXTMETRICW tm{};
    ASSERT_TRUE(GetTextMetricsW(dc, &tm));
    EXPECT_EQ(one.cy, tm.tmHeight);

    // Text drawn with TA_TOP starts its ink below y; with TA_BOTTOM above it.
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kRed);
    ASSERT_TRUE(TextOutW(dc, 10, 10, u"H", 1));
    size_t ink = Count(kRed);
    EXPECT_GT(ink, 20u);
    bool above = false;
    for (int x = 0; x < 100; ++x) above |= At(x, 9) == kRed;
    EXPECT_FALSE(above);
    PatBlt(dc, 0, 0, 100, 100, WHITENESS);
    SetTextAlign(dc, TA_BOTTOM | TA_RIGHT);
    TextOutW(dc, 90, 90, u"H", 1);
    EXPECT_EQ(Count(kRed), ink);
    bool below = false;
    for (int x = 0; x < 100; ++x) below |= At(x, 91) == kRed;
    EXPECT_FALSE(below);
    // An opaque background fills the text cell with the background colour.
    PatBlt(dc, 0, 0, 100, 100, WHITENESS);
    SetTextAlign(dc, TA_TOP | TA_LEFT);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, kBlue);
    TextOutW(dc, 0, 0, u"H", 1);
    EXPECT_GT(Count(kBlue), 100u);

    std::set<std::u16string> names;
    EnumFontFamiliesW(dc, nullptr, [](const LOGFONTW* lf, const TEXTMETRICW*, DWORD type, LPARAM p) {
        if (type & TRUETYPE_FONTTYPE) reinterpret_cast<std::set<std::u16string>*>(p)->insert(lf->lfFaceName);
        return 1;
    }, reinterpret_cast<LPARAM>(&names));
    EXPECT_TRUE(names.count(u"Liberation Serif"));
    EXPECT_TRUE(names.count(u"DejaVu Sans"));
    int calls = 0;
    EnumFontFamiliesW(dc, nullptr, [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM p) {
        ++*reinterpret_cast<int*>(p);
        return 0;  // stop at once
    }, reinterpret_cast<LPARAM>(&calls));
    EXPECT_EQ(calls, 1);
    SelectObject(dc, zq::gdi::StockDrawObject(SYSTEM_FONT)->Handle());
    DeleteObject(font);
}

}  // namespace
