// A bounded reader of TrueType font files.
#include "render/sfnt.h"

#include <algorithm>

namespace pclrend {

uint16_t Be16(std::span<const uint8_t> b, size_t at) {
    if (at > b.size() || b.size() - at < 2) return 0;
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

uint32_t Be32(std::span<const uint8_t> b, size_t at) {
    if (at > b.size() || b.size() - at < 4) return 0;
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

uint32_t TableChecksum(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 4 <= bytes.size(); i += 4) sum += Be32(bytes, i);
    uint32_t last = 0;
    for (size_t k = 0; i + k < bytes.size(); ++k) last |= uint32_t{bytes[i + k]} << (24 - 8 * k);
    return sum + last;
}

std::optional<Sfnt> Sfnt::Open(std::span<const uint8_t> file, uint32_t at) {
    if (at > file.size() || file.size() - at < 12) return std::nullopt;
    const uint32_t version = Be32(file, at);
    if (version != 0x00010000 && version != SfntTag("true") && version != SfntTag("OTTO")) return std::nullopt;
    const uint16_t count = Be16(file, at + 4);
    if ((file.size() - at - 12) / 16 < count) return std::nullopt;
    Sfnt s;
    s.file_ = file;
    s.at_ = at;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t e = at + 12 + size_t{16} * i;
        SfntTable t{Be32(file, e), Be32(file, e + 4), Be32(file, e + 8), Be32(file, e + 12)};
        if (t.offset > file.size() || file.size() - t.offset < t.length) continue;
        s.tables_.push_back(t);
    }
    return s;
}

bool Sfnt::IsCollection(std::span<const uint8_t> file) { return Be32(file, 0) == SfntTag("ttcf"); }

namespace {

// The Windows family name records of a name table equal to `family`.
bool NameTableHasFamily(std::span<const uint8_t> name, std::u16string_view family) {
    const uint16_t count = Be16(name, 2);
    const uint16_t storage = Be16(name, 4);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t r = 6 + size_t{12} * i;
        if (r + 12 > name.size()) return false;
        if (Be16(name, r) != 3 || Be16(name, r + 2) != 1 || Be16(name, r + 6) != 1) continue;
        const uint16_t length = Be16(name, r + 8);
        const size_t offset = size_t{storage} + Be16(name, r + 10);
        if (length != family.size() * 2 || offset > name.size() || name.size() - offset < length) continue;
        bool same = true;
        for (size_t k = 0; k < family.size() && same; ++k) same = Be16(name, offset + 2 * k) == family[k];
        if (same) return true;
    }
    return false;
}

}  // namespace

std::optional<Sfnt> Sfnt::Resolve(std::span<const uint8_t> file, std::u16string_view family) {
    if (!IsCollection(file)) return Open(file, 0);
    const uint32_t fonts = Be32(file, 8);
    for (uint32_t i = 0; i < fonts && 12 + size_t{4} * i + 4 <= file.size(); ++i) {
        auto font = Open(file, Be32(file, 12 + size_t{4} * i));
        if (font && NameTableHasFamily(font->Table(SfntTag("name")), family)) return font;
    }
    return std::nullopt;
}

const SfntTable* Sfnt::Find(uint32_t tag) const {
    for (const SfntTable& t : tables_)
        if (t.tag == tag) return &t;
    return nullptr;
}

std::span<const uint8_t> Sfnt::Table(uint32_t tag) const {
    const SfntTable* t = Find(tag);
    return t ? file_.subspan(t->offset, t->length) : std::span<const uint8_t>{};
}

namespace {

// The offset in "cmap" of the Windows subtable (encoding 1 first, then 0),
// and its encoding; nullopt when there is none.
std::optional<std::pair<size_t, uint16_t>> WindowsSubtable(std::span<const uint8_t> cmap) {
    const uint16_t count = Be16(cmap, 2);
    std::optional<std::pair<size_t, uint16_t>> found;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t r = 4 + size_t{8} * i;
        if (r + 8 > cmap.size()) break;
        const uint16_t platform = Be16(cmap, r), encoding = Be16(cmap, r + 2);
        const uint32_t offset = Be32(cmap, r + 4);
        if (platform != 3 || (encoding != 1 && encoding != 0) || offset >= cmap.size()) continue;
        if (encoding == 1) return std::pair<size_t, uint16_t>{offset, encoding};
        if (!found) found = std::pair<size_t, uint16_t>{offset, encoding};
    }
    return found;
}

}  // namespace

bool Sfnt::Usable() const {
    for (const char* tag : {"OS/2", "cmap", "glyf", "head", "loca", "post", "hhea", "hmtx", "maxp"}) {
        const char t[5] = {tag[0], tag[1], tag[2], tag[3], 0};
        if (!Find(SfntTag(t))) return false;
    }
    // The tables the header reads from must hold those fields.
    if (Table(SfntTag("head")).size() < 54 || Table(SfntTag("maxp")).size() < 6 ||
        Table(SfntTag("hhea")).size() < 36 || Table(SfntTag("OS/2")).size() < 78)
        return false;
    if (UnitsPerEm() == 0) return false;
    return WindowsSubtable(Table(SfntTag("cmap"))).has_value();
}

std::span<const uint8_t> Sfnt::Glyph(uint32_t glyph) const {
    if (glyph >= NumGlyphs()) return {};
    auto loca = Table(SfntTag("loca"));
    auto glyf = Table(SfntTag("glyf"));
    uint64_t from, to;
    if (LongLoca()) {
        if ((glyph + size_t{2}) * 4 > loca.size()) return {};
        from = Be32(loca, size_t{4} * glyph);
        to = Be32(loca, size_t{4} * glyph + 4);
    } else {
        if ((glyph + size_t{2}) * 2 > loca.size()) return {};
        from = uint64_t{Be16(loca, size_t{2} * glyph)} * 2;
        to = uint64_t{Be16(loca, size_t{2} * glyph + 2)} * 2;
    }
    if (to <= from || to > glyf.size()) return {};
    return glyf.subspan(static_cast<size_t>(from), static_cast<size_t>(to - from));
}

uint32_t Sfnt::MapCode(uint32_t code) const {
    auto cmap = Table(SfntTag("cmap"));
    auto sub = WindowsSubtable(cmap);
    if (!sub) return 0;
    auto t = cmap.subspan(sub->first);
    const uint16_t format = Be16(t, 0);
    if (format == 0) return code < 256 && 6 + code < t.size() ? t[6 + code] : 0;
    if (format != 4) return 0;
    const size_t length = std::min<size_t>(Be16(t, 2), t.size());
    t = t.first(length);
    const uint32_t segments = Be16(t, 6) / 2u;
    const size_t ends = 14, starts = ends + 2 * size_t{segments} + 2, deltas = starts + 2 * size_t{segments},
                 ranges = deltas + 2 * size_t{segments};
    if (ranges + 2 * size_t{segments} > t.size() || segments == 0) return 0;
    // Symbol fonts (encoding 0) keep their characters at F000 upwards.
    if (sub->second == 0 && code <= 0x0FFF && (Be16(t, starts) & 0xF000) == 0xF000) code += 0xF000;
    if (code > 0xFFFF) return 0;
    for (uint32_t s = 0; s < segments; ++s) {
        if (Be16(t, ends + 2 * s) < code) continue;
        const uint16_t start = Be16(t, starts + 2 * s);
        if (start > code) return 0;
        const uint16_t delta = Be16(t, deltas + 2 * s);
        const size_t rangeAt = ranges + 2 * size_t{s};
        const uint16_t range = Be16(t, rangeAt);
        if (range == 0) return (code + delta) & 0xFFFF;
        const size_t at = rangeAt + range + 2 * size_t{code - start};
        const uint16_t g = Be16(t, at);  // 0 when outside the subtable
        return g ? (g + delta) & 0xFFFF : 0;
    }
    return 0;
}

Sfnt::HMetric Sfnt::Metrics(uint32_t glyph) const {
    auto hmtx = Table(SfntTag("hmtx"));
    const uint16_t longs = Be16(Table(SfntTag("hhea")), 34);
    if (longs == 0) return {};
    if (glyph < longs) return {static_cast<int16_t>(Be16(hmtx, 4 * size_t{glyph} + 2)), Be16(hmtx, 4 * size_t{glyph})};
    const uint16_t advance = Be16(hmtx, 4 * (size_t{longs} - 1));
    return {static_cast<int16_t>(Be16(hmtx, 4 * size_t{longs} + 2 * (size_t{glyph} - longs))), advance};
}

bool Sfnt::Components(uint32_t glyph, std::vector<uint16_t>& out) const {
    out.clear();
    auto g = Glyph(glyph);
    if (g.size() < 10 || Be16(g, 0) != 0xFFFF) return true;
    size_t at = 10;
    for (;;) {
        if (at + 4 > g.size()) return false;
        const uint16_t flags = Be16(g, at);
        out.push_back(Be16(g, at + 2));
        at += 4 + ((flags & 1) ? 4 : 2);
        if (flags & 8) at += 2;
        else if (flags & 0x40) at += 4;
        else if (flags & 0x80) at += 8;
        if (at > g.size()) return false;
        if (!(flags & 0x20)) return true;
    }
}

bool Sfnt::AllComponents(uint32_t glyph, std::vector<uint16_t>& out) const {
    out.clear();
    const uint32_t count = NumGlyphs();
    if (glyph >= count) return false;
    std::vector<uint16_t> direct;
    if (!Components(glyph, direct)) return false;
    if (direct.empty()) return true;  // a simple glyph: nothing to walk
    // A glyph is expanded once (visited); one still open on the walk's path
    // met again is a cycle.
    std::vector<uint8_t> state(count, 0);  // 1 open, 2 done
    struct Frame {
        uint16_t glyph;
        std::vector<uint16_t> parts;
        size_t next = 0;
    };
    std::vector<Frame> path;
    Frame root{static_cast<uint16_t>(glyph), std::move(direct), 0};
    state[glyph] = 1;
    path.push_back(std::move(root));
    while (!path.empty()) {
        Frame& f = path.back();
        if (f.next == f.parts.size()) {
            state[f.glyph] = 2;
            path.pop_back();
            continue;
        }
        const uint16_t c = f.parts[f.next++];
        if (c >= count || state[c] == 1) return false;
        if (state[c] == 2) continue;
        if (path.size() > kMaxCompositeDepth) return false;
        out.push_back(c);
        Frame child{c, {}, 0};
        if (!Components(c, child.parts)) return false;
        state[c] = 1;
        path.push_back(std::move(child));
    }
    return true;
}

}  // namespace pclrend
