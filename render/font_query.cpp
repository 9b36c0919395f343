// The font hooks: the job's device fonts described to the engine as faces
// (IFIMETRICS), their widths, extents, kerning pairs and glyph sets. Every
// result is built per call from the font summary; the engine gives each
// back through DrvFree.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "base/error.h"
#include "base/memory.h"
#include "base/muldiv.h"
#include "render/device_fonts.h"
#include "render/driver.h"

namespace pclrend {

namespace {

constexpr size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

// Integer length: the smallest n not below the larger coordinate with
// n x n >= x x x + y x y.
int64_t IntLen(int64_t x, int64_t y) {
    x = std::llabs(x);
    y = std::llabs(y);
    if (!x || !y) return x + y;
    const int64_t sq = x * x + y * y;
    int64_t n = static_cast<int64_t>(std::sqrt(static_cast<double>(sq)));
    n = std::max(n, std::max(x, y));
    while (n > 0 && (n - 1) * (n - 1) >= sq && n - 1 >= std::max(x, y)) --n;
    while (n * n < sq) ++n;
    return n;
}

// 28.4 to whole pixels, still in 28.4.
LONG Whole(int64_t v) { return static_cast<LONG>((v + 8) & ~int64_t{15}); }

struct Transformed {
    bool ok = false;
    LONG x = 0, y = 0;
};
Transformed Apply(XFORMOBJ* pxo, LONG x, LONG y, ULONG mode = XF_LTOFX) {
    POINTL in{x, y}, out{0, 0};
    Transformed t;
    t.ok = pxo && XFORMOBJ_bApplyXform(pxo, mode, 1, &in, &out);
    t.x = out.x;
    t.y = out.y;
    return t;
}

struct FaceInfo {
    uint32_t row = 0;
    uint16_t variant = kNoVariant;
    const zq::FontSummaryEntry* e = nullptr;
};

// The face of a font object, or none (last error 87).
DeviceRecord* FaceOf(DHPDEV dhpdev, ULONG face, FaceInfo& info) {
    DeviceRecord* r = CheckedRecord(dhpdev);
    if (!r || face == 0 || face > CountFaces(*r)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    info.row = FaceToFont(*r, face);
    info.variant = FaceSymbolSet(*r, face);
    info.e = FontRow(*r, info.row);
    if (!info.e) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return r;
}

struct VerticalMetrics {
    int32_t em, ascent, descent;  // descent below the baseline, positive
};
VerticalMetrics Vertical(const zq::FontSummaryEntry& e) {
    if (e.scalable) return {e.extMetrics.masterUnits, e.vertical[0], -e.vertical[1]};
    return {static_cast<int16_t>(e.pixHeight), static_cast<int16_t>(e.metrics[4]),
            static_cast<int16_t>(e.pixHeight) - static_cast<int16_t>(e.metrics[4])};
}

void PutName(uint8_t* base, size_t at, const std::string& ansi) {
    ULONG written = 0;
    EngMultiByteToUnicodeN(reinterpret_cast<LPWSTR>(base + at), static_cast<ULONG>(2 * ansi.size()), &written,
                           const_cast<char*>(ansi.data()), static_cast<ULONG>(ansi.size()));
}

FONTDIFF Diff(USHORT weight, FSHORT selection, FWORD average, FWORD maximum, POINTL caret) {
    FONTDIFF d{};
    d.usWinWeight = weight;
    d.fsSelection = selection;
    d.fwdAveCharWidth = average;
    d.fwdMaxCharInc = maximum;
    d.ptlCaret = caret;
    return d;
}

IFIMETRICS* BuildIfi(const DeviceRecord& r, const FaceInfo& f) {
    const zq::FontSummaryEntry& e = *f.e;
    const bool variant = f.variant != kNoVariant;
    const SymbolSetVariant* row = variant ? &kSymbolSetVariants[f.variant] : nullptr;
    const std::string face = FontFaceName(r, f.row);
    const std::string family = variant ? face + " (" + row->suffix + ")" : face;
    const auto equivalents = FamilyEquivalents(face);
    const size_t familyBytes = 2 * (family.size() + 1);
    size_t equivalentChars = 0;
    for (const char* n : equivalents) equivalentChars += std::strlen(n) + 1;
    const size_t equivalentBytes = equivalents.empty() ? 0 : 2 * (equivalentChars + 1);
    const bool xl = r.language == Language::PclXl;
    const bool xlScalable = xl && e.scalable;

    // Our own layout: the header, the names, the empty style name, the
    // simulations (FONTSIM, bold, italic, bold italic) and the sets.
    const size_t namesAt = Align4(sizeof(IFIMETRICS));
    const size_t styleAt = namesAt + familyBytes + equivalentBytes;
    const size_t simAt = Align4(styleAt + 2);
    const size_t diffs = xlScalable ? 3 : 1;
    const size_t setsAt = simAt + sizeof(FONTSIM) + diffs * sizeof(FONTDIFF);
    const size_t size = setsAt + (variant ? 24 : 0);
    auto* base = static_cast<uint8_t*>(GlobalAlloc(GPTR, size));
    if (!base) return nullptr;
    auto* ifi = reinterpret_cast<IFIMETRICS*>(base);

    ifi->cjThis = static_cast<ULONG>(size);
    ifi->dpwszFamilyName = static_cast<PTRDIFF>(namesAt);
    ifi->dpwszStyleName = static_cast<PTRDIFF>(styleAt);
    ifi->dpwszFaceName = ifi->dpwszFamilyName;
    ifi->dpwszUniqueName = ifi->dpwszStyleName;
    ifi->dpFontSim = static_cast<PTRDIFF>(simAt);
    ifi->dpCharSets = variant ? static_cast<PTRDIFF>(setsAt) : 0;
    PutName(base, namesAt, family);
    size_t at = namesAt + familyBytes;
    for (const char* n : equivalents) {
        PutName(base, at, n);
        at += 2 * (std::strlen(n) + 1);
    }

    ifi->jWinCharSet = variant ? row->charSet : e.charSet;
    ifi->jWinPitchAndFamily = static_cast<BYTE>(e.pitchAndFamily + 1);
    ifi->usWinWeight = e.weight;
    const bool fixed = (e.pitchAndFamily & 1) == 0;
    ULONG info = FM_INFO_RIGHT_HANDED | FM_INFO_NOT_CONTIGUOUS | FM_INFO_1BPP;
    if (!equivalents.empty()) info |= FM_INFO_FAMILY_EQUIV;
    if (e.scalable) info |= xl ? (FM_INFO_ARB_XFORMS | FM_INFO_TECH_OUTLINE_NOT_TRUETYPE) : 0x01200008;
    else info |= FM_INFO_TECH_BITMAP;
    if (fixed) info |= FM_INFO_CONSTANT_WIDTH | FM_INFO_OPTICALLY_FIXED_PITCH;
    if (IsDbcsCharset(ifi->jWinCharSet)) info = (info & ~FM_INFO_CONSTANT_WIDTH) | FM_INFO_DBCS_FIXED_PITCH | FM_INFO_OPTICALLY_FIXED_PITCH;
    ifi->flInfo = info;
    ifi->fsSelection = static_cast<USHORT>((e.italic ? FM_SEL_ITALIC : 0) | (e.weight >= 700 ? FM_SEL_BOLD : 0));

    const VerticalMetrics v = Vertical(e);
    const auto& x = e.extMetrics;
    if (e.scalable) {
        ifi->fwdUnitsPerEm = x.masterUnits;
        ifi->fwdLowestPPEm = x.minScale;
        ifi->fwdWinAscender = e.vertical[0];
        ifi->fwdWinDescender = static_cast<FWORD>(-e.vertical[1]);
        ifi->fwdMacAscender = ifi->fwdTypoAscender = e.vertical[0];
        ifi->fwdMacDescender = ifi->fwdTypoDescender = e.vertical[1];
        ifi->fwdCapHeight = x.capHeight;
        ifi->fwdXHeight = x.xHeight;
        ifi->fwdSubscriptYSize = x.subScriptSize;
        ifi->fwdSubscriptYOffset = x.subScript;
        ifi->fwdSuperscriptYSize = x.superScriptSize;
        ifi->fwdSuperscriptYOffset = x.superScript;
        ifi->fwdUnderscoreSize = x.underlineWidth;
        ifi->fwdUnderscorePosition = static_cast<FWORD>(-x.underlineOffset);
        ifi->fwdStrikeoutSize = x.strikeOutWidth;
        ifi->fwdStrikeoutPosition = x.strikeOutOffset;
        ifi->cKerningPairs = static_cast<ULONG>(std::max<int16_t>(0, x.kernPairs));
        const auto panose = FontData(r, e.panose, sizeof(PANOSE));
        if (!panose.empty()) std::memcpy(&ifi->panose, panose.data(), sizeof(PANOSE));
    } else {
        ifi->fwdUnitsPerEm = static_cast<FWORD>(v.em);
        ifi->fwdLowestPPEm = static_cast<FWORD>(e.metrics[1]);
        ifi->fwdWinAscender = ifi->fwdMacAscender = ifi->fwdTypoAscender = static_cast<FWORD>(v.ascent);
        ifi->fwdWinDescender = static_cast<FWORD>(v.em - v.ascent);
        ifi->fwdMacDescender = ifi->fwdTypoDescender = static_cast<FWORD>(v.ascent - v.em);
    }
    ifi->fwdMacLineGap = ifi->fwdTypoLineGap = static_cast<FWORD>(e.metrics[6]);
    ifi->fwdAveCharWidth = static_cast<FWORD>(e.avgWidth);
    ifi->fwdMaxCharInc = static_cast<FWORD>(fixed ? e.avgWidth : e.maxWidth);
    ifi->chFirstChar = 0;
    ifi->chLastChar = 255;
    ifi->chDefaultChar = 0;
    ifi->chBreakChar = 32;
    if (e.charSet == 1) {
        const auto runs = CharMapRuns(FontCharMap(r, f.row));
        ifi->wcFirstChar = runs.empty() ? 0 : runs.front().first;
        ifi->wcLastChar = runs.empty() ? 0 : static_cast<WCHAR>(runs.back().first + runs.back().second - 1);
        ifi->wcDefaultChar = ifi->wcFirstChar;
    } else {
        ifi->wcFirstChar = 0;
        ifi->wcLastChar = 0x2122;
        ifi->wcDefaultChar = 0x2022;
    }
    ifi->wcBreakChar = 32;
    ifi->ptlBaseline = {1, 0};
    ifi->ptlAspect = e.scalable ? POINTL{300, 300} : POINTL{static_cast<int16_t>(e.metrics[3]), static_cast<int16_t>(e.metrics[2])};
    ifi->ptlCaret = e.italic ? POINTL{2, 5} : POINTL{0, 1};
    ifi->rclFontBox = {0, ifi->fwdWinAscender, ifi->fwdMaxCharInc, ifi->fwdTypoDescender};
    std::memcpy(ifi->achVendId, "Unkn", 4);

    // Simulations the face lacks.
    FONTSIM sim{};
    const FWORD maxBase = static_cast<FWORD>(fixed ? e.avgWidth : e.maxWidth);
    if (e.weight < 700) {
        sim.dpBold = sizeof(FONTSIM);
        const FONTDIFF bold = Diff(700, FM_SEL_BOLD, static_cast<FWORD>(MulDiv(e.avgWidth, 102, 100)),
                                   static_cast<FWORD>(MulDiv(maxBase, 102, 100)), {0, 1});
        std::memcpy(base + simAt + sim.dpBold, &bold, sizeof bold);
    }
    if (!e.italic && xlScalable) {
        sim.dpItalic = sizeof(FONTSIM) + sizeof(FONTDIFF);
        sim.dpBoldItalic = sizeof(FONTSIM) + 2 * sizeof(FONTDIFF);
        const FWORD avg = static_cast<FWORD>(MulDiv(e.avgWidth, 130, 100));
        const FWORD max = static_cast<FWORD>(MulDiv(maxBase, 130, 100));
        const FONTDIFF italic = Diff(400, FM_SEL_ITALIC, avg, max, {2, 5});
        const FONTDIFF boldItalic = Diff(700, FM_SEL_ITALIC, avg, max, {2, 5});
        std::memcpy(base + simAt + sim.dpItalic, &italic, sizeof italic);
        std::memcpy(base + simAt + sim.dpBoldItalic, &boldItalic, sizeof boldItalic);
    }
    std::memcpy(base + simAt, &sim, sizeof sim);

    if (variant) {
        uint8_t* sets = base + setsAt;
        std::memset(sets, 1, 24);
        sets[0] = row->charSet;
        std::memcpy(sets + 16, &row->mask1, 4);
        std::memcpy(sets + 20, &row->mask2, 4);
    }
    return ifi;
}

// Faces the engine is offered: none without device fonts or in the spool
// and colour raster languages; "DBCSpfm" names are taken off the count.
ULONG_PTR FaceCount(DeviceRecord& r) {
    if (!r.fonts.deviceFontsOn || r.language == Language::SpoolStream || r.language == Language::ColourRaster) return 0;
    ULONG_PTR count = CountFaces(r);
    if (const auto names = DbcsFontNames(static_cast<HANDLE>(r.printer))) {
        const size_t n = CountDbcsNames(*names);
        if (count >= n) count -= n;
    }
    return count;
}

// Scale of a font object along its baseline, 28.4 per 4096 units.
bool BaseScale(FONTOBJ* pfo, int64_t& s) {
    const Transformed t = Apply(FONTOBJ_pxoGetXform(pfo), 4096, 0);
    if (!t.ok) return false;
    s = IntLen(t.x, t.y);
    return true;
}

}  // namespace

extern "C" {

IFIMETRICS* DrvQueryFont(DHPDEV dhpdev, ULONG_PTR, ULONG iFace, ULONG_PTR* pid) {
    if (pid) *pid = 0;
    if (iFace == 0) {
        DeviceRecord* r = CheckedRecord(dhpdev);
        if (!r) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return reinterpret_cast<IFIMETRICS*>(FaceCount(*r));
    }
    FaceInfo f;
    DeviceRecord* r = FaceOf(dhpdev, iFace, f);
    return r ? BuildIfi(*r, f) : nullptr;
}

PVOID DrvQueryFontTree(DHPDEV dhpdev, ULONG_PTR, ULONG iFace, ULONG iMode, ULONG_PTR* pid) {
    if (pid) *pid = 0;
    FaceInfo f;
    DeviceRecord* r = FaceOf(dhpdev, iFace, f);
    if (!r) return nullptr;
    const zq::FontSummaryEntry& e = *f.e;
    if (iMode == QFT_KERNPAIRS) {
        const size_t n = e.scalable ? static_cast<size_t>(std::max<int16_t>(0, e.extMetrics.kernPairs)) : 0;
        const auto view = ViewSummary(r->fonts.summary);
        if (!n || e.kerning == zq::kEmptySlot || e.kerning > view.kerning.size() ||
            (view.kerning.size() - e.kerning) / sizeof(StoredKerningPair) < n)
            return nullptr;
        std::vector<StoredKerningPair> pairs(n);
        std::memcpy(pairs.data(), view.kerning.data() + e.kerning, n * sizeof(StoredKerningPair));
        SortKerningPairs(pairs);
        auto* out = static_cast<FD_KERNINGPAIR*>(GlobalAlloc(GPTR, (n + 1) * sizeof(FD_KERNINGPAIR)));
        if (!out) return nullptr;
        for (size_t i = 0; i < n; ++i) out[i] = {pairs[i].first, pairs[i].second, pairs[i].amount};
        return out;
    }
    if (iMode != QFT_GLYPHSET) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (e.charSet != 1 && !IsDbcsCharset(e.charSet)) return SharedGlyphSet();
    const auto runs = CharMapRuns(FontCharMap(*r, f.row));
    const size_t size = offsetof(FD_GLYPHSET, awcrun) + std::max<size_t>(1, runs.size()) * sizeof(WCRUN);
    auto* set = static_cast<FD_GLYPHSET*>(GlobalAlloc(GPTR, size));
    if (!set) return SharedGlyphSet();
    set->cjThis = static_cast<ULONG>(size);
    set->flAccel = GS_UNICODE_HANDLES;
    set->cGlyphsSupported = e.word32;
    set->cRuns = static_cast<ULONG>(runs.size());
    for (size_t i = 0; i < runs.size(); ++i) set->awcrun[i] = {runs[i].first, runs[i].second, nullptr};
    return set;
}

LONG DrvQueryFontData(DHPDEV dhpdev, FONTOBJ* pfo, ULONG iMode, HGLYPH hg, GLYPHDATA* pgd, PVOID pv, ULONG cjSize) {
    FaceInfo f;
    DeviceRecord* r = pfo ? FaceOf(dhpdev, pfo->iFace, f) : nullptr;
    if (!r) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    XFORMOBJ* pxo = FONTOBJ_pxoGetXform(pfo);
    if (!pxo) return -1;
    const zq::FontSummaryEntry& e = *f.e;
    const VerticalMetrics v = Vertical(e);
    const auto ink = [&](int32_t value) -> LONG {
        const Transformed t = Apply(pxo, 0, value);
        const LONG len = Whole(IntLen(t.x, t.y));
        return value < 0 ? -len : len;
    };
    if (iMode == QFD_GLYPHANDBITMAP) {
        if (!pgd) return 0;
        int64_t s = 0;
        if (!BaseScale(pfo, s)) return -1;
        const int64_t w = HandleWidth(*r, f.row, hg);
        const Transformed base = Apply(pxo, 4096, 0);
        *pgd = GLYPHDATA{};
        pgd->hg = hg;
        pgd->fxD = pgd->fxAB = Whole((w * s) >> 12);
        pgd->ptqD.x.HighPart = Whole((int64_t{base.x} * w) >> 12);
        pgd->ptqD.y.HighPart = Whole((int64_t{base.y} * w) >> 12);
        pgd->fxInkTop = ink(v.ascent);
        pgd->fxInkBottom = ink(-v.descent);
        return 0;
    }
    if (iMode != QFD_MAXEXTENTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    constexpr LONG kExtentsSize = static_cast<LONG>(sizeof(FD_DEVICEMETRICS));
    if (!pv) return kExtentsSize;
    if (cjSize < sizeof(FD_DEVICEMETRICS)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return -1;
    }
    FD_DEVICEMETRICS dm{};
    const auto unit = [](const Transformed& t) {
        const double len = std::hypot(double(t.x), double(t.y));
        return len > 0 ? POINTE{static_cast<FLOATL>(t.x / len), static_cast<FLOATL>(t.y / len)} : POINTE{1, 0};
    };
    dm.pteBase = unit(Apply(pxo, v.em, 0));
    dm.pteSide = unit(Apply(pxo, 0, -v.em));
    const bool fixed = (e.pitchAndFamily & 1) == 0;
    const Transformed widest = Apply(pxo, fixed ? e.avgWidth : e.maxWidth, 0);
    dm.cxMax = static_cast<ULONG>((IntLen(widest.x, widest.y) + 8) >> 4);
    dm.lD = fixed ? static_cast<LONG>(dm.cxMax) : 0;
    dm.fxMaxAscender = ink(v.ascent);
    dm.fxMaxDescender = ink(v.descent);
    if (e.scalable) {
        const auto pixels = [&](int32_t y) {
            const Transformed t = Apply(pxo, 0, y, XF_LTOL);
            return POINTL{t.x, t.y};
        };
        dm.ptlUnderline1 = pixels(-e.extMetrics.underlineOffset);
        dm.ptlStrikeOut = pixels(-e.extMetrics.strikeOutOffset);
        dm.ptlULThickness = dm.ptlSOThickness = pixels(e.extMetrics.underlineWidth);
    }
    std::memcpy(pv, &dm, sizeof dm);
    return kExtentsSize;
}

BOOL DrvQueryAdvanceWidths(DHPDEV dhpdev, FONTOBJ* pfo, ULONG iMode, HGLYPH* phg, PVOID pvWidths, ULONG cGlyphs) {
    FaceInfo f;
    DeviceRecord* r = pfo ? FaceOf(dhpdev, pfo->iFace, f) : nullptr;
    if (!r || (iMode != QAW_GETWIDTHS && iMode != QAW_GETEASYWIDTHS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (cGlyphs == 0) return TRUE;
    if (!phg || !pvWidths) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int64_t s = 0;
    if (!BaseScale(pfo, s)) return FALSE;
    auto* out = static_cast<USHORT*>(pvWidths);
    for (ULONG i = 0; i < cGlyphs; ++i)
        out[i] = static_cast<USHORT>(Whole((int64_t{HandleWidth(*r, f.row, phg[i])} * s) >> 12));
    return TRUE;
}

void DrvFree(PVOID pv, ULONG_PTR) {
    if (!pv || pv == SharedGlyphSet()) return;
    GlobalFree(pv);
}

}  // extern "C"

}  // namespace pclrend
