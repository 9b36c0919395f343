// The sample documents printed the way `zq print` prints them (spooled as an
// EMF job, played onto a DC of a language-0 printer whose driver writes the
// PCL job), decoded with the test-side reader and compared pixel for pixel
// with the engine's unbanded reference render that the same call writes, and
// with the sheet the independent interpreter prints from the job; on a
// colour model in colour, colour for colour.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "gdi/emf_print.h"
#include "pclread/judge.h"
#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"
#include "testing/fresh_root.h"

namespace {

using namespace pclrend::testing;

struct SampleCase {
    const char* sample;
    int dpi;
    SHORT paper;
    // The record of a model whose resolution-bound feature is on (the
    // "Zelquor Mira 12" default): a monochrome model that asks for it.
    bool featureModel = false;
    // A colour model printing in colour: 24-bit bands, decoded colour for
    // colour, and the interpreter's colour sheet as grey.
    bool colour = false;
};

// Every sample at one resolution or more, every resolution for one sample or
// more; the slowest samples at the lower resolutions keep the run short. At
// 300 dpi a letter page fits one band of the smallest budget, an A4 page
// does not (two bands of 1703 and 1704 rows).
const SampleCase kCases[] = {
    {"text", 300, DMPAPER_LETTER},
    {"text", 300, DMPAPER_A4},
    {"text", 1200, DMPAPER_LETTER},
    {"clip", 300, DMPAPER_A4},
    {"clip", 600, DMPAPER_LETTER},
    {"shapes", 300, DMPAPER_A4},
    {"shapes", 600, DMPAPER_LETTER},
    {"photo", 600, DMPAPER_LETTER},
    {"photo", 300, DMPAPER_LETTER, true},
    {"text", 300, DMPAPER_LETTER, false, true},
    {"clip", 300, DMPAPER_LETTER, false, true},
    {"shapes", 300, DMPAPER_LETTER, false, true},
    {"photo", 300, DMPAPER_A4, false, true},
};

std::string CaseName(const ::testing::TestParamInfo<SampleCase>& info) {
    return std::string(info.param.sample) + "_" + std::to_string(info.param.dpi) +
           (info.param.paper == DMPAPER_A4 ? "_a4" : "_letter") + (info.param.featureModel ? "_mira" : "") +
           (info.param.colour ? "_colour" : "");
}

class SamplePrintTest : public zq::testing::FreshRoot, public ::testing::WithParamInterface<SampleCase> {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        ASSERT_FALSE(InstallPrinter().empty());
    }
};

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST_P(SamplePrintTest, DecodedPageEqualsTheReferenceRender) {
    const auto [sample, dpi, paper, featureModel, colour] = GetParam();
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const auto emf = ReadFile(std::filesystem::path(source) / "tools/emfgen/samples" / (std::string(sample) + ".emf"));
    ASSERT_FALSE(emf.empty()) << sample;

    auto dm = Letter(dpi);
    dm.dm.dmPaperSize = paper;
    if (featureModel) {
        // Images must still be halftoned onto the one-bit band.
        dm.resolutionFeature = 1;
        dm.model.flags400 = 0x0004;
    }
    MakeRasterDevmode(dm, dpi);
    if (colour) {
        dm.model.flags400 = 0x0008;
        dm.dm.dmColor = DMCOLOR_COLOR;
    }
    const std::string png = (root_ / "reference.png").string();
    const auto result = zq::emf::PrintDocument(u"Mono", emf, u"sample", &dm.dm, png);
    ASSERT_EQ(result.error, "");
    ASSERT_NE(result.outputJob, 0u);
    EXPECT_EQ(result.stats.failed, 0u);

    pclread::Options options = PrintableArea(dm);
    options.keepCommands = true;
    const auto jobFile = zq::store::JobFile(result.outputJob);
    const auto job = pclread::Read(ReadFile(jobFile), options);
    EXPECT_TRUE(job.Ok()) << job.errors.front();
    EXPECT_EQ(job.resolution, dpi);
    EXPECT_EQ(job.uelCount, 2u);
    EXPECT_EQ(job.formFeeds, 1u);
    ASSERT_EQ(job.pages.size(), 1u);
    // A page larger than the smallest band budget (a million bytes) goes out
    // in several bands: their seams are part of the check.
    size_t rasterStarts = 0;
    for (const auto& c : job.commands) rasterStarts += c.prefix == "*r" && c.terminator == 'A';
    const int64_t pageBytes = int64_t{(options.pageWidth * (colour ? 24 : 1) + 31) / 32 * 4} * options.pageHeight;
    EXPECT_GE(rasterStarts, pageBytes > 1000000 ? 2u : 1u);

    const auto reference = colour ? pclread::ReadRgbPng(png) : pclread::ReadPng(png);
    ASSERT_TRUE(reference);
    const auto& page = job.pages[0];
    EXPECT_GT(page.BlackCount(), 10000);
    EXPECT_EQ(page.rgb.empty(), !colour);
    const int64_t wrong = pclread::Differences(page, *reference);
    EXPECT_EQ(wrong, 0) << "decoded " << page.width << "x" << page.height << ", reference " << reference->width << "x"
                        << reference->height;
    // The independent interpreter prints the same ink at the printable
    // area's offset on the sheet, where the device's pixels begin.
    const std::string gpcl6 = Gpcl6Path();
    if (!gpcl6.empty() && dpi <= 600) {
        const auto sheets = RunGpcl6(gpcl6, ReadFile(jobFile), dpi, CaseName({GetParam(), 0}), colour);
        ASSERT_EQ(sheets.size(), 1u) << "the interpreter printed one sheet";
        const auto& sheet = sheets[0];
        const auto& at = result.placements[0];
        EXPECT_EQ(sheet.width, at.sheet.cx);
        EXPECT_EQ(sheet.height, at.sheet.cy);
        const int x = at.offset.x, y = at.offset.y;
        int64_t differ = 0;
        for (int32_t py = 0; py < page.height && py + y < sheet.height; ++py)
            for (int32_t px = 0; px < page.width && px + x < sheet.width; ++px) {
                if (!colour) {
                    differ += page.Black(px, py) != (sheet.At(px + x, py + y) < 128);
                    continue;
                }
                // The grey of the decoded colour, as the sheet is read.
                const uint32_t c = page.Colour(px, py);
                const int grey = static_cast<int>((5 * (c >> 16) + 9 * ((c >> 8) & 0xFF) + 2 * (c & 0xFF)) / 16);
                differ += std::abs(grey - int{sheet.At(px + x, py + y)}) > 2;
            }
        EXPECT_EQ(differ, 0) << "the interpreter's sheet against the decoded page";
    }
    // For a look at a failure: the job and the reference, for `pclread JOB --reference`.
    if (const char* dir = std::getenv("ZQ_RENDER_DUMP"); dir && wrong) {
        const std::string stem = std::string(dir) + "/" + sample + "-" + std::to_string(dpi);
        std::error_code ec;
        std::filesystem::copy_file(jobFile, stem + ".pcl", std::filesystem::copy_options::overwrite_existing, ec);
        std::filesystem::copy_file(png, stem + "-reference.png", std::filesystem::copy_options::overwrite_existing, ec);
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, SamplePrintTest, ::testing::ValuesIn(kCases), CaseName);

// The fonts sample in the raster language: text in the printer's faces (in
// the six symbol sets) and TrueType text sent as bitmap or outline soft
// fonts, decoded with the test-side reader (printer faces and outlines drawn
// from their fonts) against the reference render, which draws the printer's
// faces from the same source fonts at the driver's widths: pixel for pixel
// away from the text drawn from fonts, within the text tolerance around it.
struct FontsCase {
    short ttOption;      // 2: bitmap soft fonts, 4: outlines where the font allows
    bool deviceFaces;    // the printer's faces offered (else every face is TrueType)
    const char* name;
    BYTE language = 0;   // 0: raster, 2: PCL XL
};
const FontsCase kFontsCases[] = {
    {2, true, "bitmaps_and_printer_faces"},
    {4, true, "outlines_and_printer_faces"},
    {4, false, "outlines_only"},
    {4, false, "pcl_xl_outlines", 2},
    // The printer's faces in PCL XL, where a face's bold and italic are
    // fonts of names of their own: a bold run printed in the regular
    // style leaves ink missing.
    {4, true, "pcl_xl_outlines_and_printer_faces", 2},
};

class FontsSampleTest : public zq::testing::FreshRoot, public ::testing::WithParamInterface<FontsCase> {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        ASSERT_FALSE(InstallPrinter().empty());
    }
};

TEST_P(FontsSampleTest, DecodedTextLiesWithinTheToleranceOfTheReference) {
    const FontsCase c = GetParam();
    constexpr int dpi = 600;
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const auto emf = ReadFile(std::filesystem::path(source) / "tools/emfgen/samples/fonts.emf");
    ASSERT_FALSE(emf.empty());
    auto dm = Letter(dpi);
    dm.printerLanguage = c.language;
    dm.dm.dmTTOption = c.ttOption;
    dm.nonCjkSwitch = c.deviceFaces ? 1 : 0;
    dm.fontSets1 = 0xFF;  // all six symbol sets
    if (c.language == 2) dm.model.fontListId = 1;  // the Tarn's faces: the PCL XL model's list
    const std::string png = (root_ / "reference.png").string();
    const auto result = zq::emf::PrintDocument(u"Mono", emf, u"fonts", &dm.dm, png);
    ASSERT_EQ(result.error, "");
    ASSERT_NE(result.outputJob, 0u);
    const auto bytes = ReadFile(zq::store::JobFile(result.outputJob));
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (c.language == 2) {
        // A PCL XL sheet: the reference where the page lies on it, ink near
        // ink (within the text tolerance around characters drawn from fonts).
        const auto job = pclread::Read(bytes);
        EXPECT_TRUE(job.Ok()) << ErrorText(job);
        ASSERT_EQ(job.xl.pages.size(), 1u);
        const auto& sheet = job.xl.pages[0];
        EXPECT_FALSE(sheet.textGlyphs.empty()) << "outline characters drawn from the rebuilt fonts";
        const auto reference = pclread::ReadGreyPng(png);
        ASSERT_TRUE(reference);
        const auto& at = result.placements[0];
        const pclread::Grey printed = pclread::ToGrey(sheet);
        const pclread::Grey expected = pclread::Place(*reference, printed.width, printed.height, at.offset.x, at.offset.y);
        const auto m = pclread::MatchSheet(printed, expected, pclread::GreyBlocks(printed), sheet.textGlyphs);
        ASSERT_TRUE(m);
        EXPECT_TRUE(m->Passes()) << pclread::Verdict(*m);
        if (const char* dir = std::getenv("ZQ_RENDER_DUMP"); dir && !m->Passes()) {
            const std::string stem = std::string(dir) + "/fonts-" + c.name;
            std::ofstream(stem + ".pcl", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                  static_cast<std::streamsize>(bytes.size()));
            std::error_code ec;
            std::filesystem::copy_file(png, stem + "-reference.png", std::filesystem::copy_options::overwrite_existing, ec);
            std::printf("placed at %d,%d\n", static_cast<int>(at.offset.x), static_cast<int>(at.offset.y));
        }
        return;
    }
    EXPECT_NE(text.find("\x1b)s"), std::string_view::npos) << "soft fonts were sent";
    EXPECT_EQ(text.find("b16901T") != std::string_view::npos, c.deviceFaces)
        << "the printer's roman face selected by its typeface exactly when offered";

    const auto job = pclread::Read(bytes, PrintableArea(dm));
    EXPECT_TRUE(job.Ok()) << ErrorText(job);
    ASSERT_EQ(job.pages.size(), 1u);
    const auto reference = pclread::ReadPng(png);
    ASSERT_TRUE(reference);
    const auto& page = job.pages[0];
    if (c.ttOption == 4 || c.deviceFaces) {
        EXPECT_FALSE(page.textGlyphs.empty()) << "text drawn from fonts";
    }
    const auto judged = pclread::JudgeWithText(page, *reference);
    ASSERT_TRUE(judged);
    // For a look at a failure: the job and the reference, for `pclread JOB --reference`.
    if (const char* dir = std::getenv("ZQ_RENDER_DUMP"); dir && !judged->Passes()) {
        const std::string stem = std::string(dir) + "/fonts-" + c.name;
        std::ofstream(stem + ".pcl", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                              static_cast<std::streamsize>(bytes.size()));
        std::error_code ec;
        std::filesystem::copy_file(png, stem + "-reference.png", std::filesystem::copy_options::overwrite_existing, ec);
    }
    EXPECT_EQ(judged->outside, 0) << "pixels differ away from the text";
    EXPECT_EQ(judged->farInk, 0) << "text beyond its tolerance (worst " << judged->worst << " of it at "
                                 << judged->worstX << "," << judged->worstY << ")";

    // The independent interpreter knows none of the printer's faces (it
    // prints a substitute of its own for them): it is judged on the job
    // whose every face is TrueType, by the same tolerance against the
    // reference at the printable corner.
    const std::string gpcl6 = Gpcl6Path();
    if (c.deviceFaces) return;
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 is absent: the interpreter's render is not judged";
    const auto sheets = RunGpcl6(gpcl6, bytes, dpi, std::string("fonts-") + c.name);
    ASSERT_EQ(sheets.size(), 1u);
    pclread::Page printed = page;
    const auto& at = result.placements[0];
    for (int32_t y = 0; y < printed.height; ++y)
        for (int32_t x = 0; x < printed.width; ++x) {
            const bool black = x + at.offset.x < sheets[0].width && y + at.offset.y < sheets[0].height &&
                               sheets[0].At(x + at.offset.x, y + at.offset.y) < 128;
            uint8_t& b = printed.bits[static_cast<size_t>(y) * printed.stride + x / 8];
            b = static_cast<uint8_t>(black ? b | (0x80 >> (x % 8)) : b & ~(0x80 >> (x % 8)));
        }
    const auto byInterpreter = pclread::JudgeWithText(printed, *reference);
    ASSERT_TRUE(byInterpreter);
    EXPECT_EQ(byInterpreter->outside, 0) << "the interpreter's sheet away from the text";
    EXPECT_EQ(byInterpreter->farInk, 0) << "the interpreter's text (worst " << byInterpreter->worst << " of it)";
}

INSTANTIATE_TEST_SUITE_P(Fonts, FontsSampleTest, ::testing::ValuesIn(kFontsCases),
                         [](const ::testing::TestParamInfo<FontsCase>& info) { return std::string(info.param.name); });

}  // namespace
