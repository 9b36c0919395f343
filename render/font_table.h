// The soft fonts sent in the current job: one entry per PCL font on (or once
// on) the printer, with what of it was sent, a use list from the most to the
// least recently used, and the estimate of the printer's free memory that
// decides when fonts not used on the current page are deleted again.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pclrend {

constexpr uint16_t kNoEntry = 0xFFFF;
constexpr uint16_t kFirstSoftFontId = 16385;
constexpr uint32_t kBlockSize = 224;       // glyphs of one 8-bit PCL font (codes 32-255)
constexpr uint32_t kBlockCount = 293;      // blocks of 224 that glyph indexes up to 65535 reach
constexpr int64_t kMemoryMargin = 50000;   // kept free beyond every header or glyph

// Entry kinds (bit 0 set: a bitmap font), with the simulation bits of the
// font object.
constexpr uint32_t kKindBitmap = 1;
constexpr uint32_t kSimBold = 0x2000;
constexpr uint32_t kSimItalic = 0x4000;

// A copy of the font file the glyphs are read from, shared by the entries
// of one font's block chain.
struct FontTableBuffer {
    std::vector<uint8_t> file;
    uint32_t directoryAt = 0;  // the font's table directory within `file`
};

// One bit per value; bit (15 - n mod 16) of 16-bit word n / 16.
template <size_t Words>
struct GlyphBits {
    std::array<uint16_t, Words> words{};
    bool Test(uint32_t n) const { return n / 16 < Words && (words[n / 16] >> (15 - n % 16)) & 1; }
    void Set(uint32_t n) {
        if (n / 16 < Words) words[n / 16] |= static_cast<uint16_t>(1u << (15 - n % 16));
    }
    void Clear() { words.fill(0); }
};

struct DownloadedFontEntry {
    uint32_t bytesSent = 0;
    uint16_t lastPage = 0;  // 0: not on the printer
    uint32_t inUse = 0;
    uint16_t fontId = 0;
    GlyphBits<4096> glyphBits;      // glyphs sent with their own code
    uint8_t flags = 0;              // bit 0: header sent
    std::shared_ptr<FontTableBuffer> tables;
    uint16_t lruNext = kNoEntry;    // towards the most recently used end
    uint16_t lruPrev = kNoEntry;    // towards the least recently used end
    std::bitset<256> blockBits;     // codes of this PCL font sent
    uint16_t chainNext = 0;         // next entry of the same font (its own index at the end)
    uint16_t block = 0;             // block + 1 held, 0 none yet
    uint32_t uniq = 0;
    uint32_t ttUniq = 0;
    uint32_t kind = 0;
    GlyphBits<4096> componentBits;  // glyphs sent as components (code 65535)
    uint8_t dbcs = 0;
    uint8_t continuation = 0;       // another block's entry of a chain, not its head
};

struct DownloadedFonts {
    std::vector<DownloadedFontEntry> entries;
    uint16_t mostRecent = kNoEntry;
    uint16_t leastRecent = kNoEntry;
    uint16_t selectedFontId = 0xFFFF;  // ESC(#X last sent
    uint16_t namedFontId = 0xFFFF;     // ESC*c#D last sent
    uint16_t selectedSymbolSet = 0xFFFF;
    uint16_t selectedHeight = 0;       // ESC(s#V last sent, hundredths of a point
    std::bitset<kBlockCount> blockSetsDefined;
    bool tracking = false;             // a printer memory size is known
    int64_t freeMemory = 0;
    bool exhausted = false;
    uint16_t page = 0;
    // What the table holds in this process: the entries and the distinct
    // table buffers (for the memory figures).
    size_t HeldBytes() const;
};

// The free memory a printer of `megabytes` starts with; tracking is off for
// 0 (the size is not known).
int64_t PrinterMemoryBytes(uint16_t megabytes);

// At the start of a document: every entry is off the printer again, table
// buffers stay; the block symbol sets are undefined.
void ResetDownloadedFonts(DownloadedFonts& d, uint16_t megabytes);

// A new entry (font ID 16385 + index); kNoEntry when the IDs run out.
uint16_t AddEntry(DownloadedFonts& d);
// Moves an entry to the most recently used end of the use list.
void TouchEntry(DownloadedFonts& d, uint16_t index);
void UnlinkEntry(DownloadedFonts& d, uint16_t index);

// Frees printer memory until `need` + the margin fits: from the least
// recently used end, every entry that was sent, is not on page `page` and
// not in use is deleted (`remove` sends the deletion), its bytes returned to
// the estimate, its marks cleared and its buffer dropped. True when the
// estimate now covers the need (always with tracking off).
bool ReclaimPrinterMemory(DownloadedFonts& d, int64_t need, const std::function<void(DownloadedFontEntry&)>& remove);

// Records `bytes` sent for an entry: counted for it and, with tracking on,
// taken from the estimate.
void ChargeEntry(DownloadedFonts& d, DownloadedFontEntry& e, uint32_t bytes);

}  // namespace pclrend
