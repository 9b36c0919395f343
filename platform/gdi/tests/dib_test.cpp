// Device-independent bitmaps: which headers are drawn, row order, colour
// tables, and bounds of packed images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "base/error.h"
#include "gdi/dib.h"

using namespace zq::gdi;

namespace {

std::vector<BYTE> Packed(LONG w, LONG h, WORD bpp, DWORD compression = BI_RGB, DWORD clrUsed = 0) {
    BITMAPINFOHEADER bh{};
    bh.biSize = sizeof(bh);
    bh.biWidth = w;
    bh.biHeight = h;
    bh.biPlanes = 1;
    bh.biBitCount = bpp;
    bh.biCompression = compression;
    bh.biClrUsed = clrUsed;
    size_t table = bpp <= 8 ? 4 * size_t(clrUsed ? clrUsed : (1u << bpp)) : compression == BI_BITFIELDS ? 12 : 0;
    size_t stride = (size_t(w) * bpp + 31) / 32 * 4;
    std::vector<BYTE> v(sizeof(bh) + table + stride * size_t(h < 0 ? -h : h), 0);
    std::memcpy(v.data(), &bh, sizeof(bh));
    return v;
}

TEST(Dib, BottomUpRowsAreStoredLastRowFirst) {
    auto v = Packed(2, 2, 24);
    BYTE* bits = v.data() + 40;
    bits[0] = 0x11;       // first stored row: the bottom one
    bits[8] = 0x22;       // second stored row (stride 8): the top one
    auto dib = LoadPackedDib(v);
    ASSERT_TRUE(dib);
    EXPECT_TRUE(dib->bottomUp);
    EXPECT_EQ(dib->bitmap->Get()->Pixel(0, 1), 0x11u);
    EXPECT_EQ(dib->bitmap->Get()->Pixel(0, 0), 0x22u);
}

TEST(Dib, ShortColourTableShowsBlackBeyondIt) {
    auto v = Packed(1, 1, 8, BI_RGB, 2);
    v[40 + 4] = 0xFF;  // entry 1: blue
    auto dib = LoadPackedDib(v);
    ASSERT_TRUE(dib);
    ASSERT_TRUE(dib->palette);
    EXPECT_EQ(dib->palette->ToRgb(1), RGB(0, 0, 255));
    EXPECT_EQ(dib->palette->ToRgb(200), 0u);
}

TEST(Dib, RefusedHeaders) {
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        UINT usage;
    };
    auto truncated = Packed(8, 8, 24);
    truncated.resize(truncated.size() - 1);
    auto headerOnly = Packed(2, 2, 24);
    headerOnly.resize(20);
    auto badPlanes = Packed(2, 2, 24);
    badPlanes[12] = 2;
    const Case cases[] = {
        {"run-length", Packed(4, 4, 8, BI_RLE8), DIB_RGB_COLORS},
        {"palette indices", Packed(4, 4, 8), DIB_PAL_COLORS},
        {"bits past the end", truncated, DIB_RGB_COLORS},
        {"zero width", Packed(0, 4, 24), DIB_RGB_COLORS},
        {"two planes", badPlanes, DIB_RGB_COLORS},
        {"odd depth", Packed(4, 4, 7), DIB_RGB_COLORS},
        {"table too long", Packed(2, 2, 1, BI_RGB, 3), DIB_RGB_COLORS},
        {"header only", headerOnly, DIB_RGB_COLORS},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(LoadPackedDib(c.bytes, c.usage)) << c.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.what;
    }
}

TEST(Dib, BitFieldsGiveTheirMasks) {
    auto v = Packed(1, -1, 16, BI_BITFIELDS);
    DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
    std::memcpy(v.data() + 40, masks, 12);
    v[52] = 0x00;
    v[53] = 0xF8;  // pure red
    auto dib = LoadPackedDib(v);
    ASSERT_TRUE(dib);
    EXPECT_FALSE(dib->bottomUp);
    EXPECT_EQ(dib->palette->ToRgb(dib->bitmap->Get()->Pixel(0, 0)), RGB(255, 0, 0));
}

// A section's caller hands only its header and colour table: nothing past
// them may be read (each buffer is cut to that size so that the address
// sanitizer sees a read beyond it), and the bits start zero.
TEST(Dib, SectionReadsTheHeaderAloneAndStartsZeroed) {
    struct Case {
        LONG width, height;
        WORD bpp;
        DWORD compression;
        size_t table;  // bytes of colour table or masks the caller gives
    };
    const Case cases[] = {{100, 50, 24, BI_RGB, 0}, {33, -7, 1, BI_RGB, 8}, {16, 16, 32, BI_BITFIELDS, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bpp);
        auto info = std::make_unique<BYTE[]>(sizeof(BITMAPINFOHEADER) + c.table);
        auto packed = Packed(c.width, c.height, c.bpp, c.compression);
        std::memcpy(info.get(), packed.data(), sizeof(BITMAPINFOHEADER));
        std::memset(info.get() + sizeof(BITMAPINFOHEADER), 0xFF, c.table);
        void* bits = nullptr;
        HBITMAP bmp = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(info.get()), DIB_RGB_COLORS,
                                       &bits, nullptr, 0);
        ASSERT_NE(bmp, nullptr);
        ASSERT_NE(bits, nullptr);
        size_t bytes = (size_t(c.width) * c.bpp + 31) / 32 * 4 * size_t(c.height < 0 ? -c.height : c.height);
        auto* p = static_cast<const BYTE*>(bits);
        EXPECT_TRUE(std::all_of(p, p + bytes, [](BYTE b) { return b == 0; }));
        DeleteObject(bmp);
    }
}

}  // namespace
