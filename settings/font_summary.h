// The device-font summary: every device font the printer offers under a
// job's settings (resident fonts of the model, "AdditionalFonts", installed
// soft fonts and cartridges, and on double-byte systems `fontdb.dfm`), as
// one block of 192-byte entries and three pools. The interface driver and
// the renderer build it with this one builder, so both get the same bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/types.h"
#include "common/res_ids.h"
#include "settings/devmode.h"
#include "settings/font_summary_format.h"
#include "settings/model_data.h"

namespace zq {

constexpr int kMaxSummaryFonts = 451;
constexpr size_t kMaxFontStrings = 1000;
constexpr size_t kPool1Limit = 20480;
constexpr size_t kPool2Limit = 262144;
constexpr size_t kPool3Limit = 262144;
// The largest block a build can make: every font, every pool full.
constexpr size_t kMaxSummarySize =
    sizeof(FontSummaryHeader) + kMaxSummaryFonts * sizeof(FontSummaryEntry) + kPool1Limit + kPool2Limit + kPool3Limit + 2048;
constexpr uint16_t kResidentFontListType = res::kFontList;
constexpr uint16_t kFontDescriptionType = res::kFontDescription;

// Where a build reads from.
struct FontSummarySources {
    const ModelData* model = nullptr;   // resident fonts (types 265 and 258)
    HANDLE printer = nullptr;           // printer data and the list files
    uint32_t codePage = 0;              // the ANSI code page
    // Reads a font file named in printer data (a Windows path) whole.
    std::function<std::optional<std::vector<uint8_t>>(const std::string&)> readFile;
    // `fontdb.dfm` beside the driver, when there is one.
    std::function<std::optional<std::vector<uint8_t>>()> readFontDb;
    // The soft-font or cartridge list file; unset: the printer's files.
    std::function<std::optional<std::vector<uint8_t>>(bool cartridges)> readListFile;
};

// The job's resolution the metrics are scaled to.
uint16_t SummaryResolution(const PrivateDevmode& devmode);

// The summary block, nothing when it could not be built.
std::optional<std::vector<uint8_t>> BuildFontSummary(const PrivateDevmode& devmode, const FontSummarySources& sources);

// Checks a summary block before use: header marks, entry count and pool
// sizes inside the block, every entry's face name inside pool 1.
bool IsValidFontSummary(std::span<const uint8_t> block);

// The entries and face names of a valid summary, for readers.
std::span<const FontSummaryEntry> SummaryEntries(std::span<const uint8_t> block);
std::string SummaryString(std::span<const uint8_t> block, uint32_t offset);

// The sources as the two libraries have them: model data, printer data,
// files through the Win32 calls, `fontdb.dfm` in `driverDirectory`.
FontSummarySources StandardFontSources(const ModelData& model, HANDLE printer, std::string driverDirectory);

}  // namespace zq
