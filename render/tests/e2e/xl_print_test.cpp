// Documents printed through pclrend in PCL XL, read back with the test-side
// reader and rendered by the independent interpreter, compared with the
// engine's own render of the same pages placed at the printable corner.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

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

// Black pixels of a sheet that the reference has nowhere within one pixel
// (and the other way round): ink more than a pixel away from its edges.
struct Mismatch {
    int64_t extra = 0, missing = 0, referenceInk = 0;
};

template <typename Sheet>
Mismatch Compare(const Sheet& sheet, zq::gdi::Bitmap& reference, int offset) {
    Mismatch m;
    zq::gdi::Surface* s = reference.Get();
    if (!s) return m;
    const LONG w = s->sizlBitmap.cx, h = s->sizlBitmap.cy;
    std::vector<uint8_t> ref(static_cast<size_t>(w) * h);
    for (LONG y = 0; y < h; ++y)
        for (LONG x = 0; x < w; ++x) ref[static_cast<size_t>(y) * w + x] = s->Pal().ToRgb(s->Pixel(x, y)) == 0;
    auto refAt = [&](LONG x, LONG y) { return x >= 0 && y >= 0 && x < w && y < h && ref[static_cast<size_t>(y) * w + x]; };
    auto inkAt = [&](LONG x, LONG y) {
        const LONG sx = x + offset, sy = y + offset;
        return sx >= 0 && sy >= 0 && sx < sheet.width && sy < sheet.height && sheet.At(sx, sy) < 128;
    };
    auto near = [](auto at, LONG x, LONG y) {
        for (LONG dy = -1; dy <= 1; ++dy)
            for (LONG dx = -1; dx <= 1; ++dx)
                if (at(x + dx, y + dy)) return true;
        return false;
    };
    if (const char* dump = std::getenv("ZQ_XL_DUMP")) {
        std::ofstream out(dump, std::ios::binary);
        out << "P5\n" << w << " " << h << "\n255\n";
        for (LONG y = 0; y < h; ++y)
            for (LONG x = 0; x < w; ++x) out.put(static_cast<char>(refAt(x, y) ? (inkAt(x, y) ? 0 : 80) : inkAt(x, y) ? 160 : 255));
    }
    for (LONG y = 0; y < h; ++y)
        for (LONG x = 0; x < w; ++x) {
            const bool r = refAt(x, y), i = inkAt(x, y);
            m.referenceInk += r;
            if (i && !r && !near(refAt, x, y)) ++m.extra;
            if (r && !i && !near(inkAt, x, y)) ++m.missing;
        }
    return m;
}

TEST_F(XlPrintTest, PagesReadBackAsTheReferenceRenderOnTheSheet) {
    constexpr int dpi = 300;
    auto result = PrintPages(driverPath_, XlLetter(dpi), 2, [&](HDC dc, int page) { DrawShapes(dc, dpi, page); });
    ASSERT_TRUE(result.enabled) << "enable refused PCL XL: " << GetLastError();
    EXPECT_TRUE(result.pagesOk);
    EXPECT_TRUE(result.endDocOk);
    const pclread::Job job = pclread::Read(result.job);
    std::string errors;
    for (const auto& e : job.errors) errors += e + "\n";
    EXPECT_TRUE(job.Ok()) << errors;
    ASSERT_EQ(job.xl.pages.size(), 2u);
    ASSERT_EQ(result.reference.size(), 2u);
    const std::string gpcl6 = Gpcl6Path();
    std::vector<GreyPage> judged;
    if (!gpcl6.empty()) judged = RunGpcl6(gpcl6, result.job, dpi, "xlprint");
    for (size_t p = 0; p < 2; ++p) {
        const Mismatch m = Compare(job.xl.pages[p], result.reference[p], dpi / 6);
        EXPECT_GT(m.referenceInk, 1000);
        EXPECT_LE(m.extra + m.missing, m.referenceInk / 100) << "reader, page " << p << ": extra " << m.extra << ", missing " << m.missing;
        if (gpcl6.empty()) continue;
        ASSERT_EQ(judged.size(), 2u);
        const Mismatch g = Compare(judged[p], result.reference[p], dpi / 6);
        EXPECT_LE(g.extra + g.missing, g.referenceInk / 100) << "gpcl6, page " << p << ": extra " << g.extra << ", missing " << g.missing;
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
    const Mismatch m = Compare(job.xl.pages[0], result.reference[0], dpi / 6);
    EXPECT_LE(m.extra + m.missing, m.referenceInk / 100) << "extra " << m.extra << ", missing " << m.missing;
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

TEST_F(XlPrintTest, AFailedWriteLosesTheDocument) {
    for (auto fault : {zq::store::WriteFault::Fail, zq::store::WriteFault::Short}) {
        zq::store::SetWritePrinterFault(fault, fault == zq::store::WriteFault::Fail ? 3000 : 100);
        auto result = PrintPages(driverPath_, XlLetter(300), 2, [&](HDC dc, int page) { DrawShapes(dc, 300, page); }, false);
        EXPECT_TRUE(result.enabled);
        EXPECT_FALSE(result.endDocOk);
        // A refused write keeps its own error; a short one loses the document.
        EXPECT_EQ(GetLastError(), fault == zq::store::WriteFault::Fail ? DWORD{ERROR_NO_SPOOL_SPACE} : 63u)
            << "the document was lost";
        if (fault == zq::store::WriteFault::Fail) {
            EXPECT_LE(result.job.size(), 3000u) << "later output dropped";
        }
    }
}

}  // namespace
