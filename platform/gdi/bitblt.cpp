// Bit-block transfers on engine bitmaps: the full ROP4 (a foreground ROP3 in
// the low byte where the mask is 1, a background ROP3 in the next byte where
// it is 0), every ROP3 evaluated from its truth table over pattern, source
// and destination, through clip and colour translation.
#include <algorithm>
#include <cstring>
#include <optional>

#include "base/error.h"
#include "gdi/engine.h"
#include "gdi/rop.h"

namespace zq::gdi {

namespace {

inline LONG Mod(LONG a, LONG m) {
    LONG r = a % m;
    return r < 0 ? r + m : r;
}

// Pixel translation from a source surface to the target's pixels.
class Translator {
public:
    Translator(const SURFOBJ& src, const SURFOBJ& trg, XLATEOBJ* pxlo) {
        if (pxlo && (pxlo->flXlate & XO_TRIVIAL)) {
            trivial_ = true;
            return;
        }
        if (!pxlo) {
            Surface* s = SurfaceFromObject(const_cast<SURFOBJ*>(&src));
            Surface* t = SurfaceFromObject(const_cast<SURFOBJ*>(&trg));
            const Palette& sp = s ? s->Pal() : DefaultPalette(src.iBitmapFormat);
            const Palette& tp = t ? t->Pal() : DefaultPalette(trg.iBitmapFormat);
            own_.emplace(sp, tp);
            pxlo = &*own_;
            if (own_->flXlate & XO_TRIVIAL) {
                trivial_ = true;
                return;
            }
        }
        xlo_ = pxlo;
        ULONG bpp = BitsPerPixel(src.iBitmapFormat);
        if (bpp <= 8) {
            table_.resize(size_t(1) << bpp);
            for (ULONG i = 0; i < table_.size(); ++i) table_[i] = XLATEOBJ_iXlate(pxlo, i);
        }
    }
    bool Trivial() const { return trivial_; }
    ULONG operator()(ULONG v) const {
        if (trivial_) return v;
        if (!table_.empty()) return v < table_.size() ? table_[v] : 0;
        return XLATEOBJ_iXlate(xlo_, v);
    }

private:
    bool trivial_ = false;
    std::optional<EngineXlate> own_;
    XLATEOBJ* xlo_ = nullptr;
    std::vector<ULONG> table_;
};

bool UsesMaskBits(const SURFOBJ* m) { return m && m->pvScan0 && m->iBitmapFormat == BMF_1BPP; }

}  // namespace

bool BitBltEngine(SURFOBJ* trg, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, const RECTL& rclTrg,
                  const POINTL* pptlSrc, const POINTL* pptlMask, BRUSHOBJ* pbo, const POINTL* pptlBrush, ROP4 rop4) {
    if (!trg || !trg->pvScan0 || BitsPerPixel(trg->iBitmapFormat) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const ULONG fore = rop4 & 0xFF, back = (rop4 >> 8) & 0xFF;
    const bool needS = RopUsesSource(fore) || RopUsesSource(back);
    const bool needP = RopUsesPattern(fore) || RopUsesPattern(back);
    const bool needMask = fore != back;

    RECTL full = OrderRect(rclTrg);
    RECTL surfRect{0, 0, trg->sizlBitmap.cx, trg->sizlBitmap.cy};
    RECTL area = IntersectRect(full, surfRect);

    POINTL srcOrg{0, 0};
    if (needS) {
        if (!src || !src->pvScan0 || !pptlSrc || BitsPerPixel(src->iBitmapFormat) == 0) {
            SetLastError(src && BitsPerPixel(src->iBitmapFormat) == 0 ? ERROR_INVALID_PIXEL_FORMAT : ERROR_INVALID_PARAMETER);
            return false;
        }
        srcOrg = {pptlSrc->x - full.left, pptlSrc->y - full.top};
        // Only what the source holds can be read.
        RECTL srcInTarget{-srcOrg.x, -srcOrg.y, src->sizlBitmap.cx - srcOrg.x, src->sizlBitmap.cy - srcOrg.y};
        area = IntersectRect(area, srcInTarget);
    }

    // The pattern: a solid colour or a pattern surface in the target's format.
    ULONG solid = 0;
    const SURFOBJ* pat = nullptr;
    const BYTE* hatchMask = nullptr;
    const SURFOBJ* brushMask = nullptr;
    if (needP || (needMask && !UsesMaskBits(mask))) {
        EngineBrush* eb = BrushFromObject(pbo);
        if (needMask && !UsesMaskBits(mask) && eb) {
            // Without a mask the brush's own bits tell foreground from
            // background (transparent hatches and one-bit patterns).
            if (eb->logical.kind == LogicalBrush::Kind::Hatch) hatchMask = HatchBits(eb->logical.hatch).data();
            else if (eb->logical.kind == LogicalBrush::Kind::Pattern && eb->logical.pattern &&
                     eb->logical.pattern->Get()->iBitmapFormat == BMF_1BPP)
                brushMask = eb->logical.pattern->Object();
        }
        if (needP) {
            if (!pbo) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            if (pbo->iSolidColor != BR_NOT_SOLID) {
                solid = pbo->iSolidColor;
            } else if (eb && eb->EnsureEnginePattern() && eb->enginePattern) {
                pat = eb->enginePattern->Object();
            } else {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
        }
    }
    POINTL brushOrg = pptlBrush ? *pptlBrush : POINTL{0, 0};
    POINTL maskOrg{0, 0};
    if (needMask && UsesMaskBits(mask)) {
        POINTL m = pptlMask ? *pptlMask : POINTL{0, 0};
        maskOrg = {m.x - full.left, m.y - full.top};
        RECTL maskInTarget{-maskOrg.x, -maskOrg.y, mask->sizlBitmap.cx - maskOrg.x, mask->sizlBitmap.cy - maskOrg.y};
        area = IntersectRect(area, maskInTarget);
    }
    if (RectEmpty(area)) return true;

    Region clip = ClipRegion(pco, area);
    if (clip.Empty()) return true;

    // A source that overlaps the target on the same surface is read from a
    // copy, so no pixel is read after it was written.
    std::optional<Bitmap> srcCopy;
    const SURFOBJ* srcObj = src;
    if (needS && src->pvScan0 == trg->pvScan0) {
        RECTL sb = clip.Bounds();
        RECTL sr{sb.left + srcOrg.x, sb.top + srcOrg.y, sb.right + srcOrg.x, sb.bottom + srcOrg.y};
        srcCopy.emplace(sr.right - sr.left, sr.bottom - sr.top, src->iBitmapFormat);
        if (!*srcCopy) return false;
        SURFOBJ* c = srcCopy->Object();
        for (LONG y = sr.top; y < sr.bottom; ++y)
            for (LONG x = sr.left; x < sr.right; ++x) PutPx(*c, x - sr.left, y - sr.top, GetPx(*src, x, y));
        if (Surface* cs = srcCopy->Get(); Surface* ss = SurfaceFromObject(src)) cs->palette = &ss->Pal();
        srcObj = c;
        srcOrg = {srcOrg.x - sr.left, srcOrg.y - sr.top};
    }

    std::optional<Translator> xl;
    if (needS) xl.emplace(*srcObj, *trg, pxlo);

    const ULONG bpp = BitsPerPixel(trg->iBitmapFormat);
    const ULONG pixMask = bpp >= 32 ? 0xFFFFFFFF : ((1u << bpp) - 1);
    const bool plainCopy = fore == ROP3_SRCCOPY && !needMask && needS && xl->Trivial() &&
                           srcObj->iBitmapFormat == trg->iBitmapFormat && bpp >= 8;
    const bool plainFill = !needS && !needMask && !pat && (bpp == 24 || bpp == 32);

    for (const RECTL& r : clip.Rects()) {
        if (plainCopy) {
            size_t bytes = size_t(r.right - r.left) * (bpp / 8);
            for (LONG y = r.top; y < r.bottom; ++y) {
                const BYTE* s = static_cast<const BYTE*>(srcObj->pvScan0) + ptrdiff_t(y + srcOrg.y) * srcObj->lDelta +
                                size_t(r.left + srcOrg.x) * (bpp / 8);
                BYTE* d = static_cast<BYTE*>(trg->pvScan0) + ptrdiff_t(y) * trg->lDelta + size_t(r.left) * (bpp / 8);
                std::memcpy(d, s, bytes);
            }
            continue;
        }
        if (plainFill && (fore == ROP3_PATCOPY || fore == ROP3_BLACKNESS || fore == ROP3_WHITENESS)) {
            // The value the general loop would store in every pixel.
            const ULONG v = Rop3(fore, solid, 0, 0) & pixMask;
            for (LONG y = r.top; y < r.bottom; ++y) {
                BYTE* d = static_cast<BYTE*>(trg->pvScan0) + ptrdiff_t(y) * trg->lDelta + size_t(r.left) * (bpp / 8);
                if (bpp == 32) {
                    for (LONG x = r.left; x < r.right; ++x, d += 4) std::memcpy(d, &v, 4);
                    continue;
                }
                const BYTE b0 = BYTE(v), b1 = BYTE(v >> 8), b2 = BYTE(v >> 16);
                for (LONG x = r.left; x < r.right; ++x, d += 3) { d[0] = b0; d[1] = b1; d[2] = b2; }
            }
            continue;
        }
        for (LONG y = r.top; y < r.bottom; ++y) {
            for (LONG x = r.left; x < r.right; ++x) {
                ULONG rop = fore;
                if (needMask) {
                    bool m;
                    if (UsesMaskBits(mask)) m = GetPx(*mask, x + maskOrg.x, y + maskOrg.y) != 0;
                    else if (hatchMask) m = (hatchMask[Mod(y - brushOrg.y, 8)] >> (7 - Mod(x - brushOrg.x, 8))) & 1;
                    else if (brushMask)
                        m = GetPx(*brushMask, Mod(x - brushOrg.x, brushMask->sizlBitmap.cx),
                                  Mod(y - brushOrg.y, brushMask->sizlBitmap.cy)) != 0;
                    else m = true;
                    rop = m ? fore : back;
                }
                ULONG d = GetPx(*trg, x, y);
                ULONG s = RopUsesSource(rop) ? (*xl)(GetPx(*srcObj, x + srcOrg.x, y + srcOrg.y)) : 0;
                ULONG p = 0;
                if (RopUsesPattern(rop))
                    p = pat ? GetPx(*pat, Mod(x - brushOrg.x, pat->sizlBitmap.cx), Mod(y - brushOrg.y, pat->sizlBitmap.cy))
                            : solid;
                PutPx(*trg, x, y, Rop3(rop, p, s, d) & pixMask);
            }
        }
    }
    return true;
}

}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" BOOL EngBitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                          RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo, POINTL* pptlBrush,
                          ROP4 rop4) {
    if (!prclTrg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return BitBltEngine(psoTrg, psoSrc, psoMask, pco, pxlo, *prclTrg, pptlSrc, pptlMask, pbo, pptlBrush, rop4) ? TRUE
                                                                                                               : FALSE;
}

extern "C" BOOL EngCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest,
                            POINTL* pptlSrc) {
    return EngBitBlt(psoDest, psoSrc, nullptr, pco, pxlo, prclDest, pptlSrc, nullptr, nullptr, nullptr,
                     Rop4(ROP3_SRCCOPY));
}
