// The sample documents on a colour printer in the colour raster language:
// played onto the printer's DC, written by the driver band by band, decoded
// with the test-side reader, and judged by screening the engine's unbanded
// reference render with the same screen: every level equal, pixel for
// pixel, band seams included, at every angle and from one band to many;
// every deflated block inflates to a whole block in Python's zlib too.
// TrueType text prints as text over the raster: its pixels are judged
// against the reference's glyph ink instead.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gdi/dc.h"
#include "gdi/dc_draw.h"

#include "gdi/emf_print.h"
#include "render/colour_raster.h"
#include "render/tests/deflated_blocks.h"
#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"
#include "store/registry.h"
#include "testing/fresh_root.h"

namespace {

using namespace pclrend::testing;

struct ColourCase {
    const char* sample;
    int dpi;
    int16_t angle;        // the raster angle of the page's geometry
    uint32_t budget;      // band memory; 0: the smallest band
    int32_t pageInches;   // 0: letter; else a square test page of that many inches
};

const ColourCase kCases[] = {
    {"photo", 300, 0, 0, 0},
    {"shapes", 300, -2, 0, 0},
    {"clip", 300, -1, 4000000, 0},
    {"text", 300, 2, 100000000, 0},
    {"shapes", 600, 0, 0, 2},
    {"photo", 1200, -1, 0, 1},
};

std::string CaseName(const ::testing::TestParamInfo<ColourCase>& info) {
    const auto& c = info.param;
    return std::string(c.sample) + "_" + std::to_string(c.dpi) + "_" + std::to_string(pclrend::ColourAngleDegrees(c.angle)) +
           "deg_" + (c.budget ? std::to_string(c.budget / 1000000) + "mb" : std::string("smallest"));
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class ColourRasterPrintTest : public zq::testing::FreshRoot, public ::testing::WithParamInterface<ColourCase> {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        ASSERT_FALSE(InstallPrinter().empty());
    }
};

const pclrend::ColourScreen* g_screen = nullptr;
uint8_t ScreenAt(int32_t x, int32_t y, uint8_t red, uint8_t green, uint8_t blue) {
    bool inked = false;
    return pclrend::ScreenLevel(*g_screen, x, y, red, green, blue, inked);
}

bool TextPixel(const pclread::Page& p, int32_t x, int32_t y) { return pclread::PrintedOverLevels(p, x, y); }

bool Near(int32_t x, int32_t y, const std::function<bool(int32_t, int32_t)>& test) {
    for (int32_t dy = -2; dy <= 2; ++dy)
        for (int32_t dx = -2; dx <= 2; ++dx)
            if (test(x + dx, y + dy)) return true;
    return false;
}

// The page's levels against the reference re-screened, and the text printed
// over them against the reference's ink (within 2 pixels).
pclread::LevelComparison Judge(const pclread::Page& decoded, const pclread::Page& reference) {
    g_screen = pclrend::LevelScreenOf(pclrend::ScreenProductCode());
    const auto m = pclread::CompareLevels(decoded, reference, ScreenAt);
    EXPECT_TRUE(m) << "decoded " << decoded.width << "x" << decoded.height << ", reference " << reference.width << "x"
                   << reference.height;
    return m.value_or(pclread::LevelComparison{});
}

TEST_P(ColourRasterPrintTest, DecodedLevelsAreTheReferenceScreened) {
    const ColourCase c = GetParam();
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const auto emf = ReadFile(std::filesystem::path(source) / "tools/emfgen/samples" / (std::string(c.sample) + ".emf"));
    ASSERT_FALSE(emf.empty()) << c.sample;

    auto dm = Letter(c.dpi);
    dm.dm.dmColor = DMCOLOR_COLOR;
    dm.printerLanguage = 5;
    dm.resolutionFeature = 1;  // class 5: levels of 2 bits
    dm.availableMemory = c.budget;
    for (auto& g : dm.paperFormats) {
        if (c.pageInches) {
            g.width = g.usedWidth = g.length = g.usedLength = static_cast<WORD>(c.dpi * c.pageInches);
            g.printableWidth = g.usedPrintableWidth = g.printableLength = g.usedPrintableLength =
                static_cast<WORD>(g.width - 2 * g.leftMargin);
        }
        g.orientationCode = static_cast<WORD>(c.angle);
        g.secondTopMargin = static_cast<WORD>(g.topMargin / 2);  // the raster grid starts above the page
    }
    const std::string png = (root_ / "reference.png").string();
    const auto result = zq::emf::PrintDocument(u"Mono", emf, u"sample", &dm.dm, png);
    ASSERT_EQ(result.error, "");
    ASSERT_NE(result.outputJob, 0u);
    EXPECT_EQ(result.stats.failed, 0u);

    const pclread::Options options = PrintableArea(dm);
    const auto bytes = ReadFile(zq::store::JobFile(result.outputJob));
    const auto job = pclread::Read(bytes, options);
    ASSERT_TRUE(job.Ok()) << job.errors.front();
    // The reader inflated every block to a whole one; so must Python's zlib.
    const auto blocks = DeflatedBlocks(std::string(bytes.begin(), bytes.end()));
    EXPECT_FALSE(blocks.empty());
    const std::string python = PythonInflates(blocks, 16384);
    if (python == "skip") std::printf("python3 with zlib is not at hand: blocks not checked outside\n");
    else EXPECT_EQ(python, "");
    ASSERT_EQ(job.pages.size(), 1u);
    EXPECT_GT(job.levelBlocks, 0u);
    EXPECT_EQ(job.levelsOffPage, 0u);
    const auto reference = pclread::ReadRgbPng(png);
    ASSERT_TRUE(reference);
    const auto m = Judge(job.pages[0], *reference);
    EXPECT_EQ(m.differing, 0) << "first at " << m.firstX << "," << m.firstY;
    EXPECT_EQ(m.printedWrong, 0) << "first at " << m.firstPrintedX << "," << m.firstPrintedY;
    // On a page of one band the sample's TrueType text prints as text.
    if (std::string(c.sample) == "text") {
        EXPECT_GT(m.printed, 1000);
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, ColourRasterPrintTest, ::testing::ValuesIn(kCases), CaseName);


// A page of TrueType text among fills on a page of many bands: text over a
// fill and text across band seams print as text; text a later fill covers,
// an earlier run under a covered one, and a run across seams that a fill
// covers in a lower band stay under the fill in the raster; text cut by a
// clip is drawn by the engine in the raster.
using QueuedTextPrintTest = PrinterTest;

struct Box {
    int left, top, right, bottom;
};

void Fill(HDC dc, const Box& b, COLORREF c) {
    HBRUSH brush = CreateSolidBrush(c);
    HGDIOBJ old = SelectObject(dc, brush);
    PatBlt(dc, b.left, b.top, b.right - b.left, b.bottom - b.top, PATCOPY);
    SelectObject(dc, old);
    DeleteObject(brush);
}

void Text(HDC dc, int x, int y, int height, COLORREF c, const std::u16string& s) {
    LOGFONTW lf{};
    lf.lfHeight = -height;
    const std::u16string face = u"DejaVu Sans";
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, c);
    TextOutW(dc, x, y, reinterpret_cast<LPCWSTR>(s.c_str()), static_cast<int>(s.size()));
    SelectObject(dc, old);
    DeleteObject(font);
}

pclread::Page PageOf(zq::gdi::Bitmap& bitmap) {
    pclread::Page p;
    zq::gdi::Surface* s = bitmap.Get();
    p.width = s->sizlBitmap.cx;
    p.height = s->sizlBitmap.cy;
    p.stride = (p.width + 7) / 8;
    p.bits.assign(static_cast<size_t>(p.stride) * p.height, 0);
    p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) {
            const COLORREF c = s->Pal().ToRgb(s->Pixel(x, y));
            uint8_t* o = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
            o[0] = GetRValue(c), o[1] = GetGValue(c), o[2] = GetBValue(c);
        }
    return p;
}

int64_t TextPixelsIn(const pclread::Page& p, const Box& b) {
    int64_t n = 0;
    for (int32_t y = std::max(0, b.top); y < std::min(p.height, b.bottom); ++y)
        for (int32_t x = std::max(0, b.left); x < std::min(p.width, b.right); ++x) n += TextPixel(p, x, y);
    return n;
}

TEST_F(QueuedTextPrintTest, TextUnderAndOverFillsAndAcrossBandSeams) {
    constexpr int dpi = 300;
    auto dm = Letter(dpi);
    dm.dm.dmColor = DMCOLOR_COLOR;
    dm.printerLanguage = 5;
    dm.resolutionFeature = 1;
    dm.availableMemory = 0;  // the smallest bands: many seams
    // Bands of 142 rows, 128 apart from the third on: the rows only one band
    // holds are 206-319, 334-447, ... 1102-1215, 1358-1471.
    const Box overFill{40, 60, 1400, 330}, underFill{40, 330, 1400, 440}, cover{420, 320, 900, 400};
    const Box seam{40, 600, 1400, 1000}, pair{40, 1100, 1400, 1220}, pairCover{700, 1080, 900, 1240};
    const Box clipped{40, 1360, 1400, 1440}, clip{40, 1360, 300, 1440}, onWhite{40, 462, 1400, 576};
    const Box coveredSeam{40, 1500, 1400, 1900}, seamCover{40, 1760, 1400, 1860};
    auto draw = [&](HDC dc, int) {
        Fill(dc, overFill, RGB(255, 230, 0));
        // Three lines: whichever bands fall where, one lies in a band alone.
        for (int i = 0; i < 3; ++i) Text(dc, 60, 70 + 85 * i, 40, RGB(200, 0, 0), u"Zelquor text over a fill");
        Text(dc, 60, 340, 41, RGB(0, 0, 220), u"0123456789 under a fill");
        Fill(dc, cover, RGB(0, 160, 0));
        Text(dc, 60, 470, 40, RGB(0, 90, 0), u"Zelquor text on the page");
        Text(dc, 60, 620, 300, RGB(0, 0, 0), u"Seam");
        // An earlier run under a later one that a fill covers in part.
        Text(dc, 60, 1120, 60, RGB(0, 0, 220), u"Zelquor one");
        Text(dc, 400, 1130, 61, RGB(200, 0, 0), u"Zelquor two");
        Fill(dc, pairCover, RGB(0, 160, 0));
        SaveDC(dc);
        IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
        Text(dc, 60, 1370, 42, RGB(0, 0, 0), u"Zelquor clipped text");
        RestoreDC(dc, -1);
        Text(dc, 60, 1520, 301, RGB(0, 0, 220), u"Seam");
        Fill(dc, seamCover, RGB(0, 160, 0));
    };
    auto result = PrintPages(driverPath_, dm, 1, draw);
    ASSERT_TRUE(result.enabled);
    EXPECT_TRUE(result.endDocOk);
    const auto job = pclread::Read(result.job, PrintableArea(dm));
    ASSERT_TRUE(job.Ok()) << ErrorText(job);
    ASSERT_EQ(job.pages.size(), 1u);
    ASSERT_EQ(result.reference.size(), 1u);
    // One bitmap font for each size queued: over the fill and on the page,
    // under the fill, the pair, the two runs across seams; none for the
    // clipped text, never queued.
    EXPECT_EQ(job.softFonts.size(), 6u);
    const pclread::Page reference = PageOf(result.reference[0]);
    const pclread::Page& page = job.pages[0];
    const auto m = Judge(page, reference);
    EXPECT_EQ(m.differing, 0) << "first at " << m.firstX << "," << m.firstY;
    EXPECT_EQ(m.printedWrong, 0) << "first at " << m.firstPrintedX << "," << m.firstPrintedY;
    EXPECT_GT(TextPixelsIn(page, overFill), 500) << "text over the fill is printed as text";
    EXPECT_GT(TextPixelsIn(page, seam), 5000) << "text across band seams is printed as text";
    for (const auto& [what, box] : {std::pair{"under the fill", underFill}, std::pair{"the covered pair", pair},
                                    std::pair{"clipped", clipped}, std::pair{"covered across seams", coveredSeam}})
        EXPECT_EQ(TextPixelsIn(page, box), 0) << what << ": drawn in the raster, not printed as text";

    // The independent interpreter draws the text printed on the bare page
    // where the reader does (it does not know the printer's levels).
    const std::string gpcl6 = Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found: the job is not judged by an independent interpreter";
    const auto judged = RunGpcl6(gpcl6, result.job, dpi, "queuedtext", true);
    ASSERT_EQ(judged.size(), 1u);
    const int32_t margin = dpi / 6;  // the sheet holds the page at the printable corner
    auto judgedDark = [&](int32_t x, int32_t y) {
        x += margin, y += margin;
        return x >= 0 && y >= 0 && x < judged[0].width && y < judged[0].height &&
               judged[0].grey[static_cast<size_t>(y) * judged[0].width + x] < 160;
    };
    int64_t dark = 0, stray = 0, missed = 0;
    for (int32_t y = onWhite.top; y < onWhite.bottom; ++y)
        for (int32_t x = onWhite.left; x < onWhite.right; ++x) {
            if (judgedDark(x, y)) {
                ++dark;
                stray += !Near(x, y, [&](int32_t u, int32_t v) { return TextPixel(page, u, v); });
            }
            if (TextPixel(page, x, y)) missed += !Near(x, y, judgedDark);
        }
    EXPECT_GT(TextPixelsIn(page, onWhite), 500);
    EXPECT_GT(dark, TextPixelsIn(page, onWhite) / 2);
    EXPECT_EQ(stray, 0) << "gpcl6 ink away from the printed text";
    EXPECT_EQ(missed, 0) << "printed text gpcl6 does not draw";
}


// A TrueType family that a printer face stands in for ("FontSubstitutes"):
// its runs wait for the page end as TrueType runs do and print in the face,
// Latin and Greek of one run in two symbol sets switched between its
// characters; a run that a later fill covers is drawn into the raster and
// not printed. No soft font is sent for them.
TEST_F(QueuedTextPrintTest, PrinterFaceRunsWaitAndSwitchSymbolSetsWithinARun) {
    constexpr int dpi = 300;
    auto dm = Letter(dpi);
    dm.dm.dmColor = DMCOLOR_COLOR;
    dm.printerLanguage = 5;
    dm.resolutionFeature = 1;
    dm.availableMemory = 0;  // bands as above: rows 206-319 and 334-447 each in one band alone
    dm.switch225 = 1;  // TrueType fonts substituted by printer faces
    dm.fontSets1 = 0xFF;
    dm.model.fontListId = 0;
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Mono"), &printer, nullptr));
    const std::string substitutes = "DejaVu Sans=Zel Sans";
    EXPECT_EQ(SetPrinterDataW(printer, W(u"FontSubstitutes"), REG_BINARY,
                              reinterpret_cast<LPBYTE>(const_cast<char*>(substitutes.data())),
                              static_cast<DWORD>(substitutes.size())),
              static_cast<DWORD>(ERROR_SUCCESS));
    ClosePrinter(printer);
    const Box line{40, 210, 800, 300}, covered{40, 340, 800, 440};
    auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
        // 50 dots at 300 dpi: 12 points.
        Text(dc, 60, 220, 50, RGB(0, 0, 200), u"Ab\u03b1\u03b2cd");
        Text(dc, 60, 350, 50, RGB(200, 0, 0), u"Covered");
        Fill(dc, {50, 340, 600, 440}, RGB(0, 160, 0));
    });
    ASSERT_TRUE(result.enabled);
    EXPECT_TRUE(result.endDocOk);
    const std::string_view job(reinterpret_cast<const char*>(result.job.data()), result.job.size());
    const size_t selection = job.find("\x1b(s12.00V"), latin = job.find("\x1b(19U"), greek = job.find("\x1b(9G");
    ASSERT_NE(selection, std::string_view::npos) << "the printer face selected at 12 points";
    ASSERT_NE(latin, std::string_view::npos);
    ASSERT_NE(greek, std::string_view::npos);
    EXPECT_LT(selection, latin);
    EXPECT_LT(latin, greek) << "A in the Latin set, then the Greek set for alpha";
    EXPECT_EQ(job.find("\x1b)s"), std::string_view::npos) << "no soft font";

    const auto read = pclread::Read(result.job, PrintableArea(dm));
    ASSERT_TRUE(read.Ok()) << ErrorText(read);
    ASSERT_EQ(read.pages.size(), 1u);
    const pclread::Page& page = read.pages[0];
    // Six characters drawn from the face, on the run's line; none of the
    // covered run.
    ASSERT_EQ(page.textGlyphs.size(), 6u);
    for (const auto& g : page.textGlyphs) {
        EXPECT_GE(g.top, line.top);
        EXPECT_LE(g.bottom, line.bottom);
        EXPECT_GE(g.left, line.left);
    }
    EXPECT_GT(TextPixelsIn(page, line), 100);
    EXPECT_EQ(TextPixelsIn(page, covered), 0) << "the covered run is drawn in the raster";
}

}  // namespace
