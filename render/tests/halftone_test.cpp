#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "pclread/pclread.h"
#include "render/halftone.h"

namespace pclrend {
namespace {

int WhitePixels(const Pattern& p) {
    int n = 0;
    for (uint8_t b : p) n += __builtin_popcount(b);
    return n;
}

TEST(Halftone, EveryCellIsAPermutationOfItsRanks) {
    // Each cell orders its 256 pixels strictly, so every level step changes
    // exactly one pixel of 256 and the 256 levels are all distinct.
    const auto& t = Halftone();
    for (int k = 0; k < kThresholdCells; ++k) {
        std::multiset<uint8_t> values(t.cells[k].begin(), t.cells[k].end());
        EXPECT_EQ(*values.begin(), 1) << k;
        EXPECT_EQ(*values.rbegin(), 255) << k;
        for (int level = 0; level < 256; level += 51) {
            Pattern p;
            DitherLevel(static_cast<uint8_t>(level), t.cells[k].data(), p);
            const int white = WhitePixels(p);
            EXPECT_NEAR(white, level * 1024 / 255, 8) << "cell " << k << " level " << level;
        }
    }
    for (uint16_t s : t.selector) EXPECT_LT(s, kThresholdCells);
}

TEST(Halftone, BlackAndWhiteAreSolid) {
    Pattern p;
    for (int dither = 0; dither < 3; ++dither) {
        DitherLevel(0, ThresholdCell(0, 1, dither), p);
        EXPECT_EQ(WhitePixels(p), 0);
        DitherLevel(255, ThresholdCell(0, 1, dither), p);
        EXPECT_EQ(WhitePixels(p), 1024);
    }
}

TEST(Halftone, ToneCurvesKeepTheirEndsAndOrder) {
    for (int n = 0; n < kToneCurves; ++n) {
        const uint8_t* c = ToneCurve(n);
        EXPECT_EQ(c[0], 0);
        EXPECT_EQ(c[255], 255);
        for (int g = 1; g < 256; ++g) EXPECT_LE(c[g - 1], c[g]);
    }
    // Darker curves print less white at mid grey; out-of-range settings use
    // the neutral curve.
    EXPECT_GT(ToneCurve(0)[128], ToneCurve(4)[128]);
    EXPECT_LT(ToneCurve(8)[128], ToneCurve(4)[128]);
    EXPECT_EQ(ToneCurve(4)[128], 128);
    EXPECT_EQ(ToneCurve(9), ToneCurve(4));
}

TEST(Halftone, GreyWeightsAndResolutionClasses) {
    EXPECT_EQ(GreyOf(0x000000), 0);
    EXPECT_EQ(GreyOf(0xFFFFFF), 255);
    EXPECT_EQ(GreyOf(0x0000FF), 79);  // pure red: 5 * 255 / 16
    EXPECT_EQ(GreyOf(0x00FF00), 143);
    EXPECT_EQ(GreyOf(0xFF0000), 31);
    EXPECT_EQ(ResolutionClass(1200), 0);
    EXPECT_EQ(ResolutionClass(600), 1);
    EXPECT_EQ(ResolutionClass(300), 2);
    EXPECT_EQ(ResolutionClass(1800), 2);
}

// Writes every generator's cell as a picture for review when asked:
// ZQ_HALFTONE_PNG=dir render_tests --gtest_filter=Halftone.Pictures
TEST(Halftone, Pictures) {
    const char* dir = std::getenv("ZQ_HALFTONE_PNG");
    if (!dir) GTEST_SKIP() << "set ZQ_HALFTONE_PNG to a folder to write the pictures";
    // One strip per cell kind: a grey ramp from black to white, 16 levels,
    // each a 32 x 32 pattern tiled 2 x 4 times.
    for (int k = 0; k < 12; ++k) {
        pclread::Page page;
        page.width = 16 * 64;
        page.height = 128;
        page.stride = page.width / 8;
        page.bits.assign(static_cast<size_t>(page.stride) * page.height, 0);
        for (int step = 0; step < 16; ++step) {
            Pattern p;
            DitherLevel(static_cast<uint8_t>(step * 17), Halftone().cells[k].data(), p);
            for (int y = 0; y < page.height; ++y)
                for (int x = 0; x < 64; ++x) {
                    const bool white = (p[static_cast<size_t>((y % 32) * 4 + (x % 32) / 8)] >> (7 - x % 8)) & 1;
                    if (!white) page.bits[static_cast<size_t>(y) * page.stride + (step * 64 + x) / 8] |= 0x80 >> (x % 8);
                }
        }
        EXPECT_TRUE(pclread::WritePng(page, std::string(dir) + "/cell" + std::to_string(k) + ".png"));
    }
}

}  // namespace
}  // namespace pclrend
