// Drawing records of the spool stream: the engine's paths, clips, brushes,
// pens, blits, images and text as metafile records inside the page, with
// object handles cached, glyphs defined once per font and state records
// written only on change.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <numbers>
#include <optional>
#include <span>
#include <vector>

#include "base/error.h"
#include "gdi/ddi_font.h"
#include "render/brush.h"
#include "render/driver.h"
#include "render/halftone.h"
#include "render/xl_fill.h"
#include "render/spool_stream.h"
#include "render/stream_draw.h"

namespace pclrend {

namespace vemf = zq::vemf;

extern "C" PVOID DrvQueryFontTree(DHPDEV, ULONG_PTR, ULONG, ULONG, ULONG_PTR*);
extern "C" void DrvFree(PVOID, ULONG_PTR);

namespace {

constexpr uint32_t kRop2Nop = 11;
constexpr LONG kWeightNormal = 400, kWeightBold = 700;  // font weights of a logical font
constexpr DWORD kErrorUnknownFormat = 2000;  // a compressed or unknown bitmap format
constexpr size_t kMaxStyleEntries = 16;  // dash lengths a pen's style array holds
constexpr double kCellHeightWorth = 0.01;  // em rounding (of the em) beyond which a cell height is tried
constexpr size_t kMaxImageBytes = size_t{1} << 30;  // keeps every record size within 32 bits

void Value(DeviceRecord& r, uint32_t type, uint32_t value) {
    const vemf::ValueRecord rec{type, 12, value};
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

// Records made before they are written: a path is complete (or refused)
// before any of it reaches the stream, and a clip can be compared with the
// one in force.
struct Records {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> sizes;
    void Add(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
        sizes.push_back(static_cast<uint32_t>(n));
    }
    void Empty(uint32_t type) {
        const vemf::RecordHead rec{type, 8};
        Add(&rec, sizeof rec);
    }
    void Point(uint32_t type, int32_t x, int32_t y) {
        const vemf::PointRecord rec{type, 16, x, y};
        Add(&rec, sizeof rec);
    }
    // Added to every point: where a glyph's outline stands on the page.
    int64_t shiftX = 0, shiftY = 0;
    // 28.4 fixed point to the nearest whole pixel, where the engine's own
    // rasteriser puts edges and lines: rounding down (towards minus
    // infinity) moved every edge that fell in a pixel's right or lower half
    // by a pixel.
    int32_t Whole(FIX v, int64_t shift) const {
        return static_cast<int32_t>(std::clamp<int64_t>((v + shift + 8) >> 4, INT32_MIN, INT32_MAX));
    }
    void Poly(uint32_t type, const POINTFIX* p, size_t n) {
        const vemf::PolyHead head{type, static_cast<uint32_t>(sizeof(vemf::PolyHead) + 8 * n), {0, 0, 0, 0},
                                  static_cast<uint32_t>(n)};
        const auto* h = reinterpret_cast<const uint8_t*>(&head);
        bytes.insert(bytes.end(), h, h + sizeof head);
        for (size_t i = 0; i < n; ++i) {
            const int32_t xy[2] = {Whole(p[i].x, shiftX), Whole(p[i].y, shiftY)};
            const auto* b = reinterpret_cast<const uint8_t*>(xy);
            bytes.insert(bytes.end(), b, b + 8);
        }
        sizes.push_back(head.size);
    }
};

void Commit(DeviceRecord& r, const Records& g) {
    size_t at = 0;
    for (uint32_t n : g.sizes) {
        StreamRecord(r, g.bytes.data() + at, n);
        at += n;
    }
}

// The runs of a path; false (error 87) for a Bézier run whose count is not
// a multiple of three.
bool GatherRuns(Records& g, PATHOBJ* ppo) {
    PATHOBJ_vEnumStart(ppo);
    PATHDATA pd{};
    BOOL more;
    do {
        more = PATHOBJ_bEnum(ppo, &pd);
        if (!pd.pptfx) continue;
        const POINTFIX* p = pd.pptfx;
        size_t n = pd.count;
        if ((pd.flags & PD_BEGINSUBPATH) && n) {
            g.Point(vemf::kMoveTo, g.Whole(p->x, g.shiftX), g.Whole(p->y, g.shiftY));
            ++p;
            --n;
        }
        if (pd.flags & PD_BEZIERS) {
            if (n % 3) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            g.Poly(vemf::kPolyBezierTo, p, n);
        } else {
            g.Poly(vemf::kPolylineTo, p, n);
        }
        if ((pd.flags & PD_ENDSUBPATH) && (pd.flags & PD_CLOSEFIGURE)) g.Empty(vemf::kCloseFigure);
    } while (more);
    return true;
}

// The path as BEGINPATH ... ENDPATH; false (error 87) as for its runs.
bool GatherPath(Records& g, PATHOBJ* ppo) {
    g.Empty(vemf::kBeginPath);
    if (!GatherRuns(g, ppo)) return false;
    g.Empty(vemf::kEndPath);
    return true;
}

// The outline of a region given as rectangles in bands, top down, as one
// path. A rectangle that overlaps one of the band right above it by at
// least a pixel continues that rectangle's figure, so a round or slanted
// region is a few staircase figures instead of a figure per band (a quarter
// of the bytes); consecutive spans overlapping keeps each figure a simple
// polygon. The figures cover the region's pixels exactly and never overlap,
// so they clip the same under either fill rule. A figure runs from its top
// left down its left side and up its right side: a single rectangle is
// (left, top), then (left, bottom), (right, bottom), (right, top).
void RegionPath(Records& g, std::span<const RECTL> rects) {
    std::vector<std::vector<RECTL>> figures;
    // The figures a rectangle may continue, by where they end; those ending
    // above the band being read are finished.
    std::map<LONG, std::vector<size_t>> open;
    for (const RECTL& r : rects) {
        while (!open.empty() && open.begin()->first < r.top) open.erase(open.begin());
        size_t figure = figures.size();
        if (const auto ending = open.find(r.top); ending != open.end()) {
            auto& candidates = ending->second;
            const auto it = std::find_if(candidates.begin(), candidates.end(), [&](size_t f) {
                const RECTL& last = figures[f].back();
                return last.left < r.right && r.left < last.right;
            });
            if (it != candidates.end()) {
                figure = *it;
                candidates.erase(it);
            }
        }
        if (figure == figures.size()) figures.emplace_back();
        figures[figure].push_back(r);
        open[r.bottom].push_back(figure);
    }
    g.Empty(vemf::kBeginPath);
    std::vector<POINTL> corners;
    std::vector<POINTFIX> fixed;
    for (const auto& spans : figures) {
        // Corners only: repeated points and points between two in line go.
        corners.clear();
        auto add = [&](LONG x, LONG y) {
            if (!corners.empty() && corners.back().x == x && corners.back().y == y) return;
            if (corners.size() >= 2) {
                const POINTL& a = corners[corners.size() - 2];
                const POINTL& b = corners.back();
                if ((a.x == b.x && b.x == x) || (a.y == b.y && b.y == y)) corners.pop_back();
            }
            corners.push_back({x, y});
        };
        for (const RECTL& s : spans) add(s.left, s.top), add(s.left, s.bottom);
        for (auto s = spans.rbegin(); s != spans.rend(); ++s) add(s->right, s->bottom), add(s->right, s->top);
        fixed.clear();
        for (size_t i = 1; i < corners.size(); ++i) fixed.push_back({corners[i].x * 16, corners[i].y * 16});
        g.Point(vemf::kMoveTo, corners.front().x, corners.front().y);
        g.Poly(vemf::kPolylineTo, fixed.data(), fixed.size());
        g.Empty(vemf::kCloseFigure);
    }
    g.Empty(vemf::kEndPath);
}

// A complex clip's region, its rectangles within the clip's bounds in bands
// top down; false when the clip cannot be enumerated.
bool ClipRectangles(CLIPOBJ* pco, std::vector<RECTL>& rects) {
    if (CLIPOBJ_cEnumStart(pco, FALSE, CT_RECTANGLES, CD_RIGHTDOWN, 0) == 0xFFFFFFFF) return false;
    struct {
        ULONG c;
        RECTL arcl[64];
    } batch;
    static_assert(offsetof(decltype(batch), arcl) == offsetof(ENUMRECTS, arcl));
    const RECTL& b = pco->rclBounds;
    BOOL more;
    do {
        batch.c = 0;
        more = CLIPOBJ_bEnum(pco, sizeof batch, reinterpret_cast<ULONG*>(&batch));
        for (ULONG i = 0; i < std::min<ULONG>(batch.c, 64); ++i) {
            const RECTL& a = batch.arcl[i];
            const RECTL r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                          std::min(a.bottom, b.bottom)};
            if (r.left < r.right && r.top < r.bottom) rects.push_back(r);
        }
    } while (more);
    std::stable_sort(rects.begin(), rects.end(),
                     [](const RECTL& x, const RECTL& y) { return x.top != y.top ? x.top < y.top : x.left < y.left; });
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

uint32_t Swapped(uint32_t c) { return ((c >> 16) & 0xFF) | (c & 0xFF00) | (c & 0xFF) << 16; }

// Index i of an indexed source as 0x00BBGGRR, through the translation.
uint32_t IndexColour(XLATEOBJ* pxlo, uint32_t i) {
    if (!pxlo) return i ? 0xFFFFFF : 0;
    const ULONG t = XLATEOBJ_iXlate(pxlo, i);
    return pxlo->iDstType == PAL_BGR ? Swapped(t) : t & 0xFFFFFF;
}

void PutQuad(uint8_t* out, uint32_t colour) {  // blue, green, red, 0
    out[0] = static_cast<uint8_t>(colour >> 16);
    out[1] = static_cast<uint8_t>(colour >> 8);
    out[2] = static_cast<uint8_t>(colour);
    out[3] = 0;
}

// A bitmap as the stream carries it: its header, colour table and bits.
struct DibImage {
    vemf::BitmapHeader header{};
    std::vector<uint8_t> colours;  // blue, green, red, 0 per entry
    std::vector<uint8_t> bits;
};

// The `area` of a source bitmap (within it) as a bottom-up DIB: 1, 4 and 8
// bits keep their indices behind the translated colour table, deeper
// formats become 24 bits. `flipX`/`flipY` mirror the image. The page flags
// of its colours are raised. False (error 2000) for a format the stream
// cannot carry.
bool SourceImage(DeviceRecord& r, SURFOBJ* src, XLATEOBJ* pxlo, const RECTL& area, bool flipX, bool flipY,
                 DibImage& out) {
    const ULONG format = src ? src->iBitmapFormat : 0;
    const uint32_t depth = src && src->pvScan0 ? BitsPerPixel(format) : 0;
    if (!depth) {
        SetLastError(kErrorUnknownFormat);
        return false;
    }
    StreamState& s = *r.stream;
    const uint32_t w = static_cast<uint32_t>(area.right - area.left), h = static_cast<uint32_t>(area.bottom - area.top);
    const uint32_t outDepth = depth <= 8 ? depth : 24;
    const size_t rowBytes = (size_t{w} * outDepth + 31) / 32 * 4;
    if (rowBytes * h > kMaxImageBytes) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    out.header = {40, static_cast<int32_t>(w), static_cast<int32_t>(h), 1, static_cast<uint16_t>(outDepth), 0,
                  static_cast<uint32_t>(rowBytes * h), 0, 0, depth <= 8 ? 1u << depth : 0u, 0};
    out.colours.assign(depth <= 8 ? 4u << depth : 0u, 0);
    out.bits.assign(rowBytes * h, 0);
    if (depth <= 8) {
        for (uint32_t i = 0; i < (1u << depth); ++i) {
            const uint32_t c = IndexColour(pxlo, i);
            PutQuad(out.colours.data() + 4 * i, c);
            StreamColourFlags(s, c);
        }
        if (depth == 8) s.pageFlags |= 0x04;
    } else {
        s.pageFlags |= 0x0B;
    }
    const size_t srcRowBytes = static_cast<size_t>(std::abs(src->lDelta));
    for (uint32_t j = 0; j < h; ++j) {
        // Bottom-up: the last row of the image first.
        const LONG y = flipY ? area.top + static_cast<LONG>(j) : area.bottom - 1 - static_cast<LONG>(j);
        uint8_t* row = out.bits.data() + j * rowBytes;
        if (depth <= 8 && !flipX) {
            const auto* in = static_cast<const uint8_t*>(src->pvScan0) + static_cast<ptrdiff_t>(y) * src->lDelta;
            CopyRowBits(in, srcRowBytes, size_t(area.left) * depth, size_t{w} * depth, row);
            continue;
        }
        for (uint32_t i = 0; i < w; ++i) {
            const LONG x = flipX ? area.right - 1 - static_cast<LONG>(i) : area.left + static_cast<LONG>(i);
            const uint32_t p = PixelAt(src, x, y);
            if (depth <= 8) {
                const size_t bit = size_t{i} * depth;
                row[bit / 8] |= static_cast<uint8_t>(p << (8 - depth - bit % 8));
                continue;
            }
            const uint32_t rgb = DeepPixelToRgb(pxlo, format, p);
            row[3 * i] = static_cast<uint8_t>(rgb >> 16);
            row[3 * i + 1] = static_cast<uint8_t>(rgb >> 8);
            row[3 * i + 2] = static_cast<uint8_t>(rgb);
        }
    }
    return true;
}

// The colour of a pen or text brush: solid, or the colour a hatch or dither
// was realised with (black for patterns).
uint32_t BrushColour(BRUSHOBJ* pbo) {
    if (!pbo) return 0;
    if (pbo->iSolidColor != BR_NOT_SOLID) return pbo->iSolidColor & 0x00FFFFFF;
    const auto* rb = static_cast<const RealizedBrush*>(BRUSHOBJ_pvGetRbrush(pbo));
    if (!rb || rb->kind == kBrushPattern) return 0;
    return rb->colour[0] | rb->colour[1] << 8 | rb->colour[2] << 16;
}

// The realised pattern brush of the stream: the head, then the colour
// table (four zero bytes for 24 bits) and the rows, top row first.
const uint8_t* PatternTable(const RealizedBrush& rb) { return reinterpret_cast<const uint8_t*>(&rb) + kKeptBitsOffset; }
size_t PatternTableBytes(const RealizedBrush& rb) { return 4 * std::max<size_t>(rb.paletteCount, 1); }
size_t PatternRowBytes(const RealizedBrush& rb) { return (size_t{rb.width} * rb.format + 31) / 32 * 4; }

// Selects the brush: solid colours, hatches and patterns, each created
// once while it stays in the brush cache.
bool SelectBrush(DeviceRecord& r, BRUSHOBJ* pbo) {
    if (!pbo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    StreamState& s = *r.stream;
    const RealizedBrush* rb = nullptr;
    if (pbo->iSolidColor == BR_NOT_SOLID) {
        rb = static_cast<const RealizedBrush*>(BRUSHOBJ_pvGetRbrush(pbo));
        if (!rb) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
    }
    uint32_t handle;
    if (!rb || rb->kind == kBrushSolid) {
        const uint32_t colour = BrushColour(pbo);
        if (!CacheLookup(r, s.caches[1], 0, colour, handle)) {
            const vemf::CreateBrush rec{vemf::kCreateBrush, 24, handle, 0, colour, 0};
            StreamRecord(r, &rec, sizeof rec);
            StreamColourFlags(s, colour);
        }
    } else if (rb->kind == kBrushHatch) {
        const uint32_t fore = rb->colour[0] | rb->colour[1] << 8 | rb->colour[2] << 16;
        const uint32_t back = rb->backColour[0] | rb->backColour[1] << 8 | rb->backColour[2] << 16;
        State(r, kBkColour, vemf::kSetBkColor, back);
        if (!CacheLookup(r, s.caches[1], kBrushHatch, rb->ownerValue, handle)) {
            const vemf::CreateBrush rec{vemf::kCreateBrush, 24, handle, 2, fore, static_cast<uint32_t>(rb->brushKey - 512)};
            StreamRecord(r, &rec, sizeof rec);
            StreamColourFlags(s, fore);
            StreamColourFlags(s, back);
        }
    } else {
        if (!CacheLookup(r, s.caches[1], kBrushPattern, rb->ownerValue, handle)) {
            const size_t table = PatternTableBytes(*rb), bits = PatternRowBytes(*rb) * rb->height;
            std::vector<uint8_t> rec(sizeof(vemf::DibPatternBrush) + 40 + table + bits);
            const vemf::DibPatternBrush head{vemf::kCreateDibPatternBrush, static_cast<uint32_t>(rec.size()), handle, 0,
                                             32, static_cast<uint32_t>(40 + table),
                                             static_cast<uint32_t>(72 + table), static_cast<uint32_t>(bits)};
            // Rows top first: a negative height.
            const vemf::BitmapHeader header{40, static_cast<int32_t>(rb->width), -static_cast<int32_t>(rb->height), 1,
                                            static_cast<uint16_t>(rb->format), 0, static_cast<uint32_t>(bits), 0, 0,
                                            rb->paletteCount, 0};
            std::memcpy(rec.data(), &head, sizeof head);
            std::memcpy(rec.data() + 32, &header, 40);
            std::memcpy(rec.data() + 72, PatternTable(*rb), table + bits);
            StreamRecord(r, rec.data(), rec.size());
            if (rb->format == 24) s.pageFlags |= 0x0B;
            if (rb->format == 8) s.pageFlags |= 0x04;
            for (uint32_t i = 0; i < rb->paletteCount; ++i) {
                const uint8_t* q = PatternTable(*rb) + 4 * i;
                StreamColourFlags(s, q[2] | q[1] << 8 | q[0] << 16);
            }
        }
    }
    Value(r, vemf::kSelectObject, handle);
    s.currentBrush = handle;
    return true;
}

// Line width and dash lengths in device pixels: a geometric pen's are in
// world units, stretched by the transform's scale.
double PenScale(XFORMOBJ* pxo) {
    XFORML m{1, 0, 0, 1, 0, 0};
    if (!pxo || XFORMOBJ_iGetXform(pxo, &m) == GX_IDENTITY) return 1.0;
    const double det = std::fabs(double{m.eM11} * m.eM22 - double{m.eM12} * m.eM21);
    return std::isfinite(det) && det > 0 ? std::sqrt(det) : 1.0;
}

// The mapping's scale along a device direction: pixels a world unit of a
// length lying that way on the page.
double ScaleAlong(XFORMOBJ* pxo, double dx, double dy) {
    XFORML m{1, 0, 0, 1, 0, 0};
    if (!pxo || XFORMOBJ_iGetXform(pxo, &m) == GX_IDENTITY) return 1.0;
    const double det = double{m.eM11} * m.eM22 - double{m.eM12} * m.eM21;
    if (!std::isfinite(det) || det == 0) return PenScale(pxo);
    const double wx = (m.eM22 * dx - m.eM21 * dy) / det, wy = (m.eM11 * dy - m.eM12 * dx) / det;
    const double world = std::hypot(wx, wy);
    return world > 0 && std::isfinite(world) ? std::hypot(dx, dy) / world : PenScale(pxo);
}

// The one direction every segment of a path runs in (either way along it),
// as a device vector; none for a path that turns or has no length.
std::optional<POINTFIX> PathDirection(PATHOBJ* ppo) {
    std::optional<POINTFIX> along;
    bool straight = true;
    POINTFIX last{}, start{};
    auto segment = [&](POINTFIX a, POINTFIX b) {
        const int64_t dx = int64_t{b.x} - a.x, dy = int64_t{b.y} - a.y;
        if (!dx && !dy) return;
        if (!along) along = POINTFIX{static_cast<FIX>(dx), static_cast<FIX>(dy)};
        else if (dx * along->y != dy * along->x) straight = false;
    };
    PATHOBJ_vEnumStart(ppo);
    PATHDATA pd{};
    BOOL more;
    do {
        more = PATHOBJ_bEnum(ppo, &pd);
        if (!pd.pptfx) continue;
        for (ULONG i = 0; i < pd.count; ++i) {
            if (i == 0 && (pd.flags & PD_BEGINSUBPATH)) start = pd.pptfx[0];
            else segment(last, pd.pptfx[i]);
            last = pd.pptfx[i];
        }
        if ((pd.flags & PD_ENDSUBPATH) && (pd.flags & PD_CLOSEFIGURE)) segment(last, start);
    } while (more && straight);
    return straight ? along : std::nullopt;
}

uint32_t Pixels(double v) { return static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 1L << 24)); }

// A geometric pen's dash lengths in whole pixels. The engine dashes a line
// by fractional lengths; rounding each length on its own moves every later
// dash by the rounding of the pattern, which adds up along a long line (a
// 236.6-pixel pattern written as 237 puts the tenth dash 4 pixels late).
// Where the style array has room (an even count, at most 16 entries), the
// pattern is written several times over with each dash's end rounded from
// the fractional start, so that the repeated pattern, the unit the player
// repeats, is as near its true length as whole pixels allow.
std::vector<uint32_t> WholeDashes(const std::vector<double>& lengths) {
    const size_t n = lengths.size();
    double period = 0;
    for (double l : lengths) period += l;
    size_t repeats = 1;
    if (n % 2 == 0 && n > 0 && period > 0) {
        double best = std::fabs(std::round(period) - period);
        for (size_t k = 2; k * n <= kMaxStyleEntries; ++k) {
            const double drift = std::fabs(std::round(k * period) - k * period) / static_cast<double>(k);
            if (drift < best - 1e-9) best = drift, repeats = k;
        }
    }
    std::vector<uint32_t> dashes;
    double end = 0;
    int64_t placed = 0;
    for (size_t k = 0; k < repeats; ++k)
        for (double l : lengths) {
            end += l;
            const int64_t at = std::max<int64_t>(placed, std::llround(end));
            dashes.push_back(static_cast<uint32_t>(std::min<int64_t>(at - placed, 1 << 24)));
            placed = at;
        }
    return dashes;
}

// A wide, styled or geometric pen: record 95, created again only when it
// changed (the previous one deleted), with the miter limit it needs.
//
// The engine widens and dashes a geometric line in world units, so where
// the page is scaled unevenly a dash along x is longer or shorter than one
// along y; a pen of the stream has one length for both. A path that runs in
// one direction gets its dashes at the scale along it and its width at the
// scale across it (a long straight dashed line keeps its dashes in place);
// other paths the mean of the two.
bool SelectStyledPen(DeviceRecord& r, uint32_t colour, const LINEATTRS& la, XFORMOBJ* pxo,
                     std::optional<POINTFIX> direction) {
    StreamState& s = *r.stream;
    const bool geometric = la.fl & LA_GEOMETRIC;
    double scale = geometric ? PenScale(pxo) : 1.0, across = scale;
    if (geometric && direction) {
        scale = ScaleAlong(pxo, direction->x, direction->y);
        across = ScaleAlong(pxo, -static_cast<double>(direction->y), direction->x);
    }
    uint32_t style = 0, width = 1;
    if (geometric) {
        style = vemf::kPenGeometric;
        style |= la.iEndCap == ENDCAP_SQUARE ? vemf::kPenCapSquare : la.iEndCap == ENDCAP_BUTT ? vemf::kPenCapFlat : 0;
        style |= la.iJoin == JOIN_BEVEL ? vemf::kPenJoinBevel : la.iJoin == JOIN_MITER ? vemf::kPenJoinMiter : 0;
        width = std::max<uint32_t>(1, Pixels(double{la.elWidth.e} * across));
    }
    std::vector<uint32_t> dashes;
    if (la.fl & LA_ALTERNATE) {
        style |= vemf::kPenAlternate;
    } else if ((la.fl & LA_STYLED) && la.pstyle && la.cstyle) {
        style |= vemf::kPenUserStyle;
        const ULONG n = std::min<ULONG>(la.cstyle, kMaxStyleEntries);
        if (geometric) {
            std::vector<double> lengths;
            for (ULONG i = 0; i < n; ++i) lengths.push_back(std::max(0.0, double{la.pstyle[i].e} * scale));
            dashes = WholeDashes(lengths);
        } else {
            for (ULONG i = 0; i < n; ++i) dashes.push_back(static_cast<uint32_t>(std::max(0L, 0L + la.pstyle[i].l)));
        }
    }
    std::vector<uint32_t> key = {style, width, colour};
    key.insert(key.end(), dashes.begin(), dashes.end());
    if (geometric) {
        uint32_t miter;
        const float limit = std::isfinite(la.eMiterLimit) ? la.eMiterLimit : 10.0f;
        std::memcpy(&miter, &limit, 4);
        State(r, kMiterLimit, vemf::kSetMiterLimit, miter);
    }
    if (s.geometricPenHandle < 0 || key != s.geometricPenState) {
        StreamForgetStyledPen(r);
        const uint32_t handle = s.nextObjectHandle++;
        std::vector<uint8_t> rec(sizeof(vemf::ExtCreatePen) + 4 * dashes.size());
        const vemf::ExtCreatePen head{vemf::kExtCreatePen, static_cast<uint32_t>(rec.size()), handle, 0, 0, 0, 0, style,
                                      width, 0, colour, 0, static_cast<uint32_t>(dashes.size())};
        std::memcpy(rec.data(), &head, sizeof head);
        if (!dashes.empty()) std::memcpy(rec.data() + sizeof head, dashes.data(), 4 * dashes.size());
        StreamRecord(r, rec.data(), rec.size());
        StreamColourFlags(s, colour);
        s.geometricPenHandle = static_cast<int32_t>(handle);
        s.geometricPenState = std::move(key);
        s.currentPen = 0;
    }
    if (s.currentPen != static_cast<uint32_t>(s.geometricPenHandle)) {
        Value(r, vemf::kSelectObject, static_cast<uint32_t>(s.geometricPenHandle));
        s.currentPen = static_cast<uint32_t>(s.geometricPenHandle);
    }
    return true;
}

bool SelectPen(DeviceRecord& r, BRUSHOBJ* pbo, const LINEATTRS* la, XFORMOBJ* pxo,
               std::optional<POINTFIX> direction = std::nullopt) {
    if (!pbo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    StreamState& s = *r.stream;
    const uint32_t colour = BrushColour(pbo);
    if (la && (la->fl & (LA_GEOMETRIC | LA_STYLED | LA_ALTERNATE))) return SelectStyledPen(r, colour, *la, pxo, direction);
    uint32_t handle;
    if (!CacheLookup(r, s.caches[2], 1, colour, handle)) {
        const vemf::CreatePen rec{vemf::kCreatePen, 28, handle, 0, 1, 0, colour};
        StreamRecord(r, &rec, sizeof rec);
        StreamColourFlags(s, colour);
    }
    Value(r, vemf::kSelectObject, handle);
    s.currentPen = handle;
    StreamForgetStyledPen(r);
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
        Records g;
        RegionPath(g, std::span(&b, 1));
        Commit(r, g);
        Value(r, vemf::kSelectClipPath, 5);
        s.clipSet = true;
        s.clipPath.clear();
        s.clipRect[0] = b.left, s.clipRect[1] = b.top, s.clipRect[2] = b.right, s.clipRect[3] = b.bottom;
        return true;
    }
    std::vector<RECTL> rects;
    if (!ClipRectangles(pco, rects)) return false;
    Records g;
    RegionPath(g, rects);
    // The engine makes a new clip object for every call: the clip in force
    // is known by its outline.
    if (s.clipSet && g.bytes == s.clipPath) return true;
    State(r, kFillMode, vemf::kSetPolyFillMode, 1);
    Commit(r, g);
    Value(r, vemf::kSelectClipPath, 5);
    s.clipSet = true;
    s.clipRect[0] = s.clipRect[2] = INT32_MIN;
    s.clipPath = std::move(g.bytes);
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
                      BRUSHOBJ* pboFill, const POINTL* org, MIX mix, FLONG options, XFORMOBJ* pxo) {
    if (!ppo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!PageReady(r)) return FALSE;
    Records path;
    if (!GatherPath(path, ppo)) return FALSE;
    const uint32_t fore = mix & 0xFF, back = (mix >> 8) & 0xFF;
    State(r, kBkMode, vemf::kSetBkMode, back == kRop2Nop ? 1 : 2);
    State(r, kRop2, vemf::kSetRop2, fore);
    Origin(r, org);
    const bool geometric = la && (la->fl & LA_GEOMETRIC);
    if (pboStroke && !SelectPen(r, pboStroke, la, pxo, geometric ? PathDirection(ppo) : std::nullopt)) return FALSE;
    if (pboFill) {
        State(r, kFillMode, vemf::kSetPolyFillMode, (options & FP_WINDINGMODE) ? 2 : 1);
        if (!SelectBrush(r, pboFill)) return FALSE;
    }
    if (!Clip(r, pco)) return FALSE;
    Commit(r, path);
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

BOOL StreamRealizeBrush(DeviceRecord& r, BRUSHOBJ* pbo, SURFOBJ* pattern, XLATEOBJ* pxlo, ULONG iHatch) {
    StreamState& s = *r.stream;
    if (iHatch & RB_DITHERCOLOR || iHatch < HS_DDI_MAX) {
        auto* rb = static_cast<RealizedBrush*>(BRUSHOBJ_pvAllocRbrush(pbo, sizeof(RealizedBrush)));
        if (!rb) return FALSE;
        *rb = RealizedBrush{};
        const uint32_t fore = iHatch & RB_DITHERCOLOR ? iHatch & 0xFFFFFF : IndexColour(pxlo, 1);
        const uint32_t back = iHatch & RB_DITHERCOLOR ? 0xFFFFFF : IndexColour(pxlo, 0);
        for (int i = 0; i < 3; ++i) {
            rb->colour[i] = static_cast<uint8_t>(fore >> (8 * i));
            rb->backColour[i] = static_cast<uint8_t>(back >> (8 * i));
        }
        if (iHatch & RB_DITHERCOLOR) {
            rb->kind = kBrushSolid;
            rb->brushKey = static_cast<uint16_t>((5 * (fore & 0xFF) + 9 * ((fore >> 8) & 0xFF) + 2 * (fore >> 16)) / 16);
        } else {
            rb->kind = kBrushHatch;
            rb->brushKey = static_cast<uint16_t>(512 + iHatch);
            rb->ownerValue = s.nextBrushIdentity++;
        }
        return TRUE;
    }
    // A pattern: its own bits behind a colour table, as record 94 carries them.
    const ULONG format = pattern ? pattern->iBitmapFormat : 0;
    const uint32_t depth = pattern && pattern->pvScan0 ? BitsPerPixel(format) : 0;
    if (!depth || pattern->sizlBitmap.cx <= 0 || pattern->sizlBitmap.cy <= 0 || pattern->sizlBitmap.cx > 4096 ||
        pattern->sizlBitmap.cy > 4096) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RealizedBrush head{};
    head.kind = kBrushPattern;
    head.brushKey = 256;
    head.isPattern = 1;
    head.width = static_cast<uint32_t>(pattern->sizlBitmap.cx);
    head.height = static_cast<uint32_t>(pattern->sizlBitmap.cy);
    head.format = depth <= 8 ? depth : 24;
    head.paletteCount = depth <= 8 ? 1u << depth : 0;
    head.paletteOffset = kKeptBitsOffset;
    head.ownerValue = s.nextBrushIdentity++;
    const size_t table = PatternTableBytes(head), rowBytes = PatternRowBytes(head);
    auto* base = static_cast<uint8_t*>(BRUSHOBJ_pvAllocRbrush(pbo, static_cast<ULONG>(kKeptBitsOffset + table + rowBytes * head.height)));
    if (!base) return FALSE;
    std::memcpy(base, &head, sizeof head);
    uint8_t* quads = base + kKeptBitsOffset;
    for (uint32_t i = 0; i < head.paletteCount; ++i) PutQuad(quads + 4 * i, IndexColour(pxlo, i));
    const size_t srcRowBytes = static_cast<size_t>(std::abs(pattern->lDelta));
    for (uint32_t y = 0; y < head.height; ++y) {
        uint8_t* row = quads + table + y * rowBytes;
        if (depth <= 8) {
            const auto* in = static_cast<const uint8_t*>(pattern->pvScan0) + static_cast<ptrdiff_t>(y) * pattern->lDelta;
            CopyRowBits(in, srcRowBytes, 0, size_t{head.width} * depth, row);
            continue;
        }
        for (uint32_t x = 0; x < head.width; ++x) {
            const uint32_t rgb = DeepPixelToRgb(pxlo, format, PixelAt(pattern, static_cast<LONG>(x), static_cast<LONG>(y)));
            row[3 * x] = static_cast<uint8_t>(rgb >> 16);
            row[3 * x + 1] = static_cast<uint8_t>(rgb >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(rgb);
        }
    }
    return TRUE;
}

namespace {

// Writes record 76 (BITBLT) or 81 (STRETCHDIBITS) with the image behind its head.
void ImageRecord(DeviceRecord& r, const void* head, size_t headSize, const DibImage& img) {
    std::vector<uint8_t> rec(headSize + 40 + img.colours.size() + img.bits.size());
    std::memcpy(rec.data(), head, headSize);
    std::memcpy(rec.data() + headSize, &img.header, 40);
    if (!img.colours.empty()) std::memcpy(rec.data() + headSize + 40, img.colours.data(), img.colours.size());
    std::memcpy(rec.data() + headSize + 40 + img.colours.size(), img.bits.data(), img.bits.size());
    StreamRecord(r, rec.data(), rec.size());
}

bool PlainRop3(uint8_t rop3) { return rop3 == 0 || rop3 == 170 || rop3 == 204 || rop3 == 240 || rop3 == 255; }

}  // namespace

BOOL StreamBitBlt(DeviceRecord& r, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo, const RECTL& dest,
                  const POINTL* srcPoint, BRUSHOBJ* pbo, const POINTL* org, ROP4 rop4) {
    if (mask) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint8_t rop3 = static_cast<uint8_t>(rop4);
    const bool usesSource = ((rop3 >> 2) & 0x33) != (rop3 & 0x33);
    if (!usesSource) return StreamPatternBlit(r, pco, dest, pbo, org, rop4);
    if (!src || src->iType != STYPE_BITMAP || !BitsPerPixel(src->iBitmapFormat) || !src->pvScan0) {
        SetLastError(kErrorUnknownFormat);
        return FALSE;
    }
    if (!PageReady(r)) return FALSE;
    // The part of the destination whose source lies on the bitmap.
    const POINTL at = srcPoint ? *srcPoint : POINTL{0, 0};
    const int64_t dx = int64_t{at.x} - dest.left, dy = int64_t{at.y} - dest.top;
    const int64_t left = std::max<int64_t>(dest.left, -dx), top = std::max<int64_t>(dest.top, -dy);
    const int64_t right = std::min<int64_t>(dest.right, src->sizlBitmap.cx - dx);
    const int64_t bottom = std::min<int64_t>(dest.bottom, src->sizlBitmap.cy - dy);
    if (right <= left || bottom <= top) return TRUE;
    const RECTL area{static_cast<LONG>(left + dx), static_cast<LONG>(top + dy), static_cast<LONG>(right + dx),
                     static_cast<LONG>(bottom + dy)};
    const bool usesPattern = ((rop3 >> 4) & 0x0F) != (rop3 & 0x0F);
    if (usesPattern) {
        if (!pbo) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        Origin(r, org);
        if (!SelectBrush(r, pbo)) return FALSE;
    }
    DibImage img;
    if (!SourceImage(r, src, pxlo, area, false, false, img) || !Clip(r, pco)) return FALSE;
    const uint32_t table = static_cast<uint32_t>(img.colours.size()), bits = static_cast<uint32_t>(img.bits.size());
    vemf::BitBlt head{};
    head.type = vemf::kBitBlt;
    head.size = static_cast<uint32_t>(sizeof head + 40 + table + bits);
    head.xDest = static_cast<int32_t>(left), head.yDest = static_cast<int32_t>(top);
    head.widthDest = static_cast<int32_t>(right - left), head.heightDest = static_cast<int32_t>(bottom - top);
    head.rop = rop3;
    head.headerOffset = sizeof head;
    head.headerBytes = 40 + table;
    head.bitsOffset = sizeof head + 40 + table;
    head.bitsBytes = bits;
    ImageRecord(r, &head, sizeof head, img);
    StreamState& s = *r.stream;
    s.pageFlags |= 0x20;
    if (!PlainRop3(rop3)) s.pageFlags |= 0x80;
    return TRUE;
}

BOOL StreamCopyBits(DeviceRecord& r, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* pxlo, const RECTL& dest, const POINTL* srcPoint) {
    if (dest.right < dest.left || dest.bottom < dest.top) {
        SetLastError(kErrorUnknownFormat);
        return FALSE;
    }
    // A source that is not a bitmap holds nothing to copy: the area is white.
    if (!src || src->iType != STYPE_BITMAP) return StreamPatternBlit(r, pco, dest, nullptr, nullptr, 0xFFFF);
    return StreamBitBlt(r, src, nullptr, pco, pxlo, dest, srcPoint, nullptr, nullptr, 0xCCCC);
}

BOOL StreamStretchBlt(DeviceRecord& r, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                      const COLORADJUSTMENT* pca, const POINTL* htOrigin, const RECTL& dest, const RECTL* srcRect,
                      ULONG mode, BRUSHOBJ* pbo, ROP4 rop4) {
    if (mask) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!src || src->iType != STYPE_BITMAP || !BitsPerPixel(src->iBitmapFormat) || !src->pvScan0) {
        SetLastError(kErrorUnknownFormat);
        return FALSE;
    }
    if (!PageReady(r)) return FALSE;
    // A reversed destination mirrors the image; the record's is ordered.
    const bool flipX = dest.right < dest.left, flipY = dest.bottom < dest.top;
    const int64_t dl = std::min(dest.left, dest.right), dt = std::min(dest.top, dest.bottom);
    const int64_t dw = std::abs(int64_t{dest.right} - dest.left), dh = std::abs(int64_t{dest.bottom} - dest.top);
    RECTL sr = srcRect ? *srcRect : RECTL{0, 0, src->sizlBitmap.cx, src->sizlBitmap.cy};
    if (sr.right < sr.left || sr.bottom < sr.top || dw == 0 || dh == 0) return TRUE;
    const int64_t sw = int64_t{sr.right} - sr.left, sh = int64_t{sr.bottom} - sr.top;
    if (sw == 0 || sh == 0) return TRUE;
    // The source cut to the bitmap, the destination cut in proportion.
    const RECTL cut{std::max<LONG>(sr.left, 0), std::max<LONG>(sr.top, 0), std::min<LONG>(sr.right, src->sizlBitmap.cx),
                    std::min<LONG>(sr.bottom, src->sizlBitmap.cy)};
    if (cut.right <= cut.left || cut.bottom <= cut.top) return TRUE;
    auto span = [](int64_t d0, int64_t dLen, int64_t s0, int64_t sLen, int64_t c0, int64_t c1, bool flip, int64_t& o0, int64_t& o1) {
        int64_t a = (c0 - s0) * dLen / sLen, b = (c1 - s0) * dLen / sLen;
        if (flip) std::swap(a, b), a = dLen - a, b = dLen - b;
        o0 = d0 + a, o1 = d0 + b;
    };
    int64_t x0, x1, y0, y1;
    span(dl, dw, sr.left, sw, cut.left, cut.right, flipX, x0, x1);
    span(dt, dh, sr.top, sh, cut.top, cut.bottom, flipY, y0, y1);
    if (x1 <= x0 || y1 <= y0) return TRUE;
    const uint8_t rop3 = static_cast<uint8_t>(rop4);
    if (((rop3 >> 4) & 0x0F) != (rop3 & 0x0F)) {
        if (!pbo) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (!SelectBrush(r, pbo)) return FALSE;
    }
    State(r, kStretchMode, vemf::kSetStretchBltMode, mode);
    if (mode == HALFTONE) Origin(r, htOrigin);
    State(r, kBkMode, vemf::kSetBkMode, 2);
    if (pca) {
        uint8_t rec[32];
        const vemf::RecordHead head{vemf::kSetColorAdjustment, 32};
        std::memcpy(rec, &head, 8);
        std::memcpy(rec + 8, static_cast<const void*>(pca), 24);  // the 24-byte colour adjustment
        StreamRecord(r, rec, sizeof rec);
    }
    DibImage img;
    if (!SourceImage(r, src, pxlo, cut, flipX, flipY, img) || !Clip(r, pco)) return FALSE;
    const uint32_t table = static_cast<uint32_t>(img.colours.size()), bits = static_cast<uint32_t>(img.bits.size());
    const int32_t w = cut.right - cut.left, h = cut.bottom - cut.top;
    vemf::StretchDib head{};
    head.type = vemf::kStretchDIBits;
    head.size = static_cast<uint32_t>(sizeof head + 40 + table + bits);
    head.xDest = static_cast<int32_t>(x0), head.yDest = static_cast<int32_t>(y0);
    head.xSrc = 0, head.ySrc = 0, head.widthSrc = w, head.heightSrc = h;
    head.headerOffset = sizeof head;
    head.headerBytes = 40 + table;
    head.bitsOffset = sizeof head + 40 + table;
    head.bitsBytes = bits;
    head.rop = rop3;
    head.widthDest = static_cast<int32_t>(x1 - x0), head.heightDest = static_cast<int32_t>(y1 - y0);
    ImageRecord(r, &head, sizeof head, img);
    StreamState& s = *r.stream;
    s.pageImageArea += static_cast<uint32_t>(w) * static_cast<uint32_t>(h);
    s.pageFlags |= 0x40;
    if (!PlainRop3(rop3)) s.pageFlags |= 0x80;
    return TRUE;
}

namespace {

// The glyph font of `pfo` in the font cache: found (made the youngest) or
// created with record 82, the oldest of 64 deleted first.
GlyphFont& GlyphFontOf(DeviceRecord& r, FONTOBJ* pfo) {
    StreamState& s = *r.stream;
    auto& fonts = s.fontCache.fonts;
    for (GlyphFont& f : fonts) {
        if (f.identity != pfo->iUniq) continue;
        for (GlyphFont& g : fonts)
            if (g.age < f.age) ++g.age;
        f.age = 1;
        return f;
    }
    size_t slot = fonts.size();
    if (fonts.size() == 64) {
        for (size_t i = 0; i < fonts.size(); ++i)
            if (fonts[i].age == 64) slot = i;
        Value(r, vemf::kDeleteObject, fonts[slot].handle);
    } else {
        fonts.emplace_back();
    }
    for (size_t i = 0; i < fonts.size(); ++i)
        if (i != slot) ++fonts[i].age;
    GlyphFont& f = fonts[slot];
    f = GlyphFont{};
    f.handle = s.nextObjectHandle++;
    f.identity = pfo->iUniq;
    f.age = 1;
    vemf::ExtCreateFont rec{};
    rec.type = vemf::kExtCreateFont;
    rec.size = sizeof rec;
    rec.handle = f.handle;
    StreamRecord(r, &rec, sizeof rec);
    return f;
}

// The glyph's bits from the font (the glyph's own data may hold its
// outline once that was asked for).
GLYPHBITS* GlyphBits(FONTOBJ* pfo, const GLYPHPOS& pos) {
    HGLYPH hg = pos.hg;
    GLYPHDATA* gd = nullptr;
    if (FONTOBJ_cGetGlyphs(pfo, FO_GLYPHBITS, 1, &hg, reinterpret_cast<PVOID*>(&gd)) == 1 && gd) return gd->gdf.pgb;
    return pos.pgdf ? pos.pgdf->pgb : nullptr;
}

bool GlyphDefined(const GlyphFont& font, uint32_t g) {
    return (font.defined[g / 16] & (1u << (15 - g % 16))) != 0;
}

// Defines the glyph for its font unless it already is.
bool DefineGlyph(DeviceRecord& r, GlyphFont& font, FONTOBJ* pfo, const GLYPHPOS& pos) {
    const uint32_t g = pos.hg;
    uint16_t& word = font.defined[g / 16];
    const uint16_t bit = static_cast<uint16_t>(1u << (15 - g % 16));
    if (word & bit) return true;
    GLYPHBITS* gb = GlyphBits(pfo, pos);
    if (!gb) return false;
    vemf::GlyphDefinition head{vemf::kGlyphDefinition, 40, font.handle, g, 0, 0, 0, 0, 40, 0};
    std::vector<uint8_t> rec;
    if (gb && gb->sizlBitmap.cx > 0 && gb->sizlBitmap.cy > 0) {
        head.xOrigin = gb->ptlOrigin.x, head.yOrigin = gb->ptlOrigin.y;
        head.width = static_cast<uint32_t>(gb->sizlBitmap.cx), head.height = static_cast<uint32_t>(gb->sizlBitmap.cy);
        head.bitsBytes = (head.width + 7) / 8 * head.height;
    }
    head.size = 40 + head.bitsBytes;
    rec.resize(head.size);
    std::memcpy(rec.data(), &head, sizeof head);
    if (head.bitsBytes) std::memcpy(rec.data() + 40, gb->aj, head.bitsBytes);
    StreamRecord(r, rec.data(), rec.size());
    word |= bit;
    return true;
}

// Glyph bitmaps go one bit a pixel, uncompressed: a large glyph takes far
// fewer bytes as its outline, filled as a path wherever it is drawn. A
// glyph goes as its outline, for the rest of the document, when that takes
// less than half its bitmap (a bitmap is defined once, an outline is sent
// with every use); small glyphs, and those already defined, stay bitmaps.
constexpr size_t kOutlineWorth = 1024;  // bitmap bytes below which no outline is tried

bool GoesAsOutline(GlyphFont& font, FONTOBJ* pfo, const GLYPHPOS& pos) {
    const uint32_t g = pos.hg;
    if (GlyphDefined(font, g)) return false;
    if (font.outlined.count(static_cast<uint16_t>(g))) return true;
    const GLYPHBITS* gb = GlyphBits(pfo, pos);
    if (!gb || gb->sizlBitmap.cx <= 0 || gb->sizlBitmap.cy <= 0) return false;
    const size_t bitmap = (static_cast<size_t>(gb->sizlBitmap.cx) + 7) / 8 * static_cast<size_t>(gb->sizlBitmap.cy);
    if (bitmap < kOutlineWorth) return false;
    HGLYPH hg = pos.hg;
    GLYPHDATA* gd = nullptr;
    if (FONTOBJ_cGetGlyphs(pfo, FO_PATHOBJ, 1, &hg, reinterpret_cast<PVOID*>(&gd)) != 1 || !gd || !gd->gdf.ppo) return false;
    Records trial;
    const bool smaller = GatherRuns(trial, gd->gdf.ppo) && trial.bytes.size() * 2 < bitmap;
    if (smaller) font.outlined.insert(static_cast<uint16_t>(g));
    return smaller;
}

// Adds the glyph's outline at its place on the page.
bool AddOutline(Records& outlines, FONTOBJ* pfo, const GLYPHPOS& pos) {
    HGLYPH hg = pos.hg;
    GLYPHDATA* gd = nullptr;
    if (FONTOBJ_cGetGlyphs(pfo, FO_PATHOBJ, 1, &hg, reinterpret_cast<PVOID*>(&gd)) != 1 || !gd || !gd->gdf.ppo) return false;
    outlines.shiftX = int64_t{pos.ptl.x} * 16;
    outlines.shiftY = int64_t{pos.ptl.y} * 16;
    return GatherRuns(outlines, gd->gdf.ppo);
}

// The string as record 84: glyph handles of the selected font (or, for a
// printer face, the characters, whose glyphs only the printer knows), the
// first glyph's origin as the reference point, and the x/y step to each
// next origin.
void StringRecord(DeviceRecord& r, std::span<const GLYPHPOS> glyphs, std::span<const POINTL> steps,
                  std::span<const char16_t> characters = {}) {
    const size_t n = glyphs.size();
    std::vector<uint8_t> rec(sizeof(vemf::ExtTextOut) + 10 * n);
    vemf::ExtTextOut head{};
    head.type = vemf::kExtTextOutW;
    head.size = static_cast<uint32_t>(rec.size());
    head.xReference = glyphs[0].ptl.x, head.yReference = glyphs[0].ptl.y;
    head.count = static_cast<uint32_t>(n);
    head.stringOffset = sizeof head;
    head.options = characters.empty() ? vemf::kTextGlyphIndex | vemf::kTextAdvancesXY : vemf::kTextAdvancesXY;
    head.advancesOffset = static_cast<uint32_t>(sizeof head + 2 * n);
    std::memcpy(rec.data(), &head, sizeof head);
    for (size_t i = 0; i < n; ++i) {
        const uint16_t hg = characters.empty() ? static_cast<uint16_t>(glyphs[i].hg) : characters[i];
        std::memcpy(rec.data() + sizeof head + 2 * i, &hg, 2);
        const int32_t step[2] = {steps[i].x, steps[i].y};
        std::memcpy(rec.data() + head.advancesOffset + 8 * i, step, 8);
    }
    StreamRecord(r, rec.data(), rec.size());
}

// Steps between the glyphs' origins on the page (none after the last).
std::vector<POINTL> DeviceSteps(std::span<const GLYPHPOS> glyphs) {
    std::vector<POINTL> steps(glyphs.size(), POINTL{0, 0});
    for (size_t i = 0; i + 1 < glyphs.size(); ++i)
        steps[i] = {glyphs[i + 1].ptl.x - glyphs[i].ptl.x, glyphs[i + 1].ptl.y - glyphs[i].ptl.y};
    return steps;
}

// Steps along a baseline turned by `turn` (tenths of a degree,
// counterclockwise), none across it: how a player steps text on a turned
// baseline. Empty when a glyph stands more than a pixel off the baseline.
std::vector<POINTL> BaselineSteps(std::span<const GLYPHPOS> glyphs, LONG turn) {
    const double a = turn * std::numbers::pi / 1800, ux = std::cos(a), uy = -std::sin(a);
    std::vector<POINTL> steps(glyphs.size(), POINTL{0, 0});
    LONG placed = 0;
    for (size_t i = 0; i + 1 < glyphs.size(); ++i) {
        const double dx = glyphs[i + 1].ptl.x - glyphs[0].ptl.x, dy = glyphs[i + 1].ptl.y - glyphs[0].ptl.y;
        if (std::fabs(dx * uy - dy * ux) > 1) return {};
        const LONG along = static_cast<LONG>(std::lround(dx * ux + dy * uy));
        steps[i] = {along - placed, 0};
        placed = along;
    }
    return steps;
}

// Text in glyph fonts: each glyph defined once for its font (record 111),
// large ones filled as their outlines.
BOOL GlyphFontText(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, BRUSHOBJ* pboFore) {
    StreamState& s = *r.stream;
    // The glyphs, each defined once for its font.
    std::vector<GLYPHPOS> glyphs = StringGlyphs(pstro, true);
    if (!glyphs.empty()) {
        GlyphFont& font = GlyphFontOf(r, pfo);
        std::vector<GLYPHPOS> bitmaps;
        Records outlines;
        for (const GLYPHPOS& g : glyphs) {
            if (g.hg > 0xFFFF) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return FALSE;
            }
            if (GoesAsOutline(font, pfo, g)) {
                if (!AddOutline(outlines, pfo, g)) return FALSE;
                continue;
            }
            if (!DefineGlyph(r, font, pfo, g)) return FALSE;
            bitmaps.push_back(g);
        }
        glyphs = std::move(bitmaps);
        const uint32_t colour = BrushColour(pboFore);
        State(r, kTextColour, vemf::kSetTextColor, colour);
        State(r, kBkMode, vemf::kSetBkMode, 1);
        if (!Clip(r, pco)) return FALSE;
        if (!outlines.sizes.empty()) {
            // Glyph outlines fill by non-zero winding in the text's colour.
            BRUSHOBJ black{0, nullptr, 0};
            State(r, kRop2, vemf::kSetRop2, 13);
            State(r, kFillMode, vemf::kSetPolyFillMode, 2);
            if (!SelectBrush(r, pboFore ? pboFore : &black)) return FALSE;
            Records begin, end;
            begin.Empty(vemf::kBeginPath);
            end.Empty(vemf::kEndPath);
            Commit(r, begin);
            Commit(r, outlines);
            Commit(r, end);
            Bounds(r, vemf::kFillPath);
            s.pageFlags |= 0x20;
        }
        if (glyphs.empty()) {
            StreamColourFlags(s, colour);
            s.pageFlags |= 0x10;
        }
    }
    if (!glyphs.empty()) {
        const uint32_t handle = GlyphFontOf(r, pfo).handle;
        const uint32_t colour = BrushColour(pboFore);
        Value(r, vemf::kSelectObject, handle);
        StringRecord(r, glyphs, DeviceSteps(glyphs));
        StreamColourFlags(s, colour);
        s.pageFlags |= 0x10;
    }
    return TRUE;
}

// The logical font that draws the glyphs of a TrueType font where the page
// is replayed: the face by its family name, weight and slant (simulated
// ones too), the size, width and turn from the font's transform. The engine
// sizes a font in fractions of a pixel, a logical font in whole ones. The
// em height (a negative height) is within half a pixel; a player turns a
// cell height (a positive one, ascent plus descent) into an em through the
// face's ascent and descent as it rounds them, which may be a percent off.
// So the cell height is taken only for small fonts, where half a pixel is
// more than a percent of the em, and only when its em comes nearer. False
// for a font that cannot be described so (no metrics, no name).
//
// A printer face is named as the printer offers it, with device precision,
// at its em height (its cell is the printer's business), upright as the
// printer prints it.
bool LogicalFont(FONTOBJ* pfo, vemf::ExtCreateFont& rec, LONG& turn) {
    const bool device = (pfo->flFontType & FO_TYPE_DEVICE) != 0;
    if (!device && !(pfo->flFontType & FO_TYPE_TRUETYPE)) return false;
    const IFIMETRICS* ifi = FONTOBJ_pifi(pfo);
    XFORMOBJ* pxo = FONTOBJ_pxoGetXform(pfo);
    XFORML m{};
    if (!ifi || ifi->fwdUnitsPerEm <= 0 || !pxo || ifi->dpwszFamilyName <= 0 ||
        static_cast<ULONG>(ifi->dpwszFamilyName) >= ifi->cjThis)
        return false;
    XFORMOBJ_iGetXform(pxo, &m);
    const double upem = ifi->fwdUnitsPerEm;
    const double scale = std::hypot(m.eM21, m.eM22);  // device pixels a font unit, across the baseline
    const double em = scale * upem;
    if (!(em > 0) || !std::isfinite(em) || em > 16384) return false;
    LOGFONTW lf{};
    const LONG emHeight = std::max<LONG>(1, static_cast<LONG>(std::lround(em)));
    lf.lfHeight = -emHeight;
    double chosenEm = emHeight;
    const double cellUnits = static_cast<USHORT>(ifi->fwdWinAscender) + static_cast<USHORT>(ifi->fwdWinDescender);
    if (cellUnits > 0 && !device && std::fabs(emHeight - em) > kCellHeightWorth * em) {
        const LONG cell = std::max<LONG>(1, static_cast<LONG>(std::lround(em * cellUnits / upem)));
        const double cellEm = cell * upem / cellUnits;
        if (std::fabs(cellEm - em) < std::fabs(chosenEm - em)) lf.lfHeight = cell, chosenEm = cellEm;
    }
    // A font drawn wider or narrower than its face: the average character
    // width asked for, against the face's own (whole pixels) at the height
    // chosen; none when that is the nearest.
    const double widthScale = std::hypot(m.eM11, m.eM12) / scale;
    const LONG average = static_cast<LONG>(std::lround(ifi->fwdAveCharWidth * chosenEm / upem));
    const LONG width = static_cast<LONG>(std::lround(widthScale * average));
    if (average > 0 && width > 0 && width != average && !device) lf.lfWidth = width;
    // The glyphs' turn, tenths of a degree counterclockwise.
    turn = static_cast<LONG>(std::lround(std::atan2(m.eM21, m.eM22) * 1800 / std::numbers::pi)) % 3600;
    if (turn < 0) turn += 3600;
    if (device) turn = 0;
    lf.lfEscapement = lf.lfOrientation = turn;
    lf.lfWeight = (pfo->flFontType & FO_SIM_BOLD) ? kWeightBold : (ifi->usWinWeight ? ifi->usWinWeight : kWeightNormal);
    lf.lfItalic = (pfo->flFontType & FO_SIM_ITALIC) || (ifi->fsSelection & FM_SEL_ITALIC) ? 1 : 0;
    lf.lfCharSet = ifi->jWinCharSet;
    lf.lfPitchAndFamily = ifi->jWinPitchAndFamily;
    if (device) lf.lfOutPrecision = vemf::kFontOutDevice;
    // Names of the metrics, each cut to its field and terminated.
    auto name = [&](PTRDIFF at, WCHAR* out, size_t room) {
        if (at <= 0 || static_cast<ULONG>(at) >= ifi->cjThis) return;
        const auto* base = reinterpret_cast<const uint8_t*>(ifi);
        for (size_t i = 0; i + 1 < room && static_cast<ULONG>(at) + 2 * i + 1 < ifi->cjThis; ++i) {
            WCHAR c;
            std::memcpy(&c, base + at + 2 * i, 2);
            if (!c) break;
            out[i] = c;
        }
    };
    name(ifi->dpwszFamilyName, lf.lfFaceName, LF_FACESIZE);
    if (!lf.lfFaceName[0]) return false;
    rec = vemf::ExtCreateFont{};
    rec.type = vemf::kExtCreateFont;
    rec.size = sizeof rec;
    std::memcpy(rec.font, &lf, sizeof lf);
    WCHAR full[vemf::kFontFullNameChars]{}, style[vemf::kFontStyleChars]{};
    name(ifi->dpwszFaceName, full, std::size(full));
    name(ifi->dpwszStyleName, style, std::size(style));
    std::memcpy(rec.font + vemf::kFontFullNameOffset, full, sizeof full);
    std::memcpy(rec.font + vemf::kFontStyleOffset, style, sizeof style);
    return true;
}

// The character of each glyph handle of a printer face, from the glyph set
// the driver gives the engine for it; a handle several characters share
// stands for the first of them, as the engine maps glyphs back.
const std::unordered_map<uint32_t, char16_t>& FaceCharacters(DeviceRecord& r, ULONG face) {
    auto& kept = r.stream->faceCharacters;
    if (const auto it = kept.find(face); it != kept.end()) return it->second;
    auto& characters = kept[face];
    ULONG_PTR id = 0;
    auto* set = static_cast<FD_GLYPHSET*>(DrvQueryFontTree(reinterpret_cast<DHPDEV>(&r), 0, face, QFT_GLYPHSET, &id));
    if (!set) return characters;
    for (ULONG i = 0; i < set->cRuns; ++i) {
        const WCRUN& run = set->awcrun[i];
        for (USHORT k = 0; k < run.cGlyphs; ++k) {
            const auto c = static_cast<char16_t>(run.wcLow + k);
            const auto hg = static_cast<uint32_t>(run.phg ? run.phg[k] : HGLYPH(c));
            const auto [at, fresh] = characters.emplace(hg, c);
            if (!fresh && c < at->second) at->second = c;
        }
    }
    DrvFree(set, id);
    return characters;
}

// The handle of a logical font from cache 0, created with record 82 on a
// miss. Its identity is the logical font itself: fonts the engine realises
// anew at the same size share one object.
uint32_t LogicalFontHandle(DeviceRecord& r, vemf::ExtCreateFont& rec) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a over the logical font
    for (uint8_t b : rec.font) hash = (hash ^ b) * 1099511628211ull;
    uint32_t handle;
    if (!CacheLookup(r, r.stream->caches[0], static_cast<uint32_t>(hash >> 32), static_cast<uint32_t>(hash), handle)) {
        rec.handle = handle;
        StreamRecord(r, &rec, sizeof rec);
    }
    return handle;
}

// Text in a logical font (printer languages other than 4): the font from
// cache 0, selected, and the string as glyph handles of that font. On a
// turned baseline the steps go along it; glyphs that stand off it go one a
// record, each at its own origin.
BOOL LogicalFontText(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, BRUSHOBJ* pboFore,
                     vemf::ExtCreateFont& font, LONG turn) {
    const std::vector<GLYPHPOS> glyphs = StringGlyphs(pstro, false);
    if (glyphs.empty()) return TRUE;
    std::vector<char16_t> characters;
    if (pfo->flFontType & FO_TYPE_DEVICE) {
        const auto& of = FaceCharacters(r, pfo->iFace);
        for (const GLYPHPOS& g : glyphs) {
            const auto c = of.find(static_cast<uint32_t>(g.hg));
            if (c == of.end()) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return FALSE;
            }
            characters.push_back(c->second);
        }
    }
    for (const GLYPHPOS& g : glyphs)
        if (g.hg > 0xFFFF && characters.empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    StreamState& s = *r.stream;
    const uint32_t handle = LogicalFontHandle(r, font);
    const uint32_t colour = BrushColour(pboFore);
    State(r, kTextColour, vemf::kSetTextColor, colour);
    State(r, kBkMode, vemf::kSetBkMode, 1);
    if (!Clip(r, pco)) return FALSE;
    Value(r, vemf::kSelectObject, handle);
    const std::span<const GLYPHPOS> all(glyphs);
    const std::vector<POINTL> steps = turn ? BaselineSteps(all, turn) : DeviceSteps(all);
    const std::span<const char16_t> chars(characters);
    if (!steps.empty()) {
        StringRecord(r, all, steps, chars);
    } else {
        const POINTL none[1] = {{0, 0}};
        for (size_t i = 0; i < all.size(); ++i)
            StringRecord(r, all.subspan(i, 1), none, chars.empty() ? chars : chars.subspan(i, 1));
    }
    StreamColourFlags(s, colour);
    s.pageFlags |= 0x10;
    return TRUE;
}

}  // namespace

BOOL StreamTextOut(DeviceRecord& r, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
                   BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque) {
    if (!pstro || !pfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!PageReady(r)) return FALSE;
    // The opaque rectangle is a blit of the opaque brush.
    if (prclOpaque && pboOpaque && !StreamPatternBlit(r, pco, *prclOpaque, pboOpaque, nullptr, 0xF0F0)) return FALSE;
    // Other languages than 4 draw text in logical fonts (printer faces
    // too); language 4, and fonts no logical font describes, in glyph fonts
    // of their bitmaps.
    vemf::ExtCreateFont logical{};
    LONG turn = 0;
    if (!LanguageIsStream(r) && LogicalFont(pfo, logical, turn)) {
        if (!LogicalFontText(r, pstro, pfo, pco, pboFore, logical, turn)) return FALSE;
    } else if (!GlyphFontText(r, pstro, pfo, pco, pboFore)) {
        return FALSE;
    }
    // Underlines and strike-outs: blits of the text's brush.
    if (prclExtra)
        for (RECTL* e = prclExtra; e->left || e->top || e->right || e->bottom; ++e)
            if (!StreamPatternBlit(r, pco, *e, pboFore, nullptr, 0xF0F0)) return FALSE;
    return TRUE;
}

}  // namespace pclrend
