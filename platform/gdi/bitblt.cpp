// Bit-block transfers on engine bitmaps: the full ROP4 (a foreground ROP3 in
// the low byte where the mask is 1, a background ROP3 in the next byte where
// it is 0), every ROP3 evaluated from its truth table over pattern, source
// and destination, through clip and colour translation.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>
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

// `count` bytes of the one-bit row `row` (of `rowBytes` bytes) starting at
// pixel `first`, which may lie before or after the row: pixels outside it
// read as 0.
void ShiftedBits(const BYTE* row, LONG rowBytes, LONG first, BYTE* out, size_t count) {
    const LONG byte = first >> 3;  // rounds down for pixels left of the row
    const unsigned sh = static_cast<unsigned>(first & 7);
    auto at = [&](LONG i) -> unsigned { return i >= 0 && i < rowBytes ? row[i] : 0u; };
    const LONG n = static_cast<LONG>(count);
    LONG k = 0;
    // The bytes wholly inside the row, without the bounds test.
    const LONG safeFrom = std::max<LONG>(0, -byte), safeTo = std::min<LONG>(n, rowBytes - byte - 1);
    for (; k < safeFrom && k < n; ++k) out[k] = static_cast<BYTE>(sh ? (at(byte + k) << sh | at(byte + k + 1) >> (8 - sh)) : at(byte + k));
    const BYTE* p = row + byte;
    if (sh)
        for (; k < safeTo; ++k) out[k] = static_cast<BYTE>(p[k] << sh | p[k + 1] >> (8 - sh));
    else
        for (; k < safeTo; ++k) out[k] = p[k];
    for (; k < n; ++k) out[k] = static_cast<BYTE>(sh ? (at(byte + k) << sh | at(byte + k + 1) >> (8 - sh)) : at(byte + k));
}

inline uint64_t Load8(const BYTE* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

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

    // One-bit targets are worked a row of bytes at a time: pattern, source
    // and mask bits are gathered into rows aligned with the target's bytes
    // and the ROP applied to eight bytes at once. The result is the one the
    // pixel loop below gives.
    if (bpp == 1 && !plainCopy) {
        const bool srcOneBit = needS && srcObj->iBitmapFormat == BMF_1BPP;
        ULONG s0 = 0, s1 = 0;
        if (srcOneBit) s0 = (*xl)(0) & 1, s1 = (*xl)(1) & 1;
        const bool patOneBit = pat && pat->iBitmapFormat == BMF_1BPP;
        // The last translated source pixel: photographs repeat colours.
        ULONG lastIn = 0, lastOut = 0;
        bool haveLast = false;
        std::vector<BYTE> P, S, M, D;
        // Without a source and with one colour for the pattern, each ROP
        // comes down to what it makes of a 0 and of a 1 in the target: the
        // rows are worked in place, through a one-bit mask where there is
        // one (a string's glyphs), a word at a time.
        if (!needS && !pat && (!needMask || UsesMaskBits(mask))) {
            const ULONG p = (solid & 1) ? 0xFF : 0x00;
            const uint64_t f1 = Rop3Bits<BYTE>(fore, BYTE(p), 0, 0xFF) ? ~uint64_t{0} : 0;
            const uint64_t f0 = Rop3Bits<BYTE>(fore, BYTE(p), 0, 0x00) ? ~uint64_t{0} : 0;
            const uint64_t k1 = Rop3Bits<BYTE>(back, BYTE(p), 0, 0xFF) ? ~uint64_t{0} : 0;
            const uint64_t k0 = Rop3Bits<BYTE>(back, BYTE(p), 0, 0x00) ? ~uint64_t{0} : 0;
            const bool keepsBack = k1 == ~uint64_t{0} && k0 == 0;  // the background ROP leaves the target
            auto apply = [&](uint64_t d, uint64_t m) {
                return (((d & f1) | (~d & f0)) & m) | (((d & k1) | (~d & k0)) & ~m);
            };
            for (const RECTL& r : clip.Rects()) {
                if (r.right <= r.left) continue;
                const LONG b0 = r.left >> 3, b1 = (r.right - 1) >> 3;
                const size_t n = static_cast<size_t>(b1 - b0 + 1);
                const BYTE firstMask = static_cast<BYTE>(0xFF >> (r.left & 7));
                const BYTE lastMask = static_cast<BYTE>(0xFF << (7 - ((r.right - 1) & 7)));
                if (needMask) M.resize((n + 7) & ~size_t(7));
                for (LONG y = r.top; y < r.bottom; ++y) {
                    BYTE* row = static_cast<BYTE*>(trg->pvScan0) + ptrdiff_t(y) * trg->lDelta + b0;
                    const BYTE* m = nullptr;
                    if (needMask) {
                        const BYTE* mrow = static_cast<const BYTE*>(mask->pvScan0) + ptrdiff_t(y + maskOrg.y) * mask->lDelta;
                        const LONG first = b0 * 8 + maskOrg.x, maskBytes = (mask->sizlBitmap.cx + 7) / 8;
                        if (first % 8 == 0 && first >= 0 && first / 8 + LONG(n) <= maskBytes) {
                            m = mrow + first / 8;  // a mask on the target's byte grid is read where it lies
                        } else {
                            ShiftedBits(mrow, maskBytes, first, M.data(), n);
                            m = M.data();
                        }
                        // A row the mask leaves out is left as it is.
                        if (keepsBack && std::all_of(m, m + n, [](BYTE b) { return b == 0; })) continue;
                    }
                    const BYTE first = row[0], last = row[n - 1];
                    size_t k = 0;
                    if (!m && f1 == f0) {
                        std::memset(row, static_cast<BYTE>(f0), n);  // one colour whatever was there
                        k = n;
                    }
                    for (; k + 8 <= n; k += 8) {
                        const uint64_t v = apply(Load8(row + k), m ? Load8(m + k) : ~uint64_t{0});
                        std::memcpy(row + k, &v, 8);
                    }
                    for (; k < n; ++k) row[k] = static_cast<BYTE>(apply(row[k], m ? m[k] : 0xFF));
                    row[0] = static_cast<BYTE>((first & ~firstMask) | (row[0] & firstMask));
                    row[n - 1] = static_cast<BYTE>((last & ~lastMask) | (row[n - 1] & lastMask));
                }
            }
            return true;
        }
        for (const RECTL& r : clip.Rects()) {
            if (r.right <= r.left) continue;
            const LONG b0 = r.left >> 3, b1 = (r.right - 1) >> 3;
            const size_t n = static_cast<size_t>(b1 - b0 + 1), padded = (n + 7) & ~size_t(7);
            P.assign(padded, 0);
            S.assign(padded, 0);
            M.assign(padded, 0xFF);
            D.resize(padded);
            const BYTE firstMask = static_cast<BYTE>(0xFF >> (r.left & 7));
            const BYTE lastMask = static_cast<BYTE>(0xFF << (7 - ((r.right - 1) & 7)));
            for (LONG y = r.top; y < r.bottom; ++y) {
                BYTE* row = static_cast<BYTE*>(trg->pvScan0) + ptrdiff_t(y) * trg->lDelta + b0;
                // Pattern bits.
                if (needP) {
                    if (!pat) {
                        std::memset(P.data(), (solid & 1) ? 0xFF : 0x00, n);
                    } else {
                        // The tiled row repeats every lcm(width, 8) pixels,
                        // a whole number of bytes: those are gathered bit by
                        // bit (from the rectangle's first byte; the bits
                        // outside it are put back below), the rest copied.
                        const LONG pw = pat->sizlBitmap.cx, py = Mod(y - brushOrg.y, pat->sizlBitmap.cy);
                        const size_t period = static_cast<size_t>(std::lcm<LONG>(pw, 8) / 8);
                        const size_t direct = std::min(n, period);
                        std::memset(P.data(), 0, direct);
                        LONG px = Mod(b0 * 8 - brushOrg.x, pw);
                        const BYTE* prow = static_cast<const BYTE*>(pat->pvScan0) + ptrdiff_t(py) * pat->lDelta;
                        for (size_t i = 0; i < direct * 8; ++i) {
                            const ULONG bit = patOneBit ? (prow[px >> 3] >> (7 - (px & 7))) & 1 : GetPx(*pat, px, py) & 1;
                            if (bit) P[i >> 3] |= static_cast<BYTE>(0x80 >> (i & 7));
                            if (++px == pw) px = 0;
                        }
                        for (size_t k = direct; k < n; ++k) P[k] = P[k - period];
                    }
                }
                // Source bits, translated.
                if (needS) {
                    if (srcOneBit) {
                        if (s0 == s1) {
                            std::memset(S.data(), s0 ? 0xFF : 0x00, n);
                        } else {
                            const BYTE* srow = static_cast<const BYTE*>(srcObj->pvScan0) + ptrdiff_t(y + srcOrg.y) * srcObj->lDelta;
                            ShiftedBits(srow, (srcObj->sizlBitmap.cx + 7) / 8, b0 * 8 + srcOrg.x, S.data(), n);
                            if (s0) for (size_t k = 0; k < n; ++k) S[k] = static_cast<BYTE>(~S[k]);
                        }
                    } else {
                        std::memset(S.data(), 0, n);
                        for (LONG x = r.left; x < r.right; ++x) {
                            const ULONG v = GetPx(*srcObj, x + srcOrg.x, y + srcOrg.y);
                            if (!haveLast || v != lastIn) lastIn = v, lastOut = (*xl)(v), haveLast = true;
                            if (lastOut & 1) S[size_t((x >> 3) - b0)] |= static_cast<BYTE>(0x80 >> (x & 7));
                        }
                    }
                }
                // Foreground (1) and background (0) pixels.
                if (needMask) {
                    if (UsesMaskBits(mask)) {
                        const BYTE* mrow = static_cast<const BYTE*>(mask->pvScan0) + ptrdiff_t(y + maskOrg.y) * mask->lDelta;
                        ShiftedBits(mrow, (mask->sizlBitmap.cx + 7) / 8, b0 * 8 + maskOrg.x, M.data(), n);
                    } else if (hatchMask || brushMask) {
                        std::memset(M.data(), 0, n);
                        for (LONG x = r.left; x < r.right; ++x) {
                            bool m;
                            if (hatchMask) m = (hatchMask[Mod(y - brushOrg.y, 8)] >> (7 - Mod(x - brushOrg.x, 8))) & 1;
                            else
                                m = GetPx(*brushMask, Mod(x - brushOrg.x, brushMask->sizlBitmap.cx),
                                          Mod(y - brushOrg.y, brushMask->sizlBitmap.cy)) != 0;
                            if (m) M[size_t((x >> 3) - b0)] |= static_cast<BYTE>(0x80 >> (x & 7));
                        }
                    }
                }
                std::memcpy(D.data(), row, n);
                const BYTE first = row[0], last = row[n - 1];
                for (size_t k = 0; k < n; k += 8) {
                    const uint64_t p = Load8(P.data() + k), sv = Load8(S.data() + k), d = Load8(D.data() + k);
                    uint64_t v = Rop3Bits<uint64_t>(fore, p, sv, d);
                    if (needMask) {
                        const uint64_t m = Load8(M.data() + k);
                        v = (v & m) | (Rop3Bits<uint64_t>(back, p, sv, d) & ~m);
                    }
                    std::memcpy(D.data() + k, &v, 8);
                }
                std::memcpy(row, D.data(), n);
                row[0] = static_cast<BYTE>((first & ~firstMask) | (row[0] & firstMask));
                row[n - 1] = static_cast<BYTE>((last & ~lastMask) | (row[n - 1] & lastMask));
            }
        }
        return true;
    }

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
