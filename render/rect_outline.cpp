#include "render/rect_outline.h"

#include <algorithm>
#include <cstdint>

namespace pclrend {

namespace {

// The union of `in` as rectangles that do not overlap: between each two
// neighbouring tops or bottoms, the spans of the rectangles that cross the
// band, merged where they overlap or touch.
void BandsOf(std::span<RECTL> in, std::vector<RECTL>& out) {
    std::vector<LONG> ys;
    for (const RECTL& q : in) ys.push_back(q.top), ys.push_back(q.bottom);
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    std::sort(in.begin(), in.end(), [](const RECTL& a, const RECTL& b) { return a.top < b.top; });
    std::vector<RECTL> active;
    std::vector<std::pair<LONG, LONG>> spans;
    size_t next = 0;
    for (size_t k = 0; k + 1 < ys.size(); ++k) {
        const LONG y0 = ys[k], y1 = ys[k + 1];
        std::erase_if(active, [&](const RECTL& q) { return q.bottom <= y0; });
        while (next < in.size() && in[next].top <= y0) active.push_back(in[next++]);
        spans.clear();
        for (const RECTL& q : active) spans.emplace_back(q.left, q.right);
        std::sort(spans.begin(), spans.end());
        for (size_t i = 0; i < spans.size();) {
            LONG left = spans[i].first, right = spans[i].second;
            for (++i; i < spans.size() && spans[i].first <= right; ++i) right = std::max(right, spans[i].second);
            out.push_back({left, y0, right, y1});
        }
    }
}

struct Edge {
    POINTL from, to;
};

// A place on the page as one sortable number: `line` first, then `at`.
uint64_t Place(LONG line, LONG at) {
    return static_cast<uint64_t>(static_cast<uint32_t>(line) ^ 0x80000000u) << 32 | (static_cast<uint32_t>(at) ^ 0x80000000u);
}
LONG LineOf(uint64_t place) { return static_cast<LONG>(static_cast<uint32_t>(place >> 32) ^ 0x80000000u); }
LONG AtOf(uint64_t place) { return static_cast<LONG>(static_cast<uint32_t>(place) ^ 0x80000000u); }

// Where a sum of signed steps along one line is not zero, the edges it
// makes: events are (place, step); `make` turns a stretch [a, b) on a line
// with sign s into an edge.
template <typename Make>
void SweepEdges(std::vector<std::pair<uint64_t, int>>& events, Make make) {
    std::sort(events.begin(), events.end());
    for (size_t i = 0; i < events.size();) {
        const LONG line = LineOf(events[i].first);
        int sum = 0;
        LONG start = 0;
        int startSign = 0;
        while (i < events.size() && LineOf(events[i].first) == line) {
            const uint64_t place = events[i].first;
            while (i < events.size() && events[i].first == place) sum += events[i++].second;
            const int sign = (sum > 0) - (sum < 0);
            if (sign == startSign) continue;  // the stretch goes on through this place
            const LONG at = AtOf(place);
            if (startSign) make(line, start, at, startSign);
            start = at;
            startSign = sign;
        }
    }
}

uint64_t Key(const POINTL& p) { return static_cast<uint64_t>(static_cast<uint32_t>(p.x)) << 32 | static_cast<uint32_t>(p.y); }

// Drops corners lying on the straight line between their neighbours.
void DropStraightCorners(std::vector<POINTL>& c) {
    auto straight = [](const POINTL& a, const POINTL& b, const POINTL& d) {
        return (a.x == b.x && b.x == d.x) || (a.y == b.y && b.y == d.y);
    };
    bool changed = true;
    while (changed && c.size() > 2) {
        changed = false;
        std::vector<POINTL> kept;
        const size_t n = c.size();
        for (size_t i = 0; i < n; ++i) {
            const POINTL& prev = kept.empty() ? c[n - 1] : kept.back();
            if (straight(prev, c[i], c[(i + 1) % n])) {
                changed = true;
                continue;
            }
            kept.push_back(c[i]);
        }
        c.swap(kept);
    }
}

// The outline of one group of rectangles, added to `out`.
void Trace(std::span<RECTL> group, std::vector<std::vector<POINTL>>& out) {
    std::vector<RECTL> bands;
    BandsOf(group, bands);
    // Each band rectangle runs clockwise: its top to the right, its right
    // side down, its bottom to the left, its left side up. Where two bands
    // share a stretch of side their steps cancel; what is left is the
    // boundary of the union, the inside always on the right of an edge.
    std::vector<std::pair<uint64_t, int>> across, down;
    across.reserve(4 * bands.size()), down.reserve(4 * bands.size());
    for (const RECTL& q : bands) {
        across.emplace_back(Place(q.top, q.left), 1), across.emplace_back(Place(q.top, q.right), -1);
        across.emplace_back(Place(q.bottom, q.left), -1), across.emplace_back(Place(q.bottom, q.right), 1);
        down.emplace_back(Place(q.right, q.top), 1), down.emplace_back(Place(q.right, q.bottom), -1);
        down.emplace_back(Place(q.left, q.top), -1), down.emplace_back(Place(q.left, q.bottom), 1);
    }
    std::vector<Edge> edges;
    SweepEdges(across, [&](LONG y, LONG a, LONG b, int sign) {
        edges.push_back(sign > 0 ? Edge{{a, y}, {b, y}} : Edge{{b, y}, {a, y}});
    });
    SweepEdges(down, [&](LONG x, LONG a, LONG b, int sign) {
        edges.push_back(sign > 0 ? Edge{{x, a}, {x, b}} : Edge{{x, b}, {x, a}});
    });
    // Every corner has as many edges leaving as arriving, so a walk from
    // any edge along unused ones comes back where it started.
    std::vector<std::pair<uint64_t, uint32_t>> leaving, arriving;
    leaving.reserve(edges.size()), arriving.reserve(edges.size());
    for (size_t i = 0; i < edges.size(); ++i) {
        leaving.emplace_back(Key(edges[i].from), static_cast<uint32_t>(i));
        arriving.emplace_back(Key(edges[i].to), static_cast<uint32_t>(i));
    }
    std::sort(leaving.begin(), leaving.end());
    std::sort(arriving.begin(), arriving.end());
    // For each edge, where the edges leaving its end start in `leaving`.
    std::vector<uint32_t> onward(edges.size());
    for (size_t a = 0, l = 0; a < arriving.size(); ++a) {
        while (l < leaving.size() && leaving[l].first < arriving[a].first) ++l;
        onward[arriving[a].second] = static_cast<uint32_t>(l);
    }
    std::vector<bool> used(edges.size(), false);
    for (size_t first = 0; first < edges.size(); ++first) {
        if (used[first]) continue;
        std::vector<POINTL> contour;
        size_t e = first;
        for (;;) {
            used[e] = true;
            contour.push_back(edges[e].from);
            const uint64_t key = Key(edges[e].to);
            size_t l = onward[e];
            while (l < leaving.size() && leaving[l].first == key && used[leaving[l].second]) ++l;
            if (l == leaving.size() || leaving[l].first != key) break;
            e = leaving[l].second;
        }
        DropStraightCorners(contour);
        if (contour.size() >= 4) out.push_back(std::move(contour));
    }
}

}  // namespace

std::vector<std::vector<POINTL>> OutlineOfRectangles(std::span<const RECTL> rects) {
    // Rectangles apart across the page (glyphs side by side) are traced
    // apart: small groups sort quickly, and one band for all would cut every
    // rectangle at every other one's top and bottom. Rectangles that touch
    // side to side are one group, so that their outline is one.
    std::vector<RECTL> in;
    for (const RECTL& q : rects)
        if (q.left < q.right && q.top < q.bottom) in.push_back(q);
    std::sort(in.begin(), in.end(), [](const RECTL& a, const RECTL& b) { return a.left < b.left; });
    std::vector<std::vector<POINTL>> out;
    for (size_t first = 0; first < in.size();) {
        size_t last = first + 1;
        for (LONG right = in[first].right; last < in.size() && in[last].left <= right; ++last) right = std::max(right, in[last].right);
        Trace(std::span<RECTL>(in).subspan(first, last - first), out);
        first = last;
    }
    return out;
}

}  // namespace pclrend
