// A page replayed band by band through a driver gives the pixels of the
// engine's unbanded render of the same page, whatever the band height; and
// the reference render writes a PNG that decodes to those pixels.
#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "test_support.h"
#include "testing/temp_root.h"

namespace {

constexpr LONG kWidth = 61, kHeight = 97;

// A small packed DIB: header, colour table, bits.
std::vector<BYTE> MakeDib(LONG w, LONG h, WORD bpp, bool topDown) {
    BITMAPINFOHEADER bh{};
    bh.biSize = sizeof(bh);
    bh.biWidth = w;
    bh.biHeight = topDown ? -h : h;
    bh.biPlanes = 1;
    bh.biBitCount = bpp;
    const size_t colors = bpp <= 8 ? (size_t(1) << bpp) : 0;
    const size_t stride = (size_t(w) * bpp + 31) / 32 * 4;
    std::vector<BYTE> dib(sizeof(bh) + 4 * colors + stride * h);
    std::memcpy(dib.data(), &bh, sizeof(bh));
    for (size_t i = 0; i < colors; ++i) {
        BYTE* q = dib.data() + sizeof(bh) + 4 * i;
        q[0] = BYTE(i * 53);
        q[1] = BYTE(i * 101);
        q[2] = BYTE(255 - i * 17);
    }
    BYTE* bits = dib.data() + sizeof(bh) + 4 * colors;
    for (size_t i = 0; i < stride * h; ++i) bits[i] = BYTE(i * 7 + (i >> 3));
    return dib;
}

// The same drawing for every run: fills with every kind of brush, a complex
// clip, transfers of DIBs of several depths, stretched and mirrored.
void DrawPage(HDC dc) {
    HBRUSH solid = CreateSolidBrush(RGB(30, 160, 90));
    HBRUSH hatch = CreateHatchBrush(HS_DIAGCROSS, RGB(200, 0, 40));
    auto pat = MakeDib(5, 3, 4, false);
    HBRUSH pattern = CreateDIBPatternBrushPt(pat.data(), DIB_RGB_COLORS);
    RECT r1{3, 2, 40, 30};
    FillRect(dc, &r1, solid);
    RECT r2{20, 20, 58, 70};
    FillRect(dc, &r2, hatch);
    SetBrushOrgEx(dc, 2, 1, nullptr);
    HGDIOBJ old = SelectObject(dc, pattern);
    PatBlt(dc, 0, 60, 45, 30, PATINVERT);
    SelectObject(dc, old);

    auto dib8 = MakeDib(13, 11, 8, false);
    auto dib24 = MakeDib(7, 9, 24, true);
    auto dib1 = MakeDib(17, 5, 1, false);
    auto* i8 = reinterpret_cast<const BITMAPINFO*>(dib8.data());
    auto* i24 = reinterpret_cast<const BITMAPINFO*>(dib24.data());
    auto* i1 = reinterpret_cast<const BITMAPINFO*>(dib1.data());
    StretchDIBits(dc, 5, 35, 13, 11, 0, 0, 13, 11, dib8.data() + 40 + 1024, i8, DIB_RGB_COLORS, SRCCOPY);
    StretchDIBits(dc, 30, 40, 25, 40, 0, 0, 7, 9, dib24.data() + 40, i24, DIB_RGB_COLORS, SRCINVERT);
    StretchDIBits(dc, 50, 95, -30, -12, 1, 1, 15, 4, dib1.data() + 40 + 8, i1, DIB_RGB_COLORS, SRCCOPY);

    // A clip of two rectangles with a hole.
    HRGN a = CreateRectRgn(0, 10, 61, 50);
    HRGN b = CreateRectRgn(15, 20, 35, 45);
    CombineRgn(a, a, b, RGN_DIFF);
    SelectClipRgn(dc, a);
    SelectObject(dc, solid);
    PatBlt(dc, 0, 0, kWidth, kHeight, DSTINVERT);
    SelectClipRgn(dc, nullptr);
    SetStretchBltMode(dc, STRETCH_HALFTONE);
    StretchDIBits(dc, 2, 75, 20, 20, 0, 0, 13, 11, dib8.data() + 40 + 1024, i8, DIB_RGB_COLORS, SRCAND);
    // Grey fills, by a bit-block call and by a path: dithered on one bit.
    HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128));
    RECT r3{38, 2, 60, 22};
    FillRect(dc, &r3, grey);
    SelectObject(dc, grey);
    SelectObject(dc, GetStockObject(NULL_PEN));
    Ellipse(dc, 6, 48, 52, 92);
    SelectObject(dc, GetStockObject(BLACK_PEN));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(grey);
    DeleteObject(a);
    DeleteObject(b);
    DeleteObject(solid);
    DeleteObject(hatch);
    DeleteObject(pattern);
}

struct BandCase {
    ULONG format;
    LONG bandHeight;  // 0: no banding
    ULONG dither = 0;  // the driver hooks DrvDitherColor
    ULONG halftone = 0;  // the driver halftones stretched images on one bit
    // The driver halftones into a band bitmap of its own that the engine
    // cannot tie to the device, with an 8 x 8 cell: banded or drawn straight
    // onto its one page surface, the images take the device's cell.
    ULONG looseBand = 0;
};

class BandedReplay : public ::testing::TestWithParam<BandCase> {};

TEST_P(BandedReplay, MatchesTheUnbandedRender) {
    const auto c = GetParam();
    RecordingDriver drv;
    TestDriverSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.bandHeight = c.bandHeight;
    s.format = c.format;
    s.dither = c.dither;
    s.halftone = c.halftone;
    s.looseBand = c.looseBand;
    if (c.looseBand) s.htPatternSize = 7;
    TestDevmode dm = MakeTestDevmode(s);
    HDC dc = zq::CreateDCForDriver(RecordingDriver::Path(), &dm.dm);
    ASSERT_NE(dc, nullptr);
    zq::KeepPages(dc, true);
    DOCINFOW di{sizeof(DOCINFOW), u"Bands", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &di), 0);
    ASSERT_GT(StartPage(dc), 0);
    DrawPage(dc);
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(EndDoc(dc), 0);

    zq::gdi::Bitmap ref = zq::RenderReferencePage(dc, 0);
    ASSERT_TRUE(ref);
    ASSERT_EQ(drv.PageCount(), 1u);
    LONG stride = 0;
    const BYTE* page = drv.Page(0, &stride);
    const LONG rowBytes = (kWidth * (c.format == BMF_1BPP ? 1 : 24) + 7) / 8;
    size_t differing = 0;
    for (LONG y = 0; y < kHeight; ++y) {
        const BYTE* want = ref.Get()->Row(y);
        const BYTE* got = page + size_t(y) * stride;
        for (LONG x = 0; x < rowBytes; ++x) {
            BYTE m = 0xFF;
            if (c.format == BMF_1BPP && x == rowBytes - 1 && kWidth % 8) m = BYTE(0xFF << (8 - kWidth % 8));
            differing += (want[x] & m) != (got[x] & m);
        }
    }
    EXPECT_EQ(differing, 0u);
    // The page is not blank: the drawing reached it.
    size_t inked = 0;
    for (LONG i = 0; i < rowBytes * kHeight; ++i) inked += page[(i / rowBytes) * stride + i % rowBytes] != 0xFF;
    EXPECT_GT(inked, size_t(rowBytes * kHeight / 4));
    if (c.dither) {
        // The driver's dither made the difference: the engine's own differs.
        auto calls = drv.Calls();
        EXPECT_NE(std::find(calls.begin(), calls.end(), "DitherColor"), calls.end());
        auto* d = zq::gdi::DeviceContext::FromHandle(dc);
        zq::gdi::Bitmap own = zq::gdi::RenderPage(*d->keptPages[0], {kWidth, kHeight}, c.format);
        EXPECT_NE(std::memcmp(own.Get()->pvBits, ref.Get()->pvBits, ref.Get()->cjBits), 0);
    }
    if (c.halftone) {
        // The reference halftoned the images as the driver did: the same page
        // with the DC's own stretch modes differs.
        auto* d = zq::gdi::DeviceContext::FromHandle(dc);
        zq::gdi::Bitmap nearest = zq::gdi::RenderPage(*d->keptPages[0], {kWidth, kHeight}, c.format);
        EXPECT_NE(std::memcmp(nearest.Get()->pvBits, ref.Get()->pvBits, ref.Get()->cjBits), 0);
    }
    DeleteDC(dc);
}

INSTANTIATE_TEST_SUITE_P(Heights, BandedReplay,
                         ::testing::Values(BandCase{BMF_24BPP, 0}, BandCase{BMF_24BPP, 1}, BandCase{BMF_24BPP, 7},
                                           BandCase{BMF_24BPP, 32}, BandCase{BMF_24BPP, 96}, BandCase{BMF_24BPP, 200},
                                           BandCase{BMF_1BPP, 0}, BandCase{BMF_1BPP, 5}, BandCase{BMF_1BPP, 64},
                                           BandCase{BMF_1BPP, 0, 1}, BandCase{BMF_1BPP, 5, 1},
                                           BandCase{BMF_1BPP, 64, 1}, BandCase{BMF_1BPP, 0, 1, 1},
                                           BandCase{BMF_1BPP, 13, 1, 1}, BandCase{BMF_1BPP, 0, 1, 1, 1},
                                           BandCase{BMF_1BPP, 16, 1, 1, 1}));

// Grey text and its grey opaque box on a one-bit page, dithered by the
// driver: the dither cell must keep the page's phase on a band whose top is
// not a multiple of the cell, as it does for fills.
class BandedText : public ::testing::TestWithParam<LONG> {};

TEST_P(BandedText, DitheredTextKeepsThePagePhase) {
    constexpr LONG kW = 160, kH = 64;
    RecordingDriver drv;
    TestDriverSettings s;
    s.width = kW;
    s.height = kH;
    s.bandHeight = GetParam();
    s.format = BMF_1BPP;
    s.dither = 1;
    TestDevmode dm = MakeTestDevmode(s);
    HDC dc = zq::CreateDCForDriver(RecordingDriver::Path(), &dm.dm);
    ASSERT_NE(dc, nullptr);
    zq::KeepPages(dc, true);
    DOCINFOW di{sizeof(DOCINFOW), u"Text bands", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &di), 0);
    ASSERT_GT(StartPage(dc), 0);
    LOGFONTW lf{};
    lf.lfHeight = -40;
    lf.lfWeight = FW_BOLD;
    const char16_t face[] = u"Liberation Sans";
    std::copy(std::begin(face), std::end(face), lf.lfFaceName);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBrushOrgEx(dc, 3, 2, nullptr);
    SetTextColor(dc, RGB(100, 100, 100));
    SetBkColor(dc, RGB(200, 200, 200));
    RECT box{4, 6, 156, 58};
    ASSERT_TRUE(ExtTextOutW(dc, 8, 10, ETO_OPAQUE, &box, u"Gg#", 3, nullptr));
    SelectObject(dc, oldFont);
    DeleteObject(font);
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(EndDoc(dc), 0);

    zq::gdi::Bitmap ref = zq::RenderReferencePage(dc, 0);
    ASSERT_TRUE(ref);
    ASSERT_EQ(drv.PageCount(), 1u);
    LONG stride = 0;
    const BYTE* page = drv.Page(0, &stride);
    size_t differing = 0, black = 0;
    for (LONG y = 0; y < kH; ++y)
        for (LONG x = 0; x < kW; ++x) {
            const bool want = (ref.Get()->Row(y)[x / 8] >> (7 - x % 8)) & 1;
            const bool got = (page[size_t(y) * stride + x / 8] >> (7 - x % 8)) & 1;
            differing += want != got;
            black += !got;
        }
    EXPECT_EQ(differing, 0u);
    // Every band hands the string's background in its own coordinates.
    for (const std::string& call : drv.Calls()) EXPECT_EQ(call.find("background apart"), std::string::npos) << call;
    // Both greys were dithered: the box is neither blank nor solid.
    EXPECT_GT(black, size_t(kW * kH / 10));
    EXPECT_LT(black, size_t(kW * kH * 9 / 10));
    DeleteDC(dc);
}

// Bands starting at rows 13, 26, ... and 20, 40: none a multiple of 8; 0 is
// the unbanded page.
INSTANTIATE_TEST_SUITE_P(Heights, BandedText, ::testing::Values(0, 13, 20));

TEST(ReferencePng, DecodesToThePagePixels) {
    RecordingDriver drv;
    TestDriverSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.bandHeight = 20;
    TestDevmode dm = MakeTestDevmode(s);
    HDC dc = zq::CreateDCForDriver(RecordingDriver::Path(), &dm.dm);
    ASSERT_NE(dc, nullptr);
    zq::KeepPages(dc, true);
    DOCINFOW di{sizeof(DOCINFOW), u"Png", nullptr, nullptr, 0};
    StartDocW(dc, &di);
    StartPage(dc);
    DrawPage(dc);
    EndPage(dc);
    EndDoc(dc);
    ASSERT_EQ(zq::KeptPageCount(dc), 1u);

    const auto dir = zq::testing::MakeTempDirectory("zq-gdi-png");
    ASSERT_FALSE(dir.empty());
    const std::string path = (dir / "page.png").string();
    ASSERT_TRUE(zq::WriteReferencePng(dc, 0, path));
    EXPECT_FALSE(zq::WriteReferencePng(dc, 1, path));

    cairo_surface_t* img = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(img), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(img), kWidth);
    ASSERT_EQ(cairo_image_surface_get_height(img), kHeight);
    LONG stride = 0;
    const BYTE* page = drv.Page(0, &stride);
    const BYTE* data = cairo_image_surface_get_data(img);
    const int pngStride = cairo_image_surface_get_stride(img);
    for (LONG y = 0; y < kHeight; ++y)
        for (LONG x = 0; x < kWidth; ++x) {
            uint32_t px;
            std::memcpy(&px, data + size_t(y) * pngStride + 4 * x, 4);
            // The driver's page holds bytes blue, green, red.
            const BYTE* d = page + size_t(y) * stride + 3 * x;
            uint32_t want = (uint32_t(d[2]) << 16) | (uint32_t(d[1]) << 8) | d[0];
            ASSERT_EQ(px & 0xFFFFFF, want) << x << "," << y;
        }
    cairo_surface_destroy(img);
    zq::testing::RemoveTree(dir);
    DeleteDC(dc);
}

}  // namespace
