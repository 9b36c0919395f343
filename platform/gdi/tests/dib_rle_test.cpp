// Run-length encoded bitmaps, expanded: the format's own examples, damaged
// runs, and a metafile's image read as its uncompressed twin.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gdi/dib.h"
#include "gdi/emf.h"

namespace {

using zq::gdi::DecodeRle;

// Pixel x of row y (counted from the bottom) of the expanded rows.
int At(const std::vector<BYTE>& rows, int bitCount, LONG width, int x, int y) {
    const size_t stride = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
    const BYTE b = rows[stride * static_cast<size_t>(y) + (bitCount == 8 ? x : x / 2)];
    return bitCount == 8 ? b : (x % 2 ? b & 0x0F : b >> 4);
}

TEST(Rle, TheFormatsOwnExamplesExpand) {
    struct Case {
        int bitCount;
        std::vector<BYTE> in;
        std::vector<int> row0, row1, row2;  // the first pixels of each row
    } cases[] = {
        {8,
         {0x03, 0x04, 0x05, 0x06, 0x00, 0x03, 0x45, 0x56, 0x67, 0x00, 0x02, 0x78, 0x00, 0x02, 0x05, 0x01,
          0x02, 0x78, 0x00, 0x00, 0x09, 0x1E, 0x00, 0x01},
         {4, 4, 4, 6, 6, 6, 6, 6, 0x45, 0x56, 0x67, 0x78, 0x78, 0, 0, 0, 0, 0, 0, 0},
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x78, 0x78},
         {0x1E, 0x1E, 0x1E, 0x1E, 0x1E, 0x1E, 0x1E, 0x1E, 0x1E, 0}},
        {4,
         {0x03, 0x04, 0x05, 0x06, 0x00, 0x06, 0x45, 0x56, 0x67, 0x00, 0x04, 0x78, 0x00, 0x02, 0x05, 0x01,
          0x04, 0x78, 0x00, 0x00, 0x09, 0x1E, 0x00, 0x01},
         {0, 4, 0, 0, 6, 0, 6, 0, 4, 5, 5, 6, 6, 7, 7, 8, 7, 8, 0, 0},
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 8, 7, 8},
         {1, 0xE, 1, 0xE, 1, 0xE, 1, 0xE, 1, 0}},
    };
    for (const auto& c : cases) {
        const LONG width = 32;
        std::vector<BYTE> rows;
        ASSERT_TRUE(DecodeRle(c.in, c.bitCount, width, 3, rows)) << c.bitCount;
        for (size_t x = 0; x < c.row0.size(); ++x) EXPECT_EQ(At(rows, c.bitCount, width, int(x), 0), c.row0[x]) << c.bitCount << " row 0 x " << x;
        for (size_t x = 0; x < c.row1.size(); ++x) EXPECT_EQ(At(rows, c.bitCount, width, int(x), 1), c.row1[x]) << c.bitCount << " row 1 x " << x;
        for (size_t x = 0; x < c.row2.size(); ++x) EXPECT_EQ(At(rows, c.bitCount, width, int(x), 2), c.row2[x]) << c.bitCount << " row 2 x " << x;
    }
}

TEST(Rle, DamagedOrOversizedRunsStayInsideTheImage) {
    std::vector<BYTE> rows;
    // Runs longer than the row, deltas past the image: cut, never written outside.
    const std::vector<BYTE> wide{0xFF, 0x11, 0x00, 0x02, 0xFF, 0xFF, 0x05, 0x22, 0x00, 0x01};
    ASSERT_TRUE(DecodeRle(wide, 8, 4, 2, rows));
    EXPECT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0], 0x11);
    EXPECT_EQ(rows[3], 0x11);
    EXPECT_EQ(rows[4], 0x00) << "the run does not spill into the next row";
    // An absolute run or a delta cut short by the end of the data.
    EXPECT_FALSE(DecodeRle(std::vector<BYTE>{0x00, 0x05, 0x01, 0x02}, 8, 8, 1, rows));
    EXPECT_FALSE(DecodeRle(std::vector<BYTE>{0x00, 0x02, 0x01}, 8, 8, 1, rows));
    EXPECT_FALSE(DecodeRle(std::vector<BYTE>{0x01, 0x01}, 1, 8, 1, rows)) << "only 4 and 8 bits";
}

TEST(Rle, AMetafileImageReadsAsItsUncompressedTwin) {
    // A 4 x 2 image of 8 bits: header, two colours, then the runs.
    auto header = [](uint32_t compression, uint32_t sizeImage) {
        std::vector<uint8_t> info(40 + 8, 0);
        const uint32_t v[] = {40, 4, 2};
        std::memcpy(info.data(), v, 12);
        const uint16_t planes = 1, bits = 8;
        std::memcpy(info.data() + 12, &planes, 2);
        std::memcpy(info.data() + 14, &bits, 2);
        std::memcpy(info.data() + 16, &compression, 4);
        std::memcpy(info.data() + 20, &sizeImage, 4);
        const uint32_t used = 2, red = 0x00FF0000, blue = 0x000000FF;
        std::memcpy(info.data() + 32, &used, 4);
        std::memcpy(info.data() + 40, &red, 4);
        std::memcpy(info.data() + 44, &blue, 4);
        return info;
    };
    const std::vector<uint8_t> runs{0x02, 0x00, 0x02, 0x01, 0x00, 0x00, 0x04, 0x01, 0x00, 0x01};
    const std::vector<uint8_t> plain{0, 0, 1, 1, 1, 1, 1, 1};  // bottom row first
    const auto rleInfo = header(1, static_cast<uint32_t>(runs.size())), plainInfo = header(0, 0);
    std::string why;
    auto rle = zq::emf::ParseDib(rleInfo, runs, &why);
    ASSERT_TRUE(rle) << why;
    auto twin = zq::emf::ParseDib(plainInfo, plain, &why);
    ASSERT_TRUE(twin) << why;
    EXPECT_EQ(rle->compression, 0u);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(rle->Pixel(x, y), twin->Pixel(x, y)) << x << "," << y;
    const std::vector<uint8_t> broken{0x00, 0x04, 0x01};
    EXPECT_FALSE(zq::emf::ParseDib(rleInfo, broken, &why));
}

}  // namespace
