// The spool stream of host finishing (output mode 4): its buffer, the
// document and page hooks, and the state the drawing records and the
// private escapes share with them.
#pragma once

#include <array>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/spool_stream.h"
#include "render/device_record.h"

namespace pclrend {

constexpr uint32_t kStreamPiece = 65535;   // largest single write of the stream
constexpr uint32_t kMaxStreamPages = 65535; // the index counts pages in 16 bits

// The stream settings of the record, from the job's DEVMODE.
struct StreamFields {
    uint8_t hostCollate = 0;
    uint8_t tag21Value = 0, tag29Value = 0, tag30Value = 0, tag31Value = 0, tag37Value = 0, tag38Value = 0,
            tag39Value = 0, tag45Value = 0, tag48Value = 0;
    uint8_t bookletParam = 0, bookletBinding = 0, bookletValue = 0;
    uint8_t posterSize = 0, posterFlag = 0;
    uint32_t posterValue = 0;
    uint8_t manualDuplexFront = 0, manualDuplexBack = 0;
    uint8_t perSheetTrays = 0;
    std::array<uint16_t, 11> slotKind{};
    std::array<uint8_t, 11> slotTray{};
    std::array<uint8_t, 11> trayCode{};
    uint8_t bindingEdge = 0;
    // Drawing requests of the interface driver (escapes 5000-5007).
    uint8_t overlayParityMode = 0, overlayEnabled = 0, overlayCodeFirst = 0, overlayCodeOther = 0;
    uint8_t frameCodeA = 0, frameCodeB = 0, frameEnableA = 0, frameEnableB = 0;
};

// One object cache entry: a handle and its two keys, with its age (1 the
// most recently used).
struct CacheEntry {
    uint32_t handle = 0, key1 = 0, key2 = 0;
    uint16_t age = 0;
};
struct ObjectCache {
    std::array<CacheEntry, 64> entries{};
    uint16_t count = 0;
};

// The glyph font cache of printer language 4: a handle, the font's identity
// and the map of glyphs already defined (bit 15 - (g mod 16) of word g / 16).
struct GlyphFont {
    uint32_t handle = 0, identity = 0;
    uint16_t age = 0;
    std::array<uint16_t, 4096> defined{};
    std::unordered_set<uint16_t> outlined;  // glyphs that go as their outlines
};
struct FontCache {
    std::vector<GlyphFont> fonts;  // at most 64
};

// Drawing state of the page as the stream last set it.
enum StateIndex { kBkMode, kRop2, kFillMode, kStretchMode, kBkColour, kTextColour, kMiterLimit, kStateCount };

struct StreamState {
    StreamFields f;
    uint8_t compress = 1;  // printer data "Compress"
    std::vector<uint8_t> buffer;  // bytes waiting for the spooler
    uint32_t offset = 0;          // stream bytes since StartDoc
    std::vector<zq::vemf::IndexEntry> index;  // one entry per page; position 0 = not yet set
    bool indexStarted = false;
    uint32_t pageFlags = 0;       // drawing flags of the page
    uint32_t pageImageArea = 0, pageRecordCount = 0, pageRecordBytes = 0;
    uint32_t nextObjectHandle = 0;
    uint32_t nextBrushIdentity = 1;  // realised pattern brushes, apart from the object handles
    std::array<uint32_t, kStateCount> dcState{};
    uint32_t currentBrush = 0, currentPen = 0;
    int32_t geometricPenHandle = -1;
    std::vector<uint32_t> geometricPenState;  // the styled pen in force: style, width, colour, dashes
    std::array<ObjectCache, 3> caches;
    FontCache fontCache;
    // The character of each glyph handle of a printer face, by face, for
    // printer-face text written as characters.
    std::map<uint32_t, std::unordered_map<uint32_t, char16_t>> faceCharacters;
    bool clipSet = false;
    int32_t clipRect[4] = {0, 0, 0, 0};
    std::vector<uint8_t> clipPath;  // the records of the complex clip in force
    std::vector<uint8_t> privateBlock;  // control records of escape 5015
    bool blockPending = false;          // escape 5016 on an open page: the block opens the next page
    // Escapes.
    uint32_t drawRequestOpen = 0;
    uint8_t escapeFlags = 0;
    std::vector<char> faceNames;  // 64-byte names of escape 5011
    uint32_t faceCount = 0;
    uint32_t netConvertRecord = 0;  // a token, never an address
    std::vector<uint8_t> insertBitmap, insertBlock;
    bool flushDone = false;  // the PCL page-end flush ran early (escape 5002)
};

// Gives a mode-4 record its stream state, the fields from its DEVMODE and
// "Compress" (`compress`, 1 when the printer data cannot be read).
bool StreamEnable(DeviceRecord& r, uint8_t compress);

inline bool LanguageIsStream(const DeviceRecord& r) { return r.language == Language::SpoolStream; }

// Appends to the stream (dropped with no document or after a failed write)
// and advances the stream offset.
void StreamAppend(DeviceRecord& r, const void* bytes, size_t size);
// Appends one record of the open page, counted in the page's summary.
void StreamRecord(DeviceRecord& r, const void* bytes, size_t size);
// Hands the waiting bytes to the sink in pieces; false when a write failed.
bool StreamFlush(DeviceRecord& r);

// The document and page hooks of mode 4 (the name is the wide document
// name, null when none was given).
BOOL StreamStartDoc(DeviceRecord& r, const char16_t* name);
BOOL StreamStartPage(DeviceRecord& r);
BOOL StreamSendPage(DeviceRecord& r);
BOOL StreamEndDoc(DeviceRecord& r);

// The page end of SendPage (index entry, trailer) without the object
// clean-up, for the escapes that close a page.
void StreamPageEnd(DeviceRecord& r);
// Counts a page and writes its page record (used by StartPage and the
// escapes that insert pages). False when the index is full.
bool StreamOpenPage(DeviceRecord& r);
// Appends record 117 with the private block.
void StreamPrivateBlock(DeviceRecord& r);

// Deletes the styled pen in force, if any, and forgets it.
void StreamForgetStyledPen(DeviceRecord& r);

// Raises the page's drawing flags for a colour 0x00BBGGRR.
void StreamColourFlags(StreamState& s, uint32_t colour);

// The new record takes the stream over from the old one at a reset.
void StreamReset(DeviceRecord& from, DeviceRecord& to);

// Document-name text of tag 41: after the last backslash, in the ANSI code
// page within 27 bytes, then cleaned as PJL strings are.
std::string StreamDocumentName(std::u16string_view name, uint32_t ansiCodePage);

}  // namespace pclrend
