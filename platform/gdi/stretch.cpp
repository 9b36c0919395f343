// Stretching transfers: the source rectangle is scaled onto the target
// rectangle (a reversed rectangle mirrors), pixel by nearest sample in the
// colour-on-colour modes, by area average and ordered dither in HALFTONE.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/error.h"
#include "gdi/engine.h"
#include "gdi/rop.h"

namespace zq::gdi {

namespace {

// The engine's halftone cell: an ordered (dispersed-dot) dither of `side` x
// `side` pixels, side*side + 1 grey levels.
struct HalftoneCell {
    int side = 0;
    std::vector<uint16_t> rank;  // 0 .. side*side-1, row by row
};

uint32_t Bayer(uint32_t size, uint32_t x, uint32_t y) {
    uint32_t v = 0;
    // The finest level of the recursion weighs most: (0 2; 3 1) at every scale.
    for (uint32_t bit = 1; bit < size; bit *= 2) {
        uint32_t q = ((x & bit) ? 2u : 0u) ^ ((y & bit) ? 3u : 0u);
        v = v * 4 + q;
    }
    return v;
}

const HalftoneCell& CellOfSide(int side) {
    static const std::array<HalftoneCell, 4> cells = [] {
        std::array<HalftoneCell, 4> all;
        for (size_t n = 0; n < all.size(); ++n) {
            HalftoneCell& c = all[n];
            c.side = 2 << n;
            for (int y = 0; y < c.side; ++y)
                for (int x = 0; x < c.side; ++x)
                    c.rank.push_back(static_cast<uint16_t>(
                        Bayer(static_cast<uint32_t>(c.side), static_cast<uint32_t>(x), static_cast<uint32_t>(y))));
        }
        return all;
    }();
    size_t n = side >= 16 ? 3 : side >= 8 ? 2 : side >= 4 ? 1 : 0;
    return cells[n];
}

// The cell the device's GDIINFO asks for (its halftone pattern size: 2 x 2
// up to 16 x 16, each code and its next the same size; codes past 15 are
// taken as 16 x 16); 4 x 4 when the engine draws for no device.
const HalftoneCell& CellFor(SURFOBJ* so) {
    Surface* s = SurfaceFromObject(so);
    Device* dev = s ? (s->device ? s->device : s->ditherDevice) : nullptr;
    if (!dev) dev = PlayingFor();
    if (!dev) return CellOfSide(4);
    ULONG code = dev->Info().ulHTPatternSize;
    int side = code <= 15 ? static_cast<int>(code / 2 + 1) * 2 : 16;
    // Sides between powers of two take the smaller power: the cell then
    // divides the band heights drivers choose, so its phase carries on from
    // band to band even where a driver stretches without the page's origin.
    return CellOfSide(side);
}

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

    // Only the part of the target on the surface is scaled (the transfer
    // below drops the rest): a target far larger than the surface would
    // otherwise cost its whole area. Indices stay those of the whole target.
    const RECTL v = IntersectRect(d, RECTL{0, 0, dst->sizlBitmap.cx, dst->sizlBitmap.cy});
    if (v.right <= v.left || v.bottom <= v.top) return TRUE;
    const LONG ox = v.left - d.left, oy = v.top - d.top, vw = v.right - v.left, vh = v.bottom - v.top;

    // The scaled source, already in the target's pixels.
    Bitmap tmp(vw, vh, dst->iBitmapFormat);
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
    const bool halftone = mode == HALFTONE;
    POINTL ht = pptlHTOrg ? *pptlHTOrg : POINTL{0, 0};
    const HalftoneCell& cell = CellFor(dst);
    const int side = cell.side, levels = side * side;
    // What depends on the column alone is worked out once for the whole
    // transfer, and colours through small tables (or the last answer, for
    // deep sources): the pixels are those of the plain per-pixel sum.
    std::vector<LONG> col0(static_cast<size_t>(vw)), col1(static_cast<size_t>(vw)), colS(static_cast<size_t>(vw));
    for (LONG x = 0; x < vw; ++x) {
        const LONG xx = flipX ? dw - 1 - (x + ox) : x + ox;
        LONG x0 = s.left + LONG(int64_t(xx) * sw / dw), x1 = s.left + LONG(int64_t(xx + 1) * sw / dw);
        if (x1 <= x0) x1 = x0 + 1;
        col0[static_cast<size_t>(x)] = x0;
        col1[static_cast<size_t>(x)] = x1;
        colS[static_cast<size_t>(x)] = clampX(s.left + Sample(xx, dw, sw));
    }
    const ULONG srcBpp = BitsPerPixel(src->iBitmapFormat);
    std::vector<COLORREF> rgbOf;  // source index -> colour, for palettes of 256 entries or fewer
    std::vector<ULONG> xlateOf;   // source index -> target pixel
    if (srcBpp <= 8) {
        rgbOf.resize(size_t(1) << srcBpp);
        xlateOf.resize(size_t(1) << srcBpp);
        for (ULONG i = 0; i < rgbOf.size(); ++i) {
            rgbOf[i] = srcPal.ToRgb(i);
            xlateOf[i] = XLATEOBJ_iXlate(pxlo, i);
        }
    }
    ULONG lastIn = 0, lastOut = 0;
    bool haveLast = false;
    auto rgbOfPx = [&](ULONG v) -> COLORREF {
        if (!rgbOf.empty()) return v < rgbOf.size() ? rgbOf[v] : srcPal.ToRgb(v);
        return srcPal.ToRgb(v);
    };
    auto xlate = [&](ULONG v) -> ULONG {
        if (!xlateOf.empty() && v < xlateOf.size()) return xlateOf[v];
        if (!haveLast || v != lastIn) lastIn = v, lastOut = XLATEOBJ_iXlate(pxlo, v), haveLast = true;
        return lastOut;
    };
    const bool oneBit = dst->iBitmapFormat == BMF_1BPP;
    const ULONG whitePx = oneBit ? dstPal.FromRgb(0xFFFFFF) : 0, blackPx = oneBit ? dstPal.FromRgb(0) : 0;
    COLORREF lastAvg = 0;
    ULONG lastAvgPx = 0;
    bool haveAvg = false;
    SURFOBJ& to = *tmp.Object();
    // The average colour of the source area under target column x, for the
    // source rows y0 .. y1 (the one of the column before when it covers
    // the same columns: an enlarged image).
    auto averageRow = [&](LONG y0, LONG y1, auto&& put) {
        LONG areaX0 = 0, areaX1 = 0;
        COLORREF avg = 0;
        for (LONG x = 0; x < vw; ++x) {
            const LONG x0 = col0[static_cast<size_t>(x)], x1 = col1[static_cast<size_t>(x)];
            if (x == 0 || x0 != areaX0 || x1 != areaX1) {
                areaX0 = x0, areaX1 = x1;
                if (y1 - y0 == 1 && x1 - x0 == 1) {
                    avg = rgbOfPx(GetPx(*src, clampX(x0), clampY(y0)));
                    avg = RGB(GetRValue(avg), GetGValue(avg), GetBValue(avg));
                } else {
                    uint64_t r = 0, g = 0, b = 0, n = 0;
                    for (LONG sy = y0; sy < y1; ++sy) {
                        const LONG cySrc = clampY(sy);
                        for (LONG sx = x0; sx < x1; ++sx) {
                            COLORREF c = rgbOfPx(GetPx(*src, clampX(sx), cySrc));
                            r += GetRValue(c); g += GetGValue(c); b += GetBValue(c); ++n;
                        }
                    }
                    avg = RGB(BYTE(r / n), BYTE(g / n), BYTE(b / n));
                }
            }
            put(x, avg);
        }
    };
    if (halftone && oneBit) {
        // Ordered dither onto one bit: a pixel is white where its grey is
        // above the threshold of its place in the cell, (rank + 1/2) of
        // `levels` steps of 0..255 (grey * 2 * levels > (2 * rank + 1) *
        // 255, for whole greys). Target rows that take the same source rows
        // (an enlarged image) share their greys.
        // The thresholds along each row of cells, laid out for the whole
        // width from the transfer's first column.
        const int cx0 = static_cast<int>(((v.left - ht.x) % side + side) % side);
        std::vector<uint8_t> thresholds(static_cast<size_t>(side) * static_cast<size_t>(vw));
        for (int cy = 0; cy < side; ++cy)
            for (LONG x = 0, cx = cx0; x < vw; ++x, cx = cx + 1 == side ? 0 : cx + 1)
                thresholds[static_cast<size_t>(cy) * static_cast<size_t>(vw) + static_cast<size_t>(x)] =
                    static_cast<uint8_t>((2 * cell.rank[static_cast<size_t>(cy * side + cx)] + 1) * 255 / (2 * levels));
        const size_t padded = (static_cast<size_t>(vw) + 7) & ~size_t(7);
        std::vector<uint8_t> greys(padded), above(padded);
        LONG greyY0 = 0, greyY1 = 0;  // the source rows of `greys`, none yet
        // A pixel above its threshold is white: bit `white`, else `black`.
        const uint64_t flip = (whitePx & 1) != (blackPx & 1) ? ~uint64_t{0} : 0, base = (blackPx & 1) ? ~uint64_t{0} : 0;
        for (LONG y = 0; y < vh; ++y) {
            const LONG yy = flipY ? dh - 1 - (y + oy) : y + oy;
            LONG y0 = s.top + LONG(int64_t(yy) * sh / dh), y1 = s.top + LONG(int64_t(yy + 1) * sh / dh);
            if (y1 <= y0) y1 = y0 + 1;
            if (y == 0 || y0 != greyY0 || y1 != greyY1) {
                greyY0 = y0, greyY1 = y1;
                averageRow(y0, y1, [&](LONG x, COLORREF avg) {
                    greys[static_cast<size_t>(x)] =
                        static_cast<uint8_t>((5 * GetRValue(avg) + 9 * GetGValue(avg) + 2 * GetBValue(avg)) >> 4);
                });
            }
            const int cy = static_cast<int>(((v.top + y - ht.y) % side + side) % side);
            const uint8_t* t = thresholds.data() + static_cast<size_t>(cy) * static_cast<size_t>(vw);
            for (size_t x = 0; x < static_cast<size_t>(vw); ++x) above[x] = greys[x] > t[x] ? 1 : 0;
            BYTE* out = static_cast<BYTE*>(to.pvScan0) + ptrdiff_t(y) * to.lDelta;
            // Eight 0/1 bytes to eight bits, the first the highest.
            for (size_t k = 0; k < padded; k += 8) {
                uint64_t eight;
                std::memcpy(&eight, above.data() + k, 8);
                const uint64_t bits = (eight * 0x8040201008040201ULL) >> 56;
                out[k / 8] = static_cast<BYTE>((base ^ (bits & flip)) & 0xFF);
            }
        }
    }
    for (LONG y = 0; y < vh && !(halftone && oneBit); ++y) {
        LONG yy = flipY ? dh - 1 - (y + oy) : y + oy;
        if (!halftone) {
            const LONG sy = clampY(s.top + Sample(yy, dh, sh));
            for (LONG x = 0; x < vw; ++x) PutPx(to, x, y, xlate(GetPx(*src, colS[static_cast<size_t>(x)], sy)));
            continue;
        }
        LONG y0 = s.top + LONG(int64_t(yy) * sh / dh), y1 = s.top + LONG(int64_t(yy + 1) * sh / dh);
        if (y1 <= y0) y1 = y0 + 1;
        averageRow(y0, y1, [&](LONG x, COLORREF avg) {
            if (!haveAvg || avg != lastAvg) lastAvg = avg, lastAvgPx = dstPal.FromRgb(avg), haveAvg = true;
            PutPx(to, x, y, lastAvgPx);
        });
    }
    std::optional<Bitmap> tmask;
    if (mask && mask->pvScan0 && mask->iBitmapFormat == BMF_1BPP) {
        POINTL m = pptlMask ? *pptlMask : POINTL{0, 0};
        tmask.emplace(vw, vh, BMF_1BPP);
        if (!*tmask) return FALSE;
        for (LONG y = 0; y < vh; ++y)
            for (LONG x = 0; x < vw; ++x) {
                LONG mx = m.x + Sample(flipX ? dw - 1 - (x + ox) : x + ox, dw, sw),
                     my = m.y + Sample(flipY ? dh - 1 - (y + oy) : y + oy, dh, sh);
                bool in = mx >= 0 && my >= 0 && mx < mask->sizlBitmap.cx && my < mask->sizlBitmap.cy && GetPx(*mask, mx, my);
                tmask->Get()->SetPixel(x, y, in ? 1 : 0);
            }
    }
    POINTL zero{0, 0};
    EngineXlate trivial(dstPal, dstPal);
    return BitBltEngine(dst, tmp.Object(), tmask ? tmask->Object() : nullptr, pco, &trivial, v, &zero, &zero, pbo,
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
