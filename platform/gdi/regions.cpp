// The region calls on the engine's regions (rectangles, sorted).
#include "gdi/regions.h"

#include "base/error.h"
#include "gdi/engine.h"

namespace {

using zq::gdi::Region;
using zq::gdi::RegionObject;

RegionObject* RegionOf(HRGN h) {
    auto* r = zq::gdi::ObjectAs<RegionObject>(h);
    if (!r) SetLastError(ERROR_INVALID_HANDLE);
    return r;
}

int Complexity(const Region& r) { return r.Empty() ? NULLREGION : r.IsRect() ? SIMPLEREGION : COMPLEXREGION; }

RECT ToRect(const RECTL& r) { return {r.left, r.top, r.right, r.bottom}; }

}  // namespace

namespace zq::gdi {

Region RegionFrame(const Region& area, LONG w, LONG h) {
    // The region less the region shrunk by the frame's size: what stays
    // inside it when moved by (±w, ±h).
    Region inner = area;
    using Step = std::pair<LONG, LONG>;
    for (const auto& [dx, dy] : {Step{w, 0}, Step{-w, 0}, Step{0, h}, Step{0, -h}})
        inner = inner.Intersect(area.Offset(dx, dy));
    return area.Subtract(inner);
}

}  // namespace zq::gdi

extern "C" {

HRGN CreateRectRgnIndirect(const RECT* rect) {
    if (!rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateRectRgn(rect->left, rect->top, rect->right, rect->bottom);
}

BOOL SetRectRgn(HRGN region, int left, int top, int right, int bottom) {
    RegionObject* r = RegionOf(region);
    if (!r) return FALSE;
    r->region = Region(zq::gdi::OrderRect(RECTL{left, top, right, bottom}));
    return TRUE;
}

int GetRgnBox(HRGN region, RECT* box) {
    RegionObject* r = RegionOf(region);
    if (!r || !box) return ERROR_REGION;
    *box = r->region.Empty() ? RECT{0, 0, 0, 0} : ToRect(r->region.Bounds());
    return Complexity(r->region);
}

int OffsetRgn(HRGN region, int dx, int dy) {
    RegionObject* r = RegionOf(region);
    if (!r) return ERROR_REGION;
    r->region = r->region.Offset(dx, dy);
    return Complexity(r->region);
}

BOOL PtInRegion(HRGN region, int x, int y) {
    RegionObject* r = RegionOf(region);
    return r && r->region.Contains(x, y);
}

BOOL RectInRegion(HRGN region, const RECT* rect) {
    RegionObject* r = RegionOf(region);
    if (!r || !rect) return FALSE;
    const RECTL box = zq::gdi::OrderRect(RECTL{rect->left, rect->top, rect->right, rect->bottom});
    return !r->region.Intersect(Region(box)).Empty();
}

BOOL EqualRgn(HRGN a, HRGN b) {
    RegionObject* ra = RegionOf(a);
    RegionObject* rb = RegionOf(b);
    return ra && rb && ra->region == rb->region;
}

BOOL FillRgn(HDC hdc, HRGN region, HBRUSH brush) {
    RegionObject* r = RegionOf(region);
    if (!r || !hdc || !brush) return FALSE;
    for (const RECTL& piece : r->region.Rects()) {
        const RECT box = ToRect(piece);
        if (!FillRect(hdc, &box, brush)) return FALSE;
    }
    return TRUE;
}

BOOL FrameRgn(HDC hdc, HRGN region, HBRUSH brush, int width, int height) {
    RegionObject* r = RegionOf(region);
    if (!r || !hdc || !brush || width <= 0 || height <= 0) return FALSE;
    const Region frame = zq::gdi::RegionFrame(r->region, width, height);
    for (const RECTL& piece : frame.Rects()) {
        const RECT box = ToRect(piece);
        if (!FillRect(hdc, &box, brush)) return FALSE;
    }
    return TRUE;
}

BOOL InvertRgn(HDC hdc, HRGN region) {
    RegionObject* r = RegionOf(region);
    if (!r || !hdc) return FALSE;
    for (const RECTL& piece : r->region.Rects())
        if (!PatBlt(hdc, piece.left, piece.top, piece.right - piece.left, piece.bottom - piece.top, DSTINVERT))
            return FALSE;
    return TRUE;
}

}  // extern "C"
