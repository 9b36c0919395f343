// Reading enhanced metafiles into typed records, with every size, count and
// offset checked against the record that carries it.
#include "base/text.h"
#include "gdi/dib.h"
#include "gdi/emf.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace zq::emf {
namespace {

// Largest bitmap a record may describe; larger ones are taken as damage
// rather than allocated.
constexpr int64_t kMaxDibPixels = int64_t{1} << 28;
constexpr int32_t kMaxDibSide = 1 << 16;

struct Damaged : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Bounds-checked little-endian access to one record.
class Bytes {
public:
    explicit Bytes(std::span<const uint8_t> b) : b_(b) {}
    size_t size() const { return b_.size(); }
    void Need(size_t off, size_t n, const char* what) const {
        if (off > b_.size() || n > b_.size() - off)
            throw Damaged(std::string(what) + " lies outside its record");
    }
    uint32_t U32(size_t off) const {
        Need(off, 4, "a field");
        uint32_t v;
        std::memcpy(&v, b_.data() + off, 4);
        return v;
    }
    int32_t I32(size_t off) const { return static_cast<int32_t>(U32(off)); }
    uint16_t U16(size_t off) const {
        Need(off, 2, "a field");
        return static_cast<uint16_t>(b_[off] | (b_[off + 1] << 8));
    }
    int16_t I16(size_t off) const { return static_cast<int16_t>(U16(off)); }
    float F32(size_t off) const {
        uint32_t u = U32(off);
        float f;
        std::memcpy(&f, &u, 4);
        return f;
    }
    RECTL Rect(size_t off) const { return {I32(off), I32(off + 4), I32(off + 8), I32(off + 12)}; }
    POINTL Pt(size_t off) const { return {I32(off), I32(off + 4)}; }
    Xform Xf(size_t off) const {
        return {F32(off), F32(off + 4), F32(off + 8), F32(off + 12), F32(off + 16), F32(off + 20)};
    }
    // n elements of `each` bytes at off, with overflow-safe size arithmetic.
    void NeedArray(size_t off, uint64_t n, size_t each, const char* what) const {
        if (n > b_.size() / (each ? each : 1) + 1) throw Damaged(std::string(what) + " count is too large for its record");
        Need(off, static_cast<size_t>(n) * each, what);
    }
    std::span<const uint8_t> Sub(size_t off, size_t n, const char* what) const {
        Need(off, n, what);
        return b_.subspan(off, n);
    }

private:
    std::span<const uint8_t> b_;
};

// A record's points become one path, copied and widened several times over
// on the way to the page: more than this many are refused rather than
// allowed to take memory without bound.
constexpr uint64_t kMaxPoints = uint64_t{1} << 20;

void NeedPoints(uint64_t n) {
    if (n > kMaxPoints)
        throw Damaged("point count " + std::to_string(n) + " is above the limit of " + std::to_string(kMaxPoints));
}

void MinSize(const Bytes& r, size_t n, const char* kind) {
    if (r.size() < n) throw Damaged(std::string(kind) + " record is too short");
}

std::optional<Dib> DibAt(const Bytes& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
                         uint32_t cbBits, const char* kind) {
    if (cbBmi == 0) return std::nullopt;
    auto info = r.Sub(offBmi, cbBmi, "bitmap header");
    auto bits = r.Sub(offBits, cbBits, "bitmap bits");
    std::string why;
    auto dib = ParseDib(info, bits, &why);
    if (!dib) throw Damaged(std::string(kind) + ": " + why);
    return dib;
}

Poly ReadPoly(Rt t, const Bytes& r, bool sixteen) {
    MinSize(r, 28, "poly");
    Poly p{t, r.Rect(8), {}};
    uint32_t n = r.U32(24);
    NeedPoints(n);
    r.NeedArray(28, n, sixteen ? 4 : 8, "point");
    p.points.reserve(n);
    for (uint32_t i = 0; i < n; ++i)
        p.points.push_back(sixteen ? POINTL{r.I16(28 + 4 * i), r.I16(30 + 4 * i)} : r.Pt(28 + 8 * i));
    return p;
}

PolyPoly ReadPolyPoly(Rt t, const Bytes& r, bool sixteen) {
    MinSize(r, 32, "poly-poly");
    PolyPoly p{t, r.Rect(8), {}, {}};
    uint32_t polys = r.U32(24), n = r.U32(28);
    r.NeedArray(32, polys, 4, "polygon count");
    size_t at = 32 + size_t{polys} * 4;
    NeedPoints(n);
    r.NeedArray(at, n, sixteen ? 4 : 8, "point");
    uint64_t total = 0;
    for (uint32_t i = 0; i < polys; ++i) {
        p.counts.push_back(r.U32(32 + 4 * i));
        total += p.counts.back();
    }
    if (total != n) throw Damaged("poly-poly counts do not add up to its point count");
    for (uint32_t i = 0; i < n; ++i)
        p.points.push_back(sixteen ? POINTL{r.I16(at + 4 * i), r.I16(at + 2 + 4 * i)} : r.Pt(at + 8 * i));
    return p;
}

PolyDraw ReadPolyDraw(Rt t, const Bytes& r, bool sixteen) {
    MinSize(r, 28, "PolyDraw");
    PolyDraw p{t, r.Rect(8), {}, {}};
    uint32_t n = r.U32(24);
    size_t each = sixteen ? 4 : 8;
    NeedPoints(n);
    r.NeedArray(28, n, each + 1, "point");
    for (uint32_t i = 0; i < n; ++i)
        p.points.push_back(sixteen ? POINTL{r.I16(28 + 4 * i), r.I16(30 + 4 * i)} : r.Pt(28 + 8 * i));
    auto kinds = r.Sub(28 + n * each, n, "point kinds");
    p.kinds.assign(kinds.begin(), kinds.end());
    return p;
}

// An EMRTEXT block at `at`, with string and spacing offsets relative to the
// record start.
TextOut ReadEmrText(Rt t, const Bytes& r, size_t at, bool wide, RECTL bounds, uint32_t mode,
                    float xs, float ys) {
    TextOut o{t, bounds, mode, xs, ys, r.Pt(at), 0, {}, {}, {}, {}};
    uint32_t chars = r.U32(at + 8), offString = r.U32(at + 12);
    o.options = r.U32(at + 16);
    o.rect = r.Rect(at + 20);
    uint32_t offDx = r.U32(at + 36);
    r.NeedArray(offString, chars, wide ? 2 : 1, "text");
    if (wide) {
        o.text.reserve(chars);
        for (uint32_t i = 0; i < chars; ++i) o.text.push_back(static_cast<char16_t>(r.U16(offString + 2 * i)));
    } else {
        // The bytes stay as recorded, for the ANSI call that plays them; the
        // wide form is for whoever reads the text.
        const auto bytes = r.Sub(offString, chars, "text");
        o.narrow.assign(bytes.begin(), bytes.end());
        o.text = AnsiToWide(o.narrow);
    }
    constexpr uint32_t ETO_PDY = 0x2000;
    if (offDx != 0 && chars != 0) {
        uint64_t n = uint64_t{chars} * ((o.options & ETO_PDY) ? 2 : 1);
        r.NeedArray(offDx, n, 4, "character spacing");
        for (uint64_t i = 0; i < n; ++i) o.dx.push_back(r.I32(offDx + 4 * i));
    }
    return o;
}

std::vector<RECTL> ReadRegion(const Bytes& r, size_t at, uint32_t cb) {
    std::vector<RECTL> rects;
    if (cb == 0) return rects;
    r.Need(at, cb, "region data");
    if (cb < 32) throw Damaged("region header is too short");
    uint32_t headerSize = r.U32(at), count = r.U32(at + 8);
    if (headerSize < 32 || headerSize > cb) throw Damaged("region header size is wrong");
    if (count > (cb - headerSize) / 16) throw Damaged("region rectangle count exceeds its data");
    for (uint32_t i = 0; i < count; ++i) rects.push_back(r.Rect(at + headerSize + 16 * i));
    return rects;
}

Blt ReadBlt(Rt t, const Bytes& r) {
    // BitBlt: 100 bytes; StretchBlt, AlphaBlend, TransparentBlt: 108.
    bool stretch = t != Rt::BitBlt;
    MinSize(r, stretch ? 108 : 100, "bit-block");
    Blt b{t, r.Rect(8), r.I32(24), r.I32(28), r.I32(32), r.I32(36), r.U32(40), r.I32(44), r.I32(48),
          0, 0, r.Xf(52), r.U32(76), r.U32(80), std::nullopt, std::nullopt, 0, 0};
    uint32_t offBmi = r.U32(84), cbBmi = r.U32(88), offBits = r.U32(92), cbBits = r.U32(96);
    if (stretch) {
        b.cxSrc = r.I32(100);
        b.cySrc = r.I32(104);
    } else {
        b.cxSrc = b.cxDest;
        b.cySrc = b.cyDest;
    }
    b.source = DibAt(r, offBmi, cbBmi, offBits, cbBits, "bit-block source");
    return b;
}

StretchDib ReadStretchDib(Rt t, const Bytes& r) {
    StretchDib s{};
    s.type = t;
    s.bounds = r.Rect(8);
    if (t == Rt::StretchDIBits) {
        MinSize(r, 80, "StretchDIBits");
        s.xDest = r.I32(24); s.yDest = r.I32(28); s.xSrc = r.I32(32); s.ySrc = r.I32(36);
        s.cxSrc = r.I32(40); s.cySrc = r.I32(44);
        uint32_t offBmi = r.U32(48), cbBmi = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
        s.usage = r.U32(64); s.rop = r.U32(68); s.cxDest = r.I32(72); s.cyDest = r.I32(76);
        auto dib = DibAt(r, offBmi, cbBmi, offBits, cbBits, "StretchDIBits");
        if (!dib) throw Damaged("StretchDIBits carries no bitmap");
        s.dib = std::move(*dib);
    } else {
        MinSize(r, 76, "SetDIBitsToDevice");
        s.xDest = r.I32(24); s.yDest = r.I32(28); s.xSrc = r.I32(32); s.ySrc = r.I32(36);
        s.cxSrc = r.I32(40); s.cySrc = r.I32(44);
        uint32_t offBmi = r.U32(48), cbBmi = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
        s.usage = r.U32(64); s.startScan = r.U32(68); s.scans = r.U32(72);
        s.rop = 0x00CC0020; s.cxDest = s.cxSrc; s.cyDest = s.cySrc;
        auto dib = DibAt(r, offBmi, cbBmi, offBits, cbBits, "SetDIBitsToDevice");
        if (!dib) throw Damaged("SetDIBitsToDevice carries no bitmap");
        s.dib = std::move(*dib);
    }
    return s;
}

std::optional<Record> ReadRecord(Rt t, const Bytes& r) {
    switch (t) {
    case Rt::PolyBezier: case Rt::Polygon: case Rt::Polyline: case Rt::PolyBezierTo:
    case Rt::PolylineTo:
        return ReadPoly(t, r, false);
    case Rt::PolyBezier16: case Rt::Polygon16: case Rt::Polyline16: case Rt::PolyBezierTo16:
    case Rt::PolylineTo16:
        return ReadPoly(t, r, true);
    case Rt::PolyPolyline: case Rt::PolyPolygon:
        return ReadPolyPoly(t, r, false);
    case Rt::PolyPolyline16: case Rt::PolyPolygon16:
        return ReadPolyPoly(t, r, true);
    case Rt::PolyDraw: return ReadPolyDraw(t, r, false);
    case Rt::PolyDraw16: return ReadPolyDraw(t, r, true);
    case Rt::SetMapperFlags: case Rt::SetMapMode: case Rt::SetBkMode: case Rt::SetPolyFillMode:
    case Rt::SetRop2: case Rt::SetStretchBltMode: case Rt::SetTextAlign: case Rt::SetTextColor:
    case Rt::SetBkColor: case Rt::RestoreDC: case Rt::SelectObject: case Rt::DeleteObject:
    case Rt::SelectPalette: case Rt::SetArcDirection: case Rt::SetMiterLimit:
    case Rt::SelectClipPath: case Rt::SetICMMode: case Rt::SetLayout: case Rt::SetColorSpace:
    case Rt::DeleteColorSpace: case Rt::RealizePalette:
        if (t == Rt::RealizePalette) return Plain{t};
        MinSize(r, 12, "value");
        return Value{t, r.U32(8)};
    case Rt::SetTextJustification:
        MinSize(r, 16, "SetTextJustification");
        return Scale{t, r.I32(8), r.I32(12), 0, 0};
    case Rt::SetWindowExtEx: case Rt::SetWindowOrgEx: case Rt::SetViewportExtEx:
    case Rt::SetViewportOrgEx: case Rt::SetBrushOrgEx: case Rt::OffsetClipRgn: case Rt::MoveToEx:
    case Rt::LineTo:
        MinSize(r, 16, "point");
        return Point{t, r.Pt(8)};
    case Rt::ExcludeClipRect: case Rt::IntersectClipRect: case Rt::Ellipse: case Rt::Rectangle:
    case Rt::FillPath: case Rt::StrokeAndFillPath: case Rt::StrokePath:
        MinSize(r, 24, "rectangle");
        return Rect{t, r.Rect(8)};
    case Rt::SetMetaRgn: case Rt::SaveDC: case Rt::BeginPath: case Rt::EndPath:
    case Rt::CloseFigure: case Rt::FlattenPath: case Rt::WidenPath: case Rt::AbortPath:
        return Plain{t};
    case Rt::ScaleViewportExtEx: case Rt::ScaleWindowExtEx:
        MinSize(r, 24, "scale");
        return Scale{t, r.I32(8), r.I32(12), r.I32(16), r.I32(20)};
    case Rt::SetWorldTransform:
        MinSize(r, 32, "SetWorldTransform");
        return Transform{t, r.Xf(8), 0};
    case Rt::ModifyWorldTransform:
        MinSize(r, 36, "ModifyWorldTransform");
        return Transform{t, r.Xf(8), r.U32(32)};
    case Rt::CreatePen:
        MinSize(r, 28, "CreatePen");
        return CreatePen{r.U32(8), r.U32(12), r.I32(16), r.U32(24)};
    case Rt::ExtCreatePen: {
        MinSize(r, 52, "ExtCreatePen");
        ExtCreatePen p{r.U32(8), r.U32(28), r.U32(32), r.U32(36), r.U32(40), r.U32(44), {}, std::nullopt};
        uint32_t n = r.U32(48);
        r.NeedArray(52, n, 4, "pen style entry");
        for (uint32_t i = 0; i < n; ++i) p.styleEntries.push_back(r.U32(52 + 4 * i));
        p.pattern = DibAt(r, r.U32(12), r.U32(16), r.U32(20), r.U32(24), "ExtCreatePen");
        return p;
    }
    case Rt::CreateBrushIndirect:
        MinSize(r, 24, "CreateBrushIndirect");
        return CreateBrush{r.U32(8), r.U32(12), r.U32(16), r.U32(20)};
    case Rt::CreateMonoBrush: case Rt::CreateDIBPatternBrushPt: {
        MinSize(r, 32, "pattern brush");
        auto dib = DibAt(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28), "pattern brush");
        if (!dib) throw Damaged("pattern brush carries no bitmap");
        return CreateDibBrush{t, r.U32(8), r.U32(12), std::move(*dib)};
    }
    case Rt::ExtCreateFontIndirectW: {
        MinSize(r, 12 + sizeof(LOGFONTW), "ExtCreateFontIndirectW");
        CreateFont f{r.U32(8), {}};
        std::memcpy(&f.font, r.Sub(12, sizeof(LOGFONTW), "font").data(), sizeof(LOGFONTW));
        f.font.lfFaceName[LF_FACESIZE - 1] = 0;
        return f;
    }
    case Rt::CreatePalette: case Rt::SetPaletteEntries: {
        MinSize(r, 16, "palette");
        CreatePalette p{r.U32(8), {}};
        uint32_t n = t == Rt::CreatePalette ? r.U16(14) : r.U32(16);
        size_t at = t == Rt::CreatePalette ? 16 : 20;
        r.NeedArray(at, n, 4, "palette entry");
        for (uint32_t i = 0; i < n; ++i) p.entries.push_back(r.U32(at + 4 * i));
        return p;
    }
    case Rt::ResizePalette:
        MinSize(r, 16, "ResizePalette");
        return Scale{t, r.I32(8), r.I32(12), 0, 0};
    case Rt::RoundRect:
        MinSize(r, 32, "RoundRect");
        return RoundRect{r.Rect(8), {r.I32(24), r.I32(28)}};
    case Rt::Arc: case Rt::Chord: case Rt::Pie: case Rt::ArcTo:
        MinSize(r, 40, "arc");
        return ArcLike{t, r.Rect(8), r.Pt(24), r.Pt(32)};
    case Rt::AngleArc:
        MinSize(r, 28, "AngleArc");
        return AngleArc{r.Pt(8), r.U32(16), r.F32(20), r.F32(24)};
    case Rt::SetPixelV:
        MinSize(r, 20, "SetPixelV");
        return SetPixel{r.Pt(8), r.U32(16)};
    case Rt::ExtTextOutA: case Rt::ExtTextOutW:
        MinSize(r, 76, "ExtTextOut");
        return ReadEmrText(t, r, 36, t == Rt::ExtTextOutW, r.Rect(8), r.U32(24), r.F32(28), r.F32(32));
    case Rt::BitBlt: case Rt::StretchBlt: case Rt::AlphaBlend: case Rt::TransparentBlt:
        return ReadBlt(t, r);
    case Rt::MaskBlt: {
        // A bit-block record of 100 bytes, then the mask: its origin, usage
        // and one-bit image.
        MinSize(r, 128, "MaskBlt");
        Blt b = ReadBlt(Rt::BitBlt, r);
        b.type = t;
        b.xMask = r.I32(100);
        b.yMask = r.I32(104);
        b.mask = DibAt(r, r.U32(112), r.U32(116), r.U32(120), r.U32(124), "MaskBlt mask");
        return b;
    }
    case Rt::PlgBlt: {
        // Bounds, the three corners, the source's rectangle, transform,
        // background and image, then the mask's origin and image.
        MinSize(r, 140, "PlgBlt");
        Blt b{t, r.Rect(8), 0, 0, 0, 0, 0x00CC0020, r.I32(48), r.I32(52), r.I32(56), r.I32(60), r.Xf(64), r.U32(88),
              r.U32(92), std::nullopt, std::nullopt, r.I32(112), r.I32(116)};
        for (int i = 0; i < 3; ++i) b.corners[i] = r.Pt(24 + 8 * static_cast<size_t>(i));
        b.source = DibAt(r, r.U32(96), r.U32(100), r.U32(104), r.U32(108), "PlgBlt source");
        if (!b.source) throw Damaged("PlgBlt carries no bitmap");
        b.mask = DibAt(r, r.U32(124), r.U32(128), r.U32(132), r.U32(136), "PlgBlt mask");
        return b;
    }
    case Rt::StretchDIBits: case Rt::SetDIBitsToDevice:
        return ReadStretchDib(t, r);
    case Rt::ExtSelectClipRgn: {
        MinSize(r, 16, "ExtSelectClipRgn");
        uint32_t cb = r.U32(8);
        return Region{t, {}, 0, {}, r.U32(12), ReadRegion(r, 16, cb)};
    }
    case Rt::FillRgn: {
        MinSize(r, 32, "FillRgn");
        return Region{t, r.Rect(8), r.U32(28), {}, 0, ReadRegion(r, 32, r.U32(24))};
    }
    case Rt::FrameRgn: {
        MinSize(r, 40, "FrameRgn");
        return Region{t, r.Rect(8), r.U32(28), {r.I32(32), r.I32(36)}, 0, ReadRegion(r, 40, r.U32(24))};
    }
    case Rt::InvertRgn: case Rt::PaintRgn: {
        MinSize(r, 28, "region");
        return Region{t, r.Rect(8), 0, {}, 0, ReadRegion(r, 28, r.U32(24))};
    }
    case Rt::GdiComment: {
        MinSize(r, 12, "GdiComment");
        return Comment{r.Sub(12, r.U32(8), "comment data")};
    }
    case Rt::GradientFill: {
        MinSize(r, 36, "GradientFill");
        uint32_t nVer = r.U32(24), nTri = r.U32(28), mode = r.U32(32);
        r.NeedArray(36, nVer, 16, "gradient vertex");
        size_t each = mode == 2 ? 12 : 8;  // GRADIENT_FILL_TRIANGLE: three indexes
        r.NeedArray(36 + size_t{nVer} * 16, nTri, each, "gradient mesh");
        auto raw = r.Sub(36, nVer * 16 + nTri * each, "gradient data");
        return Gradient{r.Rect(8), mode, {raw.begin(), raw.end()}, nVer, nTri};
    }
    case Rt::Eof:
        return End{};
    default:
        return std::nullopt;
    }
}

}  // namespace

size_t Document::SkippedCount() const {
    size_t n = 0;
    for (auto& [type, count] : skipped) n += count;
    return n;
}

uint32_t Dib::Pixel(int32_t x, int32_t yFromTop) const {
    if (x < 0 || x >= width || yFromTop < 0 || yFromTop >= (height < 0 ? -height : height)) return 0;
    int32_t row = height > 0 ? (height - 1 - yFromTop) : yFromTop;
    const uint8_t* p = bits.data() + static_cast<size_t>(row) * Stride();
    auto fromTable = [&](uint32_t i) { return i < colors.size() ? colors[i] & 0xFFFFFF : 0u; };
    switch (bitCount) {
    case 1: return fromTable((p[x / 8] >> (7 - x % 8)) & 1);
    case 4: return fromTable((p[x / 2] >> (x % 2 ? 0 : 4)) & 15);
    case 8: return fromTable(p[x]);
    case 16: {
        uint32_t v = p[2 * x] | (p[2 * x + 1] << 8);
        if (compression == 3) {
            auto chan = [&](uint32_t m) -> uint32_t {
                if (!m) return 0;
                int shift = __builtin_ctz(m);
                uint32_t max = m >> shift;
                return ((v & m) >> shift) * 255 / max;
            };
            return (chan(masks[0]) << 16) | (chan(masks[1]) << 8) | chan(masks[2]);
        }
        uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        return ((r * 255 / 31) << 16) | ((g * 255 / 31) << 8) | (b * 255 / 31);
    }
    case 24: return (uint32_t{p[3 * x + 2]} << 16) | (uint32_t{p[3 * x + 1]} << 8) | p[3 * x];
    case 32: return (uint32_t{p[4 * x + 2]} << 16) | (uint32_t{p[4 * x + 1]} << 8) | p[4 * x];
    }
    return 0;
}

std::optional<Dib> ParseDib(std::span<const uint8_t> info, std::span<const uint8_t> bits, std::string* why) {
    auto fail = [&](const char* m) -> std::optional<Dib> {
        if (why) *why = m;
        return std::nullopt;
    };
    Bytes h(info);
    if (info.size() < 12) return fail("bitmap header is too short");
    uint32_t headerSize = h.U32(0);
    if (headerSize > info.size()) return fail("bitmap header size exceeds its block");
    Dib d;
    uint32_t clrUsed = 0;
    if (headerSize == 12) {  // BITMAPCOREHEADER
        d.width = h.U16(4);
        d.height = h.I16(6);
        d.bitCount = h.U16(10);
    } else if (headerSize >= 40) {
        d.width = h.I32(4);
        d.height = h.I32(8);
        d.bitCount = h.U16(14);
        d.compression = h.U32(16);
        clrUsed = h.U32(32);
    } else {
        return fail("bitmap header size is not one of a known kind");
    }
    if (d.width <= 0 || d.height == 0 || d.width > kMaxDibSide || d.height > kMaxDibSide ||
        d.height < -kMaxDibSide)
        return fail("bitmap size is out of range");
    int64_t rows = d.height < 0 ? -int64_t{d.height} : d.height;
    if (rows * d.width > kMaxDibPixels) return fail("bitmap is too large");
    switch (d.bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return fail("bitmap bit count is not supported");
    }
    const bool rle = (d.compression == 1 && d.bitCount == 8) || (d.compression == 2 && d.bitCount == 4);
    if (rle && (headerSize < 40 || d.height < 0)) return fail("a run-length bitmap needs a full header and bottom-up rows");
    if (d.compression != 0 && !rle && !(d.compression == 3 && (d.bitCount == 16 || d.bitCount == 32)))
        return fail("compressed bitmaps are not supported");
    size_t at = headerSize;
    if (d.compression == 3) {
        if (headerSize == 40) {
            if (info.size() < at + 12) return fail("bitmap colour masks are missing");
            for (int i = 0; i < 3; ++i) d.masks[i] = h.U32(at + 4 * i);
            at += 12;
        } else {
            for (int i = 0; i < 3; ++i) d.masks[i] = h.U32(40 + 4 * i);
        }
    }
    uint32_t entries = 0;
    if (d.bitCount <= 8) entries = clrUsed ? std::min<uint32_t>(clrUsed, 1u << d.bitCount) : 1u << d.bitCount;
    size_t each = headerSize == 12 ? 3 : 4;
    if (entries > (info.size() - std::min(info.size(), at)) / each) {
        // Writers may leave out the unused tail of a table: take what fits.
        entries = static_cast<uint32_t>((info.size() - std::min(info.size(), at)) / each);
        if (entries == 0 && d.bitCount <= 8) return fail("bitmap colour table is missing");
    }
    for (uint32_t i = 0; i < entries; ++i) {
        size_t o = at + each * i;
        d.colors.push_back(uint32_t{info[o]} | (uint32_t{info[o + 1]} << 8) | (uint32_t{info[o + 2]} << 16));
    }
    uint64_t need = static_cast<uint64_t>(d.Stride()) * static_cast<uint64_t>(rows);
    if (rle) {
        // Expanded here, so that everything after sees an uncompressed image.
        std::vector<uint8_t> rows8;
        if (!gdi::DecodeRle(bits, d.bitCount, d.width, static_cast<LONG>(rows), rows8))
            return fail("run-length bitmap data is damaged");
        const size_t head = std::min(info.size(), at + size_t{4} * entries);
        auto store = std::make_shared<std::vector<uint8_t>>(info.begin(), info.begin() + static_cast<ptrdiff_t>(head));
        const uint32_t none = 0;
        std::memcpy(store->data() + 16, &none, 4);  // biCompression: BI_RGB
        std::memcpy(store->data() + 20, &none, 4);  // biSizeImage
        store->insert(store->end(), rows8.begin(), rows8.end());
        d.compression = 0;
        d.expanded = store;
        d.info = std::span<const uint8_t>(store->data(), head);
        d.bits = std::span<const uint8_t>(store->data() + head, rows8.size());
        return d;
    }
    if (bits.size() < need) return fail("bitmap bits are shorter than its rows");
    d.bits = bits.first(static_cast<size_t>(need));
    d.info = info;
    return d;
}

ParseResult ParseEmf(std::span<const uint8_t> bytes) {
    ParseResult result;
    size_t pos = 0;
    try {
        Bytes file(bytes);
        if (bytes.size() < 88) throw Damaged("file is too short for an enhanced metafile header");
        if (file.U32(0) != static_cast<uint32_t>(Rt::Header))
            throw Damaged("file does not start with an enhanced metafile header");
        if (file.U32(40) != kEmfSignature) throw Damaged("enhanced metafile signature is missing");
        Document doc;
        uint32_t headerSize = file.U32(4);
        if (headerSize < 88 || headerSize > bytes.size() || headerSize % 4)
            throw Damaged("header record size is wrong");
        Bytes h(bytes.first(headerSize));
        doc.header.bounds = h.Rect(8);
        doc.header.frame = h.Rect(24);
        doc.header.version = h.U32(44);
        doc.header.bytes = h.U32(48);
        doc.header.records = h.U32(52);
        doc.header.handles = h.U16(56);
        uint32_t nDesc = h.U32(60), offDesc = h.U32(64);
        doc.header.device = {h.I32(72), h.I32(76)};
        doc.header.millimeters = {h.I32(80), h.I32(84)};
        // Later headers add the pixel format (8 bytes), the OpenGL flag and
        // the device size in micrometres.
        if (headerSize >= 108) doc.header.micrometers = {h.I32(100), h.I32(104)};
        if (nDesc && offDesc) {
            h.NeedArray(offDesc, nDesc, 2, "description");
            for (uint32_t i = 0; i < nDesc; ++i) doc.header.description.push_back(static_cast<char16_t>(h.U16(offDesc + 2 * i)));
        }
        // The header's record count sizes the record list once (bounded by
        // what the file can hold: a record is at least 8 bytes).
        doc.records.reserve(std::min<size_t>(doc.header.records, bytes.size() / 8));
        pos = headerSize;
        bool ended = false;
        while (pos < bytes.size() && !ended) {
            if (bytes.size() - pos < 8) throw Damaged("a record is cut off at the end of the file");
            uint32_t type = file.U32(pos), size = file.U32(pos + 4);
            if (size < 8 || size % 4 != 0) throw Damaged("a record has an invalid size");
            if (size > bytes.size() - pos) throw Damaged("a record runs past the end of the file");
            Bytes r(bytes.subspan(pos, size));
            std::optional<Record> rec;
            try {
                rec = ReadRecord(static_cast<Rt>(type), r);
            } catch (const Damaged& e) {
                // The record's own frame is sound: what it carries is not.
                // That record is refused and the rest of the page is read.
                if (type == static_cast<uint32_t>(Rt::Header) || type == static_cast<uint32_t>(Rt::Eof)) throw;
                doc.refused.push_back(RecordName(type) + " at byte " + std::to_string(pos) + ": " + e.what());
                pos += size;
                continue;
            }
            if (rec) {
                ended = std::holds_alternative<End>(*rec);
                doc.records.push_back(std::move(*rec));
            } else {
                if (type == static_cast<uint32_t>(Rt::Header)) throw Damaged("a second header record");
                ++doc.skipped[type];
            }
            pos += size;
        }
        if (!ended) throw Damaged("the file ends without an end-of-file record");
        result.document = std::move(doc);
        result.length = pos;
    } catch (const Damaged& e) {
        result.error = "damaged enhanced metafile at byte " + std::to_string(pos) + ": " + e.what();
    }
    return result;
}

std::string ForEachEmfPage(std::span<const uint8_t> bytes,
                           const std::function<void(Document&, std::span<const uint8_t>)>& onPage) {
    size_t at = 0, count = 0;
    while (at < bytes.size()) {
        auto page = ParseEmf(bytes.subspan(at));
        if (!page.document) return "page " + std::to_string(count + 1) + ": " + page.error;
        onPage(*page.document, bytes.subspan(at, page.length));
        at += page.length;
        ++count;
    }
    return count ? std::string{} : "the document has no page";
}

PagesResult ParseEmfPages(std::span<const uint8_t> bytes) {
    PagesResult out;
    out.error = ForEachEmfPage(bytes, [&](Document& page, std::span<const uint8_t>) { out.pages.push_back(std::move(page)); });
    if (!out.error.empty()) out.pages.clear();
    return out;
}

std::string RecordName(uint32_t type) {
    switch (type) {
    case 1: return "HEADER";
    case 2: return "POLYBEZIER";
    case 3: return "POLYGON";
    case 4: return "POLYLINE";
    case 5: return "POLYBEZIERTO";
    case 6: return "POLYLINETO";
    case 7: return "POLYPOLYLINE";
    case 8: return "POLYPOLYGON";
    case 9: return "SETWINDOWEXTEX";
    case 10: return "SETWINDOWORGEX";
    case 11: return "SETVIEWPORTEXTEX";
    case 12: return "SETVIEWPORTORGEX";
    case 13: return "SETBRUSHORGEX";
    case 14: return "EOF";
    case 15: return "SETPIXELV";
    case 16: return "SETMAPPERFLAGS";
    case 17: return "SETMAPMODE";
    case 18: return "SETBKMODE";
    case 19: return "SETPOLYFILLMODE";
    case 20: return "SETROP2";
    case 21: return "SETSTRETCHBLTMODE";
    case 22: return "SETTEXTALIGN";
    case 23: return "SETCOLORADJUSTMENT";
    case 24: return "SETTEXTCOLOR";
    case 25: return "SETBKCOLOR";
    case 26: return "OFFSETCLIPRGN";
    case 27: return "MOVETOEX";
    case 28: return "SETMETARGN";
    case 29: return "EXCLUDECLIPRECT";
    case 30: return "INTERSECTCLIPRECT";
    case 31: return "SCALEVIEWPORTEXTEX";
    case 32: return "SCALEWINDOWEXTEX";
    case 33: return "SAVEDC";
    case 34: return "RESTOREDC";
    case 35: return "SETWORLDTRANSFORM";
    case 36: return "MODIFYWORLDTRANSFORM";
    case 37: return "SELECTOBJECT";
    case 38: return "CREATEPEN";
    case 39: return "CREATEBRUSHINDIRECT";
    case 40: return "DELETEOBJECT";
    case 41: return "ANGLEARC";
    case 42: return "ELLIPSE";
    case 43: return "RECTANGLE";
    case 44: return "ROUNDRECT";
    case 45: return "ARC";
    case 46: return "CHORD";
    case 47: return "PIE";
    case 48: return "SELECTPALETTE";
    case 49: return "CREATEPALETTE";
    case 50: return "SETPALETTEENTRIES";
    case 51: return "RESIZEPALETTE";
    case 52: return "REALIZEPALETTE";
    case 53: return "EXTFLOODFILL";
    case 54: return "LINETO";
    case 55: return "ARCTO";
    case 56: return "POLYDRAW";
    case 57: return "SETARCDIRECTION";
    case 58: return "SETMITERLIMIT";
    case 59: return "BEGINPATH";
    case 60: return "ENDPATH";
    case 61: return "CLOSEFIGURE";
    case 62: return "FILLPATH";
    case 63: return "STROKEANDFILLPATH";
    case 64: return "STROKEPATH";
    case 65: return "FLATTENPATH";
    case 66: return "WIDENPATH";
    case 67: return "SELECTCLIPPATH";
    case 68: return "ABORTPATH";
    case 70: return "GDICOMMENT";
    case 71: return "FILLRGN";
    case 72: return "FRAMERGN";
    case 73: return "INVERTRGN";
    case 74: return "PAINTRGN";
    case 75: return "EXTSELECTCLIPRGN";
    case 76: return "BITBLT";
    case 77: return "STRETCHBLT";
    case 78: return "MASKBLT";
    case 79: return "PLGBLT";
    case 80: return "SETDIBITSTODEVICE";
    case 81: return "STRETCHDIBITS";
    case 82: return "EXTCREATEFONTINDIRECTW";
    case 83: return "EXTTEXTOUTA";
    case 84: return "EXTTEXTOUTW";
    case 85: return "POLYBEZIER16";
    case 86: return "POLYGON16";
    case 87: return "POLYLINE16";
    case 88: return "POLYBEZIERTO16";
    case 89: return "POLYLINETO16";
    case 90: return "POLYPOLYLINE16";
    case 91: return "POLYPOLYGON16";
    case 92: return "POLYDRAW16";
    case 93: return "CREATEMONOBRUSH";
    case 94: return "CREATEDIBPATTERNBRUSHPT";
    case 95: return "EXTCREATEPEN";
    case 96: return "POLYTEXTOUTA";
    case 97: return "POLYTEXTOUTW";
    case 98: return "SETICMMODE";
    case 99: return "CREATECOLORSPACE";
    case 100: return "SETCOLORSPACE";
    case 101: return "DELETECOLORSPACE";
    case 112: return "SETICMPROFILEA";
    case 113: return "SETICMPROFILEW";
    case 114: return "ALPHABLEND";
    case 115: return "SETLAYOUT";
    case 116: return "TRANSPARENTBLT";
    case 118: return "GRADIENTFILL";
    case 120: return "SETTEXTJUSTIFICATION";
    case 122: return "CREATECOLORSPACEW";
    default: return "kind " + std::to_string(type);
    }
}

}  // namespace zq::emf
