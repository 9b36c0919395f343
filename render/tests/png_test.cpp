// The reader's PNG input and output: its own 1-bit pages round-trip, an
// 8-bit RGB picture with every row filter reads back to the pixels it was
// made from, and damaged files are refused.
#include <gtest/gtest.h>


#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "pclread/pclread.h"
#include "testing/temp_root.h"

namespace {

class PngTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = zq::testing::MakeTempDirectory("zq-render-png");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { zq::testing::RemoveTree(dir_); }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::filesystem::path dir_;
};

// An RGB picture whose row y is filtered with filter y % 5, coded here from
// the filter definitions (the reader only decodes; the container is the
// writer's).
std::vector<uint8_t> FilteredRgbPng(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height) {
    const size_t rowBytes = width * 3;
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t filter = static_cast<uint8_t>(y % 5);
        raw.push_back(filter);
        for (size_t i = 0; i < rowBytes; ++i) {
            const int x = pixels[y * rowBytes + i];
            const int a = i >= 3 ? pixels[y * rowBytes + i - 3] : 0;
            const int b = y ? pixels[(y - 1) * rowBytes + i] : 0;
            const int c = y && i >= 3 ? pixels[(y - 1) * rowBytes + i - 3] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            const int predictor[5] = {0, a, b, (a + b) / 2, paeth};
            raw.push_back(static_cast<uint8_t>(x - predictor[filter]));
        }
    }
    return pclread::PngBytes(width, height, 8, 2, raw);
}

TEST_F(PngTest, OwnPagesRoundTrip) {
    std::mt19937 rng(3);
    for (int32_t width : {1, 8, 13, 100}) {
        pclread::Page page;
        page.width = width;
        page.height = 7;
        page.stride = (width + 7) / 8;
        page.bits.assign(static_cast<size_t>(page.stride) * page.height, 0);
        for (int32_t y = 0; y < page.height; ++y)
            for (int32_t x = 0; x < width; ++x)
                if (rng() % 3 == 0) page.bits[y * page.stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        const auto path = (dir_ / "page.png").string();
        ASSERT_TRUE(pclread::WritePng(page, path));
        const auto back = pclread::ReadPng(path);
        ASSERT_TRUE(back) << width;
        EXPECT_EQ(pclread::Differences(page, *back), 0) << width;
        EXPECT_EQ(back->bits, page.bits) << width;
    }
}

TEST_F(PngTest, RgbRowsWithEveryFilterReadBack) {
    const uint32_t width = 23, height = 15;
    std::mt19937 rng(9);
    std::vector<uint8_t> pixels(width * height * 3);
    for (size_t p = 0; p < width * height; ++p) {
        const bool black = rng() % 2;
        for (int c = 0; c < 3; ++c)  // a black pixel has all three samples 0
            pixels[p * 3 + c] = black ? 0 : static_cast<uint8_t>(c == static_cast<int>(p % 3) ? rng() % 256 : 1 + rng() % 255);
    }
    const auto page = pclread::ReadPng(Write("rgb.png", FilteredRgbPng(pixels, width, height)));
    ASSERT_TRUE(page);
    ASSERT_EQ(page->width, static_cast<int32_t>(width));
    ASSERT_EQ(page->height, static_cast<int32_t>(height));
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* px = &pixels[(y * width + x) * 3];
            EXPECT_EQ(page->Black(static_cast<int32_t>(x), static_cast<int32_t>(y)), !px[0] && !px[1] && !px[2])
                << x << "," << y;
        }
}

TEST_F(PngTest, DamagedFilesAreRefused) {
    std::vector<uint8_t> good = FilteredRgbPng(std::vector<uint8_t>(4 * 4 * 3, 7), 4, 4);
    ASSERT_TRUE(pclread::ReadPng(Write("good.png", good)));
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"empty", {}},
        {"not a PNG", std::vector<uint8_t>(good.begin() + 1, good.end())},
        {"cut in the image data", std::vector<uint8_t>(good.begin(), good.begin() + static_cast<ptrdiff_t>(good.size() - 20))},
    };
    cases.push_back({"interlaced", good});
    cases.back().bytes[8 + 8 + 12] = 1;  // IHDR interlace byte
    for (const auto& c : cases) EXPECT_FALSE(pclread::ReadPng(Write("bad.png", c.bytes))) << c.what;
    EXPECT_FALSE(pclread::ReadPng((dir_ / "missing.png").string()));
}

}  // namespace
