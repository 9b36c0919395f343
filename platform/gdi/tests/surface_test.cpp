// Engine bitmaps, palettes and colour translation.
#include <gtest/gtest.h>

#include "base/error.h"
#include "gdi/engine.h"

using namespace zq::gdi;

namespace {

struct FormatCase {
    ULONG format;
    LONG width;
    LONG stride;
};

class BitmapFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(BitmapFormats, RowsArePaddedTo32BitsInBothDirections) {
    const auto c = GetParam();
    for (FLONG fl : {FLONG(0), BMF_TOPDOWN}) {
        HBITMAP h = EngCreateBitmap({c.width, 3}, 0, c.format, fl, nullptr);
        ASSERT_NE(h, nullptr);
        SURFOBJ* so = EngLockSurface(reinterpret_cast<HSURF>(h));
        ASSERT_NE(so, nullptr);
        EXPECT_EQ(so->iType, STYPE_BITMAP);
        EXPECT_EQ(so->cjBits, ULONG(c.stride * 3));
        BYTE* bits = static_cast<BYTE*>(so->pvBits);
        if (fl & BMF_TOPDOWN) {
            EXPECT_EQ(so->lDelta, c.stride);
            EXPECT_EQ(so->pvScan0, so->pvBits);
        } else {
            // The top row is stored last.
            EXPECT_EQ(so->lDelta, -c.stride);
            EXPECT_EQ(so->pvScan0, bits + 2 * c.stride);
        }
        EngUnlockSurface(so);
        EXPECT_TRUE(EngDeleteSurface(reinterpret_cast<HSURF>(h)));
    }
}

INSTANTIATE_TEST_SUITE_P(All, BitmapFormats,
                         ::testing::Values(FormatCase{BMF_1BPP, 33, 8}, FormatCase{BMF_4BPP, 9, 8},
                                           FormatCase{BMF_8BPP, 5, 8}, FormatCase{BMF_16BPP, 3, 8},
                                           FormatCase{BMF_24BPP, 5, 16}, FormatCase{BMF_32BPP, 3, 12}));

TEST(Bitmaps, BadArgumentsAreRefused) {
    SetLastError(0);
    EXPECT_EQ(EngCreateBitmap({0, 5}, 0, BMF_8BPP, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(EngCreateBitmap({5, 5}, 0, BMF_JPEG, 0, nullptr), nullptr);
    EXPECT_EQ(EngCreateBitmap({40, 5}, 2, BMF_8BPP, 0, nullptr), nullptr);  // stride below the row
    EXPECT_FALSE(EngDeleteSurface(reinterpret_cast<HSURF>(0x1234)));
    EXPECT_EQ(EngLockSurface(nullptr), nullptr);
}

TEST(Bitmaps, UserMemoryIsUsedInPlace) {
    std::vector<BYTE> mem(8 * 4, 0);
    HBITMAP h = EngCreateBitmap({2, 4}, 8, BMF_24BPP, BMF_TOPDOWN, mem.data());
    SURFOBJ* so = EngLockSurface(reinterpret_cast<HSURF>(h));
    RECTL r{1, 2, 2, 3};
    EXPECT_TRUE(EngEraseSurface(so, &r, 0xABCDEF));
    EXPECT_EQ(mem[2 * 8 + 3], 0xEF);
    EXPECT_EQ(mem[2 * 8 + 5], 0xAB);
    EXPECT_EQ(mem[2 * 8 + 0], 0);
    EngUnlockSurface(so);
    EngDeleteSurface(reinterpret_cast<HSURF>(h));
}

TEST(Bitmaps, EraseClipsToTheSurface) {
    Bitmap b(10, 2, BMF_1BPP);
    RECTL r{-5, -5, 100, 1};
    EXPECT_TRUE(EngEraseSurface(b.Object(), &r, 1));
    for (LONG x = 0; x < 10; ++x) {
        EXPECT_EQ(b.Get()->Pixel(x, 0), 1u);
        EXPECT_EQ(b.Get()->Pixel(x, 1), 0u);
    }
}

TEST(Palettes, IndexedAndRgbTranslate) {
    ULONG mono[2] = {0x000000, 0xFFFFFF};
    HPALETTE hMono = EngCreatePalette(PAL_INDEXED, 2, mono, 0, 0, 0);
    HPALETTE hRgb = EngCreatePalette(PAL_RGB, 0, nullptr, 0, 0, 0);
    ASSERT_NE(hMono, nullptr);
    ASSERT_NE(hRgb, nullptr);
    Palette* m = PaletteFromHandle(hMono);
    Palette* rgb = PaletteFromHandle(hRgb);
    EngineXlate toRgb(*m, *rgb);
    EXPECT_EQ(XLATEOBJ_iXlate(&toRgb, 0), 0x000000u);
    EXPECT_EQ(XLATEOBJ_iXlate(&toRgb, 1), 0xFFFFFFu);
    EXPECT_TRUE(toRgb.flXlate & XO_TABLE);
    ULONG entries[2] = {};
    EXPECT_EQ(XLATEOBJ_cGetPalette(&toRgb, XO_SRCPALETTE, 2, entries), 2u);
    EXPECT_EQ(entries[1], 0xFFFFFFu);

    EngineXlate toMono(*rgb, *m);
    EXPECT_EQ(XLATEOBJ_iXlate(&toMono, RGB(200, 220, 210)), 1u);
    EXPECT_EQ(XLATEOBJ_iXlate(&toMono, RGB(30, 10, 40)), 0u);

    // RGB keeps red in the low byte; BGR in the high byte.
    Palette bgr;
    bgr.mode = PAL_BGR;
    EngineXlate rgbToBgr(*rgb, bgr);
    EXPECT_EQ(XLATEOBJ_iXlate(&rgbToBgr, 0x0000FF), 0xFF0000u);

    EXPECT_TRUE(EngDeletePalette(hMono));
    EXPECT_TRUE(EngDeletePalette(hRgb));
    EXPECT_FALSE(EngDeletePalette(hRgb));
}

TEST(Palettes, BitFieldsScaleToFullRange) {
    HPALETTE h = EngCreatePalette(PAL_BITFIELDS, 0, nullptr, 0xF800, 0x07E0, 0x001F);
    Palette* p = PaletteFromHandle(h);
    EXPECT_EQ(p->ToRgb(0xFFFF), RGB(255, 255, 255));
    EXPECT_EQ(p->ToRgb(0xF800), RGB(255, 0, 0));
    EXPECT_EQ(p->FromRgb(RGB(0, 255, 0)), 0x07E0u);
    EngDeletePalette(h);
    EXPECT_EQ(EngCreatePalette(PAL_INDEXED, 0, nullptr, 0, 0, 0), nullptr);
}

// Every source format copied onto one-bit and 24-bit targets lands as the
// colour its palette gives.
struct SourceCase {
    ULONG format;
};
class SourceFormats : public ::testing::TestWithParam<ULONG> {};

TEST_P(SourceFormats, CopyTranslatesColours) {
    const ULONG format = GetParam();
    Bitmap src(6, 2, format);
    const Palette& sp = src.Get()->Pal();
    const COLORREF colors[6] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(128, 128, 128)};
    for (LONG x = 0; x < 6; ++x) {
        src.Get()->SetPixel(x, 0, sp.FromRgb(colors[x]));
        src.Get()->SetPixel(x, 1, sp.FromRgb(colors[5 - x]));
    }
    for (ULONG target : {BMF_24BPP, BMF_1BPP}) {
        Bitmap dst(8, 3, target);
        RECTL r{1, 1, 7, 3};
        POINTL p{0, 0};
        ASSERT_TRUE(EngCopyBits(dst.Object(), src.Object(), nullptr, nullptr, &r, &p));
        const Palette& dp = dst.Get()->Pal();
        for (LONG y = 0; y < 2; ++y)
            for (LONG x = 0; x < 6; ++x) {
                COLORREF want = sp.ToRgb(src.Get()->Pixel(x, y));
                if (target == BMF_1BPP) want = dp.ToRgb(dp.FromRgb(want));
                EXPECT_EQ(dp.ToRgb(dst.Get()->Pixel(x + 1, y + 1)), want) << format << " -> " << target << " " << x;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(All, SourceFormats,
                         ::testing::Values(BMF_1BPP, BMF_4BPP, BMF_8BPP, BMF_16BPP, BMF_24BPP, BMF_32BPP));

TEST(Copy, OverlappingCopyOnOneSurfaceReadsTheOldPixels) {
    Bitmap b(10, 1, BMF_8BPP);
    for (LONG x = 0; x < 10; ++x) b.Get()->SetPixel(x, 0, x);
    RECTL r{2, 0, 10, 1};
    POINTL p{0, 0};
    ASSERT_TRUE(EngCopyBits(b.Object(), b.Object(), nullptr, nullptr, &r, &p));
    for (LONG x = 2; x < 10; ++x) EXPECT_EQ(b.Get()->Pixel(x, 0), ULONG(x - 2));
}

TEST(Copy, CompressedSourceIsRefused) {
    Bitmap dst(4, 4, BMF_24BPP);
    SURFOBJ fake{};
    fake.iBitmapFormat = BMF_8RLE;
    BYTE bits[4] = {};
    fake.pvScan0 = bits;
    fake.sizlBitmap = {4, 4};
    RECTL r{0, 0, 4, 4};
    POINTL p{0, 0};
    SetLastError(0);
    EXPECT_FALSE(EngCopyBits(dst.Object(), &fake, nullptr, nullptr, &r, &p));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PIXEL_FORMAT);
}

TEST(Stretch, DoublesMirrorsAndHalftones) {
    Bitmap src(2, 2, BMF_24BPP);
    src.Get()->SetPixel(0, 0, 0xFF0000);
    src.Get()->SetPixel(1, 0, 0x00FF00);
    src.Get()->SetPixel(0, 1, 0x0000FF);
    src.Get()->SetPixel(1, 1, 0xFFFFFF);
    Bitmap dst(4, 4, BMF_24BPP);
    RECTL d{0, 0, 4, 4}, s{0, 0, 2, 2};
    ASSERT_TRUE(EngStretchBlt(dst.Object(), src.Object(), nullptr, nullptr, nullptr, nullptr, nullptr, &d, &s, nullptr,
                              COLORONCOLOR));
    EXPECT_EQ(dst.Get()->Pixel(1, 1), 0xFF0000u);
    EXPECT_EQ(dst.Get()->Pixel(2, 1), 0x00FF00u);
    EXPECT_EQ(dst.Get()->Pixel(3, 3), 0xFFFFFFu);

    RECTL mirrored{4, 0, 0, 4};
    ASSERT_TRUE(EngStretchBlt(dst.Object(), src.Object(), nullptr, nullptr, nullptr, nullptr, nullptr, &mirrored, &s,
                              nullptr, COLORONCOLOR));
    EXPECT_EQ(dst.Get()->Pixel(0, 0), 0x00FF00u);
    EXPECT_EQ(dst.Get()->Pixel(3, 0), 0xFF0000u);

    // Mid grey halftoned onto one bit: about half the pixels are white.
    Bitmap grey(1, 1, BMF_24BPP);
    grey.Get()->SetPixel(0, 0, 0x808080);
    Bitmap mono(16, 16, BMF_1BPP);
    RECTL md{0, 0, 16, 16}, ms{0, 0, 1, 1};
    ASSERT_TRUE(EngStretchBlt(mono.Object(), grey.Object(), nullptr, nullptr, nullptr, nullptr, nullptr, &md, &ms,
                              nullptr, HALFTONE));
    int white = 0;
    for (LONG y = 0; y < 16; ++y)
        for (LONG x = 0; x < 16; ++x) white += mono.Get()->Pixel(x, y);
    EXPECT_GT(white, 96);
    EXPECT_LT(white, 160);
}

// A target far larger than the surface, as a gradient or image of a huge
// frame asks for: only the part on the surface is worked out, so it draws at
// once, and that part is what the whole target would have left there.
TEST(Stretch, TargetFarLargerThanTheSurfaceDrawsItsVisiblePart) {
    Bitmap src(2, 2, BMF_24BPP);
    src.Get()->SetPixel(0, 0, 0xFF0000);
    src.Get()->SetPixel(1, 0, 0x00FF00);
    src.Get()->SetPixel(0, 1, 0x0000FF);
    src.Get()->SetPixel(1, 1, 0xFFFFFF);
    // Centred on the 8 x 8 surface: the source's middle falls between
    // pixels 3 and 4 both ways.
    constexpr LONG kFar = 1 << 29;
    struct Case {
        RECTL target;
        COLORREF topLeft, topRight, bottomLeft;
    };
    const Case cases[] = {
        {{-kFar, -kFar, kFar + 8, kFar + 8}, 0xFF0000, 0x00FF00, 0x0000FF},
        {{kFar + 8, -kFar, -kFar, kFar + 8}, 0x00FF00, 0xFF0000, 0xFFFFFF},  // mirrored
    };
    RECTL s{0, 0, 2, 2};
    for (const auto& c : cases) {
        Bitmap dst(8, 8, BMF_24BPP);
        RECTL d = c.target;
        ASSERT_TRUE(EngStretchBlt(dst.Object(), src.Object(), nullptr, nullptr, nullptr, nullptr, nullptr, &d, &s,
                                  nullptr, COLORONCOLOR));
        for (LONG y : {0, 3})
            for (LONG x : {0, 3}) EXPECT_EQ(dst.Get()->Pixel(x, y), c.topLeft) << x << "," << y;
        EXPECT_EQ(dst.Get()->Pixel(4, 0), c.topRight);
        EXPECT_EQ(dst.Get()->Pixel(7, 3), c.topRight);
        EXPECT_EQ(dst.Get()->Pixel(0, 4), c.bottomLeft);
    }

    // Wholly off the surface: nothing to draw, and nothing drawn.
    Bitmap dst(8, 8, BMF_24BPP);
    RECTL off{-kFar, 0, -8, 8};
    ASSERT_TRUE(EngStretchBlt(dst.Object(), src.Object(), nullptr, nullptr, nullptr, nullptr, nullptr, &off, &s,
                              nullptr, COLORONCOLOR));
    for (LONG y = 0; y < 8; ++y)
        for (LONG x = 0; x < 8; ++x) EXPECT_EQ(dst.Get()->Pixel(x, y), 0u);

    // Halftone keeps its cell's phase on the page: a flat grey over a huge
    // target starting at an odd place dithers as over the surface alone.
    Bitmap grey(1, 1, BMF_24BPP);
    grey.Get()->SetPixel(0, 0, 0x808080);
    Bitmap huge(16, 16, BMF_1BPP), exact(16, 16, BMF_1BPP);
    RECTL hd{-kFar + 1, -kFar + 3, kFar, kFar}, ed{0, 0, 16, 16}, gs{0, 0, 1, 1};
    ASSERT_TRUE(EngStretchBlt(huge.Object(), grey.Object(), nullptr, nullptr, nullptr, nullptr, nullptr, &hd, &gs,
                              nullptr, HALFTONE));
    ASSERT_TRUE(EngStretchBlt(exact.Object(), grey.Object(), nullptr, nullptr, nullptr, nullptr, nullptr, &ed, &gs,
                              nullptr, HALFTONE));
    for (LONG y = 0; y < 16; ++y)
        for (LONG x = 0; x < 16; ++x) EXPECT_EQ(huge.Get()->Pixel(x, y), exact.Get()->Pixel(x, y)) << x << "," << y;
}

}  // namespace
