// pclread: decodes a PJL/PCL job with the test-side reader, writes each page
// as a PNG and prints a summary; with reference pages, counts the pixels in
// which each decoded page differs from its reference.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pclread/judge.h"
#include "pclread/pclread.h"
#include "render/colour_raster.h"

namespace {

const char* const kUsage =
    "usage: pclread JOB [--png-prefix PREFIX] [--size WIDTHxHEIGHT] [--reference PAGE.png]... [--commands]\n"
    "       pclread --screen-pictures DIR\n\n"
    "Decodes the PJL/PCL job JOB and prints one line for the job and one per page.\n"
    "--png-prefix PREFIX  writes page N as PREFIX-N.png (N from 1)\n"
    "--size WxH           the logical page in dots (default: from the first\n"
    "                     reference, else letter at the job's resolution)\n"
    "--reference PAGE.png the expected render of the next page; the page line\n"
    "                     then tells the pixels that differ (with a prefix, also\n"
    "                     as PREFIX-N-diff.png), and the exit code is 1 when any\n"
    "                     page differs\n"
    "--commands           lists every HP-GL/2 command with its numbers\n"
    "--as-shading OUT     writes the job with the printer's own greys (FT9, SV9)\n"
    "                     as user raster fills (a 16 x 16 dither) of the same\n"
    "                     darkness, as a general interpreter prints it\n"
    "--screen-pictures DIR  writes each colour-raster screen applied to a grey and a\n"
    "                     colour ramp as DIR/CODE-DEPTH.png, and exits\n"
    "A colour-raster page (levels in colour space 255) is judged by screening its\n"
    "reference with the printer's screen and comparing the levels pixel for pixel;\n"
    "text printed over the levels must lie within 2 pixels of the reference's ink\n"
    "of its colour, and the levels within 2 pixels of it are not compared.\n"
    "A page with text drawn from fonts is judged pixel for pixel (colour for colour\n"
    "on a colour page) away from its glyphs; around them each page's ink (each\n"
    "page's colour) must lie in the other within 2 pixels plus 1% of the glyph's\n"
    "distance from its run's start.\n"
    "Areas painted by the printer's own grey commands (FT9, SV9, ESC*v9T), which\n"
    "other interpreters ignore, are listed as \"vendor area\" lines; strokes of the\n"
    "printer's least pen width and its cross-hatch fills (FT21, SV21), which it\n"
    "inks by rules of its own, as \"marked area\" lines (pagejudge --areas).\n";

// The screen of the colour-raster page being judged.
const pclrend::ColourScreen* g_screen = nullptr;
uint8_t ScreenAt(int32_t x, int32_t y, uint8_t red, uint8_t green, uint8_t blue) {
    bool inked = false;
    return pclrend::ScreenLevel(*g_screen, x, y, red, green, blue, inked);
}

int Fail(const std::string& message, int code = 1);

// Each screen of the colour raster applied to a grey ramp (top half) and a
// ramp through the hues (bottom half), 768 x 256 pixels, written as
// DIR/SCREEN-DEPTH.png with the levels as greys (black the darkest level).
int ScreenPictures(const std::string& dir) {
    for (const char* code : {"QJS", "QJM", "QJK", "QJF"})
        for (int depth : {2, 4}) {
            const pclrend::ColourScreen* s = depth == 2 ? pclrend::LevelScreenOf(code) : pclrend::ThresholdStackOf(code);
            if (!s) continue;
            pclread::Grey g(768, 256);
            const int top = (1 << depth) - 1;
            for (int32_t y = 0; y < g.height; ++y)
                for (int32_t x = 0; x < g.width; ++x) {
                    uint8_t rgb[3];
                    if (y < g.height / 2) {
                        rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(255 - x * 255 / (g.width - 1));
                    } else {
                        const int h = x * 6 * 256 / g.width, f = h % 256, k = h / 256;
                        const int up = f, down = 255 - f;
                        const int table[6][3] = {{255, up, 0}, {down, 255, 0}, {0, 255, up}, {0, down, 255}, {up, 0, 255}, {255, 0, down}};
                        for (int c = 0; c < 3; ++c) rgb[c] = static_cast<uint8_t>(table[k][c]);
                    }
                    bool inked = false;
                    const int v = pclrend::ScreenLevel(*s, x, y, rgb[0], rgb[1], rgb[2], inked);
                    g.v[static_cast<size_t>(y) * g.width + x] = static_cast<uint8_t>(255 - v * 255 / top);
                }
            const std::string out = dir + "/" + code + "-" + std::to_string(depth) + ".png";
            if (!pclread::WriteGreyPng(g, out)) return Fail("cannot write " + out);
            std::printf("%s\n", out.c_str());
        }
    return 0;
}

int Fail(const std::string& message, int code) {
    std::fprintf(stderr, "pclread: %s\n", message.c_str());
    return code;
}

// The sheets of a PCL XL job, each judged against its reference placed on
// the sheet and, when given, the outside interpreter's sheet against it too.
int XlPages(const pclread::Job& job, const std::vector<std::string>& references, const std::vector<std::string>& printed,
            int x, int y, const std::string& prefix) {
    bool same = job.Ok() && (references.empty() || references.size() == job.xl.pages.size());
    for (size_t p = 0; p < job.xl.pages.size(); ++p) {
        const pclread::Grey sheet = pclread::ToGrey(job.xl.pages[p]);
        int64_t black = 0;
        for (uint8_t v : sheet.v) black += v < 128;
        std::printf("page %zu: %dx%d, %lld black", p + 1, sheet.width, sheet.height, static_cast<long long>(black));
        if (p < references.size()) {
            const auto reference = pclread::ReadGreyPng(references[p]);
            if (!reference) return Fail("cannot read the PNG " + references[p]);
            const pclread::Grey expected = pclread::Place(*reference, sheet.width, sheet.height, x, y);
            const auto blocks = pclread::GreyBlocks(sheet);
            const auto& text = job.xl.pages[p].textGlyphs;
            const auto m = pclread::MatchSheet(sheet, expected, blocks, text);
            std::printf(", %s", m ? pclread::Verdict(*m).c_str() : "no sheet to compare");
            same &= m && m->Passes();
            if (p < printed.size()) {
                const auto outside = pclread::ReadPnm(printed[p]);
                const auto o = outside ? pclread::MatchSheet(*outside, expected, blocks, text) : std::nullopt;
                std::printf("; printed: %s", o ? pclread::Verdict(*o).c_str()
                                               : outside ? "another sheet size" : "no sheet");
                same &= o && o->Passes();
            }
        }
        if (!prefix.empty()) {
            const std::string out = prefix + "-" + std::to_string(p + 1) + ".png";
            if (!pclread::WriteGreyPng(sheet, out)) return Fail("cannot write " + out);
            std::printf(", %s", out.c_str());
        }
        std::printf("\n");
    }
    if (!references.empty() && references.size() != job.xl.pages.size())
        std::printf("%zu reference pages for %zu decoded sheets\n", references.size(), job.xl.pages.size());
    return same ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string jobPath, prefix, shadingCopy;
    std::vector<std::string> references, printed;
    int offsetX = 0, offsetY = 0;
    bool listCommands = false;
    pclread::Options options;
    options.keepCommands = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--screen-pictures" && hasValue) {
            return ScreenPictures(argv[++i]);
        } else if (arg == "--commands") {
            listCommands = true;
        } else if (arg == "--as-shading" && hasValue) {
            shadingCopy = argv[++i];
        } else if (arg == "--png-prefix" && hasValue) {
            prefix = argv[++i];
        } else if (arg == "--reference" && hasValue) {
            references.emplace_back(argv[++i]);
        } else if (arg == "--printed" && hasValue) {
            printed.emplace_back(argv[++i]);
        } else if (arg == "--offset" && hasValue) {
            if (std::sscanf(argv[++i], "%d,%d", &offsetX, &offsetY) != 2)
                return Fail(std::string("bad --offset ") + argv[i] + " (want X,Y in dots)", 2);
        } else if (arg == "--size" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &options.pageWidth, &options.pageHeight) != 2 ||
                options.pageWidth <= 0 || options.pageHeight <= 0)
                return Fail(std::string("bad --size ") + argv[i] + " (want WIDTHxHEIGHT in dots)", 2);
        } else if (arg.rfind("--", 0) == 0) {
            return Fail("unknown option or missing value: " + arg + " (see pclread --help)", 2);
        } else if (jobPath.empty()) {
            jobPath = arg;
        } else {
            return Fail("give one JOB (see pclread --help)", 2);
        }
    }
    if (jobPath.empty()) return Fail("give one JOB (see pclread --help)", 2);
    std::ifstream in(jobPath, std::ios::binary);
    if (!in) return Fail("cannot read " + jobPath);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});

    if (!shadingCopy.empty()) {
        const auto copy = pclread::VendorGreysAsShading(bytes);
        std::ofstream out(shadingCopy, std::ios::binary);
        if (!out.write(reinterpret_cast<const char*>(copy.data()), static_cast<std::streamsize>(copy.size())))
            return Fail("cannot write " + shadingCopy);
    }
    std::vector<pclread::Page> expected;
    for (const auto& path : references) {
        auto page = pclread::ReadPng(path);
        if (!page) return Fail("cannot read the PNG " + path);
        expected.push_back(std::move(*page));
    }
    if (!options.pageWidth && !expected.empty()) {
        options.pageWidth = expected.front().width;
        options.pageHeight = expected.front().height;
    }
    options.keepCommands = listCommands;
    const auto job = pclread::Read(bytes, options);
    std::printf("%s: %zu bytes, %zu PJL lines, %zu pages, %d dpi, %zu form faults\n", jobPath.c_str(), bytes.size(),
                job.pjl.size(), job.pages.size(), job.resolution, job.errors.size());
    for (const auto& e : job.errors) std::printf("  fault: %s\n", e.c_str());
    for (const auto& c : job.gl) {
        std::printf("  %s", c.mnemonic.c_str());
        for (size_t i = 0; i < c.params.size(); ++i) std::printf("%s%g", i ? "," : "", c.params[i]);
        if (!c.text.empty()) std::printf(" \"%s\"", c.text.c_str());
        std::printf("\n");
    }
    for (const auto& a : job.vendorAreas)
        std::printf("vendor area: page %zu, %s level %d, x %d-%d y %d-%d\n", a.page + 1, a.command.c_str(), a.level, a.left,
                    a.right - 1, a.top, a.bottom - 1);
    for (const auto& a : job.markedAreas)
        std::printf("marked area: page %zu, radius %d, %s, x %d-%d y %d-%d\n", a.page + 1, a.radius, a.what.c_str(), a.left,
                    a.right - 1, a.top, a.bottom - 1);
    if (job.xl.present) return XlPages(job, references, printed, offsetX, offsetY, prefix);
    bool same = job.Ok() && (expected.empty() || expected.size() == job.pages.size());
    for (size_t p = 0; p < job.pages.size(); ++p) {
        const auto& page = job.pages[p];
        std::printf("page %zu: %dx%d, %lld black", p + 1, page.width, page.height,
                    static_cast<long long>(page.BlackCount()));
        if (p < expected.size() && !page.levels.empty()) {
            // A colour-raster page: its levels against the reference
            // screened with the printer's screen of that depth.
            const auto colours = pclread::ReadRgbPng(references[p]);
            g_screen = page.levelBits == 4 ? pclrend::ThresholdStackOf(pclrend::ScreenProductCode())
                                           : pclrend::LevelScreenOf(pclrend::ScreenProductCode());
            const auto m = colours && g_screen ? pclread::CompareLevels(page, *colours, ScreenAt) : std::nullopt;
            if (!m) std::printf(", reference is %dx%d", expected[p].width, expected[p].height);
            else std::printf(", %lld levels differ from the re-screened reference", static_cast<long long>(m->differing));
            if (m && m->differing) std::printf(" (first at %d,%d)", m->firstX, m->firstY);
            if (m && m->printed)
                std::printf("; %lld pixels printed over the raster, %lld away from the reference's ink of their colour",
                            static_cast<long long>(m->printed), static_cast<long long>(m->printedWrong));
            if (m && m->printedWrong) std::printf(" (first at %d,%d)", m->firstPrintedX, m->firstPrintedY);
            same &= m && m->differing == 0 && m->printedWrong == 0;
        } else if (p < expected.size() && !page.textGlyphs.empty()) {
            // Text drawn from fonts: pixel for pixel outside it, within the
            // text tolerance around its glyphs.
            const auto j = pclread::JudgeWithText(page, expected[p]);
            if (!j) std::printf(", reference is %dx%d", expected[p].width, expected[p].height);
            else
                std::printf(", %lld pixels differ from the reference outside the text and %lld text pixels lie beyond "
                            "their tolerance (worst %.2f of it)",
                            static_cast<long long>(j->outside), static_cast<long long>(j->farInk), j->worst);
            if (j && j->outside) std::printf(" (the first outside the text at %d,%d)", j->outsideX, j->outsideY);
            same &= j && j->Passes();
        } else if (p < expected.size()) {
            const int64_t wrong = pclread::Differences(page, expected[p]);
            if (wrong < 0) std::printf(", reference is %dx%d", expected[p].width, expected[p].height);
            else std::printf(", %lld pixels differ from the reference", static_cast<long long>(wrong));
            same &= wrong == 0;
            if (wrong > 0) {
                // Where they differ, as a box and (with a prefix) as a picture.
                pclread::Page diff = page;
                int32_t x0 = page.width, y0 = page.height, x1 = -1, y1 = -1;
                for (int32_t y = 0; y < page.height; ++y)
                    for (int32_t i = 0; i < page.stride; ++i) {
                        const size_t at = static_cast<size_t>(y) * page.stride + i;
                        diff.bits[at] = page.bits[at] ^ expected[p].bits[at];
                        if (!diff.bits[at]) continue;
                        x0 = std::min(x0, i * 8 + __builtin_clz(diff.bits[at]) - 24);
                        x1 = std::max(x1, i * 8 + 7 - __builtin_ctz(diff.bits[at]));
                        y0 = std::min(y0, y);
                        y1 = y;
                    }
                if (x1 >= 0) std::printf(" within x %d-%d y %d-%d", x0, x1, y0, y1);
                if (!prefix.empty()) pclread::WritePng(diff, prefix + "-" + std::to_string(p + 1) + "-diff.png");
            }
        }
        if (!prefix.empty()) {
            const std::string out = prefix + "-" + std::to_string(p + 1) + ".png";
            if (!pclread::WritePng(page, out)) return Fail("cannot write " + out);
            std::printf(", %s", out.c_str());
        }
        std::printf("\n");
    }
    if (expected.size() != job.pages.size() && !expected.empty())
        std::printf("%zu reference pages for %zu decoded pages\n", expected.size(), job.pages.size());
    return same ? 0 : 1;
}
