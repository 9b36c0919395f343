// Drawing on windows, checked on the pixels of a 32-bit memory DC.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "user/draw.h"
#include "user/window.h"

namespace {

// A white 32-bit canvas with a 16-pixel sans-serif font selected.
class Canvas {
public:
    Canvas(int w, int h) : w_(w), h_(h) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        dc = CreateCompatibleDC(nullptr);
        oldBitmap_ = SelectObject(dc, bitmap_);
        Clear();
        LOGFONTW lf{};
        lf.lfHeight = -16;
        const char16_t face[] = u"Liberation Sans";
        std::copy(std::begin(face), std::end(face), lf.lfFaceName);
        font_ = CreateFontIndirectW(&lf);
        oldFont_ = SelectObject(dc, font_);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, 0);
    }
    ~Canvas() {
        SelectObject(dc, oldFont_);
        SelectObject(dc, oldBitmap_);
        DeleteDC(dc);
        DeleteObject(font_);
        DeleteObject(bitmap_);
    }
    void Clear() { std::memset(bits_, 0xFF, static_cast<size_t>(w_) * h_ * 4); }
    // As COLORREF (red in the low byte).
    COLORREF At(int x, int y) const {
        const uint32_t p = bits_[y * w_ + x];
        return ((p >> 16) & 0xFF) | (p & 0xFF00) | (p & 0xFF) << 16;
    }
    bool Ink(int x, int y) const { return At(x, y) != 0xFFFFFF; }
    // The box of everything not white; empty when nothing is drawn.
    RECT InkBox() const {
        RECT box{w_, h_, 0, 0};
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x)
                if (Ink(x, y)) box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                                      std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
        return box;
    }
    std::vector<uint32_t> Pixels() const { return {bits_, bits_ + static_cast<size_t>(w_) * h_}; }

    HDC dc = nullptr;

private:
    int w_, h_;
    uint32_t* bits_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HFONT font_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr, oldFont_ = nullptr;
};

int TextWidth(HDC dc, const std::u16string& s) {
    SIZE size{};
    GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(s.c_str()), static_cast<int>(s.size()), &size);
    return size.cx;
}

TEST(DrawText, CalcRectMeasuresWhatItWouldDraw) {
    Canvas c(300, 200);
    TEXTMETRICW tm{};
    GetTextMetricsW(c.dc, &tm);
    struct Case {
        const char* name;
        std::u16string text;
        UINT format;
        int boxWidth;
        int lines;
        std::u16string widest;  // the line whose width the rectangle takes
    } cases[] = {
        {"one line", u"Paper size", DT_SINGLELINE, 300, 1, u"Paper size"},
        {"prefix removed", u"&Paper size", DT_SINGLELINE, 300, 1, u"Paper size"},
        {"double ampersand", u"A && B", DT_SINGLELINE, 300, 1, u"A & B"},
        {"no prefix keeps it", u"&Paper", DT_SINGLELINE | DT_NOPREFIX, 300, 1, u"&Paper"},
        {"line ends", u"first\r\nsecond line\nthird", 0, 300, 3, u"second line"},
        {"single line ignores ends", u"first\nsecond", DT_SINGLELINE, 300, 1, u"first\nsecond"},
        {"word break", u"the quick brown fox", DT_WORDBREAK, 0, 4, u"brown"},
        {"a long word stands alone", u"a extraordinarily b", DT_WORDBREAK, 20, 3, u"extraordinarily"},
        {"tabs expand to eight", u"a\tb", DT_SINGLELINE | DT_EXPANDTABS, 300, 1, u"a       b"},
    };
    for (const auto& k : cases) {
        RECT r{10, 20, 10 + k.boxWidth, 20};
        if (k.boxWidth == 0) r.right = 10 + TextWidth(c.dc, u"brown") + 2;  // one word a line
        const int h = DrawTextW(c.dc, reinterpret_cast<LPCWSTR>(k.text.c_str()), -1, &r, k.format | DT_CALCRECT);
        EXPECT_EQ(h, k.lines * tm.tmHeight) << k.name;
        EXPECT_EQ(r.bottom - r.top, h) << k.name;
        EXPECT_EQ(r.right - r.left, TextWidth(c.dc, k.widest)) << k.name;
        EXPECT_EQ(c.InkBox().right, 0) << k.name << ": measuring draws nothing";
    }
}

TEST(DrawText, AlignmentPlacesTheInk) {
    Canvas c(300, 60);
    const std::u16string text = u"Tray";
    const int w = TextWidth(c.dc, text);
    struct Case {
        UINT format;
        int left;  // where the text's box starts
    } cases[] = {{DT_LEFT, 20}, {DT_CENTER, 20 + (260 - w) / 2}, {DT_RIGHT, 280 - w}};
    for (const auto& k : cases) {
        c.Clear();
        RECT r{20, 0, 280, 60};
        DrawTextW(c.dc, reinterpret_cast<LPCWSTR>(text.c_str()), -1, &r, k.format | DT_SINGLELINE | DT_VCENTER);
        const RECT ink = c.InkBox();
        EXPECT_GE(ink.left, k.left) << k.format;
        EXPECT_LE(ink.left, k.left + 3) << k.format;
        EXPECT_LE(ink.right, k.left + w + 1) << k.format;
        // Centred on the height.
        EXPECT_NEAR((ink.top + ink.bottom) / 2, 30, 4) << k.format;
    }
}

TEST(DrawText, ThePrefixLetterIsUnderlinedAndClipKeepsInside) {
    Canvas c(200, 40);
    TEXTMETRICW tm{};
    GetTextMetricsW(c.dc, &tm);
    RECT r{10, 5, 190, 5 + tm.tmHeight};
    DrawTextW(c.dc, reinterpret_cast<LPCWSTR>(u"&File"), -1, &r, DT_SINGLELINE);
    const int underlineY = 5 + tm.tmHeight - 1;
    const int fWidth = TextWidth(c.dc, u"F");
    // Under "F" the line is solid; under the "ile" that follows, no line.
    for (int x = 11; x < 10 + fWidth - 1; ++x) EXPECT_TRUE(c.Ink(x, underlineY)) << x;
    EXPECT_FALSE(c.Ink(10 + fWidth + TextWidth(c.dc, u"il") / 2 + 2, underlineY));
    // DT_HIDEPREFIX: the same text without the line.
    c.Clear();
    DrawTextW(c.dc, reinterpret_cast<LPCWSTR>(u"&File"), -1, &r, DT_SINGLELINE | DT_HIDEPREFIX);
    EXPECT_FALSE(c.Ink(10 + fWidth / 2, underlineY));
    // Text wider than its rectangle is cut at the rectangle unless DT_NOCLIP.
    c.Clear();
    RECT narrow{10, 5, 30, 35};
    DrawTextW(c.dc, reinterpret_cast<LPCWSTR>(u"Letter Legal A4"), -1, &narrow, DT_SINGLELINE);
    EXPECT_LE(c.InkBox().right, 30);
    c.Clear();
    DrawTextW(c.dc, reinterpret_cast<LPCWSTR>(u"Letter Legal A4"), -1, &narrow, DT_SINGLELINE | DT_NOCLIP);
    EXPECT_GT(c.InkBox().right, 60);
}

TEST(DrawText, AnsiTextDrawsAsItsWideForm) {
    Canvas wide(200, 40), narrow(200, 40);
    RECT a{0, 0, 200, 40}, b = a;
    DrawTextW(wide.dc, reinterpret_cast<LPCWSTR>(u"Caf\u00e9 &Options"), -1, &a, DT_SINGLELINE);
    DrawTextA(narrow.dc, "Caf\xe9 &Options", -1, &b, DT_SINGLELINE);  // code page 1252
    EXPECT_EQ(wide.Pixels(), narrow.Pixels());
    EXPECT_EQ(DrawTextW(nullptr, reinterpret_cast<LPCWSTR>(u"x"), -1, &a, 0), 0);
    EXPECT_EQ(DrawTextW(wide.dc, reinterpret_cast<LPCWSTR>(u"x"), -1, nullptr, 0), 0);
}

TEST(DrawEdge, BordersTakeTheirSystemColours) {
    struct Case {
        UINT edge;
        int outerTopLeft, outerBottomRight, innerTopLeft, innerBottomRight;
    } cases[] = {
        {EDGE_RAISED, COLOR_3DLIGHT, COLOR_3DDKSHADOW, COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW},
        {EDGE_SUNKEN, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT, COLOR_3DDKSHADOW, COLOR_3DLIGHT},
        {EDGE_ETCHED, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT, COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW},
        {EDGE_BUMP, COLOR_3DLIGHT, COLOR_3DDKSHADOW, COLOR_3DDKSHADOW, COLOR_3DLIGHT},
    };
    for (const auto& k : cases) {
        Canvas c(40, 30);
        RECT r{5, 5, 35, 25};
        EXPECT_TRUE(DrawEdge(c.dc, &r, k.edge, BF_RECT | BF_ADJUST | BF_MIDDLE));
        EXPECT_EQ(c.At(5, 15), GetSysColor(k.outerTopLeft)) << k.edge;
        EXPECT_EQ(c.At(20, 5), GetSysColor(k.outerTopLeft)) << k.edge;
        EXPECT_EQ(c.At(34, 15), GetSysColor(k.outerBottomRight)) << k.edge;
        EXPECT_EQ(c.At(20, 24), GetSysColor(k.outerBottomRight)) << k.edge;
        EXPECT_EQ(c.At(6, 15), GetSysColor(k.innerTopLeft)) << k.edge;
        EXPECT_EQ(c.At(33, 15), GetSysColor(k.innerBottomRight)) << k.edge;
        EXPECT_EQ(c.At(20, 15), GetSysColor(COLOR_BTNFACE)) << k.edge << ": the middle";
        EXPECT_EQ(r.left, 7) << "what the edge leaves";
        EXPECT_EQ(r.bottom, 23);
        EXPECT_TRUE(c.Ink(5, 5));
        EXPECT_FALSE(c.Ink(4, 4)) << "nothing outside";
    }
    // Only the sides asked for.
    Canvas c(40, 30);
    RECT r{5, 5, 35, 25};
    DrawEdge(c.dc, &r, EDGE_SUNKEN, BF_BOTTOM);
    EXPECT_FALSE(c.Ink(5, 15));
    EXPECT_EQ(c.At(20, 24), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(c.At(20, 23), GetSysColor(COLOR_3DLIGHT));
    EXPECT_EQ(r.left, 5) << "no BF_ADJUST, no change";
}

TEST(DrawFocusRect, DrawnTwiceItIsGone) {
    Canvas c(40, 30);
    RECT box{3, 3, 30, 20};
    HBRUSH grey = CreateSolidBrush(0xC0C0C0);
    FillRect(c.dc, &box, grey);
    const auto before = c.Pixels();
    RECT r{5, 5, 25, 15};
    ASSERT_TRUE(DrawFocusRect(c.dc, &r));
    EXPECT_EQ(c.At(5, 5), 0x3F3F3Fu) << "grey inverted";
    EXPECT_EQ(c.At(6, 5), 0xC0C0C0u) << "every other pixel";
    EXPECT_EQ(c.At(24, 14), 0xC0C0C0u);
    EXPECT_NE(c.Pixels(), before);
    DrawFocusRect(c.dc, &r);
    EXPECT_EQ(c.Pixels(), before);
    // FrameRect: the border only; InvertRect twice is nothing.
    FrameRect(c.dc, &r, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(c.At(5, 10), 0u);
    EXPECT_EQ(c.At(24, 10), 0u);
    EXPECT_EQ(c.At(15, 10), 0xC0C0C0u);
    const auto framed = c.Pixels();
    InvertRect(c.dc, &r);
    EXPECT_EQ(c.At(15, 10), 0x3F3F3Fu);
    InvertRect(c.dc, &r);
    EXPECT_EQ(c.Pixels(), framed);
    DeleteObject(grey);
}

TEST(DrawFrameControl, StatesShowOnTheControl) {
    auto inkInside = [](UINT type, UINT state) {
        Canvas c(20, 20);
        RECT r{2, 2, 15, 15};
        EXPECT_TRUE(DrawFrameControl(c.dc, &r, type, state));
        // Pixels in the middle 5 x 5 that are neither white nor the face.
        int n = 0;
        for (int y = 6; y < 11; ++y)
            for (int x = 6; x < 11; ++x)
                if (c.At(x, y) != 0xFFFFFF && c.At(x, y) != GetSysColor(COLOR_BTNFACE)) ++n;
        return n;
    };
    EXPECT_EQ(inkInside(DFC_BUTTON, DFCS_BUTTONCHECK), 0);
    EXPECT_GT(inkInside(DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_CHECKED), 4);
    EXPECT_EQ(inkInside(DFC_BUTTON, DFCS_BUTTONRADIO), 0);
    EXPECT_GT(inkInside(DFC_BUTTON, DFCS_BUTTONRADIO | DFCS_CHECKED), 4);
    EXPECT_GT(inkInside(DFC_SCROLL, DFCS_SCROLLDOWN), 4);
    EXPECT_GT(inkInside(DFC_CAPTION, DFCS_CAPTIONCLOSE), 4);
    Canvas c(20, 20);
    RECT r{0, 0, 10, 10};
    EXPECT_FALSE(DrawFrameControl(c.dc, &r, 99, 0));
}

TEST(DrawState, DisabledTextIsEmbossed) {
    Canvas normal(120, 30), disabled(120, 30);
    const LPARAM text = reinterpret_cast<LPARAM>(u"Duplex");
    ASSERT_TRUE(DrawStateW(normal.dc, nullptr, nullptr, text, 0, 5, 5, 0, 0, DST_TEXT));
    ASSERT_TRUE(DrawStateW(disabled.dc, nullptr, nullptr, text, 0, 5, 5, 0, 0,
                           DST_TEXT | DSS_DISABLED));
    // On white the highlight copy does not show; the shadow copy does.
    bool shadow = false;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 120; ++x) shadow |= disabled.At(x, y) == GetSysColor(COLOR_BTNSHADOW);
    EXPECT_TRUE(shadow);
    EXPECT_NE(normal.Pixels(), disabled.Pixels());
    const RECT a = normal.InkBox(), b = disabled.InkBox();
    EXPECT_EQ(a.left, b.left);
    EXPECT_LE(b.right - a.right, 1) << "the embossed copy is one pixel off";
    // A bitmap needs its size; a callback is not supported.
    EXPECT_FALSE(DrawStateW(normal.dc, nullptr, nullptr, 0, 0, 0, 0, 0, 0, DST_BITMAP));
    EXPECT_FALSE(DrawStateW(normal.dc, nullptr, reinterpret_cast<void*>(1), text, 0, 0, 0, 0, 0, DST_TEXT));
}

}  // namespace
