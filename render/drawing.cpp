// The drawing hooks on the raster route: the engine draws into the band
// bitmap and the band flush sends it. Other languages' bodies are not part
// of this build and refuse the call.
#include <algorithm>
#include <cstring>

#include "base/error.h"
#include "render/brush.h"
#include "render/colour_raster.h"
#include "render/driver.h"
#include "render/text_out.h"
#include "render/text_queue.h"
#include "render/stream_draw.h"
#include "render/tt_seam.h"

namespace pclrend {

namespace {

constexpr uint8_t kEngineDrew = 0x04;

// The record of a drawing hook: valid, with a band to draw into. `drop` is
// set for a suppressed page, where drawing succeeds without output.
DeviceRecord* DrawingRecord(SURFOBJ* pso, bool& drop, bool setError = true, bool gl2Body = false) {
    drop = false;
    DeviceRecord* r = RecordOfSurface(pso);
    if (!r) {
        if (setError) SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (r->pageSuppressed) {
        drop = true;
        return r;
    }
    if (r->outputMode == 4) return r;              // the stream records the drawing
    if (r->language == Language::PclXl) return r;  // the printer draws: no band
    if (r->language == Language::Pcl5Gl2 && gl2Body) return r;
    if (!RasterLanguage(*r) || !r->bandSurface) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    r->pageFlags |= kEngineDrew;
    return r;
}

// A stretch on a PCL 5 page. The source rectangle is cut to the source; a
// mask goes back to the engine.
BOOL Gl2Stretch(DeviceRecord& r, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo, POINTL* pptlHTOrg,
                RECTL* prclDest, RECTL* prclSrc, BRUSHOBJ* pbo, DWORD rop4) {
    if (!prclDest || !prclSrc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (psoMask || ((rop4 >> 8) & 0xFF) != (rop4 & 0xFF)) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    Gl2Transfer t;
    t.source = psoSrc;
    t.clip = pco;
    t.translation = pxlo;
    t.target = *prclDest;
    t.from = *prclSrc;
    t.brush = pbo;
    if (pptlHTOrg) t.halftoneOrigin = *pptlHTOrg;
    t.rop3 = static_cast<uint8_t>(rop4);
    return Gl2SourceBlt(r, t);
}

constexpr size_t kMaxGreyRectangles = 64;

// A grey rectangle fill on a monochrome band (pattern copy of a grey brush,
// no source): noted after the engine drew it, for the band flush to send as
// a PCL pattern fill where the band still shows exactly that.
void NoteGreyRectangle(DeviceRecord& r, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, const RECTL* prclTrg,
                       BRUSHOBJ* pbo, ROP4 rop4) {
    if (r.paletteColours != 2 || r.colour || psoSrc || psoMask || rop4 != 0xF0F0 || !pbo || !prclTrg ||
        r.greyRectangles.size() >= kMaxGreyRectangles)
        return;
    if (pco && pco->iDComplexity == DC_COMPLEX) return;
    const auto* brush = static_cast<const RealizedBrush*>(BRUSHOBJ_pvGetRbrush(pbo));
    if (!brush || brush->kind != kBrushSolid || brush->brushKey == 0 || brush->brushKey >= 255) return;
    GreyRectangle g;
    g.left = std::max<LONG>({0, std::min(prclTrg->left, prclTrg->right)});
    g.top = std::max<LONG>({0, std::min(prclTrg->top, prclTrg->bottom)});
    g.right = std::min<LONG>(r.band.width, std::max(prclTrg->left, prclTrg->right));
    g.bottom = std::min<LONG>(r.band.height, std::max(prclTrg->top, prclTrg->bottom));
    if (pco && pco->iDComplexity == DC_RECT) {
        g.left = std::max<int32_t>(g.left, pco->rclBounds.left);
        g.top = std::max<int32_t>(g.top, pco->rclBounds.top);
        g.right = std::min<int32_t>(g.right, pco->rclBounds.right);
        g.bottom = std::min<int32_t>(g.bottom, pco->rclBounds.bottom);
    }
    if (g.left >= g.right || g.top >= g.bottom) return;
    g.key = brush->brushKey;
    std::memcpy(g.pattern, brush->pattern, sizeof g.pattern);
    r.greyRectangles.push_back(g);
}

// Colour raster pages: text queued under the area a drawing covers (cut to
// its clip's bounds) goes into the band before it. A stroke covers its
// bounds widened by half its pen and leaves alone an inner rectangle (the
// bounds narrowed by that much; a cosmetic line counts as one pixel wide).
DrawnArea Clipped(DrawnArea a, const CLIPOBJ* pco) {
    if (pco && (pco->iDComplexity == DC_RECT || pco->iDComplexity == DC_COMPLEX)) {
        a.left = std::max<int32_t>(a.left, pco->rclBounds.left);
        a.top = std::max<int32_t>(a.top, pco->rclBounds.top);
        a.right = std::min<int32_t>(a.right, pco->rclBounds.right);
        a.bottom = std::min<int32_t>(a.bottom, pco->rclBounds.bottom);
    }
    return a;
}

void FlushTextUnder(DeviceRecord& r, PATHOBJ* ppo, const CLIPOBJ* pco, const LINEATTRS* la, bool filled = false) {
    if (r.language != Language::ColourRaster || !ppo) return;
    RECTFX b{};
    PATHOBJ_vGetBounds(ppo, &b);
    const DrawnArea bounds{b.xLeft >> 4, b.yTop >> 4, (b.xRight + 15) >> 4, (b.yBottom + 15) >> 4};
    if (!la) return FlushOverlappingText(r, Clipped(bounds, pco));
    const int32_t half = (la->fl & LA_GEOMETRIC) ? static_cast<int32_t>(la->elWidth.e / 2 + 1) : 1;
    const DrawnArea outer{bounds.left - half, bounds.top - half, bounds.right + half, bounds.bottom + half};
    const DrawnArea inner = Clipped({bounds.left + half, bounds.top + half, bounds.right - half, bounds.bottom - half}, pco);
    const bool hollow = !filled && inner.left < inner.right && inner.top < inner.bottom;
    FlushOverlappingText(r, Clipped(outer, pco), hollow ? &inner : nullptr);
}

void FlushTextUnder(DeviceRecord& r, const RECTL* area, const CLIPOBJ* pco) {
    if (r.language != Language::ColourRaster || !area) return;
    const RECTL a{std::min(area->left, area->right), std::min(area->top, area->bottom), std::max(area->left, area->right),
                  std::max(area->top, area->bottom)};
    FlushOverlappingText(r, Clipped({a.left, a.top, a.right, a.bottom}, pco));
}

}  // namespace

extern "C" {

BOOL DrvStrokePath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, POINTL* org,
                   LINEATTRS* la, MIX mix) {
    bool drop;
    DeviceRecord* r = DrawingRecord(pso, drop, true, true);
    if (!r) return FALSE;
    if (drop) return TRUE;
    if (r->outputMode == 4) return StreamStrokeFill(*r, ppo, pco, pbo, la, nullptr, org, mix, 0, pxo);
    if (r->language == Language::PclXl) return XlStrokePath(*r, ppo, pco, pxo, pbo, la, mix);
    if (r->language == Language::Pcl5Gl2) return Gl2StrokePath(*r, ppo, pco, pxo, pbo, la, mix);
    FlushTextUnder(*r, ppo, pco, la);
    return EngStrokePath(BandSurface(*r), ppo, pco, pxo, pbo, org, la, mix);
}

BOOL DrvFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* org, MIX mix, FLONG options) {
    bool drop;
    DeviceRecord* r = DrawingRecord(pso, drop, false, true);
    if (!r) return FALSE;
    if (drop) return TRUE;
    if (r->outputMode == 4) return StreamStrokeFill(*r, ppo, pco, nullptr, nullptr, pbo, org, mix, options);
    if (r->language == Language::PclXl) return XlFillPath(*r, ppo, pco, pbo, mix, options);
    if (r->language == Language::Pcl5Gl2) return Gl2FillPath(*r, ppo, pco, pbo, mix, options);
    FlushTextUnder(*r, ppo, pco, nullptr);
    return EngFillPath(BandSurface(*r), ppo, pco, pbo, org, mix, options);
}

BOOL DrvStrokeAndFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pboStroke, LINEATTRS* la,
                          BRUSHOBJ* pboFill, POINTL* org, MIX mixFill, FLONG options) {
    bool drop;
    DeviceRecord* r = DrawingRecord(pso, drop, false, true);
    if (!r) return FALSE;
    if (drop) return TRUE;
    if (r->outputMode == 4) return StreamStrokeFill(*r, ppo, pco, pboStroke, la, pboFill, org, mixFill, options, pxo);
    if (r->language == Language::Pcl5Gl2)
        return Gl2StrokeAndFillPath(*r, ppo, pco, pxo, pboStroke, la, pboFill, mixFill, options);
    if (r->language == Language::PclXl)
        return XlFillPath(*r, ppo, pco, pboFill, mixFill, options) && XlStrokePath(*r, ppo, pco, pxo, pboStroke, la, mixFill);
    FlushTextUnder(*r, ppo, pco, la, true);
    return EngStrokeAndFillPath(BandSurface(*r), ppo, pco, pxo, pboStroke, la, pboFill, org, mixFill, options);
}

BOOL DrvBitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclTrg,
               POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo, POINTL* pptlBrush, ROP4 rop4) {
    bool drop;
    DeviceRecord* r = DrawingRecord(psoTrg, drop, true, true);
    if (!r) return FALSE;
    if (drop) return TRUE;
    if (r->outputMode == 4) {
        if (!prclTrg) return FALSE;
        return StreamBitBlt(*r, psoSrc, psoMask, pco, pxlo, *prclTrg, pptlSrc, pbo, pptlBrush, rop4);
    }
    if (r->language == Language::Pcl5Gl2) {
        if (!prclTrg) return FALSE;
        if (Gl2DrawsBlt(psoMask, rop4)) return Gl2FillBlt(*r, pco, *prclTrg, pbo, rop4);
        if (psoMask || ((rop4 >> 8) & 0xFF) != (rop4 & 0xFF)) {
            // Masked transfers go back to the engine, which splits them.
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return FALSE;
        }
        const POINTL at = pptlSrc ? *pptlSrc : POINTL{0, 0};
        Gl2Transfer t;
        t.source = psoSrc;
        t.clip = pco;
        t.translation = pxlo;
        t.target = *prclTrg;
        t.from = {at.x, at.y, at.x + prclTrg->right - prclTrg->left, at.y + prclTrg->bottom - prclTrg->top};
        t.brush = pbo;
        if (pptlBrush) t.halftoneOrigin = *pptlBrush;
        t.rop3 = static_cast<uint8_t>(rop4);
        return Gl2SourceBlt(*r, t);
    }
    if (r->language == Language::PclXl) {
        if (!prclTrg) return FALSE;
        RECTL src{};
        if (pptlSrc) src = {pptlSrc->x, pptlSrc->y, pptlSrc->x + prclTrg->right - prclTrg->left, pptlSrc->y + prclTrg->bottom - prclTrg->top};
        return XlBitBlt(*r, psoSrc, psoMask, pco, pxlo, *prclTrg, pptlSrc ? &src : nullptr, pbo, rop4);
    }
    FlushTextUnder(*r, prclTrg, pco);
    const BOOL drawn = EngBitBlt(BandSurface(*r), psoSrc, psoMask, pco, pxlo, prclTrg, pptlSrc, pptlMask, pbo, pptlBrush, rop4);
    if (drawn) NoteGreyRectangle(*r, psoSrc, psoMask, pco, prclTrg, pbo, rop4);
    return drawn;
}

BOOL DrvCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest, POINTL* pptlSrc) {
    DeviceRecord* r = RecordOfSurface(psoDest);
    if (r && r->outputMode == 4) {
        if (!prclDest) return FALSE;
        return r->pageSuppressed || StreamCopyBits(*r, psoSrc, pco, pxlo, *prclDest, pptlSrc);
    }
    if (r && (r->language == Language::PclXl || r->language == Language::Pcl5Gl2) && prclDest)
        return DrvBitBlt(psoDest, psoSrc, nullptr, pco, pxlo, prclDest, pptlSrc, nullptr, nullptr, nullptr, 0xCCCC);
    if (psoSrc && psoSrc->iType != STYPE_BITMAP) {
        // A device surface as the source holds nothing to copy: the target
        // area is left white.
        if (!r || !r->bandSurface) return FALSE;
        return EngEraseSurface(BandSurface(*r), prclDest, 0xFFFFFFFF);
    }
    if (!r || !psoDest || psoDest->iType == STYPE_BITMAP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool drop;
    r = DrawingRecord(psoDest, drop);
    if (!r) return FALSE;
    if (drop) return TRUE;
    FlushTextUnder(*r, prclDest, pco);
    if (r->language == Language::ColourRaster && (r->modelFlags & 0x8000) && psoSrc && prclDest) {
        // Colour copies halftoned by the engine: its cells lie on the page,
        // not on the band, or every band top would show a seam.
        POINTL origin{0, -static_cast<LONG>(r->bandTop)};
        const POINTL at = pptlSrc ? *pptlSrc : POINTL{0, 0};
        RECTL from{at.x, at.y, at.x + prclDest->right - prclDest->left, at.y + prclDest->bottom - prclDest->top};
        return EngStretchBlt(BandSurface(*r), psoSrc, nullptr, pco, pxlo, nullptr, &origin, prclDest, &from, nullptr, HALFTONE);
    }
    // Monochrome bands take copies as the engine draws them unstretched
    // (its reference render halftones only stretched pictures).
    return EngCopyBits(BandSurface(*r), psoSrc, pco, pxlo, prclDest, pptlSrc);
}

BOOL DrvStretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                   COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask,
                   ULONG iMode) {
    bool drop;
    DeviceRecord* r = DrawingRecord(psoDest, drop, true, true);
    if (!r) return FALSE;
    if (drop) return TRUE;
    if (r->outputMode == 4)
        return prclDest && StreamStretchBlt(*r, psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, *prclDest, prclSrc, iMode,
                                            nullptr, 0xCCCC);
    if (r->language == Language::PclXl) {
        if (!prclDest) return FALSE;
        return XlBitBlt(*r, psoSrc, psoMask, pco, pxlo, *prclDest, prclSrc, nullptr, 0xCCCC);
    }
    if (r->language == Language::Pcl5Gl2)
        return Gl2Stretch(*r, psoSrc, psoMask, pco, pxlo, pptlHTOrg, prclDest, prclSrc, nullptr, 0xCCCC);
    // A monochrome band is always stretched with the engine's halftoning.
    const ULONG mode = r->colour ? iMode : HALFTONE;
    FlushTextUnder(*r, prclDest, pco);
    return EngStretchBlt(BandSurface(*r), psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, prclDest, prclSrc, pptlMask, mode);
}

BOOL DrvStretchBltROP(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                      COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask,
                      ULONG iMode, BRUSHOBJ* pbo, DWORD rop4) {
    bool drop;
    DeviceRecord* r = DrawingRecord(psoDest, drop, true, true);
    if (!r) return FALSE;
    if (drop) return TRUE;
    if (r->outputMode == 4)
        return prclDest && StreamStretchBlt(*r, psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, *prclDest, prclSrc, iMode,
                                            pbo, rop4);
    if (r->language == Language::PclXl) {
        if (!prclDest) return FALSE;
        return XlBitBlt(*r, psoSrc, psoMask, pco, pxlo, *prclDest, prclSrc, pbo, rop4);
    }
    if (r->language == Language::Pcl5Gl2)
        return Gl2Stretch(*r, psoSrc, psoMask, pco, pxlo, pptlHTOrg, prclDest, prclSrc, pbo, rop4);
    FlushTextUnder(*r, prclDest, pco);
    const ULONG mode = r->colour ? iMode : HALFTONE;
    return EngStretchBltROP(BandSurface(*r), psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, prclDest, prclSrc, pptlMask,
                            mode, pbo, rop4);
}

BOOL DrvTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
                BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    if (!pso || !pstro || !pfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool drop;
    DeviceRecord* r = DrawingRecord(pso, drop, true, true);
    if (!r) return FALSE;
    if (drop) return TRUE;
    if (r->outputMode == 4) return StreamTextOut(*r, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque);
    return PclTextOut(*r, pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix);
}

}  // extern "C"

}  // namespace pclrend
