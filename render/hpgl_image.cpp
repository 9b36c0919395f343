// Bit-block transfers that read a source on a PCL 5 page: the source is made
// a one-bit picture of the target by the engine (as it would draw it into a
// band), and sent as PCL raster once per clip rectangle, inside the transfer
// sequence that makes source and pattern opaque for the logical operation and
// puts the printer's defaults back afterwards.
#include <algorithm>
#include <cstring>
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
#include "render/xl_fill.h"

namespace pclrend {

namespace {

constexpr DWORD kCompressedSource = 2000;  // ERROR_INVALID_PIXEL_FORMAT

bool NeedsPattern(uint8_t rop3) { return ((rop3 >> 4) ^ rop3) & 0x0F; }

RECTL Ordered(const RECTL& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right), std::max(r.top, r.bottom)};
}

RECTL Intersect(const RECTL& a, const RECTL& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

bool Empty(const RECTL& r) { return r.left >= r.right || r.top >= r.bottom; }

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
    const RECTL area = Intersect(target, RECTL{0, 0, r.PageWidth(), r.PageHeight()});
    std::vector<RECTL> parts;
    const BYTE complexity = pco ? pco->iDComplexity : DC_TRIVIAL;
    if (complexity == DC_COMPLEX) {
        Gl2ForEachClipRectangle(pco, [&](const RECTL& c) {
            const RECTL part = Intersect(c, area);
            if (!Empty(part)) parts.push_back(part);
        });
    } else {
        const RECTL part = complexity == DC_RECT ? Intersect(pco->rclBounds, area) : area;
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

    // The picture covers the visible parts only, on the sheet's scale.
    const Scale scale = PageScale(r);
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
    SetGlMode(r, false);
    // The raster's indices are black and white, whatever palette a colour
    // fill left selected.
    if (r.colour) ResetPclColor(r);
    if (NeedsPattern(rop3)) {
        RealizedBrush solid;
        const RealizedBrush* brush = Gl2ResolveBrush(r, t.brush, solid);
        if (!brush) return TRUE;  // no brush: nothing is painted
        SelectPclPattern(r, *brush, true);
    }
    SpoolFormat(r, "\x1b*v1N\x1b&f0S\x1b*v1O\x1b*l%dO\x1b*r0F", {static_cast<uint32_t>(rop3)});
    const int32_t originX = (r.currentCell && PageIsMapped(r) ? static_cast<int32_t>(r.currentCell->left) : 0) + RasterLeft(r);
    const int32_t originY = r.currentCell && PageIsMapped(r) ? static_cast<int32_t>(r.currentCell->top) : 0;
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
