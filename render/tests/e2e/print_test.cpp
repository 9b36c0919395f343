// Documents printed through pclrend on a language-0 printer of a fresh
// system root, decoded with the test-side reader and compared pixel for
// pixel with the engine's own unbanded render of the same pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/diag.h"
#include "base/locale.h"
#include "gdi/engine.h"
#include "render/brush.h"
#include "render/tests/e2e/print_support.h"
#include "testing/fresh_root.h"

namespace {

using namespace pclrend::testing;

class PrintTest : public PrinterTest {
protected:
    PrintResult Print(zq::PrivateDevmode dm, int pages, const std::function<void(HDC, int)>& draw) {
        auto result = PrintPages(driverPath_, dm, pages, draw);
        EXPECT_TRUE(result.enabled) << "enable failed: " << GetLastError();
        return result;
    }

    // The reference render as a page of the reader's form (1 = black).
    static pclread::Page AsPage(zq::gdi::Bitmap& reference) {
        pclread::Page page;
        zq::gdi::Surface* s = reference.Get();
        if (!s) return page;
        page.width = s->sizlBitmap.cx;
        page.height = s->sizlBitmap.cy;
        page.stride = (page.width + 7) / 8;
        page.bits.assign(static_cast<size_t>(page.stride) * page.height, 0);
        const bool fast = s->iBitmapFormat == BMF_1BPP;
        const bool zeroIsBlack = s->Pal().ToRgb(0) == 0;
        for (LONG y = 0; y < page.height; ++y) {
            uint8_t* out = page.bits.data() + static_cast<size_t>(y) * page.stride;
            if (fast) {
                const BYTE* row = s->Row(y);
                for (LONG i = 0; i < page.stride; ++i) out[i] = zeroIsBlack ? static_cast<uint8_t>(~row[i]) : row[i];
                if (page.width % 8) out[page.stride - 1] &= static_cast<uint8_t>(0xFF00 >> (page.width % 8));
                continue;
            }
            for (LONG x = 0; x < page.width; ++x)
                if (s->Pal().ToRgb(s->Pixel(x, y)) == 0) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        return page;
    }

    static int64_t Differences(const pclread::Page& page, zq::gdi::Bitmap& reference, const std::string& dump) {
        const pclread::Page ref = AsPage(reference);
        const int64_t wrong = pclread::Differences(page, ref);
        if (const char* dir = std::getenv("ZQ_RENDER_DUMP"); dir && wrong) {
            pclread::WritePng(page, std::string(dir) + "/" + dump + "-decoded.png");
            pclread::WritePng(ref, std::string(dir) + "/" + dump + "-reference.png");
        }
        return wrong;
    }

};

TEST_F(PrintTest, DecodedPagesEqualTheReferenceRender) {
    for (int dpi : {300, 600, 1200}) {
        SCOPED_TRACE(dpi);
        auto dm = Letter(dpi);
        const size_t pages = dpi == 1200 ? 1 : 2;  // the largest pages are slow to draw twice
        auto result = Print(dm, static_cast<int>(pages), [&](HDC dc, int page) { DrawShapes(dc, dpi, page); });
        EXPECT_TRUE(result.pagesOk);
        EXPECT_TRUE(result.endDocOk);
        pclread::Options options;
        options.pageWidth = dm.paperFormats[0].printableWidth;
        options.pageHeight = dm.paperFormats[0].printableLength;
        auto job = pclread::Read(result.job, options);
        EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors.front());
        ASSERT_EQ(job.pages.size(), pages);
        ASSERT_EQ(result.reference.size(), pages);
        for (size_t p = 0; p < pages; ++p) {
            EXPECT_GT(job.pages[p].BlackCount(), 1000);
            EXPECT_EQ(Differences(job.pages[p], result.reference[p], std::to_string(dpi) + "-" + std::to_string(p)), 0) << "page " << p;
        }
        // Several bands went into the page (the seams are part of the check).
        size_t rasterStarts = 0;
        for (const auto& c : job.commands) rasterStarts += c.prefix == "*r" && c.terminator == 'A';
        if (dpi >= 600) {
            EXPECT_GE(rasterStarts, 4u);
        }
        EXPECT_EQ(job.uelCount, 2u);
        EXPECT_EQ(job.formFeeds, pages);
    }
}

TEST_F(PrintTest, GreyFillsUseTheDriversDither) {
    // A grey rectangle across band seams prints the driver's 32 x 32 pattern
    // tiled from the page's origin, without a break at the seams.
    const int dpi = 600;
    auto dm = Letter(dpi);
    const RECT box{100, 100, 2000, 4000};
    auto result = Print(dm, 1, [&](HDC dc, int) {
        HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128));
        FillRect(dc, &box, grey);
        DeleteObject(grey);
    });
    pclread::Options options;
    options.pageWidth = dm.paperFormats[0].printableWidth;
    options.pageHeight = dm.paperFormats[0].printableLength;
    auto job = pclread::Read(result.job, options);
    ASSERT_EQ(job.pages.size(), 1u);
    const auto& page = job.pages[0];
    // Ask the driver for its pattern of that colour, as the engine does.
    auto driver = zq::gdi::Driver::Load(driverPath_.string());
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Mono"), &printer, nullptr));
    auto device = zq::gdi::Device::Enable(driver, &dm.dm, u"Mono", u"", printer);
    ASSERT_TRUE(device);
    auto pattern = device->DitherColor(RGB(128, 128, 128));
    ASSERT_TRUE(pattern);
    int64_t wrong = 0, black = 0;
    for (LONG y = box.top; y < box.bottom; ++y)
        for (LONG x = box.left; x < box.right; ++x) {
            const bool want = pattern->Get()->Pixel(x % 32, y % 32) == 0;
            wrong += want != page.Black(x, y);
            black += want;
        }
    EXPECT_GT(black, 0);
    EXPECT_EQ(wrong, 0);
    device.reset();
    ClosePrinter(printer);
}

TEST_F(PrintTest, AFailedWriteLosesTheDocument) {
    zq::store::SetWritePrinterFault(zq::store::WriteFault::Fail, 3000);
    auto result = Print(Letter(300), 2, [&](HDC dc, int page) { DrawShapes(dc, 300, page); });
    EXPECT_FALSE(result.endDocOk);
    EXPECT_LE(result.job.size(), 3000u);
}

TEST_F(PrintTest, EnableRefusesAnotherDevmodeVersion) {
    auto dm = Letter(300);
    dm.privateVersion = 565;
    auto driver = zq::gdi::Driver::Load(driverPath_.string());
    ASSERT_TRUE(driver);
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Mono"), &printer, nullptr));
    EXPECT_EQ(zq::gdi::Device::Enable(driver, &dm.dm, u"Mono", u"", printer), nullptr);
    ClosePrinter(printer);
}

// Pages this build cannot draw (colour pictures in HP-GL/2 pages) are
// refused at StartDoc, never printed blank; a
// booklet on a printer with a duplex unit stays in the raster language, one
// page a sheet bound at the short edge, and prints.
TEST_F(PrintTest, StartDocRefusesWhatThisBuildCannotDraw) {
    struct Case {
        const char* name;
        void (*setup)(zq::PrivateDevmode&);
        bool prints;
    } const cases[] = {
        {"colour pages in PCL 5 with HP-GL/2",
         [](zq::PrivateDevmode& dm) {
             dm.printerLanguage = 1;
             dm.dm.dmColor = DMCOLOR_COLOR;
         },
         false},
        {"booklet on a duplex unit",
         [](zq::PrivateDevmode& dm) {
             dm.option1081 = 1;
             dm.duplexOptions = 1;
             dm.pagesPerSheet = 3;
         },
         true},
    };
    for (const auto& c : cases) {
        auto dm = Letter(300);
        c.setup(dm);
        zq::DiagCapture diag;
        auto result = Print(dm, 2, [&](HDC dc, int page) { DrawShapes(dc, 300, page); });
        EXPECT_EQ(result.pagesOk, c.prints) << c.name;
        EXPECT_EQ(result.endDocOk, c.prints) << c.name;
        EXPECT_EQ(diag.Matching("StartDoc refused").empty(), c.prints) << c.name;
        pclread::Options options;
        options.pageWidth = dm.paperFormats[0].printableWidth;
        options.pageHeight = dm.paperFormats[0].printableLength;
        const auto read = pclread::Read(result.job, options);
        if (!c.prints) {
            EXPECT_TRUE(read.pages.empty()) << c.name << ": no page may be reported as printed";
            continue;
        }
        EXPECT_TRUE(read.Ok()) << c.name;
        ASSERT_EQ(read.pages.size(), 2u) << c.name;
        for (size_t i = 0; i < 2; ++i) EXPECT_EQ(Differences(read.pages[i], result.reference[i], "booklet"), 0) << c.name;
        const std::string job(result.job.begin(), result.job.end());
        EXPECT_NE(job.find("\x1b&l2S"), std::string::npos) << c.name << ": short-edge duplex";
    }
}

// The document name in the system's code page reaches the printer's panel
// whole: the held job's name decodes to the name the application gave.
TEST_F(PrintTest, HeldJobNameInTheSystemsCodePage) {
    const zq::LocaleSettings saved = zq::CurrentLocaleSettings();
    zq::LocaleSettings cyrillic = saved;
    cyrillic.ansiCodePage = 1251;
    zq::SetLocaleSettings(cyrillic);
    auto dm = Letter(300);
    dm.model.flags400 |= 0x400;
    dm.printerCopies = 1;
    auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int page) { DrawShapes(dc, 300, page); }, false,
                             u"Отчёт за квартал");
    zq::SetLocaleSettings(saved);
    const auto read = pclread::Read(result.job);
    EXPECT_TRUE(read.Ok());
    const std::string prefix = "@PJL SET JOBNAME = \"";
    auto line = std::find_if(read.pjl.begin(), read.pjl.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    ASSERT_NE(line, read.pjl.end());
    // The same name in ISO 8859-5, the printer's Cyrillic encoding.
    EXPECT_EQ(*line, prefix + "\xBE\xE2\xE7\xF1\xE2 \xD7\xD0 \xDA\xD2\xD0\xE0\xE2\xD0\xDB\"");
}

// Deep pattern pixels become colours through the colour translation, with
// the bit fields the source has, not one layout assumed for every 16-bit
// pattern.
TEST(PatternPixels, DeepPixelsThroughTheTranslation) {
    using zq::gdi::EngineXlate;
    using zq::gdi::Palette;
    Palette bits565;
    bits565.mode = PAL_BITFIELDS;
    bits565.red = 0xF800;
    bits565.green = 0x07E0;
    bits565.blue = 0x001F;
    Palette rgb;
    rgb.mode = PAL_RGB;
    Palette bgr;
    bgr.mode = PAL_BGR;
    Palette mono;
    mono.mode = PAL_INDEXED;
    mono.entries = {0x000000, 0xFFFFFF};
    EngineXlate toRgb(bits565, rgb), toMono(bits565, mono), bgrToMono(bgr, mono), bgrToBgr(bgr, bgr);
    struct Case {
        const char* name;
        XLATEOBJ* xlate;
        ULONG format;
        uint32_t pixel;
        uint32_t rgb;
    } const cases[] = {
        {"5-6-5 red", &toRgb, BMF_16BPP, 0xF800, 0x0000FF},
        {"5-6-5 green", &toRgb, BMF_16BPP, 0x07E0, 0x00FF00},
        {"5-6-5 blue", &toRgb, BMF_16BPP, 0x001F, 0xFF0000},
        {"5-6-5 white to a one-bit device", &toMono, BMF_16BPP, 0xFFFF, 0xFFFFFF},
        {"5-6-5 black to a one-bit device", &toMono, BMF_16BPP, 0x0000, 0x000000},
        {"24-bit grey keeps its grey", &bgrToMono, BMF_24BPP, 0x808080, 0x808080},
        {"24-bit orange", &bgrToBgr, BMF_24BPP, 0xFF8000, 0x0080FF},
        {"no translation: 5-5-5", nullptr, BMF_16BPP, 0x7C00, 0x0000FF},
        {"no translation: 32-bit", nullptr, BMF_32BPP, 0x00FF8000, 0x0080FF},
    };
    for (const auto& c : cases) EXPECT_EQ(pclrend::DeepPixelToRgb(c.xlate, c.format, c.pixel), c.rgb) << c.name;
}

}  // namespace

#include <dlfcn.h>

namespace {

TEST(DriverEntry, HookTableAndVersionChecks) {
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    void* module = dlopen((std::string(bin) + "/lib/pclrend.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto enable = reinterpret_cast<PFN_DrvEnableDriver>(dlsym(module, "DrvEnableDriver"));
    auto query = reinterpret_cast<BOOL (*)(DWORD, PVOID, DWORD, PDWORD)>(dlsym(module, "DrvQueryDriverInfo"));
    auto disable = reinterpret_cast<PFN_DrvDisableDriver>(dlsym(module, "DrvDisableDriver"));
    ASSERT_TRUE(enable && query && disable && dlsym(module, "DllEntryPoint"));

    DRVENABLEDATA data{};
    SetLastError(0);
    EXPECT_FALSE(enable(0x10000, sizeof data, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_CATEGORY);
    EXPECT_FALSE(enable(ENGINE_VERSION, 8, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_CATEGORY);
    ASSERT_TRUE(enable(ENGINE_VERSION, sizeof data, &data));
    EXPECT_EQ(data.iDriverVersion, 0x20000u);
    ASSERT_EQ(data.c, 30u);
    const ULONG order[30] = {0, 7, 1, 2, 3, 4, 18, 20, 69, 19, 23, 26, 27, 28, 32,
                             14, 15, 16, 12, 33, 35, 24, 34, 37, 53, 42, 13, 57, 58, 62};
    for (ULONG i = 0; i < 30; ++i) {
        EXPECT_EQ(data.pdrvfn[i].iFunc, order[i]) << i;
        EXPECT_NE(data.pdrvfn[i].pfn, nullptr) << i;
    }

    DWORD value = 0, needed = 0;
    EXPECT_TRUE(query(1, &value, 4, &needed));
    EXPECT_EQ(value, 1u);
    EXPECT_FALSE(query(2, &value, 4, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_CATEGORY);
    EXPECT_FALSE(query(1, &value, 2, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, 4u);
    disable();
    dlclose(module);
}

}  // namespace
