#include "render/hpgl_colour.h"

#include <algorithm>
#include <array>
#include <vector>

#include "render/colour_raster.h"
#include "render/output.h"
#include "render/xl_fill.h"

namespace pclrend {

namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;
constexpr uint8_t kSlotFree = 0, kSlotStored = 1, kSlotSelected = 2;

constexpr std::array<PaletteKind, kPaletteKinds> kKinds = {{
    {0, 6, 8},      // two-colour fills
    {6, 6, 256},    // colour brushes, up to 64 colours
    {12, 1, 8},     // colour hatches
    {13, 1, 8},
    {14, 1, 64},
    {15, 1, 1024},  // 256 colours
    {16, 1, 0},     // the page's colour set-up
    {17, 1, 8},
    {18, 1, 8},
    {19, 1, 8},
    {20, 1, 0},     // colour raster
}};

// The kind of object whose render settings a palette kind takes.
int ObjectKindOf(int paletteKind) {
    if (paletteKind >= 3 && paletteKind <= 7) return 1;
    if (paletteKind == 8) return 2;
    return 0;
}

// The slot used last gets the kind's slot count, the others count down.
void Touch(DeviceRecord& r, const PaletteKind& k, int slot) {
    for (int s = k.firstSlot; s < k.firstSlot + k.slots; ++s)
        if (s != slot && r.gl.slotAge[s] > 1) --r.gl.slotAge[s];
    r.gl.slotAge[slot] = k.slots;
}

bool Matches(const DeviceRecord& r, int slot, std::span<const uint32_t> colours) {
    if (colours.empty()) return true;
    const auto& stored = r.gl.slotColours[slot];
    return stored.size() == colours.size() && std::equal(stored.begin(), stored.end(), colours.begin());
}

void Configure(DeviceRecord& r, int kind, size_t count, bool blackAndWhite) {
    auto cid = [&](std::array<uint8_t, 6> bytes) {
        SpoolWrite(r, "\x1b*v6W");
        SpoolWrite(r, bytes.data(), static_cast<int32_t>(bytes.size()));
    };
    if (count >= 1 && count <= 2) {
        if (blackAndWhite) SpoolWrite(r, "\x1b*r1U");  // one black plane
        else cid({0, 1, 1, 8, 8, 8});
    } else if (count >= 3 && count <= 16) {
        cid({0, 1, 4, 8, 8, 8});
    } else if (count >= 17 && count <= 256) {
        cid({0, 1, 8, 8, 8, 8});
    } else if (kind != 10) {
        cid({0, 3, 0, 8, 8, 8});  // 24-bit direct
    } else if (const int bits = ColourRasterConfiguredBits(r)) {
        // The colour raster's levels, at the depth its bands go out at (a
        // product without a depth-4 screen sends depth 2).
        cid({255, 3, 0, static_cast<uint8_t>(bits), 0, 0});
    }
}

}  // namespace

const PaletteKind& PaletteKindOf(int kind) { return kKinds[static_cast<size_t>(std::clamp(kind, 0, kPaletteKinds - 1))]; }

void MarkSlotsUsed(DeviceRecord& r) {
    for (auto& s : r.gl.slotState)
        if (s == kSlotSelected) s = kSlotStored;
}

void FreeSlots(DeviceRecord& r, int first, int count) {
    for (int s = std::max(first, 0); s < std::min(first + count, kPaletteSlots); ++s) {
        r.gl.slotState[s] = kSlotFree;
        r.gl.slotColours[s].clear();
    }
}

int SelectPalette(DeviceRecord& r, int kind, std::span<const uint32_t> colours, bool inGl2, bool stayInPcl,
                  uint8_t rop) {
    const PaletteKind& k = PaletteKindOf(kind);
    int freeSlot = -1;
    for (int s = k.firstSlot; s < k.firstSlot + k.slots; ++s) {
        if (r.gl.slotState[s] == kSlotFree) {
            if (freeSlot < 0) freeSlot = s;
            continue;
        }
        if (!Matches(r, s, colours)) continue;
        Touch(r, k, s);
        if (r.gl.slotState[s] == kSlotSelected) {
            if (stayInPcl) SetGlMode(r, false);
            return s;
        }
        if (inGl2) SetGlMode(r, false);
        SpoolFormat(r, "\x1b&p%dS", {s});
        MarkSlotsUsed(r);
        r.gl.slotState[s] = kSlotSelected;
        if (inGl2 && !stayInPcl) SetGlMode(r, true);
        return s;
    }
    int slot = freeSlot;
    if (slot < 0) {
        int best = 255;
        for (int s = k.firstSlot; s < k.firstSlot + k.slots; ++s)
            if (r.gl.slotAge[s] < best) {
                best = r.gl.slotAge[s];
                slot = s;
            }
        if (slot < 0) slot = k.firstSlot;
    }
    Touch(r, k, slot);
    if (inGl2) SetGlMode(r, false);
    MarkSlotsUsed(r);
    const size_t count = colours.size();
    const bool blackAndWhite = count == 2 && rop == 204 &&
                               (((colours[0] & kWhite) == 0 && (colours[1] & kWhite) == kWhite) ||
                                ((colours[0] & kWhite) == kWhite && (colours[1] & kWhite) == 0));
    // A slot given up by another palette is configured afresh too: its old
    // entry size may not hold the new colours.
    if (r.gl.slotState[slot] != kSlotFree) SpoolFormat(r, "\x1b&p%dS", {slot});
    else SpoolFormat(r, "\x1b&p%di6c%dS", {slot, slot});
    Configure(r, kind, count, blackAndWhite);
    if (r.modelFlags & 8) SendRenderSettings(r, ObjectKindOf(kind));
    r.gl.slotState[slot] = kSlotSelected;
    r.gl.slotColours[slot].clear();
    if (count >= 1 && count <= 256) {
        r.gl.slotColours[slot].assign(colours.begin(), colours.end());
        if (!blackAndWhite)
            for (size_t i = 0; i < count; ++i)
                SpoolFormat(r, "\x1b*v%da%db%dc%dI",
                            {colours[i] & 0xFF, (colours[i] >> 8) & 0xFF, (colours[i] >> 16) & 0xFF, static_cast<uint32_t>(i)});
    }
    if (inGl2 && !stayInPcl) SetGlMode(r, true);
    return slot;
}

void SendRenderSettings(DeviceRecord& r, int kind) {
    const auto& s = r.gl.renderSettings[static_cast<size_t>(std::clamp(kind, 0, 2))];
    SetGlMode(r, false);
    SpoolFormat(r, "\x1b*t%d.%dI", {s[3] / 10, s[3] % 10});
    const uint8_t lightness[3] = {6, 0, s[1]}, saturation[3] = {6, 1, s[2]};
    SpoolWrite(r, "\x1b*o3W");
    SpoolWrite(r, lightness, 3);
    SpoolWrite(r, "\x1b*o3W");
    SpoolWrite(r, saturation, 3);
    static constexpr int kAlgorithms[3] = {7, 13, 0};
    if (s[0] < 3) SendEscape(r, '*', 't', 'J', kAlgorithms[s[0]]);
}

void ResetPclColor(DeviceRecord& r) {
    if (!r.gl.colourResetPending) return;
    SpoolWrite(r, "\x1b*p0P\x1b*r1U\x1b*v1S\x1b*p1P");
    r.gl.colourResetPending = false;
}

bool SelectBrushPalette(DeviceRecord& r, const RealizedBrush& brush, bool inGl2, uint32_t mode) {
    auto rgb = [](const uint8_t (&c)[3]) { return static_cast<uint32_t>(c[0] | c[1] << 8 | c[2] << 16); };
    const bool clear = (mode >> 8 & 0xFF) == 0xAA;
    // Pattern bit 0 is the foreground (index 0), 1 the background.
    const uint32_t colours[2] = {clear ? kWhite : rgb(brush.colour), clear ? kWhite : rgb(brush.backColour)};
    SelectPalette(r, 1, colours, inGl2, true, 0);
    return true;
}

void HatchBitmap16(uint32_t style, uint8_t (&bits)[32]) {
    uint8_t big[128];
    HatchPattern(style, big);  // 32 x 32, 1 = white; its cell repeats every 8 pixels
    for (int y = 0; y < 16; ++y)
        for (int i = 0; i < 2; ++i) bits[y * 2 + i] = static_cast<uint8_t>(~big[y * 4 + i]);
}

void SelectColourHatch(DeviceRecord& r, const RealizedBrush& brush, GlRole role, uint32_t mode) {
    auto rgb = [](const uint8_t (&c)[3]) { return static_cast<uint32_t>(c[0] | c[1] << 8 | c[2] << 16); };
    const uint32_t fore = rgb(brush.colour);
    const bool clear = (mode >> 8 & 0xFF) == 0xAA;
    const uint32_t back = clear ? kWhite : rgb(brush.backColour);
    const bool area = role == GlRole::Area;
    if (back != kWhite || clear) {
        // An opaque background: the hatch as a two-colour user pattern,
        // index 0 the background.
        const uint32_t colours[2] = {back, fore};
        SelectPalette(r, 2, colours, true, true, 0);
        SpoolWrite(r, "\x1b*c256G\x1b*c40W");
        const uint8_t header[8] = {1, 0, 1, 0, 0, 16, 0, 16};
        SpoolWrite(r, header, sizeof header);
        uint8_t bits[32];
        HatchBitmap16(brush.brushKey - 512, bits);
        SpoolWrite(r, bits, sizeof bits);  // rows top first, as the engine draws them
        SetGlMode(r, true);
        SpoolWrite(r, area ? "FT22,256" : "SV22,256");
    } else {
        const uint32_t colours[2] = {kWhite, fore};  // pen 1 draws the lines
        SelectPalette(r, 2, colours, true, false, 0);
        SpoolFormat(r, area ? "FT21,%d" : "SV21,%d", {PclHatchNumber(brush.brushKey - 512u)});
    }
    r.gl.pendingSemicolon = true;
    (area ? r.gl.brushFill : r.gl.penFill) = kGlUnknown;
}

uint32_t SelectColourFill(DeviceRecord& r, const RealizedBrush* brush, GlRole role, uint32_t mode) {
    const uint32_t key = brush ? brush->brushKey : kNoBrush;
    if (key >= kNoBrush) return kNoBrush;
    if (key >= 512) {
        SelectColourHatch(r, *brush, role, mode);
        return key;
    }
    if (key >= 256) {
        // Patterns are realised in one bit: black and white, pen 1 black.
        const uint32_t colours[2] = {kWhite, 0};
        SelectPalette(r, 0, colours, true, false, 0);
        return SelectMonoFill(r, brush, role);
    }
    // A solid colour is pen 1 of a palette of white and the colour; the
    // palette is selected every time, the fill type only when it changed.
    const uint32_t colours[2] = {kWhite, static_cast<uint32_t>(brush->colour[0] | brush->colour[1] << 8 | brush->colour[2] << 16)};
    SelectPalette(r, 0, colours, true, false, 0);
    uint32_t& cache = role == GlRole::Area ? r.gl.brushFill : r.gl.penFill;
    if (cache != 0) {
        SpoolWrite(r, role == GlRole::Area ? "SP1FT" : "SP1SV");
        r.gl.pendingSemicolon = true;
        cache = 0;
    }
    return key;
}

}  // namespace pclrend
