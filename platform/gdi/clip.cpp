// Regions and clip objects: CLIPOBJ_cEnumStart / CLIPOBJ_bEnum hand the
// rectangles of a clip region out in batches that fill the caller's buffer.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_set>

#include "base/error.h"
#include "gdi/engine.h"

namespace zq::gdi {

RECTL IntersectRect(const RECTL& a, const RECTL& b) {
    RECTL r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    if (r.left >= r.right || r.top >= r.bottom) return {0, 0, 0, 0};
    return r;
}

bool RectEmpty(const RECTL& r) { return r.left >= r.right || r.top >= r.bottom; }

RECTL OrderRect(const RECTL& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right), std::max(r.top, r.bottom)};
}

namespace {

enum class Op { And, Or, Diff };

// Sweeps the horizontal bands where either region changes and combines the
// x intervals of both in each band; vertically adjacent bands with the same
// intervals are merged, so a region keeps as few rectangles as it needs.
std::vector<RECTL> Combine(std::span<const RECTL> a, std::span<const RECTL> b, Op op) {
    std::vector<LONG> ys;
    for (auto& r : a) { ys.push_back(r.top); ys.push_back(r.bottom); }
    for (auto& r : b) { ys.push_back(r.top); ys.push_back(r.bottom); }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

    // Each input's rectangles by top edge, and those that reach the band
    // being swept: a band looks only at what covers it, not at every
    // rectangle (every top and bottom is a band edge, so a rectangle that
    // started at or above the band and ends below its top covers it).
    struct Sweep {
        std::vector<RECTL> byTop;
        size_t next = 0;
        std::vector<RECTL> active;
    };
    auto sweepOf = [](std::span<const RECTL> rs) {
        Sweep w;
        w.byTop.assign(rs.begin(), rs.end());
        std::stable_sort(w.byTop.begin(), w.byTop.end(), [](const RECTL& l, const RECTL& r) { return l.top < r.top; });
        return w;
    };
    Sweep sweepA = sweepOf(a), sweepB = sweepOf(b);
    auto spans = [](Sweep& w, LONG y0, LONG y1) {
        std::erase_if(w.active, [&](const RECTL& r) { return r.bottom <= y0; });
        while (w.next < w.byTop.size() && w.byTop[w.next].top <= y0) {
            if (w.byTop[w.next].bottom > y0) w.active.push_back(w.byTop[w.next]);
            ++w.next;
        }
        std::vector<std::pair<LONG, LONG>> s;
        for (auto& r : w.active)
            if (r.top <= y0 && r.bottom >= y1 && r.left < r.right) s.push_back({r.left, r.right});
        std::sort(s.begin(), s.end());
        std::vector<std::pair<LONG, LONG>> merged;
        for (auto& iv : s) {
            if (!merged.empty() && iv.first <= merged.back().second)
                merged.back().second = std::max(merged.back().second, iv.second);
            else
                merged.push_back(iv);
        }
        return merged;
    };
    auto inside = [](const std::vector<std::pair<LONG, LONG>>& s, LONG x) {
        for (auto& iv : s)
            if (x >= iv.first && x < iv.second) return true;
        return false;
    };

    std::vector<RECTL> out;
    std::vector<std::pair<LONG, LONG>> prev;
    size_t prevStart = 0;
    LONG prevBottom = 0;
    for (size_t i = 0; i + 1 < ys.size(); ++i) {
        LONG y0 = ys[i], y1 = ys[i + 1];
        auto sa = spans(sweepA, y0, y1), sb = spans(sweepB, y0, y1);
        std::vector<LONG> xs;
        for (auto& iv : sa) { xs.push_back(iv.first); xs.push_back(iv.second); }
        for (auto& iv : sb) { xs.push_back(iv.first); xs.push_back(iv.second); }
        std::sort(xs.begin(), xs.end());
        xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
        std::vector<std::pair<LONG, LONG>> res;
        for (size_t j = 0; j + 1 < xs.size(); ++j) {
            bool ia = inside(sa, xs[j]), ib = inside(sb, xs[j]);
            bool in = op == Op::And ? (ia && ib) : op == Op::Or ? (ia || ib) : (ia && !ib);
            if (!in) continue;
            if (!res.empty() && res.back().second == xs[j])
                res.back().second = xs[j + 1];
            else
                res.push_back({xs[j], xs[j + 1]});
        }
        if (!res.empty() && res == prev && prevBottom == y0) {
            for (size_t k = prevStart; k < out.size(); ++k) out[k].bottom = y1;
        } else {
            prevStart = out.size();
            for (auto& iv : res) out.push_back({iv.first, y0, iv.second, y1});
        }
        prev = std::move(res);
        prevBottom = y1;
    }
    return out;
}

// Bands of a region as they are made, top to bottom: a band that touches
// the one made before it and has the same columns is made one with it.
struct BandJoiner {
    size_t prevStart = 0;
    LONG prevBottom = 0;
    bool havePrev = false;
    // No band was made here: the next is not joined to the last.
    void Break() { havePrev = false; }
    // out[start, end) is the band just made, from `top` to `bottom`.
    void Close(std::vector<RECTL>& out, size_t start, LONG top, LONG bottom) {
        const bool same = havePrev && prevBottom == top && out.size() - start == start - prevStart &&
                          std::equal(out.begin() + start, out.end(), out.begin() + prevStart,
                                     [](const RECTL& a, const RECTL& b) { return a.left == b.left && a.right == b.right; });
        if (same) {
            out.resize(start);
            for (size_t k = prevStart; k < start; ++k) out[k].bottom = bottom;
        } else {
            prevStart = start;
            havePrev = true;
        }
        prevBottom = bottom;
    }
};

// A region cut to one rectangle, in the form Combine gives, without sweeping
// the whole region: its rows of rectangles (rectangles sharing top and
// bottom, rows disjoint and in order, so bottoms never fall) that reach the
// rectangle are found by binary search, each is cut to the rectangle's
// columns, and neighbouring rows that come out alike merge. The work follows
// the rows the rectangle reaches, so cutting a page's clip to each band costs
// the band's share of it, not the whole clip every band.
std::vector<RECTL> CutToRect(std::span<const RECTL> rs, const RECTL& c) {
    std::vector<RECTL> out;
    if (RectEmpty(c)) return out;
    auto it = std::partition_point(rs.begin(), rs.end(), [&](const RECTL& r) { return r.bottom <= c.top; });
    BandJoiner bands;
    while (it != rs.end() && it->top < c.bottom) {
        const LONG top = it->top, bottom = it->bottom;
        const LONG y0 = std::max(top, c.top), y1 = std::min(bottom, c.bottom);
        const size_t start = out.size();
        for (; it != rs.end() && it->top == top; ++it) {
            const LONG x0 = std::max(it->left, c.left), x1 = std::min(it->right, c.right);
            if (x0 < x1) out.push_back({x0, y0, x1, y1});
        }
        if (out.size() == start) {
            bands.Break();
            continue;
        }
        bands.Close(out, start, y0, y1);
    }
    return out;
}

// The union of rectangles that lie in bands, as rasterised runs come (those
// with one top share one bottom, and bands do not overlap): in the form
// Combine gives, without its sweep, each band's intervals merged in order of
// left edge and alike neighbouring bands made one. False, leaving `out` to be
// ignored, when the rectangles are not so banded. `rs` is sorted.
bool UnionOfBands(std::vector<RECTL>& rs, std::vector<RECTL>& out) {
    std::sort(rs.begin(), rs.end(), [](const RECTL& a, const RECTL& b) {
        return a.top != b.top ? a.top < b.top : a.left < b.left;
    });
    for (size_t i = 1; i < rs.size(); ++i)
        if (rs[i].top == rs[i - 1].top ? rs[i].bottom != rs[i - 1].bottom : rs[i].top < rs[i - 1].bottom) return false;
    BandJoiner bands;
    for (size_t i = 0; i < rs.size();) {
        const LONG top = rs[i].top, bottom = rs[i].bottom;
        const size_t start = out.size();
        for (; i < rs.size() && rs[i].top == top; ++i) {
            if (out.size() > start && rs[i].left <= out.back().right) out.back().right = std::max(out.back().right, rs[i].right);
            else out.push_back(rs[i]);
        }
        bands.Close(out, start, top, bottom);
    }
    return true;
}

}  // namespace

Region::Region(const RECTL& r) {
    RECTL o = OrderRect(r);
    if (!RectEmpty(o)) rects_.push_back(o);
}

Region Region::FromRects(std::span<const RECTL> rects) {
    std::vector<RECTL> ordered;
    for (auto& r : rects) {
        RECTL o = OrderRect(r);
        if (!RectEmpty(o)) ordered.push_back(o);
    }
    Region out;
    if (!UnionOfBands(ordered, out.rects_)) out.rects_ = Combine(ordered, {}, Op::Or);
    return out;
}

RECTL Region::Bounds() const {
    if (rects_.empty()) return {0, 0, 0, 0};
    RECTL b = rects_.front();
    for (auto& r : rects_) {
        b.left = std::min(b.left, r.left);
        b.top = std::min(b.top, r.top);
        b.right = std::max(b.right, r.right);
        b.bottom = std::max(b.bottom, r.bottom);
    }
    return b;
}

Region Region::Intersect(const Region& o) const {
    Region out;
    if (IsRect() && o.IsRect()) {
        out = Region(IntersectRect(rects_[0], o.rects_[0]));
        return out;
    }
    // A rectangle that holds the whole of the other region leaves it as it
    // is (regions keep their rectangles in the one form Combine makes).
    auto holds = [](const RECTL& r, const RECTL& b) {
        return r.left <= b.left && r.top <= b.top && r.right >= b.right && r.bottom >= b.bottom;
    };
    if (o.IsRect() && !Empty() && holds(o.rects_[0], Bounds())) return *this;
    if (IsRect() && !o.Empty() && holds(rects_[0], o.Bounds())) return o;
    if (o.IsRect()) out.rects_ = CutToRect(rects_, o.rects_[0]);
    else if (IsRect()) out.rects_ = CutToRect(o.rects_, rects_[0]);
    else out.rects_ = Combine(rects_, o.rects_, Op::And);
    return out;
}
Region Region::Union(const Region& o) const { Region out; out.rects_ = Combine(rects_, o.rects_, Op::Or); return out; }
Region Region::Subtract(const Region& o) const { Region out; out.rects_ = Combine(rects_, o.rects_, Op::Diff); return out; }

Region Region::Offset(LONG dx, LONG dy) const {
    Region out = *this;
    for (auto& r : out.rects_) { r.left += dx; r.right += dx; r.top += dy; r.bottom += dy; }
    return out;
}

bool Region::Contains(LONG x, LONG y) const {
    for (auto& r : rects_)
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
    return false;
}

bool Region::operator==(const Region& o) const {
    if (rects_.size() != o.rects_.size()) return false;
    for (size_t i = 0; i < rects_.size(); ++i) {
        auto &a = rects_[i], &b = o.rects_[i];
        if (a.left != b.left || a.top != b.top || a.right != b.right || a.bottom != b.bottom) return false;
    }
    return true;
}

// ---- Engine clip objects ------------------------------------------------

namespace {
std::mutex g_clipsLock;
std::unordered_set<const CLIPOBJ*>& LiveClips() {
    static std::unordered_set<const CLIPOBJ*> clips;
    return clips;
}
ULONG NextUniq() {
    static std::atomic<ULONG> uniq{1};
    return uniq++;
}
EngineClip* AsEngineClip(CLIPOBJ* pco) {
    std::lock_guard lock(g_clipsLock);
    return pco && LiveClips().count(pco) ? static_cast<EngineClip*>(pco) : nullptr;
}
}  // namespace

EngineClip::EngineClip(const Region& r, std::optional<RECTL> limit) : CLIPOBJ{}, region(limit ? r.Intersect(Region(*limit)) : r) {
    iUniq = NextUniq();
    rclBounds = region.Bounds();
    iDComplexity = region.Rects().size() > 1 ? DC_COMPLEX : DC_RECT;
    iFComplexity = region.Rects().size() > 4 ? FC_COMPLEX : region.Rects().size() > 1 ? FC_RECT4 : FC_RECT;
    iMode = TC_RECTANGLES;
    fjOptions = 0;
    order.assign(region.Rects().begin(), region.Rects().end());
    std::lock_guard lock(g_clipsLock);
    LiveClips().insert(this);
}

EngineClip::~EngineClip() {
    std::lock_guard lock(g_clipsLock);
    LiveClips().erase(this);
}

Region ClipRegion(const CLIPOBJ* pco, const RECTL& bounds) {
    if (!pco || pco->iDComplexity == DC_TRIVIAL) return Region(bounds);
    if (auto* ec = AsEngineClip(const_cast<CLIPOBJ*>(pco)); ec && pco->iDComplexity == DC_COMPLEX)
        return ec->region.Intersect(Region(bounds));
    return Region(IntersectRect(pco->rclBounds, bounds));
}

}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" ULONG CLIPOBJ_cEnumStart(CLIPOBJ* pco, BOOL bAll, ULONG iType, ULONG iDirection, ULONG cLimit) {
    (void)bAll;
    EngineClip* ec = AsEngineClip(pco);
    if (!ec || iType != CT_RECTANGLES) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0xFFFFFFFF;
    }
    // DC_RECT and DC_TRIVIAL clips enumerate their bounds.
    ec->order.assign(ec->region.Rects().begin(), ec->region.Rects().end());
    if (pco->iDComplexity != DC_COMPLEX) {
        ec->order.clear();
        if (!RectEmpty(pco->rclBounds)) ec->order.push_back(pco->rclBounds);
    }
    auto& v = ec->order;
    // Regions are kept right-down; other directions reorder bands and
    // rectangles within a band.
    switch (iDirection) {
        case CD_LEFTDOWN:
            std::stable_sort(v.begin(), v.end(), [](auto& a, auto& b) { return a.top != b.top ? a.top < b.top : a.left > b.left; });
            break;
        case CD_RIGHTUP:
            std::stable_sort(v.begin(), v.end(), [](auto& a, auto& b) { return a.top != b.top ? a.top > b.top : a.left < b.left; });
            break;
        case CD_LEFTUP:
            std::stable_sort(v.begin(), v.end(), [](auto& a, auto& b) { return a.top != b.top ? a.top > b.top : a.left > b.left; });
            break;
        default:
            break;
    }
    ec->next = 0;
    ULONG count = static_cast<ULONG>(v.size());
    return (cLimit == 0 || count <= cLimit) ? count : 0xFFFFFFFF;
}

extern "C" BOOL CLIPOBJ_bEnum(CLIPOBJ* pco, ULONG cj, ULONG* pul) {
    EngineClip* ec = AsEngineClip(pco);
    auto* er = reinterpret_cast<ENUMRECTS*>(pul);
    constexpr size_t header = offsetof(ENUMRECTS, arcl);
    if (!ec || !pul || cj < header) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t capacity = (cj - header) / sizeof(RECTL);
    size_t remaining = ec->order.size() - ec->next;
    if (capacity == 0 && remaining > 0) {
        // A buffer that holds no rectangle would make the caller loop for
        // ever: report the short buffer and end the enumeration.
        er->c = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    size_t n = std::min(capacity, remaining);
    RECTL* out = er->arcl;
    for (size_t i = 0; i < n; ++i) out[i] = ec->order[ec->next + i];
    er->c = static_cast<ULONG>(n);
    ec->next += n;
    return ec->next < ec->order.size() ? TRUE : FALSE;
}

// Clip paths come from the path code when it is linked in.
extern PATHOBJ* ZqPathFromRects(const RECTL* rects, size_t count) __attribute__((weak));

extern "C" PATHOBJ* CLIPOBJ_ppoGetPath(CLIPOBJ* pco) {
    if (!pco) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Region r = ClipRegion(pco, pco->rclBounds);
    if (!ZqPathFromRects) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    return ZqPathFromRects(r.Rects().data(), r.Rects().size());
}
