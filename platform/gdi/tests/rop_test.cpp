// Every ROP3 code against its boolean definition: bit i of the code is the
// result for pattern, source and destination bits (P << 2 | S << 1 | D).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "gdi/engine.h"

using namespace zq::gdi;

namespace {

// The definition, one bit at a time.
ULONG Expected(ULONG rop3, ULONG p, ULONG s, ULONG d, int bits) {
    ULONG out = 0;
    for (int b = 0; b < bits; ++b) {
        ULONG idx = (((p >> b) & 1) << 2) | (((s >> b) & 1) << 1) | ((d >> b) & 1);
        out |= ((rop3 >> idx) & 1) << b;
    }
    return out;
}

struct Case {
    ULONG format;
    bool withMask;
    LONG dx = 0, sx = 0;  // the target rectangle's left edge, the source's (and mask's) first column
};

class RopTable : public ::testing::TestWithParam<Case> {};

TEST_P(RopTable, AllCodesFollowTheirTruthTable) {
    const auto [format, withMask, dx, sx] = GetParam();
    const int bits = format == BMF_1BPP ? 1 : 24;
    // Odd width: one-bit rows end inside a byte; the offsets start them
    // inside one.
    const LONG w = 19 + std::max(dx, sx), h = 5, rw = 19;
    std::mt19937 rng(7);
    Bitmap src(w, h, format), dstInit(w, h, format), pattern(8, 8, format), mask(w, h, BMF_1BPP);
    auto fill = [&](Bitmap& b) {
        for (LONG y = 0; y < b.Get()->sizlBitmap.cy; ++y)
            for (LONG x = 0; x < b.Get()->sizlBitmap.cx; ++x) b.Get()->SetPixel(x, y, rng() & ((1u << bits) - 1));
    };
    fill(src);
    fill(dstInit);
    fill(pattern);
    fill(mask);

    LogicalBrush lb;
    lb.kind = LogicalBrush::Kind::Pattern;
    lb.pattern = std::make_shared<Bitmap>(8, 8, format);
    for (LONG y = 0; y < 8; ++y)
        for (LONG x = 0; x < 8; ++x) lb.pattern->Get()->SetPixel(x, y, pattern.Get()->Pixel(x, y));

    for (ULONG rop3 = 0; rop3 < 256; ++rop3) {
        const ULONG back = withMask ? (rop3 * 37 + 11) & 0xFF : rop3;
        Bitmap dst(w, h, format);
        for (LONG y = 0; y < h; ++y)
            for (LONG x = 0; x < w; ++x) dst.Get()->SetPixel(x, y, dstInit.Get()->Pixel(x, y));
        EngineBrush brush(lb, dst.Get());
        EngineXlate same(src.Get()->Pal(), dst.Get()->Pal());
        RECTL r{dx, 0, dx + rw, h};
        POINTL from{sx, 0}, brushOrg{3, 5};
        ASSERT_TRUE(EngBitBlt(dst.Object(), src.Object(), withMask ? mask.Object() : nullptr, nullptr, &same, &r,
                              &from, &from, &brush, &brushOrg, Rop4(rop3, back)))
            << "rop " << rop3;
        for (LONG y = 0; y < h; ++y)
            for (LONG x = 0; x < w; ++x) {
                const LONG at = x - dx + sx;  // the source and mask pixel
                const bool inside = x >= dx && x < dx + rw;
                ULONG code = (!withMask || !inside || mask.Get()->Pixel(at, y)) ? rop3 : back;
                ULONG p = pattern.Get()->Pixel(((x - 3) % 8 + 8) % 8, ((y - 5) % 8 + 8) % 8);
                ULONG want = inside ? Expected(code, p, src.Get()->Pixel(at, y), dstInit.Get()->Pixel(x, y), bits)
                                    : dstInit.Get()->Pixel(x, y);
                ASSERT_EQ(dst.Get()->Pixel(x, y), want) << "rop " << std::hex << code << " at " << std::dec << x << "," << y;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Destinations, RopTable,
                         ::testing::Values(Case{BMF_1BPP, false}, Case{BMF_1BPP, true}, Case{BMF_24BPP, false},
                                           Case{BMF_24BPP, true}, Case{BMF_1BPP, true, 5, 11},
                                           Case{BMF_1BPP, false, 9, 2}, Case{BMF_1BPP, true, 16, 3},
                                           Case{BMF_24BPP, true, 5, 11}));

// A solid brush reaches the ROP as the colour's pixel value.
TEST(RopSolid, PatternIsTheSolidColour) {
    Bitmap dst(4, 1, BMF_24BPP);
    LogicalBrush lb;
    lb.color = RGB(0x12, 0x34, 0x56);
    EngineBrush brush(lb, dst.Get());
    RECTL r{0, 0, 4, 1};
    ASSERT_TRUE(EngBitBlt(dst.Object(), nullptr, nullptr, nullptr, nullptr, &r, nullptr, nullptr, &brush, nullptr,
                          Rop4(ROP3_PATCOPY)));
    // Bytes blue, green, red: the default 24-bit palette is 0x00RRGGBB.
    EXPECT_EQ(dst.Get()->Pixel(2, 0), 0x123456u);
    EXPECT_EQ(static_cast<BYTE*>(dst.Get()->pvScan0)[0], 0x56);
}

TEST(RopErrors, PatternRopWithoutBrushFails) {
    Bitmap dst(4, 4, BMF_24BPP);
    RECTL r{0, 0, 4, 4};
    EXPECT_FALSE(EngBitBlt(dst.Object(), nullptr, nullptr, nullptr, nullptr, &r, nullptr, nullptr, nullptr, nullptr,
                           Rop4(ROP3_PATCOPY)));
}

}  // namespace
