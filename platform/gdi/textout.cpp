// The engine's own text drawing (EngTextOut), glyph sets and the code-page
// conversions drivers call.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "gdi/coverage.h"
#include "gdi/engine.h"
#include "gdi/font.h"
#include "gdi/rop.h"
#include "gdi/text.h"

namespace zq::gdi {
namespace {

// Columns of slack on the right of a glyph mask: a glyph's row is ORed in
// whole words, which may reach past the area's last byte.
constexpr LONG kMaskSlack = 64;

// Walks a glyph's bits, placed at its origin, as far as they lie in
// `area`, so that huge glyphs cost no more than the surface they land on. A
// row goes in pieces of up to seven bytes: `fn(y, x, bits)` gets each piece
// that holds ink, its pixels from the top bit down (only those inside the
// area kept), pixel 0 being target pixel (x, y).
template <typename Fn>
void ForEachGlyphPiece(const GLYPHBITS* gb, POINTL at, const RECTL& area, Fn fn) {
    const LONG w = gb->sizlBitmap.cx, h = gb->sizlBitmap.cy;
    const size_t rowBytes = static_cast<size_t>(w + 7) / 8;
    const int64_t left64 = int64_t{at.x} + gb->ptlOrigin.x, top64 = int64_t{at.y} + gb->ptlOrigin.y;
    if (left64 >= area.right || top64 >= area.bottom || left64 + w <= area.left || top64 + h <= area.top) return;
    const LONG left = static_cast<LONG>(left64), top = static_cast<LONG>(top64);
    const LONG y0 = std::max<LONG>(0, area.top - top), y1 = std::min<LONG>(h, area.bottom - top);
    const LONG x0 = std::max<LONG>(0, area.left - left), x1 = std::min<LONG>(w, area.right - left);
    const LONG k0 = x0 / 8, k1 = (x1 - 1) / 8;  // the glyph's bytes that reach the area
    const BYTE* end = gb->aj + rowBytes * static_cast<size_t>(h);
    for (LONG y = y0; y < y1; ++y) {
        const BYTE* row = gb->aj + rowBytes * static_cast<size_t>(y);
        for (LONG k = k0; k <= k1; k += 7) {
            const LONG kn = std::min<LONG>(k1 + 1, k + 7);  // bytes k .. kn - 1
            uint64_t bits = 0;
            if (row + k + 8 <= end) {
                std::memcpy(&bits, row + k, 8);
                bits = __builtin_bswap64(bits);
            } else {
                for (LONG j = k; j < kn; ++j) bits |= uint64_t{row[j]} << (56 - 8 * (j - k));
            }
            // Only its pixels inside the area (and inside the piece).
            const LONG from = std::max(x0, 8 * k) - 8 * k, to = std::min(x1, 8 * kn) - 8 * k;
            bits &= ((uint64_t{1} << (to - from)) - 1) << (64 - to);
            if (bits) fn(top + y, left + 8 * k, bits);
        }
    }
}

// A piece whose pixel 0 lands on pixel `at` of a row, as the word to lay
// over the row's bytes from byte `i` on (in memory order). A piece that
// starts left of the row has nothing kept in the bytes before its first.
uint64_t PieceWord(uint64_t bits, LONG at, LONG& i) {
    i = at >> 3;  // rounds down left of the row
    uint64_t v = bits >> (at & 7);
    if (i < 0) {
        v <<= 8 * -i;
        i = 0;
    }
    return __builtin_bswap64(v);
}

// One glyph's bits, placed at its origin, ORed into the one-bit `mask`
// whose pixel (0, 0) is `area`'s top-left corner (its rows `kMaskSlack`
// pixels wider than the area); only what lies in `area` is kept.
void OrGlyph(BYTE* mask, LONG maskDelta, const RECTL& area, const GLYPHBITS* gb, POINTL at) {
    ForEachGlyphPiece(gb, at, area, [&](LONG y, LONG x, uint64_t bits) {
        BYTE* out = mask + ptrdiff_t(y - area.top) * maskDelta;
        LONG i = 0;
        const uint64_t m = PieceWord(bits, x - area.left, i);
        uint64_t d;
        std::memcpy(&d, out + i, 8);
        d |= m;
        std::memcpy(out + i, &d, 8);
    });
}

// Pixels a glyph's bits cover, placed at its origin, as one-row runs; only
// what lies in `limit` is kept.
void AddGlyphRuns(std::vector<RECTL>& runs, const GLYPHBITS* gb, POINTL at, const RECTL& limit) {
    LONG w = gb->sizlBitmap.cx, h = gb->sizlBitmap.cy;
    size_t rowBytes = static_cast<size_t>(w + 7) / 8;
    int64_t left64 = int64_t{at.x} + gb->ptlOrigin.x, top64 = int64_t{at.y} + gb->ptlOrigin.y;
    if (left64 >= limit.right || top64 >= limit.bottom || left64 + w <= limit.left || top64 + h <= limit.top) return;
    LONG left = static_cast<LONG>(left64), top = static_cast<LONG>(top64);
    LONG y0 = std::max<LONG>(0, limit.top - top), y1 = std::min<LONG>(h, limit.bottom - top);
    LONG x0 = std::max<LONG>(0, limit.left - left), x1 = std::min<LONG>(w, limit.right - left);
    for (LONG y = y0; y < y1; ++y) {
        const BYTE* row = gb->aj + rowBytes * y;
        LONG x = x0;
        while (x < x1) {
            while (x < x1 && !(row[x / 8] & (0x80 >> (x % 8)))) ++x;
            LONG start = x;
            while (x < x1 && (row[x / 8] & (0x80 >> (x % 8)))) ++x;
            if (x > start) runs.push_back({left + start, top + y, left + x, top + y + 1});
        }
    }
}

struct PlacedGlyph {
    const GLYPHBITS* bits;
    POINTL at;
};

// The glyphs' ink applied straight to a one-bit target with bits, inside
// one clip rectangle `area`: where ink lies a pixel becomes `f1` if it was
// 1 and `f0` if it was 0 (all ones or all zeros each), elsewhere it stays.
// For a ROP that does the same applied twice as once (anything but an
// inversion): glyphs that overlap then paint their shared pixels as the
// union of their bits gathered into a mask does, without the mask and the
// transfer through it. A row goes in pieces of up to seven bytes, each
// shifted into place as one word (see ForEachGlyphPiece).
void ApplyGlyphs(SURFOBJ* pso, const std::vector<PlacedGlyph>& glyphs, const RECTL& area, uint64_t f1, uint64_t f0) {
    BYTE* base = static_cast<BYTE*>(pso->pvScan0);
    const LONG delta = pso->lDelta;
    // Bytes a row holds: whole words may be read and written back unchanged
    // past its last pixel, never past its end.
    const LONG rowBytes = delta < 0 ? -delta : delta;
    const auto apply = [&](uint64_t d, uint64_t m) { return (((d & f1) | (~d & f0)) & m) | (d & ~m); };
    for (const PlacedGlyph& g : glyphs) {
        ForEachGlyphPiece(g.bits, g.at, area, [&](LONG y, LONG x, uint64_t bits) {
            BYTE* out = base + ptrdiff_t(y) * delta;
            LONG i = 0;  // the area lies on the target, so x is never left of the row where ink is kept
            const uint64_t m = PieceWord(bits, x, i);
            if (i + 8 <= rowBytes) {
                uint64_t d;
                std::memcpy(&d, out + i, 8);
                d = apply(d, m);
                std::memcpy(out + i, &d, 8);
            } else {
                for (LONG j = 0; i + j < rowBytes && j < 8; ++j) {
                    const uint64_t mj = (m >> (8 * j)) & 0xFF;  // byte j of the word as it lies in memory
                    if (mj) out[i + j] = static_cast<BYTE>(apply(out[i + j], mj));
                }
            }
        });
    }
}

// Paints the union of the glyphs' bits inside the clip with the brush: the
// glyphs (as far as they reach into the clip's bounds) are gathered into one
// mask that takes the foreground ROP where a glyph has ink and leaves the
// rest, so pixels where glyphs overlap are painted once.
BOOL PaintGlyphs(SURFOBJ* pso, const std::vector<PlacedGlyph>& glyphs, const Region& clip, BRUSHOBJ* pbo, POINTL* org,
                 ULONG rop3) {
    const RECTL limit = clip.Bounds();
    RECTL area{0, 0, 0, 0};
    bool any = false;
    for (const PlacedGlyph& g : glyphs) {
        const int64_t l = int64_t{g.at.x} + g.bits->ptlOrigin.x, t = int64_t{g.at.y} + g.bits->ptlOrigin.y;
        const RECTL box{static_cast<LONG>(std::clamp<int64_t>(l, limit.left, limit.right)),
                        static_cast<LONG>(std::clamp<int64_t>(t, limit.top, limit.bottom)),
                        static_cast<LONG>(std::clamp<int64_t>(l + g.bits->sizlBitmap.cx, limit.left, limit.right)),
                        static_cast<LONG>(std::clamp<int64_t>(t + g.bits->sizlBitmap.cy, limit.top, limit.bottom))};
        if (RectEmpty(box)) continue;
        area = any ? RECTL{std::min(area.left, box.left), std::min(area.top, box.top), std::max(area.right, box.right),
                           std::max(area.bottom, box.bottom)}
                   : box;
        any = true;
    }
    if (!any) return TRUE;
    // The mask starts on a byte of the target, so that its rows are read
    // where they lie (what lands in the columns added lies outside the clip
    // or holds no ink).
    area.left -= ((area.left % 8) + 8) % 8;
    Bitmap mask(area.right - area.left + kMaskSlack, area.bottom - area.top, BMF_1BPP);
    if (!mask) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    SURFOBJ* m = mask.Object();
    for (const PlacedGlyph& g : glyphs) OrGlyph(static_cast<BYTE*>(m->pvScan0), m->lDelta, area, g.bits, g.at);
    return PaintMask(pso, m, area, clip, pbo, org, rop3);
}

BOOL FillRegion(SURFOBJ* pso, const Region& region, BRUSHOBJ* pbo, POINTL* org, ULONG rop3) {
    return PaintRegion(pso, region, pbo, org, Rop4(rop3));
}

// Every glyph of a string in order (with its bits when asked), the
// enumeration started again after.
template <class F>
void ForEachGlyph(EngineString& str, bool withGlyphs, F&& f) {
    str.EnumStart();
    ULONG count = 0;
    GLYPHPOS* pos = nullptr;
    bool more;
    do {
        more = str.Enum(&count, &pos, withGlyphs);
        for (ULONG i = 0; i < count; ++i) f(pos[i]);
    } while (more);
    str.EnumStart();
}

// The source font a printer face is drawn with, at the realised font's size,
// with the simulations the realised font carries; null when the face has
// none. Kept per thread, a bounded number.
std::shared_ptr<EngineFont> SourceFontOf(EngineFont& device) {
    const IFIMETRICS* ifi = device.Ifi();
    const DeviceFace* face = device.DeviceFaceOf();
    if (!ifi || !face) return nullptr;
    const bool simBold = device.flFontType & FO_SIM_BOLD, simItalic = device.flFontType & FO_SIM_ITALIC;
    const int weight = ifi->usWinWeight;
    const bool italic = (ifi->fsSelection & FM_SEL_ITALIC) != 0;
    using Key = std::tuple<std::u16string, int, bool, bool, bool, double, LONG, LONG, double>;
    thread_local std::map<Key, std::shared_ptr<EngineFont>> kept;
    const Key key{face->family, weight, italic, simBold, simItalic, device.EmPixels(), device.sizLogResPpi.cx,
                  device.sizLogResPpi.cy, device.Angle()};
    if (auto it = kept.find(key); it != kept.end()) return it->second;
    std::shared_ptr<EngineFont> font;
    if (auto source = DeviceFaceSource(face->family, weight, italic))
        font = EngineFont::Create(*source, device.EmPixels(), simBold ? std::max(700, source->weight) : source->weight,
                                  simItalic || source->italic, device.sizLogResPpi, device.Angle());
    if (kept.size() >= 32) kept.clear();
    return kept[key] = font;
}

}  // namespace
}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" BOOL EngTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                           RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    if (!pso || !pstro || !pfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Printer text the engine draws (a page without the printer: the
    // reference render; or a driver drawing a run into its band): each
    // glyph's character in the printer face's source font, at the
    // positions laid out from the driver's widths.
    if (pfo->flFontType & FO_TYPE_DEVICE) {
        EngineFont* device = FontFromObject(pfo);
        std::shared_ptr<EngineFont> source = device ? SourceFontOf(*device) : nullptr;
        if (!source) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::vector<HGLYPH> glyphs;
        std::vector<POINTL> positions;
        ForEachGlyph(*static_cast<EngineString*>(pstro), false, [&](const GLYPHPOS& pos) {
            glyphs.push_back(source->GlyphOf(device->MapBack(pos.hg)));
            positions.push_back(pos.ptl);
        });
        EngineString drawn(*source, std::move(glyphs), std::move(positions), {}, false, true);
        return EngTextOut(pso, &drawn, source.get(), pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix);
    }
    if (!(pfo->flFontType & FO_TYPE_TRUETYPE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECTL whole{0, 0, pso->sizlBitmap.cx, pso->sizlBitmap.cy};
    Region clip = ClipRegion(pco, whole);
    if (prclOpaque && pboOpaque && !RectEmpty(*prclOpaque)) {
        if (!FillRegion(pso, Region(OrderRect(*prclOpaque)).Intersect(clip), pboOpaque, pptlOrg, ROP3_PATCOPY))
            return FALSE;
    }
    ULONG rop2 = mix & 0xFF;
    ULONG rop3 = (rop2 >= 1 && rop2 <= 16) ? Rop3FromRop2(rop2) : ROP3_PATCOPY;
    const RECTL limit = clip.Bounds();
    // Each glyph's bits as far as they reach into the clip's bounds: a large
    // glyph is rasterised for that part alone (kept in `parts` while it is
    // painted), an ordinary one comes whole from its font.
    EngineString& str = *static_cast<EngineString*>(pstro);
    EngineFont& font = str.Font();
    std::vector<PlacedGlyph> glyphs;
    std::vector<std::vector<uint64_t>> parts;
    ForEachGlyph(str, false, [&](const GLYPHPOS& pos) {
        RECTL box;
        if (!font.BitsBox(pos.hg, &box)) return;
        const int64_t left = std::max<int64_t>(box.left, int64_t{limit.left} - pos.ptl.x),
                      top = std::max<int64_t>(box.top, int64_t{limit.top} - pos.ptl.y),
                      right = std::min<int64_t>(box.right, int64_t{limit.right} - pos.ptl.x),
                      bottom = std::min<int64_t>(box.bottom, int64_t{limit.bottom} - pos.ptl.y);
        if (left >= right || top >= bottom) return;
        std::vector<uint64_t> store;
        const GLYPHBITS* bits = font.BitsCovering(pos.hg,
                                                  {static_cast<LONG>(left), static_cast<LONG>(top),
                                                   static_cast<LONG>(right), static_cast<LONG>(bottom)},
                                                  store);
        if (!bits) return;
        if (!store.empty()) parts.push_back(std::move(store));  // the bits stay where they are
        glyphs.push_back({bits, pos.ptl});
    });
    if (!glyphs.empty() && pboFore) {
        // A surface the driver keeps (no bits to mask) gets the glyphs'
        // pixels as a region through its own bit-block transfer; so does a
        // target deeper than one bit, which fills a region's rectangles
        // faster than it applies a mask pixel by pixel.
        Surface* s = SurfaceFromObject(pso);
        if ((s && !s->HasBits()) || pso->iBitmapFormat != BMF_1BPP) {
            std::vector<RECTL> runs;
            for (const PlacedGlyph& g : glyphs) AddGlyphRuns(runs, g.bits, g.at, limit);
            if (!runs.empty() && !FillRegion(pso, Region::FromRects(runs).Intersect(clip), pboFore, pptlOrg, rop3))
                return FALSE;
        } else if (clip.IsRect() && s && pboFore->iSolidColor != BR_NOT_SOLID) {
            // One clip rectangle and one colour: each ROP comes down to what
            // it makes of a 0 and of a 1 where ink lies (as the transfer
            // through a mask works it out).
            const BYTE p = (pboFore->iSolidColor & 1) ? 0xFF : 0x00;
            const uint64_t f1 = Rop3Bits<BYTE>(rop3, p, 0, 0xFF) ? ~uint64_t{0} : 0;
            const uint64_t f0 = Rop3Bits<BYTE>(rop3, p, 0, 0x00) ? ~uint64_t{0} : 0;
            if (f1 == 0 && f0 == ~uint64_t{0}) {
                if (!PaintGlyphs(pso, glyphs, clip, pboFore, pptlOrg, rop3)) return FALSE;  // an inversion: once a pixel
            } else {
                ApplyGlyphs(pso, glyphs, clip.Bounds(), f1, f0);
            }
        } else {
            if (!PaintGlyphs(pso, glyphs, clip, pboFore, pptlOrg, rop3)) return FALSE;
        }
    }
    // Underline and strike-out rectangles: a list ended by an all-zero one.
    if (prclExtra && pboFore) {
        std::vector<RECTL> extra;
        for (RECTL* r = prclExtra; r->left || r->top || r->right || r->bottom; ++r) extra.push_back(OrderRect(*r));
        if (!extra.empty() && !FillRegion(pso, Region::FromRects(extra).Intersect(clip), pboFore, pptlOrg, rop3))
            return FALSE;
    }
    return TRUE;
}

// A glyph set of `cChars` single-byte codes from `nFirstChar` in a code
// page (0: the ANSI code page): runs of consecutive Unicode values, each
// glyph's handle its byte code.
extern "C" FD_GLYPHSET* EngComputeGlyphSet(INT nCodePage, INT nFirstChar, INT cChars) {
    if (cChars <= 0 || nFirstChar < 0 || nFirstChar + cChars > 256) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    UINT cp = nCodePage == 0 ? GetACP() : static_cast<UINT>(nCodePage);
    std::vector<std::pair<char16_t, HGLYPH>> map;
    for (INT i = 0; i < cChars; ++i) {
        char b = static_cast<char>(nFirstChar + i);
        WCHAR w = 0;
        if (MultiByteToWideChar(cp, 0, &b, 1, &w, 1) != 1) w = static_cast<WCHAR>(static_cast<unsigned char>(b));
        map.push_back({w, static_cast<HGLYPH>(nFirstChar + i)});
    }
    std::sort(map.begin(), map.end());
    map.erase(std::unique(map.begin(), map.end(), [](auto& a, auto& b) { return a.first == b.first; }), map.end());
    std::vector<std::pair<size_t, size_t>> runs;  // start, length in map
    for (size_t i = 0; i < map.size(); ++i) {
        if (!runs.empty() && map[i].first == map[i - 1].first + 1) ++runs.back().second;
        else runs.push_back({i, 1});
    }
    size_t head = offsetof(FD_GLYPHSET, awcrun) + sizeof(WCRUN) * runs.size();
    head = (head + 7) / 8 * 8;
    size_t size = head + sizeof(HGLYPH) * map.size();
    auto* gs = static_cast<FD_GLYPHSET*>(EngAllocMem(FL_ZERO_MEMORY, static_cast<ULONG>(size), 0));
    if (!gs) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* handles = reinterpret_cast<HGLYPH*>(reinterpret_cast<BYTE*>(gs) + head);
    gs->cjThis = static_cast<ULONG>(size);
    gs->flAccel = GS_8BIT_HANDLES;
    gs->cGlyphsSupported = static_cast<ULONG>(map.size());
    gs->cRuns = static_cast<ULONG>(runs.size());
    for (size_t r = 0; r < runs.size(); ++r) {
        gs->awcrun[r].wcLow = map[runs[r].first].first;
        gs->awcrun[r].cGlyphs = static_cast<USHORT>(runs[r].second);
        gs->awcrun[r].phg = handles + runs[r].first;
    }
    for (size_t i = 0; i < map.size(); ++i) handles[i] = map[i].second;
    return gs;
}

// The ANSI code page to UTF-16, counting bytes on both sides and never
// writing past the caller's buffer.
extern "C" void EngMultiByteToUnicodeN(LPWSTR UnicodeString, ULONG MaxBytesInUnicodeString,
                                       ULONG* BytesInUnicodeString, char* MultiByteString,
                                       ULONG BytesInMultiByteString) {
    ULONG written = 0;
    if (UnicodeString && MultiByteString && BytesInMultiByteString) {
        int n = MultiByteToWideChar(CP_ACP, 0, MultiByteString, static_cast<int>(BytesInMultiByteString), nullptr, 0);
        std::u16string tmp(static_cast<size_t>(std::max(n, 0)), u'\0');
        if (n > 0) MultiByteToWideChar(CP_ACP, 0, MultiByteString, static_cast<int>(BytesInMultiByteString), tmp.data(), n);
        written = static_cast<ULONG>(std::min<size_t>(tmp.size(), MaxBytesInUnicodeString / 2) * 2);
        std::memcpy(UnicodeString, tmp.data(), written);
    }
    if (BytesInUnicodeString) *BytesInUnicodeString = written;
}

extern "C" void EngUnicodeToMultiByteN(char* MultiByteString, ULONG MaxBytesInMultiByteString,
                                       ULONG* BytesInMultiByteString, PWSTR UnicodeString,
                                       ULONG BytesInUnicodeString) {
    ULONG written = 0;
    if (MultiByteString && UnicodeString && BytesInUnicodeString >= 2) {
        int chars = static_cast<int>(BytesInUnicodeString / 2);
        int n = WideCharToMultiByte(CP_ACP, 0, UnicodeString, chars, nullptr, 0, nullptr, nullptr);
        std::string tmp(static_cast<size_t>(std::max(n, 0)), '\0');
        if (n > 0) WideCharToMultiByte(CP_ACP, 0, UnicodeString, chars, tmp.data(), n, nullptr, nullptr);
        written = static_cast<ULONG>(std::min<size_t>(tmp.size(), MaxBytesInMultiByteString));
        std::memcpy(MultiByteString, tmp.data(), written);
    }
    if (BytesInMultiByteString) *BytesInMultiByteString = written;
}

extern "C" INT EngWideCharToMultiByte(UINT CodePage, LPWSTR WideCharString, INT BytesInWideCharString,
                                      LPSTR MultiByteString, INT BytesInMultiByteString) {
    if (!WideCharString || BytesInWideCharString < 2) return 0;
    return WideCharToMultiByte(CodePage, 0, WideCharString, BytesInWideCharString / 2, MultiByteString,
                               MultiByteString ? BytesInMultiByteString : 0, nullptr, nullptr);
}

extern "C" INT EngMultiByteToWideChar(UINT CodePage, LPWSTR WideCharString, INT BytesInWideCharString,
                                      LPSTR MultiByteString, INT BytesInMultiByteString) {
    if (!MultiByteString || BytesInMultiByteString <= 0) return 0;
    int chars = MultiByteToWideChar(CodePage, 0, MultiByteString, BytesInMultiByteString, WideCharString,
                                    WideCharString ? BytesInWideCharString / 2 : 0);
    return chars * 2;
}
