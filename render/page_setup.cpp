#include "render/page_setup.h"

#include <algorithm>
#include <cstring>

#include "render/colour_raster.h"
#include "render/hpgl_colour.h"
#include "render/hpgl_mode.h"
#include "render/output.h"
#include "render/raster.h"
#include "render/xl_page.h"

namespace pclrend {

namespace {

constexpr uint16_t kSourceChanged = 0x80;
constexpr uint16_t kSizeChanged = 0x40;
constexpr uint16_t kOrientationChanged = 0x20;
constexpr uint16_t kBackSide = 0x04;

constexpr const char* kPaperTypeNames[] = {"Plain", "Bond", "Transparency", "Card Stock", "Labels", "Letterhead",
                                           "Preprinted", "Color", "Envelope", "Custom Type 1", "Custom Type 2",
                                           "Custom Type 3", "Custom Type 4", "Custom Type 5", "Custom Type 6",
                                           "Glossy", "Vinyl Label"};

int OrientationCode(const DeviceRecord& r) {
    switch (static_cast<int16_t>(r.geometry.orientationCode)) {
    case -2: return 3;
    case -1: return 2;
    case 2: return 1;
    default: return 0;
    }
}

bool CustomPaperPage(const DeviceRecord& r) { return r.geometry.paperCodeAsked >= 640 && r.geometry.paperCodeAsked <= 671; }

// The printer's state is unknown once a macro has run: forget every cache.
void StateAfterOverlay(DeviceRecord& r) {
    r.patternState = 0;
    r.ropCache = 256;
    r.currentSymbolSet = r.lastFontHeight = r.ttSize = 0;
    r.selectedFontId = r.designatedFontId = 0;
    r.symbolSetResource = 0;
    r.cursorX = r.cursorY = -1;
}

void CallMacro(DeviceRecord& r, uint16_t id) {
    SpoolFormat(r, "\x1b&f%dY", {static_cast<int32_t>(id)});
    SpoolWrite(r, "\x1b&f3X");
    StateAfterOverlay(r);
}

// No overlay runs on booklet pages: the sheet's halves are not the pages
// the overlays were laid out for.
void ParityOverlay(DeviceRecord& r, uint8_t placement) {
    if (!r.devmode || r.language == Language::PclXl || r.bookletMode == 1) return;
    const zq::PrivateDevmode& dm = *r.devmode;
    const uint16_t id = r.pageCount == 1 ? dm.macroIds[0] : (r.pageCount % 2 ? dm.macroIds[1] : dm.macroIds[2]);
    if (dm.overlayAtPageStart == placement && id) CallMacro(r, id);
}

void CustomPaperOverlay(DeviceRecord& r, uint8_t placement) {
    if (!r.devmode || r.language == Language::PclXl || r.bookletMode == 1 || !CustomPaperPage(r)) return;
    const zq::PrivateDevmode& dm = *r.devmode;
    const bool back = r.duplex != 1 && (r.changeFlags & kBackSide);
    const uint16_t id = back ? dm.userPaperWord806 : dm.userPaperWord804;
    const uint8_t at = dm.userPaperSettings[back ? 1 : 0];
    if (at == placement && id) CallMacro(r, id);
}

// The band's grey rectangles: each one the band still shows as the engine
// filled it goes as a PCL pattern fill, its area left white in the band;
// the others stay in the band's raster.
void SendGreyRectangles(DeviceRecord& r) {
    std::vector<GreyRectangle> list;
    list.swap(r.greyRectangles);
    if (r.colour || !r.band.bits) return;
    const int32_t left = RasterLeft(r);
    auto white = [&](int32_t x, int32_t y) { return (r.band.bits[static_cast<size_t>(y) * r.band.stride + x / 8] >> (7 - x % 8)) & 1; };
    for (const GreyRectangle& g : list) {
        // The printer tiles the pattern from the page's origin: the band
        // must show that very tiling over the whole rectangle, so that the
        // fill prints what the engine drew and nothing drawn since (ink or
        // white over it) is lost.
        bool same = true;
        for (int32_t y = g.top; same && y < g.bottom; ++y) {
            const int32_t py = (y + r.bandTop) % 32;
            for (int32_t x = g.left; x < g.right; ++x) {
                const int32_t px = (x + left) % 32;
                if (white(x, y) != ((g.pattern[py * 4 + px / 8] >> (7 - px % 8)) & 1)) {
                    same = false;
                    break;
                }
            }
        }
        if (!same) continue;
        DownloadUserPattern(r, g.pattern, g.key + 512u);
        SpoolWrite(r, "\x1b*v4T");
        r.patternState = g.key + 512u;
        MoveToX(r, g.left + left);
        MoveToY(r, g.top + r.bandTop);
        SpoolFormat(r, "\x1b*c%da%db5P", {g.right - g.left, g.bottom - g.top});
        // The band leaves the area white: its raster's white lets the fill through.
        for (int32_t y = g.top; y < g.bottom; ++y)
            for (int32_t x = g.left; x < g.right; ++x)
                r.band.bits[static_cast<size_t>(y) * r.band.stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
}

}  // namespace

int PageOrientationCode(const DeviceRecord& r) { return OrientationCode(r); }

const char* PaperTypeName(uint8_t media) {
    return media && media <= std::size(kPaperTypeNames) ? kPaperTypeNames[media - 1] : nullptr;
}

int PageSizeCode(uint16_t paperCode) {
    switch (paperCode) {
    case 1: return 2;
    case 3: return 6;
    case 5: return 3;
    case 6: return 15;
    case 7: return 1;
    case 8: return 27;
    case 9: return 26;
    case 11: return 13;
    case 12: return 46;
    case 13: return 12;
    case 14: return 4;
    case 19: return 89;
    case 20: return 81;
    case 27: return 90;
    case 28: return 91;
    case 34: return 100;
    case 37: return 80;
    case 258: return 227;
    case 257: case 259: case 260: case 261: case 262: case 768: return 101;
    default: return 2;
    }
}

int PaperSourceCode(uint16_t paperSource, uint8_t featureByte572) {
    switch (paperSource) {
    case 1: return 1;
    case 2: return 4;
    case 3: return 5;
    case 4: return 2;
    case 5: return 6;
    case 6: return 3;
    case 7: return (featureByte572 & 0x08) ? 7 : 0;
    case 14: return 8;
    case 256: return 62;
    case 257: return 20;
    case 258: return 21;
    default: return 1;
    }
}

int PageSize(DeviceRecord& r) {
    const uint16_t code = r.geometry.paperCodeAsked;
    const uint8_t b573 = r.FeatureByte(573);
    const bool custom = (code > 511 && (r.geometry.flags & 0x1000) && b573 >= 128) ||
                        (r.language == Language::ColourRaster && code == 257) || (b573 >= 128 && code >= 259 && code <= 262);
    if (custom && r.resolution) {
        const int oc = static_cast<int16_t>(r.geometry.orientationCode);
        int32_t a = r.geometry.usedWidth, b = r.geometry.usedLength;
        if (oc == 1 || oc == -1) std::swap(a, b);
        auto deci = [&](int32_t v) { return (v * 720 + r.resolution / 2) / r.resolution; };
        SpoolFormat(r, "\x1b&f%dg%dF", {deci(a), deci(b)});
    }
    const int pcl = PageSizeCode(r.geometry.paperCodeUsed);
    SpoolFormat(r, "\x1b&l%dA", {pcl});
    return pcl >= 80 && pcl <= 100 ? 1 : 0;
}

int32_t LogicalPageLeft(const DeviceRecord& r) {
    // 1/4 inch in portrait and 1/5 inch in landscape on papers measured in
    // inches; 71/300 and 59/300 inch on metric papers (A and B sizes, DL,
    // C5).
    const int pcl = PageSizeCode(r.geometry.paperCodeUsed);
    const bool metric = pcl == 25 || pcl == 26 || pcl == 27 || pcl == 45 || pcl == 46 || pcl == 90 || pcl == 91 ||
                        pcl == 100;
    const bool landscape = OrientationCode(r) % 2 == 1;
    const int32_t dots300 = landscape ? (metric ? 59 : 60) : (metric ? 71 : 75);
    return (dots300 * std::max<int32_t>(1, r.resolution) + 150) / 300;
}

int32_t PrintableShift(const DeviceRecord& r) {
    return static_cast<int32_t>(r.geometry.leftMargin) - LogicalPageLeft(r);
}

namespace {

// The logical page moved left by whole decipoints, as far as the printable
// area begins left of it or a little further: the rest of the way is the
// raster's own column (PrintableShift then counts from the moved page).
int32_t RegistrationFor(const DeviceRecord& r) {
    const int32_t shift = PrintableShift(r);
    if (shift >= 0) return 0;
    const int32_t res = std::max<int32_t>(1, r.resolution);
    return -((-shift * 720 + res - 1) / res);
}

}  // namespace

int32_t RasterLeft(const DeviceRecord& r) {
    const int32_t res = std::max<int32_t>(1, r.resolution);
    const int32_t moved = (-r.registration * res + 360) / 720;  // pixels the logical page moved left
    // Left of the logical page nothing prints: a page whose page part did
    // not move it starts at its edge.
    return std::max<int32_t>(0, PrintableShift(r) + moved);
}

void PageFormat(DeviceRecord& r) {
    const int32_t res = std::max<int32_t>(1, r.resolution);
    const int32_t whole = 48 / res, hundredths = 4800 / res % 100;
    const char* format = hundredths < 10 ? "\x1b&l%do%d.0%dc%de%dF" : "\x1b&l%do%d.%dc%de%dF";
    SpoolFormat(r, format,
                {OrientationCode(r), whole, hundredths, static_cast<int32_t>(r.geometry.usedTopMargin),
                 static_cast<int32_t>(r.geometry.usedPrintableLength)});
}

int PagePart(DeviceRecord& r) {
    if (r.language == Language::PclXl) return XlPagePart(r);
    // The first page of a document sets everything up; later pages only
    // what changed since.
    const bool first = r.pageCount <= 1;
    const uint16_t changed = first ? (kSourceChanged | kSizeChanged | kOrientationChanged) : r.changeFlags;
    if (changed & kSizeChanged) PageSize(r);
    if (changed & kOrientationChanged) PageFormat(r);
    // The device's pixels begin at the printable area's left margin. The
    // raster starts that far right of the logical page's edge; where the
    // margin is narrower than the printer's logical page leaves, the left
    // offset registration (ESC&l#U) moves the logical page out to it. It is
    // sent only then (and taken back when a later page does not need it), so
    // that a registration set at the printer's panel otherwise stands.
    if (changed & (kSizeChanged | kOrientationChanged)) {
        if (first) r.registration = 0;  // the job began with a reset
        const int32_t registration = RegistrationFor(r);
        const int orientation = OrientationCode(r);
        // The registration commands move the logical page along the sheet's
        // own portrait axes whatever the orientation: the logical page's
        // left edge lies at the sheet's left in portrait, its bottom in
        // landscape, its right in reverse portrait and its top in reverse
        // landscape, so a move to the left is a left offset (ESC&l#U) in
        // portrait and a top offset (ESC&l#Z) in landscape, signed by the
        // direction the page's x axis runs.
        auto leftOffset = [](int32_t value, int o) { return o == 0 ? value : o == 2 ? -value : 0; };
        auto topOffset = [](int32_t value, int o) { return o == 1 ? -value : o == 3 ? value : 0; };
        const int was = r.registrationOrientation;
        if (leftOffset(registration, orientation) != leftOffset(r.registration, was))
            SpoolFormat(r, "\x1b&l%dU", {leftOffset(registration, orientation)});
        if (topOffset(registration, orientation) != topOffset(r.registration, was))
            SpoolFormat(r, "\x1b&l%dZ", {topOffset(registration, orientation)});
        r.registration = static_cast<int16_t>(registration);
        r.registrationOrientation = static_cast<uint8_t>(orientation);
    }
    auto mediaType = [&](uint8_t type) {
        const char* name = kPaperTypeNames[type - 1];
        SpoolFormat(r, "\x1b&n%dWd%s", {static_cast<int32_t>(std::strlen(name) + 1), name});
    };
    if ((changed & kSourceChanged) && r.devmode) {
        for (size_t tray = 0; tray < 11; ++tray) {
            const uint8_t media = r.devmode->slotValues[tray];
            if (media && media <= std::size(kPaperTypeNames)) mediaType(media);
        }
    }
    // A custom paper carries its own media type (DEVMODE 814, 1-10); it is
    // sent whenever the paper or its source is set up, as a new custom paper
    // can come from the same tray.
    if ((changed & (kSourceChanged | kSizeChanged)) && r.devmode && CustomPaperPage(r)) {
        const uint8_t type = r.devmode->userPaperSettings[6];
        if (type >= 1 && type <= 10) mediaType(type);
    }
    if ((changed & kSourceChanged) && r.devmode)
        SpoolFormat(r, "\x1b&l%dH", {PaperSourceCode(r.paperSource, r.FeatureByte(572))});
    // Output bin (ESC&l#G): once per document, on models with output-bin
    // choices (feature byte 573 bit value 0x20), with the bin of DEVMODE 448
    // (1 upper, 2 lower, 3 and up the optional bins, as the PJL OUTBIN line
    // numbers them); 0 leaves the printer's own choice.
    if (first && r.devmode && (r.FeatureByte(573) & 0x20) && r.devmode->option448 >= 1 && r.devmode->option448 <= 16)
        SpoolFormat(r, "\x1b&l%dG", {static_cast<int32_t>(r.devmode->option448)});
    if (r.duplexFlags && (first || (r.changeFlags & 0x100)))
        SpoolFormat(r, "\x1b&l%dS", {r.duplex == 1 ? 0 : r.duplex - 1});
    // Duplex page side (ESC&a#G): a page of a duplex job whose paper size,
    // source or duplex mode changed cannot share a sheet with the page
    // before, so it goes on the front of a new sheet; the side is said
    // explicitly, and the side the back-side overlays follow starts afresh.
    if (!first && r.duplexFlags && r.duplex != 1 && (changed & (kSourceChanged | kSizeChanged | 0x100)) &&
        (r.changeFlags & kBackSide)) {
        SpoolWrite(r, "\x1b&a1G");
        r.changeFlags &= static_cast<uint16_t>(~kBackSide);
    }
    r.changeFlags &= static_cast<uint16_t>(~(kSourceChanged | kSizeChanged | kOrientationChanged | 0x100));
    if (r.language == Language::MonoRaster || r.language == Language::ColourRaster)
        SpoolWrite(r, "\x1b%1BCO\"Zelquor Enhanced GL/2\"\x1b%0A");
    if (r.language == Language::ColourRaster && r.colour) SelectPalette(r, 6, {}, false, true, 204);
    if (r.language == Language::Pcl5Gl2) Gl2PictureFrame(r);
    ParityOverlay(r, 1);
    CustomPaperOverlay(r, 1);
    return 0;
}

namespace {

// Makes every byte of the band white again, writing only the rows drawing
// left something in: a page's band is mostly blank rows, which reading costs
// less than writing (a written row is one the next band's drawing may not
// touch again).
void WhitenBand(const MonoBand& band) {
    const size_t stride = static_cast<size_t>(band.stride);
    for (int32_t y = 0; y < band.height; ++y) {
        uint8_t* row = band.bits + static_cast<size_t>(y) * stride;
        size_t i = 0;
        // Four words a step while all are white, then word by word.
        for (; i + 32 <= stride; i += 32) {
            uint64_t w[4];
            std::memcpy(w, row + i, 32);
            if ((w[0] & w[1] & w[2] & w[3]) != ~uint64_t{0}) break;
        }
        for (; i + 8 <= stride; i += 8) {
            uint64_t word;
            std::memcpy(&word, row + i, 8);
            if (word != ~uint64_t{0}) break;
        }
        while (i < stride && row[i] == 0xFF) ++i;
        if (i < stride) std::memset(row + i, 0xFF, stride - i);
    }
}

}  // namespace

void BandFlush(DeviceRecord& r) {
    ++r.bandRows;
    if (!(r.pageFlags & 0x04)) {
        r.pageFlags |= 0x08;
        return;
    }
    SpoolFlush(r);
    SendGreyRectangles(r);
    const int32_t top = r.bandTop;
    MoveToYMapped(r, top);
    // The raster starts at the cursor's column, which text may have moved:
    // every band goes back to the page's left edge, where the device's
    // pixels begin on the logical page.
    MoveToX(r, MapX(r, 0) + RasterLeft(r));
    if (r.patternState) {
        r.patternState = 0;
        SpoolWrite(r, "\x1b*v0T");
    }
    if (r.language == Language::ColourRaster && r.colour) {
        const ColourBand band{r.band.bits, r.band.stride, r.band.width, r.band.height};
        // A band that cannot be sent fails its page, never a blank page.
        if (!SendColourBand(r, band, 0, top)) r.pageFailed = true;
    } else {
        MonoBand band = r.band;
        // Rows below the page's end are never sent.
        band.height = std::min<int32_t>(band.height, std::max<int32_t>(0, r.PageHeight() - top));
        if (r.colour) {
            SendRgbBand(r, band, MapX(r, 0) + RasterLeft(r), MapY(r, top));
        } else {
            MonoBandOptions options;
            // Every drawn band says how its raster lies on the page: the first
            // band of a page may hold no drawing and send nothing.
            options.continuing = false;
            options.sixteenBit = r.modelFlags & 0x02;
            SendMonoBand(r, band, options);
        }
    }
    r.cursorX = r.cursorY = -1;
    if (r.band.bits) WhitenBand(r.band);
    r.pageFlags &= static_cast<uint8_t>(~0x0C);
}

int PageEndOutput(DeviceRecord& r) {
    if (r.language == Language::PclXl) return XlPageEnd(r);
    r.bandActive = 1;
    const int t = FrameThickness(r.resolution);
    if (r.language == Language::Pcl5Gl2) SetGlMode(r, false);
    if (r.pagesPerSheet > 1 && r.language != Language::PclXl && r.nupFrame && r.currentCell) {
        const int32_t L = static_cast<int32_t>(r.currentCell->left), T = static_cast<int32_t>(r.currentCell->top);
        const int32_t W = r.drawnWidth, H = r.drawnHeight;
        // Four bars at equal distance around the drawn page.
        const int32_t bars[4][4] = {{L - t, T - t, W + 2 * t, t},
                                    {L + W, T - t, t, H + 2 * t},
                                    {L - t, T + H, W + 2 * t, t},
                                    {L - t, T - t, t, H + 2 * t}};
        for (const auto& b : bars) {
            MoveToX(r, b[0] + RasterLeft(r));
            MoveToY(r, b[1]);
            SpoolFormat(r, "\x1b*c%dA", {b[2]});
            SpoolFormat(r, "\x1b*c%dB", {b[3]});
            SpoolWrite(r, "\x1b*c0P");
        }
    }
    if (r.language == Language::MonoRaster || r.language == Language::ColourRaster) {
        DeferredFlush(r);
        if (r.ropCache != 252) SpoolWrite(r, "\x1b*l252O");
        r.ropCache = 252;
    }
    ParityOverlay(r, 0);
    CustomPaperOverlay(r, 0);
    if (r.language == Language::Pcl5Gl2) ResetGlMode(r, true);
    if (!(r.pagesPerSheet > 1 && r.sheetPages != r.pagesPerSheet)) {
        SpoolWrite(r, "\f");
        SpoolFlush(r);
        r.changeFlags ^= kBackSide;
    }
    r.sheetPageCount = r.pageCount;
    return 1;
}

int NupLayout(DeviceRecord& r, const zq::PaperFormat& other) {
    const int n = r.pagesPerSheet;
    r.nupCells.reset(new (std::nothrow) Cell[std::max(1, n)]());
    if (!r.nupCells || n <= 1) return 0;
    int a = 1, b = 1;
    switch (n) {
    case 2: a = 1; b = 2; break;
    case 3: a = 1; b = 3; break;
    case 4: a = 2; b = 2; break;
    case 6: a = 2; b = 3; break;
    case 9: a = 3; b = 3; break;
    case 12: a = 3; b = 4; break;
    case 16: a = 4; b = 4; break;
    default: return 0;
    }
    const auto& g = r.geometry;
    auto aspect = [](int64_t x, int64_t y) -> int64_t {
        const int64_t lo = std::min(x, y), hi = std::max(x, y);
        return lo ? (hi * 1000 + lo / 2) / lo : 0;
    };
    const int64_t Sw = g.usedWidth, Sh = g.usedLength, Tw = g.usedPrintableWidth, Th = g.usedPrintableLength;
    const int64_t Tow = other.usedPrintableWidth, Toh = other.usedPrintableLength;
    const int64_t R0 = aspect(g.width, g.length);
    // a columns by b rows, or b columns by a rows: the cell nearer the page's aspect.
    const int64_t d1 = std::llabs(aspect(Sw / a, Sh / b) - R0), d2 = std::llabs(aspect(Sw / b, Sh / a) - R0);
    const int cols = d2 < d1 ? b : a, rows = d2 < d1 ? a : b;
    const bool rotated = (r.stamp == kStampPortrait && cols < rows) || (r.stamp == kStampLandscape && rows < cols);
    int64_t Wm, Hm;
    if (!rotated) {
        Hm = Th / rows;
        Wm = Tw / cols;
    } else {
        Wm = Toh / cols;
        Hm = Tow / rows;
    }
    int64_t W = Wm, H = Hm;
    const bool tall = g.length >= g.width;
    if (W > 0 && H > 0) {
        const int64_t c = (!rotated ? (tall ? H * 1000 / W : W * 1000 / H) : (tall ? W * 1000 / H : H * 1000 / W));
        // Cut the longer side (in the page's sense) to the page's aspect, or
        // the shorter one when the cell is too squat.
        int64_t& longer = (!rotated ? tall : !tall) ? H : W;
        int64_t& shorter = (!rotated ? tall : !tall) ? W : H;
        if (c >= R0) longer = R0 * shorter / 1000;
        else if (R0) shorter = longer * 1000 / R0;
        W = std::min(W, Wm) & 0xFFFF;
        H = std::min(H, Hm) & 0xFFFF;
    }
    int64_t gx, mx, gy, my;
    auto gaps = [](int64_t total, int count, int64_t size, int64_t& gap, int64_t& margin) {
        if (count > 1) {
            gap = (total - count * size) / (count - 1);
            margin = 0;
        } else {
            gap = margin = (total - size) / 2;
        }
    };
    if (!rotated) {
        gaps(Tw, cols, W, gx, mx);
        gaps(Th, rows, H, gy, my);
    } else {
        gaps(Tow, rows, H, gx, mx);
        gaps(Toh, cols, W, gy, my);
    }
    const int64_t pl = g.leftMargin, pt = g.topMargin;
    const int64_t ox = pl / cols, oy = pt / rows;
    int k = 0;
    auto put = [&](int i, int j) {
        Cell& c = r.nupCells[k++];
        int64_t left, top, right, bottom;
        if (!rotated) {
            left = ox + mx + (gx + W) * i;
            top = oy + my + (gy + H) * j;
            right = left + W - 2 * pl / cols;
            bottom = top + H - 2 * pt / rows;
        } else {
            left = oy + mx + (gx + H) * j;
            top = ox + my + (gy + W) * i;
            right = left + H - 2 * pt / rows;
            bottom = top + W - 2 * pl / cols;
        }
        c = {static_cast<uint32_t>(left & 0xFFFF), static_cast<uint32_t>(top & 0xFFFF), static_cast<uint32_t>(right & 0xFFFF),
             static_cast<uint32_t>(bottom & 0xFFFF)};
    };
    // Rotated sheets lay the rows along the sheet's x axis.
    const int alongX = rotated ? rows : cols, alongY = rotated ? cols : rows;
    for (int outer = 0; outer < (r.nupRowFirst ? alongY : alongX); ++outer)
        for (int inner = 0; inner < (r.nupRowFirst ? alongX : alongY); ++inner) {
            const int x = r.nupRowFirst ? inner : outer, y = r.nupRowFirst ? outer : inner;
            if (!rotated) put(x, y);
            else put(y, x);
        }
    if (!rotated) {
        r.drawnWidth = static_cast<uint16_t>(W - 2 * pl / cols);
        r.drawnHeight = static_cast<uint16_t>(H - 2 * pt / rows);
    } else {
        r.drawnWidth = static_cast<uint16_t>(H - 2 * pt / rows);
        r.drawnHeight = static_cast<uint16_t>(W - 2 * pl / cols);
    }
    return rotated ? 'Z' : 0;
}

}  // namespace pclrend
