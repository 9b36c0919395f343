// The font-summary cache file: per printer, the summaries built for the
// settings jobs used, most recently used first, kept below about 100 KB.
// The interface driver looks summaries up and stores them when a job's
// device context is prepared; the renderer only reads.
//
// Writers hold the lock on the driver directory and replace the file whole
// (temporary file, flushed, renamed); readers check the header, every entry
// length and every summary before use, so a damaged or torn file reads as a
// miss and the next store writes a fresh one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/types.h"
#include "settings/devmode.h"
#include "settings/font_summary.h"

namespace zq {

enum class KeyRule { Interface, Renderer };

// Whether a stored key stands for the same summary as `wanted`.
bool FontSummaryKeyMatches(const PrivateDevmode& stored, const PrivateDevmode& wanted, KeyRule rule);

// "zel" + printer name + ".PCL" in the driver's directory.
std::string GetFontSummaryFileName(HANDLE printer);

// A parsed cache file: only entries whose lengths lie inside the file.
struct CacheFileView {
    CacheFileHeader header{};
    std::span<const uint8_t> strings;
    struct Entry {
        size_t offset = 0;  // of its 1260-byte head in the file
        std::span<const uint8_t> key;
        std::span<const uint8_t> summary;
    };
    std::vector<Entry> entries;
    bool damaged = false;  // entries past the first damaged one were dropped
};
// Nothing when the header is not the driver's (tag, key size, first entry).
std::optional<CacheFileView> ParseCacheFile(std::span<const uint8_t> file);

// The texts written behind the header of a new file (strings 13 to 21 of the
// dialog library the settings select); nothing ends the list.
using CacheStringSource = std::function<std::optional<std::string>(uint16_t id)>;
CacheStringSource DialogLibraryStrings(const PrivateDevmode& devmode);

// Interface side. A hit that is not the first entry is moved to the front.
std::optional<std::vector<uint8_t>> FindCachedFontSummary(const PrivateDevmode& devmode, HANDLE printer);
// Stores a summary at the front; TRUE when the file was written.
BOOL StoreFontSummary(const PrivateDevmode& devmode, std::span<const uint8_t> summary, HANDLE printer,
                      const CacheStringSource& strings, const char* printerName = nullptr);
// Finds or builds and stores; TRUE when a summary was found or built.
BOOL RefreshFontSummary(const PrivateDevmode& devmode, HANDLE printer, const FontSummarySources& sources,
                        const CacheStringSource& strings);
BOOL DeleteFontSummaryFile(const char16_t* printerName);

// Renderer side: the file named by "FontSummaryFile" (else by the rule),
// read without writing.
std::optional<std::vector<uint8_t>> ReadCachedFontSummary(HANDLE printer, const PrivateDevmode& devmode);
// The cached summary, else one built from `sources` (not stored).
std::optional<std::vector<uint8_t>> LoadFontSummary(HANDLE printer, const PrivateDevmode& devmode,
                                                    const FontSummarySources& sources);
// Releases the run-time blocks whose tokens entries keep at 76 and 184,
// then the summary.
void FreeFontSummary(std::vector<uint8_t>& summary, const std::function<void(uint32_t token)>& release);

}  // namespace zq
