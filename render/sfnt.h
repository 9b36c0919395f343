// A bounded reader of TrueType font files (sfnt), for the soft fonts the
// renderer sends. Font files come from applications and are not trusted:
// every offset, count and length is checked against the file before it is
// read, and a read that would leave the file answers "nothing" instead.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace pclrend {

constexpr uint32_t SfntTag(const char (&t)[5]) {
    return uint32_t{static_cast<uint8_t>(t[0])} << 24 | uint32_t{static_cast<uint8_t>(t[1])} << 16 |
           uint32_t{static_cast<uint8_t>(t[2])} << 8 | static_cast<uint8_t>(t[3]);
}

// Big-endian reads that answer 0 past the end.
uint16_t Be16(std::span<const uint8_t> b, size_t at);
uint32_t Be32(std::span<const uint8_t> b, size_t at);
// Big-endian writes, for the headers built from a font's tables.
inline void PutBe16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}
inline void PutBe32(std::vector<uint8_t>& v, uint32_t x) {
    PutBe16(v, x >> 16);
    PutBe16(v, x & 0xFFFF);
}

// The sum of the big-endian 32-bit words, a last partial word padded with
// zeros on the right.
uint32_t TableChecksum(std::span<const uint8_t> bytes);

struct SfntTable {
    uint32_t tag = 0;
    uint32_t checksum = 0;
    uint32_t offset = 0;  // from the start of the file
    uint32_t length = 0;
};

// Composite glyphs nest at most this deep.
constexpr int kMaxCompositeDepth = 16;

class Sfnt {
public:
    // The font whose table directory starts at `at` in `file`; nullopt when
    // the directory does not fit the file. Tables that reach past the end
    // are left out.
    static std::optional<Sfnt> Open(std::span<const uint8_t> file, uint32_t at = 0);
    // A plain font, or the font of a collection ("ttcf") whose name table
    // has a Windows Unicode family name (platform 3, encoding 1, name 1) equal
    // to `family`; nullopt when none matches.
    static std::optional<Sfnt> Resolve(std::span<const uint8_t> file, std::u16string_view family);
    static bool IsCollection(std::span<const uint8_t> file);

    std::span<const uint8_t> File() const { return file_; }
    uint32_t DirectoryOffset() const { return at_; }
    const std::vector<SfntTable>& Tables() const { return tables_; }
    const SfntTable* Find(uint32_t tag) const;
    std::span<const uint8_t> Table(uint32_t tag) const;  // empty when absent

    // Every table the printer's font engine needs, and a Windows character
    // map (platform 3, encoding 1 or 0).
    bool Usable() const;

    uint16_t NumGlyphs() const { return Be16(Table(SfntTag("maxp")), 4); }
    uint16_t UnitsPerEm() const { return Be16(Table(SfntTag("head")), 18); }
    bool LongLoca() const { return Be16(Table(SfntTag("head")), 50) != 0; }

    // The glyph's outline data in "glyf" (empty for a glyph with no outline,
    // or one whose location is not inside the table).
    std::span<const uint8_t> Glyph(uint32_t glyph) const;
    // The character code's glyph through the Windows character map (0 when
    // none).
    uint32_t MapCode(uint32_t code) const;
    // Left side bearing and advance width from "hmtx".
    struct HMetric {
        int16_t lsb = 0;
        uint16_t advance = 0;
    };
    HMetric Metrics(uint32_t glyph) const;

    // The direct components of a composite glyph (empty for a simple one);
    // false when the glyph's component records run past its data.
    bool Components(uint32_t glyph, std::vector<uint16_t>& out) const;
    // Every glyph a glyph is built from, nested components included, each
    // once, in the order they are first reached (not the glyph itself).
    // False for a component outside the font, a cycle, nesting deeper than
    // kMaxCompositeDepth, or a record that runs past its glyph.
    bool AllComponents(uint32_t glyph, std::vector<uint16_t>& out) const;

private:
    std::span<const uint8_t> file_;
    uint32_t at_ = 0;
    std::vector<SfntTable> tables_;
};

}  // namespace pclrend
