// Palettes: the colour meaning of pixel values. Indexed palettes map an index
// to a colour; RGB and BGR palettes carry the colour in the pixel itself;
// bit-field palettes take each channel from a mask.
#include <bit>
#include <mutex>
#include <unordered_set>

#include "base/error.h"
#include "gdi/engine.h"

namespace zq::gdi {

namespace {

std::mutex g_palLock;
std::unordered_set<Palette*>& LivePalettes() {
    static std::unordered_set<Palette*> set;
    return set;
}

// A channel of `pixel` under `mask`, scaled to 8 bits.
BYTE Channel(ULONG pixel, FLONG mask) {
    if (!mask) return 0;
    int shift = std::countr_zero(mask);
    int bits = std::popcount(mask);
    ULONG v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<BYTE>(v >> (bits - 8));
    // Repeat the high bits into the low ones so that full scale is 255.
    ULONG out = 0;
    int have = 0;
    while (have < 8) {
        out = (out << bits) | v;
        have += bits;
    }
    return static_cast<BYTE>(out >> (have - 8));
}

ULONG Pack(BYTE value, FLONG mask) {
    if (!mask) return 0;
    int shift = std::countr_zero(mask);
    int bits = std::popcount(mask);
    ULONG v = bits >= 8 ? static_cast<ULONG>(value) << (bits - 8) : static_cast<ULONG>(value) >> (8 - bits);
    return (v << shift) & mask;
}

}  // namespace

COLORREF Palette::ToRgb(ULONG pixel) const {
    switch (mode) {
        case PAL_INDEXED:
            return pixel < entries.size() ? (entries[pixel] & 0xFFFFFF) : 0;
        case PAL_BGR:
            return RGB(static_cast<BYTE>(pixel >> 16), static_cast<BYTE>(pixel >> 8), static_cast<BYTE>(pixel));
        case PAL_BITFIELDS:
            return RGB(Channel(pixel, red), Channel(pixel, green), Channel(pixel, blue));
        default:
            return pixel & 0xFFFFFF;
    }
}

ULONG Palette::FromRgb(COLORREF rgb) const {
    switch (mode) {
        case PAL_INDEXED: {
            ULONG best = 0;
            long bestDist = -1;
            for (ULONG i = 0; i < entries.size(); ++i) {
                long dr = long(GetRValue(entries[i])) - GetRValue(rgb);
                long dg = long(GetGValue(entries[i])) - GetGValue(rgb);
                long db = long(GetBValue(entries[i])) - GetBValue(rgb);
                long d = dr * dr + dg * dg + db * db;
                if (bestDist < 0 || d < bestDist) { bestDist = d; best = i; }
                if (d == 0) break;
            }
            return best;
        }
        case PAL_BGR:
            return (ULONG(GetRValue(rgb)) << 16) | (ULONG(GetGValue(rgb)) << 8) | GetBValue(rgb);
        case PAL_BITFIELDS:
            return Pack(GetRValue(rgb), red) | Pack(GetGValue(rgb), green) | Pack(GetBValue(rgb), blue);
        default:
            return rgb & 0xFFFFFF;
    }
}

Palette* PaletteFromHandle(HPALETTE h) {
    std::lock_guard lock(g_palLock);
    auto* p = static_cast<Palette*>(h);
    return LivePalettes().count(p) ? p : nullptr;
}

namespace {
Palette MakeIndexed(std::vector<COLORREF> entries) {
    Palette p;
    p.mode = PAL_INDEXED;
    p.entries = std::move(entries);
    return p;
}

std::vector<COLORREF> Vga16() {
    return {RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
            RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
            RGB(128, 128, 128), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
            RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)};
}

std::vector<COLORREF> Cube256() {
    // 6 x 6 x 6 colour cube and a grey ramp: every colour within reach.
    std::vector<COLORREF> v;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) v.push_back(RGB(BYTE(r * 51), BYTE(g * 51), BYTE(b * 51)));
    while (v.size() < 256) {
        BYTE g = static_cast<BYTE>((v.size() - 216) * 255 / 39);
        v.push_back(RGB(g, g, g));
    }
    return v;
}
}  // namespace

const Palette& DefaultPalette(ULONG format) {
    static const Palette mono = MakeIndexed({RGB(0, 0, 0), RGB(255, 255, 255)});
    static const Palette vga = MakeIndexed(Vga16());
    static const Palette cube = MakeIndexed(Cube256());
    static const Palette p555 = [] { Palette p; p.mode = PAL_BITFIELDS; p.red = 0x7C00; p.green = 0x03E0; p.blue = 0x001F; return p; }();
    static const Palette bgr = [] { Palette p; p.mode = PAL_BGR; return p; }();
    switch (format) {
        case BMF_1BPP: return mono;
        case BMF_4BPP: return vga;
        case BMF_8BPP: return cube;
        case BMF_16BPP: return p555;
        default: return bgr;
    }
}

}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" HPALETTE EngCreatePalette(ULONG iMode, ULONG cColors, ULONG* pulColors, FLONG flRed, FLONG flGreen,
                                     FLONG flBlue) {
    auto p = std::make_unique<Palette>();
    p->mode = iMode;
    switch (iMode) {
        case PAL_INDEXED:
            if (cColors == 0 || !pulColors) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            p->entries.assign(pulColors, pulColors + cColors);
            break;
        case PAL_BITFIELDS:
            if (!flRed && !flGreen && !flBlue) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            p->red = flRed;
            p->green = flGreen;
            p->blue = flBlue;
            break;
        case PAL_RGB:
        case PAL_BGR:
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
    }
    std::lock_guard lock(g_palLock);
    Palette* raw = p.release();
    LivePalettes().insert(raw);
    return raw;
}

extern "C" BOOL EngDeletePalette(HPALETTE hpal) {
    Palette* p = nullptr;
    {
        std::lock_guard lock(g_palLock);
        p = static_cast<Palette*>(hpal);
        if (!LivePalettes().erase(p)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete p;
    return TRUE;
}
