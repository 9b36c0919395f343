#include "render/glyph_ink.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>

#include "render/device_record.h"
#include "render/rect_outline.h"
#include "render/xl_fill.h"

namespace pclrend {

namespace {

constexpr LONG kSafe = 32767;         // sint16 coordinates
constexpr size_t kKeptGlyphs = 4096;  // beyond this many kept shapes the cache starts again

// A stretch of a glyph's rectangles that OutlineOfRectangles traces as one
// (apart across the glyph from the others: a double quote has two), with
// its outline.
struct Cluster {
    LONG left = 0, right = 0;        // its extent across
    uint32_t first = 0, count = 0;   // its rectangles in the shape's list
    std::vector<std::vector<POINTL>> outline;
    // Each polygon of the outline as XlRectilinearOutline sends it, but for
    // its place: four corners as a RectanglePath (nothing kept), any other
    // as its XlOutlineSides from its first corner.
    std::vector<std::vector<uint8_t>> sides;
};

// The glyph's bits as the key of its ink: their size and their rows.
std::string KeyOf(const GLYPHBITS* gb) {
    const size_t rows = static_cast<size_t>(gb->sizlBitmap.cy), stride = (static_cast<size_t>(gb->sizlBitmap.cx) + 7) / 8;
    std::string key(2 * sizeof(LONG) + rows * stride, '\0');
    std::memcpy(key.data(), &gb->sizlBitmap.cx, sizeof(LONG));
    std::memcpy(key.data() + sizeof(LONG), &gb->sizlBitmap.cy, sizeof(LONG));
    std::memcpy(key.data() + 2 * sizeof(LONG), gb->aj, rows * stride);
    return key;
}

}  // namespace

// Relative to the top-left corner of the glyph's bits.
struct GlyphInkShape {
    std::vector<RECTL> rects;       // cluster by cluster, left to right
    std::vector<Cluster> clusters;  // left to right
    RECTL bounds{};
};

// The outline of clusters of several glyphs that touch or overlap, from the
// corner of the first glyph's bits, with its polygons' sides (as Cluster).
struct JoinedInk {
    std::vector<std::vector<POINTL>> outline;
    std::vector<std::vector<uint8_t>> sides;
};

struct GlyphInkCache {
    std::unordered_map<std::string, GlyphInkShape> kept;
    // By the clusters joined (their shapes, and places from the first's).
    std::unordered_map<std::string, JoinedInk> joined;
};

namespace {

GlyphInkShape MakeShape(const GLYPHBITS* gb) {
    GlyphInkShape shape;
    GLYPHDEF def{};
    def.pgb = const_cast<GLYPHBITS*>(gb);
    GLYPHPOS at{};
    at.pgdf = &def;
    at.ptl = {-gb->ptlOrigin.x, -gb->ptlOrigin.y};  // the bits' corner at 0, 0
    auto& rects = shape.rects;
    ForEachGlyphInkRectangle(at, [&](const RECTL& q) { rects.push_back(q); });
    if (rects.empty()) return shape;
    // Grouped as OutlineOfRectangles groups them.
    std::sort(rects.begin(), rects.end(), [](const RECTL& a, const RECTL& b) { return a.left < b.left; });
    for (size_t first = 0; first < rects.size();) {
        size_t last = first + 1;
        LONG right = rects[first].right;
        for (; last < rects.size() && rects[last].left <= right; ++last) right = std::max(right, rects[last].right);
        Cluster c;
        c.left = rects[first].left;
        c.right = right;
        c.first = static_cast<uint32_t>(first);
        c.count = static_cast<uint32_t>(last - first);
        c.outline = OutlineOfRectangles(std::span<const RECTL>(rects).subspan(first, last - first));
        for (const auto& polygon : c.outline) {
            c.sides.emplace_back();
            if (polygon.size() != 4) XlOutlineSides(polygon, c.sides.back());
        }
        shape.clusters.push_back(std::move(c));
        first = last;
    }
    shape.bounds = rects.front();
    for (const RECTL& q : rects) {
        shape.bounds.left = std::min(shape.bounds.left, q.left), shape.bounds.top = std::min(shape.bounds.top, q.top);
        shape.bounds.right = std::max(shape.bounds.right, q.right);
        shape.bounds.bottom = std::max(shape.bounds.bottom, q.bottom);
    }
    return shape;
}

}  // namespace

size_t KeptGlyphInk(const DeviceRecord& r) { return r.glyphInk ? r.glyphInk->kept.size() : 0; }

PlacedGlyphInk PlaceGlyphInk(DeviceRecord& r, std::span<const GLYPHPOS> glyphs) {
    if (!r.glyphInk) r.glyphInk = std::make_shared<GlyphInkCache>();
    auto& kept = r.glyphInk->kept;
    // Started again between strings only: the shapes of this one are in use
    // until its path is sent.
    if (kept.size() >= kKeptGlyphs || r.glyphInk->joined.size() >= kKeptGlyphs) {
        kept.clear();
        r.glyphInk->joined.clear();
    }
    PlacedGlyphInk out;
    out.glyphs.reserve(glyphs.size());
    for (const GLYPHPOS& pos : glyphs) {
        const GLYPHBITS* gb = pos.pgdf ? pos.pgdf->pgb : nullptr;
        if (!gb || gb->sizlBitmap.cx <= 0 || gb->sizlBitmap.cy <= 0) continue;
        std::string key = KeyOf(gb);
        auto it = kept.find(key);
        if (it == kept.end()) it = kept.emplace(std::move(key), MakeShape(gb)).first;
        const GlyphInkShape& shape = it->second;
        if (shape.rects.empty()) continue;
        const int64_t dx = int64_t{pos.ptl.x} + gb->ptlOrigin.x, dy = int64_t{pos.ptl.y} + gb->ptlOrigin.y;
        if (dx + shape.bounds.left < -kSafe || dx + shape.bounds.right > kSafe || dy + shape.bounds.top < -kSafe ||
            dy + shape.bounds.bottom > kSafe)
            out.inRange = false;
        out.glyphs.push_back({&shape, static_cast<LONG>(dx), static_cast<LONG>(dy)});
    }
    return out;
}

namespace {

// Sends polygons of OutlineOfRectangles kept with their sides (see
// Cluster), moved by (dx, dy).
void SendOutline(DeviceRecord& r, const std::vector<std::vector<POINTL>>& outline,
                 const std::vector<std::vector<uint8_t>>& sides, LONG dx, LONG dy) {
    std::vector<POINTL> corners;
    for (size_t k = 0; k < outline.size(); ++k) {
        const auto& c = outline[k];
        if (c.size() != 4) {
            XlOutlineFrom(r, {c[0].x + dx, c[0].y + dy}, sides[k]);
            continue;
        }
        corners.clear();
        for (const POINTL& q : c) corners.push_back({q.x + dx, q.y + dy});
        XlRectilinearOutline(r, corners);
    }
}

}  // namespace

void XlGlyphInkPath(DeviceRecord& r, const PlacedGlyphInk& ink) {
    auto moved = [](const RECTL& q, const PlacedGlyphInk::Glyph& g) {
        return RECTL{q.left + g.dx, q.top + g.dy, q.right + g.dx, q.bottom + g.dy};
    };
    if (!ink.inRange) {
        // Points are cut to the signed 16-bit range before tracing: the
        // whole string is traced as it lies.
        std::vector<RECTL> all;
        for (const auto& g : ink.glyphs)
            for (const RECTL& q : g.shape->rects) all.push_back(moved(q, g));
        XlRectanglesPath(r, all);
        return;
    }
    // The clusters of all glyphs left to right; those that touch or overlap
    // across glyphs are traced together, as one trace of the whole string
    // would group them. A cluster alone is its kept outline, moved.
    struct Placed {
        LONG left, right;
        const PlacedGlyphInk::Glyph* glyph;
        const Cluster* cluster;
    };
    std::vector<Placed> clusters;
    for (const auto& g : ink.glyphs)
        for (const Cluster& c : g.shape->clusters) clusters.push_back({c.left + g.dx, c.right + g.dx, &g, &c});
    std::sort(clusters.begin(), clusters.end(), [](const Placed& a, const Placed& b) { return a.left < b.left; });
    std::vector<RECTL> rects;
    std::string key;
    for (size_t first = 0; first < clusters.size();) {
        size_t last = first + 1;
        LONG right = clusters[first].right;
        for (; last < clusters.size() && clusters[last].left <= right; ++last) right = std::max(right, clusters[last].right);
        const Placed& lead = clusters[first];
        const LONG dx = lead.glyph->dx, dy = lead.glyph->dy;
        if (last == first + 1) {
            SendOutline(r, lead.cluster->outline, lead.cluster->sides, dx, dy);
            first = last;
            continue;
        }
        // Several glyphs' clusters traced as one, kept by which they are
        // and where each lies from the first.
        key.clear();
        for (size_t k = first; k < last; ++k) {
            const Placed& p = clusters[k];
            const struct {
                const void* cluster;
                LONG x, y;
            } part{p.cluster, p.glyph->dx - dx, p.glyph->dy - dy};
            key.append(reinterpret_cast<const char*>(&part.cluster), sizeof part.cluster);
            key.append(reinterpret_cast<const char*>(&part.x), sizeof part.x);
            key.append(reinterpret_cast<const char*>(&part.y), sizeof part.y);
        }
        auto& kept = r.glyphInk->joined;
        auto it = kept.find(key);
        if (it == kept.end()) {
            rects.clear();
            for (size_t k = first; k < last; ++k) {
                const Placed& p = clusters[k];
                const auto own = std::span<const RECTL>(p.glyph->shape->rects).subspan(p.cluster->first, p.cluster->count);
                for (const RECTL& q : own)
                    rects.push_back({q.left + p.glyph->dx - dx, q.top + p.glyph->dy - dy, q.right + p.glyph->dx - dx,
                                     q.bottom + p.glyph->dy - dy});
            }
            JoinedInk joined;
            joined.outline = OutlineOfRectangles(rects);
            for (const auto& polygon : joined.outline) {
                joined.sides.emplace_back();
                if (polygon.size() != 4) XlOutlineSides(polygon, joined.sides.back());
            }
            it = kept.emplace(key, std::move(joined)).first;
        }
        SendOutline(r, it->second.outline, it->second.sides, dx, dy);
        first = last;
    }
}

}  // namespace pclrend
