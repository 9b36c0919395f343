// Documents printed through pclrend in PCL XL, read back with the test-side
// reader and rendered by the independent interpreter, compared with the
// engine's own render of the same pages placed at the printable corner.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gdi/emf_print.h"
#include "pclread/judge.h"
#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"
#include "testing/fresh_root.h"

namespace {

using namespace pclrend::testing;

using XlPrintTest = PrinterTest;

zq::PrivateDevmode XlLetter(int dpi) {
    auto dm = Letter(dpi);
    dm.printerLanguage = 2;
    return dm;
}

// The engine's page as grey (the luminance of its colours, as the
// reference PNGs are read).
pclread::Grey GreyOfReference(zq::gdi::Bitmap& reference) {
    zq::gdi::Surface* s = reference.Get();
    if (!s) return {};
    pclread::Grey g(s->sizlBitmap.cx, s->sizlBitmap.cy);
    for (LONG y = 0; y < g.height; ++y)
        for (LONG x = 0; x < g.width; ++x) {
            const COLORREF c = s->Pal().ToRgb(s->Pixel(x, y));
            g.v[static_cast<size_t>(y) * g.width + x] =
                static_cast<uint8_t>((299 * GetRValue(c) + 587 * GetGValue(c) + 114 * GetBValue(c) + 500) / 1000);
        }
    return g;
}

// A sheet against the reference page placed at (offset, offset) of a sheet
// of its size, grey blocks judged by the decoded sheet `decoded`.
pclread::SheetMatch Compare(const GreyPage& sheet, zq::gdi::Bitmap& reference, int offset, const GreyPage& decoded) {
    const pclread::Grey expected = pclread::Place(GreyOfReference(reference), sheet.width, sheet.height, offset, offset);
    const pclread::Grey printed = pclread::ToGrey(sheet);
    if (const char* dump = std::getenv("ZQ_XL_DUMP")) pclread::WriteGreyPng(expected, dump);
    return pclread::MatchSheet(printed, expected, pclread::GreyBlocks(pclread::ToGrey(decoded))).value_or(pclread::SheetMatch{-1});
}

TEST_F(XlPrintTest, PagesReadBackAsTheReferenceRenderOnTheSheet) {
    constexpr int dpi = 300;
    auto result = PrintPages(driverPath_, XlLetter(dpi), 2, [&](HDC dc, int page) { DrawShapes(dc, dpi, page); });
    ASSERT_TRUE(result.enabled) << "enable refused PCL XL: " << GetLastError();
    EXPECT_TRUE(result.pagesOk);
    EXPECT_TRUE(result.endDocOk);
    const pclread::Job job = pclread::Read(result.job);
    EXPECT_TRUE(job.Ok()) << ErrorText(job);
    ASSERT_EQ(job.xl.pages.size(), 2u);
    ASSERT_EQ(result.reference.size(), 2u);
    const std::string gpcl6 = Gpcl6Path();
    std::vector<GreyPage> judged;
    if (!gpcl6.empty()) judged = RunGpcl6(gpcl6, result.job, dpi, "xlprint");
    for (size_t p = 0; p < 2; ++p) {
        const auto m = Compare(job.xl.pages[p], result.reference[p], dpi / 6, job.xl.pages[p]);
        EXPECT_GT(m.expectedInk, 1000);
        EXPECT_LE(m.extra + m.missing, m.expectedInk / 100) << "reader, page " << p << ": " << pclread::Verdict(m);
        if (gpcl6.empty()) continue;
        ASSERT_EQ(judged.size(), 2u);
        const auto g = Compare(judged[p], result.reference[p], dpi / 6, job.xl.pages[p]);
        EXPECT_LE(g.extra + g.missing, g.expectedInk / 100) << "gpcl6, page " << p << ": " << pclread::Verdict(g);
    }
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found: judged by the reader only";
}

TEST_F(XlPrintTest, At600DpiTheSamePageOnTheSheet) {
    constexpr int dpi = 600;
    auto result = PrintPages(driverPath_, XlLetter(dpi), 1, [&](HDC dc, int page) { DrawShapes(dc, dpi, page); });
    ASSERT_TRUE(result.enabled);
    const pclread::Job job = pclread::Read(result.job);
    EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors.front());
    ASSERT_EQ(job.xl.pages.size(), 1u);
    ASSERT_EQ(result.reference.size(), 1u);
    const auto m = Compare(job.xl.pages[0], result.reference[0], dpi / 6, job.xl.pages[0]);
    EXPECT_LE(m.extra + m.missing, m.expectedInk / 100) << pclread::Verdict(m);
}

// Three pages two-up: two sheets, the second with one page; every sheet's
// cells carry ink where a page was drawn.
TEST_F(XlPrintTest, TwoUpSheetsCarryTheirPages) {
    auto dm = XlLetter(150);
    dm.pagesPerSheet = 1;  // code 1: two pages a sheet
    // Two portrait pages lie side by side on a landscape sheet: the other
    // orientation's geometry says so by its orientation code.
    dm.paperFormats[1].orientationCode = 2;
    auto result = PrintPages(driverPath_, dm, 3, [&](HDC dc, int page) { DrawShapes(dc, 150, page); }, false);
    ASSERT_TRUE(result.enabled);
    EXPECT_TRUE(result.endDocOk);
    const pclread::Job job = pclread::Read(result.job);
    EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors.front());
    ASSERT_EQ(job.xl.pages.size(), 2u);
    auto halves = [](const GreyPage& sheet) {
        std::array<int64_t, 2> ink{};
        const bool wide = sheet.width >= sheet.height;
        for (int32_t y = 0; y < sheet.height; ++y)
            for (int32_t x = 0; x < sheet.width; ++x)
                if (sheet.At(x, y) < 128) ++ink[wide ? (x >= sheet.width / 2) : (y >= sheet.height / 2)];
        return ink;
    };
    const auto first = halves(job.xl.pages[0]), second = halves(job.xl.pages[1]);
    EXPECT_GT(first[0], 1000);
    EXPECT_GT(first[1], 1000);
    EXPECT_GT(job.xl.pages[0].width, job.xl.pages[0].height) << "a landscape sheet";
    EXPECT_GT(second[0], 1000);
    EXPECT_LT(second[1], 100) << "the last sheet holds one page";
}

TEST_F(XlPrintTest, DuplexJobsAlternateSides) {
    auto dm = XlLetter(150);
    dm.dm.dmDuplex = DMDUP_VERTICAL;
    dm.duplexOptions = 2;
    auto result = PrintPages(driverPath_, dm, 3, [&](HDC dc, int page) { DrawShapes(dc, 150, page); }, false);
    ASSERT_TRUE(result.enabled);
    const pclread::Job job = pclread::Read(result.job);
    EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors.front());
    EXPECT_EQ(job.xl.pages.size(), 3u);
    const std::string text(result.job.begin(), result.job.end());
    const std::string front("\xC0\x00\xF8\x36\x43", 5), back("\xC0\x01\xF8\x36\x43", 5);
    size_t fronts = 0, backs = 0;
    for (size_t at = 0; (at = text.find(front, at)) != std::string::npos; ++at) ++fronts;
    for (size_t at = 0; (at = text.find(back, at)) != std::string::npos; ++at) ++backs;
    EXPECT_EQ(fronts, 2u);
    EXPECT_EQ(backs, 1u);
    const std::string gpcl6 = Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found";
    EXPECT_EQ(RunGpcl6(gpcl6, result.job, 150, "duplex").size(), 3u) << "three pages, no error page";
}

// A pattern brush of an 8-bit picture goes to the printer as its own bits
// and palette (an indexed raster pattern of its size, defined once for the
// page), which the printer halftones: the fills match the engine's render as
// tone.
TEST_F(XlPrintTest, PatternBrushesKeepTheirOwnBits) {
    constexpr int dpi = 150;
    // An 8 x 8 picture of four greys in packed DIB form (header, palette, rows).
    std::vector<uint8_t> dib(40 + 4 * 256 + 64, 0);
    const int32_t header[] = {40, 8, 8};
    std::memcpy(dib.data(), header, sizeof header);
    dib[12] = 1;  // planes
    dib[14] = 8;  // bits per pixel
    const uint8_t greys[] = {0, 96, 160, 255};
    for (int i = 0; i < 4; ++i) std::memset(&dib[40 + 4 * i], greys[i], 3);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) dib[40 + 4 * 256 + y * 8 + x] = static_cast<uint8_t>((x / 2 + y / 4) % 4);
    auto result = PrintPages(driverPath_, XlLetter(dpi), 1, [&](HDC dc, int) {
        HBRUSH brush = CreateDIBPatternBrushPt(dib.data(), DIB_RGB_COLORS);
        HGDIOBJ old = SelectObject(dc, brush);
        PatBlt(dc, 100, 100, 400, 300, PATCOPY);
        Rectangle(dc, 100, 500, 500, 900);
        SelectObject(dc, old);
        DeleteObject(brush);
    });
    ASSERT_TRUE(result.enabled);
    const pclread::Job job = pclread::Read(result.job);
    EXPECT_TRUE(job.Ok()) << ErrorText(job);
    const auto patterns = job.xl.operatorCounts.find("BeginRastPattern");
    ASSERT_NE(patterns, job.xl.operatorCounts.end());
    EXPECT_EQ(patterns->second, 1u) << "one pattern for the page";
    const std::string text(result.job.begin(), result.job.end());
    const std::string indexed8("\xC0\x01\xF8\x64\xC0\x02\xF8\x62\xC1\x08\x00\xF8\x6C\xC1\x08\x00\xF8\x6B", 18);
    EXPECT_NE(text.find(indexed8), std::string::npos) << "an 8 x 8 indexed pattern of 8 bits";
    ASSERT_EQ(job.xl.pages.size(), 1u);
    ASSERT_EQ(result.reference.size(), 1u);
    const auto m = Compare(job.xl.pages[0], result.reference[0], dpi / 6, job.xl.pages[0]);
    EXPECT_LE(m.worstTone, pclread::kToneBound) << pclread::Verdict(m);
    EXPECT_GT(m.expectedInk, 100);
    const std::string gpcl6 = Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found: judged by the reader only";
    const auto printed = RunGpcl6(gpcl6, result.job, dpi, "keptbrush");
    ASSERT_EQ(printed.size(), 1u);
    const auto g = Compare(printed[0], result.reference[0], dpi / 6, job.xl.pages[0]);
    EXPECT_LE(g.worstTone, pclread::kToneBound) << "gpcl6: " << pclread::Verdict(g);
}

TEST_F(XlPrintTest, AFailedWriteLosesTheDocument) {
    for (auto fault : {zq::store::WriteFault::Fail, zq::store::WriteFault::Short}) {
        zq::store::SetWritePrinterFault(fault, fault == zq::store::WriteFault::Fail ? 3000 : 100);
        auto result = PrintPages(driverPath_, XlLetter(300), 2, [&](HDC dc, int page) { DrawShapes(dc, 300, page); }, false);
        EXPECT_TRUE(result.enabled);
        EXPECT_FALSE(result.endDocOk);
        // A refused write keeps its own error; a short one loses the document.
        const DWORD error = fault == zq::store::WriteFault::Fail ? DWORD{ERROR_NO_SPOOL_SPACE} : 63u;
        EXPECT_EQ(GetLastError(), error) << "the document was lost";
        // The page whose output could not be written fails; a refused write
        // with the spooler's own error (a short one is lost at the job
        // header already, before any page reaches the driver).
        EXPECT_FALSE(result.pagesOk) << "a page whose bytes were lost was reported sent";
        if (fault == zq::store::WriteFault::Fail) {
            EXPECT_EQ(result.pageError, error);
        }
        if (fault == zq::store::WriteFault::Fail) {
            EXPECT_LE(result.job.size(), 3000u) << "later output dropped";
        }
    }
}

// The sample documents printed the way `zq print` prints them, on the XL
// model's own record: 1-up, 2-up and 4-up, simplex and duplex, at 300, 600
// and 1200 dpi (1200 on a postcard sheet to keep the pages small). Each
// sheet decoded by the reader, and as gpcl6 prints it, must be the engine's
// reference pages placed on the sheet: 1-up at the printable corner, ink
// within a pixel of the reference's and every 16 x 16 block's mean grey
// within the tone bound; n-up each page scaled into the cell the job places
// it in, judged by tone, the cells inside the sheet, apart and uniformly
// scaled.
struct XlSampleCase {
    const char* name;
    std::vector<const char*> samples;  // one page each, in order
    int dpi;
    uint8_t nupChoice;  // 0 one page a sheet, 1 two, 3 four
    bool duplex;
    bool postcard;
};

const XlSampleCase kXlSamples[] = {
    {"shapes_clip_300", {"shapes", "clip"}, 300, 0, false, false},
    {"shapes_600", {"shapes"}, 600, 0, false, false},
    {"clip_600", {"clip"}, 600, 0, false, false},
    {"clip_text_300_4up", {"clip", "text", "clip", "photo"}, 300, 3, false, false},
    {"shapes_clip_300_2up", {"shapes", "clip"}, 300, 1, false, false},
    {"shapes_text_300_4up", {"shapes", "text", "shapes"}, 300, 3, false, false},
    {"text_photo_300", {"text", "photo"}, 300, 0, false, false},
    {"text_photo_300_duplex", {"photo", "text", "photo"}, 300, 0, true, false},
    {"text_photo_300_2up", {"text", "photo", "text"}, 300, 1, false, false},
    {"text_photo_300_4up_duplex", {"text", "photo", "text", "photo", "text"}, 300, 3, true, false},
    {"text_600", {"text"}, 600, 0, false, false},
    {"photo_600_duplex", {"photo", "photo"}, 600, 0, true, false},
    {"text_photo_600_2up", {"text", "photo"}, 600, 1, false, false},
    {"text_1200_postcard", {"text"}, 1200, 0, false, true},
    {"photo_1200_postcard", {"photo"}, 1200, 0, false, true},
    {"clip_1200_postcard", {"clip"}, 1200, 0, false, true},
};

constexpr int kScaledToneBound = 72;

class XlSamplePrintTest : public PrinterTest, public ::testing::WithParamInterface<XlSampleCase> {};

TEST_P(XlSamplePrintTest, SheetsAreTheReferencePagesPlacedOnThem) {
    const XlSampleCase& c = GetParam();
    const std::vector<uint8_t> emf = SampleDocument(c.samples);
    ASSERT_FALSE(emf.empty()) << "the samples cannot be read (ZQ_SOURCE_DIR)";
    auto dm = XlLetter(c.dpi);
    if (c.postcard) Postcard(dm, c.dpi);
    dm.pagesPerSheet = c.nupChoice;
    if (c.nupChoice == 1) dm.paperFormats[1].orientationCode = 2;  // two portrait pages across a landscape sheet
    if (c.duplex) {
        dm.dm.dmDuplex = DMDUP_VERTICAL;
        dm.duplexOptions = 2;
    }
    const std::string png = (root_ / "reference-%d.png").string();
    const auto result = zq::emf::PrintDocument(u"Mono", emf, u"samples", &dm.dm, png);
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.stats.failed, 0u);
    ASSERT_EQ(result.pages, c.samples.size());
    const auto bytes = ReadAll(zq::store::JobFile(result.outputJob));
    if (const char* dir = std::getenv("ZQ_XL_DUMP_DIR")) {
        std::ofstream(std::string(dir) + "/" + c.name + ".pcl", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const pclread::Job job = pclread::Read(bytes);
    EXPECT_TRUE(job.Ok()) << ErrorText(job);
    const size_t perSheet = c.nupChoice == 0 ? 1 : c.nupChoice == 1 ? 2 : 4;
    const size_t sheets = (c.samples.size() + perSheet - 1) / perSheet;
    ASSERT_EQ(job.xl.pages.size(), sheets);
    if (perSheet > 1) {
        ASSERT_EQ(job.xl.placements.size(), c.samples.size()) << "each page placed in its cell";
    }

    std::vector<pclread::Grey> expected;
    for (const auto& sheet : job.xl.pages) expected.emplace_back(sheet.width, sheet.height);
    const auto& g = dm.paperFormats[0];
    for (size_t i = 0; i < c.samples.size(); ++i) {
        const auto reference = pclread::ReadGreyPng(zq::emf::PagePath(png, i + 1));
        ASSERT_TRUE(reference) << "reference of page " << i + 1;
        pclread::Grey& sheet = expected[i / perSheet];
        if (perSheet == 1) {
            Overlay(sheet, *reference, g.usedLeftMargin, g.usedTopMargin);
            continue;
        }
        const auto& at = job.xl.placements[i];
        EXPECT_EQ(at.sheet, i / perSheet);
        EXPECT_NEAR(at.scaleX, at.scaleY, 0.02) << "page " << i + 1 << " keeps its aspect";
        const auto scaled = pclread::Scale(*reference, at.scaleX, at.scaleY);
        const int32_t x = static_cast<int32_t>(std::lround(at.originX)), y = static_cast<int32_t>(std::lround(at.originY));
        EXPECT_GE(x, 0);
        EXPECT_GE(y, 0);
        EXPECT_LE(x + scaled.width, sheet.width + 1) << "page " << i + 1 << " on its sheet";
        EXPECT_LE(y + scaled.height, sheet.height + 1) << "page " << i + 1 << " on its sheet";
        if (i % perSheet) {
            // Apart from the page before it on the sheet.
            const auto& before = job.xl.placements[i - 1];
            const bool apart = std::lround(before.originX + reference->width * before.scaleX) <= x + 1 ||
                               std::lround(before.originY + reference->height * before.scaleY) <= y + 1;
            EXPECT_TRUE(apart) << "page " << i + 1 << " overlaps the page before it";
        }
        Overlay(sheet, scaled, x, y);
    }
    const std::string gpcl6 = Gpcl6Path();
    std::vector<GreyPage> printed;
    if (!gpcl6.empty()) {
        printed = RunGpcl6(gpcl6, bytes, c.dpi, c.name);
        EXPECT_EQ(printed.size(), sheets) << "the interpreter prints every sheet, no error page";
    }
    for (size_t s = 0; s < sheets; ++s) {
        const pclread::Grey decoded = pclread::ToGrey(job.xl.pages[s]);
        const auto blocks = pclread::GreyBlocks(decoded);
        auto judge = [&](const pclread::Grey& sheet, const char* who) {
            const auto m = pclread::MatchSheet(sheet, expected[s], blocks);
            ASSERT_TRUE(m) << who << ", sheet " << s + 1 << ": " << sheet.width << "x" << sheet.height << " against "
                           << expected[s].width << "x" << expected[s].height;
            EXPECT_GT(m->expectedInk, 1000);
            // Text drawn at half size or less is runs thinner than a pixel,
            // which the interpreter inks wherever they touch a pixel: its
            // scaled pages take a wider bound.
            const int bound = perSheet > 1 && std::string(who) == "gpcl6" ? kScaledToneBound : pclread::kToneBound;
            EXPECT_LE(m->worstTone, bound) << who << ", sheet " << s + 1 << ": " << pclread::Verdict(*m);
            // Scaled pages have no pixel edges to hold to: their ink is judged as tone.
            if (perSheet == 1) {
                EXPECT_EQ(m->extra + m->missing, 0) << who << ", sheet " << s + 1 << ": " << pclread::Verdict(*m);
            }
            if (const char* dir = std::getenv("ZQ_XL_DUMP_DIR")) {
                const std::string stem = std::string(dir) + "/" + c.name + "-" + std::to_string(s + 1);
                pclread::WriteGreyPng(expected[s], stem + "-expected.png");
                pclread::WriteGreyPng(sheet, stem + "-" + who + ".png");
            }
        };
        judge(decoded, "reader");
        if (s < printed.size()) judge(Upright(pclread::ToGrey(printed[s]), decoded), "gpcl6");
    }
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found: judged by the reader only";
}

INSTANTIATE_TEST_SUITE_P(Samples, XlSamplePrintTest, ::testing::ValuesIn(kXlSamples),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
