#include "vemfread/glyph_ink.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <numbers>
#include <utility>

namespace vemfread {

namespace vemf = zq::vemf;

std::vector<TextRun> LogicalFontRuns(const Page& page) {
    struct Font {
        int32_t size, turn;  // height in pixels, tenths of a degree
    };
    std::map<uint32_t, Font> fonts;
    uint32_t selected = 0;
    std::vector<TextRun> runs;
    for (const auto& r : page.records) {
        if (r.type == vemf::kExtCreateFont)
            fonts[r.U32(8)] = {std::abs(static_cast<int32_t>(r.U32(12))), static_cast<int32_t>(r.U32(20))};
        if (r.type == vemf::kSelectObject) selected = r.U32(8);
        if (r.type != vemf::kExtTextOutW || !fonts.count(selected) || !fonts[selected].size) continue;
        const Font f = fonts[selected];
        const double a = f.turn * std::numbers::pi / 1800;
        const uint32_t n = r.U32(44), advances = r.U32(72);
        struct Point {
            int32_t x, y;
        };
        std::vector<Point> at{{static_cast<int32_t>(r.U32(36)), static_cast<int32_t>(r.U32(40))}};
        double along = 0;
        for (uint32_t i = 0; i + 1 < n; ++i) {
            const auto dx = static_cast<int32_t>(r.U32(advances + 8 * i)), dy = static_cast<int32_t>(r.U32(advances + 8 * i + 4));
            along += dx;
            if (f.turn)
                at.push_back({at[0].x + static_cast<int32_t>(std::lround(along * std::cos(a))),
                              at[0].y - static_cast<int32_t>(std::lround(along * std::sin(a)))});
            else at.push_back({at.back().x + dx, at.back().y + dy});
        }
        TextRun run;
        run.box = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
        const int32_t size = f.size, reach = f.turn ? 2 * size : 0;
        for (const Point& p : at) {
            run.box.left = std::min(run.box.left, p.x - size / 2 - reach);
            run.box.right = std::max(run.box.right, p.x + 3 * size / 2 + reach);
            run.box.top = std::min(run.box.top, p.y - 3 * size / 2 - reach);
            run.box.bottom = std::max(run.box.bottom, p.y + 3 * size / 5 + reach);
        }
        run.cells.push_back(run.box.left);
        if (!f.turn) {
            for (size_t i = 1; i < at.size(); ++i) run.cells.push_back(at[i].x);
            run.top = at[0].y - size, run.bottom = at[0].y + size / 2;
        }
        runs.push_back(std::move(run));
    }
    return runs;
}

namespace {

// The ink box of each glyph of a run: the 8-connected pieces of ink within
// the run's box whose middle lies on the run's line, each given to the cell
// its centre falls in (a glyph's overhang stays its own, an i's dot joins
// its stem).
template <class Ink>
std::vector<Box> GlyphInk(const TextRun& run, int32_t width, int32_t height, Ink ink) {
    const Box b{std::max<int32_t>(0, run.box.left), std::max<int32_t>(0, run.box.top), std::min<int32_t>(width, run.box.right),
                std::min<int32_t>(height, run.box.bottom)};
    std::vector<Box> glyphs(run.cells.size());
    if (b.right <= b.left || b.bottom <= b.top) return glyphs;
    const int32_t w = b.right - b.left, h = b.bottom - b.top;
    std::vector<uint8_t> seen(static_cast<size_t>(w) * h);
    std::vector<std::pair<int32_t, int32_t>> todo;
    for (int32_t y0 = 0; y0 < h; ++y0)
        for (int32_t x0 = 0; x0 < w; ++x0) {
            if (seen[static_cast<size_t>(y0) * w + x0] || !ink(b.left + x0, b.top + y0)) continue;
            Box piece;
            todo = {{x0, y0}};
            seen[static_cast<size_t>(y0) * w + x0] = 1;
            while (!todo.empty()) {
                const auto [x, y] = todo.back();
                todo.pop_back();
                piece.left = std::min(piece.left, x), piece.right = std::max(piece.right, x);
                piece.top = std::min(piece.top, y), piece.bottom = std::max(piece.bottom, y);
                for (int32_t dy = -1; dy <= 1; ++dy)
                    for (int32_t dx = -1; dx <= 1; ++dx) {
                        const int32_t nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || seen[static_cast<size_t>(ny) * w + nx]) continue;
                        if (!ink(b.left + nx, b.top + ny)) continue;
                        seen[static_cast<size_t>(ny) * w + nx] = 1;
                        todo.push_back({nx, ny});
                    }
            }
            const int32_t middle = b.top + (piece.top + piece.bottom) / 2;
            if (middle < run.top || middle > run.bottom) continue;  // a line above or below
            const int32_t centre = b.left + (piece.left + piece.right) / 2;
            size_t cell = 0;
            while (cell + 1 < run.cells.size() && run.cells[cell + 1] <= centre) ++cell;
            Box& g = glyphs[cell];
            g.left = std::min(g.left, b.left + piece.left), g.right = std::max(g.right, b.left + piece.right);
            g.top = std::min(g.top, b.top + piece.top), g.bottom = std::max(g.bottom, b.top + piece.bottom);
        }
    return glyphs;
}

}  // namespace

std::vector<std::string> GlyphInkOff(const std::vector<TextRun>& runs, int32_t width, int32_t height, const GreyAt& mine,
                                     const GreyAt& theirs) {
    auto text = [](const Box& b) {
        return std::to_string(b.left) + "," + std::to_string(b.top) + "-" + std::to_string(b.right) + "," +
               std::to_string(b.bottom);
    };
    std::vector<std::string> off;
    for (const TextRun& run : runs) {
        const auto a = GlyphInk(run, width, height, [&](int32_t x, int32_t y) { return mine(x, y) < 254; });
        const auto b = GlyphInk(run, width, height, [&](int32_t x, int32_t y) { return theirs(x, y) < 254; });
        for (size_t i = 0; i < a.size(); ++i)
            if ((a[i].right < 0) != (b[i].right < 0) ||
                (a[i].right >= 0 && (std::abs(a[i].left - b[i].left) > 1 || std::abs(a[i].right - b[i].right) > 1 ||
                                     std::abs(a[i].top - b[i].top) > 1 || std::abs(a[i].bottom - b[i].bottom) > 1)))
                off.push_back("glyph " + std::to_string(i) + " of the string at " + std::to_string(run.cells[0]) + "," +
                              std::to_string(run.box.top) + ": ink " + text(a[i]) + " against " + text(b[i]));
    }
    return off;
}

bool InAnyBox(const std::vector<TextRun>& runs, int32_t x, int32_t y) {
    for (const TextRun& run : runs)
        if (x >= run.box.left && x < run.box.right && y >= run.box.top && y < run.box.bottom) return true;
    return false;
}

int Grey(uint32_t rgb) {
    return static_cast<int>((299 * (rgb >> 16 & 0xFF) + 587 * (rgb >> 8 & 0xFF) + 114 * (rgb & 0xFF) + 500) / 1000);
}

size_t GreyDifferences(const std::vector<TextRun>& skip, int32_t width, int32_t height, const GreyAt& mine,
                       const GreyAt& theirs, size_t& far, std::string* firstFar) {
    size_t differ = 0;
    far = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            if (InAnyBox(skip, x, y)) continue;
            const int grey = mine(x, y);
            if (std::abs(grey - theirs(x, y)) <= 1) continue;
            ++differ;
            bool near = false;
            for (int32_t dy = -1; dy <= 1 && !near; ++dy)
                for (int32_t dx = -1; dx <= 1 && !near; ++dx) {
                    const int32_t nx = x + dx, ny = y + dy;
                    near = nx >= 0 && ny >= 0 && nx < width && ny < height && std::abs(grey - theirs(nx, ny)) <= 1;
                }
            if (!near && far++ == 0 && firstFar) *firstFar = std::to_string(x) + "," + std::to_string(y);
        }
    return differ;
}

std::string JudgePage(const std::vector<TextRun>& runs, int32_t width, int32_t height, const GreyAt& mine,
                      const GreyAt& theirs, bool* sameOut) {
    size_t far = 0;
    std::string first;
    const size_t differ = GreyDifferences(runs, width, height, mine, theirs, far, &first);
    const auto off = GlyphInkOff(runs, width, height, mine, theirs);
    if (sameOut) *sameOut = !differ && off.empty();
    if (!differ && off.empty())
        return runs.empty() ? "same as the reference" : "same as the reference (text: each glyph's ink within a pixel)";
    std::string verdict;
    if (differ) {
        verdict = std::to_string(differ) + " pixels differ from the reference, ";
        verdict += far ? std::to_string(far) + " not within a pixel, the first at " + first : "all within a pixel";
    }
    if (!off.empty()) {
        if (!verdict.empty()) verdict += "; ";
        verdict += std::to_string(off.size()) + " glyphs off, the first " + off[0];
        if (std::getenv("ZQ_ALL_OFF")) for (auto& o : off) verdict += "\n  " + o;
    }
    return verdict;
}

}  // namespace vemfread
