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
        for (int32_t x = 0; x < page.width; ++x)
            if (page.Black(x, y)) g.v[static_cast<size_t>(y) * g.width + x] = 0;
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

}  // namespace pclread
