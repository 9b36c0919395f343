// Logical palettes on a 32-bit surface: what DIB_PAL_COLORS images put on it
// through the selected palette, and what AnimatePalette and
// SetPaletteEntries change.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "gdi/dc.h"

namespace {

constexpr int W = 4;

// A memory DC on a W x 1 top-down 32-bit section, as windows draw on.
struct Surface {
    HDC dc = CreateCompatibleDC(nullptr);
    DWORD* px = nullptr;
    HBITMAP bmp = nullptr;
    HGDIOBJ old = nullptr;
    Surface() {
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), W, -1, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&px), nullptr, 0);
        old = SelectObject(dc, bmp);
    }
    ~Surface() {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
    std::vector<COLORREF> Pixels() const {
        std::vector<COLORREF> v;
        for (int i = 0; i < W; ++i) v.push_back(RGB(BYTE(px[i] >> 16), BYTE(px[i] >> 8), BYTE(px[i])));
        return v;
    }
};

// An 8-bit W x 1 image whose colour table holds palette indices.
struct PalDib {
    std::vector<BYTE> bytes;
    PalDib(std::vector<WORD> indices, std::vector<BYTE> pixels) {
        BITMAPINFOHEADER h{sizeof(BITMAPINFOHEADER), W, -1, 1, 8, BI_RGB, 0, 0, 0, DWORD(indices.size()), 0};
        bytes.resize(sizeof(h) + 2 * indices.size());
        std::memcpy(bytes.data(), &h, sizeof(h));
        std::memcpy(bytes.data() + sizeof(h), indices.data(), 2 * indices.size());
        pixels.resize(W);
        bits = pixels;
    }
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(bytes.data()); }
    std::vector<BYTE> bits;
};

HPALETTE MakePalette(std::vector<PALETTEENTRY> entries) {
    std::vector<BYTE> lp(4 + 4 * entries.size());
    WORD head[2] = {0x300, WORD(entries.size())};
    std::memcpy(lp.data(), head, 4);
    std::memcpy(lp.data() + 4, entries.data(), 4 * entries.size());
    return CreatePalette(reinterpret_cast<const LOGPALETTE*>(lp.data()));
}

constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255),
                   kWhite = RGB(255, 255, 255), kYellow = RGB(255, 255, 0);

struct Case {
    std::string name;
    bool selectPalette;          // false: the DC's stock palette
    std::vector<WORD> indices;   // the image's colour table
    std::vector<BYTE> pixels;    // its pixel values
    bool section;                // drawn from a DIB section made through the palette (else StretchDIBits)
    enum { None, Animate, SetEntries } change;  // applied before a second blit
    std::vector<COLORREF> first, second;
};

TEST(LogicalPalette, WhatLandsOnATrueColourSurface) {
    // Entry 1 may be animated; entry 0 and 2 may not.
    const std::vector<PALETTEENTRY> entries = {{255, 0, 0, 0}, {0, 255, 0, PC_RESERVED}, {0, 0, 255, 0}};
    const Case cases[] = {
        {"indices through the selected palette", true, {2, 0, 1}, {0, 1, 2, 0}, false, Case::None,
         {kBlue, kRed, kGreen, kBlue}, {kBlue, kRed, kGreen, kBlue}},
        {"an index past the palette is black", true, {7, 0}, {0, 1, 0, 1}, false, Case::None,
         {0, kRed, 0, kRed}, {0, kRed, 0, kRed}},
        {"the stock palette before any selection", false, {15, 9, 0}, {0, 1, 2, 0}, false, Case::None,
         {kWhite, kRed, 0, kWhite}, {kWhite, kRed, 0, kWhite}},
        // The surface holds colours: an image already drawn is not recoloured,
        // a section made through the palette is the next time it is drawn.
        {"animation leaves drawn pixels", true, {1, 0}, {0, 1, 0, 1}, false, Case::Animate,
         {kGreen, kRed, kGreen, kRed}, {kGreen, kRed, kGreen, kRed}},
        {"animation recolours a section", true, {1, 0, 2}, {0, 1, 2, 0}, true, Case::Animate,
         {kGreen, kRed, kBlue, kGreen}, {kYellow, kRed, kBlue, kYellow}},
        {"SetPaletteEntries recolours every entry", true, {1, 0, 2}, {0, 1, 2, 0}, true, Case::SetEntries,
         {kGreen, kRed, kBlue, kGreen}, {kYellow, kYellow, kYellow, kYellow}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Surface s;
        HPALETTE pal = MakePalette(entries);
        ASSERT_NE(pal, nullptr);
        HPALETTE stock = nullptr;
        if (c.selectPalette) {
            stock = SelectPalette(s.dc, pal, FALSE);
            ASSERT_NE(stock, nullptr);
            EXPECT_EQ(RealizePalette(s.dc), 0u);
        }
        PalDib dib(c.indices, c.pixels);
        HDC src = CreateCompatibleDC(s.dc);
        HBITMAP section = nullptr;
        HGDIOBJ oldSrc = nullptr;
        if (c.section) {
            void* bits = nullptr;
            section = CreateDIBSection(s.dc, dib.Info(), DIB_PAL_COLORS, &bits, nullptr, 0);
            ASSERT_NE(section, nullptr);
            std::memcpy(bits, dib.bits.data(), W);
            oldSrc = SelectObject(src, section);
        }
        auto draw = [&] {
            if (c.section) return BitBlt(s.dc, 0, 0, W, 1, src, 0, 0, SRCCOPY) != 0;
            return StretchDIBits(s.dc, 0, 0, W, 1, 0, 0, W, 1, dib.bits.data(), dib.Info(), DIB_PAL_COLORS,
                                 SRCCOPY) == 1;
        };
        ASSERT_TRUE(draw());
        EXPECT_EQ(s.Pixels(), c.first);
        std::vector<PALETTEENTRY> yellow(3, {255, 255, 0, 0});
        if (c.change == Case::Animate) {
            EXPECT_TRUE(AnimatePalette(pal, 0, 3, yellow.data()));
        }
        if (c.change == Case::SetEntries) {
            EXPECT_EQ(SetPaletteEntries(pal, 0, 3, yellow.data()), 3u);
        }
        if (c.section) {
            ASSERT_TRUE(draw());
        }
        EXPECT_EQ(s.Pixels(), c.second);
        if (section) {
            SelectObject(src, oldSrc);
            DeleteObject(section);
        }
        DeleteDC(src);
        if (c.selectPalette) {
            // Still selected: it cannot go until the DC lets it go.
            EXPECT_FALSE(DeleteObject(pal));
            EXPECT_EQ(SelectPalette(s.dc, stock, FALSE), pal);
        }
        EXPECT_TRUE(DeleteObject(pal));
    }
}

TEST(LogicalPalette, EntriesAndBadCalls) {
    HPALETTE pal = MakePalette({{1, 2, 3, 0}, {4, 5, 6, PC_RESERVED}});
    ASSERT_NE(pal, nullptr);
    EXPECT_EQ(GetPaletteEntries(pal, 0, 0, nullptr), 2u);
    PALETTEENTRY out[4]{};
    EXPECT_EQ(GetPaletteEntries(pal, 1, 4, out), 1u);  // cut to the palette
    EXPECT_EQ(out[0].peBlue, 6);
    EXPECT_EQ(out[0].peFlags, PC_RESERVED);
    EXPECT_EQ(GetPaletteEntries(pal, 2, 1, out), 0u);
    PALETTEENTRY one{9, 9, 9, 0};
    EXPECT_EQ(SetPaletteEntries(pal, 5, 1, &one), 0u);
    // Animation keeps the entry's flags, so it stays animatable.
    EXPECT_TRUE(AnimatePalette(pal, 1, 1, &one));
    ASSERT_EQ(GetPaletteEntries(pal, 1, 1, out), 1u);
    EXPECT_EQ(out[0].peRed, 9);
    EXPECT_EQ(out[0].peFlags, PC_RESERVED);
    EXPECT_TRUE(DeleteObject(pal));

    LOGPALETTE bad{0x200, 1, {{0, 0, 0, 0}}};
    EXPECT_EQ(CreatePalette(&bad), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreatePalette(nullptr), nullptr);
    EXPECT_EQ(GetPaletteEntries(pal, 0, 0, nullptr), 0u);  // deleted
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SelectPalette(nullptr, pal, FALSE), nullptr);
    EXPECT_EQ(RealizePalette(nullptr), GDI_ERROR);
    // SelectObject does not take a palette.
    HDC dc = CreateCompatibleDC(nullptr);
    HPALETTE other = MakePalette({{0, 0, 0, 0}});
    EXPECT_EQ(SelectObject(dc, other), nullptr);
    DeleteDC(dc);
    EXPECT_TRUE(DeleteObject(other));
}

}  // namespace
