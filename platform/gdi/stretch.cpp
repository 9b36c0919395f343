// Stretching transfers: the source rectangle is scaled onto the target
// rectangle (a reversed rectangle mirrors), pixel by nearest sample in the
// colour-on-colour modes, by area average and ordered dither in HALFTONE.
#include <algorithm>
#include <cstdlib>

#include "base/error.h"
#include "gdi/engine.h"
#include "gdi/rop.h"

namespace zq::gdi {

namespace {

constexpr BYTE kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

const Palette& PalOf(SURFOBJ* so) {
    Surface* s = SurfaceFromObject(so);
    return s ? s->Pal() : DefaultPalette(so->iBitmapFormat);
}

// Source coordinate of target index i (0 .. dn-1) for a source span of sn.
LONG Sample(LONG i, LONG dn, LONG sn) { return static_cast<LONG>((2 * int64_t(i) + 1) * sn / (2 * int64_t(dn))); }

BOOL Stretch(SURFOBJ* dst, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, POINTL* pptlHTOrg,
             RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask, ULONG mode, BRUSHOBJ* pbo, ROP4 rop4) {
    if (!dst || !dst->pvScan0 || !prclDest || !prclSrc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ULONG fore = rop4 & 0xFF, back = (rop4 >> 8) & 0xFF;
    const bool needS = RopUsesSource(fore) || RopUsesSource(back);
    RECTL d = OrderRect(*prclDest), s = OrderRect(*prclSrc);
    LONG dw = d.right - d.left, dh = d.bottom - d.top, sw = s.right - s.left, sh = s.bottom - s.top;
    if (dw == 0 || dh == 0) return TRUE;
    if (!needS) return BitBltEngine(dst, nullptr, nullptr, pco, nullptr, d, nullptr, nullptr, pbo, pptlHTOrg, rop4) ? TRUE : FALSE;
    if (!src || !src->pvScan0 || BitsPerPixel(src->iBitmapFormat) == 0) {
        SetLastError(src && BitsPerPixel(src->iBitmapFormat) == 0 ? ERROR_INVALID_PIXEL_FORMAT : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (sw == 0 || sh == 0) return TRUE;
    const bool flipX = (prclDest->left > prclDest->right) != (prclSrc->left > prclSrc->right);
    const bool flipY = (prclDest->top > prclDest->bottom) != (prclSrc->top > prclSrc->bottom);

    // The scaled source, already in the target's pixels.
    Bitmap tmp(dw, dh, dst->iBitmapFormat);
    if (!tmp) return FALSE;
    Surface* t = tmp.Get();
    Surface* ds = SurfaceFromObject(dst);
    if (ds) t->palette = &ds->Pal();
    const Palette& srcPal = PalOf(src);
    const Palette& dstPal = PalOf(dst);
    std::optional<EngineXlate> own;
    if (!pxlo) pxlo = &own.emplace(srcPal, dstPal);
    auto clampX = [&](LONG x) { return std::clamp(x, LONG{0}, src->sizlBitmap.cx - 1); };
    auto clampY = [&](LONG y) { return std::clamp(y, LONG{0}, src->sizlBitmap.cy - 1); };
    auto srcPx = [&](LONG x, LONG y) { return GetPx(*src, clampX(x), clampY(y)); };
    const bool halftone = mode == HALFTONE;
    POINTL ht = pptlHTOrg ? *pptlHTOrg : POINTL{0, 0};
    for (LONG y = 0; y < dh; ++y) {
        LONG yy = flipY ? dh - 1 - y : y;
        for (LONG x = 0; x < dw; ++x) {
            LONG xx = flipX ? dw - 1 - x : x;
            if (!halftone) {
                ULONG v = srcPx(s.left + Sample(xx, dw, sw), s.top + Sample(yy, dh, sh));
                t->SetPixel(x, y, XLATEOBJ_iXlate(pxlo, v));
                continue;
            }
            // Average of the source area this pixel covers.
            LONG x0 = s.left + LONG(int64_t(xx) * sw / dw), x1 = s.left + LONG(int64_t(xx + 1) * sw / dw);
            LONG y0 = s.top + LONG(int64_t(yy) * sh / dh), y1 = s.top + LONG(int64_t(yy + 1) * sh / dh);
            if (x1 <= x0) x1 = x0 + 1;
            if (y1 <= y0) y1 = y0 + 1;
            uint64_t r = 0, g = 0, b = 0, n = 0;
            for (LONG sy = y0; sy < y1; ++sy)
                for (LONG sx = x0; sx < x1; ++sx) {
                    COLORREF c = srcPal.ToRgb(srcPx(sx, sy));
                    r += GetRValue(c); g += GetGValue(c); b += GetBValue(c); ++n;
                }
            COLORREF avg = RGB(BYTE(r / n), BYTE(g / n), BYTE(b / n));
            if (dst->iBitmapFormat == BMF_1BPP) {
                int grey = (5 * GetRValue(avg) + 9 * GetGValue(avg) + 2 * GetBValue(avg)) >> 4;
                int th = kBayer4[((d.top + y - ht.y) % 4 + 4) % 4][((d.left + x - ht.x) % 4 + 4) % 4] * 16 + 8;
                t->SetPixel(x, y, dstPal.FromRgb(grey >= th ? 0xFFFFFF : 0));
            } else {
                t->SetPixel(x, y, dstPal.FromRgb(avg));
            }
        }
    }
    std::optional<Bitmap> tmask;
    if (mask && mask->pvScan0 && mask->iBitmapFormat == BMF_1BPP) {
        POINTL m = pptlMask ? *pptlMask : POINTL{0, 0};
        tmask.emplace(dw, dh, BMF_1BPP);
        if (!*tmask) return FALSE;
        for (LONG y = 0; y < dh; ++y)
            for (LONG x = 0; x < dw; ++x) {
                LONG mx = m.x + Sample(flipX ? dw - 1 - x : x, dw, sw), my = m.y + Sample(flipY ? dh - 1 - y : y, dh, sh);
                bool in = mx >= 0 && my >= 0 && mx < mask->sizlBitmap.cx && my < mask->sizlBitmap.cy && GetPx(*mask, mx, my);
                tmask->Get()->SetPixel(x, y, in ? 1 : 0);
            }
    }
    POINTL zero{0, 0};
    EngineXlate trivial(dstPal, dstPal);
    return BitBltEngine(dst, tmp.Object(), tmask ? tmask->Object() : nullptr, pco, &trivial, d, &zero, &zero, pbo,
                        nullptr, rop4)
               ? TRUE
               : FALSE;
}

}  // namespace

}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" BOOL EngStretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                              COLORADJUSTMENT*, POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask,
                              ULONG iMode) {
    ROP4 rop = psoMask ? Rop4(ROP3_SRCCOPY, ROP3_NOP) : Rop4(ROP3_SRCCOPY);
    return Stretch(psoDest, psoSrc, psoMask, pco, pxlo, pptlHTOrg, prclDest, prclSrc, pptlMask, iMode, nullptr, rop);
}

extern "C" BOOL EngStretchBltROP(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                                 COLORADJUSTMENT*, POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc,
                                 POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo, DWORD rop4) {
    return Stretch(psoDest, psoSrc, psoMask, pco, pxlo, pptlHTOrg, prclDest, prclSrc, pptlMask, iMode, pbo, rop4);
}
