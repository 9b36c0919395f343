#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "render/output.h"
#include "render/page_setup.h"
#include "render/tests/capture_sink.h"

namespace pclrend {
namespace {

class PageSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(AllocateBuffers(r, true));
        r.sink = &sink;
        r.jobState = kJobOpen;
        r.devmode = std::make_unique<zq::PrivateDevmode>();
        r.resolution = 600;
        r.stamp = kStampPortrait;
        auto& g = r.geometry;
        g.width = g.usedWidth = 5100;
        g.length = g.usedLength = 6600;
        g.printableWidth = g.usedPrintableWidth = 4900;
        g.printableLength = g.usedPrintableLength = 6400;
        g.leftMargin = g.topMargin = 100;
        r.drawnWidth = 4900;
        r.drawnHeight = 6400;
    }
    std::string Out() {
        SpoolFlush(r);
        return sink.Text();
    }
    DeviceRecord r;
    CaptureSink sink;
};

TEST_F(PageSetupTest, PageSizeAndSourceCodes) {
    EXPECT_EQ(PageSizeCode(9), 26);
    EXPECT_EQ(PageSizeCode(10), 2);
    EXPECT_EQ(PageSizeCode(1), 2);
    EXPECT_EQ(PageSizeCode(260), 101);
    EXPECT_EQ(PaperSourceCode(7, 0), 0);
    EXPECT_EQ(PaperSourceCode(7, 0x08), 7);
    EXPECT_EQ(PaperSourceCode(258, 0), 21);
    EXPECT_EQ(PaperSourceCode(99, 0), 1);
    r.geometry.paperCodeUsed = 9;
    PageSize(r);
    EXPECT_EQ(Out(), "\x1b&l26A");
}

TEST_F(PageSetupTest, PageFormatWritesLineSpacingInHundredths) {
    struct Case {
        uint16_t dpi;
        const char* expected;
    } const cases[] = {
        {600, "\x1b&l0o0.08c100e6400F"},
        {300, "\x1b&l0o0.16c100e6400F"},
        {1200, "\x1b&l0o0.04c100e6400F"},
    };
    r.geometry.usedTopMargin = 100;
    for (const auto& c : cases) {
        sink.bytes.clear();
        r.resolution = c.dpi;
        PageFormat(r);
        EXPECT_EQ(Out(), c.expected) << c.dpi;
    }
}

TEST_F(PageSetupTest, OverlayAtPageEndComesBeforeTheFormFeed) {
    r.devmode->macroIds[0] = 5;
    r.devmode->overlayAtPageStart = 0;
    r.pageCount = 1;
    r.ropCache = 252;
    PageEndOutput(r);
    EXPECT_EQ(Out(), "\x1b&f5Y\x1b&f3X\f");
}

TEST_F(PageSetupTest, TwoUpSheetsEndAfterEverySecondPage) {
    r.pagesPerSheet = 2;
    r.ropCache = 252;
    std::string feeds;
    for (uint16_t page = 1; page <= 3; ++page) {
        r.pageCount = page;
        r.sheetPages = static_cast<uint16_t>((page - 1) % 2 + 1);
        sink.bytes.clear();
        PageEndOutput(r);
        feeds += Out().find('\f') != std::string::npos ? "F" : "-";
    }
    EXPECT_EQ(feeds, "-F-");
}

TEST_F(PageSetupTest, ABandWithoutDrawingSendsNothing) {
    std::vector<uint8_t> bits(64 * 4, 0xFF);
    r.band = MonoBand{bits.data(), 4, 32, 64};
    r.pageFlags = 0;
    BandFlush(r);
    EXPECT_EQ(Out(), "");
    EXPECT_EQ(r.pageFlags & 0x08, 0x08);
    // With drawing: cursor to the band's top at the left edge, then raster.
    bits[0] = 0x7F;
    r.pageFlags = 0x04;
    r.bandTop = 320;
    BandFlush(r);
    const std::string out = Out();
    EXPECT_EQ(out.rfind("\x1b*p320Y\x1b*p0X\x1b*r0F\x1b*r1A\x1b*b5M\x1b*b", 0), 0u) << out;
    EXPECT_EQ(bits[0], 0xFF) << "the band is cleared to white after it was sent";
}

TEST_F(PageSetupTest, NupLayouts) {
    // Two pages on a tall portrait sheet: one column by two rows, so the
    // sheet is turned and the cells lie side by side along its x axis.
    r.pagesPerSheet = 2;
    zq::PaperFormat other = r.geometry;
    std::swap(other.usedPrintableWidth, other.usedPrintableLength);
    EXPECT_EQ(NupLayout(r, other), 'Z');
    ASSERT_TRUE(r.nupCells);
    EXPECT_LT(r.nupCells[0].left, r.nupCells[1].left);
    EXPECT_EQ(r.nupCells[0].top, r.nupCells[1].top);
    EXPECT_GT(r.drawnWidth, 0);
    EXPECT_LT(r.drawnWidth, r.drawnHeight) << "each page keeps its portrait shape";

    r.pagesPerSheet = 4;
    EXPECT_EQ(NupLayout(r, other), 0);
    EXPECT_EQ(r.nupCells[0].top, r.nupCells[1].top);
    EXPECT_LT(r.nupCells[0].left, r.nupCells[1].left);
    EXPECT_LT(r.nupCells[1].top, r.nupCells[2].top);
    EXPECT_EQ(r.nupCells[0].left, r.nupCells[2].left);
}

TEST(FrameThickness, ByResolution) {
    EXPECT_EQ(FrameThickness(300), 2);
    EXPECT_EQ(FrameThickness(600), 4);
    EXPECT_EQ(FrameThickness(1200), 6);
    EXPECT_EQ(FrameThickness(400), 2);
}

}  // namespace
}  // namespace pclrend
