#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

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
    // A record of its own for one case, writing to `out`, with the
    // fixture's page.
    void Fresh(DeviceRecord& d, CaptureSink& out, uint16_t dpi) {
        d.devmode = std::make_unique<zq::PrivateDevmode>();
        ASSERT_TRUE(AllocateBuffers(d, true));
        d.sink = &out;
        d.jobState = kJobOpen;
        d.resolution = dpi;
        d.geometry = r.geometry;
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

// Every drawn band says how its raster lies on the page, the first band or
// not: a page whose first band holds no drawing still gets it.
TEST_F(PageSetupTest, EveryDrawnBandSendsTheRasterPresentation) {
    std::vector<uint8_t> bits(64 * 4, 0xFF);
    r.band = MonoBand{bits.data(), 4, 32, 64};
    for (int16_t band = 1; band <= 3; ++band) {
        sink.bytes.clear();
        r.bandIndex = band;
        r.bandTop = static_cast<int16_t>(64 * (band - 1));
        r.pageFlags = band == 1 ? 0 : 0x04;  // the first band is blank
        bits[0] = 0x7F;
        BandFlush(r);
        const std::string out = Out();
        EXPECT_EQ(out.find("\x1b*r0F") != std::string::npos, band != 1) << "band " << band;
    }
}

// Where the raster of a band starts: the device's pixels begin at the
// printable area's left margin, while the printer's logical page begins
// 1/4 inch in (1/5 in landscape; 71/300 and 59/300 inch on metric papers).
// A wider margin is reached by the raster's column; a narrower one by moving
// the logical page out with the left offset registration (whole decipoints)
// and the remaining columns, and the registration is taken back for a page
// that does not need it. The registration commands move the page along the
// sheet's portrait axes: in landscape the logical page's left edge is the
// sheet's bottom, reached by a positive top offset (ESC&l#Z).
TEST_F(PageSetupTest, TheRasterStartsWhereTheDevicesPixelsBegin) {
    struct Case {
        const char* name;
        uint16_t paper;        // DMPAPER code
        int16_t orientation;   // the geometry's orientation code (2: landscape)
        uint16_t dpi, margin;  // left margin in device pixels
        const char* registration;  // sent by the page part, or null for none
        const char* column;        // the band's cursor column
        const char* takenBack;     // sent for a later page that needs none
    } const cases[] = {
        {"letter, margin as the logical page", 1, 0, 600, 150, nullptr, "\x1b*p0X", "\x1b&l0U"},
        {"A4, margin 8 dots wider", 9, 0, 600, 150, nullptr, "\x1b*p8X", "\x1b&l0U"},
        {"letter landscape", 1, 2, 600, 120, nullptr, "\x1b*p0X", "\x1b&l0U"},
        {"letter, 1/6 inch margin", 1, 0, 600, 100, "\x1b&l-60U", "\x1b*p0X", "\x1b&l0U"},
        {"letter, 1/6 inch margin at 300 dpi", 1, 0, 300, 50, "\x1b&l-60U", "\x1b*p0X", "\x1b&l0U"},
        {"A4, 1/6 inch margin at 300 dpi", 9, 0, 300, 50, "\x1b&l-51U", "\x1b*p0X", "\x1b&l0U"},
        {"letter, margin 1 dot narrower", 1, 0, 600, 149, "\x1b&l-2U", "\x1b*p1X", "\x1b&l0U"},
        {"letter landscape, 1/6 inch margin at 300 dpi", 1, 2, 300, 50, "\x1b&l24Z", "\x1b*p0X", "\x1b&l0Z"},
    };
    // Whether `text` holds a left or top offset registration (ESC&l#U, ESC&l#Z).
    auto registration = [](const std::string& text) {
        for (size_t at = 0; (at = text.find("\x1b&l", at)) != std::string::npos; ++at) {
            size_t end = at + 3;
            if (end < text.size() && text[end] == '-') ++end;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
            if (end < text.size() && (text[end] == 'U' || text[end] == 'Z')) return true;
        }
        return false;
    };
    std::vector<uint8_t> bits(64 * 4, 0xFF);
    for (const auto& c : cases) {
        DeviceRecord d;
        CaptureSink out;
        Fresh(d, out, c.dpi);
        d.stamp = kStampPortrait;
        d.geometry.paperCodeUsed = c.paper;
        d.geometry.orientationCode = static_cast<uint16_t>(c.orientation);
        d.geometry.leftMargin = c.margin;
        d.drawnWidth = d.geometry.printableWidth;
        d.drawnHeight = d.geometry.printableLength;
        d.pageCount = 1;
        PagePart(d);
        d.band = MonoBand{bits.data(), 4, 32, 64};
        d.pageFlags = 0x04;
        bits[0] = 0x7F;
        BandFlush(d);
        SpoolFlush(d);
        const std::string text = out.Text();
        if (c.registration) EXPECT_NE(text.find(c.registration), std::string::npos) << c.name << ": " << text;
        else EXPECT_FALSE(registration(text)) << c.name << ": no registration in " << text;
        EXPECT_NE(text.find(std::string(c.column) + "\x1b*r0F"), std::string::npos) << c.name << ": " << text;
        EXPECT_GE(RasterLeft(d), 0) << c.name;
        if (c.registration) {
            // A later page on a paper that needs none takes it back.
            out.bytes.clear();
            d.geometry.leftMargin = static_cast<uint16_t>(LogicalPageLeft(d));
            d.pageCount = 2;
            d.changeFlags = 0x40;  // the size changed
            PagePart(d);
            SpoolFlush(d);
            EXPECT_NE(out.Text().find(c.takenBack), std::string::npos) << c.name << ": " << out.Text();
        }
    }
}

struct PagePartCase {
    const char* name;
    void (*setup)(DeviceRecord&);
    uint16_t pageCount;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

// The page part's optional commands: custom-paper media type, output bin,
// duplex page side; overlays stay off booklet pages.
TEST_F(PageSetupTest, PagePartCommandsByRecord) {
    const std::vector<PagePartCase> cases = {
        {"custom paper with its media type",
         [](DeviceRecord& d) {
             d.geometry.paperCodeAsked = 650;
             d.devmode->userPaperSettings[6] = 3;
         },
         1, {"\x1b&n13WdTransparency"}, {}},
        {"custom paper, type past the table", [](DeviceRecord& d) {
             d.geometry.paperCodeAsked = 650;
             d.devmode->userPaperSettings[6] = 11;
         }, 1, {}, {"\x1b&n"}},
        {"a standard paper has no custom type", [](DeviceRecord& d) { d.devmode->userPaperSettings[6] = 3; }, 1, {},
         {"\x1b&n"}},
        {"custom paper, later page with nothing changed",
         [](DeviceRecord& d) {
             d.geometry.paperCodeAsked = 650;
             d.devmode->userPaperSettings[6] = 3;
         },
         2, {}, {"\x1b&n"}},
        {"output bin on the first page",
         [](DeviceRecord& d) {
             d.featureWords[2] = 0x2000;  // byte 573 bit value 0x20
             d.devmode->option448 = 2;
         },
         1, {"\x1b&l2G"}, {}},
        {"output bin once per document",
         [](DeviceRecord& d) {
             d.featureWords[2] = 0x2000;
             d.devmode->option448 = 2;
         },
         2, {}, {"\x1b&l2G"}},
        {"no bin without the model's choice", [](DeviceRecord& d) { d.devmode->option448 = 2; }, 1, {}, {"\x1b&l2G"}},
        {"new paper on a back side: front of a new sheet",
         [](DeviceRecord& d) {
             d.duplexFlags = 3;
             d.duplex = 2;
             d.changeFlags = 0x04 | 0x40;
         },
         3, {"\x1b&a1G"}, {}},
        {"new paper on a front side: no side command",
         [](DeviceRecord& d) {
             d.duplexFlags = 3;
             d.duplex = 2;
             d.changeFlags = 0x40;
         },
         3, {}, {"\x1b&a"}},
        {"back side, nothing changed", [](DeviceRecord& d) {
             d.duplexFlags = 3;
             d.duplex = 2;
             d.changeFlags = 0x04;
         }, 2, {}, {"\x1b&a"}},
        {"overlay at page start", [](DeviceRecord& d) {
             d.devmode->macroIds[0] = 5;
             d.devmode->overlayAtPageStart = 1;
         }, 1, {"\x1b&f5Y\x1b&f3X"}, {}},
        {"no overlay on booklet pages",
         [](DeviceRecord& d) {
             d.devmode->macroIds[0] = 5;
             d.devmode->overlayAtPageStart = 1;
             d.bookletMode = 1;
         },
         1, {}, {"\x1b&f"}},
    };
    for (const auto& c : cases) {
        DeviceRecord fresh;
        CaptureSink out;
        Fresh(fresh, out, 600);
        c.setup(fresh);
        fresh.pageCount = c.pageCount;
        PagePart(fresh);
        SpoolFlush(fresh);
        const std::string text = out.Text();
        for (const auto& p : c.present) EXPECT_NE(text.find(p), std::string::npos) << c.name << ": " << text;
        for (const auto& a : c.absent) EXPECT_EQ(text.find(a), std::string::npos) << c.name << ": " << text;
    }
}

TEST_F(PageSetupTest, NoOverlayAtPageEndOnBookletPages) {
    r.devmode->macroIds[0] = 5;
    r.devmode->overlayAtPageStart = 0;
    r.pageCount = 1;
    r.ropCache = 252;
    r.bookletMode = 1;
    PageEndOutput(r);
    EXPECT_EQ(Out(), "\f");
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
