// Rasterising paths into coverage with cairo, antialiasing off.
#include "gdi/coverage.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

namespace zq::gdi {
namespace {

// Largest area rasterised at once; larger requests are cut to it (a page at
// 1200 dpi fits).
constexpr LONG kMaxSide = 32767;

struct CairoDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};

RECTL Limit(RECTL a) {
    a.right = std::min(a.right, a.left + kMaxSide);
    a.bottom = std::min(a.bottom, a.top + kMaxSide);
    if (a.right < a.left) a.right = a.left;
    if (a.bottom < a.top) a.bottom = a.top;
    return a;
}

// Adds the path in device pixels, shifted so that the area's corner is 0,0
// plus `half` (0.5 puts one-pixel lines on pixel centres).
void AddPath(cairo_t* cr, const Path& path, const RECTL& area, double half) {
    auto X = [&](FIX v) { return v / 16.0 - area.left + half; };
    auto Y = [&](FIX v) { return v / 16.0 - area.top + half; };
    for (const Path::Figure& f : path.Figures()) {
        if (f.runs.empty()) continue;
        cairo_move_to(cr, X(f.start.x), Y(f.start.y));
        for (const Path::Segment& s : f.runs) {
            if (!s.bezier) {
                for (auto p : s.points) cairo_line_to(cr, X(p.x), Y(p.y));
            } else {
                for (size_t i = 0; i + 2 < s.points.size(); i += 3)
                    cairo_curve_to(cr, X(s.points[i].x), Y(s.points[i].y), X(s.points[i + 1].x),
                                   Y(s.points[i + 1].y), X(s.points[i + 2].x), Y(s.points[i + 2].y));
            }
        }
        if (f.closed) cairo_close_path(cr);
    }
}

// The pixels a path can reach, its points' box widened by `pad` pixels and
// a margin for rounding; curves stay inside their control points' hull. The
// mask is only as large as this box within the area asked for: clearing and
// scanning a band-sized mask for every small path is what costs.
RECTL Reach(const Path& path, const RECTL& area, double pad) {
    RECTFX b = path.Bounds();
    pad = std::isfinite(pad) ? std::clamp(pad, 0.0, 1.0e9) : 1.0e9;
    auto at = [](double v) { return static_cast<LONG>(std::clamp(v, -2.0e9, 2.0e9)); };
    RECTL r{at(std::floor(b.xLeft / 16.0 - pad) - 2), at(std::floor(b.yTop / 16.0 - pad) - 2),
            at(std::ceil(b.xRight / 16.0 + pad) + 3), at(std::ceil(b.yBottom / 16.0 + pad) + 3)};
    r = IntersectRect(r, area);
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

LONG CeilDiv16(int64_t v) { return static_cast<LONG>(v >= 0 ? (v + 15) / 16 : -((-v) / 16)); }

// A path that is one upright rectangle (one figure of four corners, lines
// only) covers the pixels whose centres lie inside it, a centre on the
// left or top edge counting as inside, one on the right or bottom edge as
// outside: what cairo's rasteriser gives for it without antialiasing, so
// large fills (a page's background, rules, table cells) cost no mask.
// Nothing for any other path, or one beyond the range the rasteriser keeps.
std::optional<RECTL> UprightBox(const Path& path, const RECTL& area) {
    std::vector<POINTFIX> pts;
    int figures = 0;
    for (const Path::Figure& f : path.Figures()) {
        if (f.runs.empty()) continue;
        if (++figures > 1) return std::nullopt;
        pts.push_back(f.start);
        for (const Path::Segment& s : f.runs) {
            if (s.bezier) return std::nullopt;
            for (auto p : s.points) {
                if (pts.size() >= 6) return std::nullopt;
                pts.push_back(p);
            }
        }
    }
    if (pts.size() == 5 && pts[4].x == pts[0].x && pts[4].y == pts[0].y) pts.pop_back();
    if (pts.size() != 4) return std::nullopt;
    const bool across = pts[0].y == pts[1].y && pts[1].x == pts[2].x && pts[2].y == pts[3].y && pts[3].x == pts[0].x;
    const bool down = pts[0].x == pts[1].x && pts[1].y == pts[2].y && pts[2].x == pts[3].x && pts[3].y == pts[0].y;
    if (!across && !down) return std::nullopt;
    int64_t x0 = std::min(pts[0].x, pts[2].x), x1 = std::max(pts[0].x, pts[2].x);
    int64_t y0 = std::min(pts[0].y, pts[2].y), y1 = std::max(pts[0].y, pts[2].y);
    constexpr int64_t kRange = int64_t{1} << 22;  // pixels from the area's corner, well inside cairo's
    for (int64_t v : {x0 - int64_t{area.left} * 16, x1 - int64_t{area.left} * 16})
        if (v < -kRange * 16 || v > kRange * 16) return std::nullopt;
    for (int64_t v : {y0 - int64_t{area.top} * 16, y1 - int64_t{area.top} * 16})
        if (v < -kRange * 16 || v > kRange * 16) return std::nullopt;
    RECTL box{CeilDiv16(x0 - 8), CeilDiv16(y0 - 8), CeilDiv16(x1 - 8), CeilDiv16(y1 - 8)};
    box = IntersectRect(box, area);
    return box;
}

template <class Draw>
Coverage Rasterise(const RECTL& requested, Draw draw) {
    Coverage c;
    c.area = Limit(requested);
    int w = c.area.right - c.area.left, h = c.area.bottom - c.area.top;
    if (w <= 0 || h <= 0) return c;
    // cairo draws straight into the cells (cleared once, not a mask of its
    // own cleared and copied), rows padded to cairo's stride. Covered cells
    // hold 255, uncovered 0.
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, w);
    if (stride < w) return c;
    c.cells.assign(static_cast<size_t>(stride) * h, 0);
    c.stride = static_cast<size_t>(stride);
    std::unique_ptr<cairo_surface_t, CairoDeleter> surface(
        cairo_image_surface_create_for_data(c.cells.data(), CAIRO_FORMAT_A8, w, h, stride));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        c.cells.clear();
        return c;
    }
    {
        std::unique_ptr<cairo_t, CairoDeleter> cr(cairo_create(surface.get()));
        cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_NONE);
        cairo_set_source_rgba(cr.get(), 0, 0, 0, 1);
        draw(cr.get());
    }
    cairo_surface_flush(surface.get());
    surface.reset();
    return c;
}

}  // namespace

bool Coverage::At(LONG x, LONG y) const {
    if (box) return x >= box->left && x < box->right && y >= box->top && y < box->bottom;
    if (x < area.left || x >= area.right || y < area.top || y >= area.bottom || cells.empty()) return false;
    return cells[static_cast<size_t>(y - area.top) * stride + (x - area.left)] != 0;
}

size_t Coverage::Count() const {
    if (box) return static_cast<size_t>(box->right - box->left) * static_cast<size_t>(box->bottom - box->top);
    return static_cast<size_t>(std::count_if(cells.begin(), cells.end(), [](uint8_t v) { return v != 0; }));
}

Region Coverage::ToRegion() const {
    if (box) return Region(*box);
    std::vector<RECTL> runs;
    LONG w = Width();
    if (cells.empty()) return Region();
    // A row covered as the row above it lengthens that row's rectangles
    // (large fills are one rectangle, not one a row); the region made of
    // them is the same.
    const uint8_t* above = nullptr;
    size_t aboveFrom = 0;
    for (LONG y = area.top; y < area.bottom; ++y) {
        const uint8_t* row = cells.data() + static_cast<size_t>(y - area.top) * stride;
        if (above && std::memcmp(row, above, static_cast<size_t>(w)) == 0) {
            for (size_t k = aboveFrom; k < runs.size(); ++k) runs[k].bottom = y + 1;
            continue;
        }
        above = row;
        aboveFrom = runs.size();
        LONG x = 0;
        // Uncovered and covered stretches pass eight cells at a time while
        // a whole word is empty, or full (cairo's covered cells hold 255).
        const auto word = [&](LONG at) {
            uint64_t v;
            std::memcpy(&v, row + at, 8);
            return v;
        };
        while (x < w) {
            while (x + 8 <= w && word(x) == 0) x += 8;
            while (x < w && !row[x]) ++x;
            LONG start = x;
            while (x + 8 <= w && word(x) == ~uint64_t{0}) x += 8;
            while (x < w && row[x]) ++x;
            if (x > start) runs.push_back({area.left + start, y, area.left + x, y + 1});
        }
    }
    return Region::FromRects(runs);
}

Coverage FillCoverage(const Path& path, const RECTL& requested, FLONG fillMode) {
    const RECTL area = Reach(path, requested, 0.0);
    if (auto box = UprightBox(path, Limit(area))) {
        Coverage c;
        c.area = Limit(area);
        c.box = *box;
        return c;
    }
    return Rasterise(area, [&](cairo_t* cr) {
        AddPath(cr, path, area, 0.0);
        cairo_set_fill_rule(cr, fillMode == FP_WINDINGMODE ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill(cr);
    });
}

Coverage StrokeCoverage(const Path& path, const RECTL& requested, const XFORML* xform, const LINEATTRS& la) {
    // A geometric pen reaches half its width past the path, a miter join up
    // to the miter limit times that, a square cap the half diagonal; the
    // world transform stretches the pen by at most its Frobenius norm.
    double pad = 1.0;
    if (la.fl & LA_GEOMETRIC) {
        double width = std::isfinite(la.elWidth.e) ? std::max(0.0f, la.elWidth.e) : 0.0;
        double limit = std::isfinite(la.eMiterLimit) ? std::max(1.0f, la.eMiterLimit) : 10.0;
        double norm = xform ? std::sqrt(double{xform->eM11} * xform->eM11 + double{xform->eM12} * xform->eM12 +
                                        double{xform->eM21} * xform->eM21 + double{xform->eM22} * xform->eM22)
                            : 1.0;
        pad = width / 2 * std::max(limit, 1.5) * norm + 1.0;
    }
    const RECTL area = Reach(path, requested, pad);
    return Rasterise(area, [&](cairo_t* cr) {
        AddPath(cr, path, area, 0.5);
        if (!(la.fl & LA_GEOMETRIC)) {
            // Cosmetic: one device pixel, butt ends, alternate or styled in pixels.
            cairo_set_line_width(cr, 1.0);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
            std::vector<double> dashes;
            if (la.fl & LA_ALTERNATE) {
                dashes = {1.0, 1.0};
            } else if ((la.fl & LA_STYLED) && la.pstyle && la.cstyle) {
                for (ULONG i = 0; i < la.cstyle; ++i) dashes.push_back(std::max(0L + la.pstyle[i].l, 0L));
            }
            bool anyOn = std::any_of(dashes.begin(), dashes.end(), [](double d) { return d > 0; });
            if (!dashes.empty() && anyOn) {
                if (dashes.size() % 2) {  // an odd style repeats with on and off swapped
                    auto copy = dashes;
                    dashes.insert(dashes.end(), copy.begin(), copy.end());
                }
                double offset = (la.fl & LA_STARTGAP) ? dashes[0] : 0.0;
                cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), offset);
            }
            cairo_stroke(cr);
            return;
        }
        // Geometric: the pen lives in world space; its shape follows the
        // transform's linear part.
        cairo_matrix_t m;
        if (xform) {
            cairo_matrix_init(&m, xform->eM11, xform->eM12, xform->eM21, xform->eM22, 0, 0);
            if (cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) cairo_matrix_init_identity(&m);
            else cairo_matrix_init(&m, xform->eM11, xform->eM12, xform->eM21, xform->eM22, 0, 0);
        } else {
            cairo_matrix_init_identity(&m);
        }
        cairo_set_matrix(cr, &m);
        double width = std::isfinite(la.elWidth.e) ? std::max(0.0f, la.elWidth.e) : 0.0;
        cairo_set_line_width(cr, width);
        switch (la.iJoin) {
        case JOIN_ROUND: cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND); break;
        case JOIN_BEVEL: cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL); break;
        default: cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER); break;
        }
        switch (la.iEndCap) {
        case ENDCAP_ROUND: cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND); break;
        case ENDCAP_SQUARE: cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE); break;
        default: cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT); break;
        }
        double limit = std::isfinite(la.eMiterLimit) ? la.eMiterLimit : 10.0;
        cairo_set_miter_limit(cr, std::max(1.0, limit));
        if ((la.fl & LA_STYLED) && la.pstyle && la.cstyle) {
            std::vector<double> dashes;
            for (ULONG i = 0; i < la.cstyle; ++i) {
                float e = la.pstyle[i].e;
                dashes.push_back(std::isfinite(e) ? std::max(0.0f, e) : 0.0);
            }
            if (std::any_of(dashes.begin(), dashes.end(), [](double d) { return d > 0; })) {
                double offset = (la.fl & LA_STARTGAP) ? dashes[0] : 0.0;
                cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), offset);
            }
        }
        if (width > 0) cairo_stroke(cr);
    });
}

}  // namespace zq::gdi
