// vemfread: checks a host-finishing spool stream and dumps its records.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pclread/pclread.h"
#include "vemfread/glyph_ink.h"
#include "vemfread/replay.h"
#include "vemfread/vemfread.h"

namespace {

// The page against the reference in grey levels; text the stream draws in
// a logical font is judged glyph by glyph (ink within a pixel).
std::string CompareGrey(const vemfread::Page& page, bool streamLanguage, const vemfread::Picture& p,
                        const pclread::Grey& g) {
    if (g.width != p.width || g.height != p.height)
        return "reference is " + std::to_string(g.width) + "x" + std::to_string(g.height);
    // Language 4 draws its text as glyph bitmaps, which land on the
    // reference's pixels.
    const auto runs = streamLanguage ? std::vector<vemfread::TextRun>{} : vemfread::LogicalFontRuns(page);
    return vemfread::JudgePage(
        runs, p.width, p.height, [&](int32_t x, int32_t y) { return vemfread::Grey(p.At(x, y)); },
        [&](int32_t x, int32_t y) { return int{g.At(x, y)}; });
}

}  // namespace

int main(int argc, char** argv) {
    bool records = false;
    const char* file = nullptr;
    const char* pngDir = nullptr;
    const char* reference = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::printf("usage: vemfread [--records] [--png DIR [--reference PATTERN]] FILE\n"
                        "Walks a spool stream of host finishing as the finishing library does and\n"
                        "checks every record, tag list, page span and index entry.\n"
                        "  --records  print one line per record\n"
                        "  --png DIR  draw each page with the engine into DIR/page-N.png (the printer's\n"
                        "             own faces from their source fonts, as the reference render does)\n"
                        "  --reference PATTERN  compare each drawn page with the PNG named by PATTERN,\n"
                        "             %%d standing for the page number: grey levels pixel for pixel,\n"
                        "             text in a logical font glyph by glyph (ink within a pixel)\n"
                        "Exit status: 0 accepted, 1 refused, 2 bad usage or unreadable file.\n");
            return 0;
        }
        if (!std::strcmp(argv[i], "--records")) records = true;
        else if (!std::strcmp(argv[i], "--png")) {
            if (++i == argc) {
                std::fprintf(stderr, "vemfread: --png needs a directory (see --help)\n");
                return 2;
            }
            pngDir = argv[i];
        } else if (!std::strcmp(argv[i], "--reference")) {
            if (++i == argc) {
                std::fprintf(stderr, "vemfread: --reference needs a file pattern (see --help)\n");
                return 2;
            }
            reference = argv[i];
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr, "vemfread: unknown option %s (see --help)\n", argv[i]);
            return 2;
        } else file = argv[i];
    }
    if (!file) {
        std::fprintf(stderr, "vemfread: no file given (see --help)\n");
        return 2;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vemfread: cannot read %s\n", file);
        return 2;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    const vemfread::Stream s = vemfread::Walk(bytes);
    if (records) std::fputs(vemfread::Dump(s).c_str(), stdout);
    if (!s.ok) {
        std::fprintf(stderr, "vemfread: %s: refused: %s\n", file, s.error.c_str());
        return 1;
    }
    std::printf("%s: %zu pages, %zu records\n", file, s.pages.size(), s.records.size());
    int status = 0;
    if (pngDir) {
        for (size_t p = 0; p < s.pages.size(); ++p) {
            vemfread::Picture picture;
            std::string error;
            if (!vemfread::Replay(s, p, picture, error)) {
                std::fprintf(stderr, "vemfread: %s: %s\n", file, error.c_str());
                status = 1;
                continue;
            }
            const std::string path = std::string(pngDir) + "/page-" + std::to_string(p + 1) + ".png";
            if (!vemfread::WritePicture(picture, path)) {
                std::fprintf(stderr, "vemfread: cannot write %s\n", path.c_str());
                return 2;
            }
            std::printf("page %zu: %dx%d, %s", p + 1, picture.width, picture.height, path.c_str());
            if (reference) {
                std::string name = reference;
                if (const auto at = name.find("%d"); at != std::string::npos) name.replace(at, 2, std::to_string(p + 1));
                const auto expected = pclread::ReadGreyPng(name);
                if (!expected) {
                    std::printf(", reference %s unreadable\n", name.c_str());
                    status = 1;
                    continue;
                }
                std::printf(", %s\n", CompareGrey(s.pages[p], s.streamLanguage, picture, *expected).c_str());
                continue;
            }
            std::printf("\n");
        }
    }
    return status;
}
