// Colour translation objects: from the pixels of a source palette to those of
// a target palette, by table for indexed sources.
#include <atomic>
#include <mutex>
#include <unordered_set>

#include "base/error.h"
#include "gdi/engine.h"

namespace zq::gdi {

namespace {
std::mutex g_xlateLock;
std::unordered_set<const XLATEOBJ*>& LiveXlates() {
    static std::unordered_set<const XLATEOBJ*> set;
    return set;
}
std::atomic<ULONG> g_uniq{1};

EngineXlate* AsEngineXlate(XLATEOBJ* p) {
    std::lock_guard lock(g_xlateLock);
    return p && LiveXlates().count(p) ? static_cast<EngineXlate*>(p) : nullptr;
}

bool SamePalette(const Palette& a, const Palette& b) {
    if (&a == &b) return true;
    if (a.mode != b.mode) return false;
    if (a.mode == PAL_INDEXED) return a.entries == b.entries;
    if (a.mode == PAL_BITFIELDS) return a.red == b.red && a.green == b.green && a.blue == b.blue;
    return true;
}
}  // namespace

EngineXlate::EngineXlate(const Palette& src, const Palette& dst) : XLATEOBJ{}, source(&src), target(&dst) {
    iUniq = g_uniq++;
    iSrcType = static_cast<USHORT>(src.mode);
    iDstType = static_cast<USHORT>(dst.mode);
    if (SamePalette(src, dst)) {
        flXlate = XO_TRIVIAL;
    } else if (src.mode == PAL_INDEXED) {
        table.resize(src.entries.size());
        for (size_t i = 0; i < table.size(); ++i) table[i] = dst.FromRgb(src.entries[i] & 0xFFFFFF);
        flXlate = XO_TABLE;
        cEntries = static_cast<ULONG>(table.size());
        pulXlate = table.data();
    }
    if (dst.mode == PAL_INDEXED && dst.entries.size() == 2) flXlate |= XO_TO_MONO;
    std::lock_guard lock(g_xlateLock);
    LiveXlates().insert(this);
}

EngineXlate::~EngineXlate() {
    std::lock_guard lock(g_xlateLock);
    LiveXlates().erase(this);
}

ULONG EngineXlate::Translate(ULONG pixel) const {
    if (flXlate & XO_TRIVIAL) return pixel;
    if (flXlate & XO_TABLE) return pixel < table.size() ? table[pixel] : 0;
    return target->FromRgb(source->ToRgb(pixel));
}

}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" ULONG XLATEOBJ_iXlate(XLATEOBJ* pxlo, ULONG iColor) {
    if (!pxlo) return iColor;
    if (EngineXlate* x = AsEngineXlate(pxlo)) return x->Translate(iColor);
    if (pxlo->flXlate & XO_TRIVIAL) return iColor;
    if ((pxlo->flXlate & XO_TABLE) && pxlo->pulXlate) return iColor < pxlo->cEntries ? pxlo->pulXlate[iColor] : 0;
    return iColor;
}

extern "C" ULONG XLATEOBJ_cGetPalette(XLATEOBJ* pxlo, ULONG iPal, ULONG cPal, ULONG* pPal) {
    EngineXlate* x = AsEngineXlate(pxlo);
    if (!x) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Palette* p = iPal == XO_SRCPALETTE ? x->source : iPal == XO_DESTPALETTE ? x->target : nullptr;
    if (!p || p->mode != PAL_INDEXED) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ULONG n = static_cast<ULONG>(p->entries.size());
    if (!pPal) return n;
    ULONG c = std::min(n, cPal);
    for (ULONG i = 0; i < c; ++i) pPal[i] = p->entries[i];
    return c;
}
