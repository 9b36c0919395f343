// pagejudge: judges a page rendered by an outside interpreter (the whole
// sheet, PGM or PBM) against the engine's reference render of the printable
// area (pixel for pixel) and against an independently rendered expected page
// (reduced to 75 dpi grey).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pclread/judge.h"

namespace {

const char* const kUsage =
    "usage: pagejudge SHEET.pgm --dpi D --offset X,Y [--reference REF.png] [--tone REF.png]\n"
    "                 [--areas READ.txt] [--lean N] [--expected PAGE.png --expected-dpi E]\n\n"
    "SHEET is the whole sheet at D dots per inch; the printable area starts at\n"
    "(X, Y) dots. --reference: the engine's render of the printable area, compared\n"
    "ink for ink. --tone: the same render judged as a printer of black dots\n"
    "prints it: ink within a pixel outside its grey areas, and the mean grey of\n"
    "every 16 x 16 block within the tone bound. --areas: pclread's report of the\n"
    "job; its \"marked area\" lines of page 1 loosen --tone where the printer inks\n"
    "by rules of its own: a least-width pen's ink within its radius (tone not\n"
    "compared); its cross-hatches (FT21, SV21), dashes of no whole number of dots\n"
    "and sharp corners of wide round-joined lines, which interpreters draw each\n"
    "their own way, left out. --lean N: for --tone, the\n"
    "sheet's ink may lie N pixels further right and down than the one pixel\n"
    "either way (an interpreter that places fills and strokes a pixel apart).\n"
    "--expected: the page as an outside renderer draws it at E dpi,\n"
    "placed at the printable area's top-left; both are reduced to 75 dpi grey and\n"
    "the mean difference, the worst 8 x 8 block and the ink box (in 75 dpi pixels\n"
    "from the printable corner) are reported.\n";

// The marked areas of page 1 in pclread's report, on the sheet (the page at
// `ox`, `oy`).
std::vector<pclread::LooseArea> MarkedAreas(const std::string& path, int ox, int oy) {
    std::vector<pclread::LooseArea> areas;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        char what[64] = {};
        int page = 0, radius = 0, x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        if (std::sscanf(line.c_str(), "marked area: page %d, radius %d, %63[^,], x %d-%d y %d-%d", &page, &radius, what, &x0,
                        &x1, &y0, &y1) != 7 ||
            page != 1)
            continue;
        const bool thin = std::strcmp(what, "least-width pen") == 0;
        areas.push_back({x0 + ox, y0 + oy, x1 + 1 + ox, y1 + 1 + oy, radius, !thin});
    }
    return areas;
}

int Usage(const char* why) {
    std::fprintf(stderr, "pagejudge: %s\n%s", why, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string sheetPath, reference, expected, tone, areasPath;
    int dpi = 0, expectedDpi = 0, ox = -1, oy = -1, lean = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const char* v = nullptr;
        if (a == "--dpi" && (v = next())) dpi = std::atoi(v);
        else if (a == "--expected-dpi" && (v = next())) expectedDpi = std::atoi(v);
        else if (a == "--reference" && (v = next())) reference = v;
        else if (a == "--tone" && (v = next())) tone = v;
        else if (a == "--areas" && (v = next())) areasPath = v;
        else if (a == "--lean" && (v = next())) lean = std::clamp(std::atoi(v), 0, 8);
        else if (a == "--expected" && (v = next())) expected = v;
        else if (a == "--offset" && (v = next())) {
            if (std::sscanf(v, "%d,%d", &ox, &oy) != 2) return Usage("--offset takes X,Y");
        } else if (!a.empty() && a[0] != '-' && sheetPath.empty()) sheetPath = a;
        else return Usage(("unknown argument " + a).c_str());
    }
    if (sheetPath.empty() || dpi <= 0 || ox < 0 || oy < 0) return Usage("give SHEET, --dpi and --offset");
    auto sheet = pclread::ReadPnm(sheetPath);
    if (!sheet) {
        std::fprintf(stderr, "pagejudge: cannot read %s\n", sheetPath.c_str());
        return 1;
    }
    int status = 0;
    if (!reference.empty()) {
        auto ref = pclread::ReadGreyPng(reference);
        if (!ref) {
            std::fprintf(stderr, "pagejudge: cannot read %s\n", reference.c_str());
            return 1;
        }
        // Ink for ink: the interpreter's page is one bit deep.
        auto placed = pclread::Place(*ref, sheet->width, sheet->height, ox, oy);
        long differ = 0;
        for (size_t i = 0; i < placed.v.size(); ++i) differ += (placed.v[i] < 128) != (sheet->v[i] < 128);
        std::printf("reference: %ld pixels differ\n", differ);
        status |= differ != 0;
    }
    if (!tone.empty()) {
        auto ref = pclread::ReadGreyPng(tone);
        if (!ref) {
            std::fprintf(stderr, "pagejudge: cannot read %s\n", tone.c_str());
            return 1;
        }
        const auto placed = pclread::Place(*ref, sheet->width, sheet->height, ox, oy);
        const auto areas = areasPath.empty() ? std::vector<pclread::LooseArea>{} : MarkedAreas(areasPath, ox, oy);
        const auto m = pclread::MatchSheet(*sheet, placed, pclread::GreyBlocks(placed), {}, areas, lean);
        std::printf("tone: %s\n", m ? pclread::Verdict(*m).c_str() : "another sheet size");
        status |= !m || !m->Passes();
    }
    if (!expected.empty()) {
        auto page = pclread::ReadGreyPng(expected);
        if (!page) {
            std::fprintf(stderr, "pagejudge: cannot read %s\n", expected.c_str());
            return 1;
        }
        auto figures = pclread::JudgeAgainstExpected(*sheet, dpi, ox, oy, *page, expectedDpi);
        if (!figures) {
            std::fprintf(stderr,
                         "pagejudge: cannot judge %s: both resolutions must be multiples of 75 dpi, the expected "
                         "one dividing the sheet's, and the offset must lie on the sheet\n",
                         expected.c_str());
            return 1;
        }
        auto box = [](const pclread::InkBox& b) {
            return std::to_string(b.left) + "," + std::to_string(b.top) + "-" + std::to_string(b.right) + "," +
                   std::to_string(b.bottom);
        };
        std::printf("expected: mean %.2f, worst block %.1f, ink box off %.2f mm (printed %s, expected %s at 75 dpi)\n",
                    figures->meanDiff, figures->worstBlock, figures->inkOffMm, box(figures->printed).c_str(),
                    box(figures->expected).c_str());
    }
    return status;
}
