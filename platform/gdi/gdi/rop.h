// Raster operations: a ROP3 code is the truth table of its result, indexed by
// the pattern, source and destination bits (pattern bit 2, source bit 1,
// destination bit 0 of the index).
#pragma once

#include <cstring>

#include "gdi/ddi.h"

namespace zq::gdi {

constexpr bool RopUsesPattern(ULONG rop3) { return (((rop3 >> 4) ^ rop3) & 0x0F) != 0; }
constexpr bool RopUsesSource(ULONG rop3) { return (((rop3 >> 2) ^ rop3) & 0x33) != 0; }
constexpr bool RopUsesDest(ULONG rop3) { return (((rop3 >> 1) ^ rop3) & 0x55) != 0; }

// Applies a ROP3 to every bit of three words at once (of any unsigned
// width: one-bit rows are worked eight bytes at a time).
template <class Word>
constexpr Word Rop3Bits(ULONG rop3, Word p, Word s, Word d) {
    Word out = 0;
    for (int i = 0; i < 8; ++i) {
        if (!((rop3 >> i) & 1)) continue;
        out |= ((i & 4) ? p : Word(~p)) & ((i & 2) ? s : Word(~s)) & ((i & 1) ? d : Word(~d));
    }
    return out;
}
constexpr ULONG Rop3(ULONG rop3, ULONG p, ULONG s, ULONG d) { return Rop3Bits<ULONG>(rop3, p, s, d); }

// Pixel values of any uncompressed surface with bits.
inline ULONG GetPx(const SURFOBJ& s, LONG x, LONG y) {
    const BYTE* row = static_cast<const BYTE*>(s.pvScan0) + static_cast<ptrdiff_t>(y) * s.lDelta;
    switch (s.iBitmapFormat) {
        case BMF_1BPP: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case BMF_4BPP: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        case BMF_8BPP: return row[x];
        case BMF_16BPP: return row[2 * x] | (row[2 * x + 1] << 8);
        case BMF_24BPP: return row[3 * x] | (row[3 * x + 1] << 8) | (ULONG(row[3 * x + 2]) << 16);
        case BMF_32BPP: { ULONG v; std::memcpy(&v, row + 4 * x, 4); return v; }
        default: return 0;
    }
}

inline void PutPx(SURFOBJ& s, LONG x, LONG y, ULONG v) {
    BYTE* row = static_cast<BYTE*>(s.pvScan0) + static_cast<ptrdiff_t>(y) * s.lDelta;
    switch (s.iBitmapFormat) {
        case BMF_1BPP: {
            BYTE bit = static_cast<BYTE>(0x80 >> (x & 7));
            row[x >> 3] = (v & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit);
            break;
        }
        case BMF_4BPP:
            row[x >> 1] = (x & 1) ? ((row[x >> 1] & 0xF0) | (v & 0x0F)) : ((row[x >> 1] & 0x0F) | ((v & 0x0F) << 4));
            break;
        case BMF_8BPP: row[x] = static_cast<BYTE>(v); break;
        case BMF_16BPP: row[2 * x] = BYTE(v); row[2 * x + 1] = BYTE(v >> 8); break;
        case BMF_24BPP: row[3 * x] = BYTE(v); row[3 * x + 1] = BYTE(v >> 8); row[3 * x + 2] = BYTE(v >> 16); break;
        case BMF_32BPP: std::memcpy(row + 4 * x, &v, 4); break;
        default: break;
    }
}

// Bitmap-transfer core shared by EngBitBlt and the stretching calls.
bool BitBltEngine(SURFOBJ* trg, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, const RECTL& rclTrg,
                  const POINTL* pptlSrc, const POINTL* pptlMask, BRUSHOBJ* pbo, const POINTL* pptlBrush, ROP4 rop4);

}  // namespace zq::gdi
