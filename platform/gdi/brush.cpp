// Brushes: solid colours, the standard hatches and pattern bitmaps, realised
// per target surface. The driver's realisation comes from DrvRealizeBrush
// through BRUSHOBJ_pvGetRbrush; the engine keeps a pattern of its own in the
// target's format for the drawing it does itself.
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "base/error.h"
#include "gdi/engine.h"

namespace zq::gdi {

namespace {

std::mutex g_brushLock;
std::unordered_set<const BRUSHOBJ*>& LiveBrushes() {
    static std::unordered_set<const BRUSHOBJ*> set;
    return set;
}

// Rows top first, bit 7 leftmost; 1 marks the hatch line.
constexpr BYTE kHatches[HS_DDI_MAX][8] = {
    {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00},  // HS_HORIZONTAL
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // HS_VERTICAL
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // HS_FDIAGONAL (top left to bottom right)
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // HS_BDIAGONAL
    {0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08, 0x08},  // HS_CROSS
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // HS_DIAGCROSS
};

// 8 x 8 ordered dither thresholds (0-63).
constexpr BYTE kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

// A one-bit bitmap of a hatch tile.
Bitmap HatchBitmap(ULONG style) {
    Bitmap b(8, 8, BMF_1BPP);
    auto bits = HatchBits(style);
    for (int y = 0; y < 8; ++y) b.Get()->Row(y)[0] = bits[y];
    return b;
}

// Converts `src` (pixels of `srcPal`) into a new bitmap of `format` whose
// pixels mean colours of `dstPal`.
Bitmap Convert(const Surface& src, const Palette& srcPal, ULONG format, const Palette& dstPal) {
    Bitmap out(src.sizlBitmap.cx, src.sizlBitmap.cy, format);
    if (!out) return out;
    EngineXlate x(srcPal, dstPal);
    for (LONG y = 0; y < src.sizlBitmap.cy; ++y)
        for (LONG xx = 0; xx < src.sizlBitmap.cx; ++xx) out.Get()->SetPixel(xx, y, x.Translate(src.Pixel(xx, y)));
    return out;
}

bool IsExactEntry(const Palette& pal, COLORREF rgb, ULONG* index) {
    if (pal.mode != PAL_INDEXED) return false;
    for (ULONG i = 0; i < pal.entries.size(); ++i)
        if ((pal.entries[i] & 0xFFFFFF) == (rgb & 0xFFFFFF)) {
            *index = i;
            return true;
        }
    return false;
}

}  // namespace

std::span<const BYTE, 8> HatchBits(ULONG style) { return std::span<const BYTE, 8>(kHatches[style < HS_DDI_MAX ? style : 0], 8); }

EngineBrush::EngineBrush(const LogicalBrush& brush, Surface* t) : BRUSHOBJ{}, logical(brush), target(t) {
    iSolidColor = BR_NOT_SOLID;
    if (logical.kind == LogicalBrush::Kind::Solid && target) {
        const Palette& pal = target->Pal();
        ULONG index = 0;
        // On a one-bit target only black and white are solid; every other
        // colour is dithered into a pattern.
        if (target->iBitmapFormat == BMF_1BPP) {
            if (IsExactEntry(pal, logical.color, &index)) iSolidColor = index;
        } else {
            iSolidColor = pal.FromRgb(logical.color);
        }
    }
    std::lock_guard lock(g_brushLock);
    LiveBrushes().insert(this);
}

EngineBrush::~EngineBrush() {
    std::lock_guard lock(g_brushLock);
    LiveBrushes().erase(this);
}

EngineBrush* BrushFromObject(BRUSHOBJ* pbo) {
    std::lock_guard lock(g_brushLock);
    return pbo && LiveBrushes().count(pbo) ? static_cast<EngineBrush*>(pbo) : nullptr;
}

bool EngineBrush::EnsureEnginePattern() {
    if (enginePattern) return true;
    if (!target) return false;
    const ULONG format = target->iBitmapFormat;
    const Palette& pal = target->Pal();
    switch (logical.kind) {
        case LogicalBrush::Kind::Null:
            return false;
        case LogicalBrush::Kind::Solid: {
            if (iSolidColor != BR_NOT_SOLID) return true;  // drawn as a colour
            // The driver's dither first, so that what the engine draws on a
            // band matches what the driver would print.
            if (Device* dev = target->device ? target->device : target->ditherDevice) {
                if (auto d = dev->DitherColor(logical.color)) {
                    Surface* s = d->Get();
                    const Palette& srcPal = s->iBitmapFormat == BMF_1BPP ? DefaultPalette(BMF_1BPP) : dev->Pal();
                    enginePattern = std::make_unique<Bitmap>(Convert(*s, srcPal, format, pal));
                    return static_cast<bool>(*enginePattern);
                }
            }
            // The engine's own ordered dither between black and white.
            int grey = (5 * GetRValue(logical.color) + 9 * GetGValue(logical.color) + 2 * GetBValue(logical.color)) >> 4;
            Bitmap b(8, 8, format);
            if (!b) return false;
            ULONG white = pal.FromRgb(0xFFFFFF), black = pal.FromRgb(0);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) b.Get()->SetPixel(x, y, grey * 64 / 255 > kBayer[y][x] ? white : black);
            enginePattern = std::make_unique<Bitmap>(std::move(b));
            return true;
        }
        case LogicalBrush::Kind::Hatch: {
            Bitmap tile = HatchBitmap(logical.hatch);
            Palette two;
            two.mode = PAL_INDEXED;
            two.entries = {logical.background & 0xFFFFFF, logical.color & 0xFFFFFF};
            enginePattern = std::make_unique<Bitmap>(Convert(*tile.Get(), two, format, pal));
            return static_cast<bool>(*enginePattern);
        }
        case LogicalBrush::Kind::Pattern: {
            if (!logical.pattern || !*logical.pattern) return false;
            Surface* p = logical.pattern->Get();
            const Palette& srcPal = logical.patternPalette ? *logical.patternPalette : p->Pal();
            enginePattern = std::make_unique<Bitmap>(Convert(*p, srcPal, format, pal));
            return static_cast<bool>(*enginePattern);
        }
    }
    return false;
}

}  // namespace zq::gdi

using namespace zq::gdi;

extern "C" PVOID BRUSHOBJ_pvAllocRbrush(BRUSHOBJ* pbo, ULONG cj) {
    EngineBrush* b = BrushFromObject(pbo);
    if (!b || cj == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    b->driverRealization.assign(cj, 0);
    return b->driverRealization.data();
}

extern "C" PVOID BRUSHOBJ_pvGetRbrush(BRUSHOBJ* pbo) {
    if (!pbo) return nullptr;
    if (pbo->pvRbrush) return pbo->pvRbrush;
    EngineBrush* b = BrushFromObject(pbo);
    if (!b || b->realizing || !b->target || !b->target->device) return nullptr;
    if (b->logical.kind == LogicalBrush::Kind::Null) return nullptr;
    auto realize = b->target->device->Drv().Get<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush);
    if (!realize) return nullptr;

    const Palette& targetPal = b->target->Pal();
    std::optional<Bitmap> pattern;
    std::unique_ptr<Palette> hatchPal;
    std::unique_ptr<EngineXlate> xlate;
    ULONG hatch = HS_DDI_MAX;
    switch (b->logical.kind) {
        case LogicalBrush::Kind::Solid:
            hatch = RB_DITHERCOLOR | (b->logical.color & 0xFFFFFF);
            break;
        case LogicalBrush::Kind::Hatch: {
            hatch = b->logical.hatch < HS_DDI_MAX ? b->logical.hatch : HS_HORIZONTAL;
            pattern.emplace(8, 8, BMF_1BPP);
            auto bits = HatchBits(hatch);
            for (int y = 0; y < 8; ++y) pattern->Get()->Row(y)[0] = bits[y];
            hatchPal = std::make_unique<Palette>();
            hatchPal->mode = PAL_INDEXED;
            hatchPal->entries = {b->logical.background & 0xFFFFFF, b->logical.color & 0xFFFFFF};
            xlate = std::make_unique<EngineXlate>(*hatchPal, targetPal);
            break;
        }
        case LogicalBrush::Kind::Pattern: {
            if (!b->logical.pattern || !*b->logical.pattern) return nullptr;
            Surface* p = b->logical.pattern->Get();
            const Palette& srcPal = b->logical.patternPalette ? *b->logical.patternPalette : p->Pal();
            xlate = std::make_unique<EngineXlate>(srcPal, targetPal);
            break;
        }
        case LogicalBrush::Kind::Null:
            return nullptr;
    }
    SURFOBJ* patternObj = pattern ? pattern->Object()
                          : b->logical.kind == LogicalBrush::Kind::Pattern ? b->logical.pattern->Object() : nullptr;
    b->realizing = true;
    BOOL ok = realize(pbo, b->target, patternObj, nullptr, xlate.get(), hatch);
    b->realizing = false;
    if (ok && !b->driverRealization.empty()) {
        pbo->pvRbrush = b->driverRealization.data();
    } else {
        b->driverRealization.clear();
        pbo->pvRbrush = nullptr;
    }
    return pbo->pvRbrush;
}

extern "C" ULONG BRUSHOBJ_ulGetBrushColor(BRUSHOBJ* pbo) {
    EngineBrush* b = BrushFromObject(pbo);
    if (!b) return pbo ? pbo->iSolidColor : 0xFFFFFFFF;
    if (b->logical.kind == LogicalBrush::Kind::Solid) return b->logical.color & 0xFFFFFF;
    return 0xFFFFFFFF;
}
