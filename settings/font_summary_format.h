// The stored layouts of the device-font summary: the font descriptions it is
// read from, the summary block, its font entries and the cache file that
// keeps summaries per printer. Little-endian, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/devmode.h"

namespace zq {

#pragma pack(push, 1)

// Metrics record of a font description (the first form stores it at 68).
struct FontMetricsRecord {
    uint16_t type;             // 0
    uint16_t pointSize;        // 2
    uint16_t vertRes;          // 4
    uint16_t horzRes;          // 6
    uint16_t ascent;           // 8
    uint16_t internalLeading;  // 10
    uint16_t externalLeading;  // 12
    uint8_t italic;            // 14
    uint8_t underline;         // 15
    uint8_t strikeOut;         // 16
    uint8_t pad17;
    uint16_t weight;           // 18
    uint8_t charSet;           // 20
    uint8_t pad21;
    uint16_t pixWidth;         // 22
    uint16_t pixHeight;        // 24
    uint8_t pitchAndFamily;    // 26: bit 0 variable pitch
    uint8_t pad27;
    uint16_t avgWidth;         // 28
    uint16_t maxWidth;         // 30
    uint16_t word32;           // 32: first form: characters; second: first character
    uint16_t word34;           // 34: first form: first character; second: default character
    uint16_t widthBytes;       // 36
    uint16_t pad38;
    uint32_t deviceOffset;     // 40
    uint32_t faceOffset;       // 44
    uint32_t bitsPointer;      // 48
    uint32_t bitsOffset;       // 52
    uint8_t unused56[4];       // 56
};
static_assert(sizeof(FontMetricsRecord) == 60);
static_assert(offsetof(FontMetricsRecord, weight) == 18 && offsetof(FontMetricsRecord, charSet) == 20);
static_assert(offsetof(FontMetricsRecord, pitchAndFamily) == 26 && offsetof(FontMetricsRecord, avgWidth) == 28);
static_assert(offsetof(FontMetricsRecord, faceOffset) == 44 && offsetof(FontMetricsRecord, bitsOffset) == 52);

// Extended text metrics: 26 int16.
struct ExtendedFontMetrics {
    int16_t size;                // 0
    int16_t pointSize;           // 1
    int16_t orientation;         // 2: 0 any, 1 portrait, 2 landscape
    int16_t masterHeight;        // 3
    int16_t minScale;            // 4
    int16_t maxScale;            // 5
    int16_t masterUnits;         // 6
    int16_t capHeight;           // 7
    int16_t xHeight;             // 8
    int16_t lowerCaseAscent;     // 9
    int16_t lowerCaseDescent;    // 10
    int16_t slant;               // 11
    int16_t superScript;         // 12
    int16_t subScript;           // 13
    int16_t superScriptSize;     // 14
    int16_t subScriptSize;       // 15
    int16_t underlineOffset;     // 16
    int16_t underlineWidth;      // 17
    int16_t doubleUpperUnderlineOffset;  // 18
    int16_t doubleLowerUnderlineOffset;  // 19
    int16_t doubleUpperUnderlineWidth;   // 20
    int16_t doubleLowerUnderlineWidth;   // 21
    int16_t strikeOutOffset;     // 22
    int16_t strikeOutWidth;      // 23
    int16_t kernPairs;           // 24
    int16_t kernTracks;          // 25
};
static_assert(sizeof(ExtendedFontMetrics) == 52);

// First form: the header before the metrics record.
constexpr size_t kFirstFormMetricsAt = 68;
constexpr size_t kFirstFormWidthsAt = 128;
constexpr size_t kFirstFormFixedExtensionAt = 126;
constexpr uint16_t kSecondFormFormat = 256;
constexpr uint16_t kResidentFormat = 512;

// First form: the extension of 11 uint32 behind the metrics (or widths).
struct FirstFormExtension {
    uint32_t size;             // 44
    uint32_t extMetrics;
    uint32_t extentTable;
    uint32_t originTable;
    uint32_t pairKernTable;
    uint32_t trackKernTable;
    uint32_t driverInfo;
    uint32_t reserved;
    uint32_t panose;           // 10 bytes
    uint32_t symbolSets;       // 24 bytes; the two masks at 16-23
    uint32_t charMap;
};
static_assert(sizeof(FirstFormExtension) == 44);

// Second form (a printer font metrics file): the packed header.
struct SecondFormHeader {
    uint16_t version;          // 0: 256
    uint32_t size;             // 2
    char copyright[60];        // 6
    uint16_t type;             // 66
    uint16_t points;           // 68
    uint16_t vertRes;          // 70
    uint16_t horizRes;         // 72
    uint16_t ascent;           // 74
    uint16_t internalLeading;  // 76
    uint16_t externalLeading;  // 78
    uint8_t italic;            // 80
    uint8_t underline;         // 81
    uint8_t strikeOut;         // 82
    uint16_t weight;           // 83
    uint8_t charSet;           // 85
    uint16_t pixWidth;         // 86
    uint16_t pixHeight;        // 88
    uint8_t pitchAndFamily;    // 90
    uint16_t avgWidth;         // 91
    uint16_t maxWidth;         // 93
    uint8_t firstChar;         // 95
    uint8_t lastChar;          // 96
    uint8_t defaultChar;       // 97
    uint8_t breakChar;         // 98
    uint16_t widthBytes;       // 99
    uint32_t device;           // 101
    uint32_t face;             // 105
    uint32_t bitsPointer;      // 109
    uint32_t bitsOffset;       // 113
};
static_assert(sizeof(SecondFormHeader) == 117);
static_assert(offsetof(SecondFormHeader, type) == 66 && offsetof(SecondFormHeader, weight) == 83);
static_assert(offsetof(SecondFormHeader, firstChar) == 95 && offsetof(SecondFormHeader, face) == 105);

// Second form: the extension behind the header (or its widths).
struct SecondFormExtension {
    uint16_t size;
    uint32_t extMetrics;       // 2
    uint32_t extentTable;      // 6
    uint32_t originTable;      // 10
    uint32_t pairKernTable;    // 14
    uint32_t trackKernTable;   // 18
    uint32_t driverInfo;       // 22
    uint32_t reserved;         // 26
};
static_assert(sizeof(SecondFormExtension) == 30);

// Cartridge file block.
constexpr uint16_t kCartridgeMagic = 3244;
struct CartridgeHeader {
    uint16_t magic;            // 0: 3244
    uint16_t reserved2;
    uint32_t byteCount;        // 4
    uint32_t reserved8;
    uint32_t firstOffset;      // 12
};
static_assert(sizeof(CartridgeHeader) == 16);

// One device font of the summary.
struct FontSummaryEntry {
    uint16_t resourceId;       // 0: type 258 id, 0xFFFF for other sources
    uint16_t listId;           // 2: soft-font or cartridge record id, else 0xFFFF
    uint32_t strings[7];       // 4-31: face, second text, selection, two directories, two file names (pool 1)
    uint32_t panose;           // 32 (pool 2)
    uint32_t symbolSets;       // 36 (pool 2)
    uint32_t widths;           // 40 (pool 2)
    uint32_t kerning;          // 44 (pool 3)
    uint32_t charMap;          // 48 (pool 2)
    uint32_t baseOffset;       // 52: 0
    uint32_t scalable;         // 56
    uint16_t masterUnits;      // 60
    uint16_t designResolution; // 62
    uint16_t useAge;           // 64: 0xFFFF
    uint16_t pad66;
    uint32_t memory;           // 68
    uint16_t kind;             // 72
    uint16_t pad74;
    uint32_t runtimeBlock;     // 76: 0 stored; a token at run time
    uint8_t used;              // 80
    uint8_t pad81;
    uint16_t mark82;           // 82: 0xFFFF
    uint16_t mark84;           // 84: 0xFFFF
    uint16_t metrics[7];       // 86: type, points, vert and horz resolution, ascent, leadings (scaled)
    uint8_t italic;            // 100
    uint8_t underline;         // 101
    uint8_t strikeOut;         // 102
    uint8_t pad103;
    uint16_t weight;           // 104
    uint8_t charSet;           // 106
    uint8_t pad107;
    uint16_t pixWidth;         // 108
    uint16_t pixHeight;        // 110
    uint8_t pitchAndFamily;    // 112
    uint8_t pad113;
    uint16_t avgWidth;         // 114
    uint16_t maxWidth;         // 116
    uint16_t word32;           // 118
    uint16_t word34;           // 120
    int16_t vertical[2];       // 122
    uint16_t symbolSet;        // 126
    uint16_t pad128;
    ExtendedFontMetrics extMetrics;  // 130
    uint16_t pad182;
    uint32_t runtimeBlock2;    // 184
    uint16_t tail[2];          // 188
};
static_assert(sizeof(FontSummaryEntry) == 192);
static_assert(offsetof(FontSummaryEntry, panose) == 32 && offsetof(FontSummaryEntry, charMap) == 48);
static_assert(offsetof(FontSummaryEntry, scalable) == 56 && offsetof(FontSummaryEntry, useAge) == 64);
static_assert(offsetof(FontSummaryEntry, memory) == 68 && offsetof(FontSummaryEntry, kind) == 72);
static_assert(offsetof(FontSummaryEntry, runtimeBlock) == 76 && offsetof(FontSummaryEntry, mark82) == 82);
static_assert(offsetof(FontSummaryEntry, metrics) == 86 && offsetof(FontSummaryEntry, italic) == 100);
static_assert(offsetof(FontSummaryEntry, weight) == 104 && offsetof(FontSummaryEntry, charSet) == 106);
static_assert(offsetof(FontSummaryEntry, pixWidth) == 108 && offsetof(FontSummaryEntry, pitchAndFamily) == 112);
static_assert(offsetof(FontSummaryEntry, avgWidth) == 114 && offsetof(FontSummaryEntry, vertical) == 122);
static_assert(offsetof(FontSummaryEntry, symbolSet) == 126 && offsetof(FontSummaryEntry, extMetrics) == 130);
static_assert(offsetof(FontSummaryEntry, runtimeBlock2) == 184);

constexpr uint32_t kEmptySlot = 0xFFFF;

// The summary block: this header, the entries, then pools 1, 2 and 3.
struct FontSummaryHeader {
    uint16_t one;              // 0: 1
    uint16_t zero2;
    uint16_t count;            // 4
    uint16_t zero6;
    uint32_t pool1Size;        // 8
    uint32_t pool2Size;        // 12
    uint16_t mark16;           // 16: 0xFFFF
    uint16_t zero18;
    uint32_t one20;            // 20: 1
    uint8_t devmode[kPrivateDevmodeSize];  // 24
};
static_assert(sizeof(FontSummaryHeader) == 1280);
static_assert(offsetof(FontSummaryHeader, pool1Size) == 8 && offsetof(FontSummaryHeader, devmode) == 24);

// The cache file.
inline constexpr char kCacheVersionTag[] = "Version 1.0.0.23 ";  // 17 characters
constexpr size_t kCacheTagLength = 17;
constexpr uint32_t kCacheFileLimit = 102400;
struct CacheFileHeader {
    char tag[18];              // 0: 17 characters and a NUL
    uint16_t keySize;          // 18: 1256
    uint16_t count;            // 20
    uint16_t reserved;         // 22
    uint32_t firstEntry;       // 24
};
static_assert(sizeof(CacheFileHeader) == 28);
static_assert(offsetof(CacheFileHeader, keySize) == 18 && offsetof(CacheFileHeader, firstEntry) == 24);
struct CacheEntryHead {
    uint8_t key[kPrivateDevmodeSize];  // 0
    uint32_t length;                   // 1256
};
static_assert(sizeof(CacheEntryHead) == 1260);

#pragma pack(pop)

}  // namespace zq
