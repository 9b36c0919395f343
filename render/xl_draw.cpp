// The PCL XL drawing bodies: paths (fill and stroke with their line
// attributes), the clip, rectangles, images and text, each bringing the
// printer's state up to date through the caches before it draws.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "base/error.h"
#include "render/brush.h"
#include "render/driver.h"
#include "render/glyph_ink.h"
#include "render/halftone.h"
#include "render/output.h"
#include "render/pclxl.h"
#include "render/raster.h"
#include "render/rounding.h"
#include "render/xl_fill.h"

namespace pclrend {

using namespace xl;

namespace {

constexpr uint8_t kRop2Nop = 11;
constexpr size_t kMaxPoints = 65535;           // a point count is 16 bits wide
constexpr int32_t kSafe = 32767;                // sint16 coordinates
constexpr size_t kMaxDashes = 20;               // entries a LineDashStyle may hold
constexpr uint32_t kImageBlock = 30000;         // bytes of one ReadImage block
constexpr DWORD kCompressedSource = 2000;       // the last error of a compressed source bitmap

// Binary raster operations 1-16 as ROP3 of pattern and destination; any
// other value copies the pattern.
uint8_t Rop3Of(uint32_t rop2) { return static_cast<uint8_t>(rop2 >= 1 && rop2 <= 16 ? Rop3FromRop2(rop2) : 0xF0); }

int16_t Clamp(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -kSafe, kSafe)); }

// A 28.4 fixed-point coordinate as the nearest whole pixel, cut to the
// sint16 range.
int16_t Pixel(FIX v) {
    const int32_t whole = (v >> 4) + ((v >> 3) & 1);  // halves up, never overflowing
    return static_cast<int16_t>(std::clamp<int32_t>(whole, -kSafe, kSafe));
}

// A solid colour of the engine as a brush of its grey; a pattern or hatch
// as the engine realised it; nothing when there is no brush.
const RealizedBrush* ResolveBrush(BRUSHOBJ* pbo, RealizedBrush& solid) {
    if (!pbo) return nullptr;
    if (pbo->iSolidColor != BR_NOT_SOLID) {
        // Its colour too: a colour page fills with it (without it every
        // solid colour, white included, filled black).
        const uint32_t rgb = pbo->iSolidColor & 0xFFFFFF;
        solid = RealizedBrush{};
        solid.colour[0] = static_cast<uint8_t>(rgb);
        solid.colour[1] = static_cast<uint8_t>(rgb >> 8);
        solid.colour[2] = static_cast<uint8_t>(rgb >> 16);
        solid.brushKey = GreyOf(rgb);
        return &solid;
    }
    return static_cast<const RealizedBrush*>(BRUSHOBJ_pvGetRbrush(pbo));
}

void SetPaintTx(DeviceRecord& r, TxMode mode) {
    if (r.xl.paintTxMode == static_cast<uint8_t>(mode)) return;
    XlAttrEnum(r, Attr::TxMode, mode);
    XlOperator(r, Op::SetPaintTxMode);
    r.xl.paintTxMode = static_cast<uint8_t>(mode);
}

void SetSourceTx(DeviceRecord& r, TxMode mode) {
    if (r.xl.sourceTxMode == static_cast<uint8_t>(mode)) return;
    XlAttrEnum(r, Attr::TxMode, mode);
    XlOperator(r, Op::SetSourceTxMode);
    r.xl.sourceTxMode = static_cast<uint8_t>(mode);
}

}  // namespace

static_assert(sizeof(POINTFIX) == 2 * sizeof(FIX) && offsetof(POINTFIX, y) == sizeof(FIX));

namespace {

// The coordinates of `m` points as whole pixels, x and y side by side; on
// x86 with GCC a wide-vector copy is chosen where the processor has one.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void PixelsOf(const POINTFIX* p, size_t m, int16_t* out) {
    for (size_t i = 0; i < m; ++i) {
        out[2 * i] = Pixel(p[i].x);
        out[2 * i + 1] = Pixel(p[i].y);
    }
}

}  // namespace

void XlPointRecords(DeviceRecord& r, bool bezier, const POINTFIX* p, size_t count) {
    const Op op = bezier ? Op::BezierPath : Op::LinePath;
    const size_t step = bezier ? kMaxPoints / 3 * 3 : kMaxPoints;
    for (size_t at = 0; at < count; at += step) {
        const size_t n = std::min(step, count - at);
        XlAttrUInt16(r, Attr::NumberOfPoints, static_cast<uint16_t>(n));
        XlAttrEnum(r, Attr::PointType, PointType::SInt16);
        XlOperator(r, op);
        XlDataLength(r, static_cast<uint32_t>(4 * n));
        // The points as x, y pairs of little-endian sint16, a batch at a time.
        int16_t batch[2048];
        for (size_t done = 0; done < n;) {
            const size_t m = std::min(n - done, std::size(batch) / 2);
            PixelsOf(p + at + done, m, batch);
            if constexpr (std::endian::native == std::endian::big)
                for (size_t i = 0; i < 2 * m; ++i) {
                    const auto u = static_cast<uint16_t>(batch[i]);
                    batch[i] = static_cast<int16_t>(static_cast<uint16_t>(u >> 8 | u << 8));
                }
            SpoolWrite(r, batch, static_cast<int32_t>(4 * m));
            done += m;
        }
    }
}

namespace {

// The engine's path as a PCL XL path; true when it held a point.
bool EmitPath(DeviceRecord& r, PATHOBJ* ppo) {
    XlOperator(r, Op::NewPath);
    bool any = false;
    ForEachPathRecord(ppo, [&](const PATHDATA& pd) {
        const POINTFIX* p = pd.pptfx;
        size_t n = pd.count;
        if (pd.flags & PD_BEGINSUBPATH) {
            XlAttrSInt16XY(r, Attr::Point, Pixel(p->x), Pixel(p->y));
            XlOperator(r, Op::SetCursor);
            ++p;
            --n;
            any = true;
        }
        if (n) XlPointRecords(r, (pd.flags & PD_BEZIERS) != 0, p, n);
        if ((pd.flags & PD_ENDSUBPATH) && (pd.flags & PD_CLOSEFIGURE)) XlOperator(r, Op::CloseSubPath);
    });
    return any;
}

// The subpaths of `ppo` as whole-pixel rectangles when every one is a
// closed rectangle with sides along the axes; false otherwise.
bool RectanglesOf(PATHOBJ* ppo, std::vector<RECTL>& out) {
    std::vector<POINTL> corners;
    PATHOBJ_vEnumStart(ppo);
    PATHDATA pd{};
    BOOL more;
    do {
        more = PATHOBJ_bEnum(ppo, &pd);
        if (pd.flags & PD_BEZIERS) return false;
        if (pd.flags & PD_BEGINSUBPATH) corners.clear();
        for (ULONG i = 0; i < pd.count && pd.pptfx; ++i) corners.push_back({Pixel(pd.pptfx[i].x), Pixel(pd.pptfx[i].y)});
        if (!(pd.flags & PD_ENDSUBPATH)) continue;
        if (!(pd.flags & PD_CLOSEFIGURE)) return false;
        if (corners.size() == 5 && corners[4].x == corners[0].x && corners[4].y == corners[0].y) corners.pop_back();
        if (corners.size() != 4) return false;
        // Sides along the axes, alternating: across then down, or down then across.
        const bool acrossFirst = corners[0].y == corners[1].y;
        for (size_t k = 0; k < 4; ++k) {
            const POINTL &a = corners[k], &b = corners[(k + 1) % 4];
            if ((k % 2 == 0) == acrossFirst ? a.y != b.y : a.x != b.x) return false;
        }
        const auto [x0, x1] = std::minmax({corners[0].x, corners[1].x, corners[2].x});
        const auto [y0, y1] = std::minmax({corners[0].y, corners[1].y, corners[2].y});
        out.push_back({x0, y0, x1, y1});
        corners.clear();
    } while (more);
    return corners.empty();
}

// The clip of a drawing: none, a rectangle (sent again only when it
// changes) or the engine's clip path (sent on every call when the engine
// gives it no identity).
void XlClip(DeviceRecord& r, CLIPOBJ* pco) {
    XlClipCache& c = r.xl.clip;
    if (!pco || pco->iDComplexity == DC_TRIVIAL) {
        if (c.set) XlOperator(r, Op::SetClipToPage);
        c = {};
        return;
    }
    if (pco->iDComplexity == DC_RECT) {
        const RECTL& b = pco->rclBounds;
        const uint32_t id = 0x80000000u ^ (static_cast<uint32_t>(b.left) * 73856093u) ^ (static_cast<uint32_t>(b.top) * 19349663u) ^
                            (static_cast<uint32_t>(b.right) * 83492791u) ^ static_cast<uint32_t>(b.bottom);
        if (c.set && c.id == id && c.rect[0] == b.left && c.rect[1] == b.top && c.rect[2] == b.right && c.rect[3] == b.bottom)
            return;
        XlOperator(r, Op::NewPath);
        XlAttrSInt16Box(r, Attr::BoundingBox, Clamp(b.left), Clamp(b.top), Clamp(b.right), Clamp(b.bottom));
        XlOperator(r, Op::RectanglePath);
        XlAttrEnum(r, Attr::ClipRegion, ClipRegion::Interior);
        XlOperator(r, Op::SetClipReplace);
        c.set = true;
        c.id = id;
        c.rect = {b.left, b.top, b.right, b.bottom};
        return;
    }
    if (c.set && pco->iUniq != 0 && c.id == pco->iUniq && c.rect[0] == INT32_MIN) return;
    PATHOBJ* path = CLIPOBJ_ppoGetPath(pco);
    if (!path) return;
    // Region outlines of the engine never cross; even-odd keeps holes holes.
    if (c.mode != static_cast<uint8_t>(FillMode::EvenOdd)) {
        XlAttrEnum(r, Attr::ClipMode, FillMode::EvenOdd);
        XlOperator(r, Op::SetClipMode);
        c.mode = static_cast<uint8_t>(FillMode::EvenOdd);
    }
    // A region's path of rectangles goes as their outline, far shorter
    // than the rectangles one by one.
    if (std::vector<RECTL> rects; RectanglesOf(path, rects)) {
        XlOperator(r, Op::NewPath);
        XlRectanglesPath(r, rects);
    } else {
        EmitPath(r, path);
    }
    EngDeletePath(path);
    XlAttrEnum(r, Attr::ClipRegion, ClipRegion::Interior);
    XlOperator(r, Op::SetClipReplace);
    c.set = true;
    c.id = pco->iUniq;
    c.rect = {INT32_MIN, 0, 0, 0};
}

void SetFillMode(DeviceRecord& r, FLONG options) {
    const uint8_t wanted = (options & FP_WINDINGMODE) ? 0 : 1;
    if (r.xl.fillMode == wanted) return;
    XlAttrUByte(r, Attr::FillMode, wanted);
    XlOperator(r, Op::SetFillMode);
    r.xl.fillMode = wanted;
}

// How much the world transform of a geometric pen stretches it: along a
// path that runs straight across or down the page (its dashes) and across
// it (its width); elsewhere both by the square root of the determinant's
// size. 1 without a transform.
struct PenStretch {
    double along = 1.0, across = 1.0;
};

PenStretch PenScale(XFORMOBJ* pxo, PATHOBJ* ppo) {
    XFORML m{};
    if (!pxo || XFORMOBJ_iGetXform(pxo, &m) == 0) return {};
    const double det = double{m.eM11} * m.eM22 - double{m.eM12} * m.eM21;
    if (!std::isfinite(det) || det == 0) return {};
    const double mean = std::sqrt(std::fabs(det));
    RECTFX b{};
    if (ppo) PATHOBJ_vGetBounds(ppo, &b);
    const bool across = b.yTop == b.yBottom && b.xLeft != b.xRight, down = b.xLeft == b.xRight && b.yTop != b.yBottom;
    if (!ppo || (!across && !down)) return {mean, mean};
    // The world direction drawn as the device direction v is v times the
    // inverse transform; the pen stretches by the inverse of its length.
    const double vx = across ? 1 : 0, vy = across ? 0 : 1;
    const double wx = (vx * m.eM22 - vy * m.eM21) / det, wy = (vy * m.eM11 - vx * m.eM12) / det;
    const double along = 1 / std::hypot(wx, wy);
    if (!std::isfinite(along) || along <= 0) return {mean, mean};
    return {along, std::fabs(det) / along};
}

// The line attributes of a stroke: a geometric pen's width and dashes are
// in world units (stretched by `scale`), a cosmetic pen's dashes in device
// pixels; the alternate cosmetic line is a dash of 1/50 inch.
bool LineAttributes(DeviceRecord& r, const LINEATTRS* la, PenStretch scale) {
    XlLineCache& l = r.xl.line;
    const bool geometric = la && (la->fl & LA_GEOMETRIC);
    const double w = geometric && std::isfinite(la->elWidth.e) ? la->elWidth.e * scale.across : 1.0;
    const int32_t width = static_cast<int32_t>(std::clamp(std::lround(w), 1L, 65535L));
    if (l.penWidth != width) {
        XlAttrUInt16(r, Attr::PenWidth, static_cast<uint16_t>(std::min(width, 0xFFFF)));
        XlOperator(r, Op::SetPenWidth);
        l.penWidth = width;
    }
    // A cosmetic line has butt ends and mitred corners, whatever a wide
    // pen before it left in force.
    const ULONG capStyle = geometric ? la->iEndCap : ENDCAP_BUTT, joinStyle = geometric ? la->iJoin : JOIN_MITER;
    if (l.cap != capStyle) {
        const LineCap cap = capStyle == ENDCAP_ROUND ? LineCap::Round : capStyle == ENDCAP_SQUARE ? LineCap::Square : LineCap::Butt;
        XlAttrEnum(r, Attr::LineCapStyle, cap);
        XlOperator(r, Op::SetLineCap);
        l.cap = capStyle;
    }
    if (l.join != joinStyle) {
        const LineJoin join = joinStyle == JOIN_ROUND ? LineJoin::Round : joinStyle == JOIN_BEVEL ? LineJoin::Bevel : LineJoin::Miter;
        XlAttrEnum(r, Attr::LineJoinStyle, join);
        XlOperator(r, Op::SetLineJoin);
        l.join = joinStyle;
    }
    std::vector<uint32_t> dash;
    if (la && (la->fl & LA_ALTERNATE) && !geometric) {
        const uint32_t d = std::max<uint32_t>(1, r.resolution / 50);
        dash = {d, d};
    } else if (la && la->cstyle && la->pstyle) {
        std::vector<double> lengths;
        for (ULONG i = 0; i < la->cstyle; ++i) {
            const double v = geometric ? la->pstyle[i].e * scale.along : static_cast<double>(la->pstyle[i].l);
            lengths.push_back(std::isfinite(v) ? std::clamp(v, 1.0, 65535.0) : 1.0);
        }
        // An odd style repeats with its on and off swapped.
        if (lengths.size() % 2) lengths.insert(lengths.end(), lengths.begin(), lengths.end());
        // Dashes are whole pixels: a style of fractional lengths goes as
        // several periods whose edges are rounded where they fall, so the
        // dashes do not drift from where the engine draws them.
        const bool fractional = std::any_of(lengths.begin(), lengths.end(), [](double v) { return std::fabs(v - std::round(v)) > 1e-3; });
        const size_t periods = fractional ? std::max<size_t>(1, kMaxDashes / lengths.size()) : 1;
        double at = 0;
        int64_t sent = 0;
        for (size_t k = 0; k < periods; ++k)
            for (double v : lengths) {
                at += v;
                const int64_t edge = std::llround(at);
                dash.push_back(static_cast<uint32_t>(std::clamp<int64_t>(edge - sent, 1, 65535)));
                sent += dash.back();
            }
        // A printer takes at most kMaxDashes entries: a longer style is cut.
        if (dash.size() > kMaxDashes) dash.resize(kMaxDashes);
    }
    if (dash.empty()) {
        if (l.dashKind) {
            XlAttrUByte(r, Attr::SolidLine, 0);
            XlOperator(r, Op::SetLineDash);
            l.dashKind = 0;
        }
    } else if (l.dashKind != 8 || l.dash != dash) {
        XlAttrUInt16ArrayOf32(r, Attr::LineDashStyle, dash);
        XlOperator(r, Op::SetLineDash);
        l.dashKind = 8;
        l.dash = dash;
    }
    return true;
}

// The grey of a source pixel through the colour translation.
uint8_t SourceGrey(const SURFOBJ* so, XLATEOBJ* pxlo, const uint8_t* curve, LONG x, LONG y) {
    const uint32_t p = PixelAt(so, x, y);
    uint32_t rgb;
    if (so->iBitmapFormat <= BMF_8BPP) rgb = pxlo ? XLATEOBJ_iXlate(pxlo, p) : (p ? 0xFFFFFF : 0);
    else rgb = DeepPixelToRgb(pxlo, so->iBitmapFormat, p);
    return curve[GreyOf(rgb)];
}

// Where red lies in a pixel of a 24 or 32-bit source the colour
// translation passes as it is: 0 first byte, 2 third (blue first); -1 when
// each pixel must go through the translation.
int DeepOrder(ULONG format, XLATEOBJ* pxlo) {
    if (format != BMF_24BPP && format != BMF_32BPP) return -1;
    if (!pxlo || pxlo->iSrcType == PAL_BGR) return 2;
    return pxlo->iSrcType == PAL_RGB ? 0 : -1;
}

// A row of `n` deep pixels `step` bytes apart as greys through the tone
// curve, red at byte `red` of each pixel and blue at the other end.
// The greys before the tone curve, the pixel layout fixed at compile time so
// that the loop holds no arithmetic on where a colour lies and the compiler
// may take many pixels a step.
template <size_t kStep, size_t kRed>
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void PlainGreys(const uint8_t* __restrict s, size_t n, uint8_t* __restrict out) {
    constexpr size_t kBlue = 2 - kRed;
    for (size_t x = 0; x < n; ++x)
        out[x] = static_cast<uint8_t>((5u * s[kStep * x + kRed] + 9u * s[kStep * x + 1] + 2u * s[kStep * x + kBlue]) >> 4);
}

void GreyRow(const uint8_t* s, size_t n, size_t step, int red, const uint8_t* curve, uint8_t* out) {
    if (step == 3) (red ? PlainGreys<3, 2> : PlainGreys<3, 0>)(s, n, out);
    else (red ? PlainGreys<4, 2> : PlainGreys<4, 0>)(s, n, out);
    for (size_t x = 0; x < n; ++x) out[x] = curve[out[x]];
}

}  // namespace

void SourceRgbRow(const SURFOBJ* so, XLATEOBJ* pxlo, LONG x, LONG y, LONG n, uint8_t* out) {
    const ULONG format = so->iBitmapFormat;
    // Where red lies in a 24 or 32-bit pixel the translation passes as it is.
    int red = -1;
    if (format == BMF_24BPP || format == BMF_32BPP) red = !pxlo || pxlo->iSrcType == PAL_BGR ? 2 : pxlo->iSrcType == PAL_RGB ? 0 : -1;
    if (red >= 0) {
        const size_t step = format == BMF_32BPP ? 4 : 3;
        const uint8_t* s = static_cast<const uint8_t*>(so->pvScan0) + static_cast<ptrdiff_t>(y) * so->lDelta + static_cast<size_t>(x) * step;
        const size_t ri = static_cast<size_t>(red), bi = 2 - ri;
        for (LONG k = 0; k < n; ++k, s += step, out += 3) out[0] = s[ri], out[1] = s[1], out[2] = s[bi];
        return;
    }
    for (LONG k = 0; k < n; ++k, out += 3) {
        const uint32_t rgb = DeepPixelToRgb(pxlo, format, PixelAt(so, x + k, y));
        out[0] = static_cast<uint8_t>(rgb), out[1] = static_cast<uint8_t>(rgb >> 8), out[2] = static_cast<uint8_t>(rgb >> 16);
    }
}

namespace {

// Whether three equal bytes follow one another anywhere in `p`, eight
// places at a time.
bool HasRunOfThree(const uint8_t* p, size_t n) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    size_t i = 0;
    for (; i + 10 <= n; i += 8) {
        uint64_t a, b, c;
        std::memcpy(&a, p + i, 8);
        std::memcpy(&b, p + i + 1, 8);
        std::memcpy(&c, p + i + 2, 8);
        const uint64_t d = (a ^ b) | (b ^ c);  // a zero byte: a run of three starts there
        if ((d - kOnes) & ~d & kHighs) return true;
    }
    for (; i + 2 < n; ++i)
        if (p[i] == p[i + 1] && p[i + 1] == p[i + 2]) return true;
    return false;
}

// Source rows drawn into `dest`: sources of 1, 4 and 8 bits per pixel as
// indexed images of their own depth through the translated palette (entry
// i is the translation of index i), deeper ones as 8-bit grey. The rows go
// in blocks of about kImageBlock bytes, each with its StartLine, run-length
// coded where that makes the block smaller.
void XlImage(DeviceRecord& r, SURFOBJ* src, XLATEOBJ* pxlo, const RECTL& from, const RECTL& dest) {
    const LONG sw = from.right - from.left, sh = from.bottom - from.top;
    const LONG dw = dest.right - dest.left, dh = dest.bottom - dest.top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || sw > 65535 || sh > 65535) return;
    const ULONG format = src->iBitmapFormat;
    const int bpp = format == BMF_1BPP ? 1 : format == BMF_4BPP ? 4 : format == BMF_8BPP ? 8 : 0;
    // Colour pages take the source's colours: an RGB palette, or red,
    // green and blue per pixel.
    const bool colour = ColourAsked(r);
    if (bpp) {
        std::vector<uint32_t> entries(size_t{1} << bpp);
        for (size_t i = 0; i < entries.size(); ++i)
            entries[i] = pxlo ? XLATEOBJ_iXlate(pxlo, static_cast<ULONG>(i)) : (i ? 0xFFFFFF : 0);
        if (colour) XlSetRgbPalette(r, entries, entries.size());
        else XlSetPalette(r, entries, entries.size());
    } else if (colour) {
        XlSetRgbPalette(r, {}, 0);
    } else {
        XlPlainGrey(r);
    }
    XlAttrSInt16XY(r, Attr::Point, Clamp(dest.left), Clamp(dest.top));
    XlOperator(r, Op::SetCursor);
    XlAttrEnum(r, Attr::ColorMapping, bpp ? ColorMapping::Indexed : ColorMapping::Direct);
    XlAttrEnum(r, Attr::ColorDepth, bpp == 1 ? ColorDepth::Bit1 : bpp == 4 ? ColorDepth::Bit4 : ColorDepth::Bit8);
    XlAttrUInt16(r, Attr::SourceWidth, static_cast<uint16_t>(sw));
    XlAttrUInt16(r, Attr::SourceHeight, static_cast<uint16_t>(sh));
    XlAttrUInt16XY(r, Attr::DestinationSize, static_cast<uint16_t>(std::min<LONG>(dw, 65535)),
                   static_cast<uint16_t>(std::min<LONG>(dh, 65535)));
    XlOperator(r, Op::BeginImage);
    const uint8_t* curve = ToneCurve(r.darknessLevel);
    const size_t bits = static_cast<size_t>(sw) * (bpp ? bpp : colour ? 24 : 8);
    const size_t rowBytes = (bits + 31) / 32 * 4;  // rows padded to 32 bits
    const size_t sourceBytes = (static_cast<size_t>(src->sizlBitmap.cx) * bpp + 7) / 8;
    const LONG rowsPerBlock = static_cast<LONG>(std::max<size_t>(1, kImageBlock / rowBytes));
    const int order = bpp ? -1 : DeepOrder(src->iBitmapFormat, pxlo);
    const size_t step = src->iBitmapFormat == BMF_32BPP ? 4 : 3;
    // One block's rows side by side (padding stays 0), and their code.
    std::vector<uint8_t> raw(rowBytes * static_cast<size_t>(rowsPerBlock), 0);
    std::vector<uint8_t> packed((rowBytes + rowBytes / 128 + 8) * static_cast<size_t>(rowsPerBlock));
    const auto* base = static_cast<const uint8_t*>(src->pvScan0);
    for (LONG y = 0; y < sh; y += rowsPerBlock) {
        const LONG n = std::min(rowsPerBlock, sh - y);
        const size_t rawSize = rowBytes * static_cast<size_t>(n);
        for (LONG k = 0; k < n; ++k) {
            const LONG sy = from.top + y + k;
            const uint8_t* line = base + static_cast<ptrdiff_t>(sy) * src->lDelta;
            uint8_t* row = raw.data() + static_cast<size_t>(k) * rowBytes;
            if (bpp) CopyRowBits(line, sourceBytes, static_cast<size_t>(from.left) * bpp, bits, row);
            else if (colour) SourceRgbRow(src, pxlo, from.left, sy, sw, row);
            else if (order >= 0) GreyRow(line + static_cast<size_t>(from.left) * step, static_cast<size_t>(sw), step, order, curve, row);
            else
                for (LONG x = 0; x < sw; ++x) row[static_cast<size_t>(x)] = SourceGrey(src, pxlo, curve, from.left + x, sy);
        }
        // Run-length code only shrinks rows holding a run of three.
        size_t packedSize = 0;
        bool pack = rowBytes >= 3 && HasRunOfThree(raw.data(), rawSize);
        for (LONG k = 0; pack && k < n; ++k) {
            const int32_t len = PackBits(std::span<const uint8_t>(raw.data() + static_cast<size_t>(k) * rowBytes, rowBytes),
                                         std::span<uint8_t>(packed.data() + packedSize, packed.size() - packedSize));
            if (len < 0) pack = false;
            else packedSize += static_cast<size_t>(len);
        }
        pack = pack && packedSize < rawSize;
        XlAttrUInt16(r, Attr::StartLine, static_cast<uint16_t>(y));
        XlAttrUInt16(r, Attr::BlockHeight, static_cast<uint16_t>(n));
        XlAttrEnum(r, Attr::CompressMode, pack ? CompressMode::Rle : CompressMode::None);
        XlOperator(r, Op::ReadImage);
        XlDataLength(r, static_cast<uint32_t>(pack ? packedSize : rawSize));
        SpoolWrite(r, pack ? packed.data() : raw.data(), static_cast<int32_t>(pack ? packedSize : rawSize));
    }
    XlOperator(r, Op::EndImage);
}

bool NeedsSource(uint8_t rop3) { return ((rop3 >> 2) ^ rop3) & 0x33; }
bool NeedsPattern(uint8_t rop3) { return ((rop3 >> 4) ^ rop3) & 0x0F; }

// The state a painting needs: the mix's ROP, the brush in `role` with no
// source in the other role, opaque paint, the line attributes of a pen and
// the clip. Returns the brushKey selected (kXlNoSource: nothing to paint).
uint32_t PaintState(DeviceRecord& r, CLIPOBJ* pco, BRUSHOBJ* pbo, MIX mix, XlRole role, const LINEATTRS* la,
                    PenStretch scale = {}) {
    RealizedBrush solid;
    const RealizedBrush* brush = ResolveBrush(pbo, solid);
    XlSetRop(r, Rop3Of(mix & 0xFF));
    XlSelectMonoFill(r, nullptr, role == XlRole::Pen ? XlRole::Brush : XlRole::Pen);
    const uint32_t key = XlSelectMonoFill(r, brush, role);
    SetPaintTx(r, TxMode::Opaque);
    if (role == XlRole::Pen) LineAttributes(r, la, scale);
    XlClip(r, pco);
    return key;
}

}  // namespace

uint32_t XlBrushPaintState(DeviceRecord& r, CLIPOBJ* pco, BRUSHOBJ* pbo, MIX mix) {
    return PaintState(r, pco, pbo, mix, XlRole::Brush, nullptr);
}

BOOL XlFillPath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, MIX mix, FLONG options) {
    if ((mix & 0xFF) == kRop2Nop) return TRUE;
    const uint32_t key = PaintState(r, pco, pbo, mix, XlRole::Brush, nullptr);
    SetFillMode(r, options);
    if (EmitPath(r, ppo) && key != kXlNoSource) XlOperator(r, Op::PaintPath);
    return r.jobState >= kJobOpen;
}

BOOL XlStrokePath(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, LINEATTRS* la, MIX mix) {
    if ((mix & 0xFF) == kRop2Nop) return TRUE;
    const uint32_t key = PaintState(r, pco, pbo, mix, XlRole::Pen, la, PenScale(pxo, ppo));
    // The engine strokes along pixel centres, the printer along the
    // coordinates it is given, which are pixel corners: the stroke goes half
    // a pixel down and right. Page origins are whole units, so the half is
    // one unit of a page scaled by a half; the saved state keeps every
    // attribute set above and drops the shift after the stroke.
    if (key == kXlNoSource) return r.jobState >= kJobOpen;
    XlOperator(r, Op::PushGS);
    XlAttrReal32XY(r, Attr::PageScale, 0.5f, 0.5f);
    XlOperator(r, Op::SetPageScale);
    XlAttrSInt16XY(r, Attr::PageOrigin, 1, 1);
    XlOperator(r, Op::SetPageOrigin);
    XlAttrReal32XY(r, Attr::PageScale, 2.0f, 2.0f);
    XlOperator(r, Op::SetPageScale);
    if (EmitPath(r, ppo)) XlOperator(r, Op::PaintPath);
    XlOperator(r, Op::PopGS);
    return r.jobState >= kJobOpen;
}

BOOL XlBitBlt(DeviceRecord& r, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo, const RECTL& destIn,
              const RECTL* src, BRUSHOBJ* pbo, ROP4 rop4) {
    const uint8_t rop3 = static_cast<uint8_t>(rop4);
    if (psoMask || ((rop4 >> 8) & 0xFF) != rop3) {
        // Masked transfers go back to the engine, which splits them.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    RECTL dest = destIn;
    if (dest.left > dest.right) std::swap(dest.left, dest.right);
    if (dest.top > dest.bottom) std::swap(dest.top, dest.bottom);
    if (rop3 == 0xAA) return TRUE;  // the destination as it is
    XlSetRop(r, rop3);
    XlSelectMonoFill(r, nullptr, XlRole::Pen);
    RealizedBrush solid;
    const RealizedBrush* brush = NeedsPattern(rop3) ? ResolveBrush(pbo, solid) : nullptr;
    const uint32_t key = XlSelectMonoFill(r, brush, XlRole::Brush);
    if (NeedsPattern(rop3) && key == kXlNoSource) return TRUE;
    SetPaintTx(r, TxMode::Opaque);
    XlClip(r, pco);
    if (!NeedsSource(rop3) || !psoSrc) {
        XlAttrSInt16Box(r, Attr::BoundingBox, Clamp(dest.left), Clamp(dest.top), Clamp(dest.right), Clamp(dest.bottom));
        XlOperator(r, Op::Rectangle);
        return r.jobState >= kJobOpen;
    }
    if (psoSrc->iType == STYPE_BITMAP && (psoSrc->iBitmapFormat < BMF_1BPP || psoSrc->iBitmapFormat > BMF_32BPP)) {
        SetLastError(kCompressedSource);
        return FALSE;
    }
    if (psoSrc->iType != STYPE_BITMAP || !psoSrc->pvScan0) return TRUE;  // a device source holds nothing
    SetSourceTx(r, TxMode::Opaque);
    RECTL from = src ? *src : RECTL{0, 0, dest.right - dest.left, dest.bottom - dest.top};
    from.left = std::max<LONG>(0, from.left);
    from.top = std::max<LONG>(0, from.top);
    from.right = std::min<LONG>(psoSrc->sizlBitmap.cx, from.right);
    from.bottom = std::min<LONG>(psoSrc->sizlBitmap.cy, from.bottom);
    XlImage(r, psoSrc, pxlo, from, dest);
    return r.jobState >= kJobOpen;
}

uint32_t XlTextPaint(DeviceRecord& r, CLIPOBJ* pco, BRUSHOBJ* pbo, MIX mix) {
    return PaintState(r, pco, pbo, mix, XlRole::Brush, nullptr);
}

namespace {

// A point in units, unrounded.
struct Unit {
    double x, y;
};

// A point worked out on a cubic: its ends and controls and the weights of
// each.
struct Chord {
    Unit p[4];
    double a, b, c, d;
    Unit At() const {
        return {a * p[0].x + b * p[1].x + c * p[2].x + d * p[3].x, a * p[0].y + b * p[1].y + c * p[2].y + d * p[3].y};
    }
};

// Walks a glyph's outline with its origin at (ox, oy) units, in units of
// 1/`units` pixel, curves as chords within a fifth of a pixel: `begin()`
// opens each polygon, `put(point, chord)` takes each point in turn (chord:
// how it was worked out on a curve, null for the path's own points). False
// when the font gives no outline.
template <typename Begin, typename Put>
bool WalkGlyphOutline(FONTOBJ* pfo, HGLYPH hg, double ox, double oy, int units, Begin begin, Put put) {
    PATHOBJ* ppo = GlyphPath(pfo, hg);
    if (!ppo) return false;
    const double scale = units / 16.0;
    const double tolerance = 0.2 * units;
    auto unit = [&](const POINTFIX& p) { return Unit{ox + p.x * scale, oy + p.y * scale}; };
    Unit at{0, 0};
    bool open = false;
    ForEachPathRecord(ppo, [&](const PATHDATA& pd) {
        ULONG i = 0;
        if ((pd.flags & PD_BEGINSUBPATH) || !open) {
            begin();
            open = true;
            at = unit(pd.pptfx[0]);
            put(at, nullptr);
            i = 1;
        }
        if (pd.flags & PD_BEZIERS) {
            for (; i + 3 <= pd.count; i += 3) {
                Chord ch{{at, unit(pd.pptfx[i]), unit(pd.pptfx[i + 1]), unit(pd.pptfx[i + 2])}, 0, 0, 0, 0};
                const Unit &p0 = ch.p[0], &p1 = ch.p[1], &p2 = ch.p[2], &p3 = ch.p[3];
                // Chords of a cubic stray from it by at most 3/4 of its
                // largest second difference over the square of their number.
                const double dd = std::max(std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y),
                                           std::hypot(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y));
                const double need = std::ceil(std::sqrt(0.75 * dd / tolerance));
                const int n = std::isfinite(need) ? static_cast<int>(std::clamp(need, 1.0, 256.0)) : 1;
                for (int k = 1; k <= n; ++k) {
                    const double t = static_cast<double>(k) / n, u = 1 - t;
                    ch.a = u * u * u, ch.b = 3 * u * u * t, ch.c = 3 * u * t * t, ch.d = t * t * t;
                    put(ch.At(), k < n ? &ch : nullptr);  // the last is the curve's end itself
                }
                at = p3;
            }
        } else {
            for (; i < pd.count; ++i) put(at = unit(pd.pptfx[i]), nullptr);
        }
    });
    return true;
}

// Adds `p` to a polygon unless it repeats the last point.
void AddPoint(std::vector<POINTL>& c, POINTL p) {
    if (c.empty() || c.back().x != p.x || c.back().y != p.y) c.push_back(p);
}

// A polygon's last point that repeats its first goes; a polygon of fewer
// than three points is nothing. False: drop it.
bool FinishPolygon(std::vector<POINTL>& c) {
    if (c.size() > 1 && c.front().x == c.back().x && c.front().y == c.back().y) c.pop_back();
    return c.size() >= 3;
}

// A glyph's outline at its position, flattened into closed polygons in
// units of 1/`units` pixel (see WalkGlyphOutline), added to `out`, each
// point rounded half away from zero. The glyph's outline is made for pixels
// whose corners lie on whole coordinates, as the printer's do: no shift,
// only the position. False when the font gives no outline.
bool GlyphOutline(FONTOBJ* pfo, const GLYPHPOS& pos, int units, std::vector<std::vector<POINTL>>& out) {
    const size_t firstNew = out.size();
    const bool ok = WalkGlyphOutline(
        pfo, pos.hg, static_cast<double>(pos.ptl.x) * units, static_cast<double>(pos.ptl.y) * units, units,
        [&] { out.emplace_back(); },
        [&](Unit u, const Chord*) {
            AddPoint(out.back(), {static_cast<LONG>(RoundHalfAway(u.x)), static_cast<LONG>(RoundHalfAway(u.y))});
        });
    if (!ok) return false;
    out.erase(std::remove_if(out.begin() + static_cast<std::ptrdiff_t>(firstNew), out.end(),
                             [](std::vector<POINTL>& c) { return !FinishPolygon(c); }),
              out.end());
    return true;
}

}  // namespace

// Glyph outlines in half pixels, kept by font and glyph for PCL XL text: a
// glyph's outline from its origin, and what its polygons send after their
// first corner (the same wherever the glyph lies).
//
// Placed by moving the kept points, a glyph sends exactly what working it
// out at its place sends, for these reasons. The path's own points lie on
// sixteenths of a pixel, so they and the second differences that choose how
// many chords a curve takes come out alike at any whole place. A point's
// rounding moves with the place unless it lies on a half: a half from the
// path itself rounds up in both while the placed point is not below 0
// (which a place must keep, else the glyph is worked out there). A chord's
// point is worked out with a rounding error far below a millionth, so it
// rounds alike unless it lies within a millionth of a half: such a point is
// worked out again at each place, as it would be there, and its polygon's
// repeats dropped and sides made then.
struct GlyphOutlineCache {
    struct Tie {
        uint32_t at;    // its place among the polygon's points
        Chord chord;    // from the glyph's origin
        POINTL usually; // as it rounds where the chord works out to a half exactly (up)
    };
    struct Polygon {
        std::vector<POINTL> points;  // without ties: the polygon; with them: every point put, ties as 0, 0
        std::vector<uint8_t> sides;  // its XlOutlineSides, with ties as they usually round
        std::vector<Tie> ties;
        std::vector<POINTL> usual;   // with ties: the polygon where they round as usual
        bool usualSent = true;       // with ties: whether anything is left of `usual`
        // With ties: the polygon as it came out where they rounded otherwise,
        // by how they rounded (see TiePattern), moved to have its origin
        // at 0, 0.
        struct Otherwise {
            bool sent = false;
            POINTL first{};
            std::vector<uint8_t> sides;
        };
        mutable std::unordered_map<uint64_t, Otherwise> otherwise;
    };
    struct Shape {
        bool placeable = false;
        std::vector<Polygon> polygons;                  // half pixels from the glyph's origin
        LONG left = 0, top = 0, right = 0, bottom = 0;  // the points' extent, a unit wider each way
        double lowest[2] = {0, 0};                      // the least unrounded x and y (and 0)
    };
    std::unordered_map<uint64_t, Shape> kept;  // by the font's realisation and the glyph
};

namespace {

constexpr size_t kKeptOutlines = 4096;  // beyond this many kept glyphs the cache starts again
constexpr double kKeptPlace = 0x1p19;   // kept glyphs are placed within this many units of 0

const GlyphOutlineCache::Shape* KeptOutline(DeviceRecord& r, FONTOBJ* pfo, HGLYPH hg) {
    using Cache = GlyphOutlineCache;
    if (!pfo || !pfo->iUniq) return nullptr;
    if (!r.glyphOutlines) r.glyphOutlines = std::make_shared<Cache>();
    auto& kept = r.glyphOutlines->kept;
    const uint64_t key = uint64_t{pfo->iUniq} << 32 | hg;
    if (auto it = kept.find(key); it != kept.end()) return &it->second;
    Cache::Shape shape;
    bool placeable = true, any = false;
    const auto round = [&](double v, int axis, bool& tie, const Chord* chord) -> LONG {
        shape.lowest[axis] = std::min(shape.lowest[axis], v);
        if (!(std::fabs(v) < kSafe - 1)) {  // within the coordinate range, so its sides come out alike anywhere
            placeable = false;
            return 0;
        }
        if (chord && std::fabs(v - std::floor(v) - 0.5) < 1e-6) tie = true;
        return static_cast<LONG>(std::floor(v + 0.5));
    };
    const bool ok = WalkGlyphOutline(
        pfo, hg, 0.0, 0.0, 2, [&] { shape.polygons.emplace_back(); },
        [&](Unit u, const Chord* chord) {
            auto& polygon = shape.polygons.back();
            bool tie = false;
            const POINTL p{round(u.x, 0, tie, chord), round(u.y, 1, tie, chord)};
            if (!any) shape.left = shape.right = p.x, shape.top = shape.bottom = p.y, any = true;
            shape.left = std::min(shape.left, p.x), shape.right = std::max(shape.right, p.x);
            shape.top = std::min(shape.top, p.y), shape.bottom = std::max(shape.bottom, p.y);
            if (tie) polygon.ties.push_back({static_cast<uint32_t>(polygon.points.size()), *chord, p});
            // From a polygon's first tie on, every point is kept: which of
            // them repeat is known only at each place. (Repeats dropped
            // before it repeat at any place.)
            if (polygon.ties.empty()) AddPoint(polygon.points, p);
            else polygon.points.push_back(tie ? POINTL{0, 0} : p);
        });
    if (!ok) return nullptr;
    shape.placeable = placeable;
    shape.left -= 1, shape.top -= 1, shape.right += 1, shape.bottom += 1;
    if (placeable) {
        std::erase_if(shape.polygons, [](Cache::Polygon& c) { return c.ties.empty() && !FinishPolygon(c.points); });
        for (auto& c : shape.polygons) {
            if (c.ties.empty()) {
                XlOutlineSides(c.points, c.sides);
                continue;
            }
            for (size_t k = 0, next = 0; k < c.points.size(); ++k)
                AddPoint(c.usual, next < c.ties.size() && c.ties[next].at == k ? c.ties[next++].usually : c.points[k]);
            c.usualSent = FinishPolygon(c.usual);
            if (c.usualSent) XlOutlineSides(c.usual, c.sides);
        }
    } else {
        shape.polygons.clear();
    }
    return &kept.emplace(key, std::move(shape)).first->second;
}

// How the ties of a kept polygon round with the glyph's origin at (dx, dy)
// units: two bits for each of x and y of each tie, 0 as usual, 1 one
// below, 2 one above (0 for all: the polygon is `usual`, moved). Nothing for
// a polygon of too many ties, or a tie out by more.
constexpr size_t kPatternTies = 16;
std::optional<uint64_t> TiePattern(const GlyphOutlineCache::Polygon& c, LONG dx, LONG dy) {
    uint64_t pattern = 0;
    for (size_t k = 0; k < c.ties.size(); ++k) {
        const auto& tie = c.ties[k];
        Chord ch = tie.chord;
        for (Unit& q : ch.p) q.x = dx + q.x, q.y = dy + q.y;
        const Unit u = ch.At();
        const long offX = RoundHalfAway(u.x) - (tie.usually.x + dx), offY = RoundHalfAway(u.y) - (tie.usually.y + dy);
        if (!offX && !offY) continue;
        if (k >= kPatternTies || offX < -1 || offX > 1 || offY < -1 || offY > 1) return std::nullopt;
        const auto code = [](long off) { return uint64_t{off < 0 ? 1u : off > 0 ? 2u : 0u}; };
        pattern |= (code(offX) | code(offY) << 2) << (4 * k);
    }
    return pattern;
}

// A kept polygon with ties as it is with the glyph's origin at (dx, dy)
// units: the ties worked out as there, then repeats dropped. False when
// nothing is left of it there.
bool PlaceTiedPolygon(const GlyphOutlineCache::Polygon& c, LONG dx, LONG dy, std::vector<POINTL>& placed) {
    placed.clear();
    size_t next = 0;
    for (size_t k = 0; k < c.points.size(); ++k) {
        POINTL p{c.points[k].x + dx, c.points[k].y + dy};
        if (next < c.ties.size() && c.ties[next].at == k) {
            Chord ch = c.ties[next++].chord;
            for (Unit& q : ch.p) q.x = dx + q.x, q.y = dy + q.y;
            const Unit u = ch.At();
            p = {static_cast<LONG>(RoundHalfAway(u.x)), static_cast<LONG>(RoundHalfAway(u.y))};
        }
        AddPoint(placed, p);
    }
    return FinishPolygon(placed);
}

// A kept polygon as it comes out with the glyph's origin at (dx, dy) units:
// whether anything is sent, its first corner and its sides (which `scratch`
// may hold).
struct PlacedPolygon {
    bool sent = false;
    POINTL first{};
    std::span<const uint8_t> sides;
};

PlacedPolygon PlacePolygon(const GlyphOutlineCache::Polygon& c, LONG dx, LONG dy, std::vector<POINTL>& points,
                           std::vector<uint8_t>& scratch) {
    const auto moved = [&](POINTL p) { return POINTL{p.x + dx, p.y + dy}; };
    if (c.ties.empty()) return {true, moved(c.points[0]), c.sides};
    const std::optional<uint64_t> pattern = TiePattern(c, dx, dy);
    if (pattern == 0u) return {c.usualSent, c.usualSent ? moved(c.usual[0]) : POINTL{}, c.sides};
    if (pattern) {
        if (auto it = c.otherwise.find(*pattern); it != c.otherwise.end())
            return {it->second.sent, moved(it->second.first), it->second.sides};
    }
    PlacedPolygon out;
    out.sent = PlaceTiedPolygon(c, dx, dy, points);
    scratch.clear();
    if (out.sent) {
        XlOutlineSides(points, scratch);
        out.first = points[0];
        out.sides = scratch;
    }
    if (pattern && c.otherwise.size() < 16) {
        auto& kept = c.otherwise[*pattern];
        kept.sent = out.sent;
        kept.first = {out.first.x - dx, out.first.y - dy};
        kept.sides = scratch;
    }
    return out;
}

// Whether a kept glyph sends any polygon with its origin at (dx, dy).
bool SendsKeptOutline(const GlyphOutlineCache::Shape& shape, LONG dx, LONG dy) {
    std::vector<POINTL> points;
    std::vector<uint8_t> scratch;
    for (const auto& c : shape.polygons)
        if (PlacePolygon(c, dx, dy, points, scratch).sent) return true;
    return false;
}

// Sends a kept glyph's polygons with its origin at (dx, dy) units.
void SendKeptOutline(DeviceRecord& r, const GlyphOutlineCache::Shape& shape, LONG dx, LONG dy) {
    std::vector<POINTL> points;
    std::vector<uint8_t> scratch;
    for (const auto& c : shape.polygons) {
        const PlacedPolygon placed = PlacePolygon(c, dx, dy, points, scratch);
        if (placed.sent) XlOutlineFrom(r, placed.first, placed.sides);
    }
}

// A glyph of more rows than this goes as its outline (see SmallGlyph).
constexpr LONG kOutlineRows = 48;

// A glyph whose bits are fewer rows than kOutlineRows goes as the outline
// of its bits: its strokes are a few pixels wide, and a printer inking every
// pixel an outline touches would print it visibly bolder. Larger glyphs take
// far fewer bytes as outlines.
bool SmallGlyph(const GLYPHPOS& pos) {
    const GLYPHBITS* gb = pos.pgdf ? pos.pgdf->pgb : nullptr;
    return gb && gb->sizlBitmap.cy < kOutlineRows;
}

}  // namespace

BOOL XlTextOut(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
               BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, MIX mix) {
    if (prclOpaque && pboOpaque) XlBitBlt(r, nullptr, nullptr, pco, nullptr, *prclOpaque, nullptr, pboOpaque, 0xF0F0);
    if ((mix & 0xFF) == kRop2Nop) return TRUE;
    if (PaintState(r, pco, pboFore, mix, XlRole::Brush, nullptr) == kXlNoSource) return TRUE;
    // Glyphs with an outline as that outline in half pixels, under the
    // non-zero rule they are made for (glyphs that touch join); a glyph
    // without one (a bitmap font) as the outline of its pixel runs, exactly
    // the engine's bits.
    if (r.glyphOutlines && r.glyphOutlines->kept.size() >= kKeptOutlines) r.glyphOutlines->kept.clear();
    // Each outlined glyph in order: its kept outline to be moved to its
    // place, or its polygons worked out there.
    struct Outlined {
        GLYPHPOS pos;
        const GlyphOutlineCache::Shape* kept;  // null: polygons [first, first + count) of `shapes`
        size_t first, count;
    };
    std::vector<Outlined> outlined;
    std::vector<GLYPHPOS> inked;
    STROBJ_vEnumStart(pstro);
    ULONG count = 0;
    GLYPHPOS* pos = nullptr;
    BOOL more;
    std::vector<std::vector<POINTL>> shapes;
    int units = 2;
    bool beyond = false;  // a point outside the signed 16-bit range in half pixels
    do {
        more = STROBJ_bEnum(pstro, &count, &pos);
        for (ULONG i = 0; i < count && pos; ++i) {
            const GLYPHPOS& g = pos[i];
            if (SmallGlyph(g)) {
                inked.push_back(g);
                continue;
            }
            const double ox = static_cast<double>(g.ptl.x) * units, oy = static_cast<double>(g.ptl.y) * units;
            const GlyphOutlineCache::Shape* shape = r.keepGlyphShapes ? KeptOutline(r, pfo, g.hg) : nullptr;
            if (shape && shape->placeable && std::fabs(ox) < kKeptPlace && std::fabs(oy) < kKeptPlace &&
                ox + shape->lowest[0] >= 0 && oy + shape->lowest[1] >= 0 && ox + shape->left >= -kSafe &&
                ox + shape->right <= kSafe && oy + shape->top >= -kSafe && oy + shape->bottom <= kSafe) {
                outlined.push_back({g, shape, 0, 0});
                continue;
            }
            const size_t first = shapes.size();
            if (!GlyphOutline(pfo, g, units, shapes)) {
                inked.push_back(g);
                continue;
            }
            for (size_t k = first; k < shapes.size(); ++k)
                for (const POINTL& p : shapes[k])
                    if (std::abs(p.x) > kSafe || std::abs(p.y) > kSafe) beyond = true;
            outlined.push_back({g, nullptr, first, shapes.size() - first});
        }
    } while (more);
    // Half pixels while every point fits the signed 16-bit range.
    if (beyond) {
        units = 1;
        shapes.clear();
        for (auto& o : outlined) {
            o.kept = nullptr;
            o.first = shapes.size();
            GlyphOutline(pfo, o.pos, units, shapes);
            o.count = shapes.size() - o.first;
        }
    }
    const bool anyOutline = std::any_of(outlined.begin(), outlined.end(), [](const Outlined& o) {
        return o.kept ? SendsKeptOutline(*o.kept, o.pos.ptl.x * 2, o.pos.ptl.y * 2) : o.count > 0;
    });
    if (anyOutline) {
        SetFillMode(r, FP_WINDINGMODE);
        if (units == 2) {
            XlOperator(r, Op::PushGS);
            XlAttrReal32XY(r, Attr::PageScale, 0.5f, 0.5f);
            XlOperator(r, Op::SetPageScale);
        }
        XlOperator(r, Op::NewPath);
        for (const Outlined& o : outlined) {
            if (o.kept) SendKeptOutline(r, *o.kept, o.pos.ptl.x * units, o.pos.ptl.y * units);
            else
                for (size_t k = o.first; k < o.first + o.count; ++k) XlClosedOutline(r, shapes[k]);
        }
        XlOperator(r, Op::PaintPath);
        if (units == 2) XlOperator(r, Op::PopGS);
    }
    if (!r.keepGlyphShapes) {
        std::vector<RECTL> ink;
        for (const GLYPHPOS& g : inked) ForEachGlyphInkRectangle(g, [&](const RECTL& q) { ink.push_back(q); });
        if (!ink.empty()) {
            SetFillMode(r, 0);
            XlOperator(r, Op::NewPath);
            XlRectanglesPath(r, ink);
            XlOperator(r, Op::PaintPath);
        }
    } else if (const PlacedGlyphInk ink = PlaceGlyphInk(r, inked); !ink.Empty()) {
        SetFillMode(r, 0);  // even-odd, as the outline of runs takes it
        XlOperator(r, Op::NewPath);
        XlGlyphInkPath(r, ink);
        XlOperator(r, Op::PaintPath);
    }
    if (prclExtra) {
        for (RECTL* e = prclExtra; e->left || e->top || e->right || e->bottom; ++e)
            XlBitBlt(r, nullptr, nullptr, pco, nullptr, *e, nullptr, pboFore, 0xF0F0);
    }
    return r.jobState >= kJobOpen;
}

BOOL RealizeKeptBrush(BRUSHOBJ* pbo, SURFOBJ* pattern, XLATEOBJ* pxlo) {
    const ULONG f = pattern ? pattern->iBitmapFormat : 0;
    if (!pattern || !pattern->pvScan0 || f < BMF_1BPP || f > BMF_32BPP || pattern->sizlBitmap.cx <= 0 ||
        pattern->sizlBitmap.cy <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint32_t format = f == BMF_1BPP ? 1 : f == BMF_4BPP ? 4 : f == BMF_8BPP ? 8 : 24;
    const uint32_t w = std::min<uint32_t>(static_cast<uint32_t>(pattern->sizlBitmap.cx), kKeptSide);
    const uint32_t h = std::min<uint32_t>(static_cast<uint32_t>(pattern->sizlBitmap.cy), kKeptSide);
    const size_t rowSize = KeptRowSize(w, format);
    const uint32_t entries = format == 24 ? 0 : 1u << format;
    const size_t paletteOffset = kKeptBitsOffset + rowSize * h;
    auto* base = static_cast<uint8_t*>(BRUSHOBJ_pvAllocRbrush(pbo, static_cast<ULONG>(paletteOffset + 4 * size_t{entries})));
    if (!base) return FALSE;
    std::memset(base, 0, paletteOffset + 4 * size_t{entries});
    auto* rb = new (base) RealizedBrush{};
    rb->kind = kBrushPattern;
    rb->brushKey = 256;
    rb->isPattern = 1;
    rb->width = w;
    rb->height = h;
    rb->format = format;
    rb->flags = format == 24 ? 1u : static_cast<uint32_t>(pattern->fjBitmap);
    rb->paletteCount = entries;
    rb->paletteOffset = static_cast<uint32_t>(paletteOffset);
    uint8_t* bits = base + kKeptBitsOffset;
    for (uint32_t y = 0; y < h; ++y) {
        const auto* row = static_cast<const uint8_t*>(pattern->pvScan0) + static_cast<ptrdiff_t>(y) * pattern->lDelta;
        uint8_t* out = bits + y * rowSize;
        if (format != 24) {
            CopyRowBits(row, (static_cast<size_t>(pattern->sizlBitmap.cx) * format + 7) / 8, 0, size_t{w} * format, out);
            continue;
        }
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t rgb = DeepPixelToRgb(pxlo, f, PixelAt(pattern, static_cast<LONG>(x), static_cast<LONG>(y)));
            out[4 * x] = static_cast<uint8_t>(rgb);
            out[4 * x + 1] = static_cast<uint8_t>(rgb >> 8);
            out[4 * x + 2] = static_cast<uint8_t>(rgb >> 16);
        }
    }
    // Entry i is the translation of index i.
    auto* kept = reinterpret_cast<uint32_t*>(base + paletteOffset);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t c = pxlo ? XLATEOBJ_iXlate(pxlo, i) & 0xFFFFFF : (i ? 0xFFFFFF : 0);
        std::memcpy(kept + i, &c, 4);
    }
    return TRUE;
}

}  // namespace pclrend
