// The sample documents printed through pclrend in PCL 5 with HP-GL/2 (the
// language of the PCL 5 line), decoded by the test-side reader and rendered
// by the independent interpreter, each sheet compared with the engine's own
// render of its pages: 1-up at the printable corner, ink within a pixel and
// grey as tone over 16 x 16 blocks; 2-up and 4-up each page scaled into the
// cell its picture frame names, as tone. The interpreter's part skips when it
// is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gdi/emf_print.h"
#include "pclread/judge.h"
#include "render/page_setup.h"
#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"

namespace {

using namespace pclrend::testing;

zq::PrivateDevmode Gl2Letter(int dpi) {
    auto dm = Letter(dpi);
    dm.printerLanguage = 1;
    return dm;
}

// The picture frames of a PCL 5 job in order: where each page's frame lies
// (cursor at the anchor, in dots) and its size (decipoints).
struct Frame {
    int32_t x, y, width720, height720;
};
std::vector<Frame> Frames(const std::vector<uint8_t>& job) {
    const std::string s(job.begin(), job.end());
    std::vector<Frame> frames;
    for (size_t at = 0; (at = s.find("\x1b*c0T", at)) != std::string::npos; ++at) {
        const size_t size = s.rfind("\x1b*c", at - 1);
        const size_t cursor = s.rfind("\x1b*p", size);
        if (size == std::string::npos || cursor == std::string::npos) continue;
        Frame f{};
        if (std::sscanf(s.c_str() + cursor, "\x1b*p%dx%dY", &f.x, &f.y) == 2 &&
            std::sscanf(s.c_str() + size, "\x1b*c%dx%dY", &f.width720, &f.height720) == 2)
            frames.push_back(f);
    }
    return frames;
}

// What the interpreter's sheet is held to.
enum class Gpcl6 {
    Judged,  // the same bounds as the reader
    Shown,   // its verdict printed: a difference that is the interpreter's (see the table)
    NotRun,  // nothing it can print alike (see the table)
};

struct Gl2SampleCase {
    const char* name;
    std::vector<const char*> samples;  // one page each, in order
    int dpi;
    uint8_t nupChoice;  // 0 one page a sheet, 1 two, 3 four
    bool postcard;
    bool readerJudged;  // else its verdict is printed
    Gpcl6 gpcl6;
    bool frames = false;     // n-up pages framed
    bool landscape = false;  // the document's pages lie wide
};

// Text, shapes and clip at 300, 600 and 1200 dpi (1200 on a postcard sheet:
// small pages keep the run short), photo at 300 and 1200, 2-up with three
// pages and 4-up with four.
//
// The shapes page is held to the rules of the marked areas (below): the
// printer's least pen width, its cross-hatch, and what the interpreter draws
// its own way.
//
// Where the interpreter is not held to the sheet, it is its own doing:
// - It prints raster at 600 dpi at most: a 1200 dpi job's raster
//   (ESC*t1200R) prints at twice its size, so a page with pictures at 1200
//   is the reader's alone (vectors at 1200 are judged on the text page).
// - It scales pen widths by the plot size (ESC*c#K, ESC*c#L) but not dash
//   lengths given in millimetres (LT with mode 1): the dashed lines of the
//   shapes page drawn small print with page-size dashes (the engine and the
//   reader scale both). Scaled dashes are no whole number of dots, so the
//   marked areas leave them out of its sheets.
// - At 1200 dpi it leaves the corners of the clip page's wide round-joined
//   frame notched (no join at all; at 300 dpi the same commands print
//   round): the marked areas leave such corners out.
const Gl2SampleCase kGl2Samples[] = {
    {"text_photo_300", {"text", "photo"}, 300, 0, false, true, Gpcl6::Judged},
    {"shapes_300", {"shapes"}, 300, 0, false, true, Gpcl6::Judged},
    {"clip_300", {"clip"}, 300, 0, false, true, Gpcl6::Judged},
    {"text_600", {"text"}, 600, 0, false, true, Gpcl6::Judged},
    {"shapes_600", {"shapes"}, 600, 0, false, true, Gpcl6::Judged},
    {"clip_600", {"clip"}, 600, 0, false, true, Gpcl6::Judged},
    {"shapes_1200_postcard", {"shapes"}, 1200, 0, true, true, Gpcl6::Judged},
    {"clip_1200_postcard", {"clip"}, 1200, 0, true, true, Gpcl6::Judged},
    {"text_1200_postcard", {"text"}, 1200, 0, true, true, Gpcl6::Judged},
    {"photo_1200_postcard", {"photo"}, 1200, 0, true, true, Gpcl6::NotRun},
    {"text_photo_300_2up", {"text", "photo", "text"}, 300, 1, false, true, Gpcl6::Judged},
    {"photo_text_300_2up_framed", {"photo", "text"}, 300, 1, false, true, Gpcl6::Judged, true},
    {"shapes_clip_300_2up", {"shapes", "clip"}, 300, 1, false, true, Gpcl6::Judged},
    {"clip_text_shapes_photo_300_4up", {"clip", "text", "shapes", "photo"}, 300, 3, false, true, Gpcl6::Judged},
    {"text_shapes_600_4up", {"text", "shapes"}, 600, 3, false, true, Gpcl6::Judged},
    // Wide pages two a sheet: the sheet turns to stand upright and the
    // pages lie one above the other.
    {"text_photo_300_2up_landscape", {"text", "photo"}, 300, 1, false, true, Gpcl6::Judged, false, true},
};

// The engine draws these pages in colour (grey fills, pictures, coloured
// text) and the printer in black dots: the reference is taken as its grey,
// and where it holds grey the sheets are judged by the mean of 16 x 16
// blocks (the printer's halftone against the engine's flat grey). Ink
// elsewhere must lie within a pixel of the reference's. Pages drawn at half
// size or less make runs thinner than a pixel, which each printer inks by
// its own rule: scaled sheets are judged as tone only, with a wider bound
// (a block half covered by a one-pixel line a printer widens by one pixel
// moves its mean by up to 255 x 16 / 256 = 16 levels per line; two lines
// and the halftone's own error make 72).
constexpr int kScaledToneBound = 72;

// The interpreter takes pixel placement 1 (grid centred, as the set-up
// string selects) to put each HP-GL/2 coordinate half a pixel up and left of
// the pixel edge the engine fills from, and inks by pixel centres: every
// polygon it fills lands one pixel up and left (a 100 x 100 square at
// (100, 100) covers 99..198). Its sheets are moved back by that pixel
// before they are judged; its PCL raster, which it places exactly, then lies
// one pixel off, within the ink tolerance.
constexpr int32_t kInterpreterShift = 1;
// Its strokes, though, it centres on the coordinate's pixel as the engine
// does (a pen of 6 dots at y 80 inks rows 77 to 82, a one-dot line row 80):
// moved back with the fills, they lie a pixel right and down, and an edge
// the engine's fractional pen width puts a pixel the other way is 2 pixels
// off. Its ink may lie that pixel further right and down.
constexpr int32_t kInterpreterLean = 1;
pclread::Grey Moved(const pclread::Grey& g, int32_t by) {
    pclread::Grey out(g.width, g.height);
    for (int32_t y = by; y < g.height; ++y)
        std::copy_n(&g.v[static_cast<size_t>(y - by) * g.width], g.width - by, &out.v[static_cast<size_t>(y) * g.width + by]);
    return out;
}

class Gl2SamplePrintTest : public PrinterTest, public ::testing::WithParamInterface<Gl2SampleCase> {};

TEST_P(Gl2SamplePrintTest, SheetsAreTheReferencePagesPlacedOnThem) {
    const Gl2SampleCase& c = GetParam();
    const std::vector<uint8_t> emf = SampleDocument(c.samples);
    ASSERT_FALSE(emf.empty()) << "the samples cannot be read (ZQ_SOURCE_DIR)";
    auto dm = Gl2Letter(c.dpi);
    if (c.postcard) Postcard(dm, c.dpi);
    dm.pagesPerSheet = c.nupChoice;
    dm.switch603 = c.frames ? 1 : 0;
    if (c.landscape) {
        // The wide sheet is the page's, the upright one the other.
        dm.dm.dmOrientation = DMORIENT_LANDSCAPE;
        std::swap(dm.paperFormats[0], dm.paperFormats[1]);
        dm.paperFormats[0].orientationCode = 2;
    } else if (c.nupChoice == 1) {
        dm.paperFormats[1].orientationCode = 2;  // two portrait pages across a landscape sheet
    }
    const std::string png = (root_ / "reference-%d.png").string();
    const auto result = zq::emf::PrintDocument(u"Mono", emf, u"samples", &dm.dm, png);
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.stats.failed, 0u) << "every drawing call printed";
    ASSERT_EQ(result.pages, c.samples.size());
    const auto bytes = ReadAll(zq::store::JobFile(result.outputJob));
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("\x1b%1B"), std::string::npos) << "the job draws in HP-GL/2";
    if (const char* dir = std::getenv("ZQ_GL2_DUMP_DIR")) {
        std::ofstream(std::string(dir) + "/" + c.name + ".pcl", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const size_t perSheet = c.nupChoice == 0 ? 1 : c.nupChoice == 1 ? 2 : 4;
    const size_t sheets = (c.samples.size() + perSheet - 1) / perSheet;
    const auto frames = Frames(bytes);
    ASSERT_EQ(frames.size(), c.samples.size()) << "one picture frame a page";

    // The reader draws the logical page from the printable corner: on the
    // sheet of 2-up the geometry of the other orientation.
    const auto& g = dm.paperFormats[0];
    const auto& turned = dm.paperFormats[c.nupChoice == 1 ? 1 : 0];
    pclread::Options options;
    options.pageWidth = turned.printableWidth;
    options.pageHeight = turned.printableLength;
    const pclread::Job job = pclread::Read(bytes, options);
    EXPECT_TRUE(job.Ok()) << ErrorText(job);
    ASSERT_EQ(job.pages.size(), sheets) << "the reader decodes every sheet";

    // The expected sheets, in the reader's page and on the interpreter's
    // sheet (the same, moved by the printable corner).
    std::vector<pclread::Grey> expected;
    for (size_t s = 0; s < sheets; ++s) expected.emplace_back(job.pages[s].width, job.pages[s].height);
    struct Bar {
        size_t sheet;
        int32_t x, y, w, h;
    };
    std::vector<Bar> frameBars;  // the frames' bars, each sheet's own
    for (size_t i = 0; i < c.samples.size(); ++i) {
        const auto reference = pclread::ReadGreyPng(zq::emf::PagePath(png, i + 1));
        ASSERT_TRUE(reference) << "reference of page " << i + 1;
        pclread::Grey& sheet = expected[i / perSheet];
        if (perSheet == 1) {
            Overlay(sheet, *reference, 0, 0);
            continue;
        }
        // The page scaled into its frame (anchored in dots from the
        // printable corner).
        const Frame& f = frames[i];
        const double sx = f.width720 * c.dpi / 720.0 / reference->width, sy = f.height720 * c.dpi / 720.0 / reference->height;
        EXPECT_NEAR(sx, sy, 0.02) << "page " << i + 1 << " keeps its aspect";
        EXPECT_LT(sx, 0.75) << "page " << i + 1 << " drawn small";
        if (i % perSheet) {
            const Frame& before = frames[i - 1];
            const bool apart = before.x + std::lround(before.width720 * c.dpi / 720.0) <= f.x + 1 ||
                               before.y + std::lround(before.height720 * c.dpi / 720.0) <= f.y + 1;
            EXPECT_TRUE(apart) << "page " << i + 1 << " overlaps the page before it";
        }
        const pclread::Grey drawn = pclread::Scale(*reference, sx, sy);
        Overlay(sheet, drawn, f.x, f.y);
        if (c.frames) {
            // Four black bars of the frame's thickness around the drawn page.
            const int32_t t = pclrend::FrameThickness(c.dpi), w = drawn.width, h = drawn.height;
            const int32_t bars[4][4] = {{f.x - t, f.y - t, w + 2 * t, t},
                                        {f.x + w, f.y - t, t, h + 2 * t},
                                        {f.x - t, f.y + h, w + 2 * t, t},
                                        {f.x - t, f.y - t, t, h + 2 * t}};
            for (const auto& b : bars) {
                Overlay(sheet, pclread::Grey(b[2], b[3], 0), b[0], b[1]);
                frameBars.push_back({i / perSheet, b[0], b[1], b[2], b[3]});
            }
        }
    }

    const std::string gpcl6 = Gpcl6Path();
    std::vector<GreyPage> printed;
    if (!gpcl6.empty() && c.gpcl6 != Gpcl6::NotRun) {
        printed = RunGpcl6(gpcl6, pclread::VendorGreysAsShading(bytes), c.dpi, std::string("gl2-") + c.name);
        EXPECT_EQ(printed.size(), sheets) << "the interpreter prints every sheet, no error page";
    }
    // Grey where the reference or the decoded page holds grey (the
    // printer's own flat greys, which the reader paints flat); everywhere on
    // scaled sheets.
    // A grey area's edge pixel moved into the next block by the shift
    // below still counts as its halftone.
    auto greyBlocks = [&](const pclread::Grey& want, const pclread::Grey& decoded) {
        std::vector<uint8_t> blocks = pclread::GreyBlocks(want);
        const auto moved = pclread::GreyBlocks(Moved(want, kInterpreterShift));
        for (size_t b = 0; b < blocks.size() && b < moved.size(); ++b) blocks[b] |= moved[b];
        const auto more = pclread::GreyBlocks(decoded);
        for (size_t b = 0; b < blocks.size() && b < more.size(); ++b) blocks[b] |= more[b] || perSheet > 1;
        return blocks;
    };
    for (size_t s = 0; s < sheets; ++s) {
        const pclread::Grey decoded = pclread::ToGrey(job.pages[s]);
        // The areas the printer inks by rules of its own, on this sheet
        // (at the sheet's corner `ox`, `oy`): strokes of the least pen width
        // are held to that width (a cosmetic line prints 2 dots wide at 600
        // dpi and 4 at 1200, where the engine draws one dot; the far edge of
        // 4 lies 2 dots out). Left out: the printer's cross-hatch (FT21),
        // its own pattern at its own pitch (16 dots at 300 dpi, scaled with
        // the resolution), not the engine's 8-pixel brush, so its tone
        // differs by design (that it is there is checked below); and, for
        // the interpreter only, what it draws its own way: dashes of no
        // whole number of dots (it lays each out in whole dots and drifts
        // half a dot a dash), the sharp corners of wide round-joined lines
        // (it notches them) and the ends of dashed lines (where one ends in
        // a gap it inks a dash of nothing, a stub as wide as the pen).
        auto loose = [&](int32_t ox, int32_t oy, bool interpreter) {
            std::vector<pclread::LooseArea> areas;
            for (const auto& a : job.markedAreas) {
                if (a.page != s) continue;
                const bool thin = a.what == "least-width pen", hatch = a.what == "FT21" || a.what == "SV21";
                if (!thin && !hatch && !interpreter) continue;
                areas.push_back({a.left + ox, a.top + oy, a.right + ox, a.bottom + oy, a.radius, !thin});
            }
            return areas;
        };
        // The cross-hatch left out above is there: the decoded page inks
        // inside every hatched area.
        for (const auto& a : job.markedAreas) {
            if (a.page != s || (a.what != "FT21" && a.what != "SV21")) continue;
            int64_t ink = 0;
            for (int32_t y = a.top; y < a.bottom; ++y)
                for (int32_t x = a.left; x < a.right; ++x) ink += job.pages[s].Black(x, y);
            EXPECT_GT(ink * 20, int64_t{a.right - a.left} * (a.bottom - a.top)) << a.what << " area at " << a.left << ":" << a.top;
        }
        auto judge = [&](const pclread::Grey& sheet, const pclread::Grey& want, const pclread::Grey& read, const char* who,
                         const std::vector<pclread::LooseArea>& areas, int32_t lean) {
            const auto m = pclread::MatchSheet(sheet, want, greyBlocks(want, read), {}, areas, lean);
            ASSERT_TRUE(m) << who << ", sheet " << s + 1 << ": " << sheet.width << "x" << sheet.height << " against "
                           << want.width << "x" << want.height;
            EXPECT_GT(m->expectedInk, 1000);
            if (const char* dir = std::getenv("ZQ_GL2_DUMP_DIR")) {
                const std::string stem = std::string(dir) + "/" + c.name + "-" + std::to_string(s + 1) + "-" + who;
                pclread::WriteGreyPng(want, stem + "-expected.png");
                pclread::WriteGreyPng(sheet, stem + ".png");
            }
            if (!(std::string(who) == "reader" ? c.readerJudged : c.gpcl6 == Gpcl6::Judged)) {
                std::printf("%s, %s, sheet %zu: %s\n", c.name, who, s + 1, pclread::Verdict(*m).c_str());
                return;
            }
            EXPECT_LE(m->worstTone, perSheet > 1 ? kScaledToneBound : pclread::kToneBound)
                << who << ", sheet " << s + 1 << ": " << pclread::Verdict(*m);
            if (perSheet == 1) {
                EXPECT_EQ(m->extra + m->missing, 0) << who << ", sheet " << s + 1 << ": " << pclread::Verdict(*m);
            }
        };
        // The frames are there: each bar's middle line inked (within a
        // pixel) along its length. (Tone alone would miss a thin bar.)
        auto framed = [&](const pclread::Grey& sheet, int32_t ox, int32_t oy, const char* who) {
            for (const Bar& b : frameBars) {
                if (b.sheet != s) continue;
                int64_t bare = 0;
                for (int32_t k = 1; k < 40; ++k) {  // the corners are the crossing bars' too
                    const int32_t x = ox + b.x + (b.w > b.h ? b.w * k / 40 : b.w / 2), y = oy + b.y + (b.w > b.h ? b.h / 2 : b.h * k / 40);
                    bool ink = false;
                    for (int32_t dy = -1; dy <= 1; ++dy)
                        for (int32_t dx = -1; dx <= 1; ++dx)
                            ink |= x + dx >= 0 && y + dy >= 0 && x + dx < sheet.width && y + dy < sheet.height && sheet.At(x + dx, y + dy) < 128;
                    bare += !ink;
                }
                EXPECT_EQ(bare, 0) << who << ", sheet " << s + 1 << ": frame bar at " << b.x << ":" << b.y;
            }
        };
        framed(decoded, 0, 0, "reader");
        judge(decoded, expected[s], decoded, "reader", loose(0, 0, false), 0);
        if (s >= printed.size()) continue;
        // The interpreter's whole sheet: the same page at the printable corner.
        const pclread::Grey sheet = pclread::ToGrey(printed[s]);
        const bool across = turned.width > turned.length;
        pclread::Grey onSheet(across ? std::max(sheet.width, sheet.height) : std::min(sheet.width, sheet.height),
                              across ? std::min(sheet.width, sheet.height) : std::max(sheet.width, sheet.height));
        Overlay(onSheet, expected[s], g.usedLeftMargin, g.usedTopMargin);
        const pclread::Grey read = pclread::Place(decoded, onSheet.width, onSheet.height, g.usedLeftMargin, g.usedTopMargin);
        const pclread::Grey upright = Moved(Upright(sheet, onSheet), kInterpreterShift);
        framed(upright, g.usedLeftMargin, g.usedTopMargin, "gpcl6");
        judge(upright, onSheet, read, "gpcl6", loose(g.usedLeftMargin, g.usedTopMargin, true), kInterpreterLean);
    }
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6): judged by the reader only";
}

// The colour model prints the samples without pictures (text, shapes,
// clip) in colour in PCL 5 with HP-GL/2 and in PCL XL. The reader decodes
// the HP-GL/2 pages in colour: each pixel the engine's colour (flat colours
// exact; the vendor greys it paints flat are greys of the printer's own
// halftone, judged as tone); it reads the PCL XL sheets as grey. The
// interpreter prints both jobs in colour. Grey sheets are the reference's
// grey within the sheet tolerance (ink within a pixel, tone over 16 x 16
// blocks within 40).
using Gl2ColourSamplePrintTest = PrinterTest;

TEST_F(Gl2ColourSamplePrintTest, SamplesWithoutPicturesPrintInTheirColours) {
    const std::vector<const char*> samples = {"text", "shapes", "clip"};
    // In HP-GL/2 the reader is held to every page and the interpreter to
    // the text and shapes pages (its clip page inks some edge pixels more
    // than a pixel out). PCL XL is judged whole.
    const bool readerJudged[] = {true, true, true};
    const bool gpcl6Judged[] = {true, true, false};
    const std::vector<uint8_t> emf = SampleDocument(samples);
    ASSERT_FALSE(emf.empty()) << "the samples cannot be read (ZQ_SOURCE_DIR)";
    const std::string gpcl6 = Gpcl6Path();
    // The grey of a colour as the interpreter's colour pages are read.
    auto grey = [](uint32_t c) { return static_cast<uint8_t>((5 * (c >> 16 & 0xFF) + 9 * (c >> 8 & 0xFF) + 2 * (c & 0xFF)) / 16); };
    for (const BYTE language : {BYTE{1}, BYTE{2}}) {
        SCOPED_TRACE(language);
        auto dm = ColourLetter(300, language);
        const std::string png = (root_ / ("colour-" + std::to_string(language) + "-%d.png")).string();
        const auto result = zq::emf::PrintDocument(u"Mono", emf, u"samples", &dm.dm, png);
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(result.stats.failed, 0u) << "every drawing call printed";
        ASSERT_EQ(result.pages, samples.size());
        const auto bytes = ReadAll(zq::store::JobFile(result.outputJob));
        const auto& g = dm.paperFormats[0];
        pclread::Options options;
        options.pageWidth = g.printableWidth;
        options.pageHeight = g.printableLength;
        const pclread::Job job = pclread::Read(bytes, options);
        EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors.front());
        std::vector<pclread::Page> references;
        for (size_t i = 0; i < samples.size(); ++i) {
            auto reference = pclread::ReadRgbPng(zq::emf::PagePath(png, i + 1));
            ASSERT_TRUE(reference) << "reference of page " << i + 1;
            references.push_back(std::move(*reference));
        }
        if (language == 1) {
            ASSERT_EQ(job.pages.size(), samples.size());
            for (size_t i = 0; i < samples.size(); ++i) {
                const pclread::Page& page = job.pages[i];
                const pclread::Page& want = references[i];
                ASSERT_FALSE(page.rgb.empty()) << samples[i] << " printed in colour";
                // Pixels whose colour is not the engine's within a pixel,
                // outside the vendor greys' areas.
                int64_t wrong = 0;
                for (int32_t y = 0; y < std::min(page.height, want.height); ++y)
                    for (int32_t x = 0; x < std::min(page.width, want.width); ++x) {
                        // Either page's colour found within a pixel in the
                        // other: an edge a pixel along either way.
                        const uint32_t got = page.Colour(x, y), expected = want.Colour(x, y);
                        bool near = got == expected;
                        for (int32_t dy = -1; dy <= 1 && !near; ++dy)
                            for (int32_t dx = -1; dx <= 1 && !near; ++dx)
                                near = x + dx >= 0 && y + dy >= 0 && x + dx < want.width && y + dy < want.height &&
                                       x + dx < page.width && y + dy < page.height &&
                                       (got == want.Colour(x + dx, y + dy) || expected == page.Colour(x + dx, y + dy));
                        if (near) continue;
                        bool vendor = false;
                        for (const auto& a : job.vendorAreas)
                            vendor |= a.page == i && x >= a.left && x < a.right && y >= a.top && y < a.bottom;
                        wrong += !vendor;
                    }
                if (readerJudged[i]) EXPECT_EQ(wrong, 0) << samples[i] << ": pixels not of the engine's colour";
                else std::printf("colour %s, reader: %lld pixels not of the engine's colour within a pixel\n", samples[i], static_cast<long long>(wrong));
                if (const char* dir = std::getenv("ZQ_GL2_DUMP_DIR")) {
                    pclread::WritePng(page, std::string(dir) + "/colour-" + samples[i] + "-decoded.png");
                    pclread::WritePng(want, std::string(dir) + "/colour-" + samples[i] + "-expected.png");
                }
            }
        }
        // The engine's page as grey on a sheet of `width` x `height`, at the
        // printable corner.
        auto greySheet = [&](size_t i, int32_t width, int32_t height) {
            pclread::Grey want(width, height), page(references[i].width, references[i].height);
            for (int32_t y = 0; y < page.height; ++y)
                for (int32_t x = 0; x < page.width; ++x) page.v[static_cast<size_t>(y) * page.width + x] = grey(references[i].Colour(x, y));
            Overlay(want, page, g.usedLeftMargin, g.usedTopMargin);
            return want;
        };
        if (language == 2) {
            // The reader keeps PCL XL sheets as grey (the same weights).
            ASSERT_EQ(job.xl.pages.size(), samples.size());
            for (size_t i = 0; i < samples.size(); ++i) {
                const pclread::Grey sheet = pclread::ToGrey(job.xl.pages[i]);
                const pclread::Grey want = greySheet(i, sheet.width, sheet.height);
                const auto m = pclread::MatchSheet(sheet, want, pclread::GreyBlocks(want));
                ASSERT_TRUE(m);
                EXPECT_GT(m->expectedInk, 1000);
                EXPECT_TRUE(m->Passes()) << samples[i] << ", PCL XL, reader: " << pclread::Verdict(*m);
            }
        }
        if (gpcl6.empty()) continue;
        const auto printed = RunGpcl6(gpcl6, language == 1 ? pclread::VendorGreysAsShading(bytes) : bytes, 300,
                                      "colour-samples-" + std::to_string(language), true);
        ASSERT_EQ(printed.size(), samples.size()) << "the interpreter prints every sheet";
        for (size_t i = 0; i < samples.size(); ++i) {
            const pclread::Grey sheet = pclread::ToGrey(printed[i]);
            const pclread::Grey want = greySheet(i, sheet.width, sheet.height);
            // HP-GL/2 vectors print a pixel up and left in the interpreter.
            const pclread::Grey moved = language == 1 ? Moved(sheet, kInterpreterShift) : sheet;
            const auto m = pclread::MatchSheet(moved, want, pclread::GreyBlocks(want), {}, {}, language == 1 ? kInterpreterLean : 0);
            ASSERT_TRUE(m);
            EXPECT_GT(m->expectedInk, 1000);
            if (language == 1 && !gpcl6Judged[i]) {
                std::printf("colour %s, language 1, gpcl6: %s\n", samples[i], pclread::Verdict(*m).c_str());
                continue;
            }
            EXPECT_TRUE(m->Passes()) << samples[i] << ", language " << int{language} << ", gpcl6: " << pclread::Verdict(*m);
        }
    }
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6): judged by the reader only";
}

INSTANTIATE_TEST_SUITE_P(Samples, Gl2SamplePrintTest, ::testing::ValuesIn(kGl2Samples),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
