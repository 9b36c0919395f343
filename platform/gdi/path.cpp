// Paths of the engine and their enumeration by drivers (PATHOBJ).
#include <algorithm>
#include <cmath>
#include <new>

#include "gdi/ddi_path.h"

namespace zq::gdi {

Path::Figure& Path::Current() {
    if (!open_) {
        figures_.push_back(Figure{current_, {}, false});
        open_ = true;
    }
    return figures_.back();
}

void Path::MoveTo(POINTFIX p) {
    open_ = false;
    current_ = p;
}

void Path::LineTo(POINTFIX p) {
    Figure& f = Current();
    if (f.runs.empty() || f.runs.back().bezier) f.runs.push_back({false, {}});
    f.runs.back().points.push_back(p);
    current_ = p;
}

void Path::BezierTo(POINTFIX c1, POINTFIX c2, POINTFIX end) {
    Figure& f = Current();
    if (f.runs.empty() || !f.runs.back().bezier) f.runs.push_back({true, {}});
    f.runs.back().points.insert(f.runs.back().points.end(), {c1, c2, end});
    current_ = end;
    fl |= PO_BEZIERS;
    ++cCurves;
}

void Path::CloseFigure() {
    if (!open_) return;
    figures_.back().closed = true;
    current_ = figures_.back().start;
    open_ = false;
}

void Path::AddRect(RECTFX r) {
    MoveTo({r.xLeft, r.yTop});
    LineTo({r.xRight, r.yTop});
    LineTo({r.xRight, r.yBottom});
    LineTo({r.xLeft, r.yBottom});
    CloseFigure();
}

void Path::AddEllipse(RECTFX b) {
    // Four quarter arcs, each a cubic with the usual 0.5523 handle length.
    const double k = 0.5522847498;
    double cx = (b.xLeft + b.xRight) / 2.0, cy = (b.yTop + b.yBottom) / 2.0;
    double rx = (b.xRight - b.xLeft) / 2.0, ry = (b.yBottom - b.yTop) / 2.0;
    auto P = [](double x, double y) { return POINTFIX{static_cast<FIX>(std::lround(x)), static_cast<FIX>(std::lround(y))}; };
    MoveTo(P(cx + rx, cy));
    BezierTo(P(cx + rx, cy + k * ry), P(cx + k * rx, cy + ry), P(cx, cy + ry));
    BezierTo(P(cx - k * rx, cy + ry), P(cx - rx, cy + k * ry), P(cx - rx, cy));
    BezierTo(P(cx - rx, cy - k * ry), P(cx - k * rx, cy - ry), P(cx, cy - ry));
    BezierTo(P(cx + k * rx, cy - ry), P(cx + rx, cy - k * ry), P(cx + rx, cy));
    CloseFigure();
    fl |= PO_ELLIPSE;
}

Path Path::Flattened() const {
    Path out;
    for (const Figure& f : figures_) {
        out.MoveTo(f.start);
        POINTFIX cur = f.start;
        for (const Segment& s : f.runs) {
            if (!s.bezier) {
                for (auto p : s.points) out.LineTo(p);
            } else {
                for (size_t i = 0; i + 2 < s.points.size(); i += 3) {
                    POINTFIX p0 = cur, p1 = s.points[i], p2 = s.points[i + 1], p3 = s.points[i + 2];
                    double len = std::hypot(p1.x - p0.x, p1.y - p0.y) + std::hypot(p2.x - p1.x, p2.y - p1.y) +
                                 std::hypot(p3.x - p2.x, p3.y - p2.y);
                    int steps = std::clamp(static_cast<int>(len / 32), 2, 256);  // about 2 pixels a step
                    for (int k = 1; k <= steps; ++k) {
                        double t = static_cast<double>(k) / steps, u = 1 - t;
                        double x = u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x;
                        double y = u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y;
                        out.LineTo({static_cast<FIX>(std::lround(x)), static_cast<FIX>(std::lround(y))});
                    }
                    cur = p3;
                }
                continue;
            }
            if (!s.points.empty()) cur = s.points.back();
        }
        if (f.closed) out.CloseFigure();
    }
    return out;
}

RECTFX Path::Bounds() const {
    bool any = false;
    RECTFX b{0, 0, 0, 0};
    auto add = [&](POINTFIX p) {
        if (!any) {
            b = {p.x, p.y, p.x, p.y};
            any = true;
        }
        b.xLeft = std::min(b.xLeft, p.x);
        b.yTop = std::min(b.yTop, p.y);
        b.xRight = std::max(b.xRight, p.x);
        b.yBottom = std::max(b.yBottom, p.y);
    };
    for (const Figure& f : figures_) {
        if (f.runs.empty()) continue;
        add(f.start);
        for (auto& s : f.runs)
            for (auto p : s.points) add(p);
    }
    return b;
}

void Path::EnumStart() {
    fig_ = run_ = offset_ = 0;
}

bool Path::Enum(PATHDATA* pd) {
    // Figures without segments (a lone MoveTo) draw nothing: skip them.
    while (fig_ < figures_.size() && figures_[fig_].runs.empty()) ++fig_;
    if (fig_ >= figures_.size()) {
        pd->flags = 0;
        pd->count = 0;
        pd->pptfx = nullptr;
        return FALSE;
    }
    const Figure& f = figures_[fig_];
    const Segment& s = f.runs[run_];
    buffer_.clear();
    FLONG flags = s.bezier ? PD_BEZIERS : 0;
    if (run_ == 0 && offset_ == 0) {
        flags |= PD_BEGINSUBPATH;
        buffer_.push_back(f.start);
    }
    size_t take = std::min(kMaxRecordPoints, s.points.size() - offset_);
    buffer_.insert(buffer_.end(), s.points.begin() + offset_, s.points.begin() + offset_ + take);
    offset_ += take;
    if (offset_ >= s.points.size()) {
        offset_ = 0;
        if (++run_ >= f.runs.size()) {
            flags |= PD_ENDSUBPATH | (f.closed ? PD_CLOSEFIGURE : 0);
            run_ = 0;
            ++fig_;
        }
    }
    pd->flags = flags;
    pd->count = static_cast<ULONG>(buffer_.size());
    pd->pptfx = buffer_.data();
    while (fig_ < figures_.size() && figures_[fig_].runs.empty()) ++fig_;
    return fig_ < figures_.size() ? TRUE : FALSE;
}

}  // namespace zq::gdi

using zq::gdi::Path;

extern "C" void PATHOBJ_vEnumStart(PATHOBJ* ppo) {
    if (ppo) static_cast<Path*>(ppo)->EnumStart();
}

extern "C" BOOL PATHOBJ_bEnum(PATHOBJ* ppo, PATHDATA* ppd) {
    if (!ppo || !ppd) return FALSE;
    return static_cast<Path*>(ppo)->Enum(ppd) ? TRUE : FALSE;
}

extern "C" void PATHOBJ_vGetBounds(PATHOBJ* ppo, RECTFX* prectfx) {
    if (!ppo || !prectfx) return;
    *prectfx = static_cast<Path*>(ppo)->Bounds();
}

extern "C" void EngDeletePath(PATHOBJ* ppo) {
    delete static_cast<Path*>(ppo);
}

// Clip objects hand out their region as a path of rectangles.
PATHOBJ* ZqPathFromRects(const RECTL* rects, size_t count) {
    auto* path = new (std::nothrow) Path();
    if (!path) return nullptr;
    for (size_t i = 0; i < count; ++i)
        path->AddRect({LTOFX(rects[i].left), LTOFX(rects[i].top), LTOFX(rects[i].right), LTOFX(rects[i].bottom)});
    return path;
}
