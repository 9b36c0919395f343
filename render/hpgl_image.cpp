// Bit-block transfers that read a source on a PCL 5 page: the source is made
// a one-bit picture of the target by the engine (as it would draw it into a
// band), and sent as PCL raster once per clip rectangle, inside the transfer
// sequence that makes source and pattern opaque for the logical operation and
// puts the printer's defaults back afterwards.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "render/brush.h"
#include "render/driver.h"
#include "render/hpgl_colour.h"
#include "render/hpgl_mode.h"
#include "render/hpgl_path.h"
#include "render/output.h"
#include "render/page_setup.h"
#include "render/raster.h"
#include "render/rectangles.h"
#include "render/xl_fill.h"

namespace pclrend {

namespace {

constexpr DWORD kCompressedSource = 2000;  // ERROR_INVALID_PIXEL_FORMAT

bool NeedsPattern(uint8_t rop3) { return ((rop3 >> 4) ^ rop3) & 0x0F; }

// A page coordinate on the printed sheet's scale: a page drawn at another
// size (n-up, fit to page) is scaled by drawn size over page size. Origins
// of cells are added where the raster is placed.
struct Scale {
    int64_t num[2], den[2];
    LONG X(LONG x) const { return static_cast<LONG>(x * num[0] / den[0]); }
    LONG Y(LONG y) const { return static_cast<LONG>(y * num[1] / den[1]); }
    // A rectangle scaled; an extent that scales to nothing keeps one pixel.
    RECTL Of(const RECTL& r) const {
        RECTL s{X(r.left), Y(r.top), X(r.right), Y(r.bottom)};
        if (r.right != r.left && s.right == s.left) s.right += r.right > r.left ? 1 : -1;
        if (r.bottom != r.top && s.bottom == s.top) s.bottom += r.bottom > r.top ? 1 : -1;
        return s;
    }
};

Scale PageScale(const DeviceRecord& r) {
    if (!PageIsMapped(r) || !r.PageWidth() || !r.PageHeight()) return {{1, 1}, {1, 1}};
    return {{r.drawnWidth, r.drawnHeight}, {r.PageWidth(), r.PageHeight()}};
}

// The one-bit picture the engine draws: rows top first, 1 for white, as a
// band bitmap holds them.
class OneBitPicture {
public:
    OneBitPicture(LONG width, LONG height) {
        const HBITMAP bitmap = EngCreateBitmap(SIZEL{width, height}, (width + 31) / 32 * 4, BMF_1BPP, BMF_TOPDOWN, nullptr);
        if (!bitmap) return;
        handle_ = static_cast<HSURF>(bitmap);
        so_ = EngLockSurface(handle_);
        if (so_) std::memset(so_->pvScan0, 0xFF, static_cast<size_t>(so_->lDelta) * static_cast<size_t>(height));
    }
    ~OneBitPicture() {
        if (so_) EngUnlockSurface(so_);
        if (handle_) EngDeleteSurface(handle_);
    }
    OneBitPicture(const OneBitPicture&) = delete;
    OneBitPicture& operator=(const OneBitPicture&) = delete;
    SURFOBJ* Surface() const { return so_; }

private:
    HSURF handle_ = nullptr;
    SURFOBJ* so_ = nullptr;
};

// The rectangles the transfer may paint: the clip's, cut to the target and
// the page.
std::vector<RECTL> VisibleParts(const DeviceRecord& r, CLIPOBJ* pco, const RECTL& target) {
    const RECTL area = Intersection(target, RECTL{0, 0, r.PageWidth(), r.PageHeight()});
    std::vector<RECTL> parts;
    const BYTE complexity = pco ? pco->iDComplexity : DC_TRIVIAL;
    if (complexity == DC_COMPLEX) {
        Gl2ForEachClipRectangle(pco, [&](const RECTL& c) {
            const RECTL part = Intersection(c, area);
            if (!Empty(part)) parts.push_back(part);
        });
    } else {
        const RECTL part = complexity == DC_RECT ? Intersection(pco->rclBounds, area) : area;
        if (!Empty(part)) parts.push_back(part);
    }
    return parts;
}

// One rectangle of the picture (in the picture's pixels) as PCL raster at
// sheet position (x, y): raster width, then the rows.
void SendPart(DeviceRecord& r, const SURFOBJ* picture, const RECTL& part, int32_t x, int32_t y) {
    const LONG w = part.right - part.left, h = part.bottom - part.top;
    const LONG stride = (w + 31) / 32 * 4;
    std::vector<uint8_t> rows(static_cast<size_t>(stride) * static_cast<size_t>(h) + 1);
    const size_t pictureBytes = (static_cast<size_t>(picture->sizlBitmap.cx) + 7) / 8;
    for (LONG k = 0; k < h; ++k) {
        const auto* line = static_cast<const uint8_t*>(picture->pvScan0) + static_cast<ptrdiff_t>(part.top + k) * picture->lDelta;
        CopyRowBits(line, pictureBytes, static_cast<size_t>(part.left), static_cast<size_t>(w),
                    rows.data() + static_cast<size_t>(k) * static_cast<size_t>(stride));
    }
    SpoolFormat(r, "\x1b*p%dx%dY\x1b*r%dS", {x, y, static_cast<int32_t>(w)});
    MonoBandOptions options;
    options.continuing = true;  // presentation mode is set once by the opening
    options.sixteenBit = r.modelFlags & 0x02;
    SendMonoBand(r, MonoBand{rows.data(), stride, w, h}, options);
}

constexpr uint32_t kWhite = 0xFFFFFF;

int SourceBits(const SURFOBJ* so) {
    switch (so->iBitmapFormat) {
    case BMF_1BPP: return 1;
    case BMF_4BPP: return 4;
    case BMF_8BPP: return 8;
    default: return 24;
    }
}

// The translated palette of an indexed source (red low).
std::vector<uint32_t> SourcePalette(int bits, XLATEOBJ* pxlo) {
    std::vector<uint32_t> entries(size_t{1} << bits);
    for (size_t i = 0; i < entries.size(); ++i)
        entries[i] = (pxlo ? XLATEOBJ_iXlate(pxlo, static_cast<ULONG>(i)) : (i ? kWhite : 0)) & kWhite;
    return entries;
}

// A one-bit source of black and white copied as it is: the one-bit route
// with the black-and-white palette prints it exactly.
bool BlackAndWhiteCopy(const SURFOBJ* so, XLATEOBJ* pxlo, uint8_t rop3) {
    if (so->iBitmapFormat != BMF_1BPP || rop3 != 0xCC) return false;
    const auto p = SourcePalette(1, pxlo);
    return (p[0] == 0 && p[1] == kWhite) || (p[0] == kWhite && p[1] == 0);
}

// Decipoints of `dots` at the device resolution, to a thousandth.
std::string Decipoints(int64_t dots, int resolution) {
    const int64_t thousandths = (dots * 720 * 1000 + resolution / 2) / resolution;
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(thousandths / 1000),
                  static_cast<long long>(thousandths % 1000));
    return text;
}

// Raster rows in run-length coding (method 2), each row from `row(k, out)`.
void SendColourRows(DeviceRecord& r, LONG rows, size_t rowBytes, const std::function<void(LONG, uint8_t*)>& row) {
    std::vector<uint8_t> raw(rowBytes + 8), packed(rowBytes + rowBytes / 64 + 16);
    SpoolWrite(r, "\x1b*b2M");
    for (LONG k = 0; k < rows; ++k) {
        row(k, raw.data());
        const int32_t n = PackBits({raw.data(), rowBytes}, packed);
        SpoolFormat(r, "\x1b*b%dW", {n < 0 ? 0 : n});
        SpoolWrite(r, packed.data(), n < 0 ? 0 : n);
    }
}

// The colour image route of a colour page whose model asks for it: the
// source's own pixels, indexed through its palette (1, 4 and 8 bits a
// pixel) or red, green and blue (deeper sources, converted), placed and
// scaled by the printer (one visible rectangle, upright target), or drawn
// to the target's size here and sent once per visible rectangle (complex
// clips, mirrored targets).
BOOL ColourImage(DeviceRecord& r, const Gl2Transfer& t, const RECTL& target, const RECTL& from,
                 const std::vector<RECTL>& parts, const Scale& scale, int32_t originX, int32_t originY) {
    SURFOBJ* src = t.source;
    const bool upright = t.target.right > t.target.left && t.target.bottom > t.target.top;
    const bool printerScaled = upright && parts.size() == 1;
    // Host-drawn pictures: the target's visible box, 24 bits a pixel in the
    // device's colours.
    RECTL box = parts.front();
    for (const RECTL& p : parts)
        box = {std::min(box.left, p.left), std::min(box.top, p.top), std::max(box.right, p.right), std::max(box.bottom, p.bottom)};
    const RECTL sbox = scale.Of(box);
    HSURF handle = nullptr;
    SURFOBJ* picture = nullptr;
    if (!printerScaled) {
        const LONG w = sbox.right - sbox.left, h = sbox.bottom - sbox.top;
        const HBITMAP bitmap = EngCreateBitmap(SIZEL{w, h}, (w * 24 + 31) / 32 * 4, BMF_24BPP, BMF_TOPDOWN, nullptr);
        handle = static_cast<HSURF>(bitmap);
        picture = handle ? EngLockSurface(handle) : nullptr;
        if (!picture) {
            // A picture that cannot be made or locked prints nothing: the
            // transfer fails rather than leave a gap reported as printed.
            if (handle) EngDeleteSurface(handle);
            return FALSE;
        }
        std::memset(picture->pvScan0, 0xFF, static_cast<size_t>(picture->lDelta) * static_cast<size_t>(h));
        const RECTL st = scale.Of(t.target);
        RECTL into{st.left - sbox.left, st.top - sbox.top, st.right - sbox.left, st.bottom - sbox.top};
        RECTL fromCopy = from;
        if (!EngStretchBlt(picture, src, nullptr, nullptr, t.translation, nullptr, nullptr, &into, &fromCopy, nullptr, COLORONCOLOR)) {
            EngUnlockSurface(picture);
            EngDeleteSurface(handle);
            return FALSE;
        }
    }
    const int bits = printerScaled ? SourceBits(src) : 24;
    SetGlMode(r, false);
    if (bits == 24) SelectPalette(r, 6, {}, false, true, 0);
    else SelectPalette(r, bits == 1 ? 3 : 5, SourcePalette(bits, t.translation), false, true, 0);
    if (NeedsPattern(t.rop3)) {
        RealizedBrush solid;
        if (const RealizedBrush* brush = Gl2ResolveBrush(r, t.brush, solid)) SelectPclPattern(r, *brush, true);
    }
    SpoolFormat(r, "\x1b*v1N\x1b&f0S\x1b*v1O\x1b*l%dO\x1b*r0F", {static_cast<uint32_t>(t.rop3)});
    if (printerScaled) {
        // The source part under the visible rectangle, by proportion (in 64
        // bits: offsets times extents overflow 32), and where it goes.
        const RECTL& p = parts.front();
        const int64_t sw = from.right - from.left, sh = from.bottom - from.top;
        const int64_t tw = target.right - target.left, th = target.bottom - target.top;
        const LONG x0 = from.left + static_cast<LONG>((p.left - target.left) * sw / tw);
        const LONG y0 = from.top + static_cast<LONG>((p.top - target.top) * sh / th);
        const LONG x1 = std::max<LONG>(x0 + 1, from.left + static_cast<LONG>(((p.right - target.left) * sw + tw - 1) / tw));
        const LONG y1 = std::max<LONG>(y0 + 1, from.top + static_cast<LONG>(((p.bottom - target.top) * sh + th - 1) / th));
        // The target of exactly that source part (a part cut off whole
        // source pixels keeps them whole).
        const RECTL dest = scale.Of(RECTL{target.left + static_cast<LONG>((x0 - from.left) * tw / sw),
                                         target.top + static_cast<LONG>((y0 - from.top) * th / sh),
                                         target.left + static_cast<LONG>((x1 - from.left) * tw / sw),
                                         target.top + static_cast<LONG>((y1 - from.top) * th / sh)});
        const LONG w = x1 - x0, h = y1 - y0;
        const LONG dw = std::max<LONG>(1, dest.right - dest.left), dh = std::max<LONG>(1, dest.bottom - dest.top);
        SpoolFormat(r, "\x1b*p%dx%dY", {dest.left + originX, dest.top + originY});
        if (dw == w && dh == h) {
            SpoolFormat(r, "\x1b*r%dt%dS\x1b*r1A", {h, w});
        } else {
            SpoolFormat(r, "\x1b*r0f%dt%dS", {h, w});
            SpoolWrite(r, "\x1b*t" + Decipoints(dh, r.resolution) + "v" + Decipoints(dw, r.resolution) + "H\x1b*r3A");
        }
        const size_t rowBytes = (static_cast<size_t>(w) * static_cast<size_t>(bits) + 7) / 8;
        const size_t sourceBytes = (static_cast<size_t>(src->sizlBitmap.cx) * static_cast<size_t>(SourceBits(src)) + 7) / 8;
        SendColourRows(r, h, rowBytes, [&](LONG k, uint8_t* out) {
            const auto* line = static_cast<const uint8_t*>(src->pvScan0) + static_cast<ptrdiff_t>(y0 + k) * src->lDelta;
            if (bits < 24) CopyRowBits(line, sourceBytes, static_cast<size_t>(x0) * static_cast<size_t>(bits), static_cast<size_t>(w) * static_cast<size_t>(bits), out);
            else SourceRgbRow(src, t.translation, x0, y0 + k, w, out);
        });
        SpoolWrite(r, "\x1b*rC");
    } else {
        // One raster per visible rectangle, at the cursor.
        for (const RECTL& p : parts) {
            const RECTL sp = scale.Of(p);
            const LONG w = sp.right - sp.left, h = sp.bottom - sp.top;
            if (w <= 0 || h <= 0) continue;
            SpoolFormat(r, "\x1b*p%dx%dY", {sp.left + originX, sp.top + originY});
            SpoolFormat(r, "\x1b*r%dt%dS\x1b*r1A", {h, w});
            SendColourRows(r, h, static_cast<size_t>(w) * 3, [&](LONG k, uint8_t* out) {
                const auto* line = static_cast<const uint8_t*>(picture->pvScan0) + static_cast<ptrdiff_t>(sp.top - sbox.top + k) * picture->lDelta;
                std::memcpy(out, line + static_cast<size_t>(sp.left - sbox.left) * 3, static_cast<size_t>(w) * 3);
            });
            SpoolWrite(r, "\x1b*rC");
        }
        EngUnlockSurface(picture);
        EngDeleteSurface(handle);
    }
    SpoolWrite(r, "\x1b*v0n0O\x1b*l252O\x1b&f1S");
    r.ropCache = 252;
    r.gl.paletteSaved = false;
    return r.jobState >= kJobOpen;
}

// The opening of every transfer: PCL, the raster's indices black and white
// whatever palette a colour fill or image left selected, the brush as the
// pattern for the operations that use one, and an opaque source. False when
// the brush paints nothing (then nothing more is sent).
bool EnterTransfer(DeviceRecord& r, const Gl2Transfer& t) {
    SetGlMode(r, false);
    if (ColourAsked(r)) {
        const uint32_t blackAndWhite[2] = {kWhite, 0};
        SelectPalette(r, 3, blackAndWhite, false, true, 204);
    } else if (r.colour) {
        ResetPclColor(r);
    }
    if (NeedsPattern(t.rop3)) {
        RealizedBrush solid;
        const RealizedBrush* brush = Gl2ResolveBrush(r, t.brush, solid);
        if (!brush) return false;
        SelectPclPattern(r, *brush, true);
    }
    SpoolWrite(r, "\x1b*v1N");
    return true;
}

// A black-and-white source copied pixel for pixel needs no halftoning: its
// rows go to the printer as they are, one bit a pixel. The two source
// colours must be black and white (either order); `invert` is set when
// source bit 0 is the black one (PCL raster inks its 1 bits, so rows are inverted).
bool DirectOneBit(const DeviceRecord& r, const Gl2Transfer& t, const SURFOBJ* src, bool& invert) {
    if (src->iBitmapFormat != BMF_1BPP || PageIsMapped(r) || ColourAsked(r)) return false;
    if (t.clip && t.clip->iDComplexity != DC_TRIVIAL) return false;
    const RECTL& d = t.target;
    const RECTL& f = t.from;
    if (d.right <= d.left || d.bottom <= d.top) return false;  // mirrored: the engine's stretch
    if (f.left < 0 || f.top < 0 || f.right > src->sizlBitmap.cx || f.bottom > src->sizlBitmap.cy) return false;
    if (f.right - f.left != d.right - d.left || f.bottom - f.top != d.bottom - d.top) return false;
    const uint32_t zero = (t.translation ? XLATEOBJ_iXlate(t.translation, 0) : 0x000000) & 0xFFFFFF;
    const uint32_t one = (t.translation ? XLATEOBJ_iXlate(t.translation, 1) : 0xFFFFFF) & 0xFFFFFF;
    if (zero == 0 && one == 0xFFFFFF) {
        invert = true;
        return true;
    }
    if (zero == 0xFFFFFF && one == 0) {
        invert = false;
        return true;
    }
    return false;
}

// The source's rows as PCL raster at the target: rows of three bytes or more
// run-length coded, shorter ones as they are.
void SendDirectOneBit(DeviceRecord& r, const Gl2Transfer& t, const SURFOBJ* src, bool invert) {
    const RECTL& d = t.target;
    const LONG w = d.right - d.left, h = d.bottom - d.top;
    const size_t bytes = (static_cast<size_t>(w) + 7) / 8;
    SpoolFormat(r, "\x1b&f0S\x1b*v1O\x1b*l%dO\x1b*p%dx%dY\x1b*r0f%ds1A",
                {static_cast<uint32_t>(t.rop3), d.left + RasterLeft(r), d.top, static_cast<int32_t>(w)});
    const bool packed = bytes >= 3;
    if (packed) SpoolWrite(r, "\x1b*b2M");
    std::vector<uint8_t> row(bytes), coded(static_cast<size_t>(WorstCaseRow(static_cast<int32_t>(bytes))) + 2);
    const size_t sourceBytes = (static_cast<size_t>(src->sizlBitmap.cx) + 7) / 8;
    for (LONG k = 0; k < h; ++k) {
        const auto* line = static_cast<const uint8_t*>(src->pvScan0) + static_cast<ptrdiff_t>(t.from.top + k) * src->lDelta;
        CopyRowBits(line, sourceBytes, static_cast<size_t>(t.from.left), static_cast<size_t>(w), row.data());
        if (invert) {
            for (uint8_t& b : row) b = static_cast<uint8_t>(~b);
            if (w % 8) row.back() &= static_cast<uint8_t>(0xFF00 >> (w % 8));
        }
        std::span<const uint8_t> data(row);
        if (packed) {
            const int32_t n = PackBits(row, coded);
            if (n >= 0) data = std::span<const uint8_t>(coded.data(), static_cast<size_t>(n));
        }
        SpoolFormat(r, "\x1b*b%dW", {static_cast<int32_t>(data.size())});
        SpoolWrite(r, data.data(), static_cast<int32_t>(data.size()));
    }
    SpoolWrite(r, "\x1b*rC\x1b*v0n0O\x1b*l252O\x1b&f1S");
}

}  // namespace

BOOL Gl2SourceBlt(DeviceRecord& r, const Gl2Transfer& t) {
    SURFOBJ* src = t.source;
    if (src && src->iType == STYPE_BITMAP && (src->iBitmapFormat < BMF_1BPP || src->iBitmapFormat > BMF_32BPP)) {
        SetLastError(kCompressedSource);
        return FALSE;
    }
    if (!src || src->iType != STYPE_BITMAP || !src->pvScan0) {
        // The printer's own surface holds nothing to copy: the area is left white.
        return Gl2FillBlt(r, t.clip, Ordered(t.target), nullptr, 0xFFFF);
    }
    const uint8_t rop3 = t.rop3;
    bool invert = false;
    if (DirectOneBit(r, t, src, invert)) {
        if (!EnterTransfer(r, t)) return TRUE;  // no brush: nothing is painted
        SendDirectOneBit(r, t, src, invert);
        r.ropCache = 252;
        r.gl.paletteSaved = false;
        return r.jobState >= kJobOpen;
    }
    const RECTL target = Ordered(t.target);
    const std::vector<RECTL> parts = VisibleParts(r, t.clip, target);
    if (parts.empty()) return TRUE;

    // The source rectangle, cut to the source bitmap.
    RECTL from = t.from;
    if (from.right > src->sizlBitmap.cx) from.right = src->sizlBitmap.cx;
    if (from.bottom > src->sizlBitmap.cy) from.bottom = src->sizlBitmap.cy;
    if (from.left < 0) from.left = 0;
    if (from.top < 0) from.top = 0;
    if (Empty(from)) return TRUE;

    const Scale scale = PageScale(r);
    const int32_t originX = (r.currentCell && PageIsMapped(r) ? static_cast<int32_t>(r.currentCell->left) : 0) + RasterLeft(r);
    const int32_t originY = r.currentCell && PageIsMapped(r) ? static_cast<int32_t>(r.currentCell->top) : 0;
    const bool colourPage = ColourAsked(r);
    if (colourPage && (r.modelFlags & 0x20) && !BlackAndWhiteCopy(src, t.translation, rop3))
        return ColourImage(r, t, target, from, parts, scale, originX, originY);

    // The picture covers the visible parts only, on the sheet's scale.
    RECTL box = parts.front();
    for (const RECTL& p : parts)
        box = {std::min(box.left, p.left), std::min(box.top, p.top), std::max(box.right, p.right), std::max(box.bottom, p.bottom)};
    const RECTL sbox = scale.Of(box);
    OneBitPicture picture(sbox.right - sbox.left, sbox.bottom - sbox.top);
    SURFOBJ* so = picture.Surface();
    if (!so) return FALSE;
    // The target in the picture's pixels, mirrored as the caller gave it.
    const RECTL st = scale.Of(t.target);
    RECTL into{st.left - sbox.left, st.top - sbox.top, st.right - sbox.left, st.bottom - sbox.top};
    // The engine halftones the source into the picture, its cells in the
    // page's phase: grey and colour pictures keep their tone on a printer
    // of black dots, black and white ones their exact bits.
    POINTL ht{t.halftoneOrigin.x - sbox.left, t.halftoneOrigin.y - sbox.top};
    const BOOL drawn = EngStretchBlt(so, src, nullptr, nullptr, t.translation, nullptr, &ht, &into, &from, nullptr, HALFTONE);
    if (!drawn) return FALSE;

    // The transfer sequence: PCL, source and pattern opaque, the logical
    // operation, the cursor kept; one raster per visible part; the
    // printer's defaults again.
    if (!EnterTransfer(r, t)) return TRUE;  // no brush: nothing is painted
    SpoolFormat(r, "\x1b&f0S\x1b*v1O\x1b*l%dO\x1b*r0F", {static_cast<uint32_t>(rop3)});
    for (const RECTL& p : parts) {
        const RECTL sp = scale.Of(p);
        const RECTL inPicture{sp.left - sbox.left, sp.top - sbox.top, sp.right - sbox.left, sp.bottom - sbox.top};
        if (Empty(inPicture)) continue;
        SendPart(r, so, inPicture, sp.left + originX, sp.top + originY);
    }
    SpoolWrite(r, "\x1b*rC\x1b*v0n0O\x1b*l252O\x1b&f1S");
    r.ropCache = 252;
    r.gl.paletteSaved = false;  // the pattern is transparent again
    return r.jobState >= kJobOpen;
}

}  // namespace pclrend
