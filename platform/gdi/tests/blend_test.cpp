// Gradient fills and transparent copies on a memory page.
#include <gtest/gtest.h>

#include "gdi/blend.h"
#include "test_support.h"

namespace {

int Red(COLORREF c) { return c & 0xFF; }
int Blue(COLORREF c) { return (c >> 16) & 0xFF; }

TEST(GradientFill, RectanglesRunFromTheFirstVertexToTheSecond) {
    MemoryPage page(120, 60);
    // Red at the left to blue at the right; given right to left too.
    TRIVERTEX v[4] = {{10, 10, 0xFF00, 0, 0, 0}, {110, 50, 0, 0, 0xFF00, 0}, {110, 10, 0xFF00, 0, 0, 0}, {10, 50, 0, 0, 0xFF00, 0}};
    GRADIENT_RECT across{0, 1};
    ASSERT_TRUE(GradientFill(page.dc, v, 4, &across, 1, GRADIENT_FILL_RECT_H));
    EXPECT_GT(Red(page.At(11, 30)), 240);
    EXPECT_LT(Blue(page.At(11, 30)), 15);
    EXPECT_GT(Blue(page.At(108, 30)), 240);
    int last = 256;
    for (int x = 10; x < 110; ++x) {  // red falls monotonically
        EXPECT_LE(Red(page.At(x, 30)), last) << x;
        last = Red(page.At(x, 30));
    }
    EXPECT_EQ(page.At(9, 30), RGB(255, 255, 255)) << "nothing outside";
    EXPECT_EQ(page.At(60, 50), RGB(255, 255, 255));
    MemoryPage back(120, 60);
    GRADIENT_RECT reversed{2, 3};  // upper right red, lower left blue
    ASSERT_TRUE(GradientFill(back.dc, v, 4, &reversed, 1, GRADIENT_FILL_RECT_H));
    EXPECT_GT(Red(back.At(108, 30)), 240) << "red stays at its vertex's side";
    EXPECT_GT(Blue(back.At(11, 30)), 240);
}

TEST(GradientFill, TrianglesInterpolateTheirCornersAndStayInside) {
    MemoryPage page(100, 100);
    TRIVERTEX v[3] = {{0, 0, 0xFF00, 0, 0, 0}, {99, 0, 0, 0xFF00, 0, 0}, {0, 99, 0, 0, 0xFF00, 0}};
    GRADIENT_TRIANGLE t{0, 1, 2};
    ASSERT_TRUE(GradientFill(page.dc, v, 3, &t, 1, GRADIENT_FILL_TRIANGLE));
    const COLORREF nearRed = page.At(2, 2), nearGreen = page.At(95, 2), nearBlue = page.At(2, 95);
    EXPECT_GT(Red(nearRed), 230);
    EXPECT_GT((nearGreen >> 8) & 0xFF, 230u);
    EXPECT_GT(Blue(nearBlue), 230);
    const COLORREF middle = page.At(33, 33);  // about a third of each
    EXPECT_NEAR(Red(middle), 85, 12);
    EXPECT_NEAR(Blue(middle), 85, 12);
    EXPECT_EQ(page.At(80, 80), RGB(255, 255, 255)) << "beyond the long side";
    // The scripted pages' rectangle as two triangles covers it whole.
    MemoryPage box(60, 40);
    TRIVERTEX q[4] = {{0, 0, 0xE000, 0xE000, 0xFF00, 0}, {0, 40, 0xB100, 0xB100, 0xDC00, 0},
                      {60, 40, 0xE000, 0xE000, 0xFF00, 0}, {60, 0, 0xFF00, 0xFF00, 0xFF00, 0}};
    GRADIENT_TRIANGLE two[2] = {{0, 1, 2}, {0, 2, 3}};
    ASSERT_TRUE(GradientFill(box.dc, q, 4, two, 2, GRADIENT_FILL_TRIANGLE));
    EXPECT_NEAR(Red(box.At(1, 38)), 177, 8);
    EXPECT_GT(Red(box.At(58, 1)), 240) << "towards the white corner";
    EXPECT_GT(box.NotWhite(), 60u * 40u * 9 / 10) << "no gap along the shared side";
}

TEST(GradientFill, ABadMeshDrawsNothing) {
    MemoryPage page(50, 50);
    TRIVERTEX v[2] = {{0, 0, 0, 0, 0, 0}, {50, 50, 0, 0, 0, 0}};
    GRADIENT_RECT r[2] = {{0, 1}, {0, 2}};  // the second names a vertex that is not there
    EXPECT_FALSE(GradientFill(page.dc, v, 2, r, 2, GRADIENT_FILL_RECT_V));
    EXPECT_EQ(page.NotWhite(), 0u);
    EXPECT_FALSE(GradientFill(page.dc, v, 2, r, 1, 7));
}

TEST(PlgBlt, AFourthCornerBeyondTheCoordinateRangeIsRefused) {
    MemoryPage src(8, 8), dst(40, 40);
    PatBlt(src.dc, 0, 0, 8, 8, BLACKNESS);
    // The fourth corner (second + third - first) lies past 2^31 on each axis
    // in turn; the corners given are all in range.
    const POINT cases[][3] = {{{-2000000000, 0}, {2000000000, 0}, {0, 10}},
                              {{0, -2000000000}, {10, 0}, {0, 2000000000}},
                              {{2000000000, 2000000000}, {-2000000000, 0}, {0, -2000000000}}};
    for (const auto& corners : cases) {
        SetLastError(0);
        EXPECT_FALSE(PlgBlt(dst.dc, corners, src.dc, 0, 0, 8, 8, nullptr, 0, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(dst.NotWhite(), 0u);
}

// A triangle or parallelogram reaching far past a small page is drawn from an
// image of the part on the page alone: the page's pixels must be those of the
// same drawing on a page large enough to hold it whole, where nothing is cut.
TEST(GradientFillAndPlgBlt, ShapesFarPastThePageDrawWhatLandsOnIt) {
    constexpr int kSmallW = 48, kSmallH = 64, kBig = 900, kAt = 400;  // the small page's place on the big one
    MemoryPage src(9, 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) SetPixelV(src.dc, x, y, RGB(x * 28, y * 36, (x + y) * 16));
    struct Case {
        const char* what;
        POINT p[3];  // triangle corners, or PlgBlt's three corners
        bool plg;
    } const cases[] = {
        {"triangle round the page", {{-380, -300}, {450, 20}, {-10, 480}}, false},
        {"triangle with a corner on the page", {{20, 30}, {-390, 460}, {470, -350}}, false},
        {"triangle past the page's right edge only", {{30, -200}, {480, 10}, {40, 300}}, false},
        {"parallelogram round the page", {{-350, -380}, {420, -300}, {-300, 420}}, true},
        {"parallelogram turned, a corner on the page", {{10, 20}, {430, 300}, {-330, 390}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryPage small(kSmallW, kSmallH), big(kBig, kBig);
        POINT moved[3];
        for (int i = 0; i < 3; ++i) moved[i] = {c.p[i].x + kAt, c.p[i].y + kAt};
        if (c.plg) {
            ASSERT_TRUE(PlgBlt(small.dc, c.p, src.dc, 0, 0, 9, 7, nullptr, 0, 0));
            ASSERT_TRUE(PlgBlt(big.dc, moved, src.dc, 0, 0, 9, 7, nullptr, 0, 0));
        } else {
            TRIVERTEX v[3], w[3];
            const COLOR16 colours[3][3] = {{0xFF00, 0x2000, 0}, {0, 0xC000, 0x4000}, {0x3000, 0, 0xFF00}};
            for (int i = 0; i < 3; ++i) {
                v[i] = {c.p[i].x, c.p[i].y, colours[i][0], colours[i][1], colours[i][2], 0};
                w[i] = {moved[i].x, moved[i].y, colours[i][0], colours[i][1], colours[i][2], 0};
            }
            GRADIENT_TRIANGLE t{0, 1, 2};
            ASSERT_TRUE(GradientFill(small.dc, v, 3, &t, 1, GRADIENT_FILL_TRIANGLE));
            ASSERT_TRUE(GradientFill(big.dc, w, 3, &t, 1, GRADIENT_FILL_TRIANGLE));
        }
        size_t differing = 0, drawn = 0;
        for (int y = 0; y < kSmallH; ++y)
            for (int x = 0; x < kSmallW; ++x) {
                differing += small.At(x, y) != big.At(x + kAt, y + kAt);
                drawn += small.At(x, y) != RGB(255, 255, 255);
            }
        EXPECT_EQ(differing, 0u);
        EXPECT_GT(drawn, 0u);
    }
}

// Blits whose destination or source rectangle reaches past the coordinate
// range are refused (the far corner was summed past what an int holds).
TEST(BitBlt, RectanglesPastTheCoordinateRangeAreRefused) {
    MemoryPage src(8, 8), dst(20, 20);
    PatBlt(src.dc, 0, 0, 8, 8, BLACKNESS);
    struct Case {
        int x, y, width, height, x1, y1, width1, height1;
    };
    const Case cases[] = {{INT32_MAX - 3, 0, 8, 8, 0, 0, 8, 8},  {0, INT32_MAX, 8, 8, 0, 0, 8, 8},
                          {INT32_MIN, 0, -8, 8, 0, 0, 8, 8},     {0, 0, 8, 8, INT32_MAX - 3, 0, 8, 8},
                          {0, 0, 8, 8, 0, INT32_MIN + 2, 8, -8}};
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(StretchBlt(dst.dc, c.x, c.y, c.width, c.height, src.dc, c.x1, c.y1, c.width1, c.height1, SRCCOPY));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    SetLastError(0);
    EXPECT_FALSE(PatBlt(dst.dc, 0, INT32_MAX - 1, 8, 8, BLACKNESS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(dst.NotWhite(), 0u);
    EXPECT_TRUE(BitBlt(dst.dc, 2, 2, 8, 8, src.dc, 0, 0, SRCCOPY)) << "an ordinary blit still draws";
    EXPECT_EQ(dst.NotWhite(), 64u);
}

// MaskBlt's destination and mask offsets at the ends of the coordinate range:
// a destination reaching past it is refused, a mask offset far away leaves
// every mask pixel outside the mask (0, the background operation).
TEST(MaskBlt, OffsetsAtTheEndsOfTheCoordinateRange) {
    MemoryPage src(8, 8), dst(20, 20);
    PatBlt(src.dc, 0, 0, 8, 8, BLACKNESS);
    HBITMAP mask = CreateBitmap(8, 8, 1, 1, nullptr);
    const DWORD copyWhereSetInvertElsewhere = 0x55u << 24 | 0xCCu << 16;  // background: invert; foreground: copy
    for (const POINT at : {POINT{0, INT32_MAX - 3}, POINT{INT32_MAX - 3, 0}, POINT{INT32_MAX, INT32_MAX}}) {
        SetLastError(0);
        EXPECT_FALSE(MaskBlt(dst.dc, at.x, at.y, 8, 8, src.dc, 0, 0, mask, 0, 0, copyWhereSetInvertElsewhere));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(dst.NotWhite(), 0u);
    ASSERT_TRUE(MaskBlt(dst.dc, 2, 2, 8, 8, src.dc, 0, 0, mask, INT32_MAX - 3, INT32_MAX - 3, copyWhereSetInvertElsewhere));
    EXPECT_EQ(dst.NotWhite(), 64u) << "the background operation (inverting) everywhere";
    DeleteObject(mask);
}

TEST(TransparentBlt, TheKeyColourLeavesTheDestination) {
    MemoryPage src(20, 10), dst(60, 30);
    // Source: magenta field with a blue square in the middle.
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255)), blue = CreateSolidBrush(RGB(0, 0, 255)),
           green = CreateSolidBrush(RGB(0, 160, 0));
    const RECT all{0, 0, 20, 10}, square{5, 2, 15, 8}, field{0, 0, 60, 30};
    FillRect(src.dc, &all, magenta);
    FillRect(src.dc, &square, blue);
    FillRect(dst.dc, &field, green);
    ASSERT_TRUE(TransparentBlt(dst.dc, 10, 5, 40, 20, src.dc, 0, 0, 20, 10, RGB(255, 0, 255)));
    EXPECT_EQ(dst.At(30, 15), RGB(0, 0, 255)) << "the square, stretched twice";
    EXPECT_EQ(dst.At(12, 7), RGB(0, 160, 0)) << "the key colour shows the destination";
    EXPECT_EQ(dst.At(5, 5), RGB(0, 160, 0)) << "outside";
    EXPECT_EQ(dst.At(21, 10), RGB(0, 0, 255));
    EXPECT_EQ(dst.At(19, 10), RGB(0, 160, 0));
    EXPECT_FALSE(TransparentBlt(dst.dc, 0, 0, 0, 10, src.dc, 0, 0, 20, 10, 0));
    DeleteObject(magenta);
    DeleteObject(blue);
    DeleteObject(green);
}

// Over a destination it can read, AlphaBlend mixes by the alpha: premultiplied
// per-pixel alpha, times the constant.
TEST(AlphaBlend, MixesTheSourceOverTheDestination) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, -1, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    uint32_t* bits = nullptr;
    HBITMAP src = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    ASSERT_NE(src, nullptr);
    bits[0] = 0x80000080;  // blue at half alpha, premultiplied
    bits[1] = 0x00000000;  // fully transparent
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, src);
    MemoryPage page(20, 10);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    const RECT all{0, 0, 20, 10};
    FillRect(page.dc, &all, red);
    ASSERT_TRUE(AlphaBlend(page.dc, 0, 0, 20, 10, mem, 0, 0, 2, 1, {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}));
    const COLORREF mixed = page.At(3, 5);
    EXPECT_NEAR(GetRValue(mixed), 127, 2);
    EXPECT_NEAR(GetBValue(mixed), 128, 2);
    EXPECT_EQ(page.At(15, 5), RGB(255, 0, 0)) << "transparent: the red stays";
    // A constant alpha alone: opaque blue at a quarter.
    FillRect(page.dc, &all, red);
    bits[0] = bits[1] = 0x000000FF;
    ASSERT_TRUE(AlphaBlend(page.dc, 0, 0, 20, 10, mem, 0, 0, 2, 1, {AC_SRC_OVER, 0, 64, 0}));
    EXPECT_NEAR(GetRValue(page.At(15, 5)), 191, 2);
    EXPECT_NEAR(GetBValue(page.At(15, 5)), 64, 2);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(src);
    DeleteObject(red);
}

}  // namespace
