#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "pclread/pclread.h"
#include "render/job_header.h"
#include "render/output.h"
#include "render/page_setup.h"
#include "render/pclxl.h"
#include "render/tests/capture_sink.h"
#include "render/tests/gpcl6_run.h"
#include "render/xl_page.h"

namespace pclrend {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A letter sheet at `dpi` with margins of 1/6 inch, printed in PCL XL.
class XlPageTest : public ::testing::Test {
protected:
    void SetUp() override { Make(600); }
    void Make(int dpi) {
        r = DeviceRecord{};
        taken = 0;
        ASSERT_TRUE(AllocateBuffers(r, false));
        sink = CaptureSink{};
        r.sink = &sink;
        r.jobState = kJobOpen;
        r.devmode = std::make_unique<zq::PrivateDevmode>();
        r.language = Language::PclXl;
        r.resolution = static_cast<uint16_t>(dpi);
        r.stamp = kStampPortrait;
        r.paperSource = 1;
        r.jobFlags = 0x40;  // no PJL: the tests look at the XL stream
        auto& g = r.geometry;
        g.paperCodeAsked = g.paperCodeUsed = 1;
        g.width = g.usedWidth = static_cast<uint16_t>(dpi * 17 / 2);
        g.length = g.usedLength = static_cast<uint16_t>(dpi * 11);
        g.leftMargin = g.usedLeftMargin = g.topMargin = g.usedTopMargin = static_cast<uint16_t>(dpi / 6);
        g.printableWidth = g.usedPrintableWidth = static_cast<uint16_t>(g.width - dpi / 3);
        g.printableLength = g.usedPrintableLength = static_cast<uint16_t>(g.length - dpi / 3);
        r.drawnWidth = g.printableWidth;
        r.drawnHeight = g.printableLength;
        r.nupCells.reset(new Cell[1]{{0, 0, g.printableWidth, g.printableLength}});
    }
    // The bytes written since the last call.
    Bytes Out() {
        SpoolFlush(r);
        Bytes b(sink.bytes.begin() + static_cast<std::ptrdiff_t>(taken), sink.bytes.end());
        taken = sink.bytes.size();
        return b;
    }
    void StartPage() {
        ++r.pageCount;
        ++r.sheetPages;
        ASSERT_GE(JobHeader(r), 0);
    }
    DeviceRecord r;
    CaptureSink sink;
    size_t taken = 0;
};

const Bytes kSession = Cat({B(xl::kStreamHeader),
                            {0xD1, 0x58, 0x02, 0x58, 0x02, 0xF8, 0x89, 0xC0, 0x00, 0xF8, 0x86, 0xC0, 0x03, 0xF8, 0x8F,
                             0x41, 0xC0, 0x00, 0xF8, 0x88, 0xC0, 0x01, 0xF8, 0x82, 0x48, 0xC8, 0xC0, 0x17},
                            B("Zelquor Enhanced XL=1.0"),
                            {0xF8, 0x81, 0x47}});
const Bytes kLetterPage = {0xC0, 0x00, 0xF8, 0x28, 0xC0, 0x00, 0xF8, 0x25, 0xC0, 0x04, 0xF8, 0x26,
                           0xC0, 0x00, 0xF8, 0x34, 0x43, 0xC0, 0x01, 0xF8, 0x03, 0x6A};
const Bytes kOrigin100 = {0xD3, 0x64, 0x00, 0x64, 0x00, 0xF8, 0x2A, 0x75};
const Bytes kEndSheet = {0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44};

TEST_F(XlPageTest, JobHeaderEntersPclXlWithoutAnyPclSetUp) {
    r.jobFlags = 0;
    StartPage();
    const Bytes out = Out();
    const std::string text(out.begin(), out.end());
    const std::string enter = "@PJL SET RESOLUTION = 600\n@PJL SET TIMEOUT=0\n@PJL ENTER LANGUAGE=PCLXL\n";
    const size_t at = text.find(enter);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(text.find("\x1b" "E"), std::string::npos) << "no printer reset in PCL XL";
    EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(at + enter.size()), out.end()),
              Cat({kSession, kLetterPage, kOrigin100}));
}

TEST_F(XlPageTest, BeginPageVariants) {
    struct Case {
        const char* name;
        std::function<void(DeviceRecord&)> setup;
        Bytes media;  // from Orientation to BeginPage
    };
    const std::vector<Case> cases = {
        {"letter, upper tray, simplex", [](DeviceRecord&) {}, Bytes(kLetterPage.begin(), kLetterPage.begin() + 17)},
        {"A4 landscape from the manual feed",
         [](DeviceRecord& d) {
             d.geometry.paperCodeUsed = 9;
             d.geometry.orientationCode = 2;
             d.paperSource = 4;
         },
         {0xC0, 0x01, 0xF8, 0x28, 0xC0, 0x02, 0xF8, 0x25, 0xC0, 0x02, 0xF8, 0x26, 0xC0, 0x00, 0xF8, 0x34, 0x43}},
        {"custom paper by page code, in inches",
         [](DeviceRecord& d) {
             d.geometry.paperCodeAsked = 640;
             d.geometry.usedWidth = 3000;
             d.geometry.usedLength = 4800;
         },
         {0xC0, 0x00, 0xF8, 0x28, 0xD5, 0x00, 0x00, 0xA0, 0x40, 0x00, 0x00, 0x00, 0x41, 0xF8, 0x2F, 0xC0, 0x00, 0xF8,
          0x30, 0xC0, 0x04, 0xF8, 0x26, 0xC0, 0x00, 0xF8, 0x34, 0x43}},
        {"custom landscape paper is given as fed",
         [](DeviceRecord& d) {
             d.geometry.paperCodeUsed = 257;
             d.geometry.orientationCode = 2;
             d.geometry.usedWidth = 4800;
             d.geometry.usedLength = 3000;
         },
         {0xC0, 0x01, 0xF8, 0x28, 0xD5, 0x00, 0x00, 0xA0, 0x40, 0x00, 0x00, 0x00, 0x41, 0xF8, 0x2F, 0xC0, 0x00, 0xF8,
          0x30, 0xC0, 0x04, 0xF8, 0x26, 0xC0, 0x00, 0xF8, 0x34, 0x43}},
        {"media type of the chosen tray",
         [](DeviceRecord& d) {
             d.devmode->slotSourceCodes[2] = 1;
             d.devmode->slotValues[2] = 3;
         },
         Cat({{0xC0, 0x00, 0xF8, 0x28, 0xC0, 0x00, 0xF8, 0x25, 0xC0, 0x04, 0xF8, 0x26, 0xC8, 0xC0, 0x0C},
              B("Transparency"),
              {0xF8, 0x27, 0xC0, 0x00, 0xF8, 0x34, 0x43}})},
        {"duplex long edge, front",
         [](DeviceRecord& d) { d.duplex = 2; },
         {0xC0, 0x00, 0xF8, 0x28, 0xC0, 0x00, 0xF8, 0x25, 0xC0, 0x04, 0xF8, 0x26, 0xC0, 0x01, 0xF8, 0x35, 0xC0, 0x00,
          0xF8, 0x36, 0x43}},
        {"duplex short edge, back",
         [](DeviceRecord& d) {
             d.duplex = 3;
             d.changeFlags |= 0x04;
         },
         {0xC0, 0x00, 0xF8, 0x28, 0xC0, 0x00, 0xF8, 0x25, 0xC0, 0x04, 0xF8, 0x26, 0xC0, 0x00, 0xF8, 0x35, 0xC0, 0x01,
          0xF8, 0x36, 0x43}},
    };
    for (const auto& c : cases) {
        Make(600);
        c.setup(r);
        r.changeFlags |= 1;  // header sent: the page part alone
        StartPage();
        const Bytes out = Out();
        ASSERT_GE(out.size(), c.media.size()) << c.name;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(c.media.size())), c.media) << c.name;
        EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(c.media.size()), out.begin() + static_cast<std::ptrdiff_t>(c.media.size()) + 5),
                  (Bytes{0xC0, 0x01, 0xF8, 0x03, 0x6A}))
            << c.name << ": a grey colour space follows BeginPage";
    }
}

TEST_F(XlPageTest, TwoUpSheetsPlaceEachPageInItsCellAndEndAfterTheSecond) {
    r.pagesPerSheet = 2;
    r.drawnWidth = 2400;
    r.drawnHeight = 3200;
    r.nupCells.reset(new Cell[2]{{0, 0, 2400, 3200}, {2500, 0, 4900, 3200}});
    StartPage();
    const Bytes page1 = Out();
    // Cell 1 at the printable corner, scaled to the drawn size: 2400/4900 and 3200/6400.
    const float sx = 2400.0f / 4900.0f;
    uint8_t fx[4];
    std::memcpy(fx, &sx, 4);
    const Bytes place1 = {0xD3, 0x64, 0x00, 0x64, 0x00, 0xF8, 0x2A, 0x75, 0xD5, fx[0], fx[1], fx[2], fx[3],
                          0x00, 0x00, 0x00, 0x3F, 0xF8, 0x2B, 0x77};
    ASSERT_GE(page1.size(), place1.size());
    EXPECT_EQ(Bytes(page1.end() - static_cast<std::ptrdiff_t>(place1.size()), page1.end()), place1);
    PageEndOutput(r);
    EXPECT_EQ(Out(), Bytes{0x74}) << "the first page of a sheet does not end it";
    StartPage();
    const Bytes page2 = Out();
    EXPECT_EQ(Bytes(page2.begin(), page2.begin() + 8), (Bytes{0xD3, 0x28, 0x0A, 0x64, 0x00, 0xF8, 0x2A, 0x75}))
        << "no BeginPage inside a sheet; origin at cell 2 (100 + 2500)";
    PageEndOutput(r);
    EXPECT_EQ(Out(), Cat({{0x74}, kEndSheet}));
    StartPage();
    EXPECT_EQ(Out()[16], 0x43) << "the third page starts a new sheet";
    PageEndOutput(r);
    EXPECT_EQ(Out(), Bytes{0x74});
    XlSessionEnd(r);
    EXPECT_EQ(Out(), Cat({kEndSheet, {0x49, 0x42}})) << "EndDoc ends the half-filled sheet, then the session";
}

TEST_F(XlPageTest, NupFrameIsARectangleWithANullBrushInSheetCoordinates) {
    r.pagesPerSheet = 2;
    r.nupFrame = 1;
    r.drawnWidth = 2400;
    r.drawnHeight = 3200;
    r.nupCells.reset(new Cell[2]{{0, 0, 2400, 3200}, {2500, 0, 4900, 3200}});
    StartPage();
    Out();
    PageEndOutput(r);
    // t = 4 at 600 dpi; the pen is black from page start, so only the brush,
    // width and ROP are sent; the box is the cell plus the margin, widened by t.
    EXPECT_EQ(Out(), (Bytes{0x74, 0xC0, 0x00, 0xF8, 0x04, 0x63, 0xC1, 0x04, 0x00, 0xF8, 0x4B, 0x7A, 0xC0, 0xFC,
                            0xF8, 0x2C, 0x7B, 0xE1, 0x60, 0x00, 0x60, 0x00, 0xC8, 0x09, 0xE8, 0x0C, 0xF8, 0x42, 0xA0}));
}

TEST_F(XlPageTest, DuplexBackSideTakesTheCentredOrigin) {
    r.duplex = 2;
    r.geometry.usedLeftMargin = 50;  // asymmetric: 50 left, 150 right
    StartPage();
    const Bytes front = Out();
    EXPECT_EQ(Bytes(front.end() - 8, front.end()), (Bytes{0xD3, 0x32, 0x00, 0x64, 0x00, 0xF8, 0x2A, 0x75}));
    PageEndOutput(r);
    Out();
    StartPage();
    const Bytes back = Out();
    EXPECT_EQ(back[17], 0x01) << "DuplexPageSide back";
    EXPECT_EQ(Bytes(back.end() - 8, back.end()), kOrigin100);
}

// A whole two-up job of three pages with frames reads without a fault in the
// test-side reader: two sheets, each frame where its cell lies.
TEST_F(XlPageTest, TwoUpJobReadsBackWithItsFrames) {
    Make(100);
    r.jobFlags = 0;
    r.pagesPerSheet = 2;
    r.nupFrame = 1;
    r.drawnWidth = 400;
    r.drawnHeight = 500;
    r.nupCells.reset(new Cell[2]{{10, 20, 410, 520}, {420, 20, 820, 520}});
    for (int page = 0; page < 3; ++page) {
        StartPage();
        PageEndOutput(r);
    }
    XlSessionEnd(r);
    JobEnd(r);
    const pclread::Job job = pclread::Read(sink.bytes);
    std::string errors;
    for (const auto& e : job.errors) errors += e + "\n";
    EXPECT_TRUE(job.Ok()) << errors;
    ASSERT_EQ(job.xl.pages.size(), 2u);
    const auto& sheet = job.xl.pages[0];
    // Frame of thickness 2 around the cell at (16 + 10, 16 + 20): the stroke
    // of the box two pixels outside the drawn page.
    EXPECT_LT(sheet.At(16 + 10 - 2, 16 + 20 + 100), 128);
    EXPECT_EQ(sheet.At(16 + 10 + 5, 16 + 20 + 100), 255);
    EXPECT_LT(sheet.At(16 + 420 - 2, 16 + 20 + 100), 128) << "the second page's frame";
    EXPECT_EQ(job.xl.operatorCounts.at("BeginPage"), 2u);
    EXPECT_EQ(job.xl.operatorCounts.at("EndPage"), 2u);
}

const Bytes kStateAfter = {
    0xC0, 0x01, 0xF8, 0x03, 0x6A,  // ColorSpace grey
    0xC1, 0x01, 0x00, 0xF8, 0x4B, 0x7A,  // PenWidth 1
    0xC0, 0x00, 0xF8, 0x4E, 0x70,  // SolidLine
    0xC0, 0x00, 0xF8, 0x09, 0x79,  // black pen
    0xC0, 0x00, 0xF8, 0x04, 0x63,  // NullBrush
    0xC0, 0xFC, 0xF8, 0x2C, 0x7B,  // ROP3 252
    0xC0, 0x00, 0xF8, 0x2D, 0x7C, 0xC0, 0x00, 0xF8, 0x2D, 0x78,  // opaque source and paint
    0xC0, 0x00, 0xF8, 0x46, 0x6E,  // FillMode non-zero
    0xC0, 0x01, 0xF8, 0x54, 0x7F,  // ClipMode even-odd
    0xC0, 0x00, 0xF8, 0x47, 0x71, 0xC0, 0x01, 0xF8, 0x49, 0x73, 0xC0, 0x00, 0xF8, 0x48, 0x72,  // cap, miter, join
    0xC1, 0x00, 0x00, 0xF8, 0xA1, 0x64,  // CharAngle 0
    0xC5, 0x00, 0x00, 0x00, 0x00, 0xF8, 0xB1, 0x7D,  // CharBoldValue 0
    0xD1, 0x00, 0x00, 0x00, 0x00, 0xF8, 0xA5, 0x66,  // CharShear 0
    0x69,  // the clip in force dropped
};

TEST_F(XlPageTest, ParityOverlayRunsItsStreamBetweenTheTwoOrigins) {
    std::strcpy(r.devmode->overlayName1, "FORM1");
    r.devmode->overlayAtPageStart = 1;
    r.changeFlags |= 1;
    StartPage();
    const Bytes out = Out();
    const Bytes before = {
        // Only what differs from the page start's state, then the fixed part.
        0xC1, 0x01, 0x00, 0xF8, 0x4B, 0x7A, 0xC0, 0x00, 0xF8, 0x04, 0x63, 0xC0, 0xFC, 0xF8, 0x2C, 0x7B,
        0xC0, 0x01, 0xF8, 0x54, 0x7F, 0xC0, 0x00, 0xF8, 0x47, 0x71, 0xC0, 0x01, 0xF8, 0x49, 0x73, 0xC0, 0x00,
        0xF8, 0x48, 0x72, 0xC1, 0x00, 0x00, 0xF8, 0xA1, 0x64};
    const Bytes run = {0xD3, 0x9C, 0xFF, 0x9C, 0xFF, 0xF8, 0x2A, 0x75, 0x61, 0xC8, 0xC0, 0x05, 'F', 'O', 'R', 'M',
                       '1', 0xF8, 0x8B, 0x5E, 0x60, 0xD3, 0x64, 0x00, 0x64, 0x00, 0xF8, 0x2A, 0x75};
    EXPECT_EQ(out, Cat({kLetterPage, kOrigin100, before, run, kStateAfter}));
}

TEST_F(XlPageTest, ParityOverlayNamesByPage) {
    struct Case {
        uint16_t page;
        uint8_t oddAsFirst;
        const char* name;  // the stream run, or "" for none
    } const cases[] = {{1, 0, "ONE"}, {2, 0, "TWO"}, {3, 0, "TWO"}, {3, 1, "ONE"}, {4, 1, "TWO"}};
    for (const auto& c : cases) {
        Make(600);
        std::strcpy(r.devmode->overlayName1, "ONE");
        std::strcpy(r.devmode->overlayName2, "TWO");
        r.devmode->overlaySwitch = c.oddAsFirst;
        r.devmode->overlayAtPageStart = 0;  // at page end
        r.pageCount = static_cast<uint16_t>(c.page - 1);
        r.changeFlags |= 1;
        StartPage();
        Out();
        PageEndOutput(r);
        const Bytes out = Out();
        const std::string text(out.begin(), out.end());
        EXPECT_NE(text.find(std::string("\xC8\xC0\x03") + c.name + "\xF8\x8B\x5E"), std::string::npos)
            << "page " << c.page;
    }
}

// The stream a printer would hold, defined in the session before the first
// page: a black square 30 pixels in from the sheet's corner.
Bytes WithHeldStream(const Bytes& job, std::string_view name) {
    const std::string_view comment = "Zelquor Enhanced XL=1.0";
    const auto at = std::search(job.begin(), job.end(), comment.begin(), comment.end());
    EXPECT_NE(at, job.end());
    const auto after = at + static_cast<std::ptrdiff_t>(comment.size() + 3);  // F8 81 and the Comment operator
    Bytes body = B(") HP-PCL XL;1;1;\n");
    body = Cat({body, {0xC0, 0x00, 0xF8, 0x09, 0x63, 0xC0, 0x00, 0xF8, 0x05, 0x79, 0xE1, 30, 0, 30, 0, 60, 0, 60, 0,
                       0xF8, 0x42, 0xA0}});
    Bytes define = Cat({{0xC8, 0xC0, static_cast<uint8_t>(name.size())}, B(name), {0xF8, 0x8B, 0x5B},
                        {0xC2, static_cast<uint8_t>(body.size()), 0, 0, 0, 0xF8, 0x8C, 0x5C, 0xFA,
                         static_cast<uint8_t>(body.size()), 0, 0, 0},
                        body, {0x5D}});
    Bytes out(job.begin(), after);
    out.insert(out.end(), define.begin(), define.end());
    out.insert(out.end(), after, job.end());
    return out;
}

TEST_F(XlPageTest, ParityOverlayAppearsOnThePagesOfItsParity) {
    Make(100);
    r.jobFlags = 0;
    std::strcpy(r.devmode->overlayName1, "ODD");
    r.devmode->overlaySwitch = 1;
    r.devmode->overlayAtPageStart = 1;
    for (int page = 0; page < 3; ++page) {
        StartPage();
        PageEndOutput(r);
    }
    XlSessionEnd(r);
    JobEnd(r);
    const Bytes job = WithHeldStream(sink.bytes, "ODD");
    const pclread::Job read = pclread::Read(job);
    std::string errors;
    for (const auto& e : read.errors) errors += e + "\n";
    ASSERT_TRUE(read.Ok()) << errors;
    ASSERT_EQ(read.xl.pages.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(read.xl.pages[i].At(45, 45), i == 1 ? 255 : 0) << "reader, page " << i + 1;
    const pclread::Job unheld = pclread::Read(sink.bytes);
    EXPECT_TRUE(unheld.Ok()) << "a stream the session lacks is not a fault";
    EXPECT_EQ(unheld.xl.notes.size(), 2u);
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    if (const char* dump = std::getenv("ZQ_XL_DUMP")) {
        std::ofstream(dump, std::ios::binary).write(reinterpret_cast<const char*>(job.data()), static_cast<std::streamsize>(job.size()));
    }
    const auto pages = testing::RunGpcl6(gpcl6, job, 100, "parity");
    ASSERT_EQ(pages.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[i].At(45, 45) < 128, i != 1) << "gpcl6, page " << i + 1;
        EXPECT_GT(pages[i].At(25, 25), 128) << "gpcl6, page " << i + 1 << ": the square starts at 30";
    }
}

// Every BeginPage variant, printed with a 60-pixel black square at the
// page's corner, renders in the independent interpreter on a sheet of the
// right size, with the square at the printable corner and no error page.
TEST_F(XlPageTest, BeginPageVariantsRenderInTheIndependentInterpreter) {
    const std::string gpcl6 = testing::Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6)";
    constexpr int dpi = 100;
    struct Case {
        const char* name;
        std::function<void(DeviceRecord&)> setup;
        int width, height;  // the sheet in pixels at 100 dpi
    };
    auto paper = [](uint16_t code, int w, int h) {
        return [=](DeviceRecord& d) {
            auto& g = d.geometry;
            g.paperCodeAsked = g.paperCodeUsed = code;
            g.width = g.usedWidth = static_cast<uint16_t>(w);
            g.length = g.usedLength = static_cast<uint16_t>(h);
            g.printableWidth = g.usedPrintableWidth = static_cast<uint16_t>(w - 2 * g.leftMargin);
            g.printableLength = g.usedPrintableLength = static_cast<uint16_t>(h - 2 * g.topMargin);
        };
    };
    const std::vector<Case> cases = {
        {"letter", paper(1, 850, 1100), 850, 1100},
        {"legal", paper(5, 850, 1400), 850, 1400},
        {"A4", paper(9, 827, 1169), 827, 1169},
        {"A5", paper(11, 583, 827), 583, 827},
        {"executive", paper(7, 725, 1050), 725, 1050},
        {"envelope #10", paper(20, 412, 950), 412, 950},
        {"envelope DL", paper(27, 433, 866), 433, 866},
        {"custom 5 x 8 inches", paper(640, 500, 800), 500, 800},
        {"manual feed", [](DeviceRecord& d) { d.paperSource = 4; }, 850, 1100},
        {"lower tray", [](DeviceRecord& d) { d.paperSource = 2; }, 850, 1100},
        {"automatic source", [](DeviceRecord& d) { d.paperSource = 7; }, 850, 1100},
        {"unknown source", [](DeviceRecord& d) { d.paperSource = 300; }, 850, 1100},
        {"media type", [](DeviceRecord& d) {
             d.devmode->slotSourceCodes[0] = 1;
             d.devmode->slotValues[0] = 2;
         }, 850, 1100},
        {"duplex front", [](DeviceRecord& d) { d.duplex = 2; }, 850, 1100},
        {"duplex back", [](DeviceRecord& d) {
             d.duplex = 2;
             d.changeFlags |= 0x04;
         }, 850, 1100},
    };
    for (const auto& c : cases) {
        Make(dpi);
        c.setup(r);
        r.drawnWidth = r.geometry.printableWidth;
        r.drawnHeight = r.geometry.printableLength;
        StartPage();
        xl::XlAttrUByte(r, xl::Attr::GrayLevel, 0);
        xl::XlOperator(r, xl::Op::SetBrushSource);
        xl::XlAttrUInt16Box(r, xl::Attr::BoundingBox, 0, 0, 60, 60);
        xl::XlOperator(r, xl::Op::Rectangle);
        PageEndOutput(r);
        XlSessionEnd(r);
        JobEnd(r);
        const auto pages = testing::RunGpcl6(gpcl6, sink.bytes, dpi, std::to_string(&c - cases.data()));
        ASSERT_EQ(pages.size(), 1u) << c.name << ": one page and no error page";
        EXPECT_EQ(pages[0].width, c.width) << c.name;
        EXPECT_EQ(pages[0].height, c.height) << c.name;
        const int m = dpi / 6;
        EXPECT_LT(pages[0].At(m + 1, m + 1), 128) << c.name << ": the square's corner";
        EXPECT_GT(pages[0].At(m - 2, m - 2), 128) << c.name << ": white outside the printable corner";
        EXPECT_GT(pages[0].At(m + 62, m + 62), 128) << c.name << ": the square ends at 60 pixels";
    }
}

}  // namespace
}  // namespace pclrend
