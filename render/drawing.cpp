// The drawing hooks on the raster route: the engine draws into the band
// bitmap and the band flush sends it. Other languages' bodies are not part
// of this build and refuse the call.
#include "base/error.h"
#include "render/driver.h"
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
    return EngBitBlt(BandSurface(*r), psoSrc, psoMask, pco, pxlo, prclTrg, pptlSrc, pptlMask, pbo, pptlBrush, rop4);
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
    // Soft fonts serve the runs of records that ask for TrueType fonts to be
    // sent (dmTTOption 3); the other options keep the engine's glyphs.
    if (!prclExtra && !prclOpaque && r->ttOption == 3 && DownloadAndSendTrueTypeRun(*r, pstro, pfo, pco, pboFore, pptlOrg, mix))
        return TRUE;
    if (r->language == Language::PclXl) return XlTextOut(*r, pstro, pco, prclExtra, prclOpaque, pboFore, pboOpaque, mix);
    if (r->language == Language::Pcl5Gl2) return Gl2TextOut(*r, pstro, pco, prclExtra, prclOpaque, pboFore, pboOpaque, mix);
    // No device fonts are offered yet, so every string is drawn as graphics.
    return EngTextOut(BandSurface(*r), pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix);
}

}  // extern "C"

}  // namespace pclrend
