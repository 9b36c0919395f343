#include "render/hpgl_path.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "render/hpgl_mode.h"
#include "render/output.h"

namespace pclrend {

namespace {

// Points are kept within what a page can use and what the encoder carries
// without wrapping (a 16-bit coordinate would fold across the page).
constexpr int32_t kSafe = 32767;

int32_t Pixel(FIX v, int32_t offset) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{NearestPixel(v)} + offset, -kSafe, kSafe));
}

}  // namespace

void PeEncode(int32_t v, std::string& out) {
    char digits[8];
    out.append(digits, static_cast<size_t>(PeEncodeTo(v, digits) - digits));
}

void PeWriteAbsolute(DeviceRecord& r, int32_t x, int32_t y, bool penUp) {
    std::string s = penUp ? "PE=<" : "PE=";
    PeEncode(x, s);
    PeEncode(y, s);
    SpoolWrite(r, s);
}

void PeWriteRelative(DeviceRecord& r, int32_t x, int32_t y, int32_t px, int32_t py) {
    std::string s;
    PeEncode(x - px, s);
    PeEncode(y - py, s);
    SpoolWrite(r, s);
}

bool Gl2EmitPath(DeviceRecord& r, const PathSource& next, bool* drew, POINTL offset) {
    bool first = true, peOpen = false, bzOpen = false, any = false;
    int32_t lx = 0, ly = 0;
    constexpr ptrdiff_t kRunFlush = 4000;
    char run[kRunFlush + 16];  // relative pairs of a line record, written in pieces
    PathPiece piece;
    bool more;
    auto close = [&] {
        if (peOpen || bzOpen) SpoolWrite(r, ";");
        peOpen = bzOpen = false;
    };
    r.gl.polygonBounds = {kSafe, kSafe, -kSafe, -kSafe};
    do {
        piece = {};
        more = next(piece);
        const POINTFIX* p = piece.points;
        ULONG n = p ? piece.count : 0;
        auto take = [&](int32_t& x, int32_t& y) {
            x = Pixel(p->x, offset.x);
            y = Pixel(p->y, offset.y);
            ++p;
            --n;
            auto& b = r.gl.polygonBounds;
            b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x + 1), std::max(b[3], y + 1)};
        };
        if (first && n) {
            // The polygon's first point, pen up, before polygon mode.
            take(lx, ly);
            PeWriteAbsolute(r, lx, ly, true);
            SpoolWrite(r, ";PM0PE");
            peOpen = true;
            first = false;
        } else if ((piece.flags & PD_BEGINSUBPATH) && n) {
            SpoolWrite(r, "PM1");
            take(lx, ly);
            PeWriteAbsolute(r, lx, ly, true);
            peOpen = true;
        }
        if ((piece.flags & PD_BEZIERS) && n % 3) {
            close();
            SpoolWrite(r, "PM2");
            if (drew) *drew = any;
            return false;
        }
        if (n) any = true;
        if (piece.flags & PD_BEZIERS) {
            if (peOpen) SpoolWrite(r, ";");
            peOpen = false;
            while (n) {
                int32_t c[6];
                for (int i = 0; i < 3; ++i) take(c[2 * i], c[2 * i + 1]);
                SpoolFormat(r, bzOpen ? ",%d,%d,%d,%d,%d,%d" : "PDBZ%d,%d,%d,%d,%d,%d",
                            {c[0], c[1], c[2], c[3], c[4], c[5]});
                bzOpen = true;
                lx = c[4];
                ly = c[5];
            }
        } else if (n) {
            if (bzOpen || !peOpen) {
                if (bzOpen) SpoolWrite(r, ";");
                bzOpen = false;
                take(lx, ly);
                PeWriteAbsolute(r, lx, ly, false);
            }
            char* end = run;
            while (n) {
                int32_t x, y;
                take(x, y);
                end = PeEncodeTo(y - ly, PeEncodeTo(x - lx, end));
                lx = x;
                ly = y;
                if (end - run > kRunFlush) {
                    SpoolWrite(r, run, static_cast<int32_t>(end - run));
                    end = run;
                }
            }
            SpoolWrite(r, run, static_cast<int32_t>(end - run));
            peOpen = true;
        }
        if (piece.flags & PD_ENDSUBPATH) {
            close();
            if (!(piece.flags & PD_CLOSEFIGURE) && !first) SpoolWrite(r, "PU");
        }
    } while (more);
    close();
    if (!first) SpoolWrite(r, "PM2");
    if (drew) *drew = any;
    r.gl.pendingSemicolon = false;
    return true;
}

RECTL Gl2PolygonReach(const DeviceRecord& r, bool edge) {
    const Gl2State& g = r.gl;
    // An edge reaches past the points by half the pen, a mitre by up to
    // the mitre limit times that; a pixel more either way for rounding.
    int64_t reach = 2;
    if (edge) reach += static_cast<int64_t>(std::max(1, g.penWidth)) * static_cast<int64_t>(std::clamp(g.miterLimit, 2.0f, 32767.0f));
    const auto& b = g.polygonBounds;
    auto at = [](int64_t v) { return static_cast<LONG>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    return {at(b[0] - reach), at(b[1] - reach), at(b[2] + reach), at(b[3] + reach)};
}

void Gl2DrawPolygonIn(DeviceRecord& r, const RECTL* clip, bool winding, bool edge, bool fill) {
    if (clip) {
        const int32_t rect[4] = {clip->left, clip->top, clip->right, clip->bottom};
        SetInputWindow(r, rect);
    } else {
        SetInputWindow(r, nullptr);
    }
    if (fill) SpoolWrite(r, winding ? "FP1" : "FP");
    if (edge) SpoolWrite(r, "EP");
    r.gl.pendingSemicolon = true;
}

void Gl2FillRectangle(DeviceRecord& r, const RECTL& rect) {
    SpoolFormat(r, "PUPA%d,%dRR%d,%d", {rect.left, rect.bottom, rect.right - rect.left, rect.top - rect.bottom});
    r.gl.pendingSemicolon = true;
}

int32_t Gl2DeviceWidth(float width, float m21, float m22) {
    // The length of the pen's width across the page, to the nearest pixel:
    // the engine draws the unrounded width, so cutting the fraction off
    // printed pens a pixel thinner (a one-unit outline 2.88 pixels wide as
    // 2 rather than 3).
    const double d = std::hypot(double{width} * m21, double{width} * m22);
    if (!(d < INT32_MAX)) return std::isnan(d) ? 0 : INT32_MAX;
    return static_cast<int32_t>(std::lround(d));
}

uint32_t DashHundredths(float length, double scale) {
    const double d = std::fabs(double{length} * scale) * 100;
    if (!(d < UINT32_MAX)) return std::isnan(d) ? 0 : UINT32_MAX;
    return static_cast<uint32_t>(std::lround(d));
}

void Gl2WriteMillimetres(DeviceRecord& r, int32_t whole, int32_t fraction) {
    const char* format = fraction >= 10000 ? "%l.%l"
                         : fraction >= 1000 ? "%l.0%l"
                         : fraction >= 100  ? "%l.00%l"
                         : fraction >= 10   ? "%l.000%l"
                                            : "%l.0000%l";
    SpoolFormat(r, format, {whole, fraction});
}

namespace {

// Line type 8 with the pattern length in millimetres (absolute mode).
void WriteDashLineType(DeviceRecord& r) {
    const uint64_t dpi = std::max<uint16_t>(1, r.resolution);
    const uint64_t length = std::min<uint64_t>((uint64_t{r.gl.dashPattern} * 25400 + dpi / 2) / dpi, 3276700000ull);
    SpoolWrite(r, "LT8,");
    Gl2WriteMillimetres(r, static_cast<int32_t>(length / 100000), static_cast<int32_t>(length % 100000));
    SpoolWrite(r, ",1");
    r.gl.pendingSemicolon = true;
}

}  // namespace

void Gl2DefineDash(DeviceRecord& r, std::span<const uint32_t> lengths) {
    const size_t n = std::min<size_t>(lengths.size(), 20);
    SpoolWrite(r, "UL8");
    uint64_t total = 0;
    for (int pass = 0; pass < (n == 2 ? 2 : 1); ++pass)
        for (size_t i = 0; i < n; ++i) {
            // Whole pixels as they are, others with their hundredths.
            const uint32_t v = lengths[i];
            if (v % 100) SpoolFormat(r, v % 100 < 10 ? ",%l.0%l" : ",%l.%l", {static_cast<int32_t>(v / 100), static_cast<int32_t>(v % 100)});
            else SpoolFormat(r, ",%l", {static_cast<int32_t>(v / 100)});
            total += v;
        }
    // UL's lengths are shares of the pattern: the pattern is as long as the
    // lengths together, so each dash prints at its own length.
    r.gl.dashPattern = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
    WriteDashLineType(r);
    r.gl.lineType = 8;
}

void Gl2SetLineAttributes(DeviceRecord& r, LINEATTRS& la, float m21, float m22, double dashScale) {
    if (!(dashScale >= 0)) dashScale = std::hypot(double{m21}, double{m22});
    Gl2State& g = r.gl;
    const bool geometric = la.fl & LA_GEOMETRIC;
    int32_t width = 0;
    if (geometric) {
        bool written = false;
        if (la.iJoin != g.lineJoin) {
            g.lineJoin = la.iJoin;
            SpoolFormat(r, "LA2,%d", {la.iJoin == JOIN_ROUND ? 4 : la.iJoin == JOIN_BEVEL ? 5 : 1});
            written = true;
        }
        if (la.iEndCap != g.lineCap) {
            g.lineCap = la.iEndCap;
            SpoolFormat(r, written ? ",1,%d" : "LA1,%d", {la.iEndCap == ENDCAP_ROUND ? 4 : la.iEndCap == ENDCAP_SQUARE ? 2 : 1});
            written = true;
        }
        if (!(la.eMiterLimit >= 1.0f)) la.eMiterLimit = 1.0f;
        if (la.eMiterLimit != g.miterLimit) {
            g.miterLimit = la.eMiterLimit;
            SpoolFormat(r, written ? ",3,%l" : "LA3,%l", {static_cast<int32_t>(std::min(la.eMiterLimit, 32767.0f))});
            written = true;
        }
        if (written) g.pendingSemicolon = true;
        width = Gl2DeviceWidth(la.elWidth.e, m21, m22);
    } else {
        // A cosmetic line has butt ends. At 600 and 1200 dpi it prints
        // wider than a dot (below), so a cap left from an earlier wide line
        // would lengthen every dash by the pen's width: the cap goes with it
        // when the printer holds another.
        if (g.lineCap != ENDCAP_BUTT) {
            g.lineCap = ENDCAP_BUTT;
            SpoolWrite(r, "LA1,1");
            g.pendingSemicolon = true;
        }
        width = la.elWidth.l;
    }
    if (r.resolution == 1200 && width <= 4) width = 4;
    else if (r.resolution == 600 && width <= 2) width = 2;
    if (width != g.penWidth || ColourAsked(r)) {
        g.penWidth = width;
        const int64_t t = static_cast<int64_t>(width) * 254, unit = 10 * static_cast<int64_t>(r.resolution);
        const int64_t rest = t % unit;
        SpoolWrite(r, "PW");
        Gl2WriteMillimetres(r, static_cast<int32_t>(t / unit), static_cast<int32_t>((rest * 20000 / r.resolution + 1) / 2));
        g.pendingSemicolon = true;
    }
    if (!geometric && (la.fl & LA_ALTERNATE)) {
        const uint16_t type = width > 1 ? 2 : 1;
        if (g.lineType != type) SpoolWrite(r, type == 2 ? "LT2,2,1" : "LT1,0.5,1");
        g.lineType = type;
        g.pendingSemicolon = true;
        return;
    }
    const size_t count = la.pstyle ? la.cstyle : 0;
    std::vector<uint32_t> style(count);
    for (size_t i = 0; i < count; ++i) std::memcpy(&style[i], &la.pstyle[i], sizeof style[i]);
    const bool unchanged = style == g.dashStyle && geometric == g.dashGeometric;
    auto solid = [&] {
        if (g.lineType != 0) {
            SpoolWrite(r, "LT");
            g.pendingSemicolon = true;
        }
        g.lineType = 0;
    };
    if (!count) return solid();
    if (unchanged) {
        if (g.lineType != 8) WriteDashLineType(r);
        g.lineType = 8;
        return;
    }
    // In hundredths of a pixel: a geometric dash is as long as the engine
    // draws it, not a whole pixel (86.1 pixels sent as 86 put the dashes
    // of a 330-pixel line 4 pixels off by its end).
    std::vector<uint32_t> lengths(count);
    for (size_t i = 0; i < count; ++i)
        lengths[i] = geometric ? DashHundredths(la.pstyle[i].e, dashScale)
                               : static_cast<uint32_t>(std::clamp<int64_t>(int64_t{la.pstyle[i].l} * 100, 0, UINT32_MAX));
    Gl2DefineDash(r, lengths);
    g.dashStyle = std::move(style);
    g.dashGeometric = geometric;
}

}  // namespace pclrend
