// Lines, shapes, paths, transforms and SaveDC/RestoreDC of the DC calls.
// Geometry is taken to device space in 28.4 when it is drawn; the page's
// display list keeps device paths, so bands replay them unchanged.
#include "gdi/dc_draw.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <utility>

#include "base/error.h"
#include "gdi/coverage.h"
#include "gdi/dc_state.h"

namespace zq::gdi {

// ---- State ----------------------------------------------------------------

DrawState& State(DeviceContext& dc) { return dc.Ext<DrawState>(); }

DeviceContext* DcOf(HDC h) {
    DeviceContext* dc = DeviceContext::FromHandle(h);
    if (!dc) SetLastError(ERROR_INVALID_HANDLE);
    return dc;
}

GdiObject* PenObject::SelectInto(DeviceContext& dc) {
    DrawState& s = State(dc);
    GdiObject* prev = s.pen ? static_cast<GdiObject*>(s.pen) : StockDrawObject(BLACK_PEN);
    if (s.pen) --s.pen->selections;
    s.pen = this;
    ++selections;
    return prev;
}

GdiObject* FontObject::SelectInto(DeviceContext& dc) {
    DrawState& s = State(dc);
    GdiObject* prev = s.font ? static_cast<GdiObject*>(s.font) : StockDrawObject(SYSTEM_FONT);
    if (s.font) --s.font->selections;
    s.font = this;
    ++selections;
    s.realised.reset();
    return prev;
}

GdiObject* StockDrawObject(int index) {
    static GdiObject* objects[18] = {};
    static std::once_flag once;
    std::call_once(once, [] {
        auto pen = [](COLORREF c, int style) {
            auto* p = new PenObject();
            p->color = c;
            p->style = static_cast<DWORD>(style);
            p->stock = true;
            return p;
        };
        objects[WHITE_PEN] = pen(RGB(255, 255, 255), PS_SOLID);
        objects[BLACK_PEN] = pen(0, PS_SOLID);
        objects[NULL_PEN] = pen(0, PS_NULL);
        auto font = [](const char16_t* face, LONG height, BYTE pitch) {
            auto* f = new FontObject();
            f->logical.lfHeight = height;
            f->logical.lfWeight = FW_NORMAL;
            f->logical.lfPitchAndFamily = pitch;
            for (int i = 0; face[i] && i < LF_FACESIZE - 1; ++i) f->logical.lfFaceName[i] = face[i];
            f->stock = true;
            return f;
        };
        for (int i : {OEM_FIXED_FONT, ANSI_FIXED_FONT, SYSTEM_FIXED_FONT})
            objects[i] = font(u"Liberation Mono", -13, 1);
        for (int i : {ANSI_VAR_FONT, SYSTEM_FONT, DEVICE_DEFAULT_FONT, DEFAULT_GUI_FONT})
            objects[i] = font(u"Liberation Sans", -13, 2);
    });
    return index >= 0 && index < 18 ? objects[index] : nullptr;
}

// ---- Transforms ------------------------------------------------------------

int DpiX(DeviceContext& dc) {
    int v = GetDeviceCaps(dc.Handle(), LOGPIXELSX);
    return v > 0 ? v : 96;
}
int DpiY(DeviceContext& dc) {
    int v = GetDeviceCaps(dc.Handle(), LOGPIXELSY);
    return v > 0 ? v : 96;
}

XFORML PageTransform(DeviceContext& dc) {
    DrawState& s = State(dc);
    double sx = s.windowExt.cx ? static_cast<double>(s.viewportExt.cx) / s.windowExt.cx : 1;
    double sy = s.windowExt.cy ? static_cast<double>(s.viewportExt.cy) / s.windowExt.cy : 1;
    if (s.mapMode == MM_TEXT) sx = sy = 1;
    return {static_cast<FLOATL>(sx), 0, 0, static_cast<FLOATL>(sy),
            static_cast<FLOATL>(s.viewportOrg.x - s.windowOrg.x * sx),
            static_cast<FLOATL>(s.viewportOrg.y - s.windowOrg.y * sy)};
}

XFORML LogicalToDevice(DeviceContext& dc) {
    DrawState& s = State(dc);
    XFORML page = PageTransform(dc);
    return Multiply(s.graphicsMode == GM_ADVANCED ? Multiply(s.world, page) : page, s.playback);
}

POINTFIX ToFix(const XFORML& m, double x, double y) {
    double dx = x * m.eM11 + y * m.eM21 + m.eDx, dy = x * m.eM12 + y * m.eM22 + m.eDy;
    auto clamp = [](double v) { return static_cast<FIX>(std::clamp(std::nearbyint(v * 16), -1.0e9, 1.0e9)); };
    return {clamp(dx), clamp(dy)};
}

RECTL LogicalRectToDevice(DeviceContext& dc, const RECTL& r) {
    XFORML m = LogicalToDevice(dc);
    POINTFIX a = ToFix(m, r.left, r.top), b = ToFix(m, r.right, r.bottom);
    POINTFIX c = ToFix(m, r.left, r.bottom), d = ToFix(m, r.right, r.top);
    auto lo = [](FIX p, FIX q, FIX u, FIX v) { return FXTOLROUND(std::min({p, q, u, v})); };
    auto hi = [](FIX p, FIX q, FIX u, FIX v) { return FXTOLROUND(std::max({p, q, u, v})); };
    RECTL out{lo(a.x, b.x, c.x, d.x), lo(a.y, b.y, c.y, d.y), hi(a.x, b.x, c.x, d.x), hi(a.y, b.y, c.y, d.y)};
    if (r.right < r.left) std::swap(out.left, out.right);
    if (r.bottom < r.top) std::swap(out.top, out.bottom);
    return out;
}

// Extents of isotropic and fixed mapping modes in device pixels.
void ApplyMapMode(DeviceContext& dc) {
    DrawState& s = State(dc);
    LONG dpiX = DpiX(dc), dpiY = DpiY(dc);
    const SIZEL px = s.referencePixels, um = s.referenceMicrometers;
    const bool reference = px.cx > 0 && px.cy > 0 && um.cx > 0 && um.cy > 0 && px.cx <= 1000000 &&
                           px.cy <= 1000000 && um.cx <= 10000000 && um.cy <= 10000000;
    auto fixed = [&](LONG unitsPerInch) {
        if (!reference) {
            s.windowExt = {unitsPerInch, unitsPerInch};
            s.viewportExt = {dpiX, -dpiY};
            return;
        }
        // The reference device's width in logical units against its width
        // in pixels, both times 64 so the rounding stays far below a pixel.
        auto units = [&](LONG micrometres) {
            return static_cast<LONG>(std::llround(micrometres * 64.0 * unitsPerInch / 25400.0));
        };
        s.windowExt = {units(um.cx), units(um.cy)};
        s.viewportExt = {px.cx * 64, -px.cy * 64};
    };
    switch (s.mapMode) {
    case MM_LOMETRIC: fixed(254); break;
    case MM_HIMETRIC: fixed(2540); break;
    case MM_LOENGLISH: fixed(100); break;
    case MM_HIENGLISH: fixed(1000); break;
    case MM_TWIPS: fixed(1440); break;
    default: break;
    }
}

void FixIsotropic(DrawState& s) {
    if (s.mapMode != MM_ISOTROPIC || !s.windowExt.cx || !s.windowExt.cy) return;
    // Both axes take the smaller scale, keeping each sign.
    double sx = std::fabs(static_cast<double>(s.viewportExt.cx) / s.windowExt.cx);
    double sy = std::fabs(static_cast<double>(s.viewportExt.cy) / s.windowExt.cy);
    if (sx > sy) {
        LONG v = static_cast<LONG>(std::lround(std::fabs(static_cast<double>(s.windowExt.cx)) * sy));
        s.viewportExt.cx = s.viewportExt.cx < 0 ? -v : v;
    } else if (sy > sx) {
        LONG v = static_cast<LONG>(std::lround(std::fabs(static_cast<double>(s.windowExt.cy)) * sx));
        s.viewportExt.cy = s.viewportExt.cy < 0 ? -v : v;
    }
}

// ---- Drawing records -------------------------------------------------------

bool PathRecord::Play(PlayContext& ctx) const {
    Region bandClip = ctx.BandClip(clip);
    if (bandClip.Empty()) return true;
    Surface* target = SurfaceFromObject(ctx.surface);
    if (!target) return false;
    EngineClip ec(bandClip);
    // The path in band coordinates.
    Path* local = new Path();
    FIX ox = LTOFX(ctx.origin.x), oy = LTOFX(ctx.origin.y);
    auto shift = [&](POINTFIX p) { return POINTFIX{p.x - ox, p.y - oy}; };
    for (const Path::Figure& f : path.Figures()) {
        local->MoveTo(shift(f.start));
        for (const Path::Segment& s : f.runs) {
            if (!s.bezier) {
                for (auto p : s.points) local->LineTo(shift(p));
            } else {
                for (size_t i = 0; i + 2 < s.points.size(); i += 3)
                    local->BezierTo(shift(s.points[i]), shift(s.points[i + 1]), shift(s.points[i + 2]));
            }
        }
        if (f.closed) local->CloseFigure();
    }
    std::unique_ptr<Path> owned(local);
    POINTL org = ctx.ToBand(brushOrigin);
    std::optional<EngineBrush> fillBrush, penBrush;
    if (fill) fillBrush.emplace(*fill, target);
    if (stroke) penBrush.emplace(stroke->brush, target);
    LINEATTRS la{};
    std::vector<FLOAT_LONG> style;
    Xform xo;
    if (stroke) {
        la.fl = stroke->flags;
        la.iJoin = stroke->join;
        la.iEndCap = stroke->cap;
        la.eMiterLimit = stroke->miterLimit;
        if (la.fl & LA_GEOMETRIC) la.elWidth.e = stroke->width;
        else la.elWidth.l = 1;
        for (float v : stroke->style) {
            FLOAT_LONG fl;
            if (la.fl & LA_GEOMETRIC) fl.e = v;
            else fl.l = static_cast<LONG>(std::lround(v));
            style.push_back(fl);
        }
        la.cstyle = static_cast<ULONG>(style.size());
        la.pstyle = style.empty() ? nullptr : style.data();
        xo = Xform(stroke->xform);
    }
    MIX m = mix;
    // A hook counts when the surface asked for it and the driver has it.
    auto hook = [&](FLONG flag, ULONG index) { return ctx.Hooked(flag) && ctx.device->Drv().Hook(index); };
    Device* dev = ctx.device;
    if (fill && stroke && hook(HOOK_STROKEANDFILLPATH, INDEX_DrvStrokeAndFillPath))
        return dev->Drv().Get<PFN_DrvStrokeAndFillPath>(INDEX_DrvStrokeAndFillPath)(
            ctx.surface, local, &ec, &xo, &*penBrush, &la, &*fillBrush, &org, m, fillMode);
    bool ok = true;
    if (fill) {
        if (hook(HOOK_FILLPATH, INDEX_DrvFillPath))
            ok = dev->Drv().Get<PFN_DrvFillPath>(INDEX_DrvFillPath)(ctx.surface, local, &ec, &*fillBrush, &org, m,
                                                                    fillMode);
        else
            ok = EngFillPath(ctx.surface, local, &ec, &*fillBrush, &org, m, fillMode);
    }
    if (stroke) {
        bool s = false;
        if (hook(HOOK_STROKEPATH, INDEX_DrvStrokePath))
            s = dev->Drv().Get<PFN_DrvStrokePath>(INDEX_DrvStrokePath)(ctx.surface, local, &ec, &xo, &*penBrush,
                                                                      &org, &la, m);
        else
            s = EngStrokePath(ctx.surface, local, &ec, &xo, &*penBrush, &org, &la, m);
        ok = ok && s;
    }
    return ok;
}

std::optional<PathRecord::Pen> PenFor(DeviceContext& dc) {
    DrawState& s = State(dc);
    const PenObject* pen = s.pen ? s.pen : static_cast<PenObject*>(StockDrawObject(BLACK_PEN));
    if (pen->Null()) return std::nullopt;
    PathRecord::Pen p;
    p.brush.color = pen->color;
    XFORML m = LogicalToDevice(dc);
    p.xform = {m.eM11, m.eM12, m.eM21, m.eM22, 0, 0};
    double scale = std::sqrt(std::fabs(double{m.eM11} * m.eM22 - double{m.eM12} * m.eM21));
    bool geometric = (pen->style & PS_TYPE_MASK) == PS_GEOMETRIC || pen->width * scale > 1.5;
    int kind = static_cast<int>(pen->style & PS_STYLE_MASK);
    p.miterLimit = s.miterLimit;
    switch (pen->style & PS_JOIN_MASK) {
    case PS_JOIN_BEVEL: p.join = JOIN_BEVEL; break;
    case PS_JOIN_MITER: p.join = JOIN_MITER; break;
    default: p.join = JOIN_ROUND; break;
    }
    switch (pen->style & PS_ENDCAP_MASK) {
    case PS_ENDCAP_SQUARE: p.cap = ENDCAP_SQUARE; break;
    case PS_ENDCAP_FLAT: p.cap = ENDCAP_BUTT; break;
    default: p.cap = ENDCAP_ROUND; break;
    }
    // Dash patterns in units of the pen width (geometric) or of a device
    // pixel scaled to the resolution (cosmetic: a dash is as long on paper
    // as on a 96-dpi screen).
    std::vector<float> unit;
    switch (kind) {
    case PS_DASH: unit = {3, 1}; break;
    case PS_DOT: unit = {1, 1}; break;
    case PS_DASHDOT: unit = {3, 1, 1, 1}; break;
    case PS_DASHDOTDOT: unit = {3, 1, 1, 1, 1, 1}; break;
    default: break;
    }
    if (geometric) {
        p.flags = LA_GEOMETRIC;
        p.width = static_cast<float>(std::max<LONG>(pen->width, 1));
        for (float u : unit) p.style.push_back(u * p.width);
        if (kind == PS_USERSTYLE)
            for (DWORD v : pen->userStyle) p.style.push_back(static_cast<float>(v));
    } else {
        p.flags = 0;
        if (kind == PS_ALTERNATE) p.flags = LA_ALTERNATE;
        float step = std::max(1.0f, static_cast<float>(DpiX(dc)) / 96.0f);
        for (float u : unit) p.style.push_back(u * 6 * step / 2);
        if (kind == PS_USERSTYLE)
            for (DWORD v : pen->userStyle) p.style.push_back(static_cast<float>(v) * step);
    }
    if (!p.style.empty()) p.flags |= LA_STYLED;
    return p;
}

std::optional<LogicalBrush> BrushFor(DeviceContext& dc) {
    if (!dc.brush || dc.brush->logical.kind == LogicalBrush::Kind::Null) return std::nullopt;
    return dc.brush->logical;
}

bool DrawPath(DeviceContext& dc, Path path, bool fill, bool stroke) {
    auto rec = std::make_shared<PathRecord>();
    DrawState& s = State(dc);
    rec->path = std::move(path);
    rec->clip = dc.EffectiveClip();
    rec->brushOrigin = dc.brushOrigin;
    rec->fillMode = s.polyFillMode == WINDING ? FP_WINDINGMODE : FP_ALTERNATEMODE;
    rec->mix = static_cast<MIX>(s.rop2 | (s.rop2 << 8));
    if (fill) rec->fill = BrushFor(dc);
    if (stroke) rec->stroke = PenFor(dc);
    if (!rec->fill && !rec->stroke) return true;
    if (rec->path.Empty()) return true;
    return dc.Draw(std::move(rec));
}

// Shapes go into the open path bracket, or are drawn at once.
bool Emit(DeviceContext& dc, Path path, bool fill, bool stroke, bool fromCurrent = false) {
    DrawState& s = State(dc);
    if (s.pathOpen) {
        bool first = true;
        for (const Path::Figure& f : path.Figures()) {
            // A call that draws on from the current point (PolyBezierTo,
            // PolylineTo, PolyDraw, ArcTo) goes on with the open figure:
            // a glyph outline is one figure made of many such records.
            bool open = !s.path.Empty() && !s.path.Figures().back().closed;
            if (!(first && fromCurrent && open)) s.path.MoveTo(f.start);
            first = false;
            for (const Path::Segment& seg : f.runs) {
                if (!seg.bezier) {
                    for (auto p : seg.points) s.path.LineTo(p);
                } else {
                    for (size_t i = 0; i + 2 < seg.points.size(); i += 3)
                        s.path.BezierTo(seg.points[i], seg.points[i + 1], seg.points[i + 2]);
                }
            }
            if (f.closed) s.path.CloseFigure();
        }
        return true;
    }
    return DrawPath(dc, std::move(path), fill, stroke);
}

namespace {

// A figure builder in logical coordinates.
struct Builder {
    XFORML m;
    Path path;
    void Move(double x, double y) { path.MoveTo(ToFix(m, x, y)); }
    void Line(double x, double y) { path.LineTo(ToFix(m, x, y)); }
    void Curve(double x1, double y1, double x2, double y2, double x3, double y3) {
        path.BezierTo(ToFix(m, x1, y1), ToFix(m, x2, y2), ToFix(m, x3, y3));
    }
};

// Points of an elliptic arc in the box, from the ray through `start` to the
// ray through `end`, in the DC's arc direction (counterclockwise as seen).
std::vector<std::pair<double, double>> ArcPoints(double l, double t, double r, double b, double xs, double ys,
                                                 double xe, double ye, bool clockwise) {
    double cx = (l + r) / 2, cy = (t + b) / 2, rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
    std::vector<std::pair<double, double>> out;
    if (rx == 0 || ry == 0) return out;
    double a0 = std::atan2(-(ys - cy) / ry, (xs - cx) / rx), a1 = std::atan2(-(ye - cy) / ry, (xe - cx) / rx);
    const double two = 2 * std::numbers::pi;
    if (!clockwise) {
        while (a1 <= a0) a1 += two;
    } else {
        while (a1 >= a0) a1 -= two;
    }
    int steps = std::clamp(static_cast<int>(std::fabs(a1 - a0) / two * 128), 4, 512);
    for (int i = 0; i <= steps; ++i) {
        double a = a0 + (a1 - a0) * i / steps;
        out.push_back({cx + rx * std::cos(a), cy - ry * std::sin(a)});
    }
    return out;
}

// The right and bottom edges of GDI's boxes are outside the outline: pull
// them in by one device pixel when the mapping keeps axes.
RECTL StrokeBox(const XFORML& m, int l, int t, int r, int b, double& ll, double& tt, double& rr, double& bb) {
    ll = l, tt = t, rr = r, bb = b;
    if (m.eM12 == 0 && m.eM21 == 0 && m.eM11 != 0 && m.eM22 != 0) {
        double px = 1.0 / std::fabs(m.eM11), py = 1.0 / std::fabs(m.eM22);
        if (rr > ll) rr -= px; else ll -= px;
        if (bb > tt) bb -= py; else tt -= py;
    }
    return {};
}

void AddEllipse(Builder& b, double l, double t, double r, double bt) {
    const double k = 0.5522847498;
    double cx = (l + r) / 2, cy = (t + bt) / 2, rx = (r - l) / 2, ry = (bt - t) / 2;
    b.Move(cx + rx, cy);
    b.Curve(cx + rx, cy + k * ry, cx + k * rx, cy + ry, cx, cy + ry);
    b.Curve(cx - k * rx, cy + ry, cx - rx, cy + k * ry, cx - rx, cy);
    b.Curve(cx - rx, cy - k * ry, cx - k * rx, cy - ry, cx, cy - ry);
    b.Curve(cx + k * rx, cy - ry, cx + rx, cy - k * ry, cx + rx, cy);
    b.path.CloseFigure();
}

void AddRoundRect(Builder& b, double l, double t, double r, double bt, double w, double h) {
    const double k = 0.5522847498;
    double rx = std::min(std::fabs(w) / 2, std::fabs(r - l) / 2), ry = std::min(std::fabs(h) / 2, std::fabs(bt - t) / 2);
    b.Move(l + rx, t);
    b.Line(r - rx, t);
    b.Curve(r - rx + k * rx, t, r, t + ry - k * ry, r, t + ry);
    b.Line(r, bt - ry);
    b.Curve(r, bt - ry + k * ry, r - rx + k * rx, bt, r - rx, bt);
    b.Line(l + rx, bt);
    b.Curve(l + rx - k * rx, bt, l, bt - ry + k * ry, l, bt - ry);
    b.Line(l, t + ry);
    b.Curve(l, t + ry - k * ry, l + rx - k * rx, t, l + rx, t);
    b.path.CloseFigure();
}

enum class ArcKind { Arc, ArcTo, Chord, Pie };

BOOL DoArc(HDC hdc, ArcKind kind, int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    auto pts = ArcPoints(l, t, r, b, xs, ys, xe, ye, s.arcDirection == AD_CLOCKWISE);
    if (pts.empty()) return TRUE;
    Builder stroke{LogicalToDevice(*dc), {}}, fill{LogicalToDevice(*dc), {}};
    for (Builder* bd : {&fill, &stroke}) {
        if (kind == ArcKind::Pie) {
            bd->Move((static_cast<double>(l) + r) / 2.0, (static_cast<double>(t) + b) / 2.0);
            bd->Line(pts[0].first, pts[0].second);
        } else if (kind == ArcKind::ArcTo) {
            bd->Move(s.current.x, s.current.y);
            bd->Line(pts[0].first, pts[0].second);
        } else {
            bd->Move(pts[0].first, pts[0].second);
        }
        for (size_t i = 1; i < pts.size(); ++i) bd->Line(pts[i].first, pts[i].second);
        if (kind == ArcKind::Chord || kind == ArcKind::Pie) bd->path.CloseFigure();
    }
    if (kind == ArcKind::ArcTo)
        s.current = {static_cast<LONG>(std::lround(pts.back().first)), static_cast<LONG>(std::lround(pts.back().second))};
    bool closed = kind == ArcKind::Chord || kind == ArcKind::Pie;
    if (s.pathOpen) return Emit(*dc, std::move(stroke.path), false, false, kind == ArcKind::ArcTo) ? TRUE : FALSE;
    bool ok = true;
    if (closed) ok = DrawPath(*dc, std::move(fill.path), true, false);
    return ok && DrawPath(*dc, std::move(stroke.path), false, true) ? TRUE : FALSE;
}

BOOL PolyImpl(HDC hdc, const POINT* pts, int count, bool closed, bool fromCurrent, bool bezier) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    if (count < 0 || (count > 0 && !pts)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DrawState& s = State(*dc);
    Builder bd{LogicalToDevice(*dc), {}};
    int i = 0;
    if (fromCurrent) {
        bd.Move(s.current.x, s.current.y);
    } else {
        if (count < (bezier ? 4 : 2)) return count == 0 ? TRUE : (SetLastError(ERROR_INVALID_PARAMETER), FALSE);
        bd.Move(pts[0].x, pts[0].y);
        i = 1;
    }
    if (bezier) {
        if ((count - i) % 3) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        for (; i + 2 < count; i += 3)
            bd.Curve(pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, pts[i + 2].x, pts[i + 2].y);
    } else {
        for (; i < count; ++i) bd.Line(pts[i].x, pts[i].y);
    }
    if (closed) bd.path.CloseFigure();
    if (fromCurrent && count > 0) s.current = {pts[count - 1].x, pts[count - 1].y};
    return Emit(*dc, std::move(bd.path), closed, true, fromCurrent) ? TRUE : FALSE;
}

// PolyPolygon and PolyPolyline: figures of at least two points each, closed
// and filled for polygons.
template <class Count>
BOOL PolyPolyImpl(HDC hdc, const POINT* points, const Count* counts, size_t figures, bool polygons) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    if (figures && (!points || !counts)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Builder bd{LogicalToDevice(*dc), {}};
    const POINT* p = points;
    for (size_t i = 0; i < figures; ++i) {
        if (counts[i] < 2) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        bd.Move(p[0].x, p[0].y);
        for (Count k = 1; k < counts[i]; ++k) bd.Line(p[k].x, p[k].y);
        if (polygons) bd.path.CloseFigure();
        p += counts[i];
    }
    return Emit(*dc, std::move(bd.path), polygons, true) ? TRUE : FALSE;
}

}  // namespace

}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" {

HPEN CreatePen(int style, int width, COLORREF color) {
    if (style < PS_SOLID || style > PS_INSIDEFRAME) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* p = new PenObject();
    p->style = static_cast<DWORD>(style);
    p->width = std::max(0, width);
    p->color = color;
    return p->Handle();
}

HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styles) {
    if (!brush || ((style & PS_STYLE_MASK) == PS_USERSTYLE && (!styles || styleCount == 0 || styleCount > 16)) ||
        ((style & PS_STYLE_MASK) != PS_USERSTYLE && styleCount != 0) || width > 0x7FFFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* p = new PenObject();
    p->style = brush->lbStyle == BS_NULL ? static_cast<DWORD>(PS_NULL) : style;
    p->width = static_cast<LONG>(width);
    p->color = brush->lbColor;
    if ((style & PS_STYLE_MASK) == PS_USERSTYLE) p->userStyle.assign(styles, styles + styleCount);
    return p->Handle();
}

HFONT CreateFontIndirectW(const LOGFONTW* font) {
    if (!font) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* f = new FontObject();
    f->logical = *font;
    f->logical.lfFaceName[LF_FACESIZE - 1] = 0;
    return f->Handle();
}

BOOL MoveToEx(HDC hdc, int x, int y, POINT* previous) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (previous) *previous = {s.current.x, s.current.y};
    s.current = {x, y};
    if (s.pathOpen) s.path.MoveTo(ToFix(LogicalToDevice(*dc), x, y));
    return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    XFORML m = LogicalToDevice(*dc);
    if (s.pathOpen) {
        s.path.LineTo(ToFix(m, x, y));
        s.current = {x, y};
        return TRUE;
    }
    Path p;
    p.MoveTo(ToFix(m, s.current.x, s.current.y));
    p.LineTo(ToFix(m, x, y));
    s.current = {x, y};
    return DrawPath(*dc, std::move(p), false, true) ? TRUE : FALSE;
}

BOOL Polyline(HDC hdc, const POINT* points, int count) { return PolyImpl(hdc, points, count, false, false, false); }
BOOL PolylineTo(HDC hdc, const POINT* points, DWORD count) {
    return PolyImpl(hdc, points, static_cast<int>(count), false, true, false);
}
BOOL Polygon(HDC hdc, const POINT* points, int count) { return PolyImpl(hdc, points, count, true, false, false); }
BOOL PolyBezier(HDC hdc, const POINT* points, DWORD count) {
    return PolyImpl(hdc, points, static_cast<int>(count), false, false, true);
}
BOOL PolyBezierTo(HDC hdc, const POINT* points, DWORD count) {
    return PolyImpl(hdc, points, static_cast<int>(count), false, true, true);
}

BOOL PolyPolygon(HDC hdc, const POINT* points, const INT* counts, int polygons) {
    if (polygons < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return PolyPolyImpl(hdc, points, counts, static_cast<size_t>(polygons), true);
}

BOOL PolyPolyline(HDC hdc, const POINT* points, const DWORD* counts, DWORD polylines) {
    return PolyPolyImpl(hdc, points, counts, polylines, false);
}

BOOL PolyDraw(HDC hdc, const POINT* points, const BYTE* kinds, int count) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    if (count < 0 || (count && (!points || !kinds))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DrawState& s = State(*dc);
    Builder bd{LogicalToDevice(*dc), {}};
    bd.Move(s.current.x, s.current.y);
    for (int i = 0; i < count; ++i) {
        BYTE k = kinds[i] & ~PT_CLOSEFIGURE;
        if (k == PT_MOVETO) {
            bd.Move(points[i].x, points[i].y);
        } else if (k == PT_LINETO) {
            bd.Line(points[i].x, points[i].y);
        } else if (k == PT_BEZIERTO && i + 2 < count) {
            bd.Curve(points[i].x, points[i].y, points[i + 1].x, points[i + 1].y, points[i + 2].x, points[i + 2].y);
            i += 2;
        } else {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (kinds[i] & PT_CLOSEFIGURE) bd.path.CloseFigure();
        s.current = {points[i].x, points[i].y};
    }
    return Emit(*dc, std::move(bd.path), false, true, true) ? TRUE : FALSE;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    XFORML m = LogicalToDevice(*dc);
    Builder fill{m, {}}, stroke{m, {}};
    fill.Move(left, top); fill.Line(right, top); fill.Line(right, bottom); fill.Line(left, bottom);
    fill.path.CloseFigure();
    if (State(*dc).pathOpen) return Emit(*dc, std::move(fill.path), true, true) ? TRUE : FALSE;
    double l, t, r, b;
    StrokeBox(m, left, top, right, bottom, l, t, r, b);
    stroke.Move(l, t); stroke.Line(r, t); stroke.Line(r, b); stroke.Line(l, b);
    stroke.path.CloseFigure();
    return DrawPath(*dc, std::move(fill.path), true, false) && DrawPath(*dc, std::move(stroke.path), false, true)
               ? TRUE : FALSE;
}

BOOL RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    XFORML m = LogicalToDevice(*dc);
    Builder fill{m, {}}, stroke{m, {}};
    AddRoundRect(fill, left, top, right, bottom, width, height);
    if (State(*dc).pathOpen) return Emit(*dc, std::move(fill.path), true, true) ? TRUE : FALSE;
    double l, t, r, b;
    StrokeBox(m, left, top, right, bottom, l, t, r, b);
    AddRoundRect(stroke, l, t, r, b, width, height);
    return DrawPath(*dc, std::move(fill.path), true, false) && DrawPath(*dc, std::move(stroke.path), false, true)
               ? TRUE : FALSE;
}

BOOL Ellipse(HDC hdc, int left, int top, int right, int bottom) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    XFORML m = LogicalToDevice(*dc);
    Builder fill{m, {}}, stroke{m, {}};
    AddEllipse(fill, left, top, right, bottom);
    if (State(*dc).pathOpen) return Emit(*dc, std::move(fill.path), true, true) ? TRUE : FALSE;
    double l, t, r, b;
    StrokeBox(m, left, top, right, bottom, l, t, r, b);
    AddEllipse(stroke, l, t, r, b);
    return DrawPath(*dc, std::move(fill.path), true, false) && DrawPath(*dc, std::move(stroke.path), false, true)
               ? TRUE : FALSE;
}

BOOL Arc(HDC hdc, int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    return DoArc(hdc, ArcKind::Arc, l, t, r, b, xs, ys, xe, ye);
}
BOOL ArcTo(HDC hdc, int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    return DoArc(hdc, ArcKind::ArcTo, l, t, r, b, xs, ys, xe, ye);
}
BOOL Chord(HDC hdc, int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    return DoArc(hdc, ArcKind::Chord, l, t, r, b, xs, ys, xe, ye);
}
BOOL Pie(HDC hdc, int l, int t, int r, int b, int xs, int ys, int xe, int ye) {
    return DoArc(hdc, ArcKind::Pie, l, t, r, b, xs, ys, xe, ye);
}

BOOL AngleArc(HDC hdc, int x, int y, DWORD radius, FLOAT start, FLOAT sweep) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    if (radius > 0x7FFFFFF || !std::isfinite(start) || !std::isfinite(sweep)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DrawState& s = State(*dc);
    Builder bd{LogicalToDevice(*dc), {}};
    bd.Move(s.current.x, s.current.y);
    double a0 = start * std::numbers::pi / 180, a1 = (start + sweep) * std::numbers::pi / 180;
    int steps = std::clamp(static_cast<int>(std::fabs(sweep) / 360 * 128), 4, 512);
    double lx = x, ly = y;
    for (int i = 0; i <= steps; ++i) {
        double a = a0 + (a1 - a0) * i / steps;
        lx = x + radius * std::cos(a);
        ly = y - radius * std::sin(a);
        bd.Line(lx, ly);
    }
    s.current = {static_cast<LONG>(std::lround(lx)), static_cast<LONG>(std::lround(ly))};
    return Emit(*dc, std::move(bd.path), false, true, true) ? TRUE : FALSE;
}

BOOL SetPixelV(HDC hdc, int x, int y, COLORREF color) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    XFORML m = LogicalToDevice(*dc);
    POINTFIX p = ToFix(m, x, y);
    LONG px = FXTOL(p.x), py = FXTOL(p.y);
    auto rec = std::make_shared<PathRecord>();
    rec->path.AddRect({LTOFX(px), LTOFX(py), LTOFX(px + 1), LTOFX(py + 1)});
    rec->clip = dc->EffectiveClip();
    LogicalBrush b;
    b.color = color;
    rec->fill = b;
    rec->mix = 0x0D0D;
    return dc->Draw(std::move(rec)) ? TRUE : FALSE;
}

BOOL BeginPath(HDC hdc) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    s.path = Path();
    s.pathOpen = true;
    s.pathDone = false;
    s.path.MoveTo(ToFix(LogicalToDevice(*dc), s.current.x, s.current.y));
    return TRUE;
}

BOOL EndPath(HDC hdc) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (!s.pathOpen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    s.pathOpen = false;
    s.pathDone = true;
    return TRUE;
}

BOOL AbortPath(HDC hdc) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    s.pathOpen = s.pathDone = false;
    s.path = Path();
    return TRUE;
}

BOOL CloseFigure(HDC hdc) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (!s.pathOpen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    s.path.CloseFigure();
    return TRUE;
}

static BOOL UsePath(HDC hdc, bool fill, bool stroke) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (!s.pathDone) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Path p = std::move(s.path);
    s.path = Path();
    s.pathDone = false;
    if (fill) {
        // Filling closes every open figure.
        Path closed;
        for (const Path::Figure& f : p.Figures()) {
            closed.MoveTo(f.start);
            for (const Path::Segment& seg : f.runs) {
                if (!seg.bezier) for (auto q : seg.points) closed.LineTo(q);
                else for (size_t i = 0; i + 2 < seg.points.size(); i += 3) closed.BezierTo(seg.points[i], seg.points[i + 1], seg.points[i + 2]);
            }
            closed.CloseFigure();
        }
        if (!DrawPath(*dc, stroke ? Path(closed) : std::move(closed), true, false)) return FALSE;
        if (stroke) return DrawPath(*dc, std::move(p), false, true) ? TRUE : FALSE;
        return TRUE;
    }
    return DrawPath(*dc, std::move(p), false, stroke) ? TRUE : FALSE;
}

BOOL StrokePath(HDC hdc) { return UsePath(hdc, false, true); }
BOOL FillPath(HDC hdc) { return UsePath(hdc, true, false); }
BOOL StrokeAndFillPath(HDC hdc) { return UsePath(hdc, true, true); }

BOOL FlattenPath(HDC hdc) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (!s.pathDone) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    s.path = s.path.Flattened();
    return TRUE;
}

BOOL WidenPath(HDC hdc) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (!s.pathDone) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto pen = PenFor(*dc);
    if (!pen) return TRUE;
    LINEATTRS la{pen->flags, pen->join, pen->cap, {}, pen->miterLimit, 0, nullptr, {}};
    if (la.fl & LA_GEOMETRIC) la.elWidth.e = pen->width;
    la.fl &= ~LA_STYLED;
    Coverage c = StrokeCoverage(s.path, dc->Bounds(), &pen->xform, la);
    Region r = c.ToRegion();
    Path wide;
    for (const RECTL& rc : r.Rects()) wide.AddRect({LTOFX(rc.left), LTOFX(rc.top), LTOFX(rc.right), LTOFX(rc.bottom)});
    s.path = std::move(wide);
    return TRUE;
}

BOOL SelectClipPath(HDC hdc, int mode) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (!s.pathDone || mode < RGN_AND || mode > RGN_COPY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Region area = FillCoverage(s.path, dc->Bounds(), s.polyFillMode == WINDING ? FP_WINDINGMODE : FP_ALTERNATEMODE)
                      .ToRegion();
    Region current = dc->EffectiveClip();
    switch (mode) {
    case RGN_AND: dc->clip = current.Intersect(area); break;
    case RGN_OR: dc->clip = current.Union(area); break;
    case RGN_XOR: dc->clip = current.Subtract(area).Union(area.Subtract(current)); break;
    case RGN_DIFF: dc->clip = current.Subtract(area); break;
    default: dc->clip = area; break;
    }
    s.path = Path();
    s.pathDone = false;
    return TRUE;
}

int SetPolyFillMode(HDC hdc, int mode) {
    auto* dc = DcOf(hdc);
    if (!dc || (mode != ALTERNATE && mode != WINDING)) return 0;
    return std::exchange(State(*dc).polyFillMode, mode);
}

int SetROP2(HDC hdc, int rop2) {
    auto* dc = DcOf(hdc);
    if (!dc || rop2 < R2_BLACK || rop2 > R2_WHITE) return 0;
    return std::exchange(State(*dc).rop2, rop2);
}

int SetArcDirection(HDC hdc, int direction) {
    auto* dc = DcOf(hdc);
    if (!dc || (direction != AD_CLOCKWISE && direction != AD_COUNTERCLOCKWISE)) return 0;
    return std::exchange(State(*dc).arcDirection, direction);
}

BOOL SetMiterLimit(HDC hdc, FLOAT limit, FLOAT* previous) {
    auto* dc = DcOf(hdc);
    if (!dc || !(limit >= 1.0f)) return FALSE;
    FLOAT old = std::exchange(State(*dc).miterLimit, limit);
    if (previous) *previous = old;
    return TRUE;
}

int SaveDC(HDC hdc) {
    auto* dc = DcOf(hdc);
    if (!dc) return 0;
    DrawState& s = State(*dc);
    SavedDc saved;
    saved.draw = s.Snapshot();
    saved.brush = dc->brush;
    saved.bkColor = dc->bkColor;
    saved.textColor = dc->textColor;
    saved.bkMode = dc->bkMode;
    saved.stretchMode = dc->stretchMode;
    saved.brushOrigin = dc->brushOrigin;
    saved.clip = dc->clip;
    if (saved.brush) ++saved.brush->selections;
    if (saved.draw.pen) ++saved.draw.pen->selections;
    if (saved.draw.font) ++saved.draw.font->selections;
    s.saved.push_back(std::move(saved));
    return static_cast<int>(s.saved.size());
}

BOOL RestoreDC(HDC hdc, int which) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    int depth = static_cast<int>(s.saved.size());
    int target = which < 0 ? depth + which + 1 : which;
    if (target < 1 || target > depth) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SavedDc saved = std::move(s.saved[target - 1]);
    // Drop the states above the one restored, releasing their objects.
    for (int i = depth - 1; i >= target - 1; --i) {
        if (i != target - 1) {
            if (s.saved[i].brush) --s.saved[i].brush->selections;
            if (s.saved[i].draw.pen) --s.saved[i].draw.pen->selections;
            if (s.saved[i].draw.font) --s.saved[i].draw.font->selections;
        }
    }
    s.saved.resize(target - 1);
    if (saved.brush) {
        saved.brush->SelectInto(*dc);
        --saved.brush->selections;
    }
    if (s.pen) --s.pen->selections;
    if (s.font) --s.font->selections;
    auto keepSaved = std::move(s.saved);
    s.Restore(saved.draw);  // takes over the selection counts taken at SaveDC
    s.saved = std::move(keepSaved);
    dc->bkColor = saved.bkColor;
    dc->textColor = saved.textColor;
    dc->bkMode = saved.bkMode;
    dc->stretchMode = saved.stretchMode;
    dc->brushOrigin = saved.brushOrigin;
    dc->clip = saved.clip;
    return TRUE;
}

int SetMapMode(HDC hdc, int mode) {
    auto* dc = DcOf(hdc);
    if (!dc || mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
    DrawState& s = State(*dc);
    int old = std::exchange(s.mapMode, mode);
    if (mode == MM_TEXT) s.windowExt = s.viewportExt = {1, 1};
    else ApplyMapMode(*dc);
    s.realised.reset();
    return old;
}

int GetMapMode(HDC hdc) {
    auto* dc = DcOf(hdc);
    return dc ? State(*dc).mapMode : 0;
}

BOOL SetWindowOrgEx(HDC hdc, int x, int y, POINT* previous) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (previous) *previous = {s.windowOrg.x, s.windowOrg.y};
    s.windowOrg = {x, y};
    return TRUE;
}

BOOL SetViewportOrgEx(HDC hdc, int x, int y, POINT* previous) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (previous) *previous = {s.viewportOrg.x, s.viewportOrg.y};
    s.viewportOrg = {x, y};
    return TRUE;
}

static BOOL SetExt(HDC hdc, int x, int y, SIZE* previous, bool window) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    SIZEL& ext = window ? s.windowExt : s.viewportExt;
    if (previous) *previous = ext;
    // Only the scalable modes take extents; a zero extent is refused.
    if (s.mapMode != MM_ISOTROPIC && s.mapMode != MM_ANISOTROPIC) return TRUE;
    if (x == 0 || y == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ext = {x, y};
    FixIsotropic(s);
    s.realised.reset();
    return TRUE;
}

BOOL SetWindowExtEx(HDC hdc, int x, int y, SIZE* previous) { return SetExt(hdc, x, y, previous, true); }
BOOL SetViewportExtEx(HDC hdc, int x, int y, SIZE* previous) { return SetExt(hdc, x, y, previous, false); }

static BOOL ScaleExt(HDC hdc, int xn, int xd, int yn, int yd, SIZE* previous, bool window) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    if (xd == 0 || yd == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DrawState& s = State(*dc);
    SIZEL e = window ? s.windowExt : s.viewportExt;
    return SetExt(hdc, static_cast<int>(int64_t{e.cx} * xn / xd), static_cast<int>(int64_t{e.cy} * yn / yd), previous,
                  window);
}

BOOL ScaleViewportExtEx(HDC hdc, int xn, int xd, int yn, int yd, SIZE* previous) {
    return ScaleExt(hdc, xn, xd, yn, yd, previous, false);
}
BOOL ScaleWindowExtEx(HDC hdc, int xn, int xd, int yn, int yd, SIZE* previous) {
    return ScaleExt(hdc, xn, xd, yn, yd, previous, true);
}

int SetGraphicsMode(HDC hdc, int mode) {
    auto* dc = DcOf(hdc);
    if (!dc || (mode != GM_COMPATIBLE && mode != GM_ADVANCED)) return 0;
    DrawState& s = State(*dc);
    s.realised.reset();
    return std::exchange(s.graphicsMode, mode);
}

static bool FiniteXform(const XFORM* x) {
    return x && std::isfinite(x->eM11) && std::isfinite(x->eM12) && std::isfinite(x->eM21) &&
           std::isfinite(x->eM22) && std::isfinite(x->eDx) && std::isfinite(x->eDy) &&
           (double{x->eM11} * x->eM22 - double{x->eM12} * x->eM21) != 0;
}

BOOL SetWorldTransform(HDC hdc, const XFORM* xform) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (s.graphicsMode != GM_ADVANCED || !FiniteXform(xform)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    s.world = {xform->eM11, xform->eM12, xform->eM21, xform->eM22, xform->eDx, xform->eDy};
    s.realised.reset();
    return TRUE;
}

BOOL ModifyWorldTransform(HDC hdc, const XFORM* xform, DWORD mode) {
    auto* dc = DcOf(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    if (s.graphicsMode != GM_ADVANCED) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mode == MWT_IDENTITY) {
        s.world = {1, 0, 0, 1, 0, 0};
    } else {
        if (!FiniteXform(xform)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        XFORML x{xform->eM11, xform->eM12, xform->eM21, xform->eM22, xform->eDx, xform->eDy};
        if (mode == MWT_LEFTMULTIPLY) s.world = Multiply(x, s.world);
        else if (mode == MWT_RIGHTMULTIPLY) s.world = Multiply(s.world, x);
        else if (mode == MWT_SET) s.world = x;
        else {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    s.realised.reset();
    return TRUE;
}

BOOL GetWorldTransform(HDC hdc, XFORM* xform) {
    auto* dc = DcOf(hdc);
    if (!dc || !xform) return FALSE;
    const XFORML& w = State(*dc).world;
    *xform = {w.eM11, w.eM12, w.eM21, w.eM22, w.eDx, w.eDy};
    return TRUE;
}

static BOOL MapPoints(HDC hdc, POINT* points, int count, bool inverse) {
    auto* dc = DcOf(hdc);
    if (!dc || count < 0 || (count && !points)) return FALSE;
    Xform xo(LogicalToDevice(*dc));
    for (int i = 0; i < count; ++i) {
        POINTL in{points[i].x, points[i].y}, out;
        if (!XFORMOBJ_bApplyXform(&xo, inverse ? XF_INV_LTOL : XF_LTOL, 1, &in, &out)) return FALSE;
        points[i] = {out.x, out.y};
    }
    return TRUE;
}

BOOL DPtoLP(HDC hdc, POINT* points, int count) { return MapPoints(hdc, points, count, true); }
BOOL LPtoDP(HDC hdc, POINT* points, int count) { return MapPoints(hdc, points, count, false); }

}  // extern "C"
