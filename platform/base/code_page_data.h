// The code pages the conversion calls support, as data: written at build
// time by tools/codepages from the system's converters (glibc iconv), so that
// no process probes a converter character by character on first use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq {

struct CodePageData {
    uint32_t codePage;
    // The character of each byte on its own; 0 at lead bytes. A byte the code
    // page leaves undefined still has a character, so that any byte string
    // survives a round trip.
    const char16_t* single;
    // The lead bytes of a double-byte code page, ascending, and one row of
    // 256 characters for each (indexed by the trail byte; 0 where the pair
    // is invalid).
    const uint8_t* leads;
    uint32_t leadCount;
    const char16_t* rows;
    // Encoding is decoding inverted (the first byte, then the first pair,
    // that decodes to a character) except for these characters, ascending:
    // the converter's own preferred bytes (a byte, or lead << 8 | trail),
    // including characters that only encode one way.
    const char16_t* encodeChars;
    const uint16_t* encodeCodes;
    uint32_t encodeCount;
};

// No byte code has this value.
constexpr uint16_t kUnmappedCode = 0xFFFF;

// Fills `reverse` (0x10000 entries, indexed by character) with the code each
// character encodes to, kUnmappedCode where it has none.
inline void BuildEncoding(const CodePageData& page, uint16_t* reverse) {
    for (uint32_t c = 0; c < 0x10000; ++c) reverse[c] = kUnmappedCode;
    uint8_t isLead[256] = {};
    for (uint32_t i = 0; i < page.leadCount; ++i) isLead[page.leads[i]] = 1;
    for (int b = 1; b < 256; ++b)
        if (!isLead[b] && reverse[page.single[b]] == kUnmappedCode) reverse[page.single[b]] = static_cast<uint16_t>(b);
    for (uint32_t i = 0; i < page.leadCount; ++i)
        for (int trail = 0; trail < 256; ++trail)
            if (const char16_t c = page.rows[i * 256 + trail]; c != 0 && reverse[c] == kUnmappedCode)
                reverse[c] = static_cast<uint16_t>((page.leads[i] << 8) | trail);
    reverse[0] = 0;
    for (uint32_t i = 0; i < page.encodeCount; ++i) reverse[page.encodeChars[i]] = page.encodeCodes[i];
}

extern const CodePageData kCodePageData[];
extern const size_t kCodePageDataCount;

}  // namespace zq
