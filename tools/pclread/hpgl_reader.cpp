#include "pclread/hpgl_reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace pclread {

namespace {

// The RF command of a grey `level` (0 black, 255 white) under raster fill
// `index`.
std::string GreyAsRasterFill(int level, int index) {
    // A 16 x 16 ordered dither (each cell's rank by bit-reversed interleaving
    // of its coordinates): any 16 x 16 window of its tiling holds every cell
    // once, so its tone is exact wherever it is anchored.
    const int ink = ((255 - std::clamp(level, 0, 255)) * 256 + 127) / 255;
    std::string rf = "RF" + std::to_string(index) + ",16,16";
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            int rank = 0;
            for (int bit = 0; bit < 4; ++bit) {
                const int xb = (x >> bit) & 1, yb = (y >> bit) & 1;
                rank |= ((xb ^ yb) << (7 - 2 * bit)) | (yb << (6 - 2 * bit));
            }
            rf += rank < ink ? ",1" : ",0";
        }
    return rf + ";";
}

}  // namespace

std::vector<uint8_t> VendorGreysAsShading(std::span<const uint8_t> job) {
    const std::string s(job.begin(), job.end());
    std::string out;
    size_t at = 0;
    for (size_t hit; (hit = std::min(s.find("FT9,", at), s.find("SV9,", at))) != std::string::npos;) {
        size_t end = hit + 4;
        int level = 0;
        while (end < s.size() && std::isdigit(static_cast<unsigned char>(s[end])) && level < 1000)
            level = level * 10 + (s[end++] - '0');
        out.append(s, at, hit - at);
        // Raster fill 1 serves the areas, 2 the lines: each is defined
        // again right before it is selected.
        const bool area = s[hit] == 'F';
        out += GreyAsRasterFill(level, area ? 1 : 2) + (area ? "FT11,1" : "SV2,2");
        at = end;
    }
    out.append(s, at, std::string::npos);
    return {out.begin(), out.end()};
}

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr double kPlotterUnits = 1016.0;  // per inch
constexpr double kBig = 1e9;               // numbers beyond are cut: no overflow, no infinity
constexpr size_t kMaxPolygonPoints = 200000;
constexpr double kMaxDashes = 20000;  // pattern repeats along one line
constexpr uint32_t kWhite = 0xFFFFFF;

bool IsLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }
bool IsNumberStart(uint8_t b) { return (b >= '0' && b <= '9') || b == '-' || b == '+' || b == '.'; }

double Finite(double v) { return std::isfinite(v) ? std::clamp(v, -kBig, kBig) : 0.0; }

// Device positions on a grid of 1/4096 dot: a whole-dot coordinate through
// the scaling points comes out a hair below the dot (1319.99999), which
// would ink the dot before.
double OnGrid(double v) { return Finite(std::round(v * 4096) / 4096); }

// Lengths in millimetres with five decimals name whole dots to within a
// ten-thousandth of a millimetre: such a length is that whole number of
// dots (a 2-dot pen is 2 dots, not 2.00004, whose edges would straddle two
// pixel centres and ink a third row).
double WholeDotsNear(double dots) {
    const double whole = std::round(dots);
    return std::fabs(dots - whole) < 1e-3 ? whole : dots;
}

// The least pen width of the printer, in millimetres: every line thinner
// prints at it.
constexpr double kLeastPenMm = 0.08467;

}  // namespace

uint32_t Mix(uint32_t colour, double inkFraction) {
    const double f = std::clamp(inkFraction, 0.0, 1.0);
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const double c = (colour >> shift) & 0xFF;
        out |= static_cast<uint32_t>(std::lround(255 - (255 - c) * f)) << shift;
    }
    return out;
}

// Pixels whose centres lie inside polygons, within a box.
class GlMask {
public:
    explicit GlMask(GlBox b) : box_(b), bits_(b.Empty() ? 0 : static_cast<size_t>(b.right - b.left) * (b.bottom - b.top), 0) {}
    const GlBox& Bounds() const { return box_; }
    bool At(int32_t x, int32_t y) const { return bits_[Index(x, y)]; }
    void Set(int32_t x, int32_t y) {
        if (x >= box_.left && x < box_.right && y >= box_.top && y < box_.bottom) bits_[Index(x, y)] = 1;
    }

    // Scan conversion at pixel centres by the even-odd or nonzero rule.
    void Fill(const std::vector<GlReader::Poly>& polys, bool nonzero) {
        if (box_.Empty()) return;
        double minY = kBig, maxY = -kBig;
        for (const auto& p : polys)
            for (const auto& q : p) minY = std::min(minY, q.y), maxY = std::max(maxY, q.y);
        const int32_t y0 = std::max(box_.top, static_cast<int32_t>(std::floor(std::max(minY, -kBig))));
        const int32_t y1 = std::min(box_.bottom, static_cast<int32_t>(std::ceil(std::min(maxY, kBig))) + 1);
        std::vector<std::pair<double, int>> xs;
        for (int32_t y = y0; y < y1; ++y) {
            const double cy = y + 0.5;
            xs.clear();
            for (const auto& p : polys) {
                const size_t n = p.size();
                for (size_t i = 0; i < n && n >= 2; ++i) {
                    const auto& a = p[i];
                    const auto& b = p[(i + 1) % n];
                    if (a.y == b.y) continue;
                    const bool up = a.y < b.y;
                    const double lo = up ? a.y : b.y, hi = up ? b.y : a.y;
                    if (cy < lo || cy >= hi) continue;
                    xs.push_back({a.x + (cy - a.y) * (b.x - a.x) / (b.y - a.y), up ? 1 : -1});
                }
            }
            std::sort(xs.begin(), xs.end());
            int winding = 0;
            for (size_t i = 0; i + 1 < xs.size(); ++i) {
                winding += nonzero ? xs[i].second : 1;
                const bool inside = nonzero ? winding != 0 : (winding & 1);
                if (!inside) continue;
                const double a = std::max<double>(xs[i].first, box_.left), b = std::min<double>(xs[i + 1].first, box_.right);
                for (int32_t x = static_cast<int32_t>(std::ceil(a - 0.5)); x < static_cast<int32_t>(std::ceil(b - 0.5)); ++x)
                    if (x >= box_.left && x < box_.right) bits_[Index(x, y)] = 1;
            }
        }
    }

    // A one-dot line through the pixels the segment passes.
    void Thin(GlReader::Pt a, GlReader::Pt b) {
        // Only the part within the box (and a pixel around) is walked.
        double t0 = 0, t1 = 1;
        const double ddx = b.x - a.x, ddy = b.y - a.y;
        const double lo[2] = {box_.left - 1.0, box_.top - 1.0}, hi[2] = {box_.right + 1.0, box_.bottom + 1.0};
        const double p0[2] = {a.x, a.y}, d[2] = {ddx, ddy};
        for (int k = 0; k < 2; ++k) {
            if (d[k] == 0) {
                if (p0[k] < lo[k] || p0[k] > hi[k]) return;
                continue;
            }
            double u0 = (lo[k] - p0[k]) / d[k], u1 = (hi[k] - p0[k]) / d[k];
            if (u0 > u1) std::swap(u0, u1);
            t0 = std::max(t0, u0), t1 = std::min(t1, u1);
        }
        if (t0 > t1) return;
        b = {a.x + ddx * t1, a.y + ddy * t1};
        a = {a.x + ddx * t0, a.y + ddy * t0};
        const double dx = b.x - a.x, dy = b.y - a.y;
        const double steps = std::min(4e6, std::ceil(std::max(std::fabs(dx), std::fabs(dy))));
        for (double i = 0; i <= steps; ++i) {
            const double t = steps > 0 ? i / steps : 0;
            const double x = std::floor(a.x + dx * t), y = std::floor(a.y + dy * t);
            if (x >= box_.left && x < box_.right && y >= box_.top && y < box_.bottom)
                Set(static_cast<int32_t>(x), static_cast<int32_t>(y));
        }
    }

private:
    size_t Index(int32_t x, int32_t y) const {
        return static_cast<size_t>(y - box_.top) * static_cast<size_t>(box_.right - box_.left) + static_cast<size_t>(x - box_.left);
    }
    GlBox box_;
    std::vector<uint8_t> bits_;
};

namespace {

using Pt = GlReader::Pt;
using Poly = GlReader::Poly;

Pt Add(Pt a, Pt b) { return {a.x + b.x, a.y + b.y}; }
Pt Sub(Pt a, Pt b) { return {a.x - b.x, a.y - b.y}; }
Pt Mul(Pt a, double k) { return {a.x * k, a.y * k}; }
double Len(Pt a) { return std::hypot(a.x, a.y); }

// A polygon around the circle, its sides touching it, one side across the
// top, bottom, left and right: the rows and columns at the circle's extremes
// are inked as a square of the same size inks them (a corner on the
// extreme would give a span of nothing there).
Poly Circle(Pt c, double r) {
    const int n = 4 * std::clamp(static_cast<int>(r), 4, 32);
    const double out = r / std::cos(M_PI / n);
    Poly p;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * (i + 0.5) / n;
        p.push_back({c.x + out * std::cos(a), c.y + out * std::sin(a)});
    }
    return p;
}

// The pieces of a wide stroke along one polyline: a quadrilateral per
// segment, a join at every inner vertex (and all round when closed), caps
// at the open ends.
void StrokePieces(const Poly& line, bool closed, double width, int cap, int join, double miter, std::vector<Poly>& out) {
    Poly pts;
    for (const auto& p : line)
        if (pts.empty() || Len(Sub(p, pts.back())) > 1e-9) pts.push_back(p);
    if (closed && pts.size() > 2 && Len(Sub(pts.front(), pts.back())) < 1e-9) pts.pop_back();
    const double h = width / 2;
    if (pts.size() == 1) {
        // A dot: a round or square spot of the pen's width.
        if (cap == 4) out.push_back(Circle(pts[0], h));
        else out.push_back({{pts[0].x - h, pts[0].y - h}, {pts[0].x + h, pts[0].y - h}, {pts[0].x + h, pts[0].y + h}, {pts[0].x - h, pts[0].y + h}});
        return;
    }
    const size_t n = pts.size();
    const size_t segments = closed ? n : n - 1;
    auto dir = [&](size_t i) {
        const Pt d = Sub(pts[(i + 1) % n], pts[i]);
        return Mul(d, 1 / Len(d));
    };
    for (size_t i = 0; i < segments; ++i) {
        const Pt a = pts[i], b = pts[(i + 1) % n], d = dir(i);
        const Pt nrm{-d.y * h, d.x * h};
        Pt a0 = a, b0 = b;
        if (!closed && cap == 2) {
            if (i == 0) a0 = Sub(a, Mul(d, h));
            if (i + 1 == segments) b0 = Add(b, Mul(d, h));
        }
        out.push_back({Add(a0, nrm), Add(b0, nrm), Sub(b0, nrm), Sub(a0, nrm)});
    }
    // Joins.
    for (size_t k = closed ? 0 : 1; k < (closed ? n : n - 1); ++k) {
        const size_t prev = (k + segments - 1) % segments;
        const Pt d1 = dir(prev), d2 = dir(k), b = pts[k];
        if (join == 6) continue;
        if (join == 4) {
            out.push_back(Circle(b, h));
            continue;
        }
        const double cross = d1.x * d2.y - d1.y * d2.x;
        if (std::fabs(cross) < 1e-12) continue;
        const double s = cross > 0 ? -1 : 1;  // the outer side
        const Pt o1 = Mul(Pt{-d1.y, d1.x}, s * h), o2 = Mul(Pt{-d2.y, d2.x}, s * h);
        const double cosPhi = (o1.x * o2.x + o1.y * o2.y) / (h * h);
        const double ratio = 1 / std::sqrt(std::max(1e-12, (1 + cosPhi) / 2));
        if ((join == 1 || join == 2) && ratio <= miter) {
            const Pt mid = Add(o1, o2);
            const Pt tip = Add(b, Mul(mid, h * ratio / Len(mid)));
            out.push_back({b, Add(b, o1), tip, Add(b, o2)});
        } else if (join == 3) {
            const Pt mid = Add(o1, o2);
            out.push_back({b, Add(b, o1), Add(b, Mul(mid, h / Len(mid))), Add(b, o2)});
        } else {
            out.push_back({b, Add(b, o1), Add(b, o2)});
        }
    }
    if (closed) return;
    // Caps.
    const Pt ends[2] = {pts.front(), pts.back()};
    const Pt outward[2] = {Mul(dir(0), -1), dir(n - 2)};
    for (int e = 0; e < 2; ++e) {
        if (cap == 4) {
            out.push_back(Circle(ends[e], h));
        } else if (cap == 3) {
            const Pt d = outward[e];
            const Pt nrm{-d.y * h, d.x * h};
            out.push_back({Add(ends[e], nrm), Add(ends[e], Mul(d, h)), Sub(ends[e], nrm)});
        }
    }
}

// The dashes of a polyline: percentages of the pattern, drawn first.
std::vector<Poly> Dashes(const Poly& line, bool closed, const std::vector<double>& pattern, double length) {
    Poly pts = line;
    if (closed && !pts.empty()) pts.push_back(pts.front());
    double sum = 0;
    for (double v : pattern) sum += v;
    if (sum <= 0 || length <= 0.5 || pts.size() < 2) return {pts};
    std::vector<double> lengths;
    for (double v : pattern) lengths.push_back(v / sum * length);
    double total = 0;
    for (size_t i = 0; i + 1 < pts.size(); ++i) total += Len(Sub(pts[i + 1], pts[i]));
    if (total / length > kMaxDashes) return {pts};  // finer than any page shows: drawn solid
    std::vector<Poly> out;
    size_t k = 0;
    double left = lengths[0];
    bool on = true;
    Poly current{pts[0]};
    size_t guard = 0;
    for (size_t i = 0; i + 1 < pts.size(); ++i) {
        Pt a = pts[i];
        const Pt b = pts[i + 1];
        double seg = Len(Sub(b, a));
        while (seg > left && ++guard < 1000000) {
            const Pt d = Mul(Sub(b, a), 1 / seg);
            a = Add(a, Mul(d, left));
            seg -= left;
            if (on) {
                current.push_back(a);
                out.push_back(current);
            }
            current = {a};
            on = !on;
            k = (k + 1) % lengths.size();
            left = lengths[k];
        }
        left -= seg;
        if (on) current.push_back(b);
    }
    if (on && !current.empty()) out.push_back(current);
    return out;
}

const std::vector<double>& FixedLineType(int type) {
    static const std::vector<double> kTypes[9] = {
        {100},
        {0, 100},
        {50, 50},
        {70, 30},
        {80, 10, 0, 10},
        {70, 10, 10, 10},
        {50, 10, 10, 10, 10, 10},
        {70, 10, 0, 10, 0, 10},
        {50, 10, 0, 10, 10, 10, 0, 10},
    };
    return kTypes[std::clamp(type, 0, 8)];
}

}  // namespace

bool HatchInk(int n, int32_t x, int32_t y, int32_t dpi) {
    const int32_t period = 16 * std::max(1, dpi / 300), w = std::max(1, dpi / 300);
    const int32_t px = ((x % period) + period) % period, py = ((y % period) + period) % period;
    const bool h = py < w, v = px < w;
    const bool d1 = ((px + py) % period) < w, d2 = (((px - py) % period + period) % period) < w;
    switch (n) {
    case 1: return h;
    case 2: return v;
    case 3: return d1;
    case 4: return d2;
    case 5: return h || v;
    case 6: return d1 || d2;
    default: return false;
    }
}

uint32_t RgbRop3(uint8_t rop, uint32_t texture, uint32_t source, uint32_t destination) {
    uint32_t out = 0;
    for (int idx = 0; idx < 8; ++idx) {
        if (!((rop >> idx) & 1)) continue;
        const uint32_t t = idx & 4 ? texture : ~texture, s = idx & 2 ? source : ~source, d = idx & 1 ? destination : ~destination;
        out |= t & s & d;
    }
    return out & kWhite;
}

void GlReader::Initialize() {
    p1p2Default_ = true;
    scaled_ = false;
    window_ = false;
    pen_ = {};
    penDown_ = false;
    relative_ = false;
    pen_number_ = 1;
    penWidthMm_ = 0.35;
    widthRelative_ = false;
    cap_ = 1;
    join_ = 1;
    miter_ = 5;
    lineType_ = 0;
    lineTypeOn_ = false;
    patternLength_ = 4;
    patternAbsolute_ = false;
    userLines_.clear();
    areaFill_ = {1, 0};
    lineFill_ = {0, 0};
    rop_ = 252;
    transparent_ = true;
    rasterFills_.clear();
    line_.clear();
    polygonMode_ = false;
    polygon_.clear();
}

void GlReader::FrameChanged(GlSurface&) {
    p1p2Default_ = true;
    window_ = false;
}

void GlReader::Error(const std::string& what, size_t offset) {
    if (out_.errors && out_.errors->size() < 100) out_.errors->push_back(what + " (offset " + std::to_string(offset) + ")");
}

void GlReader::Command(const std::string& mn, std::vector<double> params, std::string text, size_t offset) {
    if (out_.commands && out_.commands->size() < 1000000)
        out_.commands->push_back({mn, std::move(params), std::move(text), offset});
}

double GlReader::Scale(GlSurface& s) const {
    double fx, fy, fw, fh, pw, ph;
    s.Frame(fx, fy, fw, fh, pw, ph);
    return pw > 0 ? fw / pw : s.Dpi() / kPlotterUnits;
}

GlReader::Pt GlReader::ToDevice(GlSurface& s, Pt u) const {
    double fx, fy, fw, fh, pw, ph;
    s.Frame(fx, fy, fw, fh, pw, ph);
    const double kx = pw > 0 ? fw / pw : s.Dpi() / kPlotterUnits;
    const double ky = ph > 0 ? fh / ph : s.Dpi() / kPlotterUnits;
    Pt p1 = p1_, p2 = p2_;
    if (p1p2Default_) p1 = {0, 0}, p2 = {fw / kx, fh / ky};
    Pt plot = u;
    if (scaled_) {
        if (scaleType_ == 2) {
            plot = {p1.x + (u.x - sc_[0]) * sc_[1], p1.y + (u.y - sc_[2]) * sc_[3]};
        } else {
            const double dx = sc_[1] - sc_[0], dy = sc_[3] - sc_[2];
            plot = {p1.x + (dx ? (u.x - sc_[0]) * (p2.x - p1.x) / dx : 0), p1.y + (dy ? (u.y - sc_[2]) * (p2.y - p1.y) / dy : 0)};
        }
    }
    return {OnGrid(fx + plot.x * kx), OnGrid(fy + fh - plot.y * ky)};
}

GlReader::Pt GlReader::ToUser(GlSurface& s, Pt d) const {
    // The transformation is affine and axis-aligned: two probes give it.
    const Pt o = ToDevice(s, {0, 0}), e = ToDevice(s, {1, 1});
    const double ax = e.x - o.x, ay = e.y - o.y;
    return {ax ? (d.x - o.x) / ax : 0, ay ? (d.y - o.y) / ay : 0};
}

double GlReader::PenWidthDots(GlSurface& s) const {
    if (widthRelative_) {
        const Pt a = ToDevice(s, {0, 0});
        (void)a;
        const double diag = Len(Sub(p2_, p1_)) * Scale(s);
        return penWidthMm_ / 100 * diag;
    }
    return WholeDotsNear(penWidthMm_ / 25.4 * kPlotterUnits * Scale(s));
}

void GlReader::Enter(GlSurface& s, bool penAtCursor, double cursorX, double cursorY) {
    line_.clear();
    if (penAtCursor) pen_ = ToUser(s, {cursorX, cursorY});
}

void GlReader::DefaultWindow() { window_ = false; }

void GlReader::MoveTo(GlSurface& s, Pt p, bool down) {
    (void)s;
    p = {Finite(p.x), Finite(p.y)};
    if (polygonMode_) {
        if (polygon_.empty()) polygon_.push_back({});
        SubPolygon& sub = polygon_.back();
        if (polygonPoints_ < kMaxPolygonPoints) {
            polygonPoints_ += 2;
            if (sub.points.empty() && down) {
                sub.points.push_back(pen_);
                sub.drawn.push_back(false);
            }
            sub.points.push_back(p);
            sub.drawn.push_back(down && sub.points.size() > 1);
        }
    } else if (down) {
        if (line_.empty()) line_.push_back(pen_);
        if (line_.size() < kMaxPolygonPoints) line_.push_back(p);
    } else {
        FlushLine(s);
    }
    pen_ = p;
    penDown_ = down;
}

void GlReader::Bezier(GlSurface& s, Pt c1, Pt c2, Pt end) {
    const Pt a = pen_;
    const double span = Len(Sub(c1, a)) + Len(Sub(c2, c1)) + Len(Sub(end, c2));
    const int n = std::clamp(static_cast<int>(span * Scale(s) * kPlotterUnits / s.Dpi() / 4), 4, 64);
    for (int i = 1; i <= n; ++i) {
        const double t = static_cast<double>(i) / n, u = 1 - t;
        const Pt p{u * u * u * a.x + 3 * u * u * t * c1.x + 3 * u * t * t * c2.x + t * t * t * end.x,
                   u * u * u * a.y + 3 * u * u * t * c1.y + 3 * u * t * t * c2.y + t * t * t * end.y};
        MoveTo(s, i == n ? end : p, true);
    }
}

void GlReader::FlushLine(GlSurface& s) {
    if (line_.size() >= 2) {
        Poly line = std::move(line_);
        line_.clear();
        StrokePolylines(s, {line}, {false}, true);
    }
    line_.clear();
}

void GlReader::StrokePolylines(GlSurface& s, const std::vector<Poly>& lines, const std::vector<bool>& closed, bool) {
    if (pen_number_ == 0) return;  // pen 0: nothing drawn
    const double width = PenWidthDots(s);
    std::vector<double> pattern = FixedLineType(0);
    double length = 0;
    if (lineTypeOn_) {
        const auto user = userLines_.find(std::abs(lineType_));
        pattern = user != userLines_.end() ? user->second : FixedLineType(std::min(std::abs(lineType_), 8));
        length = patternAbsolute_ ? WholeDotsNear(patternLength_ / 25.4 * kPlotterUnits * Scale(s))
                                  : patternLength_ / 100 * Len(Sub(p2_, p1_)) * Scale(s);
        if (p1p2Default_ && !patternAbsolute_) {
            double fx, fy, fw, fh, pw, ph;
            s.Frame(fx, fy, fw, fh, pw, ph);
            length = patternLength_ / 100 * std::hypot(fw, fh);
        }
    }
    std::vector<Poly> pieces;
    std::vector<bool> pieceClosed;
    for (size_t i = 0; i < lines.size(); ++i) {
        Poly dev;
        for (const auto& p : lines[i]) dev.push_back(ToDevice(s, p));
        if (length > 0) {
            for (auto& d : Dashes(dev, closed[i], pattern, length)) {
                pieces.push_back(std::move(d));
                pieceClosed.push_back(false);
            }
        } else {
            pieces.push_back(std::move(dev));
            pieceClosed.push_back(closed[i]);
        }
    }
    std::vector<Poly> shapes;
    std::vector<std::pair<Pt, Pt>> thin;
    // Pieces wholly off the page draw nothing.
    const double reach = width / 2 + 2;
    auto offPage = [&](const Poly& p) {
        double l = kBig, t = kBig, r = -kBig, b = -kBig;
        for (const auto& q : p) l = std::min(l, q.x), t = std::min(t, q.y), r = std::max(r, q.x), b = std::max(b, q.y);
        return r < -reach || b < -reach || l > s.Width() + reach || t > s.Height() + reach;
    };
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Poly& p = pieces[i];
        if (p.empty() || offPage(p)) continue;
        if (width <= 1.5) {
            for (size_t k = 0; k + 1 < p.size(); ++k) thin.push_back({p[k], p[k + 1]});
            if (pieceClosed[i] && p.size() > 2) thin.push_back({p.back(), p.front()});
            if (p.size() == 1) thin.push_back({p[0], p[0]});
        } else {
            // A coordinate names a pixel (the grid is centred): the pen is
            // centred on that pixel's middle, as a thin line inks the pixel
            // itself.
            Poly centred = p;
            for (auto& q : centred) q = Add(q, {0.5, 0.5});
            const size_t from = shapes.size();
            StrokePieces(centred, pieceClosed[i], width, cap_, join_, miter_, shapes);
            // An edge along a row or column of pixel centres is meant to lie
            // on it (an even pen's), not a rounding error to one side.
            for (size_t k = from; k < shapes.size(); ++k)
                for (auto& q : shapes[k]) q = {OnGrid(q.x), OnGrid(q.y)};
        }
    }
    // One mask for all pieces: overlaps paint once.
    double fx, fy, fw, fh, pw, ph;
    s.Frame(fx, fy, fw, fh, pw, ph);
    double l = kBig, t = kBig, r = -kBig, b = -kBig;
    auto grow = [&](Pt p) { l = std::min(l, p.x), t = std::min(t, p.y), r = std::max(r, p.x), b = std::max(b, p.y); };
    for (const auto& sh : shapes)
        for (const auto& p : sh) grow(p);
    for (const auto& [a, c] : thin) grow(a), grow(c);
    if (r < l) return;
    const GlBox box = ClipBox(s, l - 1, t - 1, r + 2, b + 2);
    if (box.Empty()) return;
    GlMask mask(box);
    for (const auto& sh : shapes) mask.Fill({sh}, true);
    for (const auto& [a, c] : thin) mask.Thin(a, c);
    // Paint through the line's fill.
    Fill fill = lineFill_;
    if (fill.kind == 0) fill.kind = 1;
    const GlBox painted = PaintMask(s, mask, fill, "SV");
    // A pen of the least width may stand for a thinner line: its ink lies
    // up to half its width beyond.
    if (width > 1.5 && !widthRelative_ && penWidthMm_ <= kLeastPenMm + 1e-5)
        Mark(s, "least-width pen", painted, std::max(1, static_cast<int32_t>(std::ceil((width - 1) / 2))));
    // Dashes of no whole number of dots: an interpreter that lays each dash
    // out in whole dots drifts along the line.
    if (length > 0) {
        double sum = 0;
        for (double v : pattern) sum += v;
        bool fractional = false;
        for (double v : pattern) {
            const double dots = sum > 0 ? v / sum * length : 0;
            fractional |= std::fabs(dots - std::round(dots)) > 1e-3;
        }
        if (fractional) Mark(s, "fractional dashes", painted, 0);
        // Where a dashed line ends in a gap, some interpreters ink a dash of
        // nothing there (a stub as wide as the pen).
        const double h = std::max(1.0, width) / 2 + 2;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].empty() || closed[i]) continue;
            const Pt e = ToDevice(s, lines[i].back());
            Mark(s, "dashed line end",
                 {static_cast<int32_t>(std::floor(e.x - h)), static_cast<int32_t>(std::floor(e.y - h)),
                  static_cast<int32_t>(std::ceil(e.x + h)) + 1, static_cast<int32_t>(std::ceil(e.y + h)) + 1},
                 0);
        }
    }
    // Sharp corners of a wide round-joined line.
    if (width > 1.5 && join_ == 4) {
        const double h = width / 2 + 1;
        for (size_t i = 0; i < pieces.size(); ++i) {
            const Poly& p = pieces[i];
            const size_t n = p.size();
            for (size_t k = 0; k < n && n >= 3; ++k) {
                if (!pieceClosed[i] && (k == 0 || k + 1 == n)) continue;
                const Pt a = p[(k + n - 1) % n], b = p[k], c = p[(k + 1) % n];
                const Pt d1 = Sub(b, a), d2 = Sub(c, b);
                const double l1 = Len(d1), l2 = Len(d2);
                if (l1 < 1e-9 || l2 < 1e-9 || (d1.x * d2.x + d1.y * d2.y) / (l1 * l2) > 0.866) continue;
                const GlBox corner{static_cast<int32_t>(std::floor(b.x - h)), static_cast<int32_t>(std::floor(b.y - h)),
                                   static_cast<int32_t>(std::ceil(b.x + h)) + 1, static_cast<int32_t>(std::ceil(b.y + h)) + 1};
                Mark(s, "round join", corner, 0);
            }
        }
    }
}

void GlReader::Mark(GlSurface& s, const char* what, const GlBox& painted, int32_t radius) {
    if (!out_.markedAreas || painted.Empty() || out_.markedAreas->size() >= 100000) return;
    out_.markedAreas->push_back({what, s.PageIndex(), painted.left, painted.top, painted.right, painted.bottom, radius});
}

GlBox GlReader::ClipBox(GlSurface& s, double l, double t, double r, double b) const {
    double fx, fy, fw, fh, pw, ph;
    s.Frame(fx, fy, fw, fh, pw, ph);
    GlBox box{static_cast<int32_t>(std::max<double>({std::floor(l), 0, std::floor(fx)})),
              static_cast<int32_t>(std::max<double>({std::floor(t), 0, std::floor(fy)})),
              static_cast<int32_t>(std::min<double>({std::ceil(r), static_cast<double>(s.Width()), std::ceil(fx + fw)})),
              static_cast<int32_t>(std::min<double>({std::ceil(b), static_cast<double>(s.Height()), std::ceil(fy + fh)}))};
    if (window_) {
        box.left = std::max(box.left, static_cast<int32_t>(win_[0]));
        box.top = std::max(box.top, static_cast<int32_t>(win_[1]));
        box.right = std::min(box.right, static_cast<int32_t>(win_[2]));
        box.bottom = std::min(box.bottom, static_cast<int32_t>(win_[3]));
    }
    return box;
}

void GlReader::PaintPolys(GlSurface& s, const std::vector<Poly>& polys, bool nonzero, const Fill& fill, const char* what) {
    if (pen_number_ == 0) return;
    {
        std::vector<Poly> dev;
        double l = kBig, t = kBig, r = -kBig, b = -kBig;
        for (const auto& p : polys) {
            Poly d;
            for (const auto& q : p) {
                const Pt v = ToDevice(s, q);
                l = std::min(l, v.x), t = std::min(t, v.y), r = std::max(r, v.x), b = std::max(b, v.y);
                d.push_back(v);
            }
            dev.push_back(std::move(d));
        }
        if (r < l) return;
        const GlBox box = ClipBox(s, l, t, r + 1, b + 1);
        if (box.Empty()) return;
        GlMask mask(box);
        mask.Fill(dev, nonzero);
        PaintMask(s, mask, fill, what);
    }
}

GlBox GlReader::PaintMask(GlSurface& s, const GlMask& m, const Fill& fill, const char* what) {
    const GlMask* mask = &m;
    const GlBox& box = mask->Bounds();
    const uint32_t penColour = s.PaletteColour(pen_number_);
    const PclPattern* pattern = fill.kind == 22 ? s.Pattern(static_cast<int>(fill.level)) : nullptr;
    const auto raster = fill.kind == 11 ? rasterFills_.find(static_cast<int>(fill.level)) : rasterFills_.end();
    if (fill.kind == 22 && !pattern) Error(std::string(what) + "22 names pattern " + std::to_string(static_cast<int>(fill.level)) + ", never downloaded", 0);
    GlBox painted{box.right, box.bottom, box.left, box.top};
    for (int32_t y = box.top; y < box.bottom; ++y)
        for (int32_t x = box.left; x < box.right; ++x) {
            if (!mask->At(x, y)) continue;
            uint32_t texture = penColour;
            bool patternWhite = false;
            switch (fill.kind) {
            case 9: {
                const uint32_t v = static_cast<uint32_t>(std::clamp(fill.level, 0.0, 255.0));
                texture = v | v << 8 | v << 16;
                break;
            }
            case 10: texture = Mix(penColour, fill.level / 100); break;
            case 21:
                patternWhite = !HatchInk(static_cast<int>(fill.level), x, y, s.Dpi());
                break;
            case 22:
                if (pattern && pattern->width > 0 && pattern->height > 0) {
                    const int32_t kx = pattern->xres > 0 ? std::max(1, s.Dpi() / pattern->xres) : 1;
                    const int32_t ky = pattern->yres > 0 ? std::max(1, s.Dpi() / pattern->yres) : 1;
                    const int32_t px = (x / kx) % pattern->width, py = (y / ky) % pattern->height;
                    const uint8_t v = pattern->pixels[static_cast<size_t>(py) * pattern->width + px];
                    if (pattern->colour) texture = s.PaletteColour(v);
                    else patternWhite = v == 0;
                    patternWhite |= pattern->colour && texture == kWhite;
                }
                break;
            case 11:
                if (raster != rasterFills_.end() && raster->second.width > 0) {
                    const auto& rf = raster->second;
                    const int pen = rf.pens[static_cast<size_t>(y % rf.height) * rf.width + x % rf.width];
                    texture = pen == 0 ? kWhite : s.PaletteColour(pen);
                    patternWhite = pen == 0;
                }
                break;
            default: break;
            }
            if (patternWhite) {
                if (transparent_) continue;
                texture = kWhite;
            }
            s.Set(x, y, RgbRop3(rop_, texture, 0, s.Get(x, y)));
            painted.left = std::min(painted.left, x), painted.right = std::max(painted.right, x + 1);
            painted.top = std::min(painted.top, y), painted.bottom = std::max(painted.bottom, y + 1);
        }
    if (fill.kind == 9 && out_.vendorAreas && !painted.Empty() && out_.vendorAreas->size() < 100000)
        out_.vendorAreas->push_back({std::string(what) + "9", static_cast<int>(fill.level), s.PageIndex(), painted.left,
                                     painted.top, painted.right, painted.bottom});
    // The whole area the hatch covers, its white too.
    if (fill.kind == 21) Mark(s, what[0] == 'F' ? "FT21" : "SV21", box, 0);
    return painted;
}

void GlReader::FillRect(GlSurface& s, Pt a, Pt b, bool edge) {
    const Poly rect{a, {b.x, a.y}, b, {a.x, b.y}};
    if (edge) StrokePolylines(s, {rect}, {true}, true);
    else PaintPolys(s, {rect}, false, areaFill_, "FT");
}

size_t GlReader::Read(std::span<const uint8_t> in, size_t pos, size_t base, GlSurface& s) {
    while (pos < in.size() && in[pos] != ESC) {
        const uint8_t b = in[pos];
        if (b == ';' || b == ' ' || b == ',' || b == '\n' || b == '\r' || b == '\t' || b == 0) {
            ++pos;
            continue;
        }
        if (!IsLetter(b) || pos + 1 >= in.size() || !IsLetter(in[pos + 1])) {
            Error("stray byte " + std::to_string(b) + " in HP-GL/2", base + pos);
            ++pos;
            continue;
        }
        const size_t at = pos;
        std::string mn{static_cast<char>(std::toupper(b)), static_cast<char>(std::toupper(in[pos + 1]))};
        pos += 2;
        if (mn == "PE") {
            ReadPe(in, pos, base, s);
            continue;
        }
        if (mn == "CO") {
            // A quoted comment.
            while (pos < in.size() && in[pos] == ' ') ++pos;
            std::string text;
            if (pos < in.size() && in[pos] == '"') {
                ++pos;
                while (pos < in.size() && in[pos] != '"') text += static_cast<char>(in[pos++]);
                if (pos >= in.size()) Error("HP-GL/2 comment not closed", base + at);
                else ++pos;
            }
            Command(mn, {}, text, base + at);
            continue;
        }
        if (mn == "LB") {
            std::string text;
            while (pos < in.size() && in[pos] != 3 && in[pos] != ESC) text += static_cast<char>(in[pos++]);
            if (pos < in.size() && in[pos] == 3) ++pos;
            else Error("label without its terminator", base + at);
            Command(mn, {}, text, base + at);
            continue;
        }
        std::vector<double> params;
        for (;;) {
            while (pos < in.size() && (in[pos] == ' ' || in[pos] == ',' || in[pos] == '\n' || in[pos] == '\r')) ++pos;
            if (pos >= in.size() || !IsNumberStart(in[pos])) break;
            std::string num;
            while (pos < in.size() && (IsNumberStart(in[pos])) && num.size() < 40) {
                if ((in[pos] == '-' || in[pos] == '+') && !num.empty()) break;
                num += static_cast<char>(in[pos++]);
            }
            char* end = nullptr;
            const double v = std::strtod(num.c_str(), &end);
            if (end == num.c_str()) {
                Error("malformed number in " + mn, base + pos);
                break;
            }
            if (params.size() < 100000) params.push_back(Finite(v));
        }
        if (pos < in.size() && in[pos] == ';') ++pos;
        Execute(mn, params, s, base + at);
    }
    FlushLine(s);
    return pos;
}

void GlReader::ReadPe(std::span<const uint8_t> in, size_t& pos, size_t base, GlSurface& s) {
    const size_t start = pos;
    bool up = false, absolute = false, sevenBit = false;
    int fraction = 0;
    std::vector<double> points;
    // One signed number of the encoding; false when cut off.
    auto number = [&](double& out) {
        double n = 0, mult = 1;
        while (pos < in.size()) {
            const uint8_t b = in[pos];
            if (b == ESC || b == ';') return false;
            ++pos;
            if (!sevenBit) {
                if (b >= 63 && b <= 126) {
                    n += (b - 63) * mult;
                    mult *= 64;
                } else if (b >= 191 && b <= 254) {
                    n += (b - 191) * mult;
                    const double whole = std::floor(n / 2);
                    out = (std::fmod(n, 2) != 0 ? -whole : whole) / std::ldexp(1.0, fraction);
                    return true;
                } else {
                    Error("byte " + std::to_string(b) + " inside a PE number", base + pos - 1);
                }
            } else {
                if (b >= 63 && b <= 94) {
                    n += (b - 63) * mult;
                    mult *= 32;
                } else if (b >= 95 && b <= 126) {
                    n += (b - 95) * mult;
                    const double whole = std::floor(n / 2);
                    out = (std::fmod(n, 2) != 0 ? -whole : whole) / std::ldexp(1.0, fraction);
                    return true;
                } else {
                    Error("byte " + std::to_string(b) + " inside a PE number", base + pos - 1);
                }
            }
            if (mult > 1e12) {
                Error("PE number too long", base + pos);
                return false;
            }
        }
        return false;
    };
    for (;;) {
        if (pos >= in.size()) {
            Error("PE not ended by ;", base + start);
            break;
        }
        const uint8_t b = in[pos];
        if (b == ESC) {
            Error("PE not ended by ;", base + start);
            break;
        }
        if (b == ';') {
            ++pos;
            break;
        }
        if (b == '<') {
            up = true;
            ++pos;
        } else if (b == '=') {
            absolute = true;
            ++pos;
        } else if (b == '7') {
            sevenBit = true;
            ++pos;
        } else if (b == '>' || b == ':') {
            ++pos;
            const int saved = fraction;
            fraction = 0;
            double v = 0;
            const bool ok = number(v);
            fraction = saved;
            if (!ok) continue;
            if (b == '>') fraction = static_cast<int>(std::clamp(v, 0.0, 26.0));
            else pen_number_ = static_cast<int>(std::clamp(v, 0.0, 255.0));
        } else if ((b >= 63 && b <= 126) || b >= 191) {
            double x = 0, y = 0;
            if (!number(x) || !number(y)) {
                Error("PE coordinate pair cut off", base + pos);
                continue;
            }
            const Pt target = absolute ? Pt{x, y} : Add(pen_, Pt{x, y});
            MoveTo(s, target, !up);
            if (points.size() < 200000) points.insert(points.end(), {target.x, target.y});
            up = absolute = false;
        } else {
            Error("byte " + std::to_string(b) + " in PE", base + pos);
            ++pos;
        }
    }
    Command("PE", std::move(points), {}, base + start - 2);
}

void GlReader::Execute(const std::string& mn, const std::vector<double>& p, GlSurface& s, size_t offset) {
    Command(mn, p, {}, offset);
    const bool moves = mn == "PA" || mn == "PR" || mn == "PD" || mn == "BZ" || mn == "BR";
    if (!moves) FlushLine(s);
    auto moveAll = [&](bool down) {
        for (size_t i = 0; i + 1 < p.size(); i += 2) {
            const Pt v{p[i], p[i + 1]};
            MoveTo(s, relative_ ? Add(pen_, v) : v, down);
        }
        if (p.size() % 2) Error(mn + " with an odd number of coordinates", offset);
    };
    auto i = [&](size_t k, int fallback) { return k < p.size() ? static_cast<int>(std::clamp(p[k], -1e6, 1e6)) : fallback; };
    if (mn == "IN") {
        Initialize();
    } else if (mn == "DF") {
        const Pt keep = pen_;
        Initialize();
        pen_ = keep;
    } else if (mn == "PU") {
        penDown_ = false;
        moveAll(false);
    } else if (mn == "PD") {
        penDown_ = true;
        moveAll(true);
    } else if (mn == "PA" || mn == "PR") {
        relative_ = mn == "PR";
        moveAll(penDown_);
    } else if (mn == "BZ" || mn == "BR") {
        if (p.size() % 6) Error(mn + " with a partial curve", offset);
        for (size_t k = 0; k + 5 < p.size(); k += 6) {
            const Pt o = mn == "BR" ? pen_ : Pt{};
            Bezier(s, Add(o, {p[k], p[k + 1]}), Add(o, {p[k + 2], p[k + 3]}), Add(o, {p[k + 4], p[k + 5]}));
        }
    } else if (mn == "PM") {
        const int m = i(0, 0);
        if (m == 0) {
            polygonMode_ = true;
            polygon_.clear();
            polygonPoints_ = 0;
            polygon_.push_back({{pen_}, {false}, false});
        } else if (polygonMode_ && (m == 1 || m == 2)) {
            if (!polygon_.empty()) polygon_.back().closedDrawn = penDown_;
            if (m == 1) polygon_.push_back({});
            else polygonMode_ = false;
        } else {
            Error("PM" + std::to_string(m) + " outside polygon mode", offset);
        }
    } else if (mn == "FP" || mn == "EP") {
        if (polygonMode_) Error(mn + " inside polygon mode", offset);
        if (mn == "FP") {
            std::vector<Poly> polys;
            for (const auto& sub : polygon_)
                if (sub.points.size() >= 3) polys.push_back(sub.points);
            PaintPolys(s, polys, i(0, 0) == 1, areaFill_, "FT");
        } else {
            std::vector<Poly> lines;
            std::vector<bool> closed;
            for (const auto& sub : polygon_) {
                const bool all = std::all_of(sub.drawn.begin() + (sub.drawn.empty() ? 0 : 1), sub.drawn.end(), [](bool d) { return d; });
                if (all && sub.closedDrawn && sub.points.size() >= 3) {
                    lines.push_back(sub.points);
                    closed.push_back(true);
                    continue;
                }
                Poly run;
                for (size_t k = 0; k < sub.points.size(); ++k) {
                    if (k > 0 && sub.drawn[k]) {
                        if (run.empty()) run.push_back(sub.points[k - 1]);
                        run.push_back(sub.points[k]);
                    } else if (!run.empty()) {
                        lines.push_back(std::move(run));
                        closed.push_back(false);
                        run.clear();
                    }
                }
                if (sub.closedDrawn && sub.points.size() >= 2) {
                    if (run.empty()) run.push_back(sub.points.back());
                    run.push_back(sub.points.front());
                }
                if (!run.empty()) {
                    lines.push_back(std::move(run));
                    closed.push_back(false);
                }
            }
            StrokePolylines(s, lines, closed, true);
        }
    } else if (mn == "RR" || mn == "RA" || mn == "ER" || mn == "EA") {
        if (p.size() < 2) return Error(mn + " without its corner", offset);
        const Pt corner = mn[1] == 'R' ? Add(pen_, {p[0], p[1]}) : Pt{p[0], p[1]};
        FillRect(s, pen_, corner, mn[0] == 'E');
    } else if (mn == "IP") {
        if (p.empty()) {
            p1p2Default_ = true;
        } else {
            double fx, fy, fw, fh, pw, ph;
            s.Frame(fx, fy, fw, fh, pw, ph);
            const Pt old1 = p1p2Default_ ? Pt{} : p1_, old2 = p1p2Default_ ? Pt{fw / Scale(s), fh / Scale(s)} : p2_;
            p1_ = {p[0], p.size() > 1 ? p[1] : 0};
            p2_ = p.size() >= 4 ? Pt{p[2], p[3]} : Add(p1_, Sub(old2, old1));
            p1p2Default_ = false;
        }
    } else if (mn == "IR") {
        double fx, fy, fw, fh, pw, ph;
        s.Frame(fx, fy, fw, fh, pw, ph);
        const double w = pw > 0 ? pw : fw / Scale(s), h = ph > 0 ? ph : fh / Scale(s);
        if (p.empty()) {
            p1p2Default_ = true;
        } else {
            const Pt old1 = p1p2Default_ ? Pt{} : p1_, old2 = p1p2Default_ ? Pt{w, h} : p2_;
            p1_ = {p[0] / 100 * w, (p.size() > 1 ? p[1] : 0) / 100 * h};
            p2_ = p.size() >= 4 ? Pt{p[2] / 100 * w, p[3] / 100 * h} : Add(p1_, Sub(old2, old1));
            p1p2Default_ = false;
        }
    } else if (mn == "SC") {
        if (p.empty()) {
            scaled_ = false;
        } else if (p.size() >= 4) {
            std::copy(p.begin(), p.begin() + 4, sc_);
            scaleType_ = i(4, 0);
            scaled_ = true;
        } else {
            Error("SC with " + std::to_string(p.size()) + " parameters", offset);
        }
    } else if (mn == "IW") {
        if (p.empty()) {
            window_ = false;
        } else if (p.size() >= 4) {
            const Pt a = ToDevice(s, {p[0], p[1]}), b = ToDevice(s, {p[2], p[3]});
            // The pixels from the one holding the lower corner to the one
            // holding the upper, both included: the window holds its edges.
            win_[0] = std::ceil(std::min(a.x, b.x) - 0.5), win_[1] = std::ceil(std::min(a.y, b.y) - 0.5);
            win_[2] = std::floor(std::max(a.x, b.x) + 0.5) + 1, win_[3] = std::floor(std::max(a.y, b.y) + 0.5) + 1;
            window_ = true;
        } else {
            Error("IW with " + std::to_string(p.size()) + " parameters", offset);
        }
    } else if (mn == "RO") {
        if (i(0, 0) != 0) Error("RO" + std::to_string(i(0, 0)) + ": rotation not decoded", offset);
    } else if (mn == "SP") {
        pen_number_ = std::clamp(i(0, 0), 0, 255);
    } else if (mn == "PW") {
        penWidthMm_ = p.empty() ? (widthRelative_ ? 0.1 : 0.35) : std::clamp(p[0], 0.0, 1e4);
    } else if (mn == "WU") {
        widthRelative_ = i(0, 0) == 1;
        penWidthMm_ = widthRelative_ ? 0.1 : 0.35;
    } else if (mn == "LA") {
        if (p.empty()) cap_ = 1, join_ = 1, miter_ = 5;
        for (size_t k = 0; k + 1 < p.size(); k += 2) {
            const int kind = i(k, 0);
            if (kind == 1) cap_ = std::clamp(i(k + 1, 1), 1, 4);
            else if (kind == 2) join_ = std::clamp(i(k + 1, 1), 1, 6);
            else if (kind == 3) miter_ = std::max(1.0, p[k + 1]);
            else Error("LA kind " + std::to_string(kind), offset);
        }
    } else if (mn == "LT") {
        if (p.empty()) {
            lineTypeOn_ = false;
        } else if (i(0, 0) != 99) {
            lineType_ = std::clamp(i(0, 0), -8, 8);
            lineTypeOn_ = true;
            if (p.size() > 1) patternLength_ = std::clamp(p[1], 0.0, 1e5);
            if (p.size() > 2) patternAbsolute_ = i(2, 0) == 1;
        } else {
            lineTypeOn_ = true;
        }
    } else if (mn == "UL") {
        const int index = std::abs(i(0, 0));
        if (index < 1 || index > 8) return Error("UL index " + std::to_string(index), offset);
        if (p.size() <= 1) {
            userLines_.erase(index);
        } else {
            if (p.size() > 21) Error("UL with more than 20 gaps", offset);
            userLines_[index] = std::vector<double>(p.begin() + 1, p.begin() + static_cast<ptrdiff_t>(std::min<size_t>(p.size(), 21)));
        }
    } else if (mn == "FT") {
        const int type = i(0, 1);
        if (type == 1 || type == 2) areaFill_ = {1, 0};
        else if (type == 9 || type == 10 || type == 11 || type == 21 || type == 22) areaFill_ = {type, p.size() > 1 ? p[1] : 0};
        else Error("FT" + std::to_string(type) + " not decoded", offset);
    } else if (mn == "SV") {
        const int type = i(0, 0);
        if (type == 0) lineFill_ = {0, 0};
        else if (type == 1) lineFill_ = {10, p.size() > 1 ? p[1] : 0};
        else if (type == 2) lineFill_ = {11, p.size() > 1 ? p[1] : 0};
        else if (type == 9 || type == 21 || type == 22) lineFill_ = {type, p.size() > 1 ? p[1] : 0};
        else Error("SV" + std::to_string(type) + " not decoded", offset);
    } else if (mn == "RF") {
        if (p.empty()) {
            rasterFills_.clear();
        } else if (p.size() >= 3) {
            const int w = i(1, 0), h = i(2, 0);
            if (w < 1 || h < 1 || w > 255 || h > 255 || p.size() != static_cast<size_t>(3 + w * h))
                return Error("RF with a wrong pixel count", offset);
            RasterFill rf{w, h, {}};
            for (size_t k = 3; k < p.size(); ++k) rf.pens.push_back(std::clamp(static_cast<int>(p[k]), 0, 255));
            rasterFills_[i(0, 1)] = std::move(rf);
        }
    } else if (mn == "MC") {
        rop_ = i(0, 0) == 0 ? 252 : static_cast<uint8_t>(std::clamp(i(1, 252), 0, 255));
    } else if (mn == "TR") {
        transparent_ = i(0, 1) != 0;
    } else if (mn == "PP" || mn == "NP" || mn == "AC" || mn == "CR" || mn == "PC" || mn == "DT" || mn == "SD" ||
               mn == "SS" || mn == "SI" || mn == "CI" || mn == "QL" || mn == "BP" || mn == "PS" || mn == "FN") {
        // Listed; nothing this driver relies on.
    } else {
        Error("unknown HP-GL/2 command " + mn, offset);
    }
}

}  // namespace pclread
