// Drawing records of the spool stream: the engine's paths, clips, solid
// brushes and pens, and pattern blits as metafile records inside the page,
// with object handles cached and state records written only on change.
#include <cstring>
#include <vector>

#include "base/error.h"
#include "render/driver.h"
#include "render/spool_stream.h"
#include "render/stream_draw.h"

namespace pclrend {

namespace vemf = zq::vemf;

namespace {

constexpr uint32_t kRop2Nop = 11;

void Value(DeviceRecord& r, uint32_t type, uint32_t value) {
    const vemf::ValueRecord rec{type, 12, value};
    StreamRecord(r, &rec, sizeof rec);
}
void Empty(DeviceRecord& r, uint32_t type) {
    const vemf::RecordHead rec{type, 8};
    StreamRecord(r, &rec, sizeof rec);
}
void Bounds(DeviceRecord& r, uint32_t type) {
    const vemf::BoundsRecord rec{type, 24, {0, 0, 0, 0}};
    StreamRecord(r, &rec, sizeof rec);
}
void Point(DeviceRecord& r, uint32_t type, int32_t x, int32_t y) {
    const vemf::PointRecord rec{type, 16, x, y};
    StreamRecord(r, &rec, sizeof rec);
}

// A state record, only when the page's state differs.
void State(DeviceRecord& r, StateIndex which, uint32_t type, uint32_t value) {
    StreamState& s = *r.stream;
    if (s.dcState[which] == value) return;
    Value(r, type, value);
    s.dcState[which] = value;
}

void Poly(DeviceRecord& r, uint32_t type, const POINTFIX* p, size_t n) {
    std::vector<uint8_t> rec(sizeof(vemf::PolyHead) + 8 * n);
    vemf::PolyHead head{type, static_cast<uint32_t>(rec.size()), {0, 0, 0, 0}, static_cast<uint32_t>(n)};
    std::memcpy(rec.data(), &head, sizeof head);
    for (size_t i = 0; i < n; ++i) {
        // 28.4 fixed point to pixels, rounded towards minus infinity.
        const int32_t xy[2] = {p[i].x >> 4, p[i].y >> 4};
        std::memcpy(rec.data() + sizeof head + 8 * i, xy, 8);
    }
    StreamRecord(r, rec.data(), rec.size());
}

// The path as BEGINPATH ... ENDPATH; false (error 87) for a Bézier run
// whose count is not a multiple of three.
bool EmitPath(DeviceRecord& r, PATHOBJ* ppo) {
    Empty(r, vemf::kBeginPath);
    PATHOBJ_vEnumStart(ppo);
    PATHDATA pd{};
    BOOL more;
    do {
        more = PATHOBJ_bEnum(ppo, &pd);
        if (!pd.pptfx) continue;
        const POINTFIX* p = pd.pptfx;
        size_t n = pd.count;
        if ((pd.flags & PD_BEGINSUBPATH) && n) {
            Point(r, vemf::kMoveTo, p->x >> 4, p->y >> 4);
            ++p;
            --n;
        }
        if (pd.flags & PD_BEZIERS) {
            if (n % 3) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            Poly(r, vemf::kPolyBezierTo, p, n);
        } else {
            Poly(r, vemf::kPolylineTo, p, n);
        }
        if ((pd.flags & PD_ENDSUBPATH) && (pd.flags & PD_CLOSEFIGURE)) Empty(r, vemf::kCloseFigure);
    } while (more);
    Empty(r, vemf::kEndPath);
    return true;
}

// Finds (key1, key2) in a cache; on a miss makes room (deleting the oldest
// entry's object) and returns false with `handle` the new entry's.
bool CacheLookup(DeviceRecord& r, ObjectCache& c, uint32_t key1, uint32_t key2, uint32_t& handle) {
    StreamState& s = *r.stream;
    for (size_t i = 0; i < c.count; ++i) {
        CacheEntry& e = c.entries[i];
        if (e.key1 == key1 && e.key2 == key2) {
            for (size_t j = 0; j < c.count; ++j)
                if (c.entries[j].age < e.age) ++c.entries[j].age;
            e.age = 1;
            handle = e.handle;
            return true;
        }
    }
    size_t slot = c.count;
    if (c.count == c.entries.size()) {
        for (size_t i = 0; i < c.count; ++i)
            if (c.entries[i].age == c.entries.size()) slot = i;
        Value(r, vemf::kDeleteObject, c.entries[slot].handle);
        if (s.currentBrush == c.entries[slot].handle) s.currentBrush = 0;
        if (s.currentPen == c.entries[slot].handle) s.currentPen = 0;
    } else {
        ++c.count;
    }
    for (size_t i = 0; i < c.count; ++i)
        if (i != slot) ++c.entries[i].age;
    handle = s.nextObjectHandle++;
    c.entries[slot] = {handle, key1, key2, 1};
    return false;
}

// Selects a solid brush of `colour` (0x00BBGGRR); false for brushes the
// stream cannot carry yet (patterns and hatches).
bool SelectBrush(DeviceRecord& r, BRUSHOBJ* pbo) {
    if (!pbo || pbo->iSolidColor == BR_NOT_SOLID) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    StreamState& s = *r.stream;
    const uint32_t colour = pbo->iSolidColor & 0x00FFFFFF;
    uint32_t handle;
    if (!CacheLookup(r, s.caches[1], 0, colour, handle)) {
        const vemf::CreateBrush rec{vemf::kCreateBrush, 24, handle, 0, colour, 0};
        StreamRecord(r, &rec, sizeof rec);
        StreamColourFlags(s, colour);
    }
    Value(r, vemf::kSelectObject, handle);
    s.currentBrush = handle;
    return true;
}

bool SelectPen(DeviceRecord& r, BRUSHOBJ* pbo, const LINEATTRS* la) {
    if (!pbo || pbo->iSolidColor == BR_NOT_SOLID) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    StreamState& s = *r.stream;
    const uint32_t colour = pbo->iSolidColor & 0x00FFFFFF;
    const int32_t width = la && (la->fl & LA_GEOMETRIC) ? static_cast<int32_t>(la->elWidth.e) : 1;
    uint32_t handle;
    if (!CacheLookup(r, s.caches[2], static_cast<uint32_t>(width), colour, handle)) {
        const vemf::CreatePen rec{vemf::kCreatePen, 28, handle, 0, width, 0, colour};
        StreamRecord(r, &rec, sizeof rec);
        StreamColourFlags(s, colour);
    }
    Value(r, vemf::kSelectObject, handle);
    s.currentPen = handle;
    s.geometricPenHandle = -1;
    return true;
}

bool Clip(DeviceRecord& r, CLIPOBJ* pco) {
    StreamState& s = *r.stream;
    if (!pco || pco->iDComplexity == DC_TRIVIAL) {
        if (s.clipSet) {
            const vemf::ClipReset rec{vemf::kExtSelectClipRgn, 20, 0, 5, 0};
            StreamRecord(r, &rec, sizeof rec);
        }
        s.clipSet = false;
        return true;
    }
    if (pco->iDComplexity == DC_RECT) {
        const RECTL& b = pco->rclBounds;
        if (s.clipSet && s.clipRect[0] == b.left && s.clipRect[1] == b.top && s.clipRect[2] == b.right &&
            s.clipRect[3] == b.bottom)
            return true;
        Empty(r, vemf::kBeginPath);
        Point(r, vemf::kMoveTo, b.left, b.top);
        const POINTFIX corners[3] = {{b.left * 16, b.bottom * 16}, {b.right * 16, b.bottom * 16}, {b.right * 16, b.top * 16}};
        Poly(r, vemf::kPolylineTo, corners, 3);
        Empty(r, vemf::kCloseFigure);
        Empty(r, vemf::kEndPath);
        Value(r, vemf::kSelectClipPath, 5);
        s.clipSet = true;
        s.clipRect[0] = b.left, s.clipRect[1] = b.top, s.clipRect[2] = b.right, s.clipRect[3] = b.bottom;
        return true;
    }
    PATHOBJ* path = CLIPOBJ_ppoGetPath(pco);
    if (!path) return false;
    State(r, kFillMode, vemf::kSetPolyFillMode, 1);
    const bool ok = EmitPath(r, path);
    EngDeletePath(path);
    if (!ok) return false;
    Value(r, vemf::kSelectClipPath, 5);
    // A complex clip is written every time: the rectangle cache no longer holds.
    s.clipSet = true;
    s.clipRect[0] = s.clipRect[2] = INT32_MIN;
    return true;
}

// Opens the page for drawing that comes between a drawing request and its
// closing escape; false when there is no page to draw into.
bool PageReady(DeviceRecord& r) {
    if (r.jobState & kJobPageOpen) return true;
    if (r.stream->drawRequestOpen) return StreamStartPage(r) != FALSE;
    return r.jobState >= kJobOpen;
}

void Origin(DeviceRecord& r, const POINTL* org) {
    const POINTL o = org ? *org : POINTL{0, 0};
    if (o.x || o.y || !org) Point(r, vemf::kSetBrushOrg, o.x, o.y);
}

}  // namespace

BOOL StreamStrokeFill(DeviceRecord& r, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pboStroke, const LINEATTRS* la,
                      BRUSHOBJ* pboFill, const POINTL* org, MIX mix, FLONG options) {
    if (!ppo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!PageReady(r)) return FALSE;
    const uint32_t fore = mix & 0xFF, back = (mix >> 8) & 0xFF;
    State(r, kBkMode, vemf::kSetBkMode, back == kRop2Nop ? 1 : 2);
    State(r, kRop2, vemf::kSetRop2, fore);
    Origin(r, org);
    if (pboStroke && !SelectPen(r, pboStroke, la)) return FALSE;
    if (pboFill) {
        State(r, kFillMode, vemf::kSetPolyFillMode, (options & FP_WINDINGMODE) ? 2 : 1);
        if (!SelectBrush(r, pboFill)) return FALSE;
    }
    if (!Clip(r, pco) || !EmitPath(r, ppo)) return FALSE;
    Bounds(r, pboStroke && pboFill ? vemf::kStrokeAndFillPath : pboFill ? vemf::kFillPath : vemf::kStrokePath);
    StreamState& s = *r.stream;
    s.pageFlags |= 0x20;
    if (fore != 1 && fore != 11 && fore != 13 && fore != 16) s.pageFlags |= 0x80;
    return TRUE;
}

BOOL StreamPatternBlit(DeviceRecord& r, CLIPOBJ* pco, const RECTL& dest, BRUSHOBJ* pbo, const POINTL* org, ROP4 rop4) {
    if (!PageReady(r)) return FALSE;
    const uint8_t rop3 = static_cast<uint8_t>(rop4);
    const bool usesPattern = ((rop3 >> 4) & 0x0F) != (rop3 & 0x0F);
    if (usesPattern) {
        if (!pbo) return FALSE;
        State(r, kBkMode, vemf::kSetBkMode, ((rop4 >> 8) & 0xFF) == 170 ? 1 : 2);
        Origin(r, org);
        if (!SelectBrush(r, pbo)) return FALSE;
    }
    if (!Clip(r, pco)) return FALSE;
    const vemf::PatternBlit rec{vemf::kPatternBlit, 44, {0, 0, 0, 0}, dest.left, dest.top, dest.right - dest.left,
                                dest.bottom - dest.top, rop3};
    StreamRecord(r, &rec, sizeof rec);
    StreamState& s = *r.stream;
    s.pageFlags |= 0x20;
    if (rop3 != 0 && rop3 != 170 && rop3 != 204 && rop3 != 240 && rop3 != 255) s.pageFlags |= 0x80;
    return TRUE;
}

}  // namespace pclrend
