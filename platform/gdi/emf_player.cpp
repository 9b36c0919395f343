// Playing metafile records onto a DC: objects, state, lines and curves,
// paths, text, bitmaps, clipping and transforms. Records the engine cannot
// play are skipped and counted; none of them stops the page.
#include "gdi/emf_player.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "base/error.h"
#include "gdi/blend.h"
#include "gdi/dib.h"
#include "gdi/regions.h"
#include "gdi/text_ansi.h"
#include "gdi/dc_state.h"

namespace zq::emf {
namespace {

using gdi::DeviceContext;

constexpr size_t kMaxObjects = 65535;

std::vector<POINT> Points(const std::vector<POINTL>& in) {
    std::vector<POINT> out;
    out.reserve(in.size());
    for (auto& p : in) out.push_back({p.x, p.y});
    return out;
}

class Player {
public:
    Player(HDC hdc, const Document& doc, const RECTL& dest) : hdc_(hdc), doc_(doc), dest_(dest) {
        objects_.resize(std::min<size_t>(std::max<size_t>(doc.header.handles, 1), kMaxObjects));
    }

    PlayStats Run() {
        auto* dc = DeviceContext::FromHandle(hdc_);
        if (!dc) return stats_;
        dc_ = dc;
        saveLevel_ = SaveDC(hdc_);
        SetGraphicsMode(hdc_, GM_ADVANCED);
        gdi::State(*dc_).playback = Fit();
        const Header& h = doc_.header;
        gdi::State(*dc_).referencePixels = h.device;
        gdi::State(*dc_).referenceMicrometers = ReferenceMicrometers(h);
        baseClip_ = dc_->clip;
        for (const Record& r : doc_.records) std::visit([&](const auto& rec) { Do(rec); }, r);
        // Put the DC back and free what the metafile left behind.
        gdi::State(*dc_).playback = {1, 0, 0, 1, 0, 0};
        gdi::State(*dc_).referencePixels = gdi::State(*dc_).referenceMicrometers = {0, 0};
        RestoreDC(hdc_, saveLevel_);
        SelectObject(hdc_, GetStockObject(WHITE_BRUSH));
        SelectObject(hdc_, gdi::StockDrawObject(BLACK_PEN)->Handle());
        SelectObject(hdc_, gdi::StockDrawObject(SYSTEM_FONT)->Handle());
        for (HGDIOBJ h : objects_)
            if (h && !DeleteObject(h)) pending_.push_back(h);
        objects_.assign(objects_.size(), nullptr);
        return stats_;
    }

private:
    // The reference device of the metafile onto the destination: the frame
    // (0.01 mm) in reference pixels fills `dest_`.
    XFORML Fit() const {
        const Header& h = doc_.header;
        SIZEL um = ReferenceMicrometers(h);
        double pxPerMmX = um.cx > 0 && h.device.cx > 0 ? h.device.cx * 1000.0 / um.cx : 96 / 25.4;
        double pxPerMmY = um.cy > 0 && h.device.cy > 0 ? h.device.cy * 1000.0 / um.cy : 96 / 25.4;
        PageFrame f = FrameOf(h);
        double fl = f.left * pxPerMmX, ft = f.top * pxPerMmY, fw = f.width * pxPerMmX, fh = f.height * pxPerMmY;
        double sx = (dest_.right - dest_.left) / fw, sy = (dest_.bottom - dest_.top) / fh;
        if (!std::isfinite(sx) || !std::isfinite(sy) || sx == 0 || sy == 0) sx = sy = 1;
        return {static_cast<FLOATL>(sx), 0, 0, static_cast<FLOATL>(sy), static_cast<FLOATL>(dest_.left - fl * sx),
                static_cast<FLOATL>(dest_.top - ft * sy)};
    }

    void Ok(bool ok) { ok ? ++stats_.played : ++stats_.failed; }
    void Skip(Rt t) { ++stats_.skipped[static_cast<uint32_t>(t)]; }

    HGDIOBJ Object(uint32_t index) const {
        if (index & kStockObject) {
            int stock = static_cast<int>(index & ~kStockObject);
            if (stock <= NULL_BRUSH) return GetStockObject(stock);
            gdi::GdiObject* o = gdi::StockDrawObject(stock);
            return o ? o->Handle() : nullptr;
        }
        return index < objects_.size() ? objects_[index] : nullptr;
    }

    void Store(uint32_t index, HGDIOBJ h) {
        if (index == 0 || index >= objects_.size() || !h) {
            if (h) DeleteObject(h);
            ++stats_.failed;
            return;
        }
        // An object still selected cannot go yet: it is freed at the end.
        if (objects_[index] && !DeleteObject(objects_[index])) pending_.push_back(objects_[index]);
        objects_[index] = h;
        ++stats_.played;
    }

    // A record's image as one packed DIB: header, colours, bits.
    static std::vector<BYTE> Packed(const emf::Dib& d) {
        std::vector<BYTE> bytes(d.info.begin(), d.info.end());
        bytes.insert(bytes.end(), d.bits.begin(), d.bits.end());
        return bytes;
    }

    // Rectangles of region records are in reference-device pixels.
    RECTL PlaybackRect(const RECTL& r) {
        const XFORML& m = gdi::State(*dc_).playback;
        auto X = [&](double x) { return static_cast<LONG>(std::lround(x * m.eM11 + m.eDx)); };
        auto Y = [&](double y) { return static_cast<LONG>(std::lround(y * m.eM22 + m.eDy)); };
        return gdi::OrderRect({X(r.left), Y(r.top), X(r.right), Y(r.bottom)});
    }

    void Do(const Poly& p) {
        auto pts = Points(p.points);
        int n = static_cast<int>(pts.size());
        switch (p.type) {
        case Rt::Polygon: case Rt::Polygon16: Ok(Polygon(hdc_, pts.data(), n)); break;
        case Rt::Polyline: case Rt::Polyline16: Ok(Polyline(hdc_, pts.data(), n)); break;
        case Rt::PolylineTo: case Rt::PolylineTo16: Ok(PolylineTo(hdc_, pts.data(), n)); break;
        case Rt::PolyBezier: case Rt::PolyBezier16: Ok(PolyBezier(hdc_, pts.data(), n)); break;
        case Rt::PolyBezierTo: case Rt::PolyBezierTo16: Ok(PolyBezierTo(hdc_, pts.data(), n)); break;
        default: Skip(p.type);
        }
    }
    void Do(const PolyPoly& p) {
        auto pts = Points(p.points);
        if (p.type == Rt::PolyPolygon || p.type == Rt::PolyPolygon16) {
            std::vector<INT> counts(p.counts.begin(), p.counts.end());
            Ok(PolyPolygon(hdc_, pts.data(), counts.data(), static_cast<int>(counts.size())));
        } else {
            std::vector<DWORD> counts(p.counts.begin(), p.counts.end());
            Ok(PolyPolyline(hdc_, pts.data(), counts.data(), static_cast<DWORD>(counts.size())));
        }
    }
    void Do(const PolyDraw& p) {
        auto pts = Points(p.points);
        Ok(::PolyDraw(hdc_, pts.data(), p.kinds.data(), static_cast<int>(pts.size())));
    }
    void Do(const Value& v) {
        switch (v.type) {
        case Rt::SetMapMode: Ok(SetMapMode(hdc_, static_cast<int>(v.value)) != 0); break;
        case Rt::SetBkMode: Ok(SetBkMode(hdc_, static_cast<int>(v.value)) != 0); break;
        case Rt::SetPolyFillMode: Ok(SetPolyFillMode(hdc_, static_cast<int>(v.value)) != 0); break;
        case Rt::SetRop2: Ok(SetROP2(hdc_, static_cast<int>(v.value)) != 0); break;
        case Rt::SetStretchBltMode: SetStretchBltMode(hdc_, static_cast<int>(v.value)); Ok(true); break;
        case Rt::SetTextAlign: SetTextAlign(hdc_, v.value); Ok(true); break;
        case Rt::SetTextColor: SetTextColor(hdc_, v.value & 0xFFFFFF); Ok(true); break;
        case Rt::SetBkColor: SetBkColor(hdc_, v.value & 0xFFFFFF); Ok(true); break;
        case Rt::SetArcDirection: Ok(SetArcDirection(hdc_, static_cast<int>(v.value)) != 0); break;
        case Rt::SetMiterLimit: {
            float f;
            std::memcpy(&f, &v.value, 4);
            // Writers store the limit as a float or as a whole number.
            float limit = (std::isfinite(f) && f >= 1 && f < 1e6) ? f : static_cast<float>(v.value);
            Ok(SetMiterLimit(hdc_, limit, nullptr));
            break;
        }
        case Rt::RestoreDC: {
            // Only the metafile's own saves may be restored.
            int rel = static_cast<int>(v.value);
            int depth = static_cast<int>(gdi::State(*dc_).saved.size()) - saveLevel_;
            if (rel >= 0 || -rel > depth) {
                ++stats_.failed;
                break;
            }
            Ok(RestoreDC(hdc_, rel));
            break;
        }
        case Rt::SelectObject: {
            HGDIOBJ h = Object(v.value);
            Ok(h && SelectObject(hdc_, h));
            break;
        }
        case Rt::DeleteObject: {
            if (v.value & kStockObject || v.value >= objects_.size() || !objects_[v.value]) {
                ++stats_.failed;
                break;
            }
            HGDIOBJ h = objects_[v.value];
            objects_[v.value] = nullptr;
            if (!DeleteObject(h)) pending_.push_back(h);  // still selected: freed at the end
            ++stats_.played;
            break;
        }
        case Rt::SelectClipPath: Ok(SelectClipPath(hdc_, static_cast<int>(v.value))); break;
        default: Skip(v.type);
        }
    }
    void Do(const Point& p) {
        switch (p.type) {
        case Rt::SetWindowExtEx: Ok(SetWindowExtEx(hdc_, p.point.x, p.point.y, nullptr)); break;
        case Rt::SetWindowOrgEx: Ok(SetWindowOrgEx(hdc_, p.point.x, p.point.y, nullptr)); break;
        case Rt::SetViewportExtEx: Ok(SetViewportExtEx(hdc_, p.point.x, p.point.y, nullptr)); break;
        case Rt::SetViewportOrgEx: Ok(SetViewportOrgEx(hdc_, p.point.x, p.point.y, nullptr)); break;
        case Rt::SetBrushOrgEx: Ok(SetBrushOrgEx(hdc_, p.point.x, p.point.y, nullptr)); break;
        case Rt::MoveToEx: Ok(MoveToEx(hdc_, p.point.x, p.point.y, nullptr)); break;
        case Rt::LineTo: Ok(LineTo(hdc_, p.point.x, p.point.y)); break;
        default: Skip(p.type);
        }
    }
    void Do(const Rect& r) {
        const RECTL& b = r.rect;
        switch (r.type) {
        case Rt::Rectangle: Ok(::Rectangle(hdc_, b.left, b.top, b.right, b.bottom)); break;
        case Rt::Ellipse: Ok(::Ellipse(hdc_, b.left, b.top, b.right, b.bottom)); break;
        case Rt::FillPath: Ok(FillPath(hdc_)); break;
        case Rt::StrokePath: Ok(StrokePath(hdc_)); break;
        case Rt::StrokeAndFillPath: Ok(StrokeAndFillPath(hdc_)); break;
        case Rt::IntersectClipRect: {
            Ok(IntersectClipRect(hdc_, b.left, b.top, b.right, b.bottom) != ERROR_REGION);
            break;
        }
        case Rt::ExcludeClipRect: {
            Ok(ExcludeClipRect(hdc_, b.left, b.top, b.right, b.bottom) != ERROR_REGION);
            break;
        }
        default: Skip(r.type);
        }
    }
    void Do(const Plain& p) {
        switch (p.type) {
        case Rt::SaveDC: Ok(SaveDC(hdc_) != 0); break;
        case Rt::BeginPath: Ok(BeginPath(hdc_)); break;
        case Rt::EndPath: Ok(EndPath(hdc_)); break;
        case Rt::CloseFigure: Ok(CloseFigure(hdc_)); break;
        case Rt::FlattenPath: Ok(FlattenPath(hdc_)); break;
        case Rt::WidenPath: Ok(WidenPath(hdc_)); break;
        case Rt::AbortPath: Ok(AbortPath(hdc_)); break;
        default: Skip(p.type);
        }
    }
    void Do(const Scale& s) {
        switch (s.type) {
        case Rt::ScaleViewportExtEx: Ok(ScaleViewportExtEx(hdc_, s.xNum, s.xDenom, s.yNum, s.yDenom, nullptr)); break;
        case Rt::ScaleWindowExtEx: Ok(ScaleWindowExtEx(hdc_, s.xNum, s.xDenom, s.yNum, s.yDenom, nullptr)); break;
        case Rt::SetTextJustification: Ok(SetTextJustification(hdc_, s.xNum, s.xDenom)); break;
        default: Skip(s.type);
        }
    }
    void Do(const RoundRect& r) {
        Ok(::RoundRect(hdc_, r.box.left, r.box.top, r.box.right, r.box.bottom, r.corner.cx, r.corner.cy));
    }
    void Do(const ArcLike& a) {
        const RECTL& b = a.box;
        switch (a.type) {
        case Rt::Arc: Ok(::Arc(hdc_, b.left, b.top, b.right, b.bottom, a.start.x, a.start.y, a.end.x, a.end.y)); break;
        case Rt::ArcTo: Ok(::ArcTo(hdc_, b.left, b.top, b.right, b.bottom, a.start.x, a.start.y, a.end.x, a.end.y)); break;
        case Rt::Chord: Ok(::Chord(hdc_, b.left, b.top, b.right, b.bottom, a.start.x, a.start.y, a.end.x, a.end.y)); break;
        case Rt::Pie: Ok(::Pie(hdc_, b.left, b.top, b.right, b.bottom, a.start.x, a.start.y, a.end.x, a.end.y)); break;
        default: Skip(a.type);
        }
    }
    void Do(const AngleArc& a) {
        Ok(::AngleArc(hdc_, a.center.x, a.center.y, a.radius, a.start, a.sweep));
    }
    void Do(const Transform& t) {
        XFORM x{t.xform.eM11, t.xform.eM12, t.xform.eM21, t.xform.eM22, t.xform.eDx, t.xform.eDy};
        if (t.type == Rt::SetWorldTransform) Ok(SetWorldTransform(hdc_, &x));
        else Ok(ModifyWorldTransform(hdc_, &x, t.mode));
    }
    void Do(const SetPixel& p) { Ok(SetPixelV(hdc_, p.point.x, p.point.y, p.color & 0xFFFFFF)); }
    void Do(const CreatePen& p) {
        Store(p.index, ::CreatePen(static_cast<int>(p.style & PS_STYLE_MASK) <= PS_INSIDEFRAME
                                       ? static_cast<int>(p.style & PS_STYLE_MASK) : PS_SOLID,
                                   p.width, p.color & 0xFFFFFF));
    }
    void Do(const ExtCreatePen& p) {
        LOGBRUSH lb{p.brushStyle == BS_NULL ? BS_NULL : BS_SOLID, p.color & 0xFFFFFF, 0};
        std::vector<DWORD> styles(p.styleEntries.begin(), p.styleEntries.end());
        DWORD style = p.style;
        if ((style & PS_STYLE_MASK) != PS_USERSTYLE) styles.clear();
        if ((style & PS_STYLE_MASK) == PS_USERSTYLE && (styles.empty() || styles.size() > 16))
            style = (style & ~PS_STYLE_MASK) | PS_SOLID, styles.clear();
        Store(p.index, ::ExtCreatePen(style, p.width, &lb, static_cast<DWORD>(styles.size()),
                                      styles.empty() ? nullptr : styles.data()));
    }
    void Do(const CreateBrush& b) {
        HBRUSH h = nullptr;
        if (b.style == BS_NULL) {
            LogicalNullBrush(b.index);
            return;
        }
        if (b.style == BS_HATCHED && b.hatch < HS_DDI_MAX) h = CreateHatchBrush(static_cast<int>(b.hatch), b.color & 0xFFFFFF);
        else h = CreateSolidBrush(b.color & 0xFFFFFF);
        Store(b.index, h);
    }
    void LogicalNullBrush(uint32_t index) {
        // A null brush object of the metafile's own.
        gdi::LogicalBrush none;
        none.kind = gdi::LogicalBrush::Kind::Null;
        Store(index, (new gdi::BrushObject(none))->Handle());
    }
    void Do(const CreateDibBrush& b) {
        const auto packed = Packed(b.dib);
        Store(b.index, CreateDIBPatternBrushPt(packed.data(), b.usage == 1 ? DIB_PAL_COLORS : DIB_RGB_COLORS));
    }
    void Do(const CreateFont& f) { Store(f.index, CreateFontIndirectW(&f.font)); }
    void Do(const CreatePalette&) { ++stats_.played; }  // colours come from the DIBs and COLORREFs
    void Do(const TextOut& t) {
        std::vector<INT> dx(t.dx.begin(), t.dx.end());
        UINT options = t.options & (ETO_OPAQUE | ETO_CLIPPED | ETO_GLYPH_INDEX | ETO_PDY);
        // ANSI records go through the ANSI call: the process's code page,
        // double-byte characters and spacing given per byte.
        const bool ansi = t.type == Rt::ExtTextOutA || t.type == Rt::PolyTextOutA;
        const size_t units = ansi ? t.narrow.size() : t.text.size();
        if (!dx.empty() && dx.size() < units * ((options & ETO_PDY) ? 2 : 1)) dx.clear();
        RECT rc{t.rect.left, t.rect.top, t.rect.right, t.rect.bottom};
        bool hasRect = (options & (ETO_OPAQUE | ETO_CLIPPED)) && !gdi::RectEmpty(gdi::OrderRect(t.rect));
        const UINT used = hasRect ? options : options & ~(ETO_OPAQUE | ETO_CLIPPED);
        if (ansi && !(options & ETO_GLYPH_INDEX)) {
            Ok(ExtTextOutA(hdc_, t.reference.x, t.reference.y, used, hasRect ? &rc : nullptr, t.narrow.data(),
                           static_cast<UINT>(t.narrow.size()), dx.empty() ? nullptr : dx.data()));
            return;
        }
        Ok(ExtTextOutW(hdc_, t.reference.x, t.reference.y, used, hasRect ? &rc : nullptr, t.text.data(),
                       static_cast<UINT>(t.text.size()), dx.empty() ? nullptr : dx.data()));
    }
    bool Dib(const emf::Dib& dib, const RECTL& d, int xs, int ys, int ws, int hs, DWORD rop, UINT usage) {
        std::vector<uint8_t> info(dib.info.begin(), dib.info.end());
        auto* bmi = reinterpret_cast<const BITMAPINFO*>(info.data());
        return StretchDIBits(hdc_, d.left, d.top, d.right - d.left, d.bottom - d.top, xs, ys, ws, hs,
                             dib.bits.data(), bmi, usage == 1 ? DIB_PAL_COLORS : DIB_RGB_COLORS, rop) != 0;
    }
    // A record's destination; an extent that would run past the coordinate
    // range stops at its end rather than wrapping round to the other side.
    static RECTL DestRect(LONG x, LONG y, LONG cx, LONG cy) {
        auto end = [](LONG a, LONG b) {
            return static_cast<LONG>(std::clamp<int64_t>(int64_t{a} + b, INT32_MIN, INT32_MAX));
        };
        return {x, y, end(x, cx), end(y, cy)};
    }
    void Do(const StretchDib& s) {
        if (s.dib.info.size() < sizeof(BITMAPINFOHEADER)) {
            Skip(s.type);  // core headers: not played
            return;
        }
        const RECTL dest = DestRect(s.xDest, s.yDest, s.cxDest, s.cyDest);
        Ok(Dib(s.dib, dest, s.xSrc, s.ySrc, s.cxSrc, s.cySrc, s.rop, s.usage));
    }
    // A record's image selected into a memory DC, for the DC calls that
    // read a source DC; empty when the image cannot be made.
    struct SourceDc {
        HBITMAP bitmap = nullptr;
        HDC dc = nullptr;
        HGDIOBJ old = nullptr;
        explicit SourceDc(const emf::Dib& dib) : bitmap(gdi::BitmapFromPackedDib(Packed(dib))) {
            if (!bitmap) return;
            dc = CreateCompatibleDC(nullptr);
            old = SelectObject(dc, bitmap);
        }
        ~SourceDc() {
            if (dc) {
                SelectObject(dc, old);
                DeleteDC(dc);
            }
            if (bitmap) DeleteObject(bitmap);
        }
        SourceDc(const SourceDc&) = delete;
        SourceDc& operator=(const SourceDc&) = delete;
    };
    // A one-bit mask of a record as a bitmap (null when there is none).
    struct MaskBitmap {
        HBITMAP h = nullptr;
        explicit MaskBitmap(const std::optional<emf::Dib>& dib) {
            if (dib) h = gdi::BitmapFromPackedDib(Packed(*dib));
        }
        ~MaskBitmap() {
            if (h) DeleteObject(h);
        }
        MaskBitmap(const MaskBitmap&) = delete;
        MaskBitmap& operator=(const MaskBitmap&) = delete;
    };

    void Do(const Blt& b) {
        const RECTL dest = DestRect(b.xDest, b.yDest, b.cxDest, b.cyDest);
        const bool rgb = b.usage == DIB_RGB_COLORS;
        if (b.type == Rt::AlphaBlend || b.type == Rt::TransparentBlt || b.type == Rt::PlgBlt) {
            // The source as a bitmap in a memory DC, then the DC's own call:
            // the record's raster operation holds the transparent colour or
            // the blend function.
            if (!b.source || b.source->info.size() < sizeof(BITMAPINFOHEADER) || !rgb) {
                Skip(b.type);
                return;
            }
            SourceDc src(*b.source);
            if (!src.dc) {
                Ok(false);
                return;
            }
            if (b.type == Rt::PlgBlt) {
                if (b.mask && b.mask->bitCount != 1) {
                    Ok(false);
                    return;
                }
                MaskBitmap mask(b.mask);
                const POINT corners[3] = {{b.corners[0].x, b.corners[0].y}, {b.corners[1].x, b.corners[1].y},
                                          {b.corners[2].x, b.corners[2].y}};
                Ok(PlgBlt(hdc_, corners, src.dc, b.xSrc, b.ySrc, b.cxSrc, b.cySrc, mask.h, b.xMask, b.yMask) != FALSE);
            } else if (b.type == Rt::TransparentBlt) {
                Ok(TransparentBlt(hdc_, dest.left, dest.top, b.cxDest, b.cyDest, src.dc, b.xSrc, b.ySrc, b.cxSrc, b.cySrc,
                                  b.rop) != FALSE);
            } else {
                BLENDFUNCTION f;
                std::memcpy(&f, &b.rop, sizeof f);
                Ok(AlphaBlend(hdc_, dest.left, dest.top, b.cxDest, b.cyDest, src.dc, b.xSrc, b.ySrc, b.cxSrc, b.cySrc,
                              f) != FALSE);
            }
            return;
        }
        if (b.type == Rt::MaskBlt) {
            // Each of the two raster operations where the mask selects it;
            // the source is needed only by operations that read it.
            if (!b.mask || b.mask->bitCount != 1 || (b.source && !rgb) ||
                (b.source && b.source->info.size() < sizeof(BITMAPINFOHEADER))) {
                Skip(b.type);
                return;
            }
            std::optional<SourceDc> src;
            if (b.source) src.emplace(*b.source);
            MaskBitmap mask(b.mask);
            Ok(mask.h && (!src || src->dc) &&
               MaskBlt(hdc_, dest.left, dest.top, b.cxDest, b.cyDest, src ? src->dc : nullptr, b.xSrc, b.ySrc, mask.h,
                       b.xMask, b.yMask, b.rop));
            return;
        }
        if (!b.source) {
            Ok(PatBlt(hdc_, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, b.rop));
            return;
        }
        if (b.source->info.size() < sizeof(BITMAPINFOHEADER)) {
            Skip(b.type);
            return;
        }
        Ok(Dib(*b.source, dest, b.xSrc, b.ySrc, b.cxSrc, b.cySrc, b.rop, b.usage));
    }
    void Do(const Region& r) {
        std::vector<RECTL> rects;
        for (const RECTL& rc : r.rects) rects.push_back(PlaybackRect(rc));
        if (r.type == Rt::ExtSelectClipRgn) {
            if (r.mode == RGN_COPY && rects.empty()) {
                dc_->clip = baseClip_;
                Ok(true);
                return;
            }
            gdi::Region area = gdi::Region::FromRects(rects);
            gdi::Region current = dc_->EffectiveClip();
            switch (r.mode) {
            case RGN_AND: dc_->clip = current.Intersect(area); break;
            case RGN_OR: dc_->clip = current.Union(area); break;
            case RGN_XOR: dc_->clip = current.Subtract(area).Union(area.Subtract(current)); break;
            case RGN_DIFF: dc_->clip = current.Subtract(area); break;
            case RGN_COPY:
                dc_->clip = baseClip_ ? baseClip_->Intersect(area) : area;
                break;
            default: ++stats_.failed; return;
            }
            Ok(true);
            return;
        }
        HBRUSH brush = nullptr;
        if (r.type == Rt::FillRgn || r.type == Rt::FrameRgn) brush = static_cast<HBRUSH>(Object(r.brush));
        else if (r.type == Rt::PaintRgn) brush = dc_->brush ? dc_->brush->Handle() : nullptr;
        if (r.type == Rt::InvertRgn) {
            bool ok = true;
            for (const RECTL& rc : rects) ok &= gdi::DeviceRectBlt(*dc_, rc, DSTINVERT, nullptr);
            Ok(ok);
            return;
        }
        if (!brush) {
            ++stats_.failed;
            return;
        }
        auto* b = gdi::ObjectAs<gdi::BrushObject>(brush);
        if (r.type == Rt::FrameRgn) {
            // The stroke's size in the same reference-device pixels as the
            // rectangles, at least one pixel.
            const XFORML& m = gdi::State(*dc_).playback;
            const LONG w = std::max<LONG>(1, std::lround(std::fabs(r.frame.cx * m.eM11)));
            const LONG h = std::max<LONG>(1, std::lround(std::fabs(r.frame.cy * m.eM22)));
            const gdi::Region frame = gdi::RegionFrame(gdi::Region::FromRects(rects), w, h);
            rects.assign(frame.Rects().begin(), frame.Rects().end());
        }
        bool ok = true;
        for (const RECTL& rc : rects)
            if (!gdi::RectEmpty(rc)) ok &= b && gdi::DeviceRectBlt(*dc_, rc, PATCOPY, &b->logical);
        Ok(ok);
    }
    void Do(const Comment&) { ++stats_.played; }  // private data of the writer; nothing to draw
    // Gradients through the DC's own call: rectangles become an image of
    // 256 steps stretched over them, triangles an interpolated image clipped
    // to the triangle, so a one-bit page halftones them like any image.
    void Do(const Gradient& g) {
        const size_t each = g.mode == GRADIENT_FILL_TRIANGLE ? 12 : 8;
        if (g.raw.size() < size_t{16} * g.vertices + each * g.meshes) {
            Ok(false);
            return;
        }
        std::vector<TRIVERTEX> vertices(g.vertices);
        if (g.vertices) std::memcpy(vertices.data(), g.raw.data(), size_t{16} * g.vertices);
        std::vector<ULONG> mesh(each / 4 * size_t{g.meshes});
        if (!mesh.empty()) std::memcpy(mesh.data(), g.raw.data() + size_t{16} * g.vertices, mesh.size() * 4);
        Ok(GradientFill(hdc_, vertices.data(), g.vertices, mesh.data(), g.meshes, g.mode) != FALSE);
    }
    void Do(const End&) { ++stats_.played; }

    HDC hdc_;
    const Document& doc_;
    RECTL dest_;
    DeviceContext* dc_ = nullptr;
    int saveLevel_ = 0;
    std::optional<gdi::Region> baseClip_;
    std::vector<HGDIOBJ> objects_;
    std::vector<HGDIOBJ> pending_;
    PlayStats stats_;

public:
    ~Player() {
        for (HGDIOBJ h : pending_) DeleteObject(h);
    }
};

struct MetaFile {
    std::vector<uint8_t> bytes;
    Document doc;
};

}  // namespace

SIZEL ReferenceMicrometers(const Header& h) {
    if (h.micrometers.cx > 0 && h.micrometers.cy > 0) return h.micrometers;
    auto um = [](LONG mm) { return mm > 0 && mm < 10000 ? mm * 1000 : 0; };
    return {um(h.millimeters.cx), um(h.millimeters.cy)};
}

PageFrame FrameOf(const Header& h) {
    // In doubles: a damaged header's corners may be any 32-bit values.
    auto span = [](LONG lo, LONG hi) { return static_cast<double>(hi) - lo; };
    PageFrame f{h.frame.left / 100.0, h.frame.top / 100.0, span(h.frame.left, h.frame.right) / 100.0,
                span(h.frame.top, h.frame.bottom) / 100.0};
    if (f.width > 0 && f.height > 0) return f;
    // No frame: the bounds, in reference pixels (inclusive), give the page.
    SIZEL um = ReferenceMicrometers(h);
    double mmX = um.cx > 0 && h.device.cx > 0 ? um.cx / 1000.0 / h.device.cx : 25.4 / 96;
    double mmY = um.cy > 0 && h.device.cy > 0 ? um.cy / 1000.0 / h.device.cy : 25.4 / 96;
    return {h.bounds.left * mmX, h.bounds.top * mmY, std::max(1.0, span(h.bounds.left, h.bounds.right) + 1) * mmX,
            std::max(1.0, span(h.bounds.top, h.bounds.bottom) + 1) * mmY};
}

size_t PlayStats::Skipped() const {
    size_t n = 0;
    for (auto& [k, v] : skipped) n += v;
    return n;
}

PlayStats Play(HDC hdc, const Document& doc, const RECTL& dest) {
    Player p(hdc, doc, dest);
    PlayStats s = p.Run();
    for (auto& [kind, count] : doc.skipped) s.skipped[kind] += count;
    s.failed += doc.refused.size();
    s.refused.insert(s.refused.end(), doc.refused.begin(), doc.refused.end());
    return s;
}

}  // namespace zq::emf

using namespace zq::emf;

extern "C" {

HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* bytes) {
    if (!bytes || !size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto mf = std::make_unique<MetaFile>();
    mf->bytes.assign(bytes, bytes + size);
    auto parsed = ParseEmf(mf->bytes);
    if (!parsed.document) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    mf->doc = std::move(*parsed.document);
    return reinterpret_cast<HENHMETAFILE>(mf.release());
}

HENHMETAFILE GetEnhMetaFileW(LPCWSTR path) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string p;
    for (const char16_t* c = path; *c; ++c) p.push_back(*c < 0x80 ? static_cast<char>(*c) : '_');
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    return SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
}

BOOL DeleteEnhMetaFile(HENHMETAFILE emf) {
    if (!emf) return FALSE;
    delete reinterpret_cast<MetaFile*>(emf);
    return TRUE;
}

BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE emf, const RECT* rect) {
    auto* dc = zq::gdi::DeviceContext::FromHandle(hdc);
    if (!dc || !emf || !rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* mf = reinterpret_cast<MetaFile*>(emf);
    POINT corners[2] = {{rect->left, rect->top}, {rect->right, rect->bottom}};
    LPtoDP(hdc, corners, 2);
    PlayStats s = Play(hdc, mf->doc, {corners[0].x, corners[0].y, corners[1].x, corners[1].y});
    return s.failed == 0 ? TRUE : FALSE;
}

}  // extern "C"
