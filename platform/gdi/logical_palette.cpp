// Logical palettes on true-colour surfaces: CreatePalette, SelectPalette,
// RealizePalette, the entry calls, AnimatePalette and the DIB_PAL_COLORS
// tables that index them.
#include <algorithm>
#include <cstring>

#include "base/error.h"
#include "gdi/dc.h"

namespace zq::gdi {

namespace {

// What a DC has selected; the stock palette until SelectPalette.
struct DcPalette {
    PaletteObject* selected = nullptr;
    ~DcPalette() {
        if (selected) --selected->selections;
    }
};

PaletteObject& StockPalette() {
    static PaletteObject* stock = [] {
        auto* p = new PaletteObject();
        p->stock = true;
        for (COLORREF c : DefaultPalette(BMF_4BPP).entries)
            p->entries.push_back({GetRValue(c), GetGValue(c), GetBValue(c), 0});
        return p;
    }();
    return *stock;
}

PaletteObject* Selected(DeviceContext* dc) {
    if (dc && dc->Ext<DcPalette>().selected) return dc->Ext<DcPalette>().selected;
    return &StockPalette();
}

COLORREF ColourOf(const PaletteObject& p, WORD index) {
    if (index >= p.entries.size()) return 0;  // an index past the palette shows black
    const PALETTEENTRY& e = p.entries[index];
    return RGB(e.peRed, e.peGreen, e.peBlue);
}

}  // namespace

GdiObject* PaletteObject::SelectInto(DeviceContext&) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

void PaletteObject::Recolour() {
    std::erase_if(followers, [](const Follower& f) { return f.colours.expired(); });
    for (auto& f : followers) {
        auto colours = f.colours.lock();
        for (size_t i = 0; i < f.indices.size() && i < colours->entries.size(); ++i)
            colours->entries[i] = ColourOf(*this, f.indices[i]);
    }
}

std::optional<PalColors> ResolvePalColors(HDC hdc, const BITMAPINFO* info) {
    if (!info || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    const BITMAPINFOHEADER& h = info->bmiHeader;
    PalColors out;
    out.source = Selected(DeviceContext::FromHandle(hdc));
    // Only indexed images have a table of indices; deeper ones carry their
    // colours in the pixels and are read as they are.
    DWORD count = 0;
    if (h.biBitCount >= 1 && h.biBitCount <= 8 && h.biCompression == BI_RGB) {
        count = h.biClrUsed ? h.biClrUsed : (1u << h.biBitCount);
        if (count > (1u << h.biBitCount)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return std::nullopt;
        }
    }
    const BYTE* table = reinterpret_cast<const BYTE*>(info) + h.biSize;
    out.indices.resize(count);
    if (count) std::memcpy(out.indices.data(), table, 2 * size_t(count));
    out.bitsAfter = table + 2 * size_t(count);
    out.storage.resize(sizeof(BITMAPINFOHEADER) / 4 + count + 3);
    std::memcpy(out.storage.data(), &h, sizeof(BITMAPINFOHEADER));
    auto* hdr = reinterpret_cast<BITMAPINFOHEADER*>(out.storage.data());
    hdr->biSize = sizeof(BITMAPINFOHEADER);
    if (count) hdr->biClrUsed = count;
    else if (h.biCompression == BI_BITFIELDS)  // masks follow the header, not indices
        std::memcpy(out.storage.data() + 10, table, 12);
    for (DWORD i = 0; i < count; ++i) {
        COLORREF c = ColourOf(*out.source, out.indices[i]);
        out.storage[10 + i] = (DWORD(GetRValue(c)) << 16) | (DWORD(GetGValue(c)) << 8) | GetBValue(c);
    }
    return out;
}

}  // namespace zq::gdi

using namespace zq::gdi;

namespace {
PaletteObject* Pal(HPALETTE h) {
    auto* p = ObjectAs<PaletteObject>(h);
    if (!p) SetLastError(ERROR_INVALID_HANDLE);
    return p;
}
}  // namespace

extern "C" {

HPALETTE CreatePalette(const LOGPALETTE* palette) {
    if (!palette || palette->palVersion != 0x300 || palette->palNumEntries == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* p = new PaletteObject();
    p->entries.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
    return p->Handle();
}

HPALETTE SelectPalette(HDC hdc, HPALETTE palette, BOOL) {
    auto* dc = DeviceContext::FromHandle(hdc);
    auto* p = Pal(palette);
    if (!dc || !p) {
        if (!dc) SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    PaletteObject* previous = Selected(dc);
    auto& state = dc->Ext<DcPalette>();
    if (state.selected) --state.selected->selections;
    state.selected = p->stock ? nullptr : p;
    if (state.selected) ++state.selected->selections;
    return previous->Handle();
}

UINT RealizePalette(HDC hdc) {
    // A true-colour surface has no system palette to map entries into.
    if (!DeviceContext::FromHandle(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return GDI_ERROR;
    }
    return 0;
}

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) {
    auto* p = Pal(palette);
    if (!p) return 0;
    const UINT size = static_cast<UINT>(p->entries.size());
    if (!entries) return size;
    if (start >= size) return 0;
    UINT n = std::min(count, size - start);
    std::copy_n(p->entries.begin() + start, n, entries);
    return n;
}

UINT SetPaletteEntries(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries) {
    auto* p = Pal(palette);
    if (!p || p->stock || !entries) {
        if (p) SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT size = static_cast<UINT>(p->entries.size());
    if (start >= size) return 0;
    UINT n = std::min(count, size - start);
    std::copy_n(entries, n, p->entries.begin() + start);
    p->Recolour();
    return n;
}

BOOL AnimatePalette(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries) {
    auto* p = Pal(palette);
    if (!p || p->stock || !entries) {
        if (p) SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const size_t size = p->entries.size();
    // Only entries made with PC_RESERVED change; the others stay as created.
    for (UINT i = 0; i < count && size_t(start) + i < size; ++i) {
        PALETTEENTRY& e = p->entries[start + i];
        if (e.peFlags & PC_RESERVED) e = {entries[i].peRed, entries[i].peGreen, entries[i].peBlue, e.peFlags};
    }
    p->Recolour();
    return TRUE;
}

}  // extern "C"
