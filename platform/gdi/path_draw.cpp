// The engine's own stroke and fill of paths: cairo says which pixels are
// covered, the engine's bit-block code paints them with the brush and the
// raster operation, inside the clip.
#include <cmath>
#include <cstring>

#include "base/error.h"
#include "gdi/coverage.h"
#include "gdi/ddi_path.h"
#include "gdi/engine.h"

namespace zq::gdi {
namespace {

Path* PathOf(PATHOBJ* ppo) { return static_cast<Path*>(ppo); }

// Paints the covered pixels that the clip lets through.
BOOL Paint(SURFOBJ* pso, const Coverage& cov, const Region& clip, BRUSHOBJ* pbo, POINTL* brushOrg, MIX mix) {
    ULONG rop2 = mix & 0xFF;
    if (rop2 < 1 || rop2 > 16) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (rop2 == 11) return TRUE;  // R2_NOP
    const ULONG rop3 = Rop3FromRop2(rop2);
    // On a one-bit engine bitmap the covered cells are painted through a
    // one-bit mask of them: no region of every row's runs to build and cut
    // (deeper targets fill a region's rectangles faster than they apply a
    // mask pixel by pixel).
    Surface* s = SurfaceFromObject(pso);
    if (cov.box || cov.cells.empty() || !s || !s->HasBits() || pso->iBitmapFormat != BMF_1BPP)
        return PaintRegion(pso, cov.ToRegion().Intersect(clip), pbo, brushOrg, Rop4(rop3));
    const LONG w = cov.Width(), h = cov.area.bottom - cov.area.top;
    // The mask starts on a byte of the target, so that the transfer reads
    // its rows where they lie rather than shifting every row into place:
    // the cells land `shift` pixels into it.
    const LONG shift = ((cov.area.left % 8) + 8) % 8;
    Bitmap mask(w + shift, h, BMF_1BPP);
    if (!mask) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    SURFOBJ* m = mask.Object();
    const size_t width = static_cast<size_t>(w);
    const unsigned sh = static_cast<unsigned>(shift);
    for (LONG y = 0; y < h; ++y) {
        const uint8_t* cells = cov.cells.data() + static_cast<size_t>(y) * cov.stride;
        BYTE* out = static_cast<BYTE*>(m->pvScan0) + ptrdiff_t(y) * m->lDelta;
        size_t x = 0;
        // Eight cells at a time: the high bit of each byte that is not 0,
        // moved down and gathered into one byte, the first cell highest,
        // then put in place across the mask's bytes.
        for (; x + 8 <= width; x += 8) {
            // Most of a shape's box is usually empty: 32 empty cells are
            // passed over at once (the mask starts empty).
            while (x + 32 <= width) {
                uint64_t a, b, c, d;
                std::memcpy(&a, cells + x, 8);
                std::memcpy(&b, cells + x + 8, 8);
                std::memcpy(&c, cells + x + 16, 8);
                std::memcpy(&d, cells + x + 24, 8);
                if (a | b | c | d) break;
                x += 32;
            }
            if (x + 8 > width) break;
            uint64_t v;
            std::memcpy(&v, cells + x, 8);
            if (!v) continue;
            const uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
            const uint64_t nonZero = ((((v & low7) + low7) | v) & ~low7) >> 7;
            const unsigned bits = static_cast<unsigned>((nonZero * 0x8040201008040201ULL) >> 56);
            out[x / 8] |= static_cast<BYTE>(bits >> sh);
            if (sh) out[x / 8 + 1] |= static_cast<BYTE>(bits << (8 - sh));
        }
        for (; x < width; ++x)
            if (cells[x]) out[(x + sh) / 8] |= static_cast<BYTE>(0x80 >> ((x + sh) % 8));
    }
    const RECTL area{cov.area.left - shift, cov.area.top, cov.area.right, cov.area.bottom};
    return PaintMask(pso, m, area, clip, pbo, brushOrg, rop3);
}

// The pixels the clip allows on this surface.
std::optional<Region> Allowed(SURFOBJ* pso, CLIPOBJ* pco) {
    if (!pso || pso->sizlBitmap.cx <= 0 || pso->sizlBitmap.cy <= 0) return std::nullopt;
    RECTL whole{0, 0, pso->sizlBitmap.cx, pso->sizlBitmap.cy};
    return ClipRegion(pco, whole);
}

}  // namespace

BOOL PaintRegion(SURFOBJ* pso, const Region& region, BRUSHOBJ* pbo, POINTL* brushOrg, ROP4 rop4) {
    if (region.Empty()) return TRUE;
    EngineClip clipObject(region);
    RECTL bounds = region.Bounds();
    // A surface the driver keeps (no bits the engine could draw on) gets the
    // pixels through the driver's own bit-block transfer.
    Surface* s = SurfaceFromObject(pso);
    if (s && !s->HasBits()) {
        if (!s->device || !(s->hooks & HOOK_BITBLT) || !s->device->Drv().Hook(INDEX_DrvBitBlt)) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        return s->device->Drv().Get<PFN_DrvBitBlt>(INDEX_DrvBitBlt)(pso, nullptr, nullptr, &clipObject, nullptr,
                                                                    &bounds, nullptr, nullptr, pbo, brushOrg, rop4);
    }
    return EngBitBlt(pso, nullptr, nullptr, &clipObject, nullptr, &bounds, nullptr, nullptr, pbo, brushOrg, rop4);
}

BOOL PaintMask(SURFOBJ* pso, SURFOBJ* mask, const RECTL& area, const Region& clip, BRUSHOBJ* pbo, POINTL* brushOrg,
               ULONG rop3) {
    const RECTL painted = IntersectRect(area, clip.Bounds());
    if (RectEmpty(painted)) return TRUE;
    EngineClip clipObject(clip);
    POINTL maskOrg{painted.left - area.left, painted.top - area.top};
    RECTL target = painted;
    return EngBitBlt(pso, nullptr, mask, &clipObject, nullptr, &target, nullptr, &maskOrg, pbo, brushOrg,
                     Rop4(rop3, ROP3_NOP));
}

BOOL StrokeOnto(SURFOBJ* pso, const Path& path, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, POINTL* org,
                LINEATTRS* la, MIX mix) {
    auto clip = Allowed(pso, pco);
    if (!clip || !la) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (clip->Empty() || path.Empty()) return TRUE;
    XFORML m{1, 0, 0, 1, 0, 0};
    if (pxo) XFORMOBJ_iGetXform(pxo, &m);
    RECTL area = clip->Bounds();
    return Paint(pso, StrokeCoverage(path, area, &m, *la), *clip, pbo, org, mix);
}

BOOL FillOnto(SURFOBJ* pso, const Path& path, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* org, MIX mix, FLONG options) {
    auto clip = Allowed(pso, pco);
    if (!clip) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (clip->Empty() || path.Empty()) return TRUE;
    RECTL area = clip->Bounds();
    return Paint(pso, FillCoverage(path, area, options), *clip, pbo, org, mix);
}

}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" BOOL EngStrokePath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo,
                              POINTL* pptlBrushOrg, LINEATTRS* plineattrs, MIX mix) {
    if (!ppo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return StrokeOnto(pso, *PathOf(ppo), pco, pxo, pbo, pptlBrushOrg, plineattrs, mix);
}

extern "C" BOOL EngFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg,
                            MIX mix, FLONG flOptions) {
    if (!ppo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return FillOnto(pso, *PathOf(ppo), pco, pbo, pptlBrushOrg, mix, flOptions);
}

extern "C" BOOL EngStrokeAndFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pboStroke,
                                     LINEATTRS* plineattrs, BRUSHOBJ* pboFill, POINTL* pptlBrushOrg, MIX mixFill,
                                     FLONG flOptions) {
    if (!ppo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The fill first, then the outline over it, both with the fill mix.
    if (pboFill && !FillOnto(pso, *PathOf(ppo), pco, pboFill, pptlBrushOrg, mixFill, flOptions)) return FALSE;
    if (pboStroke && !StrokeOnto(pso, *PathOf(ppo), pco, pxo, pboStroke, pptlBrushOrg, plineattrs, mixFill))
        return FALSE;
    return TRUE;
}
