// Documents printed through pclrend in PCL XL, read back with the test-side
// reader and rendered by the independent interpreter, compared with the
// engine's own render of the same pages placed at the printable corner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"
#include "testing/fresh_root.h"

namespace {

using namespace pclrend::testing;

class XlPrintTest : public zq::testing::FreshRoot {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        zq::store::SetWritePrinterFault(zq::store::WriteFault::None);
        driverPath_ = InstallPrinter();
        ASSERT_FALSE(driverPath_.empty());
    }
    void TearDown() override {
        zq::store::SetWritePrinterFault(zq::store::WriteFault::None);
        FreshRoot::TearDown();
    }
    std::filesystem::path driverPath_;
};

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

TEST_F(XlPrintTest, AFailedWriteLosesTheDocument) {
    for (auto fault : {zq::store::WriteFault::Fail, zq::store::WriteFault::Short}) {
        zq::store::SetWritePrinterFault(fault, fault == zq::store::WriteFault::Fail ? 3000 : 100);
        auto result = PrintPages(driverPath_, XlLetter(300), 2, [&](HDC dc, int page) { DrawShapes(dc, 300, page); }, false);
        EXPECT_TRUE(result.enabled);
        EXPECT_FALSE(result.endDocOk);
        EXPECT_EQ(GetLastError(), 63u) << "the document was lost";
        if (fault == zq::store::WriteFault::Fail) {
            EXPECT_LE(result.job.size(), 3000u) << "later output dropped";
        }
    }
}

}  // namespace
