// Device fonts of the job: faces, widths, kerning pairs and the job's font
// state, read from the font summary with every offset checked against it.
#include "render/device_fonts.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "render/device_record.h"

namespace pclrend {

const std::array<SymbolSetVariant, 10> kSymbolSetVariants = {{
    {0, 629, 1, 0x1, 0, "W1", "19U"},
    {238, 293, 2, 0x2, 0, "WE", "9E"},
    {204, 306, 3, 0x4, 0, "WR", "9R"},
    {162, 180, 4, 0x10, 0, "WT", "5T"},
    {186, 620, 5, 0x80, 0, "WL", "19L"},
    {161, 295, 6, 0x8, 0, "WG", "9G"},
    {130, 584, 7, 0x200000, 0, "", "18H"},
    {136, 596, 8, 0x100000, 0, "", "18T"},
    {134, 579, 9, 0x40000, 0, "", "18C"},
    {128, 619, 10, 0x20000, 0, "", "19K"},
}};

bool IsDbcsCharset(uint8_t charSet) { return charSet == 128 || charSet == 129 || charSet == 134 || charSet == 136; }

namespace {

uint16_t U16(std::span<const uint8_t> b, size_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | (b[at + 1] << 8)) : 0;
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return at + 4 <= b.size() ? static_cast<uint32_t>(U16(b, at) | (uint32_t{U16(b, at + 2)} << 16)) : 0;
}

constexpr size_t kHeader = sizeof(zq::FontSummaryHeader);
constexpr size_t kEntry = sizeof(zq::FontSummaryEntry);

}  // namespace

SummaryView ViewSummary(std::span<const uint8_t> block) {
    SummaryView v;
    if (block.size() < kHeader) return v;
    const uint16_t count = U16(block, 4);
    const uint64_t pools = kHeader + uint64_t{count} * kEntry;
    const uint64_t pool1 = U32(block, 8), pool2 = U32(block, 12);
    if (U16(block, 0) != 1 || pools + pool1 + pool2 > block.size()) return v;
    v.block = block;
    v.entries = {reinterpret_cast<const zq::FontSummaryEntry*>(block.data() + kHeader), count};
    v.names = block.subspan(pools, pool1);
    v.data = block.subspan(pools + pool1, pool2);
    v.kerning = block.subspan(pools + pool1 + pool2);
    return v;
}

const zq::FontSummaryEntry* FontRow(const DeviceRecord& r, uint32_t row) {
    const SummaryView v = ViewSummary(r.fonts.summary);
    if (row == 0 || row > v.entries.size()) return nullptr;
    return &v.entries[row - 1];
}

namespace {

std::string NameAt(std::span<const uint8_t> names, uint32_t offset, size_t limit) {
    if (offset >= names.size()) return {};
    const char* p = reinterpret_cast<const char*>(names.data() + offset);
    return std::string(p, strnlen(p, std::min(limit, names.size() - offset)));
}

}  // namespace

std::string FontFaceName(const DeviceRecord& r, uint32_t row) {
    const auto* e = FontRow(r, row);
    return e ? NameAt(ViewSummary(r.fonts.summary).names, e->strings[0], 255) : std::string();
}

std::string FontSelection(const DeviceRecord& r, uint32_t row) {
    const auto* e = FontRow(r, row);
    return e ? NameAt(ViewSummary(r.fonts.summary).names, e->strings[2], 80) : std::string();
}

std::span<const uint8_t> FontData(const DeviceRecord& r, uint32_t offset, size_t size) {
    const SummaryView v = ViewSummary(r.fonts.summary);
    if (offset == zq::kEmptySlot || offset > v.data.size() || size > v.data.size() - offset) return {};
    return v.data.subspan(offset, size);
}

std::array<uint32_t, 2> FontMasks(const DeviceRecord& r, uint32_t row) {
    const auto* e = FontRow(r, row);
    if (!e) return {0, 0};
    const auto block = FontData(r, e->symbolSets, 24);
    return {U32(block, 16), U32(block, 20)};
}

uint8_t VariantCount(const std::array<uint32_t, 2>& fontMasks, const uint32_t (&jobMasks)[2]) {
    const int n = std::popcount(fontMasks[0] & jobMasks[0]) + std::popcount(fontMasks[1] & jobMasks[1]);
    return static_cast<uint8_t>(std::clamp(n, 1, 255));
}

void CountVariants(DeviceRecord& r) {
    const SummaryView v = ViewSummary(r.fonts.summary);
    r.fonts.use.assign(v.entries.size(), 0);
    if (r.language == Language::SpoolStream) return;
    for (uint32_t row = 1; row <= v.entries.size(); ++row) r.fonts.use[row - 1] = VariantCount(FontMasks(r, row), r.fonts.masks);
}

uint32_t CountFaces(const DeviceRecord& r) {
    uint32_t n = 0;
    for (uint8_t c : r.fonts.use) n += c;
    return n & 0xFFFF;
}

uint32_t FaceToFont(const DeviceRecord& r, uint32_t face) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < r.fonts.use.size(); ++i) {
        sum += r.fonts.use[i];
        if (sum >= face) return i + 1;
    }
    return 1;
}

uint16_t FaceSymbolSet(const DeviceRecord& r, uint32_t face) {
    const uint32_t row = FaceToFont(r, face);
    uint32_t before = 0;
    for (uint32_t i = 0; i + 1 < row && i < r.fonts.use.size(); ++i) before += r.fonts.use[i];
    const auto masks = FontMasks(r, row);
    const uint32_t m1 = r.fonts.masks[0] & masks[0], m2 = r.fonts.masks[1] & masks[1];
    if (!m1 && !m2) return kNoVariant;
    // Faces count from 1 within their font: the first is the font's first
    // allowed set.
    uint32_t position = face > before ? face - before : 0;
    if (position == 0) return 0;
    for (uint16_t i = 0; i < kSymbolSetVariants.size(); ++i) {
        const auto& v = kSymbolSetVariants[i];
        if (((v.mask1 & m1) || (v.mask2 & m2)) && --position == 0) return i;
    }
    return 0;
}

namespace {

// A format-4 character map as the summary keeps it: segment count x 2 at
// 18, end codes from 26, a pad, start codes, deltas.
struct CharMapView {
    std::span<const uint8_t> map;
    size_t n = 0;  // segments
    explicit CharMapView(std::span<const uint8_t> m) : map(m) {
        const size_t s = U16(m, 18) / 2;
        // Only segments whose three words lie inside the map.
        n = m.size() >= 28 ? std::min(s, (m.size() - 28) / 6) : 0;
    }
    uint16_t End(size_t i) const { return U16(map, 26 + 2 * i); }
    uint16_t Start(size_t i) const { return U16(map, 28 + 2 * n + 2 * i); }
    uint16_t Delta(size_t i) const { return U16(map, 28 + 4 * n + 2 * i); }
};

}  // namespace

uint32_t GlyphOfCode(std::span<const uint8_t> charMap, uint32_t code) {
    const CharMapView m(charMap);
    for (size_t i = 0; i < m.n; ++i) {
        if (m.End(i) < code) continue;
        if (m.Start(i) > code) return 0;
        return (code + m.Delta(i)) & 0xFFFF;
    }
    return 0;
}

int16_t GlyphWidth(std::span<const uint8_t> charMap, std::span<const uint8_t> widths, uint32_t code) {
    const uint32_t glyph = GlyphOfCode(charMap, code);
    const size_t at = 2 * size_t{glyph} + 2 <= widths.size() ? 2 * size_t{glyph} : 0;
    return static_cast<int16_t>(U16(widths, at));
}

std::vector<std::pair<uint16_t, uint16_t>> CharMapRuns(std::span<const uint8_t> charMap) {
    const CharMapView m(charMap);
    std::vector<std::pair<uint16_t, uint16_t>> runs;
    for (size_t i = 0; i + 1 < m.n; ++i) {
        if (m.End(i) < m.Start(i)) continue;
        runs.push_back({m.Start(i), static_cast<uint16_t>(m.End(i) - m.Start(i) + 1)});
    }
    return runs;
}

namespace {

std::span<const uint8_t> CharMapOf(const DeviceRecord& r, const zq::FontSummaryEntry& e) {
    const auto head = FontData(r, e.charMap, 20);
    if (head.empty()) return {};
    const size_t s = U16(head, 18);
    return FontData(r, e.charMap, (s + 10) * 3);
}

std::span<const uint8_t> WidthsOf(const DeviceRecord& r, const zq::FontSummaryEntry& e) {
    // The table has one entry per glyph the font has; a damaged count reads
    // what the data area holds.
    const SummaryView v = ViewSummary(r.fonts.summary);
    if (e.widths == zq::kEmptySlot || e.widths >= v.data.size()) return {};
    return v.data.subspan(e.widths, std::min<size_t>(v.data.size() - e.widths, 2 * size_t{e.word32}));
}

}  // namespace

int32_t HandleWidth(const DeviceRecord& r, uint32_t row, uint32_t handle) {
    const auto* e = FontRow(r, row);
    if (!e) return 0;
    const bool dbcs = IsDbcsCharset(e->charSet);
    if ((e->pitchAndFamily & 1) == 0) return dbcs && (handle & 0xFF00) ? 2 * e->avgWidth : e->avgWidth;
    const auto widths = WidthsOf(r, *e);
    if (e->charSet == 1 || dbcs) return GlyphWidth(CharMapOf(r, *e), widths, handle);
    const size_t at = 2 * size_t{handle};
    return at + 2 <= widths.size() ? static_cast<int16_t>(U16(widths, at)) : 0;
}

std::span<const uint8_t> FontCharMap(const DeviceRecord& r, uint32_t row) {
    const auto* e = FontRow(r, row);
    return e ? CharMapOf(r, *e) : std::span<const uint8_t>{};
}

namespace {

struct Equivalents {
    const char* face;
    std::vector<const char*> names;
};

const std::vector<Equivalents>& EquivalentTable() {
    static const std::vector<Equivalents> table = {
        {"CG Times", {"Tms Rmn", "Times Roman", "Times", "TmsRmn", "Varitimes", "Dutch", "MS Serif", "CG Times"}},
        {"Univers", {"Helvetica", "Helv", "MS Sans Serif", "Swiss", "Univers"}},
        {"CG Triumv", {"Helvetica", "Helv", "MS Sans Serif", "Swiss", "Univers"}},
        {"CG Cent Schl", {"Century Schoolbook"}},
        {"Garamond", {"ITC Garamond"}},
        {"CG Palacio", {"Palatino"}},
        {"CG Bodini", {"Bodini", "Bauer Bodini", "Bodini Compressed"}},
        {"CG Goudy", {"Goudy Old Style", "Goudy"}},
        {"CG Melizza", {"Melior"}},
        {"CG Omega", {"Optima", "CG Omega"}},
        {"Arial", {"Arial"}},
        {"Times New", {"Times New Roman"}},
        {"Courier", {"Courier"}},
    };
    return table;
}

}  // namespace

std::span<const char* const> FamilyEquivalents(std::string_view face) {
    for (const auto& e : EquivalentTable())
        if (face == e.face) return e.names;
    return {};
}

namespace {

uint32_t Key(const StoredKerningPair& p) { return uint32_t{p.first} | (uint32_t{p.second} << 16); }

// Quicksort with the first element as pivot; recursion on the smaller side,
// a loop on the larger. The swap temporaries are the call's own, so sorts
// may run side by side.
void Sort(std::span<StoredKerningPair> a, int32_t lo, int32_t hi) {
    while (hi - lo >= 1) {
        const uint32_t pivot = Key(a[lo]);
        int32_t i = lo, j = hi + 1;
        for (;;) {
            do ++i; while (i <= hi && Key(a[i]) < pivot);
            do --j; while (Key(a[j]) > pivot);
            if (i >= j) break;
            std::swap(a[i], a[j]);
        }
        std::swap(a[lo], a[j]);
        if (j - lo < hi - j) {
            Sort(a, lo, j - 1);
            lo = j + 1;
        } else {
            Sort(a, j + 1, hi);
            hi = j - 1;
        }
    }
}

}  // namespace

void SortKerningPairs(std::span<StoredKerningPair> pairs) {
    if (pairs.size() >= 2) Sort(pairs, 0, static_cast<int32_t>(pairs.size()) - 1);
}

void MarkFontUsed(DeviceRecord& r, uint32_t row) {
    const SummaryView v = ViewSummary(r.fonts.summary);
    auto* entries = reinterpret_cast<zq::FontSummaryEntry*>(r.fonts.summary.data() + kHeader);
    for (uint32_t i = 0; i < v.entries.size(); ++i) {
        zq::FontSummaryEntry& e = entries[i];
        if (e.strings[6] == 0xFFFFFFFF) continue;
        if (i + 1 == row) {
            e.useAge = 0;
            if (!e.used) {
                e.used = 1;
                ++r.fonts.fontsUsedCount;
            }
        } else if (e.useAge != 0xFFFF) {
            ++e.useAge;
        }
    }
}

int64_t PrinterMemoryOf(uint16_t megabytes) {
    return megabytes ? int64_t{megabytes} * 921600 - 462848 : 0;
}

bool ReserveFontMemory(DeviceRecord& r) {
    FontState& f = r.fonts;
    f.memoryExhausted = false;
    f.fontsUsedCount = 0;
    int64_t reservation = 0;
    if (f.trackMemory) {
        // Installed fonts the printer keeps once they are sent.
        for (const auto& e : ViewSummary(f.summary).entries)
            if (e.resourceId == 0xFFFF) reservation += e.memory;
        reservation += 102400;
    }
    f.freeMemory = f.printerMemory - reservation;
    // A record without a memory figure is not tracked, and not refused.
    return f.printerMemory == 0 || f.freeMemory >= 50000;
}

void PageFontReset(DeviceRecord& r) {
    // A PCL XL page starts with the printer's default text state.
    r.fonts.xformKnown = false;
    r.fonts.xlSimItalic = false;
    r.fonts.xlCharSize = -1;
    r.fonts.xlSymbolSet = 0xFFFF;
    r.fonts.xlRow = 0;
    r.xl.boldValue = false;
    if (r.fonts.summary.size() < kHeader) return;
    const SummaryView v = ViewSummary(r.fonts.summary);
    auto* entries = reinterpret_cast<zq::FontSummaryEntry*>(r.fonts.summary.data() + kHeader);
    for (size_t i = 0; i < v.entries.size(); ++i) entries[i].used = 0;
    r.fonts.fontsUsedCount = 0;
}

std::vector<char> ParseSubstitutes(std::span<const uint8_t> value) {
    std::vector<char> list(value.begin(), value.end());
    for (char& c : list)
        if (c == '=' || c == ';') c = '\0';
    // The stored text need not end in a NUL: the list always does, with an
    // empty name after the last pair.
    list.push_back('\0');
    list.push_back('\0');
    return list;
}

std::string_view SubstituteFor(const DeviceRecord& r, std::string_view family) {
    const auto& list = r.fonts.substituteList;
    size_t at = 0;
    auto next = [&]() -> std::string_view {
        if (at >= list.size()) return {};
        const char* p = list.data() + at;
        const size_t n = strnlen(p, list.size() - at);
        at += n + 1;
        return {p, n};
    };
    while (at < list.size()) {
        const std::string_view tt = next();
        if (tt.empty()) break;
        const std::string_view dev = next();
        if (tt == family) return dev;
    }
    return {};
}

size_t CountDbcsNames(std::string_view value) {
    value = value.substr(0, value.find('\0'));
    if (value.empty()) return 0;
    return static_cast<size_t>(std::count(value.begin(), value.end(), ';')) + 1;
}

}  // namespace pclrend
