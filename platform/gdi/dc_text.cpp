// Fonts and text of the DC calls: realising the selected font, laying out
// strings, TextOut/ExtTextOut, text extents and metrics, font enumeration
// (TrueType faces through fontconfig, device faces from the driver).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <numbers>
#include <optional>
#include <tuple>
#include <utility>

#include "base/error.h"
#include "gdi/dc_state.h"
#include "gdi/text.h"

namespace zq::gdi {
namespace {

std::string Narrow(const WCHAR* s) {
    std::string out;
    for (int i = 0; i < LF_FACESIZE && s[i]; ++i) out.push_back(s[i] < 0x80 ? static_cast<char>(s[i]) : '?');
    return out;
}

// Device pixels per logical unit along y and x.
double ScaleY(const XFORML& m) { return std::hypot(m.eM21, m.eM22); }
double ScaleX(const XFORML& m) { return std::hypot(m.eM11, m.eM12); }

// The direction of the baseline on the device, degrees counterclockwise as
// seen: the font's escapement (tenths of a degree) turned further by a
// transform that turns the x axis.
double BaselineAngle(const LOGFONTW& lf, const XFORML& m) {
    double turn = std::atan2(-static_cast<double>(m.eM12), static_cast<double>(m.eM11)) * 180 / std::numbers::pi;
    double a = std::fmod(lf.lfEscapement / 10.0 + turn, 360.0);
    if (std::fabs(a) < 1e-6 || !std::isfinite(a)) return 0;
    return a < 0 ? a + 360 : a;
}

}  // namespace

std::shared_ptr<EngineFont> RealisedFont(DeviceContext& dc) {
    DrawState& s = State(dc);
    if (s.realised) return s.realised;
    const FontObject* f = s.font ? s.font : static_cast<FontObject*>(StockDrawObject(SYSTEM_FONT));
    const LOGFONTW& lf = f->logical;
    std::string face = Narrow(lf.lfFaceName);
    int weight = lf.lfWeight ? lf.lfWeight : FW_NORMAL;
    XFORML m = LogicalToDevice(dc);
    double scale = ScaleY(m);
    SIZE res{DpiX(dc), DpiY(dc)};
    double angle = BaselineAngle(lf, m);
    // In the advanced graphics mode the glyphs turn by the font's
    // orientation, apart from the baseline's escapement.
    std::optional<double> glyphAngle;
    if (s.graphicsMode == GM_ADVANCED && lf.lfOrientation != lf.lfEscapement) {
        LOGFONTW turned = lf;
        turned.lfEscapement = lf.lfOrientation;
        glyphAngle = BaselineAngle(turned, m);
    }
    // A face the printer's driver offers under the asked name is printed by
    // the printer (upright, or turned where the face allows it); any other
    // name is a TrueType face.
    if (dc.device && !face.empty() && !glyphAngle) {
        std::u16string name;
        for (int i = 0; i < LF_FACESIZE && lf.lfFaceName[i]; ++i) name.push_back(lf.lfFaceName[i]);
        auto dev = MatchDeviceFace(*dc.device, name, weight, lf.lfItalic != 0);
        if (dev && DeviceFaceTurns(*dev, angle)) {
            const IFIMETRICS& ifi = dev->Ifi();
            double em;
            if (lf.lfHeight < 0) {
                em = -static_cast<double>(lf.lfHeight) * scale;
            } else {
                double cell = (lf.lfHeight ? lf.lfHeight : 12.0 * DpiY(dc) / 72.0 / scale) * scale;
                LONG units = static_cast<USHORT>(ifi.fwdWinAscender) + static_cast<USHORT>(ifi.fwdWinDescender);
                em = cell * ifi.fwdUnitsPerEm / std::max<LONG>(1, units);
            }
            em = std::clamp(em, 1.0, 4096.0);
            s.realised = std::shared_ptr<EngineFont>(
                EngineFont::CreateDevice(*dc.device, dev, em, weight, lf.lfItalic != 0, res, angle).release());
            if (s.realised) return s.realised;
        }
    }
    if (face.empty()) face = "Liberation Sans";
    auto found = FindFont(face, weight, lf.lfItalic != 0);
    if (!found) return nullptr;
    // Each realisation opens the face and hints every glyph it draws anew,
    // and a document selects the same few fonts over and over: fonts are
    // kept by face and size, a bounded number. Window and memory DCs come
    // and go with every paint, so theirs are kept per thread (a realised
    // font is not shared between threads); a printer DC keeps its own, as
    // its driver keeps state on the fonts it was handed.
    thread_local KeptFonts threadKept;
    KeptFonts& kept = dc.device ? s.keptFonts : threadKept;
    auto realise = [&](double emPixels, SIZE at, double turn, double widen,
                       std::optional<double> glyphTurn) -> std::shared_ptr<EngineFont> {
        const RealisedFontKey key{found->file.get(), found->index, emPixels, weight, lf.lfItalic != 0, at.cx, at.cy,
                                  turn, widen, glyphTurn};
        if (auto it = kept.find(key); it != kept.end() && it->second->Face().file == found->file) return it->second;
        if (kept.size() >= 32) kept.clear();
        std::shared_ptr<EngineFont> made(
            EngineFont::Create(*found, emPixels, weight, lf.lfItalic != 0, at, turn, widen, glyphTurn).release());
        if (made) kept[key] = made;
        return made;
    };
    double em;
    if (lf.lfHeight < 0) {
        em = -static_cast<double>(lf.lfHeight) * scale;
    } else {
        // A positive height is the cell height: ascent plus descent.
        double cell = (lf.lfHeight ? lf.lfHeight : 12.0 * DpiY(dc) / 72.0 / scale) * scale;
        auto probe = realise(100, {96, 96}, 0, 1, std::nullopt);
        if (!probe) return nullptr;
        double ratio = 100.0 / std::max<LONG>(1, probe->Ascent() + probe->Descent());
        em = cell * ratio;
    }
    em = std::clamp(em, 1.0, 4096.0);  // 295 pt at 1000 dpi; larger glyphs are refused
    // The glyphs' width: the mapping's own stretch of x against y, and a
    // width asked for (lfWidth: the average character width) against the
    // face's own average at this height.
    const double sx = ScaleX(m);
    double widthScale = scale > 0 ? sx / scale : 1;
    if (lf.lfWidth != 0) {
        auto natural = realise(em, res, 0, 1, std::nullopt);
        if (natural && natural->AverageWidth() > 0)
            widthScale = std::abs(static_cast<double>(lf.lfWidth)) * sx / natural->AverageWidth();
    }
    if (std::fabs(widthScale - 1) < 1e-6) widthScale = 1;  // an even mapping draws the face as it is
    return s.realised = realise(em, res, angle, widthScale, glyphAngle);
}

RECTL TextRecord::Reach() const {
    auto toLong = [](int64_t v) {
        return static_cast<LONG>(std::clamp<int64_t>(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
    };
    RECTL r{0, 0, 0, 0};
    bool any = false;
    auto add = [&](int64_t l, int64_t t, int64_t rt, int64_t b) {
        const RECTL q{toLong(l), toLong(t), toLong(rt), toLong(b)};
        if (RectEmpty(q)) return;
        r = any ? RECTL{std::min(r.left, q.left), std::min(r.top, q.top), std::max(r.right, q.right),
                        std::max(r.bottom, q.bottom)}
                : q;
        any = true;
    };
    const size_t n = std::min(glyphs.size(), positions.size());
    for (size_t i = 0; i < n; ++i) {
        const POINTL p = positions[i];
        // The glyph's box first: that loads the glyph, whose advance is then
        // known without loading it once more only to measure it.
        RECTL box;
        const bool inked = font->BitsBox(glyphs[i], &box);
        const int64_t advance = FXTOLROUND(font->Advance(glyphs[i]));
        add(p.x, int64_t{p.y} - font->Ascent(), int64_t{p.x} + std::max<int64_t>(1, advance),
            int64_t{p.y} + std::max<LONG>(1, font->Descent()));
        add(p.x, p.y, int64_t{p.x} + 1, int64_t{p.y} + 1);
        if (inked)
            add(int64_t{p.x} + box.left, int64_t{p.y} + box.top, int64_t{p.x} + box.right, int64_t{p.y} + box.bottom);
    }
    if (opaque) add(std::min(opaque->left, opaque->right), std::min(opaque->top, opaque->bottom),
                    std::max(opaque->left, opaque->right), std::max(opaque->top, opaque->bottom));
    for (const RECTL& e : extra)
        add(std::min(e.left, e.right), std::min(e.top, e.bottom), std::max(e.left, e.right), std::max(e.top, e.bottom));
    return r;
}

bool TextRecord::Play(PlayContext& ctx) const {
    // A device font's glyphs are drawn by the printer, so their pixels are
    // not known here: such strings are handed over in every band.
    if (font && !font->IsDevice()) {
        if (!reach_) reach_ = Reach();
        if (RectEmpty(IntersectRect(*reach_, ctx.band))) return true;
    }
    Region bandClip = ctx.BandClip(clip);
    if (bandClip.Empty()) return true;
    Surface* target = SurfaceFromObject(ctx.surface);
    if (!target) return false;
    EngineClip ec(bandClip);
    std::vector<POINTL> local;
    for (POINTL p : positions) local.push_back(ctx.ToBand(p));
    // The string's background comes from its positions, already in the band.
    EngineString str(*font, glyphs, local, text, defaultPlacement, glyphIndex);
    std::optional<RECTL> op;
    if (opaque) op = ctx.ToBand(*opaque);
    std::vector<RECTL> ex;
    for (const RECTL& r : extra) ex.push_back(ctx.ToBand(r));
    if (!ex.empty()) ex.push_back({0, 0, 0, 0});
    EngineBrush foreBrush(fore, target), opaqueObj(opaqueBrush, target);
    // Dithered text keeps the page's pattern phase on every band.
    POINTL org = ctx.ToBand(brushOrigin);
    RECTL* opPtr = op ? &*op : nullptr;
    RECTL* exPtr = ex.empty() ? nullptr : ex.data();
    if (ctx.Hooked(HOOK_TEXTOUT) && ctx.device->Drv().Hook(INDEX_DrvTextOut))
        return ctx.device->Drv().Get<PFN_DrvTextOut>(INDEX_DrvTextOut)(ctx.surface, &str, font.get(), &ec, exPtr,
                                                                       opPtr, &foreBrush, &opaqueObj, &org, mix);
    return EngTextOut(ctx.surface, &str, font.get(), &ec, exPtr, opPtr, &foreBrush, &opaqueObj, &org, mix);
}

namespace {

struct Layout {
    std::vector<HGLYPH> glyphs;
    std::vector<LONG> advances;  // device pixels
    // ETO_PDY: each glyph's step across the baseline to the next, device
    // pixels as x and y (empty otherwise).
    std::vector<POINTL> rises;
    LONG width = 0;              // device pixels
    bool uniform = true;         // advances are the font's own
};

// The step from `from` to the running total `to`, both in device pixels.
// An application's spacing can sum past any page: the total is held to the
// engine's coordinate range (28.4 fixed point, 2^27 pixels each way), where
// nothing is visible, so positions and the steps between them stay sums the
// engine can take.
LONG StepTo(double to, LONG from) {
    constexpr double limit = 1 << 27;
    const int64_t total = std::llround(std::isnan(to) ? 0.0 : std::clamp(to, -limit, limit));
    return static_cast<LONG>(std::clamp<int64_t>(total - from, std::numeric_limits<LONG>::min(),
                                                  std::numeric_limits<LONG>::max()));
}

Layout LayOutText(DeviceContext& dc, EngineFont& font, const char16_t* text, UINT count, const INT* dx, bool pdy,
                  bool glyphIndex) {
    DrawState& s = State(dc);
    XFORML m = LogicalToDevice(dc);
    double sx = ScaleX(m);
    Layout l;
    LONG extra = static_cast<LONG>(std::lround(s.charExtra * sx));
    LONG breakTotal = static_cast<LONG>(std::lround(s.breakExtra * sx));
    int breaks = 0;
    for (UINT i = 0; i < count; ++i) breaks += text[i] == u' ';
    for (UINT i = 0; i < count; ++i) l.glyphs.push_back(glyphIndex ? text[i] : font.GlyphOf(text[i]));
    if (!dx) font.QueryAdvances(l.glyphs);  // a device font's widths, in one call to its driver
    FIX acc = 0;
    LONG placed = 0;
    // The spacing given is summed before it is rounded, so that rounding
    // does not pile up along a line.
    double given = 0, riseX = 0, riseY = 0;
    for (UINT i = 0; i < count; ++i) {
        HGLYPH g = l.glyphs[i];
        LONG adv;
        if (dx) {
            given += dx[pdy ? 2 * i : i] * sx;
            adv = StepTo(given, placed);
            l.uniform = false;
            if (pdy) {
                // The y step is logical, turned and scaled by the mapping.
                const LONG beforeX = StepTo(riseX, 0), beforeY = StepTo(riseY, 0);
                riseX += dx[2 * i + 1] * m.eM21;
                riseY += dx[2 * i + 1] * m.eM22;
                l.rises.push_back({StepTo(riseX, beforeX), StepTo(riseY, beforeY)});
            }
        } else {
            acc += font.Advance(g) + LTOFX(extra);
            if (text[i] == u' ' && s.breakCount > 0 && breaks > 0) acc += LTOFX(breakTotal) / breaks;
            adv = FXTOLROUND(acc) - placed;
            if (extra || s.breakExtra) l.uniform = false;
        }
        placed += adv;
        l.advances.push_back(adv);
    }
    l.width = placed;
    return l;
}

// A quadrilateral given in device pixels filled in one colour, through the
// DC's own polygon call (with the DC's mix).
void FillDeviceQuad(DeviceContext& dc, const double (&xs)[4], const double (&ys)[4], COLORREF color) {
    HDC hdc = dc.Handle();
    POINT p[4];
    for (int i = 0; i < 4; ++i) p[i] = {static_cast<LONG>(std::lround(xs[i])), static_cast<LONG>(std::lround(ys[i]))};
    DPtoLP(hdc, p, 4);
    const int saved = SaveDC(hdc);
    HBRUSH brush = CreateSolidBrush(color);
    SelectObject(hdc, brush);
    SelectObject(hdc, GetStockObject(NULL_PEN));
    Polygon(hdc, p, 4);
    RestoreDC(hdc, saved);
    DeleteObject(brush);
}

// Text on a turned baseline: the glyphs (turned by the font) step along the
// baseline's direction, and the alignment points are taken along it and
// across it. A rectangle given with ETO_OPAQUE or ETO_CLIPPED stays upright,
// as the caller gave it; the background of an opaque mode and the underline
// and strikeout turn with the baseline.
bool TurnedText(DeviceContext& dc, const std::shared_ptr<EngineFont>& font, const Layout& l, POINTFIX o,
                UINT options, const std::optional<RECTL>& devRect, const char16_t* text, UINT count) {
    DrawState& s = State(dc);
    double a = font->Angle() * std::numbers::pi / 180;
    double ux = std::cos(a), uy = -std::sin(a);   // along the baseline (y down)
    double dx = std::sin(a), dy = std::cos(a);    // down across it
    double x = o.x / 16.0, y = o.y / 16.0;
    double shift = 0;
    switch (s.textAlign & TA_HORZ_MASK) {
    case TA_CENTER: shift = -l.width / 2.0; break;
    case TA_RIGHT: shift = -l.width; break;
    default: break;
    }
    double down = 0;
    switch (s.textAlign & TA_VERT_MASK) {
    case TA_BASELINE: break;
    case TA_BOTTOM: down = -font->Descent(); break;
    default: down = font->Ascent(); break;
    }
    x += ux * shift + dx * down;
    y += uy * shift + dy * down;
    auto rec = std::make_shared<TextRecord>();
    rec->font = font;
    rec->glyphs = l.glyphs;
    double along = 0;
    POINTL rise{0, 0};
    for (UINT i = 0; i < count; ++i) {
        rec->positions.push_back({static_cast<LONG>(std::lround(x + ux * along)) + rise.x,
                                  static_cast<LONG>(std::lround(y + uy * along)) + rise.y});
        along += l.advances[i];
        if (i < l.rises.size()) rise = {rise.x + l.rises[i].x, rise.y + l.rises[i].y};
    }
    rec->text.assign(text ? text : u"", count);
    rec->defaultPlacement = false;
    rec->glyphIndex = options & ETO_GLYPH_INDEX;
    rec->clip = dc.EffectiveClip();
    if (devRect && (options & ETO_CLIPPED)) rec->clip = rec->clip.Intersect(Region(*devRect));
    rec->fore.color = dc.textColor;
    rec->opaqueBrush.color = dc.bkColor;
    if (devRect && (options & ETO_OPAQUE)) rec->opaque = devRect;
    rec->brushOrigin = dc.brushOrigin;
    rec->mix = static_cast<MIX>(s.rop2 | (s.rop2 << 8));
    if (s.textAlign & TA_UPDATECP) {
        POINT p{static_cast<LONG>(std::lround(x + ux * along)), static_cast<LONG>(std::lround(y + uy * along))};
        DPtoLP(dc.Handle(), &p, 1);
        s.current = {p.x, p.y};
    }
    if (!count && !rec->opaque) return true;
    // A band along the baseline from `from` to `to` pixels below it (negative:
    // above), as long as the text.
    auto band = [&](double from, double to, COLORREF color) {
        const double xs[4] = {x + dx * from, x + dx * from + ux * l.width, x + dx * to + ux * l.width, x + dx * to};
        const double ys[4] = {y + dy * from, y + dy * from + uy * l.width, y + dy * to + uy * l.width, y + dy * to};
        FillDeviceQuad(dc, xs, ys, color);
    };
    if (!rec->opaque && dc.bkMode == OPAQUE && count) band(-font->Ascent(), font->Descent(), dc.bkColor);
    const COLORREF color = dc.textColor;
    if (!dc.Draw(std::move(rec))) return false;
    const FontObject* fo = s.font ? s.font : static_cast<FontObject*>(StockDrawObject(SYSTEM_FONT));
    IFIMETRICS* ifi = font->Ifi();
    const double em = font->EmPixels() / std::max<int>(1, ifi->fwdUnitsPerEm);
    auto line = [&](double pos, double size) {
        const double top = -pos * em;
        band(top, top + std::max(1.0, size * em), color);
    };
    if (fo->logical.lfUnderline && count) line(ifi->fwdUnderscorePosition, ifi->fwdUnderscoreSize);
    if (fo->logical.lfStrikeOut && count) line(ifi->fwdStrikeoutPosition, ifi->fwdStrikeoutSize);
    return true;
}

}  // namespace
}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" {

UINT SetTextAlign(HDC hdc, UINT align) {
    auto* dc = DeviceContext::FromHandle(hdc);
    if (!dc) return 0xFFFFFFFF;  // GDI_ERROR
    return std::exchange(State(*dc).textAlign, align);
}

int SetTextCharacterExtra(HDC hdc, int extra) {
    auto* dc = DeviceContext::FromHandle(hdc);
    if (!dc) return static_cast<int>(0x80000000);
    return std::exchange(State(*dc).charExtra, extra);
}

BOOL SetTextJustification(HDC hdc, int breakExtra, int breakCount) {
    auto* dc = DeviceContext::FromHandle(hdc);
    if (!dc) return FALSE;
    DrawState& s = State(*dc);
    s.breakExtra = breakCount > 0 ? breakExtra : 0;
    s.breakCount = std::max(0, breakCount);
    return TRUE;
}

BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx) {
    auto* dc = DeviceContext::FromHandle(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (count && !text) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DrawState& s = State(*dc);
    auto font = RealisedFont(*dc);
    if (!font) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    XFORML m = LogicalToDevice(*dc);
    Layout l = LayOutText(*dc, *font, text, count, dx, options & ETO_PDY, options & ETO_GLYPH_INDEX);
    POINTL ref{x, y};
    if (s.textAlign & TA_UPDATECP) ref = s.current;
    POINTFIX o = ToFix(m, ref.x, ref.y);
    std::optional<RECTL> devRect;
    if (rect) {
        POINTFIX a = ToFix(m, rect->left, rect->top), b = ToFix(m, rect->right, rect->bottom);
        devRect = OrderRect({FXTOLROUND(a.x), FXTOLROUND(a.y), FXTOLROUND(b.x), FXTOLROUND(b.y)});
    }
    if (font->Angle() != 0)
        return TurnedText(*dc, font, l, o, options, devRect, text, count) ? TRUE : FALSE;
    LONG ox = FXTOLROUND(o.x), oy = FXTOLROUND(o.y);
    switch (s.textAlign & TA_HORZ_MASK) {
    case TA_CENTER: ox = StepTo(static_cast<double>(ox) - l.width / 2, 0); break;
    case TA_RIGHT: ox = StepTo(static_cast<double>(ox) - l.width, 0); break;
    default: break;
    }
    switch (s.textAlign & TA_VERT_MASK) {
    case TA_BASELINE: break;
    case TA_BOTTOM: oy -= font->Descent(); break;
    default: oy += font->Ascent(); break;
    }
    auto rec = std::make_shared<TextRecord>();
    rec->font = font;
    rec->glyphs = l.glyphs;
    // Positions run in 64 bits and are held to what a coordinate holds: the
    // application's spacing may carry glyphs past it.
    int64_t px = ox, riseX = 0, riseY = 0;
    for (UINT i = 0; i < count; ++i) {
        rec->positions.push_back({StepTo(static_cast<double>(px + riseX), 0), StepTo(static_cast<double>(oy + riseY), 0)});
        px += l.advances[i];
        if (i < l.rises.size()) riseX += l.rises[i].x, riseY += l.rises[i].y;
    }
    rec->text.assign(text ? text : u"", count);
    rec->defaultPlacement = l.uniform;
    rec->glyphIndex = options & ETO_GLYPH_INDEX;
    rec->clip = dc->EffectiveClip();
    rec->fore.color = dc->textColor;
    rec->brushOrigin = dc->brushOrigin;
    rec->mix = static_cast<MIX>(s.rop2 | (s.rop2 << 8));
    if (devRect && (options & ETO_CLIPPED)) rec->clip = rec->clip.Intersect(Region(*devRect));
    rec->opaqueBrush.color = dc->bkColor;
    if (devRect && (options & ETO_OPAQUE)) rec->opaque = devRect;
    else if (dc->bkMode == OPAQUE && count) rec->opaque = RECTL{ox, StepTo(static_cast<double>(oy) - font->Ascent(), 0),
                                                                StepTo(static_cast<double>(ox) + l.width, 0),
                                                                StepTo(static_cast<double>(oy) + font->Descent(), 0)};
    const FontObject* fo = s.font ? s.font : static_cast<FontObject*>(StockDrawObject(SYSTEM_FONT));
    IFIMETRICS* ifi = font->Ifi();
    double em = font->EmPixels() / std::max<int>(1, ifi->fwdUnitsPerEm);
    auto line = [&](double pos, double size) {
        LONG top = oy - static_cast<LONG>(std::lround(pos * em));
        LONG h = std::max<LONG>(1, static_cast<LONG>(std::lround(size * em)));
        rec->extra.push_back({ox, top, ox + l.width, top + h});
    };
    if (fo->logical.lfUnderline && count) line(ifi->fwdUnderscorePosition, ifi->fwdUnderscoreSize);
    if (fo->logical.lfStrikeOut && count) line(ifi->fwdStrikeoutPosition, ifi->fwdStrikeoutSize);
    if (s.textAlign & TA_UPDATECP) {
        POINT p{ox + l.width, oy};
        DPtoLP(hdc, &p, 1);
        s.current.x = p.x;
    }
    if (!count && !rec->opaque) return TRUE;
    return dc->Draw(std::move(rec)) ? TRUE : FALSE;
}

BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int count) {
    if (count < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return ExtTextOutW(hdc, x, y, 0, nullptr, text, static_cast<UINT>(count), nullptr);
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size) {
    auto* dc = DeviceContext::FromHandle(hdc);
    if (!dc || !size || count < 0 || (count && !text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto font = RealisedFont(*dc);
    if (!font) return FALSE;
    Layout l = LayOutText(*dc, *font, text, static_cast<UINT>(count), nullptr, false, false);
    XFORML m = LogicalToDevice(*dc);
    double sx = ScaleX(m), sy = ScaleY(m);
    size->cx = static_cast<LONG>(std::lround(l.width / (sx ? sx : 1)));
    size->cy = static_cast<LONG>(std::lround((font->Ascent() + font->Descent()) / (sy ? sy : 1)));
    return TRUE;
}

BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* tm) {
    auto* dc = DeviceContext::FromHandle(hdc);
    if (!dc || !tm) return FALSE;
    auto font = RealisedFont(*dc);
    if (!font) return FALSE;
    IFIMETRICS* ifi = font->Ifi();
    std::memset(tm, 0, sizeof *tm);
    tm->tmAscent = font->Ascent();
    tm->tmDescent = font->Descent();
    tm->tmHeight = tm->tmAscent + tm->tmDescent;
    tm->tmInternalLeading = std::max<LONG>(0, tm->tmHeight - static_cast<LONG>(std::lround(font->EmPixels())));
    tm->tmExternalLeading = font->Leading();
    tm->tmAveCharWidth = font->AverageWidth();
    tm->tmMaxCharWidth = static_cast<LONG>(font->cxMax);
    tm->tmWeight = (font->flFontType & FO_SIM_BOLD) ? FW_BOLD : ifi->usWinWeight;
    tm->tmItalic = (font->flFontType & FO_SIM_ITALIC) || (ifi->fsSelection & FM_SEL_ITALIC);
    tm->tmFirstChar = ifi->wcFirstChar;
    tm->tmLastChar = ifi->wcLastChar;
    tm->tmDefaultChar = ifi->wcDefaultChar;
    tm->tmBreakChar = ifi->wcBreakChar;
    // TMPF_FIXED_PITCH is set for variable pitch; TMPF_VECTOR, and
    // TMPF_TRUETYPE or TMPF_DEVICE.
    const BYTE kind = font->IsDevice() ? 8 : 4;
    tm->tmPitchAndFamily =
        static_cast<BYTE>((ifi->jWinPitchAndFamily & 0xF0) | ((ifi->jWinPitchAndFamily & 1) ? 0 : 1) | 2 | kind);
    tm->tmDigitizedAspectX = font->sizLogResPpi.cx;
    tm->tmDigitizedAspectY = font->sizLogResPpi.cy;
    return TRUE;
}

// Device faces first (what the driver offers, by DrvQueryFont), then the
// TrueType families. A family name limits the list to faces of that name.
int EnumFontFamiliesW(HDC hdc, LPCWSTR family, FONTENUMPROCW proc, LPARAM lparam) {
    auto* dc = DeviceContext::FromHandle(hdc);
    if (!dc || !proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string want = family ? std::u16string(family) : u"";
    int result = 1;
    auto offer = [&](const std::u16string& name, DWORD type, const IFIMETRICS* ifi) {
        if (!want.empty() && name != want) return true;
        LOGFONTW lf{};
        for (size_t i = 0; i < name.size() && i + 1 < LF_FACESIZE; ++i) lf.lfFaceName[i] = name[i];
        TEXTMETRICW tm{};
        if (ifi) {
            lf.lfWeight = ifi->usWinWeight;
            lf.lfCharSet = ifi->jWinCharSet;
            lf.lfPitchAndFamily = ifi->jWinPitchAndFamily;
            tm.tmWeight = ifi->usWinWeight;
            tm.tmAveCharWidth = ifi->fwdAveCharWidth;
        } else {
            lf.lfWeight = FW_NORMAL;
            lf.lfCharSet = 0;
        }
        result = proc(&lf, &tm, type, lparam);
        return result != 0;
    };
    if (dc->device)
        for (const auto& face : dc->device->Faces())
            if (!offer(face->family, DEVICE_FONTTYPE, &face->Ifi())) return result;
    for (const std::string& f : FontFamilies()) {
        std::u16string name(f.begin(), f.end());
        if (!offer(name, TRUETYPE_FONTTYPE, nullptr)) return result;
    }
    return result;
}

}  // extern "C"
