#include "render/hpgl_mode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "gdi/ddi_path.h"
#include "render/halftone.h"
#include "render/output.h"
#include "render/page_setup.h"
#include "render/xl_fill.h"

namespace pclrend {

namespace {

constexpr uint8_t kRopPatternCopy = 240;
constexpr uint32_t kPatternFill = 257;       // fill cache: the user pattern 256 is selected
constexpr uint32_t kStalePattern = 768;      // fill cache: pattern 256 no longer holds the fill's bits
constexpr uint32_t kUserPatternId = 256;

// The set-up string: one user unit is one device dot, y down the page, pen
// width relative, pixel placement on grid centres, mitre joins, round caps.
std::string_view SetUpString(uint16_t dpi) {
    switch (dpi) {
    case 300: return "\x1b%1BINSP1IP0,0,1016,1016SC0,300,0,-300IR0,100PU0,0TR0PP1PW0LA1,4,2,1";
    case 600: return "\x1b%1BINSP1IP0,0,1016,1016SC0,600,0,-600IR0,100PU0,0TR0PP1PW0LA1,4,2,1";
    case 1200: return "\x1b%1BINSP1IP0,0,1016,1016SC0,1200,0,-1200IR0,100PU0,0TR0PP1PW0LA1,4,2,1";
    default: return {};
    }
}

// The comment naming the dialect, with its terminating zero byte.
constexpr char kComment[] = "CO\"Zelquor Enhanced GL/2\"";
static_assert(sizeof kComment == 26);

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

// Leaves HP-GL/2 around PCL commands and comes back to it afterwards.
class PclBracket {
public:
    explicit PclBracket(DeviceRecord& r) : r_(r), wasGl_(r.glState == kGlInGl2) {
        if (wasGl_) SetGlMode(r_, false);
    }
    ~PclBracket() {
        if (wasGl_) SetGlMode(r_, true);
    }
    PclBracket(const PclBracket&) = delete;
    PclBracket& operator=(const PclBracket&) = delete;

private:
    DeviceRecord& r_;
    bool wasGl_;
};

}  // namespace

bool SetGlMode(DeviceRecord& r, bool enter) {
    if (r.glState == kGlUnused) return false;
    if (!enter) {
        if (r.glState != kGlInGl2) return false;
        if (r.gl.pendingSemicolon) SpoolWrite(r, ";");
        r.gl.pendingSemicolon = false;
        SpoolWrite(r, "\x1b%0A");
        r.glState = kGlInPcl;
        return false;
    }
    if (r.glState == kGlInGl2) return false;
    if (r.glState == kGlInPcl) {
        if (r.gl.paletteSaved) {
            SpoolWrite(r, "\x1b*v0O");
            r.gl.paletteSaved = false;
        }
        SpoolWrite(r, "\x1b%1B");
        r.glState = kGlInGl2;
        return false;
    }
    // First entry on the page. IN resets the palette, so the PCL palette is
    // kept on the printer's stack around it.
    r.gl.SetUp();
    SpoolWrite(r, "\x1b*p0P");
    SpoolWrite(r, SetUpString(r.resolution));
    SpoolWrite(r, "\x1b%0A\x1b*p1P\x1b%1B");
    SpoolWrite(r, kComment, sizeof kComment);
    r.glState = kGlInGl2;
    r.ropCache = kRopPatternCopy;
    return true;
}

void ResetGlMode(DeviceRecord& r, bool restart) {
    if (r.glState == kGlUnused) return;
    if (r.glState == kGlInGl2 && r.gl.pendingSemicolon) {
        SpoolWrite(r, ";");
        r.gl.pendingSemicolon = false;
    }
    if (restart) {
        // Only HP-GL/2 needs leaving; in PCL the switch would be bytes for nothing.
        if (r.glState == kGlInGl2) SpoolWrite(r, "\x1b%0A");
        r.glState = kGlNotSetUp;
        return;
    }
    if (r.glState != kGlInGl2) return;
    SetRop(r, true, kRopPatternCopy);
    if (r.gl.pendingSemicolon) SpoolWrite(r, ";");
    r.gl.pendingSemicolon = false;
    SpoolWrite(r, "\x1b%0A");
    r.glState = kGlInPcl;
}

void SetRop(DeviceRecord& r, bool isRop3, uint32_t rop) {
    const uint8_t rop3 = isRop3 ? static_cast<uint8_t>(rop)
                                : static_cast<uint8_t>(rop >= 1 && rop <= 16 ? Rop3FromRop2(rop) : kRopPatternCopy);
    if (r.language == Language::PclXl) return XlSetRop(r, rop3);
    if (r.ropCache == rop3) return;
    SpoolFormat(r, "MC1,%d", {static_cast<uint32_t>(rop3)});
    r.gl.pendingSemicolon = true;
    r.ropCache = rop3;
}

void SetPclRop(DeviceRecord& r, uint8_t rop3) {
    if (r.ropCache == rop3) return;
    SendEscape(r, '*', 'l', 'O', rop3);
    r.ropCache = rop3;
}

void SetInputWindow(DeviceRecord& r, const int32_t* rect) {
    Gl2State& g = r.gl;
    if (!rect) {
        if (g.windowActive) {
            SpoolWrite(r, "IW");
            g.pendingSemicolon = true;
        }
        g.windowActive = false;
        return;
    }
    if (g.windowActive && std::equal(g.window.begin(), g.window.end(), rect)) return;
    std::copy(rect, rect + 4, g.window.begin());
    g.windowActive = true;
    // The window holds the points on its edges, so its right and bottom are
    // the last column and row inside the rectangle, not the first outside:
    // one past them would let every fill through one dot too far.
    SpoolFormat(r, "IW%d,%d,%d,%d", {rect[0], rect[3] - 1, rect[2] - 1, rect[1]});
    g.pendingSemicolon = true;
}

void Gl2PictureFrame(DeviceRecord& r) {
    const uint16_t dpi = std::max<uint16_t>(1, r.resolution);
    const bool whole = r.pagesPerSheet == 1 && r.drawnWidth == r.PageWidth() && r.drawnHeight == r.PageHeight();
    // The frame's corner is where the device's first pixel prints, as the
    // raster places it: right of the logical page's edge by RasterLeft.
    const int32_t left = RasterLeft(r);
    if (whole || !r.currentCell) {
        // A geometry without the size in decipoints has it from its pixels
        // (rounded up): a frame of 0 would be the printer's default, which
        // cuts the page at its own margins.
        const uint32_t fw = r.geometry.printableWidth720 ? r.geometry.printableWidth720
                                                         : static_cast<uint32_t>((uint64_t{r.PageWidth()} * 720 + dpi - 1) / dpi);
        const uint32_t fh = r.geometry.printableLength720 ? r.geometry.printableLength720
                                                          : static_cast<uint32_t>((uint64_t{r.PageHeight()} * 720 + dpi - 1) / dpi);
        SpoolFormat(r, "\x1b*p%dx0Y\x1b*c%dx%dY\x1b*c0T", {left, fw, fh});
        r.cursorX = static_cast<int16_t>(left);
        r.cursorY = 0;
    } else {
        const uint32_t fw = static_cast<uint32_t>(uint64_t{r.drawnWidth} * 720 / dpi) + 1;
        const uint32_t fh = static_cast<uint32_t>(uint64_t{r.drawnHeight} * 720 / dpi) + 1;
        const int32_t x = static_cast<int32_t>(r.currentCell->left) + left;
        SpoolFormat(r, "\x1b*p%dx%dY\x1b*c%dx%dY\x1b*c0T", {x, r.currentCell->top, fw, fh});
        r.cursorX = static_cast<int16_t>(x);
        r.cursorY = static_cast<int16_t>(r.currentCell->top);
        // The page is drawn at page size: the plot size makes the printer
        // scale it, pens and patterns included, by the frame over the plot,
        // which is the drawn size over the page size.
        auto inches = [&](uint64_t num, uint64_t den, char terminator) {
            const uint64_t t = den ? (num * 10000 + den / 2) / den : 0;
            char fraction[8];
            std::snprintf(fraction, sizeof fraction, "%04u", static_cast<unsigned>(t % 10000));
            SpoolFormat(r, "\x1b*c%d.%s", {static_cast<uint32_t>(t / 10000), fraction});
            SpoolWrite(r, &terminator, 1);
        };
        inches(uint64_t{r.PageWidth()} * fw, uint64_t{std::max<uint16_t>(1, r.drawnWidth)} * 720, 'K');
        inches(uint64_t{r.PageHeight()} * fh, uint64_t{std::max<uint16_t>(1, r.drawnHeight)} * 720, 'L');
    }
    if (r.glState != kGlUnused) r.glState = kGlNotSetUp;
    SetGlMode(r, true);
    SetGlMode(r, false);
}

uint32_t PclHatchNumber(uint32_t style) {
    static constexpr uint8_t kNumbers[6] = {1, 2, 4, 3, 5, 6};
    return style < 6 ? kNumbers[style] : 1;
}

void DownloadUserPattern(DeviceRecord& r, const uint8_t (&bits)[128], uint32_t id) {
    SendEscape(r, '*', 'c', 'G', static_cast<int32_t>(id));
    // Format 20: a pattern at a stated resolution, so it prints at device size.
    std::vector<uint8_t> header = {20, 0, 1, 0};
    Put16(header, 32);
    Put16(header, 32);
    Put16(header, r.resolution);
    Put16(header, r.resolution);
    SendEscape(r, '*', 'c', 'W', static_cast<int32_t>(header.size() + sizeof bits));
    SpoolWrite(r, header.data(), static_cast<int32_t>(header.size()));
    uint8_t ink[128];
    for (size_t i = 0; i < sizeof ink; ++i) ink[i] = static_cast<uint8_t>(~bits[i]);  // PCL prints 1 as black
    SpoolWrite(r, ink, sizeof ink);
}

uint32_t DownloadScaledPattern(DeviceRecord& r, const uint8_t (&rows)[8], bool inkIsSet, bool bottomUp) {
    // Each brush pixel becomes a whole number of device pixels, so the side
    // is a multiple of 8 and every row a whole number of bytes: the size
    // announced is exactly what follows.
    const uint32_t divisor = ColourAsked(r) ? 300 : 150;
    const uint32_t scale = std::max<uint32_t>(1, (r.resolution + divisor / 2) / divisor);
    const uint32_t n = 8 * scale, rowBytes = n / 8;
    std::vector<uint8_t> out = {1, 0, 1, 0};
    Put16(out, n);
    Put16(out, n);
    for (int i = 0; i < 8; ++i) {
        const uint8_t src = rows[bottomUp ? 7 - i : i];
        const uint8_t ink = inkIsSet ? src : static_cast<uint8_t>(~src);
        std::vector<uint8_t> row(rowBytes, 0);
        for (uint32_t x = 0; x < n; ++x)
            if (ink & (0x80 >> (x / scale))) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        for (uint32_t k = 0; k < scale; ++k) out.insert(out.end(), row.begin(), row.end());
    }
    SendEscape(r, '*', 'c', 'W', static_cast<int32_t>(out.size()));
    SpoolWrite(r, out.data(), static_cast<int32_t>(out.size()));
    return n;
}

uint32_t SelectMonoFill(DeviceRecord& r, const RealizedBrush* brush, GlRole role) {
    const uint32_t key = brush ? brush->brushKey : kNoBrush;
    if (key >= kNoBrush) return kNoBrush;  // no brush, or one the engine would not realise
    uint32_t& cache = role == GlRole::Area ? r.gl.brushFill : r.gl.penFill;
    const bool area = role == GlRole::Area;
    if (key < 256) {
        if (cache == key) return key;
        if (key == 0) SpoolWrite(r, area ? "FT" : "SV");
        else if (key == 255) SpoolWrite(r, area ? "FT10,0" : "SV1,0");
        else SpoolFormat(r, area ? "FT9,%d" : "SV9,%d", {static_cast<uint32_t>(ToneCurve(r.darknessLevel)[key])});
        r.gl.pendingSemicolon = true;
        cache = key;
        return key;
    }
    if (key < 512) {
        // One user pattern serves both roles; the other role's selection
        // no longer holds its bits.
        {
            PclBracket pcl(r);
            DownloadUserPattern(r, brush->pattern, kUserPatternId);
        }
        uint32_t& other = area ? r.gl.penFill : r.gl.brushFill;
        if (other == kPatternFill) other = kStalePattern;
        SpoolWrite(r, area ? "FT22,256" : "SV22,256");
        r.gl.pendingSemicolon = true;
        cache = kPatternFill;
        return 256;
    }
    if (cache == key) return key;
    SpoolFormat(r, area ? "FT21,%d" : "SV21,%d", {PclHatchNumber(key - 512)});
    r.gl.pendingSemicolon = true;
    cache = key;
    return key;
}

void SelectPclPattern(DeviceRecord& r, const RealizedBrush& brush, bool opaque) {
    const uint32_t value = brush.brushKey;
    if (brush.kind == kBrushHatch) {
        SpoolFormat(r, "\x1b*c%dG\x1b*v3T", {PclHatchNumber(value - 512)});
        r.patternState = value;
        return;
    }
    if (brush.kind == kBrushSolid && value == 0) {
        if (r.patternState != 0) SpoolWrite(r, "\x1b*v0T");
        r.patternState = 0;
        return;
    }
    if (brush.kind == kBrushSolid && value == 255) {
        if (r.patternState != 255) SpoolWrite(r, "\x1b*v1T");
        r.patternState = 255;
        if (opaque && !r.gl.paletteSaved) {
            SpoolWrite(r, "\x1b*v1O");
            r.gl.paletteSaved = true;
        }
        return;
    }
    const uint32_t id = value + 512;  // the pattern's identifier
    if (brush.kind == kBrushSolid) {
        if (r.patternState == value && r.gl.paletteSaved) return;
        r.patternState = value;
        if (!r.gl.paletteSaved) {
            SpoolWrite(r, "\x1b*v1O");
            r.gl.paletteSaved = true;
        }
        if (r.gl.brushFill == kPatternFill) r.gl.brushFill = kStalePattern;
        if (r.modelFlags & 16) {
            // The printer's own grey: shaded at the level, halftoned by it.
            SpoolFormat(r, "\x1b*c%dG\x1b*v9T", {value});
            return;
        }
    } else {
        // All user patterns share one identifier, so the next one is never
        // taken for this one.
        r.patternState = 0x10000 | value;
    }
    if (brush.width == 8 && brush.height == 8 && brush.kind == kBrushPattern) {
        // The realised brush keeps its rows top first.
        uint8_t rows[8];
        for (int y = 0; y < 8; ++y) rows[y] = brush.pattern[y * 4];
        SendEscape(r, '*', 'c', 'G', static_cast<int32_t>(id));
        DownloadScaledPattern(r, rows, false, false);
    } else {
        DownloadUserPattern(r, brush.pattern, id);
    }
    SpoolWrite(r, "\x1b*v4T");
}

}  // namespace pclrend
