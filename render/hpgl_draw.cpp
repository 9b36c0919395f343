// The HP-GL/2 path bodies: the engine's path becomes one polygon, edged and
// filled per clip rectangle with the pen and fill of the brush, the logical
// operation of the mix and the stroke's line attributes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/error.h"
#include "render/brush.h"
#include "render/driver.h"
#include "render/halftone.h"
#include "render/hpgl_colour.h"
#include "render/hpgl_mode.h"
#include "render/hpgl_path.h"
#include "render/xl_fill.h"

namespace pclrend {

namespace {

constexpr ULONG kClipBatch = 50;  // rectangles per enumeration

struct ClipBatch {
    ULONG c;
    RECTL arcl[kClipBatch];
};

}  // namespace

void Gl2ForEachClipRectangle(CLIPOBJ* pco, const std::function<void(const RECTL&)>& fn) {
    CLIPOBJ_cEnumStart(pco, FALSE, CT_RECTANGLES, CD_ANY, 0);
    ClipBatch batch;
    BOOL more;
    do {
        batch.c = 0;
        more = CLIPOBJ_bEnum(pco, sizeof batch, reinterpret_cast<ULONG*>(&batch));
        for (ULONG i = 0; i < std::min(batch.c, kClipBatch); ++i) fn(batch.arcl[i]);
    } while (more);
}

// A solid colour of the engine as a brush record of its colour and grey; a
// pattern or hatch as the engine realised it; nothing for no brush or one
// the engine would not realise.
const RealizedBrush* Gl2ResolveBrush(DeviceRecord& r, BRUSHOBJ* pbo, RealizedBrush& solid) {
    if (!pbo) return nullptr;
    if (pbo->pvRbrush) return static_cast<const RealizedBrush*>(pbo->pvRbrush);
    if (pbo->iSolidColor == BR_NOT_SOLID) return static_cast<const RealizedBrush*>(BRUSHOBJ_pvGetRbrush(pbo));
    const uint32_t rgb = pbo->iSolidColor & 0xFFFFFF;
    solid = RealizedBrush{};
    solid.colour[0] = static_cast<uint8_t>(rgb);
    solid.colour[1] = static_cast<uint8_t>(rgb >> 8);
    solid.colour[2] = static_cast<uint8_t>(rgb >> 16);
    solid.brushKey = GreyOf(rgb);
    if (!ColourAsked(r) && solid.brushKey != 0 && solid.brushKey != 255) {
        Pattern p;
        DitherColour(r, rgb, p);
        std::memcpy(solid.pattern, p.data(), p.size());
    }
    return &solid;
}

namespace {

uint32_t SelectFill(DeviceRecord& r, BRUSHOBJ* pbo, GlRole role, MIX mix) {
    RealizedBrush solid;
    const RealizedBrush* brush = Gl2ResolveBrush(r, pbo, solid);
    return ColourAsked(r) ? SelectColourFill(r, brush, role, mix) : SelectMonoFill(r, brush, role);
}

// The path as the polygon in the printer's buffer; `drew` is cleared when
// it held no point (the buffer then still holds an older polygon, which
// must not be painted again).
bool EmitEnginePath(DeviceRecord& r, PATHOBJ* ppo, bool& drew) {
    PATHOBJ_vEnumStart(ppo);
    PATHDATA pd{};
    return Gl2EmitPath(r, [&](PathPiece& piece) {
        const BOOL more = PATHOBJ_bEnum(ppo, &pd);
        piece.flags = pd.flags;
        piece.points = pd.pptfx;
        piece.count = pd.count;
        return more != FALSE;
    }, &drew);
}

void LineAttributes(DeviceRecord& r, XFORMOBJ* pxo, LINEATTRS* la) {
    if (!la) {
        LINEATTRS cosmetic{};
        cosmetic.elWidth.l = 1;
        return Gl2SetLineAttributes(r, cosmetic, 0.0f, 1.0f);
    }
    XFORML m{1, 0, 0, 1, 0, 0};
    if (pxo) XFORMOBJ_iGetXform(pxo, &m);
    Gl2SetLineAttributes(r, *la, m.eM21, m.eM22, std::sqrt(std::fabs(double{m.eM11} * m.eM22 - double{m.eM12} * m.eM21)));
}

bool DrawPolygon(DeviceRecord& r, CLIPOBJ* pco, bool winding, bool edge, bool fill) {
    const BYTE complexity = pco ? pco->iDComplexity : DC_TRIVIAL;
    if (complexity == DC_TRIVIAL) {
        Gl2DrawPolygonIn(r, nullptr, winding, edge, fill);
        return true;
    }
    if (complexity == DC_RECT) {
        Gl2DrawPolygonIn(r, &pco->rclBounds, winding, edge, fill);
        return true;
    }
    // Each clip rectangle as much as the polygon can reach: the ones it
    // misses are not sent, and one below another of the same columns joins
    // it (a clip of many thin bands, an ellipse, becomes a few windows
    // around a small polygon).
    const RECTL reach = Gl2PolygonReach(r, edge);
    RECTL pending{};
    auto flush = [&] {
        if (pending.left < pending.right && pending.top < pending.bottom) Gl2DrawPolygonIn(r, &pending, winding, edge, fill);
        pending = {};
    };
    Gl2ForEachClipRectangle(pco, [&](const RECTL& c) {
        const RECTL w{std::max(c.left, reach.left), std::max(c.top, reach.top), std::min(c.right, reach.right),
                      std::min(c.bottom, reach.bottom)};
        if (w.left >= w.right || w.top >= w.bottom) return;
        if (w.left == pending.left && w.right == pending.right && w.top == pending.bottom) {
            pending.bottom = w.bottom;
            return;
        }
        flush();
        pending = w;
    });
    flush();
    return true;
}

BOOL Failed() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

bool NeedsSource(uint8_t rop3) { return ((rop3 >> 2) ^ rop3) & 0x33; }
bool NeedsPattern(uint8_t rop3) { return ((rop3 >> 4) ^ rop3) & 0x0F; }

}  // namespace

bool Gl2DrawsBlt(SURFOBJ* psoMask, ROP4 rop4) {
    const uint8_t rop3 = static_cast<uint8_t>(rop4);
    return !psoMask && ((rop4 >> 8) & 0xFF) == rop3 && !NeedsSource(rop3);
}

BOOL Gl2FillBlt(DeviceRecord& r, CLIPOBJ* pco, const RECTL& target, BRUSHOBJ* pbo, ROP4 rop4) {
    const uint8_t rop3 = static_cast<uint8_t>(rop4);
    SetGlMode(r, true);
    SetRop(r, true, rop3);
    const bool pattern = NeedsPattern(rop3);
    // Without a pattern the operation alone decides (black, white,
    // inverted); the fill type in force serves.
    const uint32_t key = pattern ? SelectFill(r, pbo, GlRole::Area, rop4) : 0;
    if (pattern && key == kNoBrush) return TRUE;
    const BYTE complexity = pco ? pco->iDComplexity : DC_TRIVIAL;
    if (complexity != DC_COMPLEX) {
        if (complexity == DC_RECT) {
            const RECTL& b = pco->rclBounds;
            const int32_t window[4] = {b.left, b.top, b.right, b.bottom};
            SetInputWindow(r, window);
        } else {
            SetInputWindow(r, nullptr);
        }
        if (target.left < target.right && target.top < target.bottom) Gl2FillRectangle(r, target);
        return TRUE;
    }
    SetInputWindow(r, nullptr);
    Gl2ForEachClipRectangle(pco, [&](const RECTL& c) {
        const RECTL part{std::max(c.left, target.left), std::max(c.top, target.top), std::min(c.right, target.right),
                         std::min(c.bottom, target.bottom)};
        if (part.left < part.right && part.top < part.bottom) Gl2FillRectangle(r, part);
    });
    return TRUE;
}

BOOL Gl2StrokePath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, LINEATTRS* la, MIX mix) {
    SetGlMode(r, true);
    SetRop(r, false, mix & 0xFF);
    const uint32_t key = SelectFill(r, pbo, GlRole::Line, mix);
    LineAttributes(r, pxo, la);
    bool drew = false;
    if (!EmitEnginePath(r, ppo, drew)) return Failed();
    if (key == kNoBrush || !drew) return TRUE;
    return DrawPolygon(r, pco, false, true, false) ? TRUE : Failed();
}

BOOL Gl2FillPath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, MIX mix, FLONG options) {
    SetGlMode(r, true);
    SetRop(r, false, mix & 0xFF);
    const uint32_t key = SelectFill(r, pbo, GlRole::Area, mix);
    bool drew = false;
    if (!EmitEnginePath(r, ppo, drew)) return Failed();
    if (key == kNoBrush || !drew) return TRUE;
    return DrawPolygon(r, pco, options & FP_WINDINGMODE, false, true) ? TRUE : Failed();
}

BOOL Gl2StrokeAndFillPath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pboStroke,
                          LINEATTRS* la, BRUSHOBJ* pboFill, MIX mixFill, FLONG options) {
    SetGlMode(r, true);
    SetRop(r, false, mixFill & 0xFF);
    const uint32_t fillKey = SelectFill(r, pboFill, GlRole::Area, mixFill);
    bool drew = false;
    if (!EmitEnginePath(r, ppo, drew)) return Failed();
    if (!drew) return TRUE;
    if (fillKey != kNoBrush && !DrawPolygon(r, pco, options & FP_WINDINGMODE, false, true)) return Failed();
    // The same polygon is edged: sent once, used by both.
    const uint32_t penKey = SelectFill(r, pboStroke, GlRole::Line, 0xCCCC);
    LineAttributes(r, pxo, la);
    if (penKey == kNoBrush) return TRUE;
    return DrawPolygon(r, pco, false, true, false) ? TRUE : Failed();
}


namespace {

constexpr size_t kPointsPerPolygon = 2000;  // keeps the printer's polygon buffer small

// A cubic curve from `from` as the lines of `n` equal steps of its
// parameter, `n` enough to keep every line close to the
// curve (an eighth of a pixel: a step h strays at most |B''| h^2 / 8, and |B''| is at most 6
// times the larger second difference of the control points); the points
// after `from` are appended, in the engine's 1/16 pixel.
// Appends `p` unless it lies in the same whole pixel as the point before
// (the path goes out in whole pixels: a repeat would be a line of nothing).
void AddPixelPoint(std::vector<POINTFIX>& out, POINTFIX p) {
    if (!out.empty() && NearestPixel(out.back().x) == NearestPixel(p.x) && NearestPixel(out.back().y) == NearestPixel(p.y)) return;
    out.push_back(p);
}

void TraceCurve(POINTFIX from, POINTFIX c1, POINTFIX c2, POINTFIX to, std::vector<POINTFIX>& out) {
    auto second = [](FIX a, FIX b, FIX c) { return std::abs(static_cast<double>(a) - 2.0 * b + c); };
    const double spread = std::max({second(from.x, c1.x, c2.x), second(from.y, c1.y, c2.y), second(c1.x, c2.x, to.x),
                                    second(c1.y, c2.y, to.y)}) / 16.0;  // pixels
    constexpr double kTolerance = 0.125;
    const int n = std::clamp(static_cast<int>(std::ceil(std::sqrt(0.75 * spread / kTolerance))), 1, 64);
    for (int k = 1; k < n; ++k) {
        const double t = static_cast<double>(k) / n, u = 1 - t;
        const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
        AddPixelPoint(out, {static_cast<FIX>(std::lround(a * from.x + b * c1.x + c * c2.x + d * to.x)),
                            static_cast<FIX>(std::lround(a * from.y + b * c1.y + c * c2.y + d * to.y))});
    }
    AddPixelPoint(out, to);
}

// Glyph shapes gathered for one polygon: closed subpaths in the engine's
// 1/16 pixel on the page, all filled under the non-zero rule (the rule the
// glyphs are made for; touching glyphs join, never cancel).
class GlyphPolygon {
public:
    // The outline of a glyph at its position; false when the font gives none.
    bool AddOutline(FONTOBJ* pfo, const GLYPHPOS& pos) {
        PATHOBJ* ppo = GlyphPath(pfo, pos.hg);
        if (!ppo) return false;
        // Whole pixels of the printer are taken by rounding: the position
        // and half a pixel go into the points.
        const FIX dx = LTOFX(pos.ptl.x) + 8, dy = LTOFX(pos.ptl.y) + 8;
        POINTFIX current{};
        ForEachPathRecord(ppo, [&](const PATHDATA& pd) {
            // Curves go as the lines that trace them: PE's short relative
            // numbers take a glyph in far fewer bytes than BZ's absolute ones.
            Record rec{pd.flags & ~static_cast<FLONG>(PD_BEZIERS), {}};
            rec.points.reserve(pd.count);
            ULONG i = 0;
            if (pd.flags & PD_BEGINSUBPATH) {
                current = {pd.pptfx[0].x + dx, pd.pptfx[0].y + dy};
                rec.points.push_back(current);
                i = 1;
            }
            if (pd.flags & PD_BEZIERS) {
                for (; i + 3 <= pd.count; i += 3) {
                    const POINTFIX c1{pd.pptfx[i].x + dx, pd.pptfx[i].y + dy}, c2{pd.pptfx[i + 1].x + dx, pd.pptfx[i + 1].y + dy},
                        end{pd.pptfx[i + 2].x + dx, pd.pptfx[i + 2].y + dy};
                    TraceCurve(current, c1, c2, end, rec.points);
                    current = end;
                }
            }
            for (; i < pd.count; ++i) {
                current = {pd.pptfx[i].x + dx, pd.pptfx[i].y + dy};
                AddPixelPoint(rec.points, current);
            }
            if (rec.points.empty()) return;
            points_ += rec.points.size();
            records_.push_back(std::move(rec));
        });
        if (!records_.empty()) records_.back().flags |= PD_ENDSUBPATH | PD_CLOSEFIGURE;
        return true;
    }
    // A glyph without an outline (a bitmap font): its ink as rectangles.
    void AddBits(const GLYPHPOS& pos) {
        ForEachGlyphInkRectangle(pos, [&](const RECTL& q) {
            records_.push_back({PD_BEGINSUBPATH | PD_ENDSUBPATH | PD_CLOSEFIGURE,
                                {{q.left * 16, q.top * 16}, {q.right * 16, q.top * 16}, {q.right * 16, q.bottom * 16},
                                 {q.left * 16, q.bottom * 16}}});
            points_ += 4;
        });
    }
    bool Full() const { return points_ >= kPointsPerPolygon; }
    // Sends the polygon and fills it in every clip rectangle.
    void Fill(DeviceRecord& r, CLIPOBJ* pco) {
        if (records_.empty()) return;
        size_t at = 0;
        bool drew = false;
        Gl2EmitPath(r, [&](PathPiece& piece) {
            const Record& rec = records_[at++];
            piece.flags = rec.flags;
            piece.points = rec.points.data();
            piece.count = static_cast<ULONG>(rec.points.size());
            return at < records_.size();
        }, &drew);
        if (drew) DrawPolygon(r, pco, true, false, true);
        records_.clear();
        points_ = 0;
    }

private:
    struct Record {
        FLONG flags;
        std::vector<POINTFIX> points;
    };
    std::vector<Record> records_;
    size_t points_ = 0;
};

}  // namespace

BOOL Gl2TextOut(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
                BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, MIX mix) {
    auto ordered = [](const RECTL& q) {
        return RECTL{std::min(q.left, q.right), std::min(q.top, q.bottom), std::max(q.left, q.right), std::max(q.top, q.bottom)};
    };
    if (prclOpaque && pboOpaque) Gl2FillBlt(r, pco, ordered(*prclOpaque), pboOpaque, 0xF0F0);
    constexpr MIX kNop = 11;
    if ((mix & 0xFF) != kNop) {
        SetGlMode(r, true);
        SetRop(r, false, mix & 0xFF);
        if (SelectFill(r, pboFore, GlRole::Area, mix) != kNoBrush) {
            // Each glyph's outline, as the engine shapes it at this size,
            // filled by the printer: sharp at its resolution and a fraction
            // of the glyph's pixels in bytes.
            GlyphPolygon polygon;
            STROBJ_vEnumStart(pstro);
            ULONG count = 0;
            GLYPHPOS* pos = nullptr;
            BOOL more;
            do {
                more = STROBJ_bEnum(pstro, &count, &pos);
                for (ULONG i = 0; i < count && pos; ++i) {
                    if (!polygon.AddOutline(pfo, pos[i])) polygon.AddBits(pos[i]);
                    if (polygon.Full()) polygon.Fill(r, pco);
                }
            } while (more);
            polygon.Fill(r, pco);
        }
    }
    if (prclExtra && pboFore) {
        for (RECTL* e = prclExtra; e->left || e->top || e->right || e->bottom; ++e)
            Gl2FillBlt(r, pco, ordered(*e), pboFore, 0xF0F0);
    }
    return r.jobState >= kJobOpen;
}

}  // namespace pclrend
