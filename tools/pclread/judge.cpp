// Judging a printed page against an expected one.
#include "pclread/judge.h"

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace pclread {

bool Within(const Figures& f, const Thresholds& t) {
    return f.meanDiff <= t.meanDiff && f.worstBlock <= t.worstBlock && f.inkOffMm <= t.inkOffMm;
}

Grey Reduce(const Grey& g, int factor) {
    if (factor <= 1) return g;
    Grey out((g.width + factor - 1) / factor, (g.height + factor - 1) / factor);
    std::vector<uint32_t> sum(static_cast<size_t>(out.width)), count(static_cast<size_t>(out.width));
    for (int32_t oy = 0; oy < out.height; ++oy) {
        std::fill(sum.begin(), sum.end(), 0);
        std::fill(count.begin(), count.end(), 0);
        for (int32_t y = oy * factor; y < std::min(g.height, (oy + 1) * factor); ++y) {
            const uint8_t* row = g.v.data() + static_cast<size_t>(y) * g.width;
            for (int32_t x = 0; x < g.width; ++x) {
                sum[static_cast<size_t>(x / factor)] += row[x];
                ++count[static_cast<size_t>(x / factor)];
            }
        }
        for (int32_t ox = 0; ox < out.width; ++ox)
            out.v[static_cast<size_t>(oy) * out.width + ox] =
                static_cast<uint8_t>((sum[static_cast<size_t>(ox)] + count[static_cast<size_t>(ox)] / 2) /
                                     std::max<uint32_t>(1, count[static_cast<size_t>(ox)]));
    }
    return out;
}

Grey ToGrey(const Page& page) {
    Grey g(page.width, page.height);
    for (int32_t y = 0; y < page.height; ++y)
        for (int32_t x = 0; x < page.width; ++x) {
            if (page.rgb.empty()) {
                if (page.Black(x, y)) g.v[static_cast<size_t>(y) * g.width + x] = 0;
                continue;
            }
            const uint32_t c = page.Colour(x, y);
            g.v[static_cast<size_t>(y) * g.width + x] = Luminance(c);
        }
    return g;
}

Grey Place(const Grey& page, int32_t width, int32_t height, int32_t x, int32_t y) {
    Grey sheet(width, height);
    for (int32_t py = 0; py < page.height; ++py) {
        int32_t sy = py + y;
        if (sy < 0 || sy >= height) continue;
        for (int32_t px = 0; px < page.width; ++px) {
            int32_t sx = px + x;
            if (sx >= 0 && sx < width) sheet.v[static_cast<size_t>(sy) * width + sx] = page.At(px, py);
        }
    }
    return sheet;
}

InkBox FindInk(const Grey& g, uint8_t threshold) {
    InkBox box{g.width, g.height, 0, 0};
    for (int32_t y = 0; y < g.height; ++y)
        for (int32_t x = 0; x < g.width; ++x)
            if (g.At(x, y) < threshold) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x + 1);
                box.bottom = std::max(box.bottom, y + 1);
            }
    if (box.right <= box.left) box = {};
    return box;
}

std::optional<Figures> Judge(const Grey& printed, const Grey& expected, int dpi) {
    if (printed.width != expected.width || printed.height != expected.height || printed.v.empty() || dpi <= 0)
        return std::nullopt;
    Figures f;
    double total = 0;
    constexpr int32_t kBlock = 8;
    for (int32_t by = 0; by < printed.height; by += kBlock)
        for (int32_t bx = 0; bx < printed.width; bx += kBlock) {
            double block = 0;
            int n = 0;
            for (int32_t y = by; y < std::min(printed.height, by + kBlock); ++y)
                for (int32_t x = bx; x < std::min(printed.width, bx + kBlock); ++x, ++n)
                    block += std::abs(int{printed.At(x, y)} - int{expected.At(x, y)});
            total += block;
            f.worstBlock = std::max(f.worstBlock, block / n);
        }
    f.meanDiff = total / static_cast<double>(printed.v.size());
    f.printed = FindInk(printed);
    f.expected = FindInk(expected);
    if (f.printed.Empty() != f.expected.Empty()) {
        f.inkOffMm = 1e9;  // ink on one page only
    } else if (!f.printed.Empty()) {
        int32_t off = std::max({std::abs(f.printed.left - f.expected.left), std::abs(f.printed.top - f.expected.top),
                                std::abs(f.printed.right - f.expected.right),
                                std::abs(f.printed.bottom - f.expected.bottom)});
        f.inkOffMm = off * 25.4 / dpi;
    }
    return f;
}

std::optional<Figures> JudgeAgainstExpected(const Grey& sheet, int dpi, int32_t x, int32_t y, const Grey& expected,
                                            int expectedDpi) {
    if (dpi <= 0 || expectedDpi <= 0 || dpi % 75 || expectedDpi % 75 || dpi % expectedDpi) return std::nullopt;
    const int32_t w = sheet.width - x, h = sheet.height - y, scale = dpi / expectedDpi;
    if (x < 0 || y < 0 || w <= 0 || h <= 0) return std::nullopt;
    const Grey printedPage = Place(sheet, w, h, -x, -y);
    const Grey expectedPage = Place(expected, (w + scale - 1) / scale, (h + scale - 1) / scale, 0, 0);
    return Judge(Reduce(printedPage, dpi / 75), Reduce(expectedPage, expectedDpi / 75), 75);
}

std::optional<Grey> ReadPnm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    size_t pos = 0;
    // Header fields are separated by white space; comments run to the line's end.
    auto field = [&]() -> std::optional<std::string> {
        while (pos < file.size()) {
            if (file[pos] == '#') {
                while (pos < file.size() && file[pos] != '\n') ++pos;
            } else if (std::isspace(file[pos])) {
                ++pos;
            } else {
                break;
            }
        }
        std::string s;
        while (pos < file.size() && !std::isspace(file[pos]) && s.size() < 12) s.push_back(static_cast<char>(file[pos++]));
        if (s.empty()) return std::nullopt;
        return s;
    };
    auto number = [&](long lo, long hi) -> std::optional<long> {
        auto s = field();
        if (!s || s->find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        long v = std::strtol(s->c_str(), nullptr, 10);
        if (v < lo || v > hi) return std::nullopt;
        return v;
    };
    auto magic = field();
    if (!magic || (*magic != "P5" && *magic != "P4")) return std::nullopt;
    auto w = number(1, 1 << 16), h = number(1, 1 << 16);
    if (!w || !h) return std::nullopt;
    if (*magic == "P5" && number(255, 255) != 255L) return std::nullopt;
    ++pos;  // one white-space byte before the samples
    Grey g(static_cast<int32_t>(*w), static_cast<int32_t>(*h));
    if (*magic == "P5") {
        if (file.size() < pos || file.size() - pos < g.v.size()) return std::nullopt;
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(pos), g.v.size(), g.v.begin());
        return g;
    }
    const size_t stride = (static_cast<size_t>(*w) + 7) / 8;
    if (file.size() < pos || file.size() - pos < stride * static_cast<size_t>(*h)) return std::nullopt;
    for (int32_t y = 0; y < g.height; ++y)
        for (int32_t x = 0; x < g.width; ++x)
            if ((file[pos + static_cast<size_t>(y) * stride + static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1)
                g.v[static_cast<size_t>(y) * g.width + x] = 0;
    return g;
}

namespace {

int32_t Blocks(int32_t v) { return (v + kToneBlock - 1) / kToneBlock; }

// Ink of `g` within `radius` pixels of (x, y), the box reaching `before`
// pixels further up and left and `after` further right and down.
bool InkNear(const Grey& g, int32_t x, int32_t y, int32_t radius = 1, int32_t before = 0, int32_t after = 0) {
    for (int32_t dy = -radius - before; dy <= radius + after; ++dy)
        for (int32_t dx = -radius - before; dx <= radius + after; ++dx) {
            const int32_t px = x + dx, py = y + dy;
            if (px >= 0 && py >= 0 && px < g.width && py < g.height && g.At(px, py) < 128) return true;
        }
    return false;
}

}  // namespace

std::vector<uint8_t> GreyBlocks(const Grey& decoded) {
    const int32_t bw = Blocks(decoded.width);
    std::vector<uint8_t> blocks(static_cast<size_t>(bw) * Blocks(decoded.height), 0);
    for (int32_t y = 0; y < decoded.height; ++y)
        for (int32_t x = 0; x < decoded.width; ++x) {
            const uint8_t v = decoded.At(x, y);
            if (v > 8 && v < 247) blocks[static_cast<size_t>(y / kToneBlock) * bw + x / kToneBlock] = 1;
        }
    return blocks;
}

std::optional<SheetMatch> MatchSheet(const Grey& printed, const Grey& expected, const std::vector<uint8_t>& greyBlocks,
                                     std::span<const TextGlyph> text, std::span<const LooseArea> loose, int32_t lean) {
    if (printed.width != expected.width || printed.height != expected.height) return std::nullopt;
    const int32_t bw = Blocks(printed.width), bh = Blocks(printed.height);
    if (greyBlocks.size() != static_cast<size_t>(bw) * bh) return std::nullopt;
    // Each block's radius of nearness: 1, or the largest tolerance of a
    // glyph drawn from a font over it (widened by that tolerance).
    std::vector<int32_t> radius(greyBlocks.size(), 1);
    for (const TextGlyph& g : text) {
        const double t = g.Tolerance();
        const auto grow = static_cast<int32_t>(std::ceil(t));
        const int32_t bx0 = std::max(0, (g.left - grow) / kToneBlock), by0 = std::max(0, (g.top - grow) / kToneBlock);
        const int32_t bx1 = std::min(bw - 1, (g.right + grow) / kToneBlock), by1 = std::min(bh - 1, (g.bottom + grow) / kToneBlock);
        for (int32_t by = by0; by <= by1; ++by)
            for (int32_t bx = bx0; bx <= bx1; ++bx) {
                int32_t& r = radius[static_cast<size_t>(by) * bw + bx];
                r = std::max(r, static_cast<int32_t>(std::floor(t)));
            }
    }
    std::vector<uint8_t> leftOut(greyBlocks.size(), 0);
    for (const LooseArea& a : loose) {
        if (a.right <= a.left || a.bottom <= a.top) continue;
        const int32_t grow = std::max(0, a.radius);
        const int32_t bx0 = std::max(0, (a.left - grow) / kToneBlock), by0 = std::max(0, (a.top - grow) / kToneBlock);
        const int32_t bx1 = std::min(bw - 1, (a.right - 1 + grow) / kToneBlock), by1 = std::min(bh - 1, (a.bottom - 1 + grow) / kToneBlock);
        for (int32_t by = by0; by <= by1; ++by)
            for (int32_t bx = bx0; bx <= bx1; ++bx) {
                const size_t b = static_cast<size_t>(by) * bw + bx;
                if (a.leftOut) leftOut[b] = 1;
                else radius[b] = std::max(radius[b], a.radius);
            }
    }
    SheetMatch m;
    for (int32_t by = 0; by < bh; ++by)
        for (int32_t bx = 0; bx < bw; ++bx) {
            if (leftOut[static_cast<size_t>(by) * bw + bx]) continue;
            const bool grey = greyBlocks[static_cast<size_t>(by) * bw + bx];
            const int32_t near = radius[static_cast<size_t>(by) * bw + bx];
            int64_t sumP = 0, sumE = 0, n = 0;
            for (int32_t y = by * kToneBlock; y < std::min(printed.height, (by + 1) * kToneBlock); ++y)
                for (int32_t x = bx * kToneBlock; x < std::min(printed.width, (bx + 1) * kToneBlock); ++x) {
                    const uint8_t p = printed.At(x, y), e = expected.At(x, y);
                    sumP += p;
                    sumE += e;
                    ++n;
                    m.expectedInk += e < 128;
                    if (grey) continue;
                    if (p < 128 && e >= 128 && !InkNear(expected, x, y, near, lean, 0)) ++m.extra;
                    if (e < 128 && p >= 128 && !InkNear(printed, x, y, near, 0, lean)) ++m.missing;
                }
            // Glyphs drawn from fonts may stand off by their tolerance: their
            // blocks' tone says nothing.
            if (near > 1) continue;
            const int tone = static_cast<int>(std::llabs(sumP - sumE) / std::max<int64_t>(1, n));
            if (tone > m.worstTone) {
                m.worstTone = tone;
                m.worstX = bx * kToneBlock;
                m.worstY = by * kToneBlock;
            }
        }
    return m;
}

std::string Verdict(const SheetMatch& m) {
    std::string s = m.extra + m.missing == 0
                        ? "ink within 1 pixel"
                        : std::to_string(m.extra) + " extra and " + std::to_string(m.missing) + " missing ink pixels";
    s += "; worst tone block " + std::to_string(m.worstTone) + " at " + std::to_string(m.worstX) + ":" +
         std::to_string(m.worstY) + (m.worstTone <= kToneBound ? " (within " : " (beyond ") +
         std::to_string(kToneBound) + ")";
    return s;
}

Grey Scale(const Grey& g, double sx, double sy) {
    if (sx <= 0 || sy <= 0) return {};
    const int32_t w = std::max<int32_t>(1, static_cast<int32_t>(std::lround(g.width * sx)));
    const int32_t h = std::max<int32_t>(1, static_cast<int32_t>(std::lround(g.height * sy)));
    Grey out(w, h);
    // Each output pixel covers [x / sx, (x + 1) / sx) of the source: whole
    // source pixels inside it count fully, the edges by their share.
    auto span = [](int32_t o, double s, int32_t limit, std::vector<std::pair<int32_t, double>>& parts) {
        parts.clear();
        const double a = o / s, b = std::min<double>((o + 1) / s, limit);
        for (int32_t i = static_cast<int32_t>(a); i < b && i < limit; ++i)
            parts.push_back({i, std::min<double>(b, i + 1) - std::max<double>(a, i)});
    };
    std::vector<std::vector<std::pair<int32_t, double>>> cols(static_cast<size_t>(w));
    for (int32_t x = 0; x < w; ++x) span(x, sx, g.width, cols[static_cast<size_t>(x)]);
    std::vector<std::pair<int32_t, double>> rows;
    for (int32_t y = 0; y < h; ++y) {
        span(y, sy, g.height, rows);
        for (int32_t x = 0; x < w; ++x) {
            double sum = 0, weight = 0;
            for (auto [py, wy] : rows)
                for (auto [px, wx] : cols[static_cast<size_t>(x)]) {
                    sum += g.At(px, py) * wx * wy;
                    weight += wx * wy;
                }
            out.v[static_cast<size_t>(y) * w + x] = weight > 0 ? static_cast<uint8_t>(std::lround(sum / weight)) : 255;
        }
    }
    return out;
}

Grey ToGrey(const GreyPage& sheet) {
    Grey g;
    g.width = sheet.width;
    g.height = sheet.height;
    g.v = sheet.grey;
    return g;
}

}  // namespace pclread
