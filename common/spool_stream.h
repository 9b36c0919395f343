// The spool stream of host finishing ("VEMF"): the renderer writes it in
// output mode 4, the finishing library reads, reorders and renders it. A
// magic, then little-endian records {uint32 type, uint32 size including the
// 8-byte head, body}; most drawing records are standard enhanced-metafile
// records, the rest are the private ones named here.
//
// Byte-exact: the stream leaves the process through the spooler.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq::vemf {

inline constexpr char kMagic[4] = {'V', 'E', 'M', 'F'};

// Private record types.
inline constexpr uint32_t kIndex = 14;
inline constexpr uint32_t kDocumentHeader = 112;
inline constexpr uint32_t kJobTags = 116;
inline constexpr uint32_t kPrivateBlock = 117;
inline constexpr uint32_t kPageRecord = 106;
inline constexpr uint32_t kPageTrailer = 115;
inline constexpr uint32_t kPassthrough = 107;
inline constexpr uint32_t kPatternBlit = 108;
inline constexpr uint32_t kGlyphDefinition = 111;

// Standard metafile record types the stream uses.
inline constexpr uint32_t kPolyBezierTo = 5;
inline constexpr uint32_t kPolylineTo = 6;
inline constexpr uint32_t kSetBrushOrg = 13;
inline constexpr uint32_t kSetBkMode = 18;
inline constexpr uint32_t kSetPolyFillMode = 19;
inline constexpr uint32_t kSetRop2 = 20;
inline constexpr uint32_t kSetStretchBltMode = 21;
inline constexpr uint32_t kSetTextAlign = 22;
inline constexpr uint32_t kSetColorAdjustment = 23;
inline constexpr uint32_t kSetTextColor = 24;
inline constexpr uint32_t kSetBkColor = 25;
inline constexpr uint32_t kMoveTo = 27;
inline constexpr uint32_t kSelectObject = 37;
inline constexpr uint32_t kCreatePen = 38;
inline constexpr uint32_t kCreateBrush = 39;
inline constexpr uint32_t kDeleteObject = 40;
inline constexpr uint32_t kSetMiterLimit = 58;
inline constexpr uint32_t kBeginPath = 59;
inline constexpr uint32_t kEndPath = 60;
inline constexpr uint32_t kCloseFigure = 61;
inline constexpr uint32_t kFillPath = 62;
inline constexpr uint32_t kStrokeAndFillPath = 63;
inline constexpr uint32_t kStrokePath = 64;
inline constexpr uint32_t kSelectClipPath = 67;
inline constexpr uint32_t kExtSelectClipRgn = 75;
inline constexpr uint32_t kBitBlt = 76;
inline constexpr uint32_t kStretchDIBits = 81;
inline constexpr uint32_t kExtCreateFont = 82;
inline constexpr uint32_t kExtTextOutW = 84;
inline constexpr uint32_t kCreateDibPatternBrush = 94;
inline constexpr uint32_t kExtCreatePen = 95;

// Tags of the tag lists (records 112, 116, 106, 115).
inline constexpr uint32_t kTagEnd = 0;
inline constexpr uint32_t kTagOrientation = 1;
inline constexpr uint32_t kTagPaperSize = 2;
inline constexpr uint32_t kTagPrintable = 3;
inline constexpr uint32_t kTagPaperExtent = 4;
inline constexpr uint32_t kTagCopies = 5;
inline constexpr uint32_t kTagMedia = 6;
inline constexpr uint32_t kTagResolution = 7;
inline constexpr uint32_t kTagColour = 8;
inline constexpr uint32_t kTagDuplex = 9;
inline constexpr uint32_t kTagCollate = 10;
inline constexpr uint32_t kTagTray = 11;
inline constexpr uint32_t kTagNupFrame = 12;
inline constexpr uint32_t kTagSummaryLayout = 14;
inline constexpr uint32_t kTagReverse = 15;
inline constexpr uint32_t kTagSeparate = 16;
inline constexpr uint32_t kTagNup = 17;
inline constexpr uint32_t kTagPoster = 18;
inline constexpr uint32_t kTagBooklet = 19;
inline constexpr uint32_t kTagPosterTiles = 26;
inline constexpr uint32_t kTagLayoutClass = 27;
inline constexpr uint32_t kTagDocumentName = 41;
inline constexpr uint32_t kTagUserStrings = 40;
inline constexpr uint32_t kTagManualDuplex = 49;

// The eight per-page summary tags, in the order of the index entry's fields
// 1 to 8 and of the page trailer.
inline constexpr uint32_t kSummaryTags[8] = {28, 32, 33, 34, 35, 42, 43, 44};

#pragma pack(push, 1)

struct RecordHead {
    uint32_t type;
    uint32_t size;  // bytes of the whole record, these 8 included
};
static_assert(sizeof(RecordHead) == 8);

struct TagHead {
    uint32_t tag;
    uint32_t size;  // bytes of the whole tag, these 8 included
};
static_assert(sizeof(TagHead) == 8);

struct TagValue {  // a tag with one uint32: size 12
    uint32_t tag;
    uint32_t size;
    uint32_t value;
};
static_assert(sizeof(TagValue) == 12);

struct TagRect {  // a rectangle: size 24
    uint32_t tag;
    uint32_t size;
    int32_t left, top, right, bottom;
};
static_assert(sizeof(TagRect) == 24);

// Record 112, followed by its tag list.
struct DocumentHeader {
    uint32_t type;          // 112
    uint32_t size;          // 64 + tagBytes
    uint32_t version;       // 2
    uint32_t notStreamOnly; // 1 unless the printer language is the stream itself (4)
    uint32_t reserved[2];
    char userText[32];      // the DEVMODE's 32 bytes at 308, unchanged
    uint32_t tagBytes;
    uint32_t tagOffset;     // 64
};
static_assert(sizeof(DocumentHeader) == 64);
static_assert(offsetof(DocumentHeader, notStreamOnly) == 12);
static_assert(offsetof(DocumentHeader, userText) == 24);
static_assert(offsetof(DocumentHeader, tagBytes) == 56);
static_assert(offsetof(DocumentHeader, tagOffset) == 60);

// Record 116 and the page trailer's head: four uint32 and the tags.
struct TaggedHead16 {
    uint32_t type;
    uint32_t size;
    uint32_t tagBytes;
    uint32_t tagOffset;  // 16
};
static_assert(sizeof(TaggedHead16) == 16);

// Record 106, followed by its tag list and the nine state records.
struct PageRecordHead {
    uint32_t type;        // 106
    uint32_t size;        // 20 + tagBytes
    uint32_t pageNumber;  // from 1
    uint32_t tagBytes;
    uint32_t tagOffset;   // 20
};
static_assert(sizeof(PageRecordHead) == 20);
static_assert(offsetof(PageRecordHead, pageNumber) == 8);
static_assert(offsetof(PageRecordHead, tagOffset) == 16);

inline constexpr uint32_t kPageRecordSizeStream = 296;  // printer language 4
inline constexpr uint32_t kPageRecordSizeOther = 152;   // the usual case of other languages

// Record 115: the page's eight summary values as tags.
struct PageTrailer {
    TaggedHead16 head;      // 115, 128, 108, 16
    TagValue summary[8];    // kSummaryTags
    TagValue end;           // tag 0
    uint32_t sizeAgain;     // 128
};
static_assert(sizeof(PageTrailer) == 128);
static_assert(offsetof(PageTrailer, summary) == 16);
static_assert(offsetof(PageTrailer, end) == 112);
static_assert(offsetof(PageTrailer, sizeAgain) == 124);

// One page of the index: its stream position and the eight summary values.
struct IndexEntry {
    uint32_t position;
    uint32_t summary[8];
};
static_assert(sizeof(IndexEntry) == 36);

// Record 14, last in the stream: the head, one entry per page, the size.
struct IndexHead {
    uint32_t type;         // 14
    uint32_t size;         // 36 x pages + 16
    uint16_t pageCount;
    uint16_t entrySize;    // 36
};
static_assert(sizeof(IndexHead) == 12);
static_assert(offsetof(IndexHead, pageCount) == 8);

inline constexpr uint32_t IndexSize(uint32_t pages) { return 36 * pages + 16; }

// A state record with one value (SETBKMODE, SETROP2, ..., SELECTOBJECT,
// DELETEOBJECT, SELECTCLIPPATH).
struct ValueRecord {
    uint32_t type;
    uint32_t size;  // 12
    uint32_t value;
};
static_assert(sizeof(ValueRecord) == 12);

// EXTSELECTCLIPRGN without region data: clip reset to the page.
struct ClipReset {
    uint32_t type;     // 75
    uint32_t size;     // 20
    uint32_t rgnSize;  // 0
    uint32_t mode;     // 5 (copy)
    uint32_t zero;
};
static_assert(sizeof(ClipReset) == 20);

struct PointRecord {  // MOVETOEX, SETBRUSHORGEX
    uint32_t type;
    uint32_t size;  // 16
    int32_t x, y;
};
static_assert(sizeof(PointRecord) == 16);

struct BoundsRecord {  // FILLPATH, STROKEPATH, STROKEANDFILLPATH
    uint32_t type;
    uint32_t size;  // 24
    int32_t bounds[4];
};
static_assert(sizeof(BoundsRecord) == 24);

// POLYLINETO and POLYBEZIERTO: followed by n points of two sint32.
struct PolyHead {
    uint32_t type;
    uint32_t size;  // 28 + 8n
    int32_t bounds[4];
    uint32_t count;
};
static_assert(sizeof(PolyHead) == 28);

struct CreatePen {
    uint32_t type;  // 38
    uint32_t size;  // 28
    uint32_t handle;
    uint32_t style;
    int32_t widthX;
    int32_t widthY;
    uint32_t colour;
};
static_assert(sizeof(CreatePen) == 28);

struct CreateBrush {
    uint32_t type;  // 39
    uint32_t size;  // 24
    uint32_t handle;
    uint32_t style;  // 0 solid, 2 hatched
    uint32_t colour;
    uint32_t hatch;
};
static_assert(sizeof(CreateBrush) == 24);

// Record 107: escape 19's data, followed by the n bytes.
struct Passthrough {
    uint32_t type;  // 107
    uint32_t size;  // 20 + n
    uint32_t escape;  // 19
    uint32_t inputSize;
    uint32_t outputSize;
};
static_assert(sizeof(Passthrough) == 20);

// Record 108: a blit that uses the pattern or the destination only.
struct PatternBlit {
    uint32_t type;  // 108
    uint32_t size;  // 44
    int32_t bounds[4];
    int32_t x, y, width, height;
    uint32_t rop;  // one byte of ROP3
};
static_assert(sizeof(PatternBlit) == 44);

// Record 81 (STRETCHDIBITS) head, followed by the 40-byte bitmap header, the
// colour table and the bits.
struct StretchDib {
    uint32_t type;  // 81
    uint32_t size;
    int32_t bounds[4];
    int32_t xDest, yDest, xSrc, ySrc, widthSrc, heightSrc;
    uint32_t headerOffset;  // 84
    uint32_t headerBytes;   // header + colour table
    uint32_t bitsOffset;
    uint32_t bitsBytes;
    uint32_t usage;
    uint32_t zero;
    uint32_t rop;
    int32_t widthDest, heightDest;
};
static_assert(sizeof(StretchDib) == 84);
static_assert(offsetof(StretchDib, headerOffset) == 48);
static_assert(offsetof(StretchDib, rop) == 72);
static_assert(offsetof(StretchDib, widthDest) == 76);

// Record 76 (BITBLT) head, followed by the 40-byte bitmap header, the colour
// table and the bits. The raster operation is the ROP3 byte alone.
struct BitBlt {
    uint32_t type;  // 76
    uint32_t size;
    int32_t bounds[4];
    int32_t xDest, yDest, widthDest, heightDest;
    uint32_t rop;
    int32_t xSrc, ySrc;      // 0
    float xform[6];          // 0
    uint32_t bkColour;       // 0
    uint32_t usage;          // 0
    uint32_t headerOffset;   // 104
    uint32_t headerBytes;    // header + colour table
    uint32_t bitsOffset;
    uint32_t bitsBytes;
    uint32_t zero;
};
static_assert(sizeof(BitBlt) == 104);
static_assert(offsetof(BitBlt, rop) == 40);
static_assert(offsetof(BitBlt, headerOffset) == 84);
static_assert(offsetof(BitBlt, bitsBytes) == 96);

// The 40-byte bitmap information header of records 76, 81 and 94.
struct BitmapHeader {
    uint32_t headerSize;  // 40
    int32_t width;
    int32_t height;       // negative: top row first
    uint16_t planes;      // 1
    uint16_t bitCount;    // 1, 4, 8 or 24
    uint32_t compression; // 0
    uint32_t imageBytes;
    int32_t xPerMetre, yPerMetre;
    uint32_t coloursUsed;  // 2, 16, 256, or 0 for 24 bits
    uint32_t coloursImportant;
};
static_assert(sizeof(BitmapHeader) == 40);
static_assert(offsetof(BitmapHeader, bitCount) == 14);
static_assert(offsetof(BitmapHeader, coloursUsed) == 32);

// Record 94 (CREATEDIBPATTERNBRUSHPT) head, followed by the bitmap header,
// the colour table (four zero bytes for 24 bits) and the bits.
struct DibPatternBrush {
    uint32_t type;  // 94
    uint32_t size;
    uint32_t handle;
    uint32_t usage;         // 0
    uint32_t headerOffset;  // 32
    uint32_t headerBytes;   // header + colour table
    uint32_t bitsOffset;    // 72 + 4 x colours
    uint32_t bitsBytes;
};
static_assert(sizeof(DibPatternBrush) == 32);

// Record 95 (EXTCREATEPEN) without a pattern, followed by its style entries.
struct ExtCreatePen {
    uint32_t type;  // 95
    uint32_t size;  // 52 + 4 x styleCount
    uint32_t handle;
    uint32_t headerOffset, headerBytes, bitsOffset, bitsBytes;  // 0: no pattern
    uint32_t style;        // PS_* type, end cap, join and dash kind
    uint32_t width;        // device pixels
    uint32_t brushStyle;   // 0 solid
    uint32_t colour;
    uint32_t hatch;        // 0
    uint32_t styleCount;
};
static_assert(sizeof(ExtCreatePen) == 52);
static_assert(offsetof(ExtCreatePen, style) == 28);
static_assert(offsetof(ExtCreatePen, styleCount) == 48);

// Pen style words of record 95.
inline constexpr uint32_t kPenGeometric = 0x00010000;
inline constexpr uint32_t kPenAlternate = 8;
inline constexpr uint32_t kPenUserStyle = 7;
inline constexpr uint32_t kPenCapSquare = 0x100, kPenCapFlat = 0x200;
inline constexpr uint32_t kPenJoinBevel = 0x1000, kPenJoinMiter = 0x2000;

// Record 82 (EXTCREATEFONTINDIRECTW): the handle and a 320-byte logical
// font (the 92-byte LOGFONTW, then the full name of 64 and the style of 32
// UTF-16 units, the rest zero); a glyph font of printer language 4 leaves
// the font all zero.
struct ExtCreateFont {
    uint32_t type;  // 82
    uint32_t size;  // 332
    uint32_t handle;
    uint8_t font[320];
};
static_assert(sizeof(ExtCreateFont) == 332);
inline constexpr size_t kFontFullNameOffset = 92, kFontFullNameChars = 64;
inline constexpr size_t kFontStyleOffset = 220, kFontStyleChars = 32;
// The logical font's output precision: device precision (5) names one of
// the printer's own faces, which a player finds among the printer's faces,
// not the installed ones.
inline constexpr size_t kFontOutPrecisionOffset = 24;
inline constexpr uint8_t kFontOutDevice = 5;
static_assert(kFontFullNameOffset == 92 && kFontStyleOffset == kFontFullNameOffset + 2 * kFontFullNameChars &&
              kFontStyleOffset + 2 * kFontStyleChars <= sizeof(ExtCreateFont::font));

// Record 84 (EXTTEXTOUTW) head, followed by n 16-bit glyph handles and n
// x/y advance pairs.
struct ExtTextOut {
    uint32_t type;  // 84
    uint32_t size;  // 76 + 10n
    int32_t bounds[4];
    uint32_t graphicsMode;  // 0
    float xScale, yScale;   // 0
    int32_t xReference, yReference;
    uint32_t count;
    uint32_t stringOffset;  // 76
    uint32_t options;       // glyph index and x/y advances, and opaque when a rectangle is given
    int32_t rect[4];
    uint32_t advancesOffset;  // 76 + 2n
};
static_assert(sizeof(ExtTextOut) == 76);
static_assert(offsetof(ExtTextOut, xReference) == 36);
static_assert(offsetof(ExtTextOut, options) == 52);
static_assert(offsetof(ExtTextOut, advancesOffset) == 72);

inline constexpr uint32_t kTextOpaque = 0x2, kTextGlyphIndex = 0x10, kTextAdvancesXY = 0x2000;

// Record 111: one glyph of a glyph font, followed by its rows (one bit a
// pixel, (width + 7) / 8 bytes a row, top row first).
struct GlyphDefinition {
    uint32_t type;  // 111
    uint32_t size;  // 40 + bitsBytes
    uint32_t font;
    uint32_t glyph;  // 0-65535
    int32_t xOrigin, yOrigin;  // top left of the bits from the glyph's origin on the baseline
    uint32_t width, height;
    uint32_t headerBytes;  // 40
    uint32_t bitsBytes;
};
static_assert(sizeof(GlyphDefinition) == 40);
static_assert(offsetof(GlyphDefinition, xOrigin) == 16);
static_assert(offsetof(GlyphDefinition, bitsBytes) == 36);

#pragma pack(pop)

}  // namespace zq::vemf
