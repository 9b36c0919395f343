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
#include <span>
#include <string>
#include <vector>

#include "base/diag.h"
#include "base/locale.h"
#include "gdi/engine.h"
#include "pclread/judge.h"
#include "render/brush.h"
#include "render/halftone.h"
#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"
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
        const pclread::Options options = PrintableArea(dm);
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
    const pclread::Options options = PrintableArea(dm);
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
        // Colour images in PCL 5 are built: such documents print.
        {"colour pages in PCL 5 with HP-GL/2",
         [](zq::PrivateDevmode& dm) {
             dm.printerLanguage = 1;
             dm.dm.dmColor = DMCOLOR_COLOR;
         },
         true},
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
        const pclread::Options options = PrintableArea(dm);
        const auto read = pclread::Read(result.job, options);
        if (!c.prints) {
            EXPECT_TRUE(read.pages.empty()) << c.name << ": no page may be reported as printed";
            continue;
        }
        EXPECT_TRUE(read.Ok()) << c.name;
        ASSERT_EQ(read.pages.size(), 2u) << c.name;
        if (dm.printerLanguage == 1) continue;  // its pictures are halftoned by the engine's rules
        for (size_t i = 0; i < 2; ++i) EXPECT_EQ(Differences(read.pages[i], result.reference[i], "booklet"), 0) << c.name;
        const std::string job(result.job.begin(), result.job.end());
        EXPECT_NE(job.find("\x1b&l2S"), std::string::npos) << c.name << ": short-edge duplex";
    }
}

// The job read on pages of the record's printable size.
pclread::Job ReadOnPage(const zq::PrivateDevmode& dm, const std::vector<uint8_t>& job) {
    const pclread::Options options = PrintableArea(dm);
    return pclread::Read(job, options);
}

// Grey rectangles on the raster route go as PCL pattern fills where the band
// still shows the grey as the engine drew it, and stay in the band's raster
// where anything was drawn over them since (ink or white); the page is the
// engine's either way.
TEST_F(PrintTest, GreyRectanglesGoAsPatternFillsOnlyWhereNothingCoversThem) {
    struct Case {
        const char* name;
        int cover;  // 0 nothing, 1 a black line across, 2 a white box over a corner
        size_t fills;
    } const cases[] = {{"alone", 0, 2}, {"a line across one", 1, 1}, {"white over a corner of one", 2, 1}};
    for (const auto& c : cases) {
        auto dm = Letter(300);
        auto result = Print(dm, 1, [&](HDC dc, int) {
            HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128)), light = CreateSolidBrush(RGB(200, 200, 200));
            const RECT a{100, 100, 700, 400}, b{150, 900, 400, 1300};
            FillRect(dc, &a, grey);
            FillRect(dc, &b, light);
            if (c.cover == 1) {
                MoveToEx(dc, 50, 50, nullptr);
                LineTo(dc, 800, 500);
            } else if (c.cover == 2) {
                const RECT corner{600, 350, 750, 450};
                FillRect(dc, &corner, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            }
            DeleteObject(grey);
            DeleteObject(light);
        });
        ASSERT_TRUE(result.pagesOk) << c.name;
        auto job = ReadOnPage(dm, result.job);
        ASSERT_TRUE(job.Ok()) << c.name << ": " << job.errors.front();
        ASSERT_EQ(job.pages.size(), 1u);
        size_t fills = 0;
        for (const auto& cmd : job.commands) fills += cmd.prefix == "*c" && cmd.terminator == 'P' && cmd.value == "5";
        EXPECT_EQ(fills, c.fills) << c.name;
        EXPECT_EQ(Differences(job.pages[0], result.reference[0], std::string("grey-") + std::to_string(c.cover)), 0) << c.name;
    }
}

// A picture of `bits` bits a pixel (1, 4, 8: through a palette of distinct
// colours; 16 as 5-5-5, 24 and 32 as blue, green, red), w x h, each pixel
// a colour of its position.
struct Picture {
    std::vector<uint8_t> info;  // BITMAPINFO with its colours
    std::vector<uint8_t> bits;
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(info.data()); }
};
Picture MakePicture(int bits, int w, int h) {
    Picture p;
    const int colours = bits <= 8 ? 1 << bits : 0;
    p.info.assign(sizeof(BITMAPINFOHEADER) + 4 * static_cast<size_t>(std::max(colours, 1)), 0);
    auto* hdr = reinterpret_cast<BITMAPINFOHEADER*>(p.info.data());
    hdr->biSize = sizeof(BITMAPINFOHEADER);
    hdr->biWidth = w;
    hdr->biHeight = -h;  // top-down
    hdr->biPlanes = 1;
    hdr->biBitCount = static_cast<WORD>(bits);
    hdr->biCompression = BI_RGB;
    auto* quads = reinterpret_cast<RGBQUAD*>(p.info.data() + sizeof(BITMAPINFOHEADER));
    for (int i = 0; i < colours; ++i) {
        quads[i].rgbRed = static_cast<BYTE>(i * 37 + (bits == 1 ? 200 : 0));
        quads[i].rgbGreen = static_cast<BYTE>(255 - i * 13);
        quads[i].rgbBlue = static_cast<BYTE>(i * 91);
    }
    const size_t stride = (static_cast<size_t>(w) * bits + 31) / 32 * 4;
    p.bits.assign(stride * static_cast<size_t>(h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* row = p.bits.data() + stride * static_cast<size_t>(y);
            const unsigned r = static_cast<unsigned>(x * 8) & 0xF8, g = static_cast<unsigned>(y * 8) & 0xF8, b = 0x80;
            switch (bits) {
            case 1: case 4: case 8: {
                const unsigned index = static_cast<unsigned>(x + 2 * y) % static_cast<unsigned>(colours);
                const size_t bit = static_cast<size_t>(x) * bits;
                row[bit / 8] |= static_cast<uint8_t>(index << (8 - bits - bit % 8));
                break;
            }
            case 16: {
                const unsigned v = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
                row[2 * x] = static_cast<uint8_t>(v), row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
                break;
            }
            default: {
                uint8_t* px = row + static_cast<size_t>(x) * (bits / 8);
                px[0] = static_cast<uint8_t>(b), px[1] = static_cast<uint8_t>(g), px[2] = static_cast<uint8_t>(r);
            }
            }
        }
    return p;
}

// A printer of the colour line printing in colour in `language` (PCL 5
// with its colour image path).
zq::PrivateDevmode ColourLetter(int dpi, BYTE language) {
    auto dm = Letter(dpi);
    dm.model.flags400 |= 0x08 | 0x20;
    dm.dm.dmColor = DMCOLOR_COLOR;
    dm.printerLanguage = language;
    return dm;
}

// One page per source depth: that depth's picture (`w` x `h`) at 1:1 at
// `at` and stretched over `stretched`.
PrintResult PrintPictures(const std::filesystem::path& driver, const zq::PrivateDevmode& dm, std::span<const int> depths, int w, int h,
                          POINT at, RECT stretched) {
    std::vector<Picture> pictures;
    for (int bits : depths) pictures.push_back(MakePicture(bits, w, h));
    auto result = PrintPages(driver, dm, static_cast<int>(depths.size()), [&](HDC dc, int page) {
        const Picture& p = pictures[static_cast<size_t>(page)];
        SetDIBitsToDevice(dc, at.x, at.y, static_cast<DWORD>(w), static_cast<DWORD>(h), 0, 0, 0, static_cast<UINT>(h), p.bits.data(), p.Info(),
                          DIB_RGB_COLORS);
        StretchDIBits(dc, stretched.left, stretched.top, stretched.right - stretched.left, stretched.bottom - stretched.top, 0, 0, w, h,
                      p.bits.data(), p.Info(), DIB_RGB_COLORS, SRCCOPY);
    });
    EXPECT_TRUE(result.enabled) << "enable failed: " << GetLastError();
    return result;
}

// Colour pages: the pixels of `rect` of the decoded page against the
// reference render. `exact`: equal; else each pixel equal to one of the
// reference's pixels at most one away (a scaled picture's footprint).
int64_t ColourDifferences(const pclread::Page& page, zq::gdi::Bitmap& reference, RECT rect, bool exact) {
    zq::gdi::Surface* s = reference.Get();
    auto ref = [&](LONG x, LONG y) {
        const COLORREF c = s->Pal().ToRgb(s->Pixel(x, y));
        return static_cast<uint32_t>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c);
    };
    int64_t wrong = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y)
        for (LONG x = rect.left; x < rect.right; ++x) {
            const uint32_t got = page.Colour(x, y);
            bool ok = got == ref(x, y);
            for (LONG dy = -1; !exact && !ok && dy <= 1; ++dy)
                for (LONG dx = -1; !ok && dx <= 1; ++dx)
                    ok = x + dx >= 0 && y + dy >= 0 && x + dx < s->sizlBitmap.cx && y + dy < s->sizlBitmap.cy &&
                         got == ref(x + dx, y + dy);
            wrong += !ok;
        }
    return wrong;
}

// The independent interpreter's colour sheet (as grey, 5-9-2) against the
// reference's colours in `rect` of the page, placed at (ox, oy) on the
// sheet: each pixel within 2 of the grey of a reference pixel at most one
// away. Pixels counted that are not.
int64_t Gpcl6Differences(const GreyPage& sheet, zq::gdi::Bitmap& reference, RECT rect, LONG ox, LONG oy) {
    zq::gdi::Surface* s = reference.Get();
    auto grey = [&](LONG x, LONG y) {
        const COLORREF c = s->Pal().ToRgb(s->Pixel(x, y));
        return (5 * GetRValue(c) + 9 * GetGValue(c) + 2 * GetBValue(c)) / 16;
    };
    int64_t wrong = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y)
        for (LONG x = rect.left; x < rect.right; ++x) {
            if (x + ox >= sheet.width || y + oy >= sheet.height) {
                ++wrong;
                continue;
            }
            const int got = sheet.At(x + ox, y + oy);
            bool ok = false;
            for (LONG dy = -1; !ok && dy <= 1; ++dy)
                for (LONG dx = -1; !ok && dx <= 1; ++dx)
                    ok = x + dx >= 0 && y + dy >= 0 && x + dx < s->sizlBitmap.cx && y + dy < s->sizlBitmap.cy &&
                         std::abs(got - grey(x + dx, y + dy)) <= 2;
            wrong += !ok;
        }
    return wrong;
}

// Colour pages in the raster language: 24-bit bands in PCL 5 raster decode to
// the engine's own render, every pixel and band seam, and print so in the
// independent interpreter.
TEST_F(PrintTest, ColourRasterPagesEqualTheReferenceColours) {
    for (int dpi : {300}) {  // the widest rows are split by the band coder's own test
        SCOPED_TRACE(dpi);
        auto dm = ColourLetter(dpi, 0);
        dm.availableMemory = 4000000;  // several bands a page
        const Picture photo = MakePicture(24, 60, 40);
        auto result = Print(dm, 1, [&](HDC dc, int) {
            const int u = dpi / 100;
            HBRUSH red = CreateSolidBrush(RGB(220, 30, 40)), hatch = CreateHatchBrush(HS_CROSS, RGB(0, 120, 0));
            HGDIOBJ old = SelectObject(dc, red);
            Rectangle(dc, 50 * u, 50 * u, 300 * u, 700 * u);
            SelectObject(dc, hatch);
            Ellipse(dc, 250 * u, 150 * u, 600 * u, 900 * u);
            SelectObject(dc, old);
            StretchDIBits(dc, 400 * u, 20 * u, 60, 40, 0, 0, 60, 40, photo.bits.data(), photo.Info(), DIB_RGB_COLORS, SRCCOPY);
            StretchDIBits(dc, 400 * u, 300 * u, 150 * u, 250 * u, 0, 0, 60, 40, photo.bits.data(), photo.Info(), DIB_RGB_COLORS, SRCCOPY);
            DeleteObject(red);
            DeleteObject(hatch);
        });
        EXPECT_TRUE(result.pagesOk);
        EXPECT_TRUE(result.endDocOk);
        auto job = ReadOnPage(dm, result.job);
        ASSERT_TRUE(job.Ok()) << job.errors.front();
        ASSERT_EQ(job.pages.size(), 1u);
        ASSERT_EQ(result.reference.size(), 1u);
        ASSERT_FALSE(job.pages[0].rgb.empty()) << "the page printed in colour";
        EXPECT_EQ(ColourDifferences(job.pages[0], result.reference[0], {0, 0, dm.paperFormats[0].printableWidth, dm.paperFormats[0].printableLength}, true), 0);
        size_t bands = 0;
        for (const auto& c : job.commands) bands += c.prefix == "*r" && c.terminator == 'A';
        EXPECT_GE(bands, 2u) << "band seams are part of the check";
        const std::string gpcl6 = Gpcl6Path();
        if (gpcl6.empty()) {
            std::printf("gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6): colour sheet not judged\n");
            continue;
        }
        const auto sheets = RunGpcl6(gpcl6, result.job, dpi, "colour-raster", true);
        ASSERT_EQ(sheets.size(), 1u) << "the interpreter prints the sheet";
        EXPECT_EQ(Gpcl6Differences(sheets[0], result.reference[0], {0, 0, dm.paperFormats[0].printableWidth, dm.paperFormats[0].printableLength},
                                   dm.paperFormats[0].usedLeftMargin, dm.paperFormats[0].usedTopMargin),
                  0);
    }
}

// Pictures of every depth at 1:1 decode to their pixels on colour pages in
// PCL 5 (the colour image path) and PCL XL (RGB palettes and direct RGB);
// in PCL 5 a stretched one is scaled by the printer, each pixel one of the
// source pixels it covers.
TEST_F(PrintTest, PicturesOfEveryDepthRoundTripOnColourPages) {
    const int depths[] = {1, 4, 8, 16, 24, 32};
    for (BYTE language : {BYTE{1}, BYTE{2}}) {
        SCOPED_TRACE(language);
        auto dm = ColourLetter(300, language);
        auto result = PrintPictures(driverPath_, dm, depths, 48, 20, {30, 40}, {200, 40, 350, 110});
        EXPECT_TRUE(result.pagesOk);
        ASSERT_EQ(result.reference.size(), std::size(depths));
        auto job = ReadOnPage(dm, result.job);
        ASSERT_TRUE(job.Ok()) << job.errors.front();
        for (size_t i = 0; i < std::size(depths); ++i) {
            SCOPED_TRACE(depths[i]);
            if (language == 2) {
                // The reader keeps PCL XL pages as grey: the pixels' grey.
                ASSERT_EQ(job.xl.pages.size(), std::size(depths));
                const auto& page = job.xl.pages[i];
                zq::gdi::Surface* s = result.reference[i].Get();
                const LONG ox = dm.paperFormats[0].leftMargin, oy = dm.paperFormats[0].topMargin;
                int64_t wrong = 0;
                for (LONG y = 40; y < 60; ++y)
                    for (LONG x = 30; x < 78; ++x) {
                        const COLORREF c = s->Pal().ToRgb(s->Pixel(x, y));
                        const int want = (5 * GetRValue(c) + 9 * GetGValue(c) + 2 * GetBValue(c)) / 16;
                        wrong += std::abs(int{page.At(x + ox, y + oy)} - want) > 1;
                    }
                EXPECT_EQ(wrong, 0);
                continue;
            }
            ASSERT_EQ(job.pages.size(), std::size(depths));
            EXPECT_EQ(ColourDifferences(job.pages[i], result.reference[i], {30, 40, 78, 60}, true), 0);
            EXPECT_EQ(ColourDifferences(job.pages[i], result.reference[i], {201, 41, 349, 109}, false), 0);
        }
        if (language == 1) {
            const std::string text(result.job.begin(), result.job.end());
            EXPECT_NE(text.find("\x1b*r3A"), std::string::npos) << "stretched pictures scaled by the printer";
        }
        const std::string gpcl6 = Gpcl6Path();
        if (gpcl6.empty()) {
            std::printf("gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6): colour sheets not judged\n");
            continue;
        }
        const auto sheets = RunGpcl6(gpcl6, result.job, 300, "pictures-" + std::to_string(language), true);
        ASSERT_EQ(sheets.size(), std::size(depths)) << "the interpreter prints every sheet";
        for (size_t i = 0; i < std::size(depths); ++i) {
            const LONG ox = dm.paperFormats[0].usedLeftMargin, oy = dm.paperFormats[0].usedTopMargin;
            EXPECT_EQ(Gpcl6Differences(sheets[i], result.reference[i], {30, 40, 78, 60}, ox, oy), 0) << depths[i] << " bits, 1:1";
            EXPECT_EQ(Gpcl6Differences(sheets[i], result.reference[i], {201, 41, 349, 109}, ox, oy), 0) << depths[i] << " bits, stretched";
        }
    }
}

// The mean grey of each 16 x 16 block of `rect` (on whole blocks) as
// `got` gives it against the reference's: blocks further apart than the
// tone bound.
int64_t ToneDifferences(const std::function<int(LONG, LONG)>& got, zq::gdi::Bitmap& reference, RECT rect) {
    zq::gdi::Surface* s = reference.Get();
    int64_t wrong = 0;
    for (LONG by = rect.top; by + pclread::kToneBlock <= rect.bottom; by += pclread::kToneBlock)
        for (LONG bx = rect.left; bx + pclread::kToneBlock <= rect.right; bx += pclread::kToneBlock) {
            int64_t a = 0, b = 0;
            for (LONG y = by; y < by + pclread::kToneBlock; ++y)
                for (LONG x = bx; x < bx + pclread::kToneBlock; ++x) {
                    const COLORREF c = s->Pal().ToRgb(s->Pixel(x, y));
                    a += got(x, y);
                    b += (5 * GetRValue(c) + 9 * GetGValue(c) + 2 * GetBValue(c)) / 16;
                }
            const int64_t n = int64_t{pclread::kToneBlock} * pclread::kToneBlock;
            wrong += std::abs(a - b) > int64_t{pclread::kToneBound} * n;
        }
    return wrong;
}

// Pictures of every depth on monochrome pages. In PCL XL each pixel of a
// picture at 1:1 is the grey the same picture has on a colour page (where
// the test above holds it to the reference) through the tone curve of the
// record's darkness; in PCL 5 the pictures are the engine's halftone of
// them, held to the reference's tone over 16 x 16 blocks (the reference
// keeps the pictures' colours).
TEST_F(PrintTest, PicturesOfEveryDepthOnMonochromePages) {
    const int depths[] = {1, 4, 8, 16, 24, 32};
    const RECT oneToOne{30, 40, 78, 60}, stretched{200, 40, 350, 110};
    auto colourXl = ColourLetter(300, 2), monoXl = Letter(300), monoPcl = Letter(300);
    monoXl.printerLanguage = 2;
    monoXl.darknessLevel = 2;  // a curve that moves the greys
    monoPcl.printerLanguage = 1;
    auto colour = PrintPictures(driverPath_, colourXl, depths, 48, 20, {30, 40}, stretched);
    auto mono = PrintPictures(driverPath_, monoXl, depths, 48, 20, {30, 40}, stretched);
    auto pcl = PrintPictures(driverPath_, monoPcl, depths, 48, 20, {30, 40}, stretched);
    ASSERT_TRUE(colour.pagesOk && mono.pagesOk && pcl.pagesOk);
    const auto colourJob = ReadOnPage(colourXl, colour.job), monoJob = ReadOnPage(monoXl, mono.job),
               pclJob = ReadOnPage(monoPcl, pcl.job);
    ASSERT_TRUE(colourJob.Ok() && monoJob.Ok() && pclJob.Ok());
    ASSERT_EQ(colourJob.xl.pages.size(), std::size(depths));
    ASSERT_EQ(monoJob.xl.pages.size(), std::size(depths));
    ASSERT_EQ(pclJob.pages.size(), std::size(depths));
    ASSERT_EQ(pcl.reference.size(), std::size(depths));
    const uint8_t* curve = pclrend::ToneCurve(monoXl.darknessLevel);
    ASSERT_NE(curve[128], 128);
    const LONG ox = monoXl.paperFormats[0].leftMargin, oy = monoXl.paperFormats[0].topMargin;
    for (size_t i = 0; i < std::size(depths); ++i) {
        SCOPED_TRACE(depths[i]);
        int64_t wrong = 0;
        for (LONG y = oneToOne.top; y < oneToOne.bottom; ++y)
            for (LONG x = oneToOne.left; x < oneToOne.right; ++x)
                wrong += monoJob.xl.pages[i].At(x + ox, y + oy) != curve[colourJob.xl.pages[i].At(x + ox, y + oy)];
        EXPECT_EQ(wrong, 0) << "PCL XL greys";
        const pclread::Page& page = pclJob.pages[i];
        for (const RECT& rect : {oneToOne, stretched})
            EXPECT_EQ(ToneDifferences([&](LONG x, LONG y) { return page.Black(x, y) ? 0 : 255; }, pcl.reference[i], rect), 0)
                << "PCL 5 tone in " << rect.left << "," << rect.top;
    }
}

// A picture stretched over far more than the page, only its right end on
// the page: the source part under the page is found by proportion in 64
// bits (offset times source extent is about 4.9e9 here) and scaled by the
// printer, each pixel one of the source pixels whose footprint touches it.
// Every source column has its own colour, so a part taken from the wrong
// place shows.
TEST_F(PrintTest, PictureFarPastThePageEdgeFindsItsVisiblePartIn64Bits) {
    auto dm = ColourLetter(300, 1);
    constexpr int kWidth = 50000, kHeight = 4;
    Picture wide = MakePicture(24, kWidth, kHeight);
    const size_t stride = (static_cast<size_t>(kWidth) * 3 + 3) / 4 * 4;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* px = wide.bits.data() + stride * static_cast<size_t>(y) + 3 * static_cast<size_t>(x);
            px[0] = static_cast<uint8_t>(40 + 60 * y), px[1] = static_cast<uint8_t>(x >> 8), px[2] = static_cast<uint8_t>(x);
        }
    // Target -98000 .. 2000 (twice the source's width): columns 49000 on
    // lie on the page.
    auto result = Print(dm, 1, [&](HDC dc, int) {
        StretchDIBits(dc, -98000, 100, 2 * kWidth, 2 * kHeight, 0, 0, kWidth, kHeight, wide.bits.data(), wide.Info(),
                      DIB_RGB_COLORS, SRCCOPY);
    });
    ASSERT_TRUE(result.pagesOk);
    const std::string text(result.job.begin(), result.job.end());
    EXPECT_NE(text.find("\x1b*r3A"), std::string::npos) << "the visible part scaled by the printer";
    EXPECT_NE(text.find("\x1b*r0f4t1000S"), std::string::npos) << "source columns 49000-49999, all four rows";
    auto job = ReadOnPage(dm, result.job);
    ASSERT_TRUE(job.Ok()) << job.errors.front();
    ASSERT_EQ(job.pages.size(), 1u);
    EXPECT_EQ(ColourDifferences(job.pages[0], result.reference[0], {1, 101, 1999, 107}, false), 0);
}

// A colour model without the colour image path sends PCL 5 pictures as the
// engine's one-bit halftone of them: nothing scaled by the printer, only
// black and white where the pictures lie, and the tone of every 16 x 16
// block the reference's, in the reader and in the independent interpreter.
TEST_F(PrintTest, PicturesGoOneBitWithoutTheColourImagePath) {
    const int depths[] = {1, 4, 8, 16, 24, 32};
    auto dm = ColourLetter(300, 1);
    dm.model.flags400 = static_cast<WORD>(dm.model.flags400 & ~0x20);
    const RECT oneToOne{32, 32, 128, 96}, stretched{160, 32, 352, 160};
    auto result = PrintPictures(driverPath_, dm, depths, 96, 64, {32, 32}, stretched);
    ASSERT_TRUE(result.pagesOk);
    ASSERT_EQ(result.reference.size(), std::size(depths));
    const std::string text(result.job.begin(), result.job.end());
    EXPECT_EQ(text.find("\x1b*r3A"), std::string::npos) << "no picture scaled by the printer";
    auto job = ReadOnPage(dm, result.job);
    ASSERT_TRUE(job.Ok()) << job.errors.front();
    ASSERT_EQ(job.pages.size(), std::size(depths));
    for (size_t i = 0; i < std::size(depths); ++i) {
        SCOPED_TRACE(depths[i]);
        const pclread::Page& page = job.pages[i];
        for (const RECT& rect : {oneToOne, stretched}) {
            int64_t grey = 0;
            for (LONG y = rect.top; y < rect.bottom; ++y)
                for (LONG x = rect.left; x < rect.right; ++x) {
                    const uint32_t c = page.Colour(x, y);
                    grey += c != 0 && c != 0xFFFFFF;
                }
            EXPECT_EQ(grey, 0) << "pixels neither black nor white";
            EXPECT_EQ(ToneDifferences([&](LONG x, LONG y) { return page.Colour(x, y) ? 255 : 0; }, result.reference[i], rect), 0);
        }
    }
    const std::string gpcl6 = Gpcl6Path();
    if (gpcl6.empty()) {
        std::printf("gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6): one-bit pictures not judged\n");
        return;
    }
    const auto sheets = RunGpcl6(gpcl6, result.job, 300, "one-bit-pictures");
    ASSERT_EQ(sheets.size(), std::size(depths)) << "the interpreter prints every sheet";
    const LONG ox = dm.paperFormats[0].usedLeftMargin, oy = dm.paperFormats[0].usedTopMargin;
    for (size_t i = 0; i < std::size(depths); ++i)
        for (const RECT& rect : {oneToOne, stretched})
            EXPECT_EQ(ToneDifferences([&](LONG x, LONG y) { return int{sheets[i].At(x + ox, y + oy)}; }, result.reference[i], rect), 0)
                << depths[i] << " bits";
}

// A picture under a clip of three rectangles: one opening sequence, one
// raster per rectangle, one closing sequence; inside the clip the pixels
// are the reference's.
TEST_F(PrintTest, PictureUnderAComplexClipGoesOncePerRectangle) {
    auto dm = ColourLetter(300, 1);
    const Picture photo = MakePicture(24, 120, 90);
    auto result = Print(dm, 1, [&](HDC dc, int) {
        // Three rectangles, none beside another: the clip holds exactly three.
        HRGN region = CreateRectRgn(10, 10, 60, 30);
        HRGN b = CreateRectRgn(80, 40, 120, 60), c = CreateRectRgn(20, 70, 50, 100);
        CombineRgn(region, region, b, RGN_OR);
        CombineRgn(region, region, c, RGN_OR);
        SelectClipRgn(dc, region);
        SetDIBitsToDevice(dc, 0, 0, 120, 90, 0, 0, 0, 90, photo.bits.data(), photo.Info(), DIB_RGB_COLORS);
        SelectClipRgn(dc, nullptr);
        DeleteObject(region);
        DeleteObject(b);
        DeleteObject(c);
    });
    ASSERT_TRUE(result.pagesOk);
    const std::string text(result.job.begin(), result.job.end());
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
        return n;
    };
    EXPECT_EQ(count("\x1b*v1N\x1b&f0S\x1b*v1O\x1b*l204O"), 1u);
    EXPECT_EQ(count("\x1b*r1A"), 3u);
    EXPECT_EQ(count("\x1b*v0n0O\x1b*l252O\x1b&f1S"), 1u);
    auto job = ReadOnPage(dm, result.job);
    ASSERT_TRUE(job.Ok()) << job.errors.front();
    ASSERT_EQ(job.pages.size(), 1u);
    EXPECT_EQ(ColourDifferences(job.pages[0], result.reference[0], {0, 0, 200, 200}, true), 0);
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
