// The sample documents printed through pclrend in PCL 5 with HP-GL/2 (the
// language of the PCL 5 line) and rendered by the independent interpreter,
// each sheet compared with the engine's own render of its pages: 1-up at the
// printable corner, ink within a pixel and grey as tone over 16 x 16 blocks;
// 2-up and 4-up each page scaled into the cell its picture frame names, as
// tone. Tests skip when the interpreter is
// absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gdi/emf_print.h"
#include "pclread/judge.h"
#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"

namespace {

using namespace pclrend::testing;

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

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

// The job as a general interpreter can print it: the vendor's flat greys
// (FT9 and SV9 with a grey level, 255 white) become the standard shading of
// the same darkness (FT10 and SV1 in percent), so their areas are judged as
// tone too.
std::vector<uint8_t> VendorGreysAsShading(const std::vector<uint8_t>& job) {
    const std::string s(job.begin(), job.end());
    std::string out;
    size_t at = 0;
    for (size_t hit; (hit = std::min(s.find("FT9,", at), s.find("SV9,", at))) != std::string::npos;) {
        size_t end = hit + 4;
        int level = 0;
        while (end < s.size() && std::isdigit(static_cast<unsigned char>(s[end]))) level = level * 10 + (s[end++] - '0');
        out.append(s, at, hit - at);
        const int percent = ((255 - std::min(level, 255)) * 100 + 127) / 255;
        out += (s[hit] == 'F' ? "FT10," : "SV1,") + std::to_string(percent);
        at = end;
    }
    out.append(s, at, std::string::npos);
    return {out.begin(), out.end()};
}

struct Gl2SampleCase {
    const char* name;
    std::vector<const char*> samples;  // one page each, in order
    int dpi;
    uint8_t nupChoice;  // 0 one page a sheet, 1 two, 3 four
    // Held to the page: ink within a pixel, tone within the bound. The
    // other sheets print every page in place (frames, no error page) but do
    // not yet match everywhere (clipped shapes; pages drawn small, whose
    // text and pictures the printer scales and halftones by its own rules);
    // their verdict is shown.
    bool judged;
};

const Gl2SampleCase kGl2Samples[] = {
    {"text_photo_300", {"text", "photo"}, 300, 0, true},
    {"shapes_clip_300", {"shapes", "clip"}, 300, 0, false},
    {"text_photo_300_2up", {"text", "photo", "text"}, 300, 1, false},
};

// Pages drawn at half size or less make runs thinner than a pixel, which
// each printer inks by its own rule: scaled sheets take a wider tone bound.
constexpr int kScaledToneBound = 72;

class Gl2SamplePrintTest : public PrinterTest, public ::testing::WithParamInterface<Gl2SampleCase> {};

TEST_P(Gl2SamplePrintTest, SheetsAreTheReferencePagesPlacedOnThem) {
    const Gl2SampleCase& c = GetParam();
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::vector<uint8_t> emf;
    for (const char* sample : c.samples) {
        const auto bytes = ReadAll(std::filesystem::path(source) / "tools/emfgen/samples" / (std::string(sample) + ".emf"));
        ASSERT_FALSE(bytes.empty()) << sample;
        emf.insert(emf.end(), bytes.begin(), bytes.end());
    }
    auto dm = Gl2Letter(c.dpi);
    dm.pagesPerSheet = c.nupChoice;
    if (c.nupChoice == 1) dm.paperFormats[1].orientationCode = 2;  // two portrait pages across a landscape sheet
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
    const std::string gpcl6 = Gpcl6Path();
    if (gpcl6.empty()) GTEST_SKIP() << "gpcl6 not found (set ZQ_GPCL6 or put it at ../shared/tools/gpcl6): not judged";
    const auto printed = RunGpcl6(gpcl6, VendorGreysAsShading(bytes), c.dpi, std::string("gl2-") + c.name);
    const size_t perSheet = c.nupChoice == 0 ? 1 : c.nupChoice == 1 ? 2 : 4;
    const size_t sheets = (c.samples.size() + perSheet - 1) / perSheet;
    ASSERT_EQ(printed.size(), sheets) << "the interpreter prints every sheet, no error page";
    const auto frames = Frames(bytes);
    ASSERT_EQ(frames.size(), c.samples.size()) << "one picture frame a page";

    const auto& g = dm.paperFormats[0];
    std::vector<pclread::Grey> expected;
    for (size_t i = 0; i < c.samples.size(); ++i) {
        const auto reference = pclread::ReadGreyPng(zq::emf::PagePath(png, i + 1));
        ASSERT_TRUE(reference) << "reference of page " << i + 1;
        const size_t s = i / perSheet;
        if (expected.size() <= s) {
            // The sheet as the interpreter printed it, upright.
            const pclread::Grey sheet = pclread::ToGrey(printed[s]);
            const bool across = c.nupChoice == 1;
            expected.emplace_back(across ? std::max(sheet.width, sheet.height) : std::min(sheet.width, sheet.height),
                                  across ? std::min(sheet.width, sheet.height) : std::max(sheet.width, sheet.height));
        }
        if (perSheet == 1) {
            Overlay(expected[s], *reference, g.usedLeftMargin, g.usedTopMargin);
            continue;
        }
        // The page scaled into its frame. The anchor is in dots from the
        // logical page, which these margins move out to the printable area
        // (ESC&l#U): it counts from the printable corner.
        const Frame& f = frames[i];
        const double sx = f.width720 * c.dpi / 720.0 / reference->width, sy = f.height720 * c.dpi / 720.0 / reference->height;
        EXPECT_NEAR(sx, sy, 0.02) << "page " << i + 1 << " keeps its aspect";
        const auto scaled = pclread::Scale(*reference, sx, sy);
        const int32_t x = f.x + g.usedLeftMargin, y = f.y + g.usedTopMargin;
        if (i % perSheet) {
            const Frame& before = frames[i - 1];
            const bool apart = before.x + std::lround(before.width720 * c.dpi / 720.0) <= f.x + 1 ||
                               before.y + std::lround(before.height720 * c.dpi / 720.0) <= f.y + 1;
            EXPECT_TRUE(apart) << "page " << i + 1 << " overlaps the page before it";
        }
        Overlay(expected[s], scaled, x, y);
    }
    for (size_t s = 0; s < sheets; ++s) {
        const pclread::Grey sheet = Upright(pclread::ToGrey(printed[s]), expected[s]);
        // The engine renders these pages in colour: its grey fills and
        // pictures are tone, which the printer halftones; they are judged
        // as tone, the rest ink for ink. Scaled pages have no pixel edges to
        // hold to: tone only.
        std::vector<uint8_t> greyBlocks = pclread::GreyBlocks(expected[s]);
        if (perSheet > 1) std::fill(greyBlocks.begin(), greyBlocks.end(), 1);
        const auto m = pclread::MatchSheet(sheet, expected[s], greyBlocks);
        ASSERT_TRUE(m) << "sheet " << s + 1 << ": " << sheet.width << "x" << sheet.height << " against "
                       << expected[s].width << "x" << expected[s].height;
        if (const char* dir = std::getenv("ZQ_GL2_DUMP_DIR")) {
            const std::string stem = std::string(dir) + "/" + c.name + "-" + std::to_string(s + 1);
            pclread::WriteGreyPng(expected[s], stem + "-expected.png");
            pclread::WriteGreyPng(sheet, stem + "-gpcl6.png");
        }
        EXPECT_GT(m->expectedInk, 1000);
        if (!c.judged) {
            std::printf("%s, sheet %zu: %s\n", c.name, s + 1, pclread::Verdict(*m).c_str());
            continue;
        }
        EXPECT_LE(m->worstTone, perSheet > 1 ? kScaledToneBound : pclread::kToneBound)
            << "sheet " << s + 1 << ": " << pclread::Verdict(*m);
        if (perSheet == 1) {
            EXPECT_EQ(m->extra + m->missing, 0) << "sheet " << s + 1 << ": " << pclread::Verdict(*m);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, Gl2SamplePrintTest, ::testing::ValuesIn(kGl2Samples),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
